// The record reader: the header in its order, then one event per line.
#include "record/record_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "link/device_link.h"

namespace {

constexpr uint32_t QUOTE_LIMIT = 40;
constexpr uint32_t MAX_FILE_SIZE = 64u * 1024u * 1024u;

// One line of the text without its line end, and where the parser stands in it.
struct Cursor {
    const char* At;
    const char* End;
};

struct Parser {
    ParsedRecord* Out;
    uint32_t Line;
    uint32_t EventCapacity;
    uint32_t ByteCount, ByteCapacity;
    uint32_t TextCount, TextCapacity;
    char* Error;
    uint32_t ErrorCapacity;
};

// "line N: " + the message, with the rest of the line quoted (cut to a readable length).
bool Fail(Parser* p, const char* message, Cursor found)
{
    uint32_t length = static_cast<uint32_t>(found.End - found.At);
    bool cut = length > QUOTE_LIMIT;
    if (cut) length = QUOTE_LIMIT;
    if (length == 0) {
        std::snprintf(p->Error, p->ErrorCapacity, "line %u: %s, found the end of the line", p->Line, message);
    } else {
        std::snprintf(p->Error, p->ErrorCapacity, "line %u: %s, found '%.*s%s'", p->Line, message,
                      static_cast<int>(length), found.At, cut ? "..." : "");
    }
    return false;
}

bool FailPlain(Parser* p, const char* message)
{
    std::snprintf(p->Error, p->ErrorCapacity, "line %u: %s", p->Line, message);
    return false;
}

bool AtEnd(const Cursor& c) { return c.At >= c.End; }

// The next blank-separated word; empty at the end of the line.
Cursor Word(Cursor* c)
{
    while (c->At < c->End && *c->At == ' ') ++c->At;
    Cursor word = {c->At, c->At};
    while (c->At < c->End && *c->At != ' ') ++c->At;
    word.End = c->At;
    return word;
}

bool WordIs(const Cursor& word, const char* text)
{
    size_t length = std::strlen(text);
    return static_cast<size_t>(word.End - word.At) == length && std::memcmp(word.At, text, length) == 0;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A decimal number of at most `limit`.
bool Decimal(const Cursor& word, uint64_t limit, uint64_t* value)
{
    if (AtEnd(word) || word.End - word.At > 19) return false;
    uint64_t v = 0;
    for (const char* c = word.At; c < word.End; ++c) {
        if (*c < '0' || *c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(*c - '0');
    }
    if (v > limit) return false;
    *value = v;
    return true;
}

// Exactly `digits` hex digits (or 1..8 when digits is 0, after "0x").
bool Hex(const char* at, const char* end, uint32_t* value)
{
    if (at >= end || end - at > 8) return false;
    uint32_t v = 0;
    for (const char* c = at; c < end; ++c) {
        int d = HexDigit(*c);
        if (d < 0) return false;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    *value = v;
    return true;
}

// "0x" + hex digits: a last error.
bool ErrorCode(const Cursor& word, uint32_t* value)
{
    return word.End - word.At > 2 && word.At[0] == '0' && word.At[1] == 'x' && Hex(word.At + 2, word.End, value);
}

bool HexByte(const Cursor& word, uint8_t* value)
{
    uint32_t v = 0;
    if (word.End - word.At != 2 || !Hex(word.At, word.End, &v)) return false;
    *value = static_cast<uint8_t>(v);
    return true;
}

// Copies the rest of the line into the text pool.
uint32_t KeepText(Parser* p, Cursor text)
{
    while (text.At < text.End && *text.At == ' ') ++text.At;
    uint32_t length = static_cast<uint32_t>(text.End - text.At);
    uint32_t at = p->TextCount;
    if (at + length + 1 > p->TextCapacity) return 0;  // can't happen: the pool is as large as the text
    std::memcpy(p->Out->Text + at, text.At, length);
    p->Out->Text[at + length] = '\0';
    p->TextCount += length + 1;
    return at;
}

// Hex bytes up to the end of the line or up to the word "failed" (left in *c).
bool Bytes(Parser* p, Cursor* c, uint32_t* at, uint32_t* count)
{
    *at = p->ByteCount;
    *count = 0;
    for (;;) {
        Cursor before = *c;
        Cursor word = Word(c);
        if (AtEnd(word)) return true;
        if (WordIs(word, RECORD_FAILED)) {
            *c = before;
            return true;
        }
        uint8_t value = 0;
        if (!HexByte(word, &value)) return Fail(p, "expected a report's bytes (two hex digits each) or 'failed'", word);
        if (p->ByteCount >= p->ByteCapacity) return FailPlain(p, "too many bytes");
        p->Out->Bytes[p->ByteCount++] = value;
        ++*count;
    }
}

// " failed 0x<error>" at the end of a report line, or nothing.
bool Failure(Parser* p, Cursor* c, RecordEvent* event)
{
    Cursor word = Word(c);
    if (AtEnd(word)) return true;
    if (!WordIs(word, RECORD_FAILED)) return Fail(p, "expected 'failed' or the end of the line", word);
    Cursor code = Word(c);
    if (!ErrorCode(code, &event->Error)) return Fail(p, "expected the last error after 'failed' (0x and 8 hex digits)", code);
    event->Failed = true;
    Cursor rest = Word(c);
    if (!AtEnd(rest)) return Fail(p, "expected the end of the line after the last error", rest);
    return true;
}

bool NothingMore(Parser* p, Cursor* c)
{
    Cursor rest = Word(c);
    return AtEnd(rest) || Fail(p, "expected the end of the line", rest);
}

// The header, one key per line in this order; scenario, browser and descriptor may be left out.
enum HeaderKey { KEY_VERSION, KEY_UPDATER, KEY_FIRMWARE, KEY_FRONT_END, KEY_EDGE, KEY_SCENARIO, KEY_COMMAND, KEY_BROWSER, KEY_UNIT, KEY_DESCRIPTOR, KEY_BODY };
const char* const kKeyNames[] = {RECORD_KEY_FORMAT, RECORD_KEY_UPDATER, RECORD_KEY_FIRMWARE, RECORD_KEY_FRONT_END,
                                 RECORD_KEY_EDGE,   RECORD_KEY_SCENARIO, RECORD_KEY_COMMAND,  RECORD_KEY_BROWSER,
                                 RECORD_KEY_UNIT,   RECORD_KEY_DESCRIPTOR};
const char* const kExpected[] = {
    "expected 'velquor-record 1' (this is no record)", "expected 'updater <version>'",
    "expected 'firmware <version>'", "expected 'front-end <name>'",
    "expected 'edge hidraw', 'edge win32', 'edge webhid' or 'edge sim'", "expected 'scenario <text>' or 'command <name>'",
    "expected 'command <name>'", "expected 'browser <agent>' or 'unit ...'", "expected 'unit <vendor>:<product> input <n> output <n>' or 'unit none'",
    "expected 'descriptor <bytes>' or the first event"};

bool ParseUnit(Parser* p, Cursor c, Cursor line)
{
    ParsedRecord* r = p->Out;
    Cursor ids = Word(&c);
    if (WordIs(ids, RECORD_UNIT_NONE)) {
        r->HasUnit = false;
        return NothingMore(p, &c);
    }
    uint32_t vendor = 0, product = 0;
    const char* colon = static_cast<const char*>(std::memchr(ids.At, ':', static_cast<size_t>(ids.End - ids.At)));
    if (colon == nullptr || colon - ids.At != 4 || ids.End - colon != 5 || !Hex(ids.At, colon, &vendor) ||
        !Hex(colon + 1, ids.End, &product))
        return Fail(p, kExpected[KEY_UNIT], line);
    uint64_t input = 0, output = 0;
    Cursor w1 = Word(&c), n1 = Word(&c), w2 = Word(&c), n2 = Word(&c);
    if (!WordIs(w1, RECORD_UNIT_INPUT) || !Decimal(n1, 65535, &input) || input == 0 || !WordIs(w2, RECORD_UNIT_OUTPUT) ||
        !Decimal(n2, 65535, &output) || output == 0)
        return Fail(p, kExpected[KEY_UNIT], line);
    r->HasUnit = true;
    r->VendorId = static_cast<uint16_t>(vendor);
    r->ProductId = static_cast<uint16_t>(product);
    r->InputLength = static_cast<uint16_t>(input);
    r->OutputLength = static_cast<uint16_t>(output);
    return NothingMore(p, &c);
}

// One header line; *key is the key expected next and moves on.
bool ParseHeaderLine(Parser* p, Cursor line, HeaderKey* key)
{
    ParsedRecord* r = p->Out;
    Cursor c = line;
    Cursor word = Word(&c);
    if (*key == KEY_VERSION) {
        uint64_t version = 0;
        Cursor number = Word(&c);
        if (!WordIs(word, kKeyNames[KEY_VERSION]) || !Decimal(number, 1000000, &version))
            return Fail(p, kExpected[KEY_VERSION], line);
        if (version != RECORD_FORMAT_VERSION) {
            std::snprintf(p->Error, p->ErrorCapacity,
                          "line %u: a record of format version %u; this program reads version %u", p->Line,
                          static_cast<unsigned>(version), static_cast<unsigned>(RECORD_FORMAT_VERSION));
            return false;
        }
        r->Version = static_cast<uint32_t>(version);
        *key = KEY_UPDATER;
        return NothingMore(p, &c);
    }
    // Keys that may be left out: the scenario (edges other than sim) and the descriptor.
    if (*key == KEY_SCENARIO && !WordIs(word, RECORD_KEY_SCENARIO)) *key = KEY_COMMAND;
    if (*key == KEY_BROWSER && !WordIs(word, RECORD_KEY_BROWSER)) *key = KEY_UNIT;
    if (*key == KEY_DESCRIPTOR && !WordIs(word, RECORD_KEY_DESCRIPTOR)) {
        *key = KEY_BODY;
        return true;  // the caller parses the line as the first event
    }
    if (!WordIs(word, kKeyNames[*key])) return Fail(p, kExpected[*key], line);
    switch (*key) {
    case KEY_UPDATER:
    case KEY_FIRMWARE:
    case KEY_FRONT_END:
    case KEY_COMMAND: {
        Cursor value = Word(&c);
        if (AtEnd(value)) return Fail(p, kExpected[*key], line);
        uint32_t at = KeepText(p, {value.At, line.End});
        if (*key == KEY_UPDATER) r->Updater.At = at;
        if (*key == KEY_FIRMWARE) r->Firmware.At = at;
        if (*key == KEY_FRONT_END) r->FrontEnd.At = at;
        if (*key == KEY_COMMAND) r->Command.At = at;
        break;
    }
    case KEY_EDGE: {
        Cursor name = Word(&c);
        bool known = false;
        for (uint32_t i = 0; i < RECORD_EDGE_COUNT; ++i) {
            if (WordIs(name, RECORD_EDGE_NAMES[i])) {
                r->Edge = static_cast<RecordEdge>(i);
                known = true;
            }
        }
        if (!known) return Fail(p, kExpected[KEY_EDGE], line);
        r->EdgeName.At = KeepText(p, name);
        if (!NothingMore(p, &c)) return false;
        break;
    }
    case KEY_SCENARIO:
        r->HasScenario = true;
        r->Scenario.At = KeepText(p, c);
        break;
    case KEY_BROWSER:
        r->HasBrowser = true;
        r->Browser.At = KeepText(p, c);
        break;
    case KEY_UNIT:
        if (!ParseUnit(p, c, line)) return false;
        break;
    case KEY_DESCRIPTOR: {
        uint32_t at = 0, count = 0;
        if (!Bytes(p, &c, &at, &count)) return false;
        if (count == 0 || !AtEnd(Word(&c))) return Fail(p, "expected the descriptor's bytes (two hex digits each)", line);
        r->DescriptorAt = at;
        r->DescriptorLength = count;
        break;
    }
    default: break;
    }
    *key = static_cast<HeaderKey>(*key + 1);
    return true;
}

bool ParseEventLine(Parser* p, Cursor line)
{
    ParsedRecord* r = p->Out;
    Cursor c = line;
    RecordEvent event = {};
    event.Line = p->Line;
    Cursor time = Word(&c);
    if (!Decimal(time, static_cast<uint64_t>(1) << 53, &event.Ms))
        return Fail(p, "expected an event: the milliseconds since the start, then '>', '<', 'pause', 'arrival', "
                       "'removal' or 'outcome'", line);
    if (r->EventCount > 0 && event.Ms < r->Events[r->EventCount - 1].Ms) {
        std::snprintf(p->Error, p->ErrorCapacity, "line %u: %llu ms is earlier than the line before (%llu ms)",
                      p->Line, static_cast<unsigned long long>(event.Ms),
                      static_cast<unsigned long long>(r->Events[r->EventCount - 1].Ms));
        return false;
    }
    Cursor what = Word(&c);
    if (WordIs(what, RECORD_WRITTEN) || WordIs(what, RECORD_READ)) {
        event.Kind = WordIs(what, RECORD_WRITTEN) ? RECORD_WRITE_EVENT : RECORD_READ_EVENT;
        if (!r->HasUnit) return FailPlain(p, "a report, but the header says 'unit none'");
        if (!Bytes(p, &c, &event.BytesAt, &event.ByteCount) || !Failure(p, &c, &event)) return false;
        uint32_t expected = event.Kind == RECORD_WRITE_EVENT ? r->OutputLength : r->InputLength;
        bool bytesExpected = event.Kind == RECORD_WRITE_EVENT || !event.Failed;
        if (bytesExpected && event.ByteCount != expected) {
            std::snprintf(p->Error, p->ErrorCapacity, "line %u: a report of %u bytes; the unit's %s reports have %u",
                          p->Line, event.ByteCount, event.Kind == RECORD_WRITE_EVENT ? "output" : "input", expected);
            return false;
        }
        if (!bytesExpected && event.ByteCount != 0) return FailPlain(p, "a failed read with bytes");
    } else if (WordIs(what, RECORD_PAUSE)) {
        event.Kind = RECORD_PAUSE_EVENT;
        uint64_t ms = 0;
        Cursor number = Word(&c);
        if (!Decimal(number, 0xFFFFFFFFu, &ms)) return Fail(p, "expected the pause's milliseconds", number);
        event.Pause = static_cast<uint32_t>(ms);
        if (!NothingMore(p, &c)) return false;
    } else if (WordIs(what, RECORD_ARRIVAL) || WordIs(what, RECORD_REMOVAL)) {
        event.Kind = WordIs(what, RECORD_ARRIVAL) ? RECORD_ARRIVAL_EVENT : RECORD_REMOVAL_EVENT;
        if (!NothingMore(p, &c)) return false;
    } else if (WordIs(what, RECORD_OUTCOME)) {
        event.Kind = RECORD_OUTCOME_EVENT;
        Cursor rest = c;
        Cursor first = Word(&rest);
        if (!WordIs(first, RECORD_SUCCESS) && !WordIs(first, RECORD_FAILURE) && !WordIs(first, RECORD_DECLINED))
            return Fail(p, "expected 'success', 'failure' or 'declined' after 'outcome'", first);
        event.TextAt = KeepText(p, c);
    } else {
        return Fail(p, "expected '>', '<', 'pause', 'arrival', 'removal' or 'outcome' after the time", what);
    }
    r->Events[r->EventCount++] = event;
    return true;
}

}  // namespace

void FreeParsedRecord(ParsedRecord* record)
{
    delete[] record->Events;
    delete[] record->Bytes;
    delete[] record->Text;
    std::memset(record, 0, sizeof *record);
}

int32_t ParseRecord(const char* text, uint32_t size, ParsedRecord* record, char* error, uint32_t errorCapacity)
{
    std::memset(record, 0, sizeof *record);
    if (errorCapacity > 0) error[0] = '\0';
    uint32_t lines = 1;
    for (uint32_t i = 0; i < size; ++i) lines += text[i] == '\n' ? 1u : 0u;

    Parser p = {record, 0, lines, 0, size / 2 + 1, 1, size + 2, error, errorCapacity};
    record->Events = new (std::nothrow) RecordEvent[lines];
    record->Bytes = new (std::nothrow) uint8_t[p.ByteCapacity];
    record->Text = new (std::nothrow) char[p.TextCapacity];
    if (record->Events == nullptr || record->Bytes == nullptr || record->Text == nullptr) {
        FreeParsedRecord(record);
        std::snprintf(error, errorCapacity, "the record is too large to be read");
        return -1;
    }
    record->Text[0] = '\0';  // every text left unset reads as empty

    HeaderKey key = KEY_VERSION;
    const char* at = text;
    const char* end = text + size;
    bool ok = true;
    while (ok && at < end) {
        ++p.Line;
        const char* lineEnd = static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at)));
        if (lineEnd == nullptr) {
            // Every line the writer writes ends with its line end: one without was cut off.
            std::snprintf(error, errorCapacity, "line %u: the record ends in the middle of this line (it was cut off)",
                          p.Line);
            ok = false;
            break;
        }
        Cursor line = {at, lineEnd};
        at = lineEnd + 1;
        if (line.End > line.At && line.End[-1] == '\r') --line.End;
        if (line.At == line.End || line.At[0] == '#') continue;
        if (key != KEY_BODY) {
            ok = ParseHeaderLine(&p, line, &key);
            if (!ok || key != KEY_BODY) continue;
            // "descriptor" left out: this line is the first event.
            if (line.End - line.At >= 10 && std::memcmp(line.At, "descriptor", 10) == 0) continue;
        }
        ok = ParseEventLine(&p, line);
    }
    if (ok && key < KEY_DESCRIPTOR) {
        if (p.Line == 0) {
            std::snprintf(error, errorCapacity, "the record is empty: line 1 should read 'velquor-record 1'");
        } else {
            std::snprintf(error, errorCapacity, "line %u: the record ends inside its header: %s", p.Line + 1,
                          kExpected[key]);
        }
        ok = false;
    }
    if (!ok) {
        FreeParsedRecord(record);
        return -1;
    }
    return 0;
}

int32_t ReadRecordFile(const char* path, ParsedRecord* record, char* error, uint32_t errorCapacity)
{
    std::memset(record, 0, sizeof *record);
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        std::snprintf(error, errorCapacity, "the record '%s' can't be opened (%s)", path, std::strerror(errno));
        return -1;
    }
    uint32_t capacity = 64 * 1024, size = 0;
    char* text = new (std::nothrow) char[capacity];
    bool failed = text == nullptr;
    while (!failed) {
        if (size == capacity) {
            if (capacity >= MAX_FILE_SIZE) {
                failed = true;
                break;
            }
            char* larger = new (std::nothrow) char[capacity * 2];
            if (larger == nullptr) {
                failed = true;
                break;
            }
            std::memcpy(larger, text, size);
            delete[] text;
            text = larger;
            capacity *= 2;
        }
        size_t got = std::fread(text + size, 1, capacity - size, file);
        size += static_cast<uint32_t>(got);
        if (got == 0) {
            failed = std::ferror(file) != 0;
            break;
        }
    }
    std::fclose(file);
    if (failed) {
        delete[] text;
        std::snprintf(error, errorCapacity, "the record '%s' can't be read (too large, or a read error)", path);
        return -1;
    }
    char message[400];
    int32_t result = ParseRecord(text, size, record, message, sizeof message);
    delete[] text;
    if (result != 0) std::snprintf(error, errorCapacity, "%s: %s", path, message);
    return result;
}
