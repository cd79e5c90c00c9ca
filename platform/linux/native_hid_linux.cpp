// The terminal front end on Linux: the hidraw edge, its hot-plug events, and the node of a unit
// whose device node may not be opened.
#include "cli/native_hid.h"
#include "app/texts.h"
#include "platform/linux/hid_linux.h"
#include "platform/linux/udev_monitor.h"
#include "record/record_format.h"

namespace {

HotplugMonitor g_Monitor = 0;

bool OpenEvents()
{
    if (g_Monitor == 0) g_Monitor = OpenHotplugMonitor();
    return g_Monitor != 0;
}

int32_t WaitEvent(uint32_t timeoutMs, DeviceEventKind* kind, char16_t* path, uint32_t capacity)
{
    HotplugEvent event;
    int32_t result = WaitHotplugEvent(g_Monitor, timeoutMs, &event);
    // udev's events overflowed the monitor's buffer: the caller reads the present state afresh.
    if (result == HOTPLUG_EVENTS_LOST) return DEVICE_EVENTS_LOST;
    if (result != 1) return result < 0 ? -1 : result;
    *kind = event.Kind == HOTPLUG_ADD ? DEVICE_ARRIVED : DEVICE_REMOVED;
    // The node is the path the HID table lists the interface under.
    Utf8ToUtf16(event.Node, path, static_cast<int32_t>(capacity));
    return 1;
}

void CloseEvents()
{
    CloseHotplugMonitor(g_Monitor);
    g_Monitor = 0;
}

const DeviceEvents kUdevEvents = {OpenEvents, WaitEvent, CloseEvents};

}  // namespace

const HidPlatform* NativeHidPlatform() { return &kLinuxHidPlatform; }

// hidraw hands out the descriptor the kernel read from the device.
NativeRecordFacts NativeRecordEdge() { return {RecordEdgeName(RECORD_EDGE_HIDRAW), LinuxHidReadDescriptor}; }

const char* UnitRefusedByPermission() { return LinuxHidRefusedNode(); }

const DeviceEvents* NativeDeviceEvents() { return &kUdevEvents; }
