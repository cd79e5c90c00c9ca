// The replaying unit: a HID table that presents a record (record/record_reader.h) as the one
// programming unit, with the record's ids and report lengths. Every report written must equal
// the record's next request byte for byte, in order, and gets the reply recorded after it; a read
// that failed or timed out in the record fails again with the recorded error; a write or read
// that failed because the unit was gone, and a removal in the record, unplug the unit from there
// on (until an arrival). Pauses run on a virtual clock that follows the record's times, unless
// the replay runs in real time.
//
// The first call that differs from the record stops the replay: the stop hook gets one line that
// names the request (its number and line in the record, its step), the first differing byte,
// and what the record holds against what was sent. From then on the unit is gone.
//
// Nothing the replay does reaches a real unit: the table counts as a simulation (it may be given
// the generated stand-in images, to replay records made with them).
#pragma once

#include <cstdint>

#include "link/hid_platform.h"
#include "record/record_reader.h"

extern const HidPlatform kReplayHidPlatform;

// Makes kReplayHidPlatform present `record` (kept by the caller for as long as the replay runs);
// the clock starts at 0. `realtime`: pauses and replies take the time they took in the record.
void StartReplay(const ParsedRecord* record, bool realtime);

// Called once, at the first difference, with the message (one line, no line end). Velquor-flash
// ends the program there; when the hook returns, the replay goes on with the unit gone.
void SetReplayStopHook(void (*stop)(const char* message));

// The program's own account of how an update ended, in the words of the record's outcome line
// ("success firmware 1.25", "failure block 0x00000007-0x00000000 firmware none", "declined"): it
// must be the record's next event. False, and the replay stopped, when it is not.
bool ReplayOutcome(const char* outcome);

// The command has ended: true when the program sent every request of the record and told every
// outcome; otherwise the replay stops here, naming the first one left.
bool ReplayEnd();

// For watch: the record's next arrival or removal, when that is what the record holds next
// (pauses aside). 1 with *arrived set (the unit comes or goes with it), 0 when the record holds
// something else next or has ended.
int32_t ReplayNextDeviceEvent(bool* arrived);

// Whether the replay stopped at a difference, and its message ("" while it did not).
bool ReplayStopped();
const char* ReplayStopMessage();
