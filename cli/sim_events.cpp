// Arrivals and removals of the simulated unit, for the watch command under --sim.
#include "cli/native_hid.h"
#include "sim/sim_unit.h"

namespace {

bool SimEventsOpen() { return true; }

int32_t SimEventsWait(uint32_t, DeviceEventKind* kind, char16_t* path, uint32_t capacity)
{
    if (SimUnitPresent()) {
        SimUnplug();
        *kind = DEVICE_REMOVED;
    } else if (SimPlugInNextController()) {
        *kind = DEVICE_ARRIVED;
    } else {
        return DEVICE_EVENTS_END;
    }
    // lost=1: the change happened, but its event did not reach the program.
    if (SimEventsLost()) return DEVICE_EVENTS_LOST;
    const char16_t* unitPath = SimUnitPath();
    uint32_t i = 0;
    for (; capacity > 0 && i + 1 < capacity && unitPath != nullptr && unitPath[i] != u'\0'; ++i) path[i] = unitPath[i];
    if (capacity > 0) path[i] = u'\0';
    return 1;
}

void SimEventsClose() {}

}  // namespace

const DeviceEvents kSimDeviceEvents = {SimEventsOpen, SimEventsWait, SimEventsClose};
