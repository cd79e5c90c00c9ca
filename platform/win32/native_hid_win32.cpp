// The terminal front end on Windows: the window's HID edge (hid_win32.h), and the arrivals and
// removals of HID interfaces as the system announces them.
//
// The announcements come as WM_DEVICECHANGE to a window registered for the HID interface class
// (RegisterDeviceNotificationW). A console program has no window of its own, so the events get
// one: a hidden message-only window on a thread of its own, which queues each arrival and
// removal (its kind and the interface path from dbcc_name) for Wait. A full queue, or a path
// longer than a queue entry holds, loses events: Wait then says so once (DEVICE_EVENTS_LOST),
// and watch looks at what is plugged in afresh.
#include <windows.h>
#include <dbt.h>

#include <atomic>

extern "C" {
#include <hidsdi.h>
}

#include "cli/native_hid.h"
#include "platform/win32/hid_win32.h"
#include "record/record_format.h"

namespace {

constexpr uint32_t QUEUE_LENGTH = 64;
// Interface paths are a few hundred characters at most.
constexpr uint32_t QUEUED_PATH_SIZE = 512;
// How long the thread may take to make its window, and to end once asked to.
constexpr DWORD START_LIMIT_MS = 10000;
constexpr DWORD STOP_LIMIT_MS = 5000;
// The thread's waits for messages: it looks whether it is asked to end at least this often.
constexpr DWORD MESSAGE_WAIT_MS = 500;

struct QueuedEvent {
    DeviceEventKind Kind;
    char16_t Path[QUEUED_PATH_SIZE];
};

// Shared between the window's thread and the caller of Wait, under g_Lock.
CRITICAL_SECTION g_Lock;
bool g_LockMade = false;
QueuedEvent g_Queue[QUEUE_LENGTH];
uint32_t g_First = 0;
uint32_t g_Count = 0;
bool g_Lost = false;
HANDLE g_Pending = nullptr;  // manual reset: set while an event or a loss waits to be told

HANDLE g_Thread = nullptr;
HANDLE g_Ready = nullptr;               // set once the window is registered, or could not be
std::atomic<bool> g_Listening{false};  // the window is registered for the HID interface class
std::atomic<bool> g_Stopping{false};

void Queue(DeviceEventKind kind, const wchar_t* path)
{
    uint32_t length = 0;
    while (length < QUEUED_PATH_SIZE && path[length] != L'\0') ++length;
    EnterCriticalSection(&g_Lock);
    if (g_Count == QUEUE_LENGTH || length == QUEUED_PATH_SIZE) {
        g_Lost = true;
    } else {
        QueuedEvent& event = g_Queue[(g_First + g_Count) % QUEUE_LENGTH];
        event.Kind = kind;
        for (uint32_t i = 0; i <= length; ++i) event.Path[i] = static_cast<char16_t>(path[i]);
        ++g_Count;
    }
    SetEvent(g_Pending);
    LeaveCriticalSection(&g_Lock);
}

LRESULT CALLBACK NotificationWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DEVICECHANGE && (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) &&
        lParam != 0) {
        const DEV_BROADCAST_HDR* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE)
            Queue(wParam == DBT_DEVICEARRIVAL ? DEVICE_ARRIVED : DEVICE_REMOVED,
                  reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header)->dbcc_name);
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI NotificationThread(void*)
{
    static const wchar_t kClass[] = L"VelquorFlashDeviceEvents";
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = NotificationWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClass;
    RegisterClassExW(&windowClass);  // fails harmlessly when a former Open registered it
    HWND window = CreateWindowExW(0, kClass, L"velquor-flash device events", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  instance, nullptr);
    HDEVNOTIFY notification = nullptr;
    if (window != nullptr) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        HidD_GetHidGuid(&filter.dbcc_classguid);
        notification = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
    g_Listening = notification != nullptr;
    SetEvent(g_Ready);

    while (notification != nullptr && !g_Stopping) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, MESSAGE_WAIT_MS, QS_ALLINPUT) == WAIT_FAILED) break;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    if (notification != nullptr) UnregisterDeviceNotification(notification);
    if (window != nullptr) DestroyWindow(window);
    return 0;
}

void CloseEvents()
{
    bool ended = true;
    if (g_Thread != nullptr) {
        g_Stopping = true;
        // A thread that does not end in time keeps what it uses to the end of the process.
        ended = WaitForSingleObject(g_Thread, STOP_LIMIT_MS) == WAIT_OBJECT_0;
        CloseHandle(g_Thread);
        g_Thread = nullptr;
    }
    if (ended && g_Ready != nullptr) CloseHandle(g_Ready);
    if (ended && g_Pending != nullptr) CloseHandle(g_Pending);
    g_Ready = g_Pending = nullptr;
    g_Listening = false;
}

bool OpenEvents()
{
    if (g_Thread != nullptr) return g_Listening;
    if (!g_LockMade) {
        InitializeCriticalSection(&g_Lock);
        g_LockMade = true;
    }
    g_First = g_Count = 0;
    g_Lost = false;
    g_Stopping = false;
    g_Pending = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_Ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_Pending != nullptr && g_Ready != nullptr)
        g_Thread = CreateThread(nullptr, 0, NotificationThread, nullptr, 0, nullptr);
    bool listening = g_Thread != nullptr && WaitForSingleObject(g_Ready, START_LIMIT_MS) == WAIT_OBJECT_0 && g_Listening;
    if (!listening) CloseEvents();
    return listening;
}

int32_t WaitEvent(uint32_t timeoutMs, DeviceEventKind* kind, char16_t* path, uint32_t capacity)
{
    if (g_Thread == nullptr) return -1;
    // The thread's end (it can no longer listen) ends the wait too.
    HANDLE waits[2] = {g_Pending, g_Thread};
    DWORD woken = WaitForMultipleObjects(2, waits, FALSE, timeoutMs);
    if (woken == WAIT_TIMEOUT) return 0;
    if (woken != WAIT_OBJECT_0) return -1;

    int32_t told = 1;
    EnterCriticalSection(&g_Lock);
    if (g_Lost) {
        // What the queue still holds is part of what is now looked at afresh.
        g_Lost = false;
        g_Count = 0;
        told = DEVICE_EVENTS_LOST;
    } else if (g_Count == 0) {
        told = 0;
    } else {
        const QueuedEvent& event = g_Queue[g_First];
        *kind = event.Kind;
        uint32_t i = 0;
        for (; i + 1 < capacity && event.Path[i] != u'\0'; ++i) path[i] = event.Path[i];
        if (capacity > 0) path[i] = u'\0';
        g_First = (g_First + 1) % QUEUE_LENGTH;
        --g_Count;
    }
    if (g_Count == 0) ResetEvent(g_Pending);
    LeaveCriticalSection(&g_Lock);
    return told;
}

const DeviceEvents kWindowsDeviceEvents = {OpenEvents, WaitEvent, CloseEvents};

}  // namespace

const HidPlatform* NativeHidPlatform() { return &kWin32HidPlatform; }

// Windows' HID stack hands out no report descriptor: the record has none.
NativeRecordFacts NativeRecordEdge() { return {RecordEdgeName(RECORD_EDGE_WIN32), nullptr}; }

// Windows gives every user access to a programming unit: no rule to install, no node refused.
const char* UnitRefusedByPermission() { return nullptr; }

const DeviceEvents* NativeDeviceEvents() { return &kWindowsDeviceEvents; }
