// Test helpers over the simulated unit: configure a scenario, and read back what was sent.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "link/device_link.h"

// How a flash command's result reads in a failing test.
inline void PrintTo(const LinkResult& result, std::ostream* out)
{
    static const char* const kKinds[] = {"ok", "link failure", "refused", "unconfirmed"};
    *out << kKinds[result.Kind] << " 0x" << std::hex << result.Code << std::dec;
}

// Configures the simulated unit with `scenario` and selects it as the HID edge. Fails the
// current test when the scenario is refused.
void UseScenario(const char* scenario);

struct SentRequest {
    uint64_t TimeMs;
    std::vector<uint8_t> Bytes;
};
// Every request that reached the unit (writes that failed are not counted), in order.
std::vector<SentRequest> SentRequests();
// The time of every reply read, in order.
std::vector<uint64_t> ReplyTimes();
// The request count of one command code (and, for parameter commands, one parameter; -1: any).
size_t CountRequests(uint8_t command, int parameter = -1);
// The first `size` bytes of the controller's flash.
std::vector<uint8_t> FlashContents(uint32_t size);
uint32_t FlashBytesWritten();
// Pulls the unit out; its path for a removal broadcast.
void UnplugUnit();
std::u16string UnitPath();
uint64_t VirtualNow();
uint32_t SimulatedLastError();
