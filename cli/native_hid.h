// The HID edge of the system velquor-flash runs on (used when --sim is not given), one small
// file per platform, as with cli/terminal.h.
#pragma once

#include <cstdio>

#include "link/hid_platform.h"

// The system's HID table, or null when this build has none.
const HidPlatform* NativeHidPlatform();

// After a command that found no programming unit: prints why, when the edge knows a reason the
// user can act on (a unit whose device node may not be opened). False when it knows none.
bool ExplainMissingUnit(std::FILE* out);
