// The recording HID table: every call goes on to the forwarded table unchanged; reports, pauses
// and the unit's facts are kept in memory for the record's text.
#include "record/recorder.h"

#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "app/app.h"
#include "catalogue/catalogue.h"
#include "link/device_link.h"
#include "link/request_steps.h"
#include "resources/version.h"

namespace {

// The largest report descriptor a HID device may have.
constexpr uint32_t DESCRIPTOR_CAPACITY = 4096;
constexpr uint32_t VERSION_TEXT_SIZE = 32;

struct Recorder {
    const HidPlatform* Forwarded;
    bool Active;  // between StartRecorder and StopRecorder; the table forwards either way
    RecorderSettings Settings;
    uint64_t StartMs;
    uint32_t LastError;  // the forwarded table's, taken right after each call it answers
    // The first programming unit opened since the start.
    PlatformHandle UnitHandle;
    bool UnitKnown;
    uint16_t VendorId, ProductId;
    uint16_t InputLength, OutputLength;
    uint8_t Descriptor[DESCRIPTOR_CAPACITY];
    uint32_t DescriptorLength;
    std::string Events;
    std::string Text;
    // KeepRecorderWithin: the bound (0: none), where each look at a unit begins in Events (a
    // discovery, with the arrival that brought it), where each outcome line begins, and what was
    // left out so far.
    size_t KeepBytes;
    std::vector<size_t> LookStarts;
    std::vector<size_t> Outcomes;
    size_t LastArrival;  // where the last event line begins when it is an arrival, else npos
    uint64_t LeftOutLines;
    uint64_t LeftOutUntilMs;
};

Recorder g_Record;

// The core tells events and outcomes whether or not a record is being made.
bool Recording() { return g_Record.Active; }

void Append(std::string* out, const char* format, ...)
{
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (length > 0) out->append(line, static_cast<size_t>(length) < sizeof line ? length : sizeof line - 1);
}

void AppendBytes(std::string* out, const uint8_t* bytes, uint32_t length)
{
    // Written in place: one growth of the string per report, not three appends per byte.
    static const char kHex[] = "0123456789abcdef";
    size_t start = out->size();
    out->resize(start + 3 * static_cast<size_t>(length));
    char* hex = &(*out)[start];
    for (uint32_t i = 0; i < length; ++i) {
        *hex++ = ' ';
        *hex++ = kHex[bytes[i] >> 4];
        *hex++ = kHex[bytes[i] & 15];
    }
}

// "<key> " of a header line.
std::string& AppendKey(std::string* out, const char* key) { return out->append(key).append(" "); }

// The name an outcome line gives the step that failed: a flash command's step by the protocol's
// name for it, or one of the checks an update makes before its first request.
const char* FailedStepName(UpdateStep step)
{
    switch (step) {
    case UPDATE_STEP_NONE: return "none";
    case UPDATE_STEP_NO_UNIT: return "no-unit";
    case UPDATE_STEP_CONTROLLER_CHANGED: return "controller-changed";
    case UPDATE_STEP_NO_IMAGE: return "no-image";
    case UPDATE_STEP_TEST_IMAGES: return "test-images";
    case UPDATE_STEP_IMAGE_DAMAGED: return "image-damaged";
    case UPDATE_STEP_IMAGE_UNAVAILABLE: return "image-unavailable";
    case UPDATE_STEP_LOCK: return RequestStepText(REQUEST_STEP_LOCK);
    case UPDATE_STEP_PROTECT_OFF: return RequestStepText(REQUEST_STEP_PROTECT_OFF);
    case UPDATE_STEP_ERASE: return RequestStepText(REQUEST_STEP_ERASE);
    case UPDATE_STEP_ADDRESS: return RequestStepText(REQUEST_STEP_ADDRESS);
    case UPDATE_STEP_BLOCK: return RequestStepText(REQUEST_STEP_BLOCK);
    case UPDATE_STEP_PROTECT_ON: return RequestStepText(REQUEST_STEP_PROTECT_ON);
    }
    return RequestStepText(REQUEST_STEP_UNKNOWN);
}

// "<ms> " of an event line.
void StartEvent()
{
    g_Record.LastArrival = std::string::npos;
    Append(&g_Record.Events, "%" PRIu64 " ", g_Record.Forwarded->Milliseconds() - g_Record.StartMs);
}

void AppendControllerVersion(std::string* out, uint16_t version)
{
    if (version == FIRMWARE_VERSION_NONE) {
        out->append(RECORD_NO_FIRMWARE);
        return;
    }
    char16_t text[VERSION_TEXT_SIZE];
    FormatControllerVersion(version, text, VERSION_TEXT_SIZE);
    for (uint32_t i = 0; i < VERSION_TEXT_SIZE && text[i] != 0; ++i) out->push_back(static_cast<char>(text[i]));
}

void Take() { g_Record.LastError = g_Record.Forwarded->LastError(); }

// The updates whose lines a bounded record always keeps whole, the last ones of the visit.
constexpr size_t KEPT_UPDATES = 3;

uint64_t EventMs(size_t at) { return std::strtoull(g_Record.Events.c_str() + at, nullptr, 10); }

// Leaves out the oldest looks at a unit, each whole with what followed it (its update, the unit's
// removal), until the record is within its bound again; never the last KEPT_UPDATES updates, nor
// the look that led to each of them.
void KeepWithinBound()
{
    Recorder& r = g_Record;
    if (r.KeepBytes == 0 || r.Events.size() <= r.KeepBytes) return;
    // The latest place the record may be cut at: the look that led to the oldest update kept
    // whole (the last look that began before its outcome); without updates, the look beginning now.
    size_t keepFrom = r.Events.size();
    if (!r.Outcomes.empty()) {
        size_t oldestKept = r.Outcomes[r.Outcomes.size() > KEPT_UPDATES ? r.Outcomes.size() - KEPT_UPDATES : 0];
        keepFrom = 0;
        for (size_t start : r.LookStarts) {
            if (start <= oldestKept) keepFrom = start;
        }
    }
    // The first look from which on the record fits, or the latest allowed.
    size_t cut = 0;
    for (size_t start : r.LookStarts) {
        if (start > keepFrom) break;
        cut = start;
        if (r.Events.size() - cut <= r.KeepBytes) break;
    }
    if (cut == 0) return;
    r.LeftOutLines += static_cast<uint64_t>(std::count(r.Events.begin(), r.Events.begin() + static_cast<ptrdiff_t>(cut), '\n'));
    r.LeftOutUntilMs = EventMs(cut);
    r.Events.erase(0, cut);
    auto shift = [cut](std::vector<size_t>* offsets) {
        offsets->erase(std::remove_if(offsets->begin(), offsets->end(), [cut](size_t at) { return at < cut; }),
                       offsets->end());
        for (size_t& at : *offsets) at -= cut;
    };
    shift(&r.LookStarts);
    shift(&r.Outcomes);
    if (r.LastArrival != std::string::npos) r.LastArrival = r.LastArrival >= cut ? r.LastArrival - cut : std::string::npos;
}

InterfaceList RecordOpenInterfaceList(void)
{
    // A discovery begins: a new look at a unit, with the arrival that brought it.
    if (Recording() && g_Record.KeepBytes != 0) {
        g_Record.LookStarts.push_back(g_Record.LastArrival != std::string::npos ? g_Record.LastArrival
                                                                                : g_Record.Events.size());
        KeepWithinBound();
    }
    InterfaceList list = g_Record.Forwarded->OpenInterfaceList();
    Take();
    return list;
}

int32_t RecordGetInterfacePath(InterfaceList list, uint32_t index, char16_t* path, uint32_t capacity)
{
    int32_t length = g_Record.Forwarded->GetInterfacePath(list, index, path, capacity);
    Take();
    return length;
}

void RecordCloseInterfaceList(InterfaceList list)
{
    g_Record.Forwarded->CloseInterfaceList(list);
    Take();
}

PlatformHandle RecordOpen(const char16_t* path)
{
    PlatformHandle handle = g_Record.Forwarded->Open(path);
    Take();
    return handle;
}

bool RecordGetIds(PlatformHandle handle, uint16_t* vendorId, uint16_t* productId)
{
    bool read = g_Record.Forwarded->GetIds(handle, vendorId, productId);
    Take();
    bool unit = read && *vendorId == UNIT_VENDOR_ID &&
                (*productId == PRODUCT_ID_DIALPUCK || *productId == PRODUCT_ID_SETBOX);
    if (unit && Recording() && !g_Record.UnitKnown) {
        g_Record.UnitKnown = true;
        g_Record.UnitHandle = handle;
        g_Record.VendorId = *vendorId;
        g_Record.ProductId = *productId;
        if (g_Record.Settings.ReadDescriptor != nullptr) {
            g_Record.DescriptorLength =
                g_Record.Settings.ReadDescriptor(handle, g_Record.Descriptor, DESCRIPTOR_CAPACITY);
            if (g_Record.DescriptorLength > DESCRIPTOR_CAPACITY) g_Record.DescriptorLength = 0;
        }
    }
    return read;
}

bool RecordGetReportLengths(PlatformHandle handle, uint16_t* inputLength, uint16_t* outputLength)
{
    bool read = g_Record.Forwarded->GetReportLengths(handle, inputLength, outputLength);
    Take();
    if (read && g_Record.UnitKnown && handle == g_Record.UnitHandle && g_Record.InputLength == 0) {
        g_Record.InputLength = *inputLength;
        g_Record.OutputLength = *outputLength;
    }
    return read;
}

bool RecordClaim(PlatformHandle handle)
{
    bool claimed = g_Record.Forwarded->Claim(handle);
    Take();
    return claimed;
}

bool RecordDiscardInput(PlatformHandle handle)
{
    bool discarded = g_Record.Forwarded->DiscardInput(handle);
    Take();
    return discarded;
}

bool RecordWriteReport(PlatformHandle handle, const uint8_t* report, uint32_t length, uint32_t timeoutMs)
{
    bool written = g_Record.Forwarded->WriteReport(handle, report, length, timeoutMs);
    Take();
    if (!Recording()) return written;
    StartEvent();
    g_Record.Events.append(RECORD_WRITTEN);
    AppendBytes(&g_Record.Events, report, report != nullptr ? length : 0);
    if (!written) Append(&g_Record.Events, " %s 0x%08" PRIx32, RECORD_FAILED, g_Record.LastError);
    g_Record.Events.push_back('\n');
    return written;
}

bool RecordReadReport(PlatformHandle handle, uint8_t* report, uint32_t length, uint32_t timeoutMs)
{
    bool read = g_Record.Forwarded->ReadReport(handle, report, length, timeoutMs);
    Take();
    if (!Recording()) return read;
    StartEvent();
    g_Record.Events.append(RECORD_READ);
    if (read) {
        AppendBytes(&g_Record.Events, report, length);
    } else {
        Append(&g_Record.Events, " %s 0x%08" PRIx32, RECORD_FAILED, g_Record.LastError);
    }
    g_Record.Events.push_back('\n');
    return read;
}

void RecordClose(PlatformHandle handle)
{
    g_Record.Forwarded->Close(handle);
    Take();
    // A handle's number may come back for another interface.
    if (g_Record.UnitKnown && handle == g_Record.UnitHandle) g_Record.UnitHandle = INVALID_PLATFORM_HANDLE;
}

void RecordSleep(uint32_t milliseconds)
{
    if (Recording()) {
        StartEvent();
        Append(&g_Record.Events, "%s %" PRIu32 "\n", RECORD_PAUSE, milliseconds);
    }
    g_Record.Forwarded->Sleep(milliseconds);
}

uint32_t RecordLastError(void) { return g_Record.LastError; }

uint64_t RecordMilliseconds(void) { return g_Record.Forwarded->Milliseconds(); }

bool RecordIsSimulation(void) { return g_Record.Forwarded->IsSimulation(); }

void ForgetUnit()
{
    g_Record.UnitKnown = false;
    g_Record.UnitHandle = INVALID_PLATFORM_HANDLE;
    g_Record.VendorId = g_Record.ProductId = 0;
    g_Record.InputLength = g_Record.OutputLength = 0;
    g_Record.DescriptorLength = 0;
}

}  // namespace

void StartRecorder(const HidPlatform* forwarded, const RecorderSettings& settings)
{
    g_Record.Forwarded = forwarded;
    g_Record.Settings = settings;
    g_Record.Active = true;
    g_Record.Text.clear();
    RestartRecorder();
}

void StopRecorder() { g_Record.Active = false; }

void RestartRecorder()
{
    if (!Recording()) return;
    g_Record.StartMs = g_Record.Forwarded->Milliseconds();
    g_Record.LastError = g_Record.Forwarded->LastError();
    g_Record.Events.clear();
    g_Record.LookStarts.clear();
    g_Record.Outcomes.clear();
    g_Record.LastArrival = std::string::npos;
    g_Record.LeftOutLines = 0;
    g_Record.LeftOutUntilMs = 0;
    ForgetUnit();
}

void RecordDeviceEvent(bool arrival)
{
    if (!Recording()) return;
    size_t line = g_Record.Events.size();
    StartEvent();
    g_Record.Events.append(arrival ? RECORD_ARRIVAL : RECORD_REMOVAL).push_back('\n');
    if (arrival) g_Record.LastArrival = line;
}

void KeepRecorderWithin(size_t bytes) { g_Record.KeepBytes = bytes; }


void RecordUpdateOutcome(const UpdateOutcome& outcome)
{
    if (!Recording()) return;
    g_Record.Outcomes.push_back(g_Record.Events.size());
    StartEvent();
    switch (outcome.End) {
    case UPDATE_SUCCEEDED:
        Append(&g_Record.Events, "%s %s %s ", RECORD_OUTCOME, RECORD_SUCCESS, RECORD_FIRMWARE);
        break;
    case UPDATE_DECLINED_AT_WARNING:
    case UPDATE_DECLINED_AT_REINSTALL:
        Append(&g_Record.Events, "%s %s\n", RECORD_OUTCOME, RECORD_DECLINED);
        return;
    case UPDATE_FAILED:
        Append(&g_Record.Events, "%s %s %s 0x%08" PRIx32 "-0x%08" PRIx32 " %s ", RECORD_OUTCOME, RECORD_FAILURE,
               FailedStepName(outcome.FailedStep), static_cast<uint32_t>(outcome.Result.Code), outcome.SystemError,
               RECORD_FIRMWARE);
        break;
    }
    AppendControllerVersion(&g_Record.Events, outcome.FirmwareAfter);
    g_Record.Events.push_back('\n');
}

const char* RecorderText(size_t* length)
{
    std::string& text = g_Record.Text;
    text.clear();
    Append(&text, "%s %" PRIu32 "\n", RECORD_KEY_FORMAT, RECORD_FORMAT_VERSION);
    Append(&text, "%s %s\n", RECORD_KEY_UPDATER, UpdaterVersion());
    AppendKey(&text, RECORD_KEY_FIRMWARE);
    AppendControllerVersion(&text, CARRIED_FIRMWARE_VERSION);
    text.push_back('\n');
    const RecorderSettings& settings = g_Record.Settings;
    AppendKey(&text, RECORD_KEY_FRONT_END).append(settings.FrontEnd != nullptr ? settings.FrontEnd : "").push_back('\n');
    AppendKey(&text, RECORD_KEY_EDGE).append(settings.Edge != nullptr ? settings.Edge : "").push_back('\n');
    if (settings.Scenario != nullptr) AppendKey(&text, RECORD_KEY_SCENARIO).append(settings.Scenario).push_back('\n');
    AppendKey(&text, RECORD_KEY_COMMAND).append(settings.Command != nullptr ? settings.Command : "").push_back('\n');
    if (settings.Browser != nullptr) {
        // One line whatever the browser says: a control character becomes a blank.
        AppendKey(&text, RECORD_KEY_BROWSER);
        for (const char* c = settings.Browser; *c != '\0'; ++c)
            text.push_back(static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f ? ' ' : *c);
        text.push_back('\n');
    }
    if (g_Record.UnitKnown) {
        Append(&text, "%s %04x:%04x %s %u %s %u\n", RECORD_KEY_UNIT, g_Record.VendorId, g_Record.ProductId,
               RECORD_UNIT_INPUT, g_Record.InputLength, RECORD_UNIT_OUTPUT, g_Record.OutputLength);
    } else {
        AppendKey(&text, RECORD_KEY_UNIT).append(RECORD_UNIT_NONE).push_back('\n');
    }
    if (g_Record.UnitKnown && g_Record.DescriptorLength > 0) {
        text.append(RECORD_KEY_DESCRIPTOR);
        AppendBytes(&text, g_Record.Descriptor, g_Record.DescriptorLength);
        text.push_back('\n');
    }
    if (g_Record.LeftOutLines != 0) {
        Append(&text, "# %" PRIu64 " lines of the first %" PRIu64 " ms of this visit were left out (its oldest looks at "
               "a unit), to keep the record within %zu bytes\n",
               g_Record.LeftOutLines, g_Record.LeftOutUntilMs, g_Record.KeepBytes);
    }
    text.append(g_Record.Events);
    if (length != nullptr) *length = text.size();
    return text.c_str();
}

const HidPlatform kRecorderHidPlatform = {
    RecordOpenInterfaceList, RecordGetInterfacePath, RecordCloseInterfaceList, RecordOpen,
    RecordGetIds,            RecordGetReportLengths, RecordClaim,              RecordDiscardInput,
    RecordWriteReport,       RecordReadReport,       RecordClose,              RecordSleep,
    RecordLastError,         RecordMilliseconds,     RecordIsSimulation,
};
