// VelquorUpdater.exe: the updater on the real Windows HID stack.
#include <windows.h>

#include "platform/win32/dialog_win32.h"
#include "platform/win32/hid_win32.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    SelectHidPlatform(&kWin32HidPlatform);
    return RunUpdaterDialog(instance, SetHidWaitsPumpMessages);
}
