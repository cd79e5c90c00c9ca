#include "tests/support/sim_session.h"

#include <gtest/gtest.h>

#include <cstring>

#include "sim/sim_unit.h"

void UseScenario(const char* scenario)
{
    char error[256];
    ASSERT_EQ(SimSelect(scenario, error, sizeof error), 0) << error;
}

std::vector<SentRequest> SentRequests()
{
    std::vector<SentRequest> requests;
    for (uint32_t i = 0; i < SimTrafficCount(); ++i) {
        const SimTraffic* entry = SimTrafficEntry(i);
        if (entry->Direction != SIM_DIR_WRITE || !entry->Ok) continue;
        uint32_t length = entry->Length < SIM_TRAFFIC_BYTES ? entry->Length : SIM_TRAFFIC_BYTES;
        requests.push_back({entry->TimeMs, std::vector<uint8_t>(entry->Bytes, entry->Bytes + length)});
    }
    return requests;
}

std::vector<uint64_t> ReplyTimes()
{
    std::vector<uint64_t> times;
    for (uint32_t i = 0; i < SimTrafficCount(); ++i) {
        const SimTraffic* entry = SimTrafficEntry(i);
        if (entry->Direction == SIM_DIR_READ && entry->Ok) times.push_back(entry->TimeMs);
    }
    return times;
}

size_t CountRequests(uint8_t command, int parameter)
{
    size_t count = 0;
    for (const SentRequest& request : SentRequests())
        if (request.Bytes[1] == command && (parameter < 0 || request.Bytes[3] == parameter)) ++count;
    return count;
}

std::vector<uint8_t> FlashContents(uint32_t size) { return std::vector<uint8_t>(SimFlash(), SimFlash() + size); }
uint32_t FlashBytesWritten() { return SimFlashBytesWritten(); }
void UnplugUnit() { SimUnplug(); }
std::u16string UnitPath() { return SimUnitPath() != nullptr ? std::u16string(SimUnitPath()) : std::u16string(); }
uint64_t VirtualNow() { return SimNow(); }
uint32_t SimulatedLastError() { return kSimHidPlatform.LastError(); }
