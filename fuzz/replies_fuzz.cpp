// Fuzz target: the link's handling of whatever a unit replies. A HID table of this target's own
// offers one unit whose report lengths, ids and every reply come from the fuzz input; the
// link then identifies it and runs every flash command. Besides the sanitizers' checks: the
// link never writes or reads more than its report buffers hold, and never a length it did not
// accept from GetReportLengths.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "link/device_link.h"
#include "link/flash_commands.h"

namespace {

const uint8_t* g_Input = nullptr;
size_t g_Left = 0;
uint16_t g_InputLength = 0, g_OutputLength = 0;
uint32_t g_LastError = 0;

uint8_t TakeByte()
{
    if (g_Left == 0) return 0;
    --g_Left;
    return *g_Input++;
}

InterfaceList FuzzOpenList() { return 1; }

int32_t FuzzGetPath(InterfaceList, uint32_t index, char16_t* path, uint32_t capacity)
{
    if (index > 0) return INTERFACE_LIST_END;
    if (path != nullptr && capacity > 4) std::memcpy(path, u"unit", 5 * sizeof(char16_t));
    return 4;
}

void FuzzCloseList(InterfaceList) {}
PlatformHandle FuzzOpen(const char16_t*) { return 7; }

bool FuzzGetIds(PlatformHandle, uint16_t* vendorId, uint16_t* productId)
{
    *vendorId = UNIT_VENDOR_ID;
    *productId = (TakeByte() & 1) != 0 ? PRODUCT_ID_SETBOX : PRODUCT_ID_DIALPUCK;
    return true;
}

bool FuzzGetLengths(PlatformHandle, uint16_t* inputLength, uint16_t* outputLength)
{
    // Mostly lengths near the buffer's, now and then anything at all.
    uint8_t a = TakeByte(), b = TakeByte();
    g_InputLength = (a & 0x80) != 0 ? static_cast<uint16_t>(a << 1) : static_cast<uint16_t>(40 + (a & 31));
    g_OutputLength = (b & 0x80) != 0 ? static_cast<uint16_t>(b << 1) : static_cast<uint16_t>(40 + (b & 31));
    *inputLength = g_InputLength;
    *outputLength = g_OutputLength;
    return true;
}

bool FuzzWrite(PlatformHandle, const uint8_t* report, uint32_t length, uint32_t)
{
    if (length > REPORT_BUFFER_SIZE || length != g_OutputLength || report[0] != REPORT_ID_REQUEST) __builtin_trap();
    g_LastError = 0;
    return true;
}

bool FuzzRead(PlatformHandle, uint8_t* report, uint32_t length, uint32_t)
{
    if (length > REPORT_BUFFER_SIZE || length != g_InputLength) __builtin_trap();
    if (g_Left == 0) {
        g_LastError = 110;  // no more replies: the unit stays silent
        return false;
    }
    for (uint32_t i = 0; i < length; ++i) report[i] = TakeByte();
    g_LastError = 0;
    return true;
}

bool FuzzClaim(PlatformHandle) { return true; }
bool FuzzDiscard(PlatformHandle) { return true; }
bool FuzzIsSimulation() { return true; }
void FuzzClose(PlatformHandle) {}
void FuzzSleep(uint32_t) {}
uint32_t FuzzLastError() { return g_LastError; }
uint64_t FuzzMilliseconds() { return 0; }

const HidPlatform kFuzzHid = {
    FuzzOpenList, FuzzGetPath,   FuzzCloseList, FuzzOpen,      FuzzGetIds,       FuzzGetLengths,   FuzzClaim,
    FuzzDiscard,  FuzzWrite,     FuzzRead,      FuzzClose,     FuzzSleep,        FuzzLastError,    FuzzMilliseconds,
    FuzzIsSimulation,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    g_Input = data;
    g_Left = size;
    SelectHidPlatform(&kFuzzHid);
    ResetLink();
    (void)DiscoverUnit();
    if (LinkIsOpen()) {
        uint8_t block[4 * MAX_BLOCK_WORDS];
        std::memset(block, 0x5A, sizeof block);
        (void)SetSystemLock();
        (void)WriteProtectOff();
        (void)EraseFirmware();
        (void)SetWriteAddress();
        (void)WriteDataBlock(block, TakeByte() % (MAX_BLOCK_WORDS + 2));
        (void)WriteProtectOn();
        (void)ReleaseSystemLock();
    }
    CloseLink();
    return 0;
}
