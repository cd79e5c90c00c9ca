// The Windows program's dialog: the user-interface table over USER32, the dialog procedure and
// the run of the main dialog, shared by the product and by the build on the simulated unit.
#pragma once

#include <windows.h>

#include "app/ui_platform.h"

extern const UiPlatform kWin32Ui;

// The dialog procedure of dialog 110.
INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Everything the entry point does after the HID table is selected: the DPI awareness, common
// controls, the instance, the link in its no-device state, dialog 110 run modally. `waitsPumpMessages` is the
// HID edge's switch that makes its waits dispatch window messages (null when the edge has
// none): the dialog turns it on while the flash commands run, so that it never looks hung.
// `windowMark`, when not null, names a window property that the dialog carries while it exists,
// by which another process finds it. Returns 0, or 1 when the dialog could not be created.
int RunUpdaterDialog(HINSTANCE instance, void (*waitsPumpMessages)(bool on), const wchar_t* windowMark);
