// The terminal facts on POSIX systems.
#include "cli/terminal.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

namespace {

// What the signal handler reads; it writes nothing but the last warning's time.
const char* volatile g_Warning = "";
const char* volatile g_Stopped = "";
const char* volatile g_Held = "";
volatile sig_atomic_t g_HeldSignal = 0;
volatile sig_atomic_t g_Guarded = 0;
volatile sig_atomic_t g_LineOpen = 0;
volatile sig_atomic_t g_Warned = 0;
volatile sig_atomic_t g_Deferring = 0;
volatile sig_atomic_t g_Deferred = 0;
int64_t volatile g_WarnedAtMs = 0;

int64_t MonotonicMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// write() is the only output allowed in a signal handler.
void WriteAll(const char* text)
{
    size_t length = std::strlen(text);
    while (length > 0) {
        ssize_t written = write(STDERR_FILENO, text, length);
        if (written <= 0) return;
        text += written;
        length -= static_cast<size_t>(written);
    }
}

void WriteLine(const char* text)
{
    if (g_LineOpen) WriteAll("\n");
    g_LineOpen = 0;
    WriteAll(text);
    WriteAll("\n");
}

void OnInterrupt(int)
{
    if (g_Guarded) {
        int64_t now = MonotonicMs();
        if (!g_Warned || now - g_WarnedAtMs > SECOND_INTERRUPT_WINDOW_MS) {
            g_Warned = 1;
            g_WarnedAtMs = now;
            WriteLine(g_Warning);
            return;
        }
        WriteLine(g_Stopped);
    } else if (g_Deferring && g_Deferred == 0) {
        g_Deferred = EXIT_INTERRUPTED;  // the program writes its record and ends
        return;
    } else if (g_LineOpen) {
        WriteAll("\n");
    }
    _exit(EXIT_INTERRUPTED);
}

// SIGHUP (the terminal closed, the connection dropped) and SIGTERM (the system shuts down):
// held while the controller is written, as they were never there otherwise.
void OnTermination(int signalNumber)
{
    if (g_Guarded) {
        if (g_HeldSignal != 0) return;
        g_HeldSignal = signalNumber;
        // The text's %s is the signal's name; no formatting function may run here.
        const char* text = g_Held;
        const char* mark = std::strstr(text, "%s");
        if (g_LineOpen) WriteAll("\n");
        g_LineOpen = 0;
        if (mark == nullptr) {
            WriteAll(text);
        } else {
            ssize_t ignored = write(STDERR_FILENO, text, static_cast<size_t>(mark - text));
            (void)ignored;
            WriteAll(signalNumber == SIGHUP ? "SIGHUP" : "SIGTERM");
            WriteAll(mark + 2);
        }
        WriteAll("\n");
        return;
    }
    if (g_Deferring && g_Deferred == 0) {
        g_Deferred = 128 + signalNumber;  // the program writes its record and ends
        return;
    }
    if (g_LineOpen) WriteAll("\n");
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

}  // namespace

bool IsTerminal(std::FILE* stream)
{
    if (stream == nullptr) return false;
    return isatty(fileno(stream)) != 0;
}

void UseUtf8Terminal() {}

uint32_t TerminalColumns(std::FILE* stream)
{
    if (!IsTerminal(stream)) return 0;
    winsize size;
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

void StartInterruptHandling(const char* warning, const char* stopped, const char* held)
{
    g_Warning = warning;
    g_Stopped = stopped;
    g_Held = held;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // A wait that a signal breaks goes on by itself: the link's waits have their own limits.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);

    action.sa_handler = OnTermination;
    // One handler at a time: a SIGTERM does not cut into a SIGHUP's note.
    sigaddset(&action.sa_mask, SIGHUP);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaction(SIGHUP, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    // A closed output (`| head`, a terminal gone) makes writes fail instead of ending the
    // program: an update runs to its end, and the exit status still tells how it ended.
    signal(SIGPIPE, SIG_IGN);
}

void DeferSignalExits(bool on) { g_Deferring = on ? 1 : 0; }

int DeferredExitStatus() { return g_Guarded ? 0 : static_cast<int>(g_Deferred); }

int HeldTerminationStatus() { return g_HeldSignal != 0 ? 128 + g_HeldSignal : 0; }

void GuardAgainstInterrupts(bool on)
{
    g_Warned = 0;
    g_Guarded = on ? 1 : 0;
}

void SetErrorLineOpen(bool open) { g_LineOpen = open ? 1 : 0; }
