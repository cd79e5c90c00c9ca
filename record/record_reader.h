// Reading a record back (the format record/record_format.h names and record/recorder.h writes,
// described in the README under "Records"): the header's fields and the body's events, each with
// the line it came from.
// Accepts LF and CR LF line ends; skips comment lines ('#') and empty lines. A record that is
// missing, cut off or garbled gets one line of explanation (its line number and what was
// expected there); nothing in the text can make the reader read or write outside its buffers.
#pragma once

#include <cstdint>

#include "record/record_format.h"

enum RecordEventKind : uint8_t {
    RECORD_WRITE_EVENT,    // "<ms> > <bytes>[ failed 0x<error>]"
    RECORD_READ_EVENT,     // "<ms> < <bytes>" or "<ms> < failed 0x<error>"
    RECORD_PAUSE_EVENT,    // "<ms> pause <n>"
    RECORD_ARRIVAL_EVENT,  // "<ms> arrival"
    RECORD_REMOVAL_EVENT,  // "<ms> removal"
    RECORD_OUTCOME_EVENT,  // "<ms> outcome <text>"
};

struct RecordEvent {
    RecordEventKind Kind;
    bool Failed;          // a write or read that failed; Error holds the last error
    uint32_t Line;        // the line of the text, from 1
    uint64_t Ms;
    uint32_t Error;
    uint32_t Pause;       // RECORD_PAUSE_EVENT: the milliseconds asked for
    uint32_t BytesAt;     // the report's bytes: ParsedRecord::Bytes[BytesAt .. BytesAt + ByteCount)
    uint32_t ByteCount;
    uint32_t TextAt;      // RECORD_OUTCOME_EVENT: the text after "outcome ", at ParsedRecord::Text + TextAt
};

// A text field of the header: ParsedRecord::Text + At, terminated.
struct RecordField {
    uint32_t At;
};

struct ParsedRecord {
    uint32_t Version;
    RecordField Updater;
    RecordField Firmware;
    RecordField FrontEnd;
    RecordEdge Edge;
    RecordField EdgeName;
    bool HasScenario;
    RecordField Scenario;
    RecordField Command;
    bool HasBrowser;               // a page's record: the browser's user agent
    RecordField Browser;
    bool HasUnit;                  // false: "unit none"
    uint16_t VendorId, ProductId;
    uint16_t InputLength, OutputLength;
    uint32_t DescriptorAt, DescriptorLength;  // into Bytes; length 0: none in the record
    RecordEvent* Events;
    uint32_t EventCount;
    uint8_t* Bytes;
    char* Text;
};

// The text of a header field or an outcome.
inline const char* RecordString(const ParsedRecord& record, RecordField text) { return record.Text + text.At; }

// Parses `size` bytes of `text` into `record` (which it owns afterwards: FreeParsedRecord). 0, or -1
// with one line (no newline) in `error`, such as "line 7: expected a report's bytes in hex,
// found 'zz'"; `record` is left empty then.
int32_t ParseRecord(const char* text, uint32_t size, ParsedRecord* record, char* error, uint32_t errorCapacity);

// Reads the file at `path` (UTF-8) and parses it. The error names the file's problem when it
// can't be read.
int32_t ReadRecordFile(const char* path, ParsedRecord* record, char* error, uint32_t errorCapacity);

void FreeParsedRecord(ParsedRecord* record);

