// The Windows HID edge: HID interfaces listed with SetupAPI, opened with CreateFileW and
// driven with overlapped file I/O, so that every write and read gives up after its time limit.
#pragma once

#include "link/hid_platform.h"

extern const HidPlatform kWin32HidPlatform;

// With `on`, every wait of the edge (a transfer, a pause) dispatches the calling thread's
// window messages while it waits, so that a window of that thread keeps painting and answering
// the system; the window procedures must then expect to be called from inside a wait. Off by
// default; the last error a call leaves is the same either way.
void SetHidWaitsPumpMessages(bool on);

// With `on`, every wait for the unit (a transfer, a pause) ends at once, as if the unit had not
// answered: a transfer fails with ERROR_CANCELLED, a pause ends early. For a window that is being
// closed while the unit is looked at. Off by default.
void SetHidWaitsCutShort(bool on);
