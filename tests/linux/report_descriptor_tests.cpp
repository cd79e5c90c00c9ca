// The report descriptor parser: lengths counted as Windows counts them, and every kind of
// malformed descriptor refused. Descriptors are literal bytes, commented item by item.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/linux/report_descriptor.h"

namespace {

struct DescriptorCase {
    const char* Name;
    std::vector<uint8_t> Bytes;
    int32_t Result;
    uint16_t Input, Output, Feature;
    bool Numbered;
};

void PrintTo(const DescriptorCase& c, std::ostream* out) { *out << c.Name; }

class ReportDescriptor : public testing::TestWithParam<DescriptorCase> {};

TEST_P(ReportDescriptor, LengthsOrRefusal)
{
    const DescriptorCase& c = GetParam();
    ReportDescriptorLengths lengths;
    std::memset(&lengths, 0xA5, sizeof lengths);
    EXPECT_EQ(c.Result, ParseReportDescriptor(c.Bytes.data(), static_cast<uint32_t>(c.Bytes.size()), &lengths));
    EXPECT_EQ(c.Input, lengths.InputLength);
    EXPECT_EQ(c.Output, lengths.OutputLength);
    EXPECT_EQ(c.Feature, lengths.FeatureLength);
    EXPECT_EQ(c.Numbered, lengths.NumberedReports);
}

// Many copies of one item.
std::vector<uint8_t> Repeat(std::vector<uint8_t> item, int times)
{
    std::vector<uint8_t> out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), item.begin(), item.end());
    return out;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

const std::vector<uint8_t> kUnit = {
    0x06, 0x00, 0xFF,  // Usage Page (vendor)
    0x09, 0x01,        // Usage 1
    0xA1, 0x01,        // Collection (Application)
    0x75, 0x08,        //   Report Size 8
    0x85, 0x01,        //   Report ID 1
    0x96, 0x3B, 0x00,  //   Report Count 59
    0x91, 0x02,        //   Output
    0x85, 0x02,        //   Report ID 2
    0x96, 0x3B, 0x00,  //   Report Count 59
    0x81, 0x02,        //   Input
    0xC0,              // End Collection
};

// The boot keyboard of the HID class definition: no report ids, 8 input bytes, 5 LED bits
// and 3 padding bits out. Windows reports 9 and 2.
const std::vector<uint8_t> kBootKeyboard = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01,  // Generic Desktop, Keyboard, Collection (Application)
    0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,  //   modifiers
    0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02,  // 8 x 1 bit in
    0x95, 0x01, 0x75, 0x08, 0x81, 0x01,                          // 1 x 8 bits in (reserved)
    0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02,  // 5 LEDs out
    0x95, 0x01, 0x75, 0x03, 0x91, 0x01,                          // 3 bits padding out
    0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65,
    0x81, 0x00,  // 6 key codes in
    0xC0,
};

const std::vector<uint8_t> kCollection = {0xA1, 0x01};
const std::vector<uint8_t> kEnd = {0xC0};

INSTANTIATE_TEST_SUITE_P(
    Cases, ReportDescriptor,
    testing::Values(
        DescriptorCase{"unit_60_60", kUnit, 0, 60, 60, 0, true},
        DescriptorCase{"boot_keyboard_without_ids", kBootKeyboard, 0, 9, 2, 0, false},
        DescriptorCase{"longest_report_of_several_ids",
                       {0x75, 0x08, 0x85, 0x01, 0x95, 0x04, 0x81, 0x02,   // id 1: 4 bytes in
                        0x85, 0x02, 0x95, 0x0A, 0x81, 0x02,               // id 2: 10 bytes in
                        0x85, 0x03, 0x95, 0x02, 0x81, 0x02, 0x81, 0x02,   // id 3: 2 + 2 bytes in
                        0x85, 0x04, 0x95, 0x07, 0xB1, 0x02},              // id 4: 7 bytes feature
                       0, 11, 0, 8, true},
        DescriptorCase{"bits_round_up_to_a_byte", {0x75, 0x01, 0x95, 0x03, 0x81, 0x02}, 0, 2, 0, 0, false},
        DescriptorCase{"push_and_pop_restore_the_size",
                       {0x75, 0x08, 0x95, 0x04, 0xA4, 0x75, 0x10, 0x95, 0x01, 0x81, 0x02,  // 2 bytes in
                        0xB4, 0x91, 0x02},                                                 // 4 bytes out
                       0, 3, 5, 0, false},
        DescriptorCase{"long_item_stepped_over", {0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02},
                       0, 3, 0, 0, false},
        DescriptorCase{"no_fields_at_all", {0x05, 0x01, 0x09, 0x02}, 0, 0, 0, 0, false},
        DescriptorCase{"limits_themselves_accepted", {0x76, 0x00, 0x01, 0x96, 0xFF, 0x07, 0xB1, 0x02},  // 256 x 2047 bits
                       0, 0, 0, 65505, false},
        // Refused:
        DescriptorCase{"empty", {}, REPORT_DESCRIPTOR_EMPTY, 0, 0, 0, false},
        DescriptorCase{"short_item_cut", {0x75, 0x08, 0x26, 0xFF}, REPORT_DESCRIPTOR_TRUNCATED, 0, 0, 0, false},
        DescriptorCase{"four_byte_item_cut", {0x97, 0x01, 0x00, 0x00}, REPORT_DESCRIPTOR_TRUNCATED, 0, 0, 0, false},
        DescriptorCase{"long_item_header_cut", {0xFE, 0x05}, REPORT_DESCRIPTOR_TRUNCATED, 0, 0, 0, false},
        DescriptorCase{"long_item_data_cut", {0xFE, 0x05, 0x10, 0x01, 0x02}, REPORT_DESCRIPTOR_TRUNCATED, 0, 0, 0, false},
        DescriptorCase{"push_five_deep", Repeat({0xA4}, 5), REPORT_DESCRIPTOR_BAD_STACK, 0, 0, 0, false},
        DescriptorCase{"pop_with_nothing_pushed", {0xA4, 0xB4, 0xB4}, REPORT_DESCRIPTOR_BAD_STACK, 0, 0, 0, false},
        DescriptorCase{"end_without_collection", {0xA1, 0x01, 0xC0, 0xC0}, REPORT_DESCRIPTOR_BAD_COLLECTION, 0, 0, 0, false},
        DescriptorCase{"collection_left_open", {0xA1, 0x01, 0x75, 0x08}, REPORT_DESCRIPTOR_BAD_COLLECTION, 0, 0, 0, false},
        DescriptorCase{"collections_33_deep", Join({Repeat(kCollection, 33), Repeat(kEnd, 33)}),
                       REPORT_DESCRIPTOR_BAD_COLLECTION, 0, 0, 0, false},
        DescriptorCase{"report_id_0", {0x85, 0x00}, REPORT_DESCRIPTOR_BAD_REPORT_ID, 0, 0, 0, false},
        DescriptorCase{"report_id_256", {0x86, 0x00, 0x01}, REPORT_DESCRIPTOR_BAD_REPORT_ID, 0, 0, 0, false},
        DescriptorCase{"report_size_257", {0x76, 0x01, 0x01}, REPORT_DESCRIPTOR_BAD_SIZE, 0, 0, 0, false},
        DescriptorCase{"report_count_12289", {0x96, 0x01, 0x30}, REPORT_DESCRIPTOR_BAD_SIZE, 0, 0, 0, false},
        DescriptorCase{"report_count_4_bytes_of_ones", {0x97, 0xFF, 0xFF, 0xFF, 0xFF}, REPORT_DESCRIPTOR_BAD_SIZE, 0,
                       0, 0, false},
        DescriptorCase{"one_field_too_long", {0x76, 0x00, 0x01, 0x96, 0x00, 0x30, 0x81, 0x02},
                       REPORT_DESCRIPTOR_TOO_LONG, 0, 0, 0, false},
        DescriptorCase{"fields_add_up_too_long",  // 65534 bytes fit, one byte more does not
                       Join({{0x75, 0x08, 0x96, 0x00, 0x30}, Repeat({0x91, 0x02}, 5), {0x96, 0xFE, 0x0F, 0x91, 0x02},
                             {0x95, 0x01, 0x91, 0x02}}),
                       REPORT_DESCRIPTOR_TOO_LONG, 0, 0, 0, false}),
    [](const testing::TestParamInfo<DescriptorCase>& param) { return std::string(param.param.Name); });

}  // namespace
