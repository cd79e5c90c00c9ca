// What velquor-flash takes from the system it runs on when --sim is not given: the HID edge,
// the arrivals and removals of HID interfaces, and what to tell a user whose unit is present
// but can't be used. One small file per platform, as with cli/terminal.h.
#pragma once

#include <cstdint>

#include "link/hid_platform.h"

// The system's HID table, or null when this build has none.
const HidPlatform* NativeHidPlatform();

// What a record (--record) says of the system's edge: its name (RecordEdgeName), and how it
// reads an open interface's report descriptor (null where the edge can't).
struct NativeRecordFacts {
    const char* Edge;
    uint32_t (*ReadDescriptor)(PlatformHandle handle, uint8_t* descriptor, uint32_t capacity);
};
NativeRecordFacts NativeRecordEdge();

// After a discovery that found no programming unit: the device node of a unit that is present
// but that the system refused to open for lack of permission, or null.
const char* UnitRefusedByPermission();

// Arrivals and removals of HID interfaces, as the watch command waits for them.
enum DeviceEventKind : uint8_t { DEVICE_ARRIVED, DEVICE_REMOVED };
// What Wait answers when no event can ever come again (a simulated fleet that has passed).
constexpr int32_t DEVICE_EVENTS_END = -2;
// What Wait answers when events were lost (the system's buffer for them overflowed): what is
// plugged in now must be looked at afresh.
constexpr int32_t DEVICE_EVENTS_LOST = -3;

struct DeviceEvents {
    // Starts listening. False when this system can't tell arrivals and removals.
    bool (*Open)(void);
    // Waits up to `timeoutMs` for the next arrival or removal: 1 with its kind and the
    // interface's path (UTF-16, cut to `capacity` and terminated), 0 when the time passed
    // without one, -1 on failure, DEVICE_EVENTS_LOST when some were lost, DEVICE_EVENTS_END
    // when none can come any more.
    int32_t (*Wait)(uint32_t timeoutMs, DeviceEventKind* kind, char16_t* path, uint32_t capacity);
    void (*Close)(void);
};

// The system's events, or null when this build has none.
const DeviceEvents* NativeDeviceEvents();

// The simulated unit's: every wait pulls the unit out when it is in, and otherwise brings the
// fleet's next controller (fleet=N), as a modeller swapping controllers would.
extern const DeviceEvents kSimDeviceEvents;
