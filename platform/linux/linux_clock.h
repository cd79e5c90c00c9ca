// CLOCK_MONOTONIC for the Linux edges: absolute deadlines, the time left until one, pauses
// that sleep until their deadline whatever signals arrive, and a millisecond clock.
#pragma once

#include <time.h>

#include <cstdint>

// Now plus `milliseconds`.
timespec MonotonicDeadline(uint32_t milliseconds);

// Whole milliseconds left until `deadline`, rounded up (so that a wait of that length never
// ends before it); 0 once it has passed.
int MonotonicMsUntil(const timespec& deadline);

// Sleeps until now plus `milliseconds` (clock_nanosleep on an absolute deadline, resumed after
// every interruption). Leaves errno as it was.
void MonotonicSleep(uint32_t milliseconds);

uint64_t MonotonicMilliseconds();
