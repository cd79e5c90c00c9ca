// Plugging virtual programming units in and pulling them out: root devices made and removed
// with SetupAPI, as Wine's own HID driver tests do, with the minidriver velquor_vunit.sys
// installed for each from velquor_vunit.inf. See unit_control.h for how a unit is named.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "tests/win32/virtual_unit/unit_control.h"

namespace virtual_unit {

// What a unit declares to the HID stack.
struct UnitIdentity {
    uint16_t VendorId;
    uint16_t ProductId;
    uint16_t InputLength;   // report id included
    uint16_t OutputLength;  // report id included
};

// Monotonic milliseconds (the performance counter), comparable between processes.
double NowMs();

// The root instance id of unit `number`, ROOT\VID_vvvv&PID_pppp&IN_ii&OUT_oo\000N.
std::wstring InstanceId(uint32_t number, const UnitIdentity& identity);
// The part of the HID interface path that names unit `number`, lower case:
// "#vid_vvvv&pid_pppp&in_ii&out_oo#000n#".
std::wstring InterfaceFragment(uint32_t number, const UnitIdentity& identity);
// The HID interface path of unit `number` as the system lists it now, or "" when it is not
// listed.
std::wstring FindInterfacePath(uint32_t number, const UnitIdentity& identity);
// Where the system lists unit `number` among all HID interfaces (from 0), or -1.
int32_t ListPosition(uint32_t number, const UnitIdentity& identity);

// Plugs unit `number` in: every older device of that number goes first, then the root device is
// made and the driver installed from `infPath`. Returns once the driver holds the device and the
// HID interface is listed, or false with `error` after `limitMs`.
bool PlugIn(uint32_t number, const UnitIdentity& identity, const std::wstring& infPath, uint32_t limitMs,
            std::string* error);
// Pulls every device of unit `number` out (DIF_REMOVE) and waits until the driver has let it
// go; true also when there was none. False with `error` after `limitMs`.
bool PullOut(uint32_t number, uint32_t limitMs, std::string* error);

// The unit's control device (overlapped), or INVALID_HANDLE_VALUE.
HANDLE OpenControl(uint32_t number);
// The driver's view of unit `number`; false when its control device can't be asked.
bool QueryState(uint32_t number, VUNIT_STATE* state);

}  // namespace virtual_unit
