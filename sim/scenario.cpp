// The scenario text of the simulated unit: comma-separated key=value items (sim_unit.h).
#include <cstdio>
#include <cstring>

#include "link/device_link.h"
#include "sim/sim_unit.h"

namespace {

constexpr uint32_t ITEM_CAPACITY = 96;   // an item longer than this is cut in messages only

// A piece of the scenario text: [Begin, Begin + Length).
struct Piece {
    const char* Begin;
    uint32_t Length;
};

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

Piece Trim(Piece p)
{
    while (p.Length > 0 && IsSpace(p.Begin[0])) { ++p.Begin; --p.Length; }
    while (p.Length > 0 && IsSpace(p.Begin[p.Length - 1])) --p.Length;
    return p;
}

bool Equals(Piece p, const char* word)
{
    size_t n = std::strlen(word);
    return n == p.Length && std::memcmp(p.Begin, word, n) == 0;
}

bool StartsWith(Piece p, const char* word)
{
    size_t n = std::strlen(word);
    return n <= p.Length && std::memcmp(p.Begin, word, n) == 0;
}

Piece After(Piece p, uint32_t count) { return Piece{p.Begin + count, p.Length - count}; }

// Copies a piece into a terminated buffer for messages, cut to fit.
void Text(Piece p, char (&out)[ITEM_CAPACITY])
{
    uint32_t n = p.Length < ITEM_CAPACITY - 1 ? p.Length : ITEM_CAPACITY - 1;
    std::memcpy(out, p.Begin, n);
    out[n] = '\0';
}

// The message "<what> in '<item>'". Always -1.
int32_t Fail(char* error, uint32_t capacity, const char* what, Piece item)
{
    if (error != nullptr && capacity > 0) {
        char itemText[ITEM_CAPACITY];
        Text(item, itemText);
        std::snprintf(error, capacity, "%s in '%s'", what, itemText);
    }
    return -1;
}

// Decimal or 0x-prefixed hexadecimal, no sign, at most 32 bits.
// 0 good, 1 malformed, 2 more than 32 bits.
int32_t ParseNumber(Piece p, uint64_t* out)
{
    uint32_t base = 10;
    if (p.Length > 2 && p.Begin[0] == '0' && (p.Begin[1] == 'x' || p.Begin[1] == 'X')) {
        base = 16;
        p = After(p, 2);
    }
    if (p.Length == 0) return 1;
    uint64_t value = 0;
    bool tooBig = false;
    for (uint32_t i = 0; i < p.Length; ++i) {
        char c = p.Begin[i];
        uint32_t digit;
        if (c >= '0' && c <= '9') digit = static_cast<uint32_t>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<uint32_t>(c - 'A' + 10);
        else return 1;
        if (!tooBig) value = value * base + digit;
        if (value > 0xFFFFFFFFu) tooBig = true;
    }
    if (tooBig) return 2;
    *out = value;
    return 0;
}

// ParseNumber with a range: 0 good, 1 malformed, 2 out of range.
int32_t ParseNumberIn(Piece p, uint64_t min, uint64_t max, uint64_t* out)
{
    uint64_t n = 0;
    int32_t r = ParseNumber(p, &n);
    if (r != 0) return r;
    if (n < min || n > max) return 2;
    *out = n;
    return 0;
}

// A block number is counted from 1 and can't lie beyond the last block the flash holds.
#define BAD_BLOCK_FORMAT "bad block number in operation '%s' (blocks are counted from 1 to 2731, the flash's last)"
static_assert(SIM_MAX_BLOCKS == 2731, "the message names the last block");

// An operation name, "block#K" included. False when unknown; *badBlock when the K is wrong.
bool ParseOp(Piece p, RequestStep* op, uint32_t* block, bool* badBlock)
{
    *badBlock = false;
    *block = 0;
    RequestStep named = RequestStepNamed(p.Begin, p.Length);
    if (named != REQUEST_STEP_UNKNOWN) {
        *op = named;
        return true;
    }
    if (StartsWith(p, "block#")) {
        uint64_t k = 0;
        if (ParseNumberIn(After(p, 6), 1, SIM_MAX_BLOCKS, &k) != 0) {
            *badBlock = true;
            return false;
        }
        *op = REQUEST_STEP_BLOCK;
        *block = static_cast<uint32_t>(k);
        return true;
    }
    return false;
}

struct NumberKey {
    const char* Name;
    uint64_t Min;
    uint64_t Max;
    const char* Range;  // for the message
};

constexpr NumberKey NUMBER_KEYS[] = {
    {"others", 0, SIM_MAX_OTHERS, "0..8"},
    {"alien", 0, 1, "0..1"},
    {"second", 0, 1, "0..1"},
    {"mode", 0, 0xFF, "0..255"},
    {"state", 0, 0xFFFF, "0..0xffff"},
    {"type", 0, 0xFFFFFFFFu, "0..0xffffffff"},
    {"fw", 0, 0xFFFF, "0..0xffff"},
    {"newfw", 0, 0xFFFF, "0..0xffff"},
    {"boot", 0, 0xFFFFFFFFu, "0..0xffffffff"},
    {"unitver", 0, 0xFFFFFFFFu, "0..0xffffffff"},
    {"inlen", 1, 0xFFFF, "1..65535"},
    {"outlen", 1, 0xFFFF, "1..65535"},
    {"fleet", 1, SIM_MAX_FLEET, "1..64"},
    {"busy", 0, 1, "0..1"},
    {"lost", 0, 1, "0..1"},
};
constexpr uint32_t NUMBER_KEY_COUNT = sizeof(NUMBER_KEYS) / sizeof(NUMBER_KEYS[0]);

void StoreNumber(SimScenario* s, uint32_t key, uint64_t v)
{
    switch (key) {
    case 0: s->Others = static_cast<uint32_t>(v); break;
    case 1: s->Alien = v != 0; break;
    case 2: s->Second = v != 0; break;
    case 3: s->Mode = static_cast<uint8_t>(v); break;
    case 4: s->ControllerState = static_cast<uint16_t>(v); break;
    case 5: s->TypeCode = static_cast<uint32_t>(v); break;
    case 6: s->Firmware = static_cast<uint16_t>(v); break;
    case 7: s->NewFirmware = static_cast<uint16_t>(v); break;
    case 8: s->Bootloader = static_cast<uint32_t>(v); break;
    case 9: s->UnitVersion = static_cast<uint32_t>(v); break;
    case 10: s->InputLength = static_cast<uint16_t>(v); break;
    case 11: s->OutputLength = static_cast<uint16_t>(v); break;
    case 12: s->Fleet = static_cast<uint32_t>(v); break;
    case 13: s->Busy = v != 0; break;
    case 14: s->EventsLost = v != 0; break;
    default: break;
    }
}

// The message of an operation name that ParseOp did not take. Always -1.
int32_t FailOp(char* error, uint32_t capacity, Piece item, Piece opText, bool badBlock)
{
    char what[ITEM_CAPACITY + 40];
    char opName[ITEM_CAPACITY];
    Text(opText, opName);
    std::snprintf(what, sizeof what, badBlock ? BAD_BLOCK_FORMAT : "unknown operation '%s'", opName);
    return Fail(error, capacity, what, item);
}

// extra=OP, extra=OP:before or extra=OP:after.
int32_t ParseExtra(Piece item, Piece value, SimScenario* s, char* error, uint32_t capacity)
{
    uint32_t colon = 0;
    while (colon < value.Length && value.Begin[colon] != ':') ++colon;
    Piece opText = Trim(Piece{value.Begin, colon});
    s->ExtraAfter = false;
    if (colon < value.Length) {
        Piece when = Trim(After(value, colon + 1));
        if (Equals(when, "after")) s->ExtraAfter = true;
        else if (!Equals(when, "before")) return Fail(error, capacity, "extra takes OP, OP:before or OP:after", item);
    }
    bool badBlock = false;
    if (!ParseOp(opText, &s->ExtraOp, &s->ExtraBlock, &badBlock)) return FailOp(error, capacity, item, opText, badBlock);
    return 0;
}

int32_t ParseFault(Piece item, Piece value, SimScenario* s, char* error, uint32_t capacity)
{
    if (s->FaultCount >= SIM_MAX_FAULTS) return Fail(error, capacity, "too many faults (at most 16)", item);
    uint32_t colon = 0;
    while (colon < value.Length && value.Begin[colon] != ':') ++colon;
    if (colon == value.Length) return Fail(error, capacity, "fail needs OP:KIND", item);
    Piece opText = Trim(Piece{value.Begin, colon});
    Piece kindText = Trim(After(value, colon + 1));

    SimFault fault{};
    bool badBlock = false;
    if (!ParseOp(opText, &fault.Op, &fault.Block, &badBlock)) return FailOp(error, capacity, item, opText, badBlock);

    uint64_t n = 0;
    // The kinds that carry a value, named without it.
    if (Equals(kindText, "refuse")) return Fail(error, capacity, "'refuse' needs the unit's error code: refuse:CODE", item);
    if (Equals(kindText, "state")) return Fail(error, capacity, "'state' needs the reply's byte 3: state:N", item);
    if (Equals(kindText, "write")) {
        fault.Kind = SIM_FAULT_WRITE;
    } else if (Equals(kindText, "read")) {
        fault.Kind = SIM_FAULT_READ;
    } else if (Equals(kindText, "hang")) {
        fault.Kind = SIM_FAULT_HANG;
    } else if (StartsWith(kindText, "refuse:")) {
        fault.Kind = SIM_FAULT_REFUSE;
        if (ParseNumberIn(Trim(After(kindText, 7)), 0, 0xFFFFFFFFu, &n) != 0)
            return Fail(error, capacity, "bad error code (0..0xffffffff) for refuse", item);
        fault.Value = static_cast<uint32_t>(n);
    } else if (StartsWith(kindText, "state:")) {
        fault.Kind = SIM_FAULT_STATE;
        if (ParseNumberIn(Trim(After(kindText, 6)), 0, 0xFF, &n) != 0)
            return Fail(error, capacity, "bad state byte (0..255) for state", item);
        fault.Value = static_cast<uint32_t>(n);
    } else {
        char what[ITEM_CAPACITY + 40];
        char kindName[ITEM_CAPACITY];
        Text(kindText, kindName);
        std::snprintf(what, sizeof what, "unknown fault kind '%s'", kindName);
        return Fail(error, capacity, what, item);
    }
    s->Faults[s->FaultCount++] = fault;
    return 0;
}

}  // namespace

void SimDefaultScenario(SimScenario* out)
{
    *out = SimScenario{};
    out->Unit = SIM_UNIT_SETBOX;
    out->Others = 0;
    out->Alien = false;
    out->Second = false;
    out->Mode = UNIT_MODE_NORMAL;
    out->ControllerState = CONTROLLER_STATE_READY;
    out->TypeCode = 0x110FA0D2;
    out->Firmware = 0x0118;
    out->NewFirmware = 0x0119;
    out->Bootloader = 0x00000105;
    out->UnitVersion = 0x00011900;
    out->Fleet = 1;
    out->InputLength = REPORT_BUFFER_SIZE;
    out->OutputLength = REPORT_BUFFER_SIZE;
    out->FaultCount = 0;
    out->UnplugOp = REQUEST_STEP_UNKNOWN;
    out->UnplugBlock = 0;
    out->ExtraOp = REQUEST_STEP_UNKNOWN;
    out->ExtraBlock = 0;
    out->ExtraAfter = false;
    out->Busy = false;
    out->EventsLost = false;
    out->Broken = 0;
}

int32_t SimParseScenario(const char* scenario, SimScenario* out, char* error, uint32_t errorCapacity)
{
    if (error != nullptr && errorCapacity > 0) error[0] = '\0';
    if (out == nullptr) return -1;
    SimDefaultScenario(out);
    if (scenario == nullptr) return 0;

    Piece whole = Trim(Piece{scenario, static_cast<uint32_t>(std::strlen(scenario))});
    if (whole.Length == 0) return 0;

    // Keys seen so far, to refuse repetitions (fail and broken may repeat).
    bool seenNumber[NUMBER_KEY_COUNT] = {};
    bool seenUnit = false;
    bool seenUnplug = false;
    bool seenExtra = false;

    uint32_t position = 0;
    while (position <= whole.Length) {
        uint32_t comma = position;
        while (comma < whole.Length && whole.Begin[comma] != ',') ++comma;
        Piece item = Trim(Piece{whole.Begin + position, comma - position});
        position = comma + 1;
        if (item.Length == 0) {
            if (error != nullptr && errorCapacity > 0)
                std::snprintf(error, errorCapacity, "empty item (two commas, or a comma at an end)");
            return -1;
        }

        uint32_t eq = 0;
        while (eq < item.Length && item.Begin[eq] != '=') ++eq;
        if (eq == item.Length) return Fail(error, errorCapacity, "item is not key=value", item);
        Piece key = Trim(Piece{item.Begin, eq});
        Piece value = Trim(After(item, eq + 1));

        if (Equals(key, "unit")) {
            if (seenUnit) return Fail(error, errorCapacity, "repeated key 'unit'", item);
            seenUnit = true;
            if (Equals(value, "setbox")) out->Unit = SIM_UNIT_SETBOX;
            else if (Equals(value, "dialpuck")) out->Unit = SIM_UNIT_DIALPUCK;
            else if (Equals(value, "none")) out->Unit = SIM_UNIT_NONE;
            else return Fail(error, errorCapacity, "unknown unit (setbox, dialpuck or none)", item);
            continue;
        }
        if (Equals(key, "fail")) {
            if (ParseFault(item, value, out, error, errorCapacity) != 0) return -1;
            continue;
        }
        if (Equals(key, "unplug")) {
            if (seenUnplug) return Fail(error, errorCapacity, "repeated key 'unplug'", item);
            seenUnplug = true;
            bool badBlock = false;
            if (!ParseOp(value, &out->UnplugOp, &out->UnplugBlock, &badBlock))
                return FailOp(error, errorCapacity, item, value, badBlock);
            continue;
        }
        if (Equals(key, "extra")) {
            if (seenExtra) return Fail(error, errorCapacity, "repeated key 'extra'", item);
            seenExtra = true;
            if (ParseExtra(item, value, out, error, errorCapacity) != 0) return -1;
            continue;
        }
        if (Equals(key, "broken")) {
            if (Equals(value, "list")) out->Broken |= SIM_BROKEN_LIST;
            else if (Equals(value, "path")) out->Broken |= SIM_BROKEN_PATH;
            else if (Equals(value, "open")) out->Broken |= SIM_BROKEN_OPEN;
            else if (Equals(value, "ids")) out->Broken |= SIM_BROKEN_IDS;
            else if (Equals(value, "caps")) out->Broken |= SIM_BROKEN_CAPS;
            else return Fail(error, errorCapacity, "unknown platform call (list, path, open, ids or caps)", item);
            continue;
        }

        uint32_t k = 0;
        while (k < NUMBER_KEY_COUNT && !Equals(key, NUMBER_KEYS[k].Name)) ++k;
        if (k == NUMBER_KEY_COUNT) {
            char what[ITEM_CAPACITY + 20];
            char keyName[ITEM_CAPACITY];
            Text(key, keyName);
            std::snprintf(what, sizeof what, "unknown key '%s'", keyName);
            return Fail(error, errorCapacity, what, item);
        }
        char what[ITEM_CAPACITY + 40];
        if (seenNumber[k]) {
            std::snprintf(what, sizeof what, "repeated key '%s'", NUMBER_KEYS[k].Name);
            return Fail(error, errorCapacity, what, item);
        }
        seenNumber[k] = true;
        uint64_t n = 0;
        int32_t r = ParseNumberIn(value, NUMBER_KEYS[k].Min, NUMBER_KEYS[k].Max, &n);
        if (r == 1) {
            std::snprintf(what, sizeof what, "bad number for '%s'", NUMBER_KEYS[k].Name);
            return Fail(error, errorCapacity, what, item);
        }
        if (r == 2) {
            std::snprintf(what, sizeof what, "number out of range (%s) for '%s'", NUMBER_KEYS[k].Range,
                          NUMBER_KEYS[k].Name);
            return Fail(error, errorCapacity, what, item);
        }
        StoreNumber(out, k, n);
    }
    return 0;
}
