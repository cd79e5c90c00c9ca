// The tracing HID table: every call goes on to the forwarded table unchanged; writes and reads
// leave a line on the trace stream.
#include "cli/trace.h"

#include <cinttypes>

namespace {

const HidPlatform* g_Forwarded = nullptr;
std::FILE* g_TraceOut = nullptr;
uint64_t g_TraceStartMs = 0;
// The forwarded table's last error, taken right after each call it answers: writing the trace
// line may change the platform's own last error before the link asks for it.
uint32_t g_LastError = 0;

// "<ms> <direction> <bytes>" without the line's end; the caller ends it.
void StartLine(char direction, const uint8_t* report, uint32_t length)
{
    std::fprintf(g_TraceOut, "%" PRIu64 " %c", g_Forwarded->Milliseconds() - g_TraceStartMs, direction);
    for (uint32_t i = 0; report != nullptr && i < length; ++i) std::fprintf(g_TraceOut, " %02x", report[i]);
}

void EndLine(const char* ending)
{
    std::fprintf(g_TraceOut, "%s\n", ending);
    std::fflush(g_TraceOut);
}

InterfaceList TraceOpenInterfaceList(void)
{
    InterfaceList list = g_Forwarded->OpenInterfaceList();
    g_LastError = g_Forwarded->LastError();
    return list;
}

int32_t TraceGetInterfacePath(InterfaceList list, uint32_t index, char16_t* path, uint32_t capacity)
{
    int32_t length = g_Forwarded->GetInterfacePath(list, index, path, capacity);
    g_LastError = g_Forwarded->LastError();
    return length;
}

void TraceCloseInterfaceList(InterfaceList list)
{
    g_Forwarded->CloseInterfaceList(list);
    g_LastError = g_Forwarded->LastError();
}

PlatformHandle TraceOpen(const char16_t* path)
{
    PlatformHandle handle = g_Forwarded->Open(path);
    g_LastError = g_Forwarded->LastError();
    return handle;
}

bool TraceGetIds(PlatformHandle handle, uint16_t* vendorId, uint16_t* productId)
{
    bool read = g_Forwarded->GetIds(handle, vendorId, productId);
    g_LastError = g_Forwarded->LastError();
    return read;
}

bool TraceGetReportLengths(PlatformHandle handle, uint16_t* inputLength, uint16_t* outputLength)
{
    bool read = g_Forwarded->GetReportLengths(handle, inputLength, outputLength);
    g_LastError = g_Forwarded->LastError();
    return read;
}

bool TraceClaim(PlatformHandle handle)
{
    bool claimed = g_Forwarded->Claim(handle);
    g_LastError = g_Forwarded->LastError();
    return claimed;
}

bool TraceDiscardInput(PlatformHandle handle)
{
    bool discarded = g_Forwarded->DiscardInput(handle);
    g_LastError = g_Forwarded->LastError();
    return discarded;
}

bool TraceWriteReport(PlatformHandle handle, const uint8_t* report, uint32_t length, uint32_t timeoutMs)
{
    bool written = g_Forwarded->WriteReport(handle, report, length, timeoutMs);
    g_LastError = g_Forwarded->LastError();
    StartLine('>', report, length);
    EndLine(written ? "" : " failed");
    return written;
}

bool TraceReadReport(PlatformHandle handle, uint8_t* report, uint32_t length, uint32_t timeoutMs)
{
    bool read = g_Forwarded->ReadReport(handle, report, length, timeoutMs);
    g_LastError = g_Forwarded->LastError();
    StartLine('<', read ? report : nullptr, length);
    EndLine(read ? "" : " failed");
    return read;
}

void TraceClose(PlatformHandle handle)
{
    g_Forwarded->Close(handle);
    g_LastError = g_Forwarded->LastError();
}

void TraceSleep(uint32_t milliseconds) { g_Forwarded->Sleep(milliseconds); }

uint32_t TraceLastError(void) { return g_LastError; }

uint64_t TraceMilliseconds(void) { return g_Forwarded->Milliseconds(); }

bool TraceIsSimulation(void) { return g_Forwarded->IsSimulation(); }

}  // namespace

void StartTrace(const HidPlatform* forwarded, std::FILE* out)
{
    g_Forwarded = forwarded;
    g_TraceOut = out;
    g_TraceStartMs = forwarded->Milliseconds();
    g_LastError = forwarded->LastError();
}

const HidPlatform kTraceHidPlatform = {
    TraceOpenInterfaceList, TraceGetInterfacePath, TraceCloseInterfaceList, TraceOpen,
    TraceGetIds,            TraceGetReportLengths, TraceClaim,              TraceDiscardInput,
    TraceWriteReport,       TraceReadReport,       TraceClose,              TraceSleep,
    TraceLastError,         TraceMilliseconds,     TraceIsSimulation,
};
