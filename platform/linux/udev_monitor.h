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

// What the monitor asks for as its socket's receive buffer: the events that can wait unread
// while the program is busy (an update takes about a minute) are bounded by it. Without
// CAP_NET_ADMIN the kernel bounds it further by net.core.rmem_max.
constexpr uint32_t HOTPLUG_RECEIVE_BUFFER_BYTES = 4u * 1024u * 1024u;

// Starts listening for hidraw events that udev has processed (rules applied, node in place).
// 0 when no monitor can be had; errno tells why.
HotplugMonitor OpenHotplugMonitor();

// What WaitHotplugEvent answers when the receive buffer overflowed and events were dropped:
// what is plugged in now must be looked at afresh. The events after the loss come as usual.
constexpr int32_t HOTPLUG_EVENTS_LOST = -2;

// Waits up to `timeoutMs` for the next add or remove event; other actions (change, bind) are
// passed over within the same time limit. 1 with `event` filled, 0 when the time passed
// without one, HOTPLUG_EVENTS_LOST once after events were lost, -1 on failure (errno tells
// why).
int32_t WaitHotplugEvent(HotplugMonitor monitor, uint32_t timeoutMs, HotplugEvent* event);

// The receive buffer the kernel gave the monitor's socket, in bytes (it counts its own
// overhead, so it shows twice what was asked for); 0 when it can't be read.
uint32_t HotplugReceiveBufferBytes(HotplugMonitor monitor);

// Stops listening. Accepts 0.
void CloseHotplugMonitor(HotplugMonitor monitor);
