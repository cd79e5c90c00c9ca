// The Windows HID edge (see hid_win32.h and the contracts in link/hid_platform.h).
//
// Interfaces are listed with SetupAPI under the HID interface class. A device is opened for
// shared reading and writing with FILE_FLAG_OVERLAPPED: a write or a read then waits on the
// device's event with a time limit and is cancelled when the limit passes, so that to the
// caller both stay plain blocking calls that always end. While a program's window must stay
// responsive, every wait here (transfers and pauses) dispatches the thread's messages, except
// those that would hold the thread in a loop of the system's own (see DispatchPendingMessages).
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

// An open device: the file, and what its transfers need beyond a call. The event, the
// OVERLAPPED record and the transfer buffer belong to the device, not to a call's stack: a
// transfer that the system does not give back after its cancellation could still write into
// them, so such a record is never freed (see Close).
struct DeviceRecord {
    HANDLE File;
    HANDLE Claim;        // the unit's named object while this program holds it, else null
    uint64_t PathHash;   // names that object
    HANDLE Event;
    OVERLAPPED Overlapped;
    bool Stuck;          // a cancelled transfer never ended: no further transfer is started
    bool NoFlush;        // the HID class driver has no flush of its queue: waiting reports are read off
    uint16_t InputLength;  // the input report length, once DiscardInput needed it; 0 before
    uint32_t Capacity;   // bytes of Buffer
    uint8_t* Buffer;
};

// How long a cancelled transfer may take to give its buffers back.
constexpr uint32_t CANCEL_GRACE_MS = 2000;

bool g_PumpMessages = false;
// The waits for the unit end at once, as if it did not answer (SetHidWaitsCutShort).
bool g_CutShort = false;
// A WM_QUIT taken from the queue during a wait: it belongs to the loop that owns the thread and
// is posted again when the waits stop dispatching; until then they only wait.
bool g_QuitPending = false;
int g_QuitCode = 0;

DeviceRecord* ToRecord(PlatformHandle handle)
{
    if (handle == INVALID_PLATFORM_HANDLE || handle == 0) return nullptr;
    return reinterpret_cast<DeviceRecord*>(handle);
}

HANDLE ToFile(PlatformHandle handle)
{
    DeviceRecord* record = ToRecord(handle);
    return record != nullptr ? record->File : INVALID_HANDLE_VALUE;
}

#ifndef WM_POPUPSYSTEMMENU
#define WM_POPUPSYSTEMMENU 0x0313  // the taskbar's request for a window's system menu
#endif

// Input that DefWindowProc answers with a loop of its own, which runs until the user lets go:
// a press on the frame (moving, sizing, the system menu, the scroll bars, the caption buttons,
// which Wine and Windows track in a loop until the button comes up), and whatever opens a
// context menu (the right button's release, Shift+F10, the menu key). While the waits dispatch,
// such a loop would hold every request back for as long as it runs, so this input is dropped
// for every window of the thread. The window procedures refuse what the system sends them
// directly (WM_SYSCOMMAND, WM_CONTEXTMENU); this covers the controls, such as the scroll bar of
// an edit control, and the loops that start without a WM_SYSCOMMAND.
bool StartsSystemLoop(const MSG& message)
{
    switch (message.message) {
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONDBLCLK:
    case WM_NCRBUTTONDOWN:
    case WM_NCRBUTTONDBLCLK:
    case WM_NCRBUTTONUP:
    case WM_NCMBUTTONDOWN:
    case WM_NCMBUTTONDBLCLK:
    case WM_NCXBUTTONDOWN:
    case WM_NCXBUTTONDBLCLK:
    case WM_NCPOINTERDOWN:
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU:
    case WM_POPUPSYSTEMMENU:
        return true;
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
        return message.wParam == VK_APPS || (message.wParam == VK_F10 && (GetKeyState(VK_SHIFT) & 0x8000) != 0);
    default:
        return false;
    }
}

// Hands every message queued for the calling thread to its window procedure, except the input
// that would start a loop of the system's own (StartsSystemLoop). Without the close box's
// tracking loop, a click on it arrives as its release, and is handed on as the close command it
// stands for. The last error is kept: what a window procedure does must not change the code a
// failed transfer leaves.
void DispatchPendingMessages()
{
    DWORD error = GetLastError();
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            g_QuitPending = true;
            g_QuitCode = static_cast<int>(message.wParam);
            break;
        }
        if (StartsSystemLoop(message)) continue;
        if (message.message == WM_NCLBUTTONUP && message.wParam == HTCLOSE) {
            message.message = WM_SYSCOMMAND;
            message.wParam = SC_CLOSE;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    SetLastError(error);
}

// How a wait may end besides its object and its deadline.
enum WaitKind : uint8_t {
    WAIT_FOR_UNIT,    // a transfer or a pause: cut short with the waits (SetHidWaitsCutShort)
    WAIT_FOR_SYSTEM,  // the system giving a cancelled transfer's buffers back: never cut short
};

// Waits until `object` is signalled or the counter reaches `deadline`; without an object, only
// for the deadline. While waits pump messages, the thread's messages are dispatched meanwhile.
// WAIT_OBJECT_0, WAIT_TIMEOUT (before the deadline only when a wait for the unit is cut short)
// or WAIT_FAILED.
DWORD WaitUntil(HANDLE object, int64_t deadline, WaitKind kind)
{
    int64_t frequency = PerformanceFrequency();
    for (;;) {
        if (g_CutShort && kind == WAIT_FOR_UNIT) return WAIT_TIMEOUT;
        int64_t now = PerformanceCount();
        DWORD wait = now >= deadline ? 0 : static_cast<DWORD>(ScaleUp(deadline - now, 1000, frequency));
        if (wait >= INFINITE) wait = INFINITE - 1;
        DWORD count = object != nullptr ? 1 : 0;
        DWORD result;
        if (g_PumpMessages && !g_QuitPending) {
            // The system counts a window as hung when its thread has not looked at its queue
            // for a few seconds, even if nothing came: look before every wait.
            MSG peeked;
            PeekMessageW(&peeked, nullptr, 0, 0, PM_NOREMOVE);
            result = MsgWaitForMultipleObjectsEx(count, object != nullptr ? &object : nullptr, wait, QS_ALLINPUT,
                                                 MWMO_INPUTAVAILABLE);
            if (result == WAIT_OBJECT_0 + count) {
                // Messages came first. Past the deadline they wait for the next call.
                if (wait == 0) return WAIT_TIMEOUT;
                DispatchPendingMessages();
                continue;
            }
        } else if (object != nullptr) {
            result = WaitForSingleObject(object, wait);
        } else {
            ::Sleep(wait);
            result = WAIT_TIMEOUT;
        }
        if (result == WAIT_OBJECT_0 && object != nullptr) return WAIT_OBJECT_0;
        if (result != WAIT_TIMEOUT) return WAIT_FAILED;
        if (wait == 0) return WAIT_TIMEOUT;
    }
}

int64_t DeadlineAfter(uint32_t milliseconds)
{
    return PerformanceCount() + ScaleUp(static_cast<int64_t>(milliseconds), PerformanceFrequency(), 1000);
}

// Gives the device's buffer at least `length` bytes. False when memory runs out.
bool ReserveBuffer(DeviceRecord* record, uint32_t length)
{
    if (record->Capacity >= length) return true;
    uint8_t* buffer = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, length));
    if (buffer == nullptr) return false;
    if (record->Buffer != nullptr) HeapFree(GetProcessHeap(), 0, record->Buffer);
    record->Buffer = buffer;
    record->Capacity = length;
    return true;
}

// How long a read waits before it is asked again (see Transfer).
constexpr uint32_t READ_ASKED_AGAIN_MS = 200;

// Runs one transfer of `length` bytes through the device's buffer: starts it with `start`,
// waits for it at most `timeoutMs`, cancels it then. Returns the bytes transferred, or -1 with
// the last error set (ERROR_TIMEOUT when the limit passed, ERROR_CANCELLED when the waits were
// cut short).
//
// A read is asked again every `askAgainMs` (0: never) until the limit: it is cancelled and
// started anew. Wine's HID class driver takes a read from the handle's queue of reports and,
// finding none, keeps the read for the next report, in two steps: a report that arrives between
// them stays in the queue without ending the read, until yet another report comes, which for a
// reply may be never (the unit has answered; the program would wait out the whole limit). A
// read started anew takes it from the queue at once. Where the class driver has no such gap
// (Windows'), asking again loses nothing: reports wait in the handle's queue meanwhile.
typedef BOOL (*StartTransfer)(HANDLE file, uint8_t* buffer, DWORD length, OVERLAPPED* overlapped);

BOOL StartWrite(HANDLE file, uint8_t* buffer, DWORD length, OVERLAPPED* overlapped)
{
    return WriteFile(file, buffer, length, nullptr, overlapped);
}

BOOL StartRead(HANDLE file, uint8_t* buffer, DWORD length, OVERLAPPED* overlapped)
{
    return ReadFile(file, buffer, length, nullptr, overlapped);
}

int64_t Transfer(DeviceRecord* record, StartTransfer start, uint32_t length, uint32_t timeoutMs, uint32_t askAgainMs)
{
    const int64_t deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        int64_t waitEnd = deadline;
        if (askAgainMs != 0) {
            int64_t askAgain = DeadlineAfter(askAgainMs);
            if (askAgain < waitEnd) waitEnd = askAgain;
        }
        ZeroMemory(&record->Overlapped, sizeof record->Overlapped);
        ResetEvent(record->Event);
        record->Overlapped.hEvent = record->Event;
        bool cancelled = false;
        if (!start(record->File, record->Buffer, length, &record->Overlapped)) {
            DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                SetLastError(error);
                return -1;
            }
            if (WaitUntil(record->Event, waitEnd, WAIT_FOR_UNIT) != WAIT_OBJECT_0) {
                cancelled = true;
                CancelIoEx(record->File, &record->Overlapped);
                // The system gives the buffers back once the cancellation is done; a transfer
                // that does not end even then leaves the device unusable, never the caller
                // waiting.
                if (WaitUntil(record->Event, DeadlineAfter(CANCEL_GRACE_MS), WAIT_FOR_SYSTEM) != WAIT_OBJECT_0) {
                    record->Stuck = true;
                    SetLastError(ERROR_TIMEOUT);
                    return -1;
                }
            }
        }
        // The transfer has ended: this does not wait. A report that arrived just in time counts.
        DWORD transferred = 0;
        if (GetOverlappedResult(record->File, &record->Overlapped, &transferred, FALSE)) return transferred;
        DWORD error = GetLastError();
        if (!cancelled || error != ERROR_OPERATION_ABORTED) {
            SetLastError(error);
            return -1;
        }
        if (g_CutShort || PerformanceCount() >= deadline) {
            SetLastError(g_CutShort ? ERROR_CANCELLED : ERROR_TIMEOUT);
            return -1;
        }
    }
}

// FNV-1a over the path with ASCII letters in lower case: the system compares interface paths
// without regard to case, and so must the name of a unit's object.
uint64_t HashPath(const char16_t* path)
{
    uint64_t hash = 0xCBF29CE484222325ull;
    for (; *path != u'\0'; ++path) {
        char16_t unit = *path;
        if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit + 32);
        hash = (hash ^ (unit & 0xFF)) * 0x100000001B3ull;
        hash = (hash ^ (unit >> 8)) * 0x100000001B3ull;
    }
    return hash;
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
    DWORD error = ERROR_SUCCESS;
    DeviceRecord* record = static_cast<DeviceRecord*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(DeviceRecord)));
    if (record == nullptr) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        goto close_file;
    }
    record->File = file;
    record->PathHash = HashPath(path);
    record->Event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (record->Event == nullptr) {
        error = GetLastError();
        goto free_record;
    }
    return reinterpret_cast<PlatformHandle>(record);

free_record:
    HeapFree(GetProcessHeap(), 0, record);
close_file:
    CloseHandle(file);
    SetLastError(error);
    return INVALID_PLATFORM_HANDLE;
}

bool GetIds(PlatformHandle handle, uint16_t* vendorId, uint16_t* productId)
{
    HIDD_ATTRIBUTES attributes;
    attributes.Size = sizeof(HIDD_ATTRIBUTES);
    if (vendorId == nullptr || productId == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!HidD_GetAttributes(ToFile(handle), &attributes)) return false;
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
    if (!HidD_GetPreparsedData(ToFile(handle), &preparsed)) {
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

// A unit is claimed with a named mutex of the global namespace (one program in every session
// of the machine), named after its interface path. Its existence is the claim: it lives while
// a program holds a handle to it, and goes with that program's Close or its end.
bool Claim(PlatformHandle handle)
{
    DeviceRecord* record = ToRecord(handle);
    if (record == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (record->Claim != nullptr) {
        SetLastError(ERROR_SUCCESS);
        return true;
    }
    static const wchar_t kPrefix[] = L"Global\\VelquorUnit-";
    wchar_t name[sizeof kPrefix / sizeof kPrefix[0] + 16];
    uint32_t length = 0;
    for (; kPrefix[length] != L'\0'; ++length) name[length] = kPrefix[length];
    for (int shift = 60; shift >= 0; shift -= 4) name[length++] = L"0123456789abcdef"[(record->PathHash >> shift) & 0xF];
    name[length] = L'\0';
    HANDLE claim = CreateMutexW(nullptr, FALSE, name);
    DWORD error = GetLastError();
    if (claim != nullptr && error == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        SetLastError(ERROR_BUSY);
        return false;
    }
    // Another user's program made it, with access for that user alone.
    if (claim == nullptr && error == ERROR_ACCESS_DENIED) {
        SetLastError(ERROR_BUSY);
        return false;
    }
    // An object that can't be made at all is no claim by another program: go on without it.
    record->Claim = claim;
    SetLastError(ERROR_SUCCESS);
    return true;
}

// The most reports DrainInput reads off in one call: more than the HID class driver keeps for a
// handle (32 by default, 512 at most), so that a unit that sends without pause can't hold it.
constexpr uint32_t MAX_DRAINED_REPORTS = 600;

// The flush for a HID class driver without one (Wine's hidclass.sys answers HidD_FlushQueue
// with ERROR_NOT_SUPPORTED): reads the waiting reports off and drops them. A read that does not
// end at once finds the queue empty and is cancelled; a report that arrives before the
// cancellation takes hold is dropped too, as it came before the request that follows.
bool DrainInput(DeviceRecord* record)
{
    if (record->Stuck) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return false;
    }
    if (record->InputLength == 0) {
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        HIDP_CAPS caps;
        if (!HidD_GetPreparsedData(record->File, &preparsed)) return false;
        bool read = HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
        HidD_FreePreparsedData(preparsed);
        if (!read || caps.InputReportByteLength == 0) {
            SetLastError(ERROR_INVALID_DATA);
            return false;
        }
        record->InputLength = caps.InputReportByteLength;
    }
    if (!ReserveBuffer(record, record->InputLength)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    for (uint32_t dropped = 0; dropped < MAX_DRAINED_REPORTS; ++dropped) {
        ZeroMemory(&record->Overlapped, sizeof record->Overlapped);
        ResetEvent(record->Event);
        record->Overlapped.hEvent = record->Event;
        if (ReadFile(record->File, record->Buffer, record->InputLength, nullptr, &record->Overlapped)) continue;
        DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            SetLastError(error);
            return false;
        }
        CancelIoEx(record->File, &record->Overlapped);
        if (WaitUntil(record->Event, DeadlineAfter(CANCEL_GRACE_MS), WAIT_FOR_SYSTEM) != WAIT_OBJECT_0) {
            record->Stuck = true;
            SetLastError(ERROR_TIMEOUT);
            return false;
        }
        DWORD transferred = 0;
        if (GetOverlappedResult(record->File, &record->Overlapped, &transferred, FALSE)) continue;
        error = GetLastError();
        if (error != ERROR_OPERATION_ABORTED) {
            SetLastError(error);
            return false;
        }
        break;
    }
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool DiscardInput(PlatformHandle handle)
{
    DeviceRecord* record = ToRecord(handle);
    if (record == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (!record->NoFlush) {
        if (HidD_FlushQueue(record->File)) {
            SetLastError(ERROR_SUCCESS);
            return true;
        }
        DWORD error = GetLastError();
        if (error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION) return false;
        record->NoFlush = true;
    }
    return DrainInput(record);
}

// Checks what a write or read needs before a transfer starts: a usable device, a report
// buffer, room for it. Sets the last error and returns null when one is missing.
DeviceRecord* ReadyForTransfer(PlatformHandle handle, const uint8_t* report, uint32_t length)
{
    DeviceRecord* record = ToRecord(handle);
    DWORD error = ERROR_SUCCESS;
    if (record == nullptr) {
        error = ERROR_INVALID_HANDLE;
    } else if (report == nullptr || length == 0) {
        error = ERROR_INVALID_PARAMETER;
    } else if (record->Stuck) {
        error = ERROR_DEVICE_NOT_CONNECTED;
    } else if (!ReserveBuffer(record, length)) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (error == ERROR_SUCCESS) return record;
    SetLastError(error);
    return nullptr;
}

bool WriteReport(PlatformHandle handle, const uint8_t* report, uint32_t length, uint32_t timeoutMs)
{
    DeviceRecord* record = ReadyForTransfer(handle, report, length);
    if (record == nullptr) return false;
    CopyMemory(record->Buffer, report, length);
    int64_t written = Transfer(record, StartWrite, length, timeoutMs, 0);
    if (written < 0) return false;
    if (written != length) {
        SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    // Whatever the overlapped start left behind (ERROR_IO_PENDING) is no error.
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool ReadReport(PlatformHandle handle, uint8_t* report, uint32_t length, uint32_t timeoutMs)
{
    DeviceRecord* record = ReadyForTransfer(handle, report, length);
    if (record == nullptr) return false;
    // The report id the caller put in byte 0 goes to the system with the request.
    record->Buffer[0] = report[0];
    int64_t received = Transfer(record, StartRead, length, timeoutMs, READ_ASKED_AGAIN_MS);
    if (received < 0) return false;
    if (received != length) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    CopyMemory(report, record->Buffer, length);
    SetLastError(ERROR_SUCCESS);
    return true;
}

void Close(PlatformHandle handle)
{
    DeviceRecord* record = ToRecord(handle);
    if (record == nullptr) return;
    DWORD error = GetLastError();
    CloseHandle(record->File);
    if (record->Claim != nullptr) CloseHandle(record->Claim);
    record->Claim = nullptr;
    // A stuck transfer may still own the event, the record and the buffer: they are left to
    // the end of the process.
    if (!record->Stuck) {
        CloseHandle(record->Event);
        if (record->Buffer != nullptr) HeapFree(GetProcessHeap(), 0, record->Buffer);
        HeapFree(GetProcessHeap(), 0, record);
    }
    SetLastError(error);
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
        // The timer is due at the target; the wait's own limit, a second later, only guards
        // against a timer that never fires.
        if (!SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) ||
            WaitUntil(timer, target + frequency, WAIT_FOR_UNIT) != WAIT_OBJECT_0) {
            ok = false;
            break;
        }
    }
    CloseHandle(timer);
    return ok;
}

// The fallback: timed waits at a 1 ms timer resolution until the counter reaches `target`.
void WaitWithoutTimer(int64_t target)
{
    bool periodSet = timeBeginPeriod(1) == TIMERR_NOERROR;
    WaitUntil(nullptr, target, WAIT_FOR_UNIT);
    if (periodSet) timeEndPeriod(1);
}

void Sleep(uint32_t milliseconds)
{
    if (milliseconds == 0) return;
    DWORD error = GetLastError();
    int64_t frequency = PerformanceFrequency();
    int64_t target = PerformanceCount() + ScaleUp(static_cast<int64_t>(milliseconds), frequency, 1000);
    // A timer that fails part-way has still not waited too long; the fallback finishes the wait.
    if (!WaitWithTimer(target, frequency)) WaitWithoutTimer(target);
    SetLastError(error);
}

uint32_t LastError() { return GetLastError(); }

bool IsSimulation() { return false; }

uint64_t Milliseconds()
{
    int64_t count = PerformanceCount();
    int64_t frequency = PerformanceFrequency();
    return static_cast<uint64_t>((count / frequency) * 1000 + (count % frequency) * 1000 / frequency);
}

}  // namespace

void SetHidWaitsPumpMessages(bool on)
{
    g_PumpMessages = on;
    if (!on && g_QuitPending) {
        g_QuitPending = false;
        PostQuitMessage(g_QuitCode);
    }
}

void SetHidWaitsCutShort(bool on) { g_CutShort = on; }

const HidPlatform kWin32HidPlatform = {
    OpenInterfaceList,
    GetInterfacePath,
    CloseInterfaceList,
    Open,
    GetIds,
    GetReportLengths,
    Claim,
    DiscardInput,
    WriteReport,
    ReadReport,
    Close,
    Sleep,
    LastError,
    Milliseconds,
    IsSimulation,
};
