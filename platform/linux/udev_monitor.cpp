// The hot-plug monitor over libudev (see udev_monitor.h).
//
// udev hands its events to every listener through a netlink socket; what a listener has not
// read yet waits in that socket's receive buffer, and once the buffer is full the kernel drops
// further events and tells the listener so on its next receive (ENOBUFS). The buffer is
// therefore asked for large (HOTPLUG_RECEIVE_BUFFER_BYTES), and a loss is passed on, so that
// the caller looks at what is plugged in instead of trusting a story with holes in it.
#include "platform/linux/udev_monitor.h"

#include <errno.h>
#include <libudev.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstring>
#include <new>

#include "platform/linux/linux_clock.h"

namespace {

struct MonitorRecord {
    struct udev* Context;
    struct udev_monitor* Monitor;
};

void FreeParsedRecord(MonitorRecord* record)
{
    if (record->Monitor != nullptr) udev_monitor_unref(record->Monitor);
    if (record->Context != nullptr) udev_unref(record->Context);
    delete record;
}

// The receive buffer: udev_monitor_set_receive_buffer_size forces it past net.core.rmem_max
// (SO_RCVBUFFORCE), which only a program with CAP_NET_ADMIN may do; without that it fails
// (some versions of libudev try SO_RCVBUF first, and still report the failure). Any program
// gets what SO_RCVBUF allows: the kernel cuts the size asked for to net.core.rmem_max by
// itself and grants twice that (rmem_max is 212992 bytes unless an administrator changed it,
// so this is still twice the default buffer). A buffer that can't be enlarged at all is no
// reason to go without events.
void EnlargeReceiveBuffer(struct udev_monitor* monitor)
{
    if (udev_monitor_set_receive_buffer_size(monitor, static_cast<int>(HOTPLUG_RECEIVE_BUFFER_BYTES)) >= 0) return;
    int size = static_cast<int>(HOTPLUG_RECEIVE_BUFFER_BYTES);
    int ignored = setsockopt(udev_monitor_get_fd(monitor), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    (void)ignored;
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
        EnlargeReceiveBuffer(record->Monitor);
        return reinterpret_cast<HotplugMonitor>(record);
    }
    FreeParsedRecord(record);
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
            errno = 0;
            struct udev_device* device = udev_monitor_receive_device(record->Monitor);
            // The kernel reports an overflow once; the events queued before it and those that
            // come after it are received as usual.
            if (device == nullptr && errno == ENOBUFS) return HOTPLUG_EVENTS_LOST;
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

uint32_t HotplugReceiveBufferBytes(HotplugMonitor monitor)
{
    MonitorRecord* record = reinterpret_cast<MonitorRecord*>(monitor);
    if (record == nullptr) return 0;
    int size = 0;
    socklen_t length = sizeof size;
    if (getsockopt(udev_monitor_get_fd(record->Monitor), SOL_SOCKET, SO_RCVBUF, &size, &length) != 0 || size < 0)
        return 0;
    return static_cast<uint32_t>(size);
}

void CloseHotplugMonitor(HotplugMonitor monitor)
{
    MonitorRecord* record = reinterpret_cast<MonitorRecord*>(monitor);
    if (record != nullptr) FreeParsedRecord(record);
}
