// The terminal facts of the console front end on Windows.
//
// Ending the program from outside: besides Ctrl-C and Ctrl-Break, Windows tells a console
// program that its console is being closed (CTRL_CLOSE_EVENT), that the user logs off
// (CTRL_LOGOFF_EVENT) or that the system shuts down (CTRL_SHUTDOWN_EVENT), each by calling the
// control handler on a thread of its own. What Windows allows the handler:
// - There is no way to refuse them. Returning ends the process: FALSE hands the event to the
//   default handler, which ends it, and after TRUE the system ends it.
// - The handler may take its time, but not for ever: when it has not returned after 5 s for a
//   close, or 20 s for a log-off or a shutdown (the documented time-outs; a shutdown may cut the
//   20 s shorter), Windows ends the process.
// - The log-off and shutdown events reach only a program that has loaded neither user32.dll
//   nor gdi32.dll. velquor-flash.exe loads user32.dll (the HID edge's SetupAPI and its device
//   events need it), so Windows asks its top-level windows instead: WM_QUERYENDSESSION (may the
//   session end? lParam carries ENDSESSION_LOGOFF for a log-off), then WM_ENDSESSION (it ends,
//   or it does not). The program keeps a hidden top-level window for them on a thread of its
//   own (a message-only window is not asked).
// So in a guarded stretch:
// - a close is held by the handler as long as Windows lets it: it notes the event
//   (HeldTerminationStatus), writes `held` once, and waits until the stretch has ended and the
//   main thread has told the outcome and ended the program with that status. A close during
//   the transfer of a whole update (about 46 s) therefore still ends the program after 5 s;
//   near the end of the transfer the update can finish.
// - the end of the session is refused: WM_QUERYENDSESSION is answered FALSE, with the reason
//   Windows shows the user (ShutdownBlockReasonCreate, set for the window while the stretch
//   lasts); the log-off or shutdown is noted and `held` written once, as for a close, and the
//   program ends with its status once the outcome is told. A session that ends all the same
//   (the user ended it anyway: WM_ENDSESSION with TRUE) is held as the handler holds a close.
//   The system is kept from sleeping meanwhile (SetThreadExecutionState).
// Outside a guarded stretch the process ends as it always did: a close at once, and the end of
// the session at WM_ENDSESSION, with 129 for a log-off and 143 for a shutdown; under --record
// the record is written first when the program gets to it within a few seconds.
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstring>

#include "app/texts.h"
#include "cli/terminal.h"

namespace {

// The console runs its control handler on a thread of its own.
std::atomic<const char*> g_Warning{""};
std::atomic<const char*> g_Stopped{""};
std::atomic<const char*> g_Held{""};
std::atomic<bool> g_Guarded{false};
std::atomic<bool> g_LineOpen{false};
std::atomic<bool> g_Warned{false};
std::atomic<ULONGLONG> g_WarnedAtMs{0};
// --record: an interrupt outside a guarded stretch is noted for the main thread (DeferSignalExits).
std::atomic<bool> g_Deferring{false};
std::atomic<int> g_Deferred{0};
// The first close, log-off or shutdown event of a guarded stretch; 0 (CTRL_C_EVENT) when none.
std::atomic<DWORD> g_HeldEvent{CTRL_C_EVENT};
// Set while no guarded stretch runs (manual reset).
HANDLE g_Unguarded = nullptr;

// How long a held event waits for the guarded stretch to end: longer than Windows waits for the
// handler of any of them, so that it is Windows that ends the wait.
constexpr DWORD HELD_EVENT_LIMIT_MS = 10 * 60 * 1000;
// How long the handler then waits for the main thread to tell the outcome and end the program.
constexpr DWORD OUTCOME_LIMIT_MS = 30 * 1000;
// The session's end outside a guarded stretch under --record: how long the main thread has to
// write the record and end the program before the window ends it (Windows does not wait long
// for a window's WM_ENDSESSION).
constexpr DWORD RECORD_LIMIT_MS = 4000;
// How long StartInterruptHandling waits for the session window to be made.
constexpr DWORD WINDOW_START_LIMIT_MS = 5000;
// The session window's thread looks at its messages at least this often.
constexpr DWORD MESSAGE_WAIT_MS = 1000;
// Posted to the session window when a guarded stretch begins or ends.
constexpr UINT WM_GUARD_CHANGED = WM_APP + 1;

std::atomic<HWND> g_SessionWindow{nullptr};

void WriteAll(const char* text, size_t length)
{
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    WriteFile(error, text, static_cast<DWORD>(length), &written, nullptr);
}

void WriteAll(const char* text) { WriteAll(text, std::strlen(text)); }

void WriteLine(const char* text)
{
    if (g_LineOpen.exchange(false)) WriteAll("\n");
    WriteAll(text);
    WriteAll("\n");
}

const char* EventName(DWORD event)
{
    switch (event) {
    case CTRL_CLOSE_EVENT: return "CTRL_CLOSE_EVENT";
    case CTRL_LOGOFF_EVENT: return "CTRL_LOGOFF_EVENT";
    default: return "CTRL_SHUTDOWN_EVENT";
    }
}

// A close and a log-off: 129, as for SIGHUP; a shutdown: 143, as for SIGTERM.
int StatusOf(DWORD event) { return event == CTRL_SHUTDOWN_EVENT ? 128 + 15 : 128 + 1; }

// A close, log-off or shutdown in a guarded stretch: the first one is noted and told.
void NoteHeld(DWORD event, const char* name)
{
    DWORD none = CTRL_C_EVENT;
    if (!g_HeldEvent.compare_exchange_strong(none, event)) return;
    // The text's %s is the event's name.
    const char* text = g_Held;
    const char* mark = std::strstr(text, "%s");
    if (g_LineOpen.exchange(false)) WriteAll("\n");
    if (mark == nullptr) {
        WriteAll(text);
    } else {
        WriteAll(text, static_cast<size_t>(mark - text));
        WriteAll(name);
        WriteAll(mark + 2);
    }
    WriteAll("\n");
}

// Noted and told, then held: returning would let Windows end the process at once, so this waits
// for the stretch to end, and then for the main thread to end the program with the held status.
BOOL HoldTermination(DWORD event, const char* name)
{
    NoteHeld(event, name);
    if (g_Unguarded != nullptr) WaitForSingleObject(g_Unguarded, HELD_EVENT_LIMIT_MS);
    Sleep(OUTCOME_LIMIT_MS);
    return TRUE;
}

// ---- The session window ------------------------------------------------------------------

// A log-off or a shutdown, by the end-session message's lParam. Windows sends ENDSESSION_LOGOFF
// for a log-off and no flag for a shutdown or restart; every other end (ENDSESSION_CLOSEAPP:
// an installer asks the program to go) counts as a shutdown.
DWORD EndingEvent(LPARAM lParam) { return (lParam & ENDSESSION_LOGOFF) != 0 ? CTRL_LOGOFF_EVENT : CTRL_SHUTDOWN_EVENT; }

// The name `held` gives the end of a session: the message, and what ends.
const char* SessionEndName(UINT message, DWORD event)
{
    bool logOff = event == CTRL_LOGOFF_EVENT;
    if (message == WM_QUERYENDSESSION) return logOff ? "WM_QUERYENDSESSION (log-off)" : "WM_QUERYENDSESSION (shutdown)";
    return logOff ? "WM_ENDSESSION (log-off)" : "WM_ENDSESSION (shutdown)";
}

// Whether the session window has its reason set; only the window's thread reads and writes it.
bool g_ReasonShown = false;

// Shows (or withdraws) the reason Windows gives the user for waiting. Only the window's own
// thread may set it.
void ShowBlockReason(HWND window, bool on)
{
    if (on == g_ReasonShown) return;
    g_ReasonShown = on;
    if (on) {
        char16_t reason[MAX_STR_BLOCKREASON];
        LoadTableText(TEXT_FLASH_BLOCKS_SHUTDOWN, reason, MAX_STR_BLOCKREASON);
        ShutdownBlockReasonCreate(window, reinterpret_cast<const wchar_t*>(reason));
    } else {
        ShutdownBlockReasonDestroy(window);
    }
}

// The session ends outside a guarded stretch: the program ends with it. Under --record the main
// thread is given a few seconds to write the record and end the program itself; a stretch that
// begins meanwhile is held.
void EndWithTheSession(DWORD event)
{
    int status = StatusOf(event);
    if (g_Deferring) {
        int none = 0;
        g_Deferred.compare_exchange_strong(none, status);
        for (DWORD waited = 0; waited < RECORD_LIMIT_MS; waited += 50) {
            if (g_Guarded) {
                HoldTermination(event, SessionEndName(WM_ENDSESSION, event));
                return;
            }
            Sleep(50);
        }
    }
    if (g_LineOpen.exchange(false)) WriteAll("\n");
    ExitProcess(static_cast<UINT>(status));
}

LRESULT CALLBACK SessionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_QUERYENDSESSION: {
        if (!g_Guarded) return TRUE;
        DWORD event = EndingEvent(lParam);
        ShowBlockReason(window, true);
        NoteHeld(event, SessionEndName(WM_QUERYENDSESSION, event));
        return FALSE;
    }
    case WM_ENDSESSION: {
        if (wParam == FALSE) return 0;
        DWORD event = EndingEvent(lParam);
        if (g_Guarded) {
            HoldTermination(event, SessionEndName(WM_ENDSESSION, event));
        } else {
            EndWithTheSession(event);
        }
        return 0;
    }
    case WM_GUARD_CHANGED:
        ShowBlockReason(window, g_Guarded);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

DWORD WINAPI SessionWindowThread(void* ready)
{
    static const wchar_t kClass[] = L"VelquorFlashSession";
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = SessionWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClass;
    RegisterClassExW(&windowClass);
    // Top-level and never shown.
    HWND window = CreateWindowExW(0, kClass, L"velquor-flash", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr, instance,
                                  nullptr);
    g_SessionWindow = window;
    SetEvent(static_cast<HANDLE>(ready));
    // It serves the window as long as the process lives.
    while (window != nullptr) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, MESSAGE_WAIT_MS, QS_ALLINPUT) == WAIT_FAILED) break;
        MSG pending;
        while (PeekMessageW(&pending, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&pending);
    }
    return 0;
}

// Starts the session window's thread and waits until its window is made (or could not be).
void StartSessionWindow()
{
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (ready == nullptr) return;
    HANDLE thread = CreateThread(nullptr, 0, SessionWindowThread, ready, 0, nullptr);
    if (thread != nullptr) {
        WaitForSingleObject(ready, WINDOW_START_LIMIT_MS);
        CloseHandle(thread);
    }
    // The event goes with the process: a thread that is late may still set it.
}

BOOL WINAPI OnControl(DWORD event)
{
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        if (g_Guarded) return HoldTermination(event, EventName(event));
        // The default handler ends the process.
        if (g_LineOpen.exchange(false)) WriteAll("\n");
        return FALSE;
    }
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (g_Guarded) {
        ULONGLONG now = GetTickCount64();
        if (!g_Warned || now - g_WarnedAtMs > SECOND_INTERRUPT_WINDOW_MS) {
            g_Warned = true;
            g_WarnedAtMs = now;
            WriteLine(g_Warning);
            return TRUE;
        }
        WriteLine(g_Stopped);
    } else if (g_Deferring) {
        int none = 0;
        if (g_Deferred.compare_exchange_strong(none, EXIT_INTERRUPTED)) return TRUE;
        if (g_LineOpen) WriteAll("\n");
    } else if (g_LineOpen) {
        WriteAll("\n");
    }
    ExitProcess(EXIT_INTERRUPTED);
}

}  // namespace

bool IsTerminal(std::FILE* stream)
{
    if (stream == nullptr) return false;
    // _isatty is also true for the NUL device and serial ports; only a console has a mode.
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

void UseUtf8Terminal() { SetConsoleOutputCP(CP_UTF8); }

uint32_t TerminalColumns(std::FILE* stream)
{
    if (!IsTerminal(stream)) return 0;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(handle, &info)) return 0;
    return static_cast<uint32_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

void StartInterruptHandling(const char* warning, const char* stopped, const char* held)
{
    g_Warning = warning;
    g_Stopped = stopped;
    g_Held = held;
    if (g_Unguarded == nullptr) g_Unguarded = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    SetConsoleCtrlHandler(OnControl, TRUE);
    if (g_SessionWindow.load() == nullptr) StartSessionWindow();
}

void GuardAgainstInterrupts(bool on)
{
    g_Warned = false;
    g_Guarded = on;
    SetThreadExecutionState(on ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
    HWND window = g_SessionWindow;
    if (window != nullptr) PostMessageW(window, WM_GUARD_CHANGED, 0, 0);
    if (g_Unguarded == nullptr) return;
    if (on) {
        ResetEvent(g_Unguarded);
    } else {
        SetEvent(g_Unguarded);
    }
}

void SetErrorLineOpen(bool open) { g_LineOpen = open; }

// Ctrl-C, Ctrl-Break and the end of the session are deferred here: the console's close ends the
// process once the handler returns, whatever it answers.
void DeferSignalExits(bool on) { g_Deferring = on; }

int DeferredExitStatus() { return g_Guarded ? 0 : g_Deferred.load(); }

// A close (the console's window went, like a hang-up) and a log-off: 129, as for SIGHUP; a
// shutdown: 143, as for SIGTERM.
int HeldTerminationStatus()
{
    DWORD event = g_HeldEvent.load();
    return event == CTRL_C_EVENT ? 0 : StatusOf(event);
}
