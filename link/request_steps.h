// The steps of the protocol by name: the one list of these names. Every request the updater sends
// belongs to one step, told by its command byte and, for the two commands that do two things, its
// parameter byte (byte 3). A record names the step of each request with it, and its outcome line
// the step that failed; the simulated unit's scenarios name their faults with it
// (fail=erase:refuse:7); the test units log with it.
//
// Only constants and constexpr lookups: the simulated unit and the test units use it without the
// core's logic.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/device_link.h"
#include "link/flash_commands.h"

enum RequestStep : uint8_t {
    REQUEST_STEP_UNKNOWN,  // a request of none of the steps below
    REQUEST_STEP_STATUS,
    REQUEST_STEP_MEMREAD,
    REQUEST_STEP_INFO,
    REQUEST_STEP_IDENTITY,
    REQUEST_STEP_LOCK,
    REQUEST_STEP_PROTECT_OFF,
    REQUEST_STEP_ERASE,
    REQUEST_STEP_ADDRESS,
    REQUEST_STEP_BLOCK,
    REQUEST_STEP_PROTECT_ON,
    REQUEST_STEP_UNLOCK,
};

// Which parameter byte tells a step's requests from the other step of the same command.
enum StepParameter : uint8_t { PARAMETER_ANY, PARAMETER_ZERO, PARAMETER_NOT_ZERO };

struct RequestStepName {
    RequestStep Step;
    const char* Name;
    uint8_t Command;
    StepParameter Parameter;
};

// In the order of RequestStep, from REQUEST_STEP_STATUS on.
constexpr RequestStepName REQUEST_STEPS[] = {
    {REQUEST_STEP_STATUS, "status", CMD_GET_STATUS, PARAMETER_ANY},
    {REQUEST_STEP_MEMREAD, "memread", CMD_READ_MEMORY, PARAMETER_ANY},
    {REQUEST_STEP_INFO, "info", CMD_READ_CONTROLLER_INFO, PARAMETER_ANY},
    {REQUEST_STEP_IDENTITY, "identity", CMD_GET_CONTROLLER_IDENTITY, PARAMETER_ANY},
    {REQUEST_STEP_LOCK, "lock", CMD_SYSTEM_LOCK, PARAMETER_NOT_ZERO},
    {REQUEST_STEP_PROTECT_OFF, "protect-off", CMD_WRITE_PROTECT, PARAMETER_ZERO},
    {REQUEST_STEP_ERASE, "erase", CMD_ERASE_FIRMWARE, PARAMETER_ANY},
    {REQUEST_STEP_ADDRESS, "address", CMD_SET_WRITE_ADDRESS, PARAMETER_ANY},
    {REQUEST_STEP_BLOCK, "block", CMD_WRITE_DATA, PARAMETER_ANY},
    {REQUEST_STEP_PROTECT_ON, "protect-on", CMD_WRITE_PROTECT, PARAMETER_NOT_ZERO},
    {REQUEST_STEP_UNLOCK, "unlock", CMD_SYSTEM_LOCK, PARAMETER_ZERO},
};

constexpr bool RequestStepsInOrder()
{
    for (size_t i = 0; i < sizeof REQUEST_STEPS / sizeof REQUEST_STEPS[0]; ++i)
        if (REQUEST_STEPS[i].Step != i + 1) return false;
    return true;
}
static_assert(RequestStepsInOrder(), "REQUEST_STEPS lists the steps in the order of RequestStep");

// The step of a request (its bytes 0..3 at least); REQUEST_STEP_UNKNOWN for a shorter one.
constexpr RequestStep RequestStepOf(const uint8_t* request, uint32_t length)
{
    if (request == nullptr || length < 4) return REQUEST_STEP_UNKNOWN;
    for (const RequestStepName& row : REQUEST_STEPS) {
        if (row.Command != request[1]) continue;
        if (row.Parameter == PARAMETER_ZERO && request[3] != 0) continue;
        if (row.Parameter == PARAMETER_NOT_ZERO && request[3] == 0) continue;
        return row.Step;
    }
    return REQUEST_STEP_UNKNOWN;
}

// A step's name; "unknown" for REQUEST_STEP_UNKNOWN.
constexpr const char* RequestStepText(RequestStep step)
{
    return step == REQUEST_STEP_UNKNOWN || step > REQUEST_STEP_UNLOCK ? "unknown" : REQUEST_STEPS[step - 1].Name;
}

// The step named by the `length` characters at `name`; REQUEST_STEP_UNKNOWN when none is.
constexpr RequestStep RequestStepNamed(const char* name, size_t length)
{
    for (const RequestStepName& row : REQUEST_STEPS) {
        size_t i = 0;
        while (i < length && row.Name[i] != '\0' && row.Name[i] == name[i]) ++i;
        if (i == length && row.Name[i] == '\0') return row.Step;
    }
    return REQUEST_STEP_UNKNOWN;
}
