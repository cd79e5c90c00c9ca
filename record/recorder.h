// The recorder: it keeps a record of what the programming unit said: every report written and
// read with its time, every pause the program asked for, arrivals, removals and how an update
// ended, behind a header that names the updater, the front end, the HID edge, the command and the
// unit. A modeller sends the record when something failed; a maintainer replays it as the unit
// (velquor-flash --replay, record/replay_unit.h).
//
// The recorder is a HID table that forwards every call unchanged to another one and keeps the
// record in memory. The text, version 1 (LF line ends; a reader takes CR LF too; the words are
// record/record_format.h's):
//
//   velquor-record 1
//   updater 2.0.0
//   firmware 1.25
//   front-end velquor-flash           velquor-flash | velquor-flash.exe | page
//   edge hidraw                       hidraw | win32 | webhid | sim
//   scenario fail=block#5:refuse:7    only with the simulated unit
//   command update
//   browser Mozilla/5.0 (X11; ...   the page only: the browser's user agent
//   unit 21b8:0002 input 60 output 60 the first programming unit opened; "unit none" without one
//   descriptor 06 a0 ff ...           the unit's report descriptor, where the edge can read it
//   0 > 01 10 00 ...                  a report written (<ms since the start> > <bytes>)
//   3 < 02 10 00 ...                  a report read
//   9 > 01 21 ... failed 0x0000001f   a write that failed, with the platform's last error
//   15009 < failed 0x000005b4         a read that failed or timed out, with the last error
//   20 pause 20                       a pause the program asked for, in ms
//   31 arrival / 31 removal           a device came or went
//   46200 outcome success firmware 1.25
//   46200 outcome failure block 0x00000007-0x00000000 firmware none
//   46200 outcome declined
//
// Nothing about the person or the computer is written: no host or user name, no folder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/hid_platform.h"
#include "record/record_format.h"
#include "update/update.h"

struct RecorderSettings {
    const char* FrontEnd;  // RECORD_FRONT_END_...
    const char* Edge;      // RecordEdgeName(...)
    const char* Scenario;  // the simulated unit's scenario; nullptr on a real edge
    const char* Command;   // the command run ("update", "status", ...; a visit: RECORD_COMMAND_...)
    // Reads the report descriptor of an open interface where the edge can: its length in bytes
    // (at most `capacity`), 0 when it can't. nullptr for an edge that never can.
    uint32_t (*ReadDescriptor)(PlatformHandle handle, uint8_t* descriptor, uint32_t capacity);
    // The page: the browser's user agent, written as the line "browser <agent>" after the
    // command's; nullptr elsewhere (and no line).
    const char* Browser;
};

// Makes kRecorderHidPlatform forward to `forwarded` and starts an empty record; the time count
// starts now. Select kRecorderHidPlatform afterwards.
void StartRecorder(const HidPlatform* forwarded, const RecorderSettings& settings);

extern const HidPlatform kRecorderHidPlatform;

// Ends the record: nothing more is kept, the table still forwards, the text stays to be read.
void StopRecorder();

// Forgets every event and the unit, and starts the time count anew; the header's other lines stay.
void RestartRecorder();

// Keeps the record in memory within about `bytes` (0, the default: no bound), for a program
// that may run for a long visit: when a look at a unit (a discovery, with the arrival that
// brought it) begins and the record holds more, the oldest looks are left out, each whole with
// what followed it (its update, the unit's removal), until it is within the bound again. The
// last three updates and the looks that led to them are always kept, whatever their size. The
// text then says, as a note after the header, how many lines of how long a start were left out.
void KeepRecorderWithin(size_t bytes);

// What the core learns outside the HID table: a device came or went. Without a record being
// made, this and RecordUpdateOutcome do nothing.
void RecordDeviceEvent(bool arrival);

// How an update ended.
void RecordUpdateOutcome(const UpdateOutcome& outcome);

// The whole record as text, ending in a line end. Valid until the next call into the recorder.
const char* RecorderText(size_t* length);
