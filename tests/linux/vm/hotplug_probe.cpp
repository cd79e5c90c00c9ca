// Test equipment: the hot-plug monitor (platform/linux/udev_monitor.h) on a real udev. Prints
// "listening buffer=BYTES" once the monitor is open (the receive buffer the kernel granted),
// then one line per wait: "add NODE", "remove NODE", "lost" (events were dropped), or
// "timeout MS" with the milliseconds the wait took.
//
//   velquor-hotplug-probe COUNT TIMEOUT_MS
#include <cstdio>
#include <cstdlib>

#include "platform/linux/linux_clock.h"
#include "platform/linux/udev_monitor.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: velquor-hotplug-probe COUNT TIMEOUT_MS\n", stderr);
        return 2;
    }
    long count = std::strtol(argv[1], nullptr, 10);
    uint32_t timeoutMs = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    HotplugMonitor monitor = OpenHotplugMonitor();
    if (monitor == 0) {
        std::perror("velquor-hotplug-probe: no monitor");
        return 1;
    }
    std::printf("listening buffer=%u\n", HotplugReceiveBufferBytes(monitor));
    std::fflush(stdout);
    int status = 0;
    for (long i = 0; i < count; ++i) {
        HotplugEvent event;
        uint64_t start = MonotonicMilliseconds();
        int32_t result = WaitHotplugEvent(monitor, timeoutMs, &event);
        if (result > 0) {
            std::printf("%s %s\n", event.Kind == HOTPLUG_ADD ? "add" : "remove", event.Node);
        } else if (result == HOTPLUG_EVENTS_LOST) {
            std::printf("lost\n");
        } else if (result == 0) {
            std::printf("timeout %llu\n", static_cast<unsigned long long>(MonotonicMilliseconds() - start));
        } else {
            std::perror("velquor-hotplug-probe: wait failed");
            status = 1;
            break;
        }
        std::fflush(stdout);
    }
    CloseHotplugMonitor(monitor);
    return status;
}
