// The HID abilities the device link needs from the platform, as one table of functions.
//
// Each edge (the Windows HID/SetupAPI back end, the simulated programming unit) defines one
// const instance; the program selects one at start with SelectHidPlatform(). The link logic
// (discovery rules, framing, identification, flash commands) lives above this table and never
// touches a platform API itself.
#pragma once

#include <cstdint>

// An open HID interface. All ones means "none", as INVALID_HANDLE_VALUE does on Windows.
typedef uintptr_t PlatformHandle;
constexpr PlatformHandle INVALID_PLATFORM_HANDLE = ~static_cast<PlatformHandle>(0);

// A snapshot of the HID interfaces present at one moment. 0 means none could be had.
typedef uintptr_t InterfaceList;

// What GetInterfacePath answers besides a path length.
constexpr int32_t INTERFACE_LIST_END = -1;     // no interface at this index: the enumeration ends
constexpr int32_t INTERFACE_NO_DETAIL = 0;     // this entry's path can't be read: skip it

struct HidPlatform {
    // Takes a snapshot of the HID device interfaces present now, in the platform's order.
    // Returns the list, or 0 when no list can be had.
    InterfaceList (*OpenInterfaceList)(void);

    // The device path of the interface at `index` (0, 1, 2, ...). Returns INTERFACE_LIST_END when
    // there is none at that index (whatever the reason), INTERFACE_NO_DETAIL when its path can't be
    // read, otherwise the path's length in UTF-16 units without terminator. The path and a
    // terminator are copied to `path` only when `capacity` exceeds that length; call with
    // capacity 0 to learn the length first.
    int32_t (*GetInterfacePath)(InterfaceList list, uint32_t index, char16_t* path, uint32_t capacity);

    // Releases a list from OpenInterfaceList. Accepts 0.
    void (*CloseInterfaceList)(InterfaceList list);

    // Opens a device path for shared reading and writing. INVALID_PLATFORM_HANDLE on failure.
    PlatformHandle (*Open)(const char16_t* path);

    // USB vendor and product id of an open interface. False when they can't be read.
    bool (*GetIds)(PlatformHandle handle, uint16_t* vendorId, uint16_t* productId);

    // The interface's input and output report byte lengths, report id included.
    // False when the capabilities can't be read.
    bool (*GetReportLengths)(PlatformHandle handle, uint16_t* inputLength, uint16_t* outputLength);

    // Claims an open programming unit for this program alone, for as long as the handle stays
    // open: a second program that opens the same unit gets false here. False only when another
    // program holds the unit (the last error tells the edge's code for "busy"); an edge that can
    // make no claim at all answers true.
    bool (*Claim)(PlatformHandle handle);

    // Throws away every input report that has arrived and was not read yet, so that the next
    // read returns a report that arrived after this call. Never waits. False when the interface
    // can't be used any more (the last error tells why).
    bool (*DiscardInput)(PlatformHandle handle);

    // Writes one output report of exactly `length` bytes and returns when it is sent. The wait
    // is bounded: the edge gives up (and cancels the write) after `timeoutMs` milliseconds, or,
    // where the system bounds every write itself, leaves the bound to the system and says which
    // in its own comments. False when the whole report could not be sent (the last error tells
    // why). True leaves the last error at 0.
    bool (*WriteReport)(PlatformHandle handle, const uint8_t* report, uint32_t length, uint32_t timeoutMs);

    // Reads the next input report, `length` bytes, into `report`. Gives up after `timeoutMs`
    // milliseconds without a report. False on failure or time-out (the last error tells which).
    // True leaves the last error at 0.
    bool (*ReadReport)(PlatformHandle handle, uint8_t* report, uint32_t length, uint32_t timeoutMs);

    // Closes an open interface. Accepts INVALID_PLATFORM_HANDLE and does nothing then.
    void (*Close)(PlatformHandle handle);

    // Pauses the calling thread for at least `milliseconds`. The simulated unit advances its
    // virtual clock instead, so that tests never wait for real.
    void (*Sleep)(uint32_t milliseconds);

    // The calling thread's last platform error code (GetLastError on Windows).
    uint32_t (*LastError)(void);

    // A monotonic clock in milliseconds, for traces and for the limit of a reply that is
    // preceded by other reports (the virtual clock under simulation).
    uint64_t (*Milliseconds)(void);

    // True when the unit behind this table is a simulation, which may be given the generated
    // stand-in images; false for every real HID stack.
    bool (*IsSimulation)(void);
};

// The table in use. Set once at start, before the first discovery.
extern const HidPlatform* g_Hid;

inline void SelectHidPlatform(const HidPlatform* platform) { g_Hid = platform; }
