// The terminal facts of the console front end on Windows.
#include <io.h>
#include <windows.h>

#include "cli/terminal.h"

bool IsTerminal(std::FILE* stream)
{
    if (stream == nullptr) return false;
    // _isatty is also true for the NUL device and serial ports; only a console has a mode.
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

void UseUtf8Terminal() { SetConsoleOutputCP(CP_UTF8); }
