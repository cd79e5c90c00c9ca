// The Windows HID edge (see hid_win32.h and the contracts in link/hid_platform.h).
//
// Interfaces are listed with SetupAPI under the HID interface class. A device is opened for
// shared reading and writing with FILE_FLAG_OVERLAPPED: a read then waits on its own event with
// a time limit and is cancelled when the limit passes, while a write waits for its completion
// without limit, so that to the caller both stay plain blocking calls.
#include <windows.h>
#include <setupapi.h>
#include <timeapi.h>

extern "C" {
#include <hidsdi.h>
}

#include <cstddef>
#include <cstdint>

#include "platform/win32/hid_win32.h"

// Device paths travel as char16_t above this edge and as wchar_t below it: the same 16-bit
// UTF-16 units on Windows.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

// What an InterfaceList stands for: the device information set and the class it was taken for.
struct InterfaceListRecord {
    HDEVINFO Set;
    GUID InterfaceClass;
};

// Detail records larger than this are skipped: device paths are a few hundred characters.
constexpr DWORD DETAIL_BUFFER_BYTES = 4096;

union DetailBuffer {
    SP_DEVICE_INTERFACE_DETAIL_DATA_W Detail;
    uint8_t Bytes[DETAIL_BUFFER_BYTES];
};

HANDLE ToHandle(PlatformHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// The performance counter: the clock of every time limit and pause here.
int64_t PerformanceCount()
{
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.QuadPart;
}

int64_t PerformanceFrequency()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

// a * b / c rounded up, for a counter value and a unit conversion, without overflowing.
int64_t ScaleUp(int64_t a, int64_t b, int64_t c)
{
    return (a / c) * b + ((a % c) * b + c - 1) / c;
}

InterfaceList OpenInterfaceList()
{
    InterfaceList list = 0;
    DWORD error = ERROR_SUCCESS;
    GUID hidClass;
    HDEVINFO set = INVALID_HANDLE_VALUE;
    InterfaceListRecord* record = nullptr;

    HidD_GetHidGuid(&hidClass);
    set = SetupDiGetClassDevsW(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        goto done;
    }
    record = static_cast<InterfaceListRecord*>(HeapAlloc(GetProcessHeap(), 0, sizeof(InterfaceListRecord)));
    if (record == nullptr) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        SetupDiDestroyDeviceInfoList(set);
        goto done;
    }
    record->Set = set;
    record->InterfaceClass = hidClass;
    list = reinterpret_cast<InterfaceList>(record);

done:
    if (list == 0) SetLastError(error);
    return list;
}

int32_t GetInterfacePath(InterfaceList list, uint32_t index, char16_t* path, uint32_t capacity)
{
    const InterfaceListRecord* record = reinterpret_cast<const InterfaceListRecord*>(list);
    SP_DEVICE_INTERFACE_DATA interfaceData;
    DWORD required = 0;
    DetailBuffer buffer;
    size_t maxUnits = 0;
    size_t length = 0;

    if (record == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INTERFACE_LIST_END;
    }
    interfaceData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    if (!SetupDiEnumDeviceInterfaces(record->Set, nullptr, &record->InterfaceClass, index, &interfaceData))
        return INTERFACE_LIST_END;

    // First call: the size of the detail record. It reports failure (the buffer is missing)
    // and is only asked for that size.
    SetupDiGetDeviceInterfaceDetailW(record->Set, &interfaceData, nullptr, 0, &required, nullptr);
    if (required <= offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) || required > DETAIL_BUFFER_BYTES)
        return INTERFACE_NO_DETAIL;

    // Second call: the record itself. Its size field holds the size of the fixed part, which
    // differs between 32-bit and 64-bit processes.
    buffer.Detail.cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(record->Set, &interfaceData, &buffer.Detail, required, nullptr, nullptr))
        return INTERFACE_NO_DETAIL;

    maxUnits = (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR);
    while (length < maxUnits && buffer.Detail.DevicePath[length] != L'\0') ++length;
    if (length == 0) return INTERFACE_NO_DETAIL;

    if (path != nullptr && capacity > length) {
        for (size_t i = 0; i < length; ++i) path[i] = static_cast<char16_t>(buffer.Detail.DevicePath[i]);
        path[length] = u'\0';
    }
    return static_cast<int32_t>(length);
}

void CloseInterfaceList(InterfaceList list)
{
    InterfaceListRecord* record = reinterpret_cast<InterfaceListRecord*>(list);
    if (record == nullptr) return;
    DWORD error = GetLastError();
    SetupDiDestroyDeviceInfoList(record->Set);
    HeapFree(GetProcessHeap(), 0, record);
    SetLastError(error);
}

PlatformHandle Open(const char16_t* path)
{
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_PLATFORM_HANDLE;
    }
    HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) return INVALID_PLATFORM_HANDLE;
    return reinterpret_cast<PlatformHandle>(file);
}

bool GetIds(PlatformHandle handle, uint16_t* vendorId, uint16_t* productId)
{
    HIDD_ATTRIBUTES attributes;
    attributes.Size = sizeof(HIDD_ATTRIBUTES);
    if (vendorId == nullptr || productId == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!HidD_GetAttributes(ToHandle(handle), &attributes)) return false;
    *vendorId = attributes.VendorID;
    *productId = attributes.ProductID;
    return true;
}

bool GetReportLengths(PlatformHandle handle, uint16_t* inputLength, uint16_t* outputLength)
{
    bool ok = false;
    DWORD error = ERROR_SUCCESS;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HIDP_CAPS caps;

    if (inputLength == nullptr || outputLength == nullptr) {
        error = ERROR_INVALID_PARAMETER;
        goto done;
    }
    if (!HidD_GetPreparsedData(ToHandle(handle), &preparsed)) {
        error = GetLastError();
        goto done;
    }
    if (HidP_GetCaps(preparsed, &caps) != HIDP_STATUS_SUCCESS) {
        error = ERROR_INVALID_DATA;
        goto free_preparsed;
    }
    *inputLength = caps.InputReportByteLength;
    *outputLength = caps.OutputReportByteLength;
    ok = true;

free_preparsed:
    HidD_FreePreparsedData(preparsed);
done:
    if (!ok) SetLastError(error);
    return ok;
}

bool WriteReport(PlatformHandle handle, const uint8_t* report, uint32_t length)
{
    bool ok = false;
    DWORD error = ERROR_SUCCESS;
    DWORD written = 0;
    OVERLAPPED overlapped = {};
    HANDLE file = ToHandle(handle);

    if (report == nullptr || length == 0) {
        error = ERROR_INVALID_PARAMETER;
        goto done;
    }
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        error = GetLastError();
        goto done;
    }
    if (!WriteFile(file, report, length, nullptr, &overlapped)) {
        error = GetLastError();
        if (error != ERROR_IO_PENDING) goto close_event;
    }
    // Blocks until the report has gone out (or the device has gone away).
    if (!GetOverlappedResult(file, &overlapped, &written, TRUE)) {
        error = GetLastError();
        goto close_event;
    }
    if (written != length) {
        error = ERROR_WRITE_FAULT;
        goto close_event;
    }
    ok = true;

close_event:
    CloseHandle(overlapped.hEvent);
done:
    if (!ok) SetLastError(error);
    return ok;
}

// Waits for a pending read's event, at least `timeoutMs` by the performance counter (a wait's
// own time-out may end a little early). True when the read has ended.
bool WaitForReport(HANDLE event, uint32_t timeoutMs)
{
    if (timeoutMs == INFINITE) return WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0;
    int64_t frequency = PerformanceFrequency();
    int64_t deadline = PerformanceCount() + ScaleUp(static_cast<int64_t>(timeoutMs), frequency, 1000);
    for (;;) {
        int64_t now = PerformanceCount();
        DWORD wait = now >= deadline ? 0 : static_cast<DWORD>(ScaleUp(deadline - now, 1000, frequency));
        if (wait == INFINITE) wait = INFINITE - 1;
        DWORD result = WaitForSingleObject(event, wait);
        if (result == WAIT_OBJECT_0) return true;
        if (result != WAIT_TIMEOUT || wait == 0) return false;
    }
}

bool ReadReport(PlatformHandle handle, uint8_t* report, uint32_t length, uint32_t timeoutMs)
{
    bool ok = false;
    bool timedOut = false;
    DWORD error = ERROR_SUCCESS;
    DWORD received = 0;
    OVERLAPPED overlapped = {};
    HANDLE file = ToHandle(handle);

    if (report == nullptr || length == 0) {
        error = ERROR_INVALID_PARAMETER;
        goto done;
    }
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        error = GetLastError();
        goto done;
    }
    if (!ReadFile(file, report, length, nullptr, &overlapped)) {
        error = GetLastError();
        if (error != ERROR_IO_PENDING) goto close_event;
        if (!WaitForReport(overlapped.hEvent, timeoutMs)) {
            timedOut = true;
            CancelIoEx(file, &overlapped);
        }
    }
    // Collects the read's end. After a cancellation this waits until the system has let go of
    // the buffer and the record; a report that arrived just in time still counts.
    if (!GetOverlappedResult(file, &overlapped, &received, TRUE)) {
        error = GetLastError();
        if (timedOut && error == ERROR_OPERATION_ABORTED) error = ERROR_TIMEOUT;
        goto close_event;
    }
    if (received != length) {
        error = ERROR_INVALID_DATA;
        goto close_event;
    }
    ok = true;

close_event:
    CloseHandle(overlapped.hEvent);
done:
    if (!ok) SetLastError(error);
    return ok;
}

void Close(PlatformHandle handle)
{
    if (handle == INVALID_PLATFORM_HANDLE || handle == 0) return;
    CloseHandle(ToHandle(handle));
}

// ---------------------------------------------------------------------------------------------
// Clock and pauses.

// Waits on a high-resolution waitable timer until the counter reaches `target`, re-arming it
// whenever it fires early. False when no such timer can be had.
bool WaitWithTimer(int64_t target, int64_t frequency)
{
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    if (timer == nullptr) return false;
    bool ok = true;
    for (int64_t now = PerformanceCount(); now < target; now = PerformanceCount()) {
        LARGE_INTEGER due;
        due.QuadPart = -ScaleUp(target - now, 10000000, frequency);  // relative, 100 ns units
        if (!SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) ||
            WaitForSingleObject(timer, INFINITE) != WAIT_OBJECT_0) {
            ok = false;
            break;
        }
    }
    CloseHandle(timer);
    return ok;
}

// The fallback: Sleep at a 1 ms timer resolution, topped up until the counter reaches `target`.
void WaitWithSleep(int64_t target, int64_t frequency)
{
    bool periodSet = timeBeginPeriod(1) == TIMERR_NOERROR;
    for (int64_t now = PerformanceCount(); now < target; now = PerformanceCount())
        ::Sleep(static_cast<DWORD>(ScaleUp(target - now, 1000, frequency)));
    if (periodSet) timeEndPeriod(1);
}

void Sleep(uint32_t milliseconds)
{
    if (milliseconds == 0) return;
    DWORD error = GetLastError();
    int64_t frequency = PerformanceFrequency();
    int64_t target = PerformanceCount() + ScaleUp(static_cast<int64_t>(milliseconds), frequency, 1000);
    // A timer that fails part-way has still not waited too long; the fallback finishes the wait.
    if (!WaitWithTimer(target, frequency)) WaitWithSleep(target, frequency);
    SetLastError(error);
}

uint32_t LastError() { return GetLastError(); }

uint64_t Milliseconds()
{
    int64_t count = PerformanceCount();
    int64_t frequency = PerformanceFrequency();
    return static_cast<uint64_t>((count / frequency) * 1000 + (count % frequency) * 1000 / frequency);
}

}  // namespace

const HidPlatform kWin32HidPlatform = {
    OpenInterfaceList,
    GetInterfacePath,
    CloseInterfaceList,
    Open,
    GetIds,
    GetReportLengths,
    WriteReport,
    ReadReport,
    Close,
    Sleep,
    LastError,
    Milliseconds,
};
