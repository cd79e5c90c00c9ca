// The Windows program's dialog: the user-interface table over USER32, the dialog procedure and
// the run of the main dialog, shared by the product and by the build on the simulated unit.
#pragma once

#include <windows.h>

#include "app/ui_platform.h"
#include "link/hid_platform.h"

extern const UiPlatform kWin32Ui;

// The dialog procedure of dialog 110.
INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// What the program's HID edge is, for the dialog: its table, how the dialog's log names it, and
// the edge's switches for its waits (null where the edge has none).
struct DialogHidEdge {
    const HidPlatform* Table;
    const char* FrontEnd;  // the log's "front-end": the program's name
    const char* Edge;      // the log's "edge" (record/record_format.h)
    const char* Scenario;  // the simulated unit's scenario; null on a real edge
    // Makes the edge's waits dispatch window messages: on while the flash commands run and while
    // a unit is looked at, so that the dialog never looks hung.
    void (*WaitsPumpMessages)(bool on);
    // Makes the edge's waits for the unit end at once: the dialog is closed while a unit is
    // looked at.
    void (*WaitsCutShort)(bool on);
};

// Everything the entry point does after it chose the HID edge: the DPI awareness, common
// controls, the instance,
// the log of the visit (kept in memory, saved only when the user asks), the link in its
// no-device state, dialog 110 run modally. `windowMark`, when not null, names a window property
// that the dialog carries while it exists, by which another process finds it. Returns 0, or 1
// when the dialog could not be created.
int RunUpdaterDialog(HINSTANCE instance, const DialogHidEdge& edge, const wchar_t* windowMark);
