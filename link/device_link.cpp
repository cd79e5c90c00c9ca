// Discovery, report lengths, the request/reply exchange and closing of the programming unit.
#include "link/device_link.h"

#include <cstring>
#include <new>

const HidPlatform* g_Hid = nullptr;
DeviceLink g_Link = {INVALID_PLATFORM_HANDLE, nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, {}, {}, 0};

namespace {
DiscoveryReport g_Discovery = {0, {}};

void NoteUnitInUse(const char16_t* path)
{
    if (g_Discovery.UnitsInUse++ != 0) return;
    uint32_t i = 0;
    for (; path[i] != u'\0' && i + 1 < DISCOVERY_PATH_SIZE; ++i) g_Discovery.FirstInUse[i] = path[i];
    g_Discovery.FirstInUse[i] = u'\0';
}
}  // namespace

const DiscoveryReport& LastDiscovery() { return g_Discovery; }

void ResetLink()
{
    std::memset(&g_Link, 0, sizeof g_Link);
    g_Link.DevicePath = nullptr;
    g_Link.DeviceHandle = INVALID_PLATFORM_HANDLE;
}

void CloseLink()
{
    if (g_Link.DeviceHandle != INVALID_PLATFORM_HANDLE) g_Hid->Close(g_Link.DeviceHandle);
    delete[] g_Link.DevicePath;
    ResetLink();
}

bool IsProgrammingUnit(uint16_t vendorId, uint16_t productId)
{
    return vendorId == UNIT_VENDOR_ID && (productId == PRODUCT_ID_DIALPUCK || productId == PRODUCT_ID_SETBOX);
}

bool ReportLengthsFit(uint16_t inputLength, uint16_t outputLength)
{
    // Reports that do not fit the buffers, or are too short for the bytes the commands use.
    return inputLength >= MIN_INPUT_REPORT_LENGTH && inputLength <= REPORT_BUFFER_SIZE &&
           outputLength >= MIN_OUTPUT_REPORT_LENGTH && outputLength <= REPORT_BUFFER_SIZE;
}

namespace {

// The path of interface `index` in a fresh allocation: 1 with *path set, 0 to skip the entry,
// -1 at the end of the list.
int32_t FetchInterfacePath(InterfaceList list, uint32_t index, char16_t** path)
{
    *path = nullptr;
    int32_t length = g_Hid->GetInterfacePath(list, index, nullptr, 0);
    if (length == INTERFACE_LIST_END) return -1;
    if (length <= 0) return 0;
    char16_t* buffer = new (std::nothrow) char16_t[static_cast<uint32_t>(length) + 1];
    if (buffer == nullptr) return 0;
    int32_t fetched = g_Hid->GetInterfacePath(list, index, buffer, static_cast<uint32_t>(length) + 1);
    if (fetched == INTERFACE_LIST_END) {
        delete[] buffer;
        return -1;
    }
    if (fetched != length) {
        delete[] buffer;
        return 0;
    }
    *path = buffer;
    return 1;
}

}  // namespace

int32_t DiscoverUnit()
{
    CloseLink();
    g_Discovery = {0, {}};

    InterfaceList list = g_Hid->OpenInterfaceList();
    if (list == 0) return LINK_NO_INTERFACE_LIST;

    for (uint32_t index = 0;; ++index) {
        char16_t* path = nullptr;
        int32_t fetched = FetchInterfacePath(list, index, &path);
        if (fetched < 0) break;
        if (fetched == 0) continue;

        PlatformHandle handle = g_Hid->Open(path);
        if (handle == INVALID_PLATFORM_HANDLE) {
            delete[] path;
            continue;
        }
        uint16_t vendorId = 0, productId = 0;
        if (!g_Hid->GetIds(handle, &vendorId, &productId) || !IsProgrammingUnit(vendorId, productId)) {
            g_Hid->Close(handle);
            delete[] path;
            continue;
        }
        // A unit that another program is talking to is left to it: requests of two programs
        // would take each other's replies.
        if (!g_Hid->Claim(handle)) {
            NoteUnitInUse(path);
            g_Hid->Close(handle);
            delete[] path;
            continue;
        }

        // The first programming unit is served; nothing after it is looked at.
        g_Link.ProductId = productId;
        g_Link.DeviceHandle = handle;
        g_Link.DevicePath = path;
        g_Hid->CloseInterfaceList(list);
        return IdentifyUnit();
    }

    g_Hid->CloseInterfaceList(list);
    return LINK_NOT_FOUND;
}

int32_t ReadReportLengths()
{
    if (g_Link.DeviceHandle == INVALID_PLATFORM_HANDLE || g_Link.DevicePath == nullptr) return LINK_NO_DEVICE;
    uint16_t inputLength = 0, outputLength = 0;
    if (!g_Hid->GetReportLengths(g_Link.DeviceHandle, &inputLength, &outputLength)) return LINK_NO_CAPABILITIES;
    // Nothing is ever sent to a unit whose reports don't fit.
    if (!ReportLengthsFit(inputLength, outputLength)) return LINK_LENGTHS_UNFIT;
    g_Link.OutputReportLength = outputLength;
    g_Link.InputReportLength = inputLength;
    return LINK_OK;
}

int32_t ExchangeReports(const uint8_t request[REPORT_BUFFER_SIZE], uint8_t reply[REPORT_BUFFER_SIZE],
                        uint32_t waitMs)
{
    if (g_Link.DeviceHandle == INVALID_PLATFORM_HANDLE) return LINK_NO_DEVICE;
    // Lengths are only ever stored after they were checked against the buffers; a link whose
    // lengths were never read can't send.
    if (g_Link.OutputReportLength < MIN_OUTPUT_REPORT_LENGTH || g_Link.OutputReportLength > REPORT_BUFFER_SIZE ||
        g_Link.InputReportLength < MIN_INPUT_REPORT_LENGTH || g_Link.InputReportLength > REPORT_BUFFER_SIZE)
        return LINK_LENGTHS_UNFIT;

    // A report still waiting (a reply that came after its limit, one the unit sent on its own)
    // would otherwise be read as this request's reply, and every later reply as the one before.
    if (!g_Hid->DiscardInput(g_Link.DeviceHandle)) return LINK_WRITE_FAILED;
    if (!g_Hid->WriteReport(g_Link.DeviceHandle, request, g_Link.OutputReportLength, REPLY_TIMEOUT_MS)) return LINK_WRITE_FAILED;
    if (waitMs != 0) g_Hid->Sleep(waitMs);

    const uint64_t readStart = g_Hid->Milliseconds();
    for (uint32_t skipped = 0;; ++skipped) {
        uint64_t elapsed = g_Hid->Milliseconds() - readStart;
        uint32_t left = elapsed >= REPLY_TIMEOUT_MS ? 0 : REPLY_TIMEOUT_MS - static_cast<uint32_t>(elapsed);
        reply[0] = REPORT_ID_REPLY;
        if (!g_Hid->ReadReport(g_Link.DeviceHandle, reply, g_Link.InputReportLength, left)) return LINK_READ_FAILED;
        // Id 0: the unit numbers no reports, and whatever comes is the reply.
        if (reply[0] == REPORT_ID_REPLY || reply[0] == 0) return LINK_OK;
        if (skipped == MAX_SKIPPED_REPORTS) return LINK_READ_FAILED;
    }
}

LinkResult StandardReplyCheck(const uint8_t reply[REPORT_BUFFER_SIZE])
{
    if (reply[1] == REPLY_STATUS_ERROR && ReadLe32(reply + 4) != 0) return UnitRefused(ReadLe32(reply + 4));
    return LinkSucceeded();
}
