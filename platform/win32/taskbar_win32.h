// The update's progress on the window's taskbar button (ITaskbarList3, Windows 7 and later), so
// that a user who turned to another window still sees how far the flash has come. Every call
// to the system's interface goes through ShowTaskbarProgress, the one place a test build can
// watch (SetTaskbarObserver).
#pragma once

#include <windows.h>

#include <cstdint>

enum TaskbarProgress : uint8_t {
    TASKBAR_NONE,           // no progress on the button
    TASKBAR_INDETERMINATE,  // a running bar: the flash commands before the first block
    TASKBAR_NORMAL,         // the blocks' share, in percent
    TASKBAR_ERROR,          // the update failed (the bar turns red, at the share reached)
};

// Shows `state` on `window`'s taskbar button (`percent`, 0 to 100, only for TASKBAR_NORMAL).
// What the button already shows is not sent again. The first call starts COM on this thread
// and asks for the interface; on a system without it nothing is shown (the observer still
// hears every change).
void ShowTaskbarProgress(HWND window, TaskbarProgress state, uint32_t percent);

// Releases the interface, and COM when ShowTaskbarProgress started it. Called when the window
// is gone.
void EndTaskbarProgress();

// A function that hears every change sent to the button, as one line: "indeterminate",
// "normal 37", "error", "none". For a build that records them for its tests; null: none.
void SetTaskbarObserver(void (*observer)(const char* line));
