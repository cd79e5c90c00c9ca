// The report descriptor walk: short items one by one, the few global items that shape report
// lengths (Report Size, Report Count, Report ID, Push, Pop), and the main items that add fields
// to a report (Input, Output, Feature) or nest collections. Every other item is stepped over.
#include "platform/linux/report_descriptor.h"

#include <cstring>

namespace {

// Item types (bits 2..3 of the prefix) and the tags this walk looks at.
constexpr uint8_t ITEM_MAIN = 0;
constexpr uint8_t ITEM_GLOBAL = 1;
constexpr uint8_t LONG_ITEM_PREFIX = 0xFE;

constexpr uint8_t MAIN_INPUT = 8;
constexpr uint8_t MAIN_OUTPUT = 9;
constexpr uint8_t MAIN_COLLECTION = 10;
constexpr uint8_t MAIN_FEATURE = 11;
constexpr uint8_t MAIN_END_COLLECTION = 12;

constexpr uint8_t GLOBAL_REPORT_SIZE = 7;
constexpr uint8_t GLOBAL_REPORT_ID = 8;
constexpr uint8_t GLOBAL_REPORT_COUNT = 9;
constexpr uint8_t GLOBAL_PUSH = 10;
constexpr uint8_t GLOBAL_POP = 11;

enum ReportKind { KIND_INPUT, KIND_OUTPUT, KIND_FEATURE, KIND_COUNT };
constexpr uint32_t REPORT_IDS = 256;  // id 0 stands for "no id given"
constexpr uint32_t MAX_REPORT_BITS = 65534u * 8u;  // the length (plus the id byte) fits 16 bits

// The part of the global state that shapes lengths; Push and Pop save and restore all of it.
struct GlobalState {
    uint32_t ReportSize;
    uint32_t ReportCount;
    uint32_t ReportId;
};

struct Walk {
    GlobalState Global;
    GlobalState Stack[REPORT_DESCRIPTOR_MAX_PUSH];
    uint32_t StackDepth;
    uint32_t CollectionDepth;
    bool NumberedReports;
    uint32_t Bits[KIND_COUNT][REPORT_IDS];
    bool Declared[KIND_COUNT][REPORT_IDS];
};

uint32_t ItemValue(const uint8_t* data, uint32_t size)
{
    uint32_t value = 0;
    for (uint32_t i = 0; i < size; ++i) value |= static_cast<uint32_t>(data[i]) << (8 * i);
    return value;
}

int32_t GlobalItem(Walk* walk, uint8_t tag, uint32_t value)
{
    switch (tag) {
    case GLOBAL_REPORT_SIZE:
        if (value > REPORT_DESCRIPTOR_MAX_REPORT_SIZE) return REPORT_DESCRIPTOR_BAD_SIZE;
        walk->Global.ReportSize = value;
        break;
    case GLOBAL_REPORT_COUNT:
        if (value > REPORT_DESCRIPTOR_MAX_REPORT_COUNT) return REPORT_DESCRIPTOR_BAD_SIZE;
        walk->Global.ReportCount = value;
        break;
    case GLOBAL_REPORT_ID:
        if (value == 0 || value >= REPORT_IDS) return REPORT_DESCRIPTOR_BAD_REPORT_ID;
        walk->Global.ReportId = value;
        walk->NumberedReports = true;
        break;
    case GLOBAL_PUSH:
        if (walk->StackDepth == REPORT_DESCRIPTOR_MAX_PUSH) return REPORT_DESCRIPTOR_BAD_STACK;
        walk->Stack[walk->StackDepth++] = walk->Global;
        break;
    case GLOBAL_POP:
        if (walk->StackDepth == 0) return REPORT_DESCRIPTOR_BAD_STACK;
        walk->Global = walk->Stack[--walk->StackDepth];
        break;
    default:
        break;
    }
    return REPORT_DESCRIPTOR_OK;
}

int32_t AddField(Walk* walk, ReportKind kind)
{
    uint32_t id = walk->Global.ReportId;
    // At most 256 * 12288 bits per field on top of at most MAX_REPORT_BITS: no overflow.
    uint32_t bits = walk->Bits[kind][id] + walk->Global.ReportSize * walk->Global.ReportCount;
    if (bits > MAX_REPORT_BITS) return REPORT_DESCRIPTOR_TOO_LONG;
    walk->Bits[kind][id] = bits;
    walk->Declared[kind][id] = true;
    return REPORT_DESCRIPTOR_OK;
}

int32_t MainItem(Walk* walk, uint8_t tag)
{
    switch (tag) {
    case MAIN_INPUT: return AddField(walk, KIND_INPUT);
    case MAIN_OUTPUT: return AddField(walk, KIND_OUTPUT);
    case MAIN_FEATURE: return AddField(walk, KIND_FEATURE);
    case MAIN_COLLECTION:
        if (walk->CollectionDepth == REPORT_DESCRIPTOR_MAX_COLLECTION_DEPTH) return REPORT_DESCRIPTOR_BAD_COLLECTION;
        ++walk->CollectionDepth;
        break;
    case MAIN_END_COLLECTION:
        if (walk->CollectionDepth == 0) return REPORT_DESCRIPTOR_BAD_COLLECTION;
        --walk->CollectionDepth;
        break;
    default:
        break;
    }
    return REPORT_DESCRIPTOR_OK;
}

// The longest report of a kind in bytes, plus the id byte; 0 when none is declared.
uint16_t LongestReport(const Walk& walk, ReportKind kind)
{
    uint32_t longest = 0;
    bool any = false;
    for (uint32_t id = 0; id < REPORT_IDS; ++id) {
        if (!walk.Declared[kind][id]) continue;
        any = true;
        uint32_t bytes = (walk.Bits[kind][id] + 7) / 8;
        if (bytes > longest) longest = bytes;
    }
    return any ? static_cast<uint16_t>(longest + 1) : 0;
}

}  // namespace

int32_t ParseReportDescriptor(const uint8_t* descriptor, uint32_t size, ReportDescriptorLengths* out)
{
    std::memset(out, 0, sizeof *out);
    if (descriptor == nullptr || size == 0) return REPORT_DESCRIPTOR_EMPTY;

    Walk walk;  // about 4 KB of counters
    std::memset(&walk, 0, sizeof walk);

    uint32_t position = 0;
    while (position < size) {
        uint8_t prefix = descriptor[position];
        uint32_t remaining = size - position - 1;
        if (prefix == LONG_ITEM_PREFIX) {
            // Long item: data size, long tag, data. None is defined; each is stepped over.
            if (remaining < 2) return REPORT_DESCRIPTOR_TRUNCATED;
            uint32_t dataSize = descriptor[position + 1];
            if (remaining - 2 < dataSize) return REPORT_DESCRIPTOR_TRUNCATED;
            position += 3 + dataSize;
            continue;
        }
        uint32_t dataSize = prefix & 3u;
        if (dataSize == 3) dataSize = 4;
        if (remaining < dataSize) return REPORT_DESCRIPTOR_TRUNCATED;
        uint8_t type = static_cast<uint8_t>((prefix >> 2) & 3u);
        uint8_t tag = static_cast<uint8_t>(prefix >> 4);
        uint32_t value = ItemValue(descriptor + position + 1, dataSize);
        position += 1 + dataSize;

        int32_t result = REPORT_DESCRIPTOR_OK;
        if (type == ITEM_MAIN) {
            result = MainItem(&walk, tag);
        } else if (type == ITEM_GLOBAL) {
            result = GlobalItem(&walk, tag, value);
        }
        if (result != REPORT_DESCRIPTOR_OK) return result;
    }
    if (walk.CollectionDepth != 0) return REPORT_DESCRIPTOR_BAD_COLLECTION;

    out->InputLength = LongestReport(walk, KIND_INPUT);
    out->OutputLength = LongestReport(walk, KIND_OUTPUT);
    out->FeatureLength = LongestReport(walk, KIND_FEATURE);
    out->NumberedReports = walk.NumberedReports;
    return REPORT_DESCRIPTOR_OK;
}
