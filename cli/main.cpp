// velquor-flash: the updater on the terminal. Reads the command line, picks the language, the
// HID edge (the simulated unit under --sim, a record under --replay; recorded under --record,
// traced under --trace) and the terminal screen, and runs the command.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "record/recorder.h"
#include "app/texts.h"
#include "app/ui_platform.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/native_hid.h"
#include "cli/terminal.h"
#include "cli/terminal_texts.h"
#include "cli/terminal_ui.h"
#include "cli/trace.h"
#include "link/device_link.h"
#include "record/record_reader.h"
#include "record/replay_unit.h"
#include "sim/sim_unit.h"

namespace {

constexpr uint32_t MESSAGE_SIZE = 640;

#if defined(_WIN32)
const char* const kFrontEnd = RECORD_FRONT_END_FLASH_EXE;
#else
const char* const kFrontEnd = RECORD_FRONT_END_FLASH;
#endif

// --record: the file, opened before anything is sent, written when the command has ended.
std::FILE* g_RecordFile = nullptr;
const char* g_RecordPath = nullptr;
// --replay: the record that stands for the unit.
ParsedRecord g_Replayed;

// Writes the record kept in memory to --record's file (binary: LF line ends on every system).
// False, said on stderr, when it could not be written.
bool WriteRecordFile()
{
    StopRecorder();
    size_t length = 0;
    const char* text = RecorderText(&length);
    bool written = std::fwrite(text, 1, length, g_RecordFile) == length;
    written = std::fclose(g_RecordFile) == 0 && written;
    g_RecordFile = nullptr;
    if (!written) std::fprintf(stderr, "velquor-flash: the record could not be written to '%s'\n", g_RecordPath);
    return written;
}

// The first difference between the program and the record ends the replay and the program.
void StopAtDifference(const char* message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "velquor-flash: %s\n", message);
    std::fflush(stderr);
    std::exit(EXIT_REPLAY_DIFFERS);
}

// An update's end under --replay: its outcome, in the record's own words (the recorder keeps
// the run in memory), must be the one the replayed record holds.
void CompareOutcome(const UpdateOutcome&)
{
    size_t length = 0;
    const char* text = RecorderText(&length);
    // The last line "<ms> outcome <...>".
    const char* found = nullptr;
    for (const char* line = text; line < text + length;) {
        const char* end = static_cast<const char*>(std::memchr(line, '\n', static_cast<size_t>(text + length - line)));
        if (end == nullptr) end = text + length;
        const char* blank = static_cast<const char*>(std::memchr(line, ' ', static_cast<size_t>(end - line)));
        if (blank != nullptr && end - blank > 9 && std::strncmp(blank, " outcome ", 9) == 0) found = blank + 9;
        line = end + 1;
    }
    if (found == nullptr) return;
    char outcome[160];
    size_t outcomeLength = static_cast<size_t>(std::strchr(found, '\n') - found);
    if (outcomeLength >= sizeof outcome) outcomeLength = sizeof outcome - 1;
    std::memcpy(outcome, found, outcomeLength);
    outcome[outcomeLength] = '\0';
    ReplayOutcome(outcome);
}
const CommandListener kReplayListener = {CompareOutcome};

// --record and a signal outside the flash commands: the program ends at its next call of the HID
// edge (or of the device events), with the record written. Every call goes through here first.
const HidPlatform* g_Below = nullptr;
const DeviceEvents* g_EventsBelow = nullptr;

void ExitIfSignalled()
{
    int status = DeferredExitStatus();
    if (status == 0) return;
    if (g_RecordFile != nullptr) WriteRecordFile();
    std::fflush(stdout);
    std::exit(status);
}

InterfaceList ExitOpenInterfaceList(void) { ExitIfSignalled(); return g_Below->OpenInterfaceList(); }
int32_t ExitGetInterfacePath(InterfaceList list, uint32_t index, char16_t* path, uint32_t capacity)
{
    ExitIfSignalled();
    return g_Below->GetInterfacePath(list, index, path, capacity);
}
void ExitCloseInterfaceList(InterfaceList list) { g_Below->CloseInterfaceList(list); }
PlatformHandle ExitOpen(const char16_t* path) { ExitIfSignalled(); return g_Below->Open(path); }
bool ExitGetIds(PlatformHandle handle, uint16_t* vendorId, uint16_t* productId)
{
    return g_Below->GetIds(handle, vendorId, productId);
}
bool ExitGetReportLengths(PlatformHandle handle, uint16_t* inputLength, uint16_t* outputLength)
{
    return g_Below->GetReportLengths(handle, inputLength, outputLength);
}
bool ExitClaim(PlatformHandle handle) { return g_Below->Claim(handle); }
bool ExitDiscardInput(PlatformHandle handle) { ExitIfSignalled(); return g_Below->DiscardInput(handle); }
bool ExitWriteReport(PlatformHandle handle, const uint8_t* report, uint32_t length, uint32_t timeoutMs)
{
    ExitIfSignalled();
    return g_Below->WriteReport(handle, report, length, timeoutMs);
}
bool ExitReadReport(PlatformHandle handle, uint8_t* report, uint32_t length, uint32_t timeoutMs)
{
    return g_Below->ReadReport(handle, report, length, timeoutMs);
}
void ExitClose(PlatformHandle handle) { g_Below->Close(handle); }
void ExitSleep(uint32_t milliseconds)
{
    ExitIfSignalled();
    g_Below->Sleep(milliseconds);
}
uint32_t ExitLastError(void) { return g_Below->LastError(); }
uint64_t ExitMilliseconds(void) { return g_Below->Milliseconds(); }
bool ExitIsSimulation(void) { return g_Below->IsSimulation(); }

const HidPlatform kExitPointHid = {
    ExitOpenInterfaceList, ExitGetInterfacePath, ExitCloseInterfaceList, ExitOpen,
    ExitGetIds,            ExitGetReportLengths, ExitClaim,              ExitDiscardInput,
    ExitWriteReport,       ExitReadReport,       ExitClose,              ExitSleep,
    ExitLastError,         ExitMilliseconds,     ExitIsSimulation,
};

bool ExitEventsOpen() { return g_EventsBelow->Open(); }
int32_t ExitEventsWait(uint32_t timeoutMs, DeviceEventKind* kind, char16_t* path, uint32_t capacity)
{
    ExitIfSignalled();
    int32_t waited = g_EventsBelow->Wait(timeoutMs, kind, path, capacity);
    ExitIfSignalled();
    return waited;
}
void ExitEventsClose() { g_EventsBelow->Close(); }
const DeviceEvents kExitPointEvents = {ExitEventsOpen, ExitEventsWait, ExitEventsClose};

// watch under --replay: the record's arrivals and removals, until it holds none next.
bool ReplayEventsOpen() { return true; }
int32_t ReplayEventsWait(uint32_t, DeviceEventKind* kind, char16_t* path, uint32_t capacity)
{
    bool arrived = false;
    if (ReplayNextDeviceEvent(&arrived) == 0) return DEVICE_EVENTS_END;
    *kind = arrived ? DEVICE_ARRIVED : DEVICE_REMOVED;
    const char16_t kPath[] = u"replay";
    for (uint32_t i = 0; i < capacity; ++i) {
        path[i] = i + 1 < capacity ? kPath[i < 6 ? i : 6] : u'\0';
        if (path[i] == u'\0') break;
    }
    return 1;
}
void ReplayEventsClose() {}
const DeviceEvents kReplayEvents = {ReplayEventsOpen, ReplayEventsWait, ReplayEventsClose};

// The HID tables between the unit's edge (the system's, the simulated unit, or the replaying
// unit of --replay) and the core, stacked here and nowhere else. From the unit up:
//   1. the recorder (--record, --replay): right above the unit's edge, so that the record holds
//      what the edge itself answered, with its own errors and times, and a replay compares the
//      program's requests with the record before anything else can change them;
//   2. the trace (--trace): above the recorder, so that it prints each report as the record
//      holds it, once the recorder has seen it;
//   3. the exit point (--record): on top, the first to see every call, so that a signal noted
//      outside the flash commands ends the program before one more call reaches the unit, with the
//      record below it complete.
// Returns the table to select.
const HidPlatform* StackHidTables(const HidPlatform* unit, const CliOptions& options, const RecorderSettings& recorded)
{
    const HidPlatform* hid = unit;
    if (options.RecordPath != nullptr || options.ReplayPath != nullptr) {
        StartRecorder(hid, recorded);
        hid = &kRecorderHidPlatform;
    }
    if (options.Trace) {
        StartTrace(hid, stderr);
        hid = &kTraceHidPlatform;
    }
    if (g_RecordFile != nullptr) {
        DeferSignalExits(true);
        g_Below = hid;
        hid = &kExitPointHid;
    }
    return hid;
}

const char* ReadEnvironment(const char* name) { return std::getenv(name); }

uint64_t HidClock() { return g_Hid->Milliseconds(); }

}  // namespace

int main(int argc, char** argv)
{
    CliOptions options;
    char message[MESSAGE_SIZE];
    if (ParseCommandLine(argc, argv, &options, message, MESSAGE_SIZE) != 0) {
        std::fprintf(stderr, "velquor-flash: %s\n", message);
        return EXIT_USAGE;
    }
    if (options.Help) {
        PrintHelp(stdout);
        return EXIT_DONE;
    }
    if (options.Version) {
        PrintVersion(stdout);
        return EXIT_DONE;
    }

    SetTextLanguage(ChooseLanguage(options, ReadEnvironment));
    UseUtf8Terminal();
    StartInterruptHandling(TerminalText(TT_INTERRUPT_WARNING), TerminalText(TT_INTERRUPTED_MID_TRANSFER),
                           TerminalText(TT_SIGNAL_HELD));

    const HidPlatform* hid = &kSimHidPlatform;
    const char* edge = RecordEdgeName(RECORD_EDGE_SIM);
    uint32_t (*readDescriptor)(PlatformHandle, uint8_t*, uint32_t) = nullptr;
    if (options.ReplayPath != nullptr) {
        if (ReadRecordFile(options.ReplayPath, &g_Replayed, message, MESSAGE_SIZE) != 0) {
            std::fprintf(stderr, "velquor-flash: %s\n", message);
            return EXIT_USAGE;
        }
        // The log of a visit to the page or the window holds what the modeller did there: any
        // command may replay it.
        const char* recorded = RecordString(g_Replayed, g_Replayed.Command);
        if (!IsVisitCommand(recorded) && std::strcmp(recorded, CommandName(options.Command)) != 0) {
            std::fprintf(stderr, "velquor-flash: %s is a record of '%s': replay it with that command\n",
                         options.ReplayPath, recorded);
            return EXIT_USAGE;
        }
        StartReplay(&g_Replayed, options.Realtime);
        SetReplayStopHook(StopAtDifference);
        SetCommandListener(&kReplayListener);
        hid = &kReplayHidPlatform;
        edge = RecordString(g_Replayed, g_Replayed.EdgeName);
    } else if (options.Scenario == nullptr) {
        hid = NativeHidPlatform();
        if (hid == nullptr) {
            std::fputs("velquor-flash: this build has no USB back end yet; use --sim SCENARIO (see --help)\n", stderr);
            return EXIT_USAGE;
        }
        edge = NativeRecordEdge().Edge;
        readDescriptor = NativeRecordEdge().ReadDescriptor;
    } else {
        if (SimConfigure(options.Scenario, message, MESSAGE_SIZE) != 0) {
            std::fprintf(stderr, "velquor-flash: %s\n", message);
            return EXIT_USAGE;
        }
        SimSetRealtime(options.Realtime);
    }
    // The record: in memory under --replay (for the outcome), into FILE under --record.
    if (options.RecordPath != nullptr) {
        g_RecordPath = options.RecordPath;
        g_RecordFile = std::fopen(options.RecordPath, "wb");
        if (g_RecordFile == nullptr) {
            std::fprintf(stderr, "velquor-flash: the record can't be written to '%s' (%s); nothing was sent\n",
                         options.RecordPath, std::strerror(errno));
            return EXIT_USAGE;
        }
    }
    const RecorderSettings recorded = {kFrontEnd, edge, options.Scenario, CommandName(options.Command), readDescriptor,
                                       nullptr};
    SelectHidPlatform(StackHidTables(hid, options, recorded));

    BoxAnswering answering = BOX_ANSWER_DECLINE;
    if (options.Yes) {
        answering = BOX_ANSWER_CONFIRM;
    } else if (IsTerminal(stdin)) {
        answering = BOX_ANSWER_ASK;
    }
    TerminalUiSettings settings = {answering, IsTerminal(stderr) ? PROGRESS_BAR : PROGRESS_STEPS,
                                   stdout, stderr, stdin, HidClock};
    StartTerminalUi(settings);
    SelectUiPlatform(&kTerminalUi);

    int status = EXIT_USAGE;
    switch (options.Command) {
    case COMMAND_LIST: status = RunList(stdout); break;
    case COMMAND_IDENTIFY: status = RunIdentify(stdout); break;
    case COMMAND_STATUS: status = RunStatus(stdout); break;
    case COMMAND_UPDATE: status = RunUpdate(stdout); break;
    case COMMAND_WATCH: {
        const DeviceEvents* events = options.Scenario != nullptr ? &kSimDeviceEvents : NativeDeviceEvents();
        if (options.ReplayPath != nullptr) events = &kReplayEvents;
        if (g_RecordFile != nullptr && events != nullptr) {
            g_EventsBelow = events;
            events = &kExitPointEvents;
        }
        status = RunWatch(stdout, events, options.Yes, options.Reinstall);
        break;
    }
    case COMMAND_NONE: break;
    }
    // A unit that is there but may not be opened is no "no unit": say what stands in the way.
    // (watch says it at every arrival.)
    if (options.Scenario == nullptr && options.ReplayPath == nullptr && status != EXIT_DONE &&
        options.Command != COMMAND_WATCH)
        TellUnitRefusedByPermission();
    // Every request of the record must have been sent; StopAtDifference ends the program if not.
    if (options.ReplayPath != nullptr) ReplayEnd();
    // The record is written however the command ended; a signal noted meanwhile ends it so.
    if (g_RecordFile != nullptr && !WriteRecordFile() && status == EXIT_DONE) status = EXIT_FAILED;
    int signalled = DeferredExitStatus();
    return signalled != 0 ? signalled : status;
}
