// The record format's vocabulary: its version, the header's keys, the names of the HID edges and
// of the front ends, the commands of a visit, and the words of the events. The recorder
// (record/recorder.h) writes them, the reader (record/record_reader.h) reads them; the steps of
// the protocol that a record names are link/request_steps.h's. The README describes the format
// under "Records".
#pragma once

#include <cstdint>
#include <cstring>

constexpr uint32_t RECORD_FORMAT_VERSION = 1;

// The header's keys, in their order. The scenario (the simulated unit only), the browser (the
// page only) and the descriptor (where the edge can read one) may be left out.
constexpr const char* RECORD_KEY_FORMAT = "velquor-record";
constexpr const char* RECORD_KEY_UPDATER = "updater";
constexpr const char* RECORD_KEY_FIRMWARE = "firmware";
constexpr const char* RECORD_KEY_FRONT_END = "front-end";
constexpr const char* RECORD_KEY_EDGE = "edge";
constexpr const char* RECORD_KEY_SCENARIO = "scenario";
constexpr const char* RECORD_KEY_COMMAND = "command";
constexpr const char* RECORD_KEY_BROWSER = "browser";
constexpr const char* RECORD_KEY_UNIT = "unit";
constexpr const char* RECORD_KEY_DESCRIPTOR = "descriptor";
// The unit line: "unit 21b8:0002 input 60 output 60", or "unit none".
constexpr const char* RECORD_UNIT_NONE = "none";
constexpr const char* RECORD_UNIT_INPUT = "input";
constexpr const char* RECORD_UNIT_OUTPUT = "output";

// The HID edges a record can come from.
enum RecordEdge : uint8_t { RECORD_EDGE_HIDRAW, RECORD_EDGE_WIN32, RECORD_EDGE_WEBHID, RECORD_EDGE_SIM, RECORD_EDGE_COUNT };
constexpr const char* RECORD_EDGE_NAMES[RECORD_EDGE_COUNT] = {"hidraw", "win32", "webhid", "sim"};
constexpr const char* RecordEdgeName(RecordEdge edge) { return RECORD_EDGE_NAMES[edge]; }

// The front ends that write one.
constexpr const char* RECORD_FRONT_END_FLASH = "velquor-flash";
constexpr const char* RECORD_FRONT_END_FLASH_EXE = "velquor-flash.exe";
constexpr const char* RECORD_FRONT_END_PAGE = "page";
constexpr const char* RECORD_FRONT_END_WINDOW = "VelquorUpdater";
constexpr const char* RECORD_FRONT_END_WINDOW_SIM = "VelquorUpdaterSim";

// The command of the log of a visit to the page or the window, which holds whatever the modeller
// did there: any command replays it. Every other record names the command that made it.
constexpr const char* RECORD_COMMAND_PAGE = "page";
constexpr const char* RECORD_COMMAND_WINDOW = "window";
inline bool IsVisitCommand(const char* command)
{
    return std::strcmp(command, RECORD_COMMAND_PAGE) == 0 || std::strcmp(command, RECORD_COMMAND_WINDOW) == 0;
}

// The events, each after the milliseconds since the record began.
constexpr const char* RECORD_WRITTEN = ">";         // a report written: its bytes in hex
constexpr const char* RECORD_READ = "<";            // a report read
constexpr const char* RECORD_FAILED = "failed";     // after a write's bytes, or alone after '<': 0x<last error>
constexpr const char* RECORD_PAUSE = "pause";       // a pause the program asked for: its milliseconds
constexpr const char* RECORD_ARRIVAL = "arrival";   // a device came
constexpr const char* RECORD_REMOVAL = "removal";   // a device went
constexpr const char* RECORD_OUTCOME = "outcome";   // how an update ended:
constexpr const char* RECORD_SUCCESS = "success";   //   success firmware <version>
constexpr const char* RECORD_FAILURE = "failure";   //   failure <step> 0x<code>-0x<error> firmware <version>
constexpr const char* RECORD_DECLINED = "declined"; //   declined
constexpr const char* RECORD_FIRMWARE = "firmware";
constexpr const char* RECORD_NO_FIRMWARE = "none";  // the controller's version when it has no application
