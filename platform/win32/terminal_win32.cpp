// The terminal facts of the console front end on Windows.
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstring>

#include "cli/terminal.h"

namespace {

// The console runs its control handler on a thread of its own.
std::atomic<const char*> g_Warning{""};
std::atomic<const char*> g_Stopped{""};
std::atomic<bool> g_Guarded{false};
std::atomic<bool> g_LineOpen{false};
std::atomic<bool> g_Warned{false};
std::atomic<ULONGLONG> g_WarnedAtMs{0};

void WriteAll(const char* text)
{
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    WriteFile(error, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

void WriteLine(const char* text)
{
    if (g_LineOpen.exchange(false)) WriteAll("\n");
    WriteAll(text);
    WriteAll("\n");
}

BOOL WINAPI OnControl(DWORD event)
{
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

void StartInterruptHandling(const char* warning, const char* stopped, const char* /*held*/)
{
    g_Warning = warning;
    g_Stopped = stopped;
    SetConsoleCtrlHandler(OnControl, TRUE);
}

void GuardAgainstInterrupts(bool on)
{
    g_Warned = false;
    g_Guarded = on;
}

void SetErrorLineOpen(bool open) { g_LineOpen = open; }

int HeldTerminationStatus() { return 0; }
