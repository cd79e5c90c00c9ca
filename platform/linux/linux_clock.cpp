#include "platform/linux/linux_clock.h"

#include <errno.h>

#include <climits>

namespace {

constexpr long NANOSECONDS_PER_SECOND = 1000000000L;

timespec Now()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

}  // namespace

timespec MonotonicDeadline(uint32_t milliseconds)
{
    timespec deadline = Now();
    deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= NANOSECONDS_PER_SECOND) {
        deadline.tv_nsec -= NANOSECONDS_PER_SECOND;
        deadline.tv_sec += 1;
    }
    return deadline;
}

int MonotonicMsUntil(const timespec& deadline)
{
    timespec now = Now();
    int64_t left = (static_cast<int64_t>(deadline.tv_sec) - now.tv_sec) * NANOSECONDS_PER_SECOND +
                   (deadline.tv_nsec - now.tv_nsec);
    if (left <= 0) return 0;
    int64_t ms = (left + 999999) / 1000000;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

void MonotonicSleep(uint32_t milliseconds)
{
    if (milliseconds == 0) return;
    int saved = errno;
    timespec deadline = MonotonicDeadline(milliseconds);
    // clock_nanosleep returns the error itself and leaves errno alone.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
    errno = saved;
}

uint64_t MonotonicMilliseconds()
{
    timespec now = Now();
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}
