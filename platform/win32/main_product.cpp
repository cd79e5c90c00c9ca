// VelquorUpdater.exe: the updater on the real Windows HID stack.
//
// One program per session: a second start brings the window of the running one to the front
// (restored if it was minimised) and ends, without looking at any unit.
#include <windows.h>

#include "platform/win32/dialog_win32.h"
#include "platform/win32/hid_win32.h"
#include "record/record_format.h"

namespace {

// Held by the running program for its whole life; the session's namespace, so that another
// user's program on the same machine is no reason to end.
constexpr wchar_t kInstanceName[] = L"Local\\VelquorUpdater";
// The property the running program's dialog carries, by which a second start finds it.
constexpr wchar_t kWindowMark[] = L"VelquorUpdater.MainDialog";
// How long a second start looks for the running program's dialog (it may still be opening it,
// or be closing): after that it ends without one.
constexpr DWORD kHandOverLimitMs = 10000;
constexpr DWORD kHandOverPollMs = 50;

BOOL CALLBACK FindMarkedDialog(HWND window, LPARAM found)
{
    if (GetPropW(window, kWindowMark) == nullptr) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The running program's window to the front: restored if minimised, and with it the box it has
// open, if any.
void BringToFront(HWND dialog)
{
    if (IsIconic(dialog)) ShowWindowAsync(dialog, SW_RESTORE);
    HWND popup = GetLastActivePopup(dialog);
    SetForegroundWindow(popup != nullptr ? popup : dialog);
}

// Another program holds `instance`. True when it ended meanwhile and this program now holds it
// (and runs); false when this program ends, after bringing the other one's window to the front
// (or after the limit, when none appeared).
bool TakeOverFromRunningProgram(HANDLE instance)
{
    for (DWORD waited = 0; waited < kHandOverLimitMs; waited += kHandOverPollMs) {
        HWND dialog = nullptr;
        EnumWindows(FindMarkedDialog, reinterpret_cast<LPARAM>(&dialog));
        if (dialog != nullptr) {
            BringToFront(dialog);
            return false;
        }
        DWORD woken = WaitForSingleObject(instance, kHandOverPollMs);
        if (woken == WAIT_OBJECT_0 || woken == WAIT_ABANDONED) return true;
    }
    return false;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // Owned by this thread from the start; the system lets it go when the process ends.
    HANDLE running = CreateMutexW(nullptr, TRUE, kInstanceName);
    if (running != nullptr && GetLastError() == ERROR_ALREADY_EXISTS && !TakeOverFromRunningProgram(running))
        return 0;
    const DialogHidEdge edge = {&kWin32HidPlatform, RECORD_FRONT_END_WINDOW, RecordEdgeName(RECORD_EDGE_WIN32), nullptr,
                                SetHidWaitsPumpMessages,
                                SetHidWaitsCutShort};
    return RunUpdaterDialog(instance, edge, kWindowMark);
}
