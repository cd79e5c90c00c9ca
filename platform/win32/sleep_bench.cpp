// velquor_sleep_bench: how long the HID edge's Sleep really waits. Measures Sleep(20) (the
// pause between data blocks) and Sleep(1000) (the erase's pause) with the performance counter
// and prints minimum, mean and maximum; it judges nothing, so it never fails on timing.
//
//   velquor_sleep_bench [runs of 20 ms] [runs of 1000 ms]     (defaults 50 and 3)
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/win32/hid_win32.h"

namespace {

double ElapsedMs(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency)
{
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void Measure(uint32_t milliseconds, int32_t runs)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    double minimum = 1e300, maximum = 0.0, sum = 0.0;
    int32_t early = 0;
    for (int32_t i = 0; i < runs; ++i) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        kWin32HidPlatform.Sleep(milliseconds);
        QueryPerformanceCounter(&end);
        double ms = ElapsedMs(start, end, frequency);
        if (ms < minimum) minimum = ms;
        if (ms > maximum) maximum = ms;
        if (ms < static_cast<double>(milliseconds)) ++early;
        sum += ms;
    }
    std::printf("Sleep(%u) x %d: min %.3f ms, mean %.3f ms, max %.3f ms, returned early %d times\n",
                milliseconds, runs, minimum, sum / runs, maximum, early);
}

int32_t RunsArgument(int argc, char** argv, int index, int32_t fallback)
{
    if (argc <= index) return fallback;
    long value = std::strtol(argv[index], nullptr, 10);
    return value > 0 && value < 100000 ? static_cast<int32_t>(value) : fallback;
}

}  // namespace

int main(int argc, char** argv)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::printf("performance counter: %lld Hz\n", static_cast<long long>(frequency.QuadPart));
    Measure(20, RunsArgument(argc, argv, 1, 50));
    Measure(1000, RunsArgument(argc, argv, 2, 3));
    return 0;
}
