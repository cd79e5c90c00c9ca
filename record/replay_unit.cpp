// The replaying unit (see replay_unit.h). Calls the record does not hold (the interface list,
// opening, ids, report lengths, the claim, discarding input) are answered from the header and
// from whether the unit is present; writes and reads follow the record's events in order.
#include "record/replay_unit.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "link/request_steps.h"
#include "link/system_errors.h"

namespace {

constexpr uint32_t MESSAGE_SIZE = 512;
constexpr InterfaceList REPLAY_LIST = 0x5E5E;
constexpr PlatformHandle REPLAY_HANDLE = 0x5E;
const char16_t kUnitPath[] = u"replay";

// The code with which hidraw reports a unit that went away (ENODEV); the other edges report
// SYSTEM_ERROR_DEVICE_NOT_CONNECTED. The calls the record does not hold fail with the codes of
// link/system_errors.h, as the simulated unit's do.
constexpr uint32_t GONE_HIDRAW = 19;

struct Replay {
    const ParsedRecord* Source;
    uint32_t Next;             // the next event to be met
    uint32_t NextOutcome;      // the next outcome to be told (outcomes are met apart from the traffic)
    uint32_t Requests;         // requests met so far
    uint32_t Blocks;           // data blocks among them
    bool Present;
    bool Stopped;
    bool Realtime;
    uint64_t VirtualMs;
    std::chrono::steady_clock::time_point RealBase;
    uint32_t LastError;
    uint32_t GoneError;
    char Message[MESSAGE_SIZE];
};

Replay g_Replay = {};
void (*g_StopHook)(const char* message) = nullptr;

uint64_t Now()
{
    if (!g_Replay.Realtime) return g_Replay.VirtualMs;
    auto elapsed = std::chrono::steady_clock::now() - g_Replay.RealBase;
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void Wait(uint64_t ms)
{
    if (g_Replay.Realtime) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    } else {
        g_Replay.VirtualMs += ms;
    }
}

// The clock reaches the time of a recorded event (a reply that took long, a time-out), waiting
// at most `limitMs` for it.
void ReachTimeOf(const RecordEvent& event, uint64_t limitMs)
{
    uint64_t now = Now();
    if (event.Ms <= now) return;
    uint64_t wait = event.Ms - now;
    Wait(wait < limitMs ? wait : limitMs);
}

bool Fail(uint32_t error)
{
    g_Replay.LastError = error;
    return false;
}

bool Succeed()
{
    g_Replay.LastError = 0;
    return true;
}

const RecordEvent& EventAt(uint32_t index) { return g_Replay.Source->Events[index]; }
const uint8_t* BytesOf(const RecordEvent& event) { return g_Replay.Source->Bytes + event.BytesAt; }

// Passes over pauses, outcomes, arrivals and removals (the unit comes and goes with them) to the
// next write or read; the record's event count when none is left.
uint32_t NextExchange()
{
    const ParsedRecord* record = g_Replay.Source;
    while (g_Replay.Next < record->EventCount) {
        const RecordEvent& event = EventAt(g_Replay.Next);
        if (event.Kind == RECORD_WRITE_EVENT || event.Kind == RECORD_READ_EVENT) break;
        if (event.Kind == RECORD_ARRIVAL_EVENT) g_Replay.Present = true;
        if (event.Kind == RECORD_REMOVAL_EVENT) g_Replay.Present = false;
        ++g_Replay.Next;
    }
    return g_Replay.Next;
}

// The line the record ends with, for messages about its end.
uint32_t LastLine()
{
    const ParsedRecord* record = g_Replay.Source;
    return record->EventCount == 0 ? 0 : record->Events[record->EventCount - 1].Line;
}

// "block #7" or "erase": the step of a request, numbered among the blocks for a data block.
void StepText(const uint8_t* request, uint32_t length, uint32_t blockNumber, char* text, uint32_t capacity)
{
    RequestStep step = RequestStepOf(request, length);
    if (step == REQUEST_STEP_BLOCK) {
        std::snprintf(text, capacity, "%s #%u", RequestStepText(step), blockNumber);
    } else {
        std::snprintf(text, capacity, "%s", RequestStepText(step));
    }
}

// Counts the requests and blocks of the record up to event `index` (not included).
void CountBefore(uint32_t index, uint32_t* requests, uint32_t* blocks)
{
    *requests = g_Replay.Requests;
    *blocks = g_Replay.Blocks;
    for (uint32_t i = g_Replay.Next; i < index; ++i) {
        const RecordEvent& event = EventAt(i);
        if (event.Kind != RECORD_WRITE_EVENT) continue;
        ++*requests;
        if (RequestStepOf(BytesOf(event), event.ByteCount) == REQUEST_STEP_BLOCK) ++*blocks;
    }
}

// What the record holds at event `index`, for a message: "request #12 (line 30, step erase)".
void DescribeEvent(uint32_t index, char* text, uint32_t capacity)
{
    if (index >= g_Replay.Source->EventCount) {
        std::snprintf(text, capacity, "its end (line %u)", LastLine());
        return;
    }
    const RecordEvent& event = EventAt(index);
    if (event.Kind == RECORD_WRITE_EVENT) {
        uint32_t requests = 0, blocks = 0;
        CountBefore(index, &requests, &blocks);
        char step[32];
        StepText(BytesOf(event), event.ByteCount, blocks + 1, step, sizeof step);
        std::snprintf(text, capacity, "request #%u (line %u, step %s)", requests + 1, event.Line, step);
    } else if (event.Kind == RECORD_READ_EVENT) {
        std::snprintf(text, capacity, "a reply (line %u)", event.Line);
    } else {
        std::snprintf(text, capacity, "the outcome '%s' (line %u)", g_Replay.Source->Text + event.TextAt, event.Line);
    }
}

void Stop()
{
    g_Replay.Stopped = true;
    g_Replay.Present = false;
    g_Replay.Next = g_Replay.NextOutcome = g_Replay.Source->EventCount;
    if (g_StopHook != nullptr) g_StopHook(g_Replay.Message);
}

// A write or read that failed because the unit went away unplugs it in the replay too.
void NoteFailure(const RecordEvent& event)
{
    if (event.Failed && event.Error == g_Replay.GoneError) g_Replay.Present = false;
}

InterfaceList ReplayOpenInterfaceList(void)
{
    g_Replay.LastError = 0;
    return REPLAY_LIST;
}

bool UnitListed() { return g_Replay.Source != nullptr && g_Replay.Source->HasUnit && g_Replay.Present; }

int32_t ReplayGetInterfacePath(InterfaceList list, uint32_t index, char16_t* path, uint32_t capacity)
{
    // Every listing of the program is answered by the record's present state.
    if (list != REPLAY_LIST || index != 0 || !UnitListed()) return INTERFACE_LIST_END;
    const int32_t length = static_cast<int32_t>(sizeof kUnitPath / sizeof kUnitPath[0]) - 1;
    if (path != nullptr && capacity > static_cast<uint32_t>(length)) std::memcpy(path, kUnitPath, sizeof kUnitPath);
    return length;
}

void ReplayCloseInterfaceList(InterfaceList) {}

bool IsUnitPath(const char16_t* path)
{
    if (path == nullptr) return false;
    for (uint32_t i = 0;; ++i) {
        if (path[i] != kUnitPath[i]) return false;
        if (path[i] == u'\0') return true;
    }
}

PlatformHandle ReplayOpen(const char16_t* path)
{
    if (!IsUnitPath(path) || !UnitListed()) {
        Fail(SYSTEM_ERROR_FILE_NOT_FOUND);
        return INVALID_PLATFORM_HANDLE;
    }
    Succeed();
    return REPLAY_HANDLE;
}

bool ReplayGetIds(PlatformHandle handle, uint16_t* vendorId, uint16_t* productId)
{
    if (handle != REPLAY_HANDLE || vendorId == nullptr || productId == nullptr) return Fail(SYSTEM_ERROR_INVALID_HANDLE);
    if (!g_Replay.Present) return Fail(g_Replay.GoneError);
    *vendorId = g_Replay.Source->VendorId;
    *productId = g_Replay.Source->ProductId;
    return Succeed();
}

bool ReplayGetReportLengths(PlatformHandle handle, uint16_t* inputLength, uint16_t* outputLength)
{
    if (handle != REPLAY_HANDLE || inputLength == nullptr || outputLength == nullptr) return Fail(SYSTEM_ERROR_INVALID_HANDLE);
    if (!g_Replay.Present) return Fail(g_Replay.GoneError);
    *inputLength = g_Replay.Source->InputLength;
    *outputLength = g_Replay.Source->OutputLength;
    return Succeed();
}

bool ReplayClaim(PlatformHandle handle) { return handle == REPLAY_HANDLE ? Succeed() : Fail(SYSTEM_ERROR_INVALID_HANDLE); }

bool ReplayDiscardInput(PlatformHandle handle)
{
    if (handle != REPLAY_HANDLE) return Fail(SYSTEM_ERROR_INVALID_HANDLE);
    // The unit goes away where the record says so, before the next exchange.
    NextExchange();
    return g_Replay.Present ? Succeed() : Fail(g_Replay.GoneError);
}

bool ReplayWriteReport(PlatformHandle handle, const uint8_t* report, uint32_t length, uint32_t)
{
    if (handle != REPLAY_HANDLE || report == nullptr) return Fail(SYSTEM_ERROR_INVALID_HANDLE);
    if (g_Replay.Stopped) return Fail(g_Replay.GoneError);
    uint32_t index = NextExchange();
    char step[32];
    uint32_t requests = 0, blocks = 0;
    CountBefore(index, &requests, &blocks);
    bool isBlock = RequestStepOf(report, length) == REQUEST_STEP_BLOCK;
    StepText(report, length, blocks + (isBlock ? 1 : 0), step, sizeof step);
    if (index >= g_Replay.Source->EventCount || EventAt(index).Kind != RECORD_WRITE_EVENT) {
        char held[160];
        DescribeEvent(index, held, sizeof held);
        std::snprintf(g_Replay.Message, MESSAGE_SIZE,
                      "replay stopped: the program sent request #%u (step %s) where the record holds %s",
                      requests + 1, step, held);
        Stop();
        return Fail(g_Replay.GoneError);
    }
    const RecordEvent& event = EventAt(index);
    const uint8_t* recorded = BytesOf(event);
    uint32_t common = length < event.ByteCount ? length : event.ByteCount;
    uint32_t differs = 0;
    while (differs < common && recorded[differs] == report[differs]) ++differs;
    if (differs < common || length != event.ByteCount) {
        StepText(recorded, event.ByteCount, blocks + 1, step, sizeof step);
        if (differs < common) {
            std::snprintf(g_Replay.Message, MESSAGE_SIZE,
                          "replay stopped: request #%u (line %u, step %s) differs from the record at byte %u: "
                          "the record has 0x%02x, the program sent 0x%02x",
                          requests + 1, event.Line, step, differs, recorded[differs], report[differs]);
        } else {
            std::snprintf(g_Replay.Message, MESSAGE_SIZE,
                          "replay stopped: request #%u (line %u, step %s) has %u bytes in the record, the program "
                          "sent %u",
                          requests + 1, event.Line, step, event.ByteCount, length);
        }
        Stop();
        return Fail(g_Replay.GoneError);
    }
    ++g_Replay.Next;
    ++g_Replay.Requests;
    if (isBlock) ++g_Replay.Blocks;
    ReachTimeOf(event, 1000);
    NoteFailure(event);
    return event.Failed ? Fail(event.Error) : Succeed();
}

bool ReplayReadReport(PlatformHandle handle, uint8_t* report, uint32_t length, uint32_t timeoutMs)
{
    if (handle != REPLAY_HANDLE || report == nullptr) return Fail(SYSTEM_ERROR_INVALID_HANDLE);
    if (g_Replay.Stopped) return Fail(g_Replay.GoneError);
    uint32_t index = NextExchange();
    if (index >= g_Replay.Source->EventCount || EventAt(index).Kind != RECORD_READ_EVENT) {
        char held[160];
        DescribeEvent(index, held, sizeof held);
        std::snprintf(g_Replay.Message, MESSAGE_SIZE,
                      "replay stopped: the program read a reply after request #%u where the record holds %s",
                      g_Replay.Requests, held);
        Stop();
        return Fail(g_Replay.GoneError);
    }
    const RecordEvent& event = EventAt(index);
    ++g_Replay.Next;
    ReachTimeOf(event, static_cast<uint64_t>(timeoutMs) + 1000);
    NoteFailure(event);
    if (event.Failed) return Fail(event.Error);
    uint32_t count = length < event.ByteCount ? length : event.ByteCount;
    std::memcpy(report, BytesOf(event), count);
    if (count < length) std::memset(report + count, 0, length - count);
    return Succeed();
}

void ReplayClose(PlatformHandle) {}

void ReplaySleep(uint32_t milliseconds) { Wait(milliseconds); }

uint32_t ReplayLastError(void) { return g_Replay.LastError; }

uint64_t ReplayMilliseconds(void) { return Now(); }

bool ReplayIsSimulation(void) { return true; }

}  // namespace

const HidPlatform kReplayHidPlatform = {
    ReplayOpenInterfaceList, ReplayGetInterfacePath, ReplayCloseInterfaceList, ReplayOpen,
    ReplayGetIds,            ReplayGetReportLengths, ReplayClaim,              ReplayDiscardInput,
    ReplayWriteReport,       ReplayReadReport,       ReplayClose,              ReplaySleep,
    ReplayLastError,         ReplayMilliseconds,     ReplayIsSimulation,
};

void StartReplay(const ParsedRecord* record, bool realtime)
{
    g_Replay = {};
    g_Replay.Source = record;
    g_Replay.Present = true;
    g_Replay.Realtime = realtime;
    g_Replay.RealBase = std::chrono::steady_clock::now();
    g_Replay.GoneError = record->Edge == RECORD_EDGE_HIDRAW ? GONE_HIDRAW : SYSTEM_ERROR_DEVICE_NOT_CONNECTED;
    // A record that begins with the unit's arrival (watch started before it was plugged in)
    // begins without it.
    uint32_t first = 0;
    while (first < record->EventCount && record->Events[first].Kind == RECORD_PAUSE_EVENT) ++first;
    if (first < record->EventCount && record->Events[first].Kind == RECORD_ARRIVAL_EVENT) g_Replay.Present = false;
}

void SetReplayStopHook(void (*stop)(const char* message)) { g_StopHook = stop; }

// The next outcome of the record not told yet; the event count when none is left.
uint32_t NextOutcome()
{
    const ParsedRecord* record = g_Replay.Source;
    while (g_Replay.NextOutcome < record->EventCount && EventAt(g_Replay.NextOutcome).Kind != RECORD_OUTCOME_EVENT)
        ++g_Replay.NextOutcome;
    return g_Replay.NextOutcome;
}

bool ReplayOutcome(const char* outcome)
{
    if (g_Replay.Stopped) return false;
    uint32_t index = NextOutcome();
    if (index < g_Replay.Source->EventCount && std::strcmp(g_Replay.Source->Text + EventAt(index).TextAt, outcome) == 0) {
        ++g_Replay.NextOutcome;
        return true;
    }
    if (index < g_Replay.Source->EventCount) {
        std::snprintf(g_Replay.Message, MESSAGE_SIZE,
                      "replay stopped: the update ended '%s', the record holds '%s' (line %u)", outcome,
                      g_Replay.Source->Text + EventAt(index).TextAt, EventAt(index).Line);
    } else {
        std::snprintf(g_Replay.Message, MESSAGE_SIZE, "replay stopped: the update ended '%s', the record holds no "
                      "further outcome", outcome);
    }
    Stop();
    return false;
}

bool ReplayEnd()
{
    if (g_Replay.Stopped) return false;
    uint32_t index = NextExchange();
    uint32_t outcome = NextOutcome();
    if (index >= g_Replay.Source->EventCount && outcome >= g_Replay.Source->EventCount) return true;
    char held[160];
    DescribeEvent(index < outcome ? index : outcome, held, sizeof held);
    std::snprintf(g_Replay.Message, MESSAGE_SIZE, "replay stopped: the program ended before %s", held);
    Stop();
    return false;
}

int32_t ReplayNextDeviceEvent(bool* arrived)
{
    if (g_Replay.Stopped) return 0;
    const ParsedRecord* record = g_Replay.Source;
    while (g_Replay.Next < record->EventCount &&
           (EventAt(g_Replay.Next).Kind == RECORD_PAUSE_EVENT || EventAt(g_Replay.Next).Kind == RECORD_OUTCOME_EVENT))
        ++g_Replay.Next;
    if (g_Replay.Next >= record->EventCount) return 0;
    const RecordEvent& event = EventAt(g_Replay.Next);
    if (event.Kind != RECORD_ARRIVAL_EVENT && event.Kind != RECORD_REMOVAL_EVENT) return 0;
    ++g_Replay.Next;
    *arrived = event.Kind == RECORD_ARRIVAL_EVENT;
    g_Replay.Present = *arrived;
    ReachTimeOf(event, 1000);
    return 1;
}

bool ReplayStopped() { return g_Replay.Stopped; }

const char* ReplayStopMessage() { return g_Replay.Message; }
