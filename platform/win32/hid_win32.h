// The Windows HID edge: HID interfaces listed with SetupAPI, opened with CreateFileW and
// driven with overlapped file I/O, so that a read can give up after its time limit.
#pragma once

#include "link/hid_platform.h"

extern const HidPlatform kWin32HidPlatform;
