// The tracing HID table: every call goes on to the forwarded table unchanged; writes and reads
// leave a line on the trace stream.
#include "cli/trace.h"

namespace {

const HidPlatform* g_Forwarded = nullptr;
std::FILE* g_TraceOut = nullptr;
uint64_t g_TraceStartMs = 0;
// The forwarded table's last error, taken right after each call it answers: writing the trace
// line may change the platform's own last error before the link asks for it.
uint32_t g_LastError = 0;

constexpr char kHexDigits[] = "0123456789abcdef";

// A line is assembled here and written in pieces when it grows past the buffer, so that a
// report of any length is listed in full.
constexpr uint32_t LINE_BUFFER_SIZE = 256;

struct LineWriter {
    char Buffer[LINE_BUFFER_SIZE];
    uint32_t Length;
};

void Flush(LineWriter* line)
{
    if (line->Length != 0) std::fwrite(line->Buffer, 1, line->Length, g_TraceOut);
    line->Length = 0;
}

void PutText(LineWriter* line, const char* text)
{
    for (; *text != '\0'; ++text) {
        if (line->Length == LINE_BUFFER_SIZE) Flush(line);
        line->Buffer[line->Length++] = *text;
    }
}

void PutByte(LineWriter* line, uint8_t value, bool first)
{
    if (line->Length + 3 > LINE_BUFFER_SIZE) Flush(line);
    if (!first) line->Buffer[line->Length++] = ' ';
    line->Buffer[line->Length++] = kHexDigits[value >> 4];
    line->Buffer[line->Length++] = kHexDigits[value & 0x0F];
}

// "<ms> <direction> " at the start of a line.
void PutPrefix(LineWriter* line, char direction)
{
    uint64_t elapsed = g_Forwarded->Milliseconds() - g_TraceStartMs;
    char digits[24];
    int32_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + elapsed % 10);
        elapsed /= 10;
    } while (elapsed != 0);
    char text[32];
    int32_t length = 0;
    while (count > 0) text[length++] = digits[--count];
    text[length++] = ' ';
    text[length++] = direction;
    text[length++] = ' ';
    text[length] = '\0';
    PutText(line, text);
}

void PutReport(LineWriter* line, const uint8_t* report, uint32_t length)
{
    for (uint32_t i = 0; i < length; ++i) PutByte(line, report[i], i == 0);
}

void EndLine(LineWriter* line)
{
    PutText(line, "\n");
    Flush(line);
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

bool TraceWriteReport(PlatformHandle handle, const uint8_t* report, uint32_t length, uint32_t timeoutMs)
{
    bool written = g_Forwarded->WriteReport(handle, report, length, timeoutMs);
    g_LastError = g_Forwarded->LastError();
    LineWriter line;
    line.Length = 0;
    PutPrefix(&line, '>');
    if (report != nullptr) PutReport(&line, report, length);
    if (!written) PutText(&line, report != nullptr && length != 0 ? " failed" : "failed");
    EndLine(&line);
    return written;
}

bool TraceReadReport(PlatformHandle handle, uint8_t* report, uint32_t length, uint32_t timeoutMs)
{
    bool read = g_Forwarded->ReadReport(handle, report, length, timeoutMs);
    g_LastError = g_Forwarded->LastError();
    LineWriter line;
    line.Length = 0;
    PutPrefix(&line, '<');
    if (read && report != nullptr) {
        PutReport(&line, report, length);
    } else {
        PutText(&line, "failed");
    }
    EndLine(&line);
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
    TraceGetIds,            TraceGetReportLengths, TraceWriteReport,        TraceReadReport,
    TraceClose,             TraceSleep,            TraceLastError,          TraceMilliseconds,
};
