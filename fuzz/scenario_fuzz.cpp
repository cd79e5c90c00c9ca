// Fuzz target: the simulated unit's scenario language on arbitrary text. A refusal must come
// with a terminated message; an accepted scenario must configure the simulator the same way.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sim/sim_unit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    SimScenario scenario;
    char error[64];
    std::memset(error, 'x', sizeof error);
    int32_t result = SimParseScenario(text.data(), &scenario, error, sizeof error);
    if (result != 0) {
        if (result != -1 || std::memchr(error, '\0', sizeof error) == nullptr) __builtin_trap();
        return 0;
    }
    if (scenario.FaultCount > SIM_MAX_FAULTS || scenario.Others > SIM_MAX_OTHERS) __builtin_trap();
    if (SimConfigure(text.data(), nullptr, 0) != 0) __builtin_trap();
    return 0;
}
