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
volatile sig_atomic_t g_Guarded = 0;
volatile sig_atomic_t g_LineOpen = 0;
volatile sig_atomic_t g_Warned = 0;
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
    } else if (g_LineOpen) {
        WriteAll("\n");
    }
    _exit(EXIT_INTERRUPTED);
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

void StartInterruptHandling(const char* warning, const char* stopped)
{
    g_Warning = warning;
    g_Stopped = stopped;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // A wait that the interrupt breaks goes on by itself: the link's waits have their own limits.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
}

void GuardAgainstInterrupts(bool on)
{
    g_Warned = 0;
    g_Guarded = on ? 1 : 0;
}

void SetErrorLineOpen(bool open) { g_LineOpen = open ? 1 : 0; }
