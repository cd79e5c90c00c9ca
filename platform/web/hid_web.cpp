// The HID table over WebHID (see page.h and the contracts in link/hid_platform.h).
//
// The page knows only the devices the user granted it (the chooser, or a browser policy); its
// list is those, in the order navigator.hid.getDevices() gives them. A device has no path in
// WebHID: the page names each device object "webhid:<n>:<vendor>:<product>", and a device
// plugged in again is a new object with a new name, as a new interface is on Windows.
//
// WebHID counts report sizes without the id byte and takes the id apart from the data; the page
// adds the id byte, so that the lengths and reports here are the ones Windows gives (60 and 60
// for a unit). Failures carry the Windows codes the simulated unit uses, so that a failure box
// reads the same in every front end: 31 a transfer the browser refused, 1167 a device gone,
// 1460 a limit that passed.
#include <emscripten.h>

#include "link/hid_platform.h"
#include "platform/web/page.h"
#include "link/system_errors.h"

namespace {

uint32_t g_LastError = 0;


// ---- The page's side ------------------------------------------------------------------------

EM_ASYNC_JS(int32_t, JsOpenList, (), { return await VelquorPage.hidList(); });

// The path of entry `index` of list `list` as UTF-16 into `out` (room for `capacity` units with
// the terminator); its length, or -1 past the end.
EM_JS(int32_t, JsListPath, (int32_t list, uint32_t index, char16_t* out, uint32_t capacity), {
    const path = VelquorPage.hidListPath(list, index);
    if (path === null) return -1;
    if (out !== 0 && capacity > path.length) stringToUTF16(path, out, 2 * capacity);
    return path.length;
});

EM_JS(void, JsCloseList, (int32_t list), { VelquorPage.hidCloseList(list); });

EM_ASYNC_JS(int32_t, JsOpen, (const char16_t* path), { return await VelquorPage.hidOpen(UTF16ToString(path)); });

// 0 with both values, or the failure's code.
EM_JS(int32_t, JsIds, (int32_t handle, uint16_t* vendorId, uint16_t* productId), {
    return VelquorPage.hidIds(handle, (vendor, product) => {
        HEAPU16[vendorId >> 1] = vendor;
        HEAPU16[productId >> 1] = product;
    });
});

EM_JS(int32_t, JsLengths, (int32_t handle, uint16_t* inputLength, uint16_t* outputLength), {
    return VelquorPage.hidLengths(handle, (input, output) => {
        HEAPU16[inputLength >> 1] = input;
        HEAPU16[outputLength >> 1] = output;
    });
});

// 0, or 170 (busy) when another tab holds the unit.
EM_ASYNC_JS(int32_t, JsClaim, (int32_t handle), { return await VelquorPage.hidClaim(handle); });

EM_JS(int32_t, JsDiscard, (int32_t handle), { return VelquorPage.hidDiscard(handle); });

// 0, or the failure's code.
EM_ASYNC_JS(int32_t, JsWrite, (int32_t handle, const uint8_t* report, uint32_t length, uint32_t timeoutMs), {
    const bytes = HEAPU8.slice(report, report + length);
    return await VelquorPage.hidWrite(handle, bytes, timeoutMs);
});

// 0 with the report in `report`, -1 when none has come yet, or the failure's code. A reply has
// mostly come during the pause before its read: taking it costs no round of the page's loop.
EM_JS(int32_t, JsTakeReport, (int32_t handle, uint8_t* report, uint32_t length), {
    return VelquorPage.hidTake(handle, HEAPU8.subarray(report, report + length));
});

// 0 with the report in `report`, or the failure's code.
EM_ASYNC_JS(int32_t, JsRead, (int32_t handle, uint8_t* report, uint32_t length, uint32_t timeoutMs), {
    const result = await VelquorPage.hidRead(handle, length, timeoutMs);
    if (typeof result === 'number') return result;
    HEAPU8.set(result, report);
    return 0;
});

EM_JS(void, JsClose, (int32_t handle), { VelquorPage.hidClose(handle); });

// ---- The table ------------------------------------------------------------------------------

bool Done(int32_t code)
{
    g_LastError = static_cast<uint32_t>(code);
    return code == 0;
}

int32_t HandleOf(PlatformHandle handle)
{
    return handle == INVALID_PLATFORM_HANDLE ? 0 : static_cast<int32_t>(handle);
}

InterfaceList OpenInterfaceList()
{
    int32_t list = JsOpenList();
    g_LastError = 0;
    return list > 0 ? static_cast<InterfaceList>(list) : 0;
}

int32_t GetInterfacePath(InterfaceList list, uint32_t index, char16_t* path, uint32_t capacity)
{
    int32_t length = JsListPath(static_cast<int32_t>(list), index, path, capacity);
    return length < 0 ? INTERFACE_LIST_END : length;
}

void CloseInterfaceList(InterfaceList list) { JsCloseList(static_cast<int32_t>(list)); }

PlatformHandle Open(const char16_t* path)
{
    int32_t handle = path != nullptr ? JsOpen(path) : -static_cast<int32_t>(SYSTEM_ERROR_INVALID_HANDLE);
    if (handle <= 0) {
        g_LastError = static_cast<uint32_t>(-handle);
        return INVALID_PLATFORM_HANDLE;
    }
    g_LastError = 0;
    return static_cast<PlatformHandle>(handle);
}

bool GetIds(PlatformHandle handle, uint16_t* vendorId, uint16_t* productId)
{
    if (vendorId == nullptr || productId == nullptr) return Done(SYSTEM_ERROR_INVALID_PARAMETER);
    return Done(JsIds(HandleOf(handle), vendorId, productId));
}

bool GetReportLengths(PlatformHandle handle, uint16_t* inputLength, uint16_t* outputLength)
{
    if (inputLength == nullptr || outputLength == nullptr) return Done(SYSTEM_ERROR_INVALID_PARAMETER);
    return Done(JsLengths(HandleOf(handle), inputLength, outputLength));
}

// Other programs can't be seen from a page; other tabs and windows of this page can: the
// claim is the browser's lock named after the unit (Web Locks), held while the handle is open.
bool Claim(PlatformHandle handle) { return Done(JsClaim(HandleOf(handle))); }

bool DiscardInput(PlatformHandle handle) { return Done(JsDiscard(HandleOf(handle))); }

bool WriteReport(PlatformHandle handle, const uint8_t* report, uint32_t length, uint32_t timeoutMs)
{
    if (report == nullptr || length == 0) return Done(SYSTEM_ERROR_INVALID_PARAMETER);
    return Done(JsWrite(HandleOf(handle), report, length, timeoutMs));
}

bool ReadReport(PlatformHandle handle, uint8_t* report, uint32_t length, uint32_t timeoutMs)
{
    if (report == nullptr || length == 0) return Done(SYSTEM_ERROR_INVALID_PARAMETER);
    int32_t taken = JsTakeReport(HandleOf(handle), report, length);
    if (taken >= 0) return Done(taken);
    return Done(JsRead(HandleOf(handle), report, length, timeoutMs));
}

void Close(PlatformHandle handle)
{
    if (handle != INVALID_PLATFORM_HANDLE) JsClose(HandleOf(handle));
}

void Sleep(uint32_t milliseconds) { PageSleep(milliseconds); }

uint32_t LastError() { return g_LastError; }

uint64_t Milliseconds() { return PageMilliseconds(); }

bool IsSimulation() { return false; }

}  // namespace

const HidPlatform kWebHidPlatform = {
    OpenInterfaceList, GetInterfacePath, CloseInterfaceList, Open,  GetIds,    GetReportLengths,
    Claim,             DiscardInput,     WriteReport,        ReadReport, Close, Sleep,
    LastError,         Milliseconds,     IsSimulation,
};
