// Report lengths from a HID report descriptor, counted the way Windows' HidP_GetCaps counts
// them, so that the link sees the same lengths on every system: the longest input report and
// the longest output report in bytes, each plus one byte for the report id. A descriptor that
// uses no report ids still gets that byte. A kind of report the descriptor never declares has
// length 0.
//
// Pure and portable: no system call, no allocation. A malformed descriptor is refused with a
// negative result and nothing else happens; every byte of input is bounds-checked.
#pragma once

#include <cstdint>

struct ReportDescriptorLengths {
    uint16_t InputLength;    // bytes, report id included; 0: no input report
    uint16_t OutputLength;   // bytes, report id included; 0: no output report
    uint16_t FeatureLength;  // bytes, report id included; 0: no feature report
    bool NumberedReports;    // the descriptor gives its reports ids (a Report ID item)
};

// Results of ParseReportDescriptor.
constexpr int32_t REPORT_DESCRIPTOR_OK = 0;
constexpr int32_t REPORT_DESCRIPTOR_TRUNCATED = -1;       // an item runs past the end
constexpr int32_t REPORT_DESCRIPTOR_BAD_STACK = -2;       // Push too deep, or Pop with nothing pushed
constexpr int32_t REPORT_DESCRIPTOR_BAD_COLLECTION = -3;  // End Collection without Collection, too
                                                          // deep, or a collection left open
constexpr int32_t REPORT_DESCRIPTOR_BAD_REPORT_ID = -4;   // Report ID 0 or above 255
constexpr int32_t REPORT_DESCRIPTOR_BAD_SIZE = -5;        // Report Size above 256 bits, Report
                                                          // Count above 12288 (the kernel's limits)
constexpr int32_t REPORT_DESCRIPTOR_TOO_LONG = -6;        // one report longer than 65534 bytes
constexpr int32_t REPORT_DESCRIPTOR_EMPTY = -7;           // no bytes at all

// Limits: the depths the Linux HID core itself accepts.
constexpr uint32_t REPORT_DESCRIPTOR_MAX_PUSH = 4;
constexpr uint32_t REPORT_DESCRIPTOR_MAX_COLLECTION_DEPTH = 32;
constexpr uint32_t REPORT_DESCRIPTOR_MAX_REPORT_SIZE = 256;
constexpr uint32_t REPORT_DESCRIPTOR_MAX_REPORT_COUNT = 12288;

// Parses `size` bytes of a report descriptor. 0 with `out` filled, or one of the negative
// results above with `out` zeroed.
int32_t ParseReportDescriptor(const uint8_t* descriptor, uint32_t size, ReportDescriptorLengths* out);
