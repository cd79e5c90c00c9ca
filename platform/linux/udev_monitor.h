// Hot-plug on Linux: udev's netlink monitor for hidraw device nodes, so that a command can wait
// for a unit to be plugged in or pulled out. Linux only; the HID table does not need it.
#pragma once

#include <cstdint>

// An open monitor; 0 means none.
typedef uintptr_t HotplugMonitor;

enum HotplugKind : uint8_t { HOTPLUG_ADD, HOTPLUG_REMOVE };

constexpr uint32_t HOTPLUG_NODE_SIZE = 128;

struct HotplugEvent {
    HotplugKind Kind;
    char Node[HOTPLUG_NODE_SIZE];  // the device node, e.g. /dev/hidraw0 (cut to fit, terminated)
};

// Starts listening for hidraw events that udev has processed (rules applied, node in place).
// 0 when no monitor can be had; errno tells why.
HotplugMonitor OpenHotplugMonitor();

// Waits up to `timeoutMs` for the next add or remove event; other actions (change, bind) are
// passed over within the same time limit. 1 with `event` filled, 0 when the time passed
// without one, -1 on failure (errno tells why).
int32_t WaitHotplugEvent(HotplugMonitor monitor, uint32_t timeoutMs, HotplugEvent* event);

// Stops listening. Accepts 0.
void CloseHotplugMonitor(HotplugMonitor monitor);
