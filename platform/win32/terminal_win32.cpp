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
//   nor gdi32.dll (velquor-flash.exe imports only kernel32.dll and the C runtime); a program
//   with them gets WM_QUERYENDSESSION through its windows instead.
// So in a guarded stretch the handler holds the process as long as Windows lets it: it notes the
// event (HeldTerminationStatus), writes `held` once, and waits until the stretch has ended and
// the main thread has told the outcome and ended the program with that status. A close during
// the transfer of a whole update (about 46 s) therefore still ends the program after 5 s; near
// the end of the transfer the update can finish. Outside a guarded stretch the process ends as
// it always did.
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstring>

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

// A close, log-off or shutdown event in a guarded stretch: noted and told once, then held.
BOOL HoldTermination(DWORD event)
{
    DWORD none = CTRL_C_EVENT;
    if (g_HeldEvent.compare_exchange_strong(none, event)) {
        // The text's %s is the event's name.
        const char* text = g_Held;
        const char* mark = std::strstr(text, "%s");
        if (g_LineOpen.exchange(false)) WriteAll("\n");
        if (mark == nullptr) {
            WriteAll(text);
        } else {
            WriteAll(text, static_cast<size_t>(mark - text));
            WriteAll(EventName(event));
            WriteAll(mark + 2);
        }
        WriteAll("\n");
    }
    // Returning would let Windows end the process at once: the handler waits for the stretch to
    // end, and then for the main thread to end the program with the held status.
    if (g_Unguarded != nullptr) WaitForSingleObject(g_Unguarded, HELD_EVENT_LIMIT_MS);
    Sleep(OUTCOME_LIMIT_MS);
    return TRUE;
}

BOOL WINAPI OnControl(DWORD event)
{
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        if (g_Guarded) return HoldTermination(event);
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
}

void GuardAgainstInterrupts(bool on)
{
    g_Warned = false;
    g_Guarded = on;
    if (g_Unguarded == nullptr) return;
    if (on) {
        ResetEvent(g_Unguarded);
    } else {
        SetEvent(g_Unguarded);
    }
}

void SetErrorLineOpen(bool open) { g_LineOpen = open; }

// Only Ctrl-C and Ctrl-Break are deferred here: the console's close, log-off and shutdown end the
// process once the handler returns, whatever it answers.
void DeferSignalExits(bool on) { g_Deferring = on; }

int DeferredExitStatus() { return g_Guarded ? 0 : g_Deferred.load(); }

// A close (the console's window went, like a hang-up) and a log-off: 129, as for SIGHUP; a
// shutdown: 143, as for SIGTERM.
int HeldTerminationStatus()
{
    switch (g_HeldEvent.load()) {
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT: return 128 + 1;
    case CTRL_SHUTDOWN_EVENT: return 128 + 15;
    default: return 0;
    }
}
