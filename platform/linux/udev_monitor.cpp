// The hot-plug monitor over libudev (see udev_monitor.h).
#include "platform/linux/udev_monitor.h"

#include <errno.h>
#include <libudev.h>
#include <poll.h>

#include <cstring>
#include <new>

#include "platform/linux/linux_clock.h"

namespace {

struct MonitorRecord {
    struct udev* Context;
    struct udev_monitor* Monitor;
};

void FreeRecord(MonitorRecord* record)
{
    if (record->Monitor != nullptr) udev_monitor_unref(record->Monitor);
    if (record->Context != nullptr) udev_unref(record->Context);
    delete record;
}

}  // namespace

HotplugMonitor OpenHotplugMonitor()
{
    MonitorRecord* record = new (std::nothrow) MonitorRecord{nullptr, nullptr};
    if (record == nullptr) {
        errno = ENOMEM;
        return 0;
    }
    int error = ENOMEM;
    record->Context = udev_new();
    if (record->Context != nullptr) record->Monitor = udev_monitor_new_from_netlink(record->Context, "udev");
    if (record->Monitor == nullptr) {
        error = errno != 0 ? errno : ENOMEM;
    } else if (udev_monitor_filter_add_match_subsystem_devtype(record->Monitor, "hidraw", nullptr) < 0 ||
               udev_monitor_enable_receiving(record->Monitor) < 0) {
        error = errno != 0 ? errno : EIO;
    } else {
        return reinterpret_cast<HotplugMonitor>(record);
    }
    FreeRecord(record);
    errno = error;
    return 0;
}

int32_t WaitHotplugEvent(HotplugMonitor monitor, uint32_t timeoutMs, HotplugEvent* event)
{
    MonitorRecord* record = reinterpret_cast<MonitorRecord*>(monitor);
    if (record == nullptr || event == nullptr) {
        errno = EINVAL;
        return -1;
    }
    timespec deadline = MonotonicDeadline(timeoutMs);
    int fd = udev_monitor_get_fd(record->Monitor);
    for (;;) {
        struct pollfd entry = {fd, POLLIN, 0};
        int ready = poll(&entry, 1, MonotonicMsUntil(deadline));
        if (ready < 0 && errno != EINTR) return -1;
        if (ready > 0) {
            // The socket does not block: a message that was not for us yields null.
            struct udev_device* device = udev_monitor_receive_device(record->Monitor);
            if (device != nullptr) {
                const char* action = udev_device_get_action(device);
                const char* node = udev_device_get_devnode(device);
                bool add = action != nullptr && std::strcmp(action, "add") == 0;
                bool remove = action != nullptr && std::strcmp(action, "remove") == 0;
                if ((add || remove) && node != nullptr) {
                    event->Kind = add ? HOTPLUG_ADD : HOTPLUG_REMOVE;
                    std::strncpy(event->Node, node, HOTPLUG_NODE_SIZE - 1);
                    event->Node[HOTPLUG_NODE_SIZE - 1] = '\0';
                    udev_device_unref(device);
                    return 1;
                }
                udev_device_unref(device);
            }
        }
        if (MonotonicMsUntil(deadline) == 0) return 0;
    }
}

void CloseHotplugMonitor(HotplugMonitor monitor)
{
    MonitorRecord* record = reinterpret_cast<MonitorRecord*>(monitor);
    if (record != nullptr) FreeRecord(record);
}
