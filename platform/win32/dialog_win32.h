// The Windows program's dialog: the user-interface table over USER32, the dialog procedure and
// the run of the main dialog, shared by the product and by the build on the simulated unit.
#pragma once

#include <windows.h>

#include "app/ui_platform.h"

extern const UiPlatform kWin32Ui;

// The dialog procedure of dialog 110.
INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Everything the entry point does after the HID table is selected: common controls, the
// instance, the link in its no-device state, dialog 110 run modally. Returns 0.
int RunUpdaterDialog(HINSTANCE instance);
