// Fuzz target: the report descriptor parser on arbitrary bytes. Besides the sanitizers'
// checks: a refusal leaves nothing behind, and an accepted descriptor behaves as descriptors
// do: an End Collection more is refused, a Push and Pop more change no length.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/linux/report_descriptor.h"

namespace {

uint8_t g_Extended[65536 + 2];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 65536) return 0;
    uint32_t length = static_cast<uint32_t>(size);
    ReportDescriptorLengths lengths;
    int32_t result = ParseReportDescriptor(data, length, &lengths);
    if (result != REPORT_DESCRIPTOR_OK) {
        if (result < REPORT_DESCRIPTOR_EMPTY || result > 0) __builtin_trap();
        if (lengths.InputLength != 0 || lengths.OutputLength != 0 || lengths.FeatureLength != 0) __builtin_trap();
        return 0;
    }

    std::memcpy(g_Extended, data, size);
    ReportDescriptorLengths again;
    g_Extended[size] = 0xC0;  // End Collection
    if (ParseReportDescriptor(g_Extended, length + 1, &again) != REPORT_DESCRIPTOR_BAD_COLLECTION) __builtin_trap();

    g_Extended[size] = 0xA4;  // Push
    g_Extended[size + 1] = 0xB4;  // Pop
    int32_t pushed = ParseReportDescriptor(g_Extended, length + 2, &again);
    // A descriptor that leaves four levels pushed has no room for a fifth.
    if (pushed == REPORT_DESCRIPTOR_BAD_STACK) return 0;
    if (pushed != REPORT_DESCRIPTOR_OK || std::memcmp(&again, &lengths, sizeof lengths) != 0) __builtin_trap();
    return 0;
}
