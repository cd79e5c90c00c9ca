// A HID table that forwards every call to another one and lists each report on a stream, one
// line per report:
//
//   <ms since the trace began> > <request bytes>          a report written
//   <ms since the trace began> > <request bytes> failed   a write that failed
//   <ms since the trace began> < <reply bytes>            a report read
//   <ms since the trace began> < failed                   a read that failed or timed out
//   (a write without a report reads "<ms> > failed")
//
// Bytes are two lower-case hex digits each, separated by blanks, every byte of the report. The
// time is the forwarded table's own clock (the virtual clock under simulation), taken when the
// call returns.
#pragma once

#include <cstdio>

#include "link/hid_platform.h"

// Makes kTraceHidPlatform forward to `forwarded` and write its lines to `out`; the time count
// starts now. Select kTraceHidPlatform afterwards.
void StartTrace(const HidPlatform* forwarded, std::FILE* out);

extern const HidPlatform kTraceHidPlatform;
