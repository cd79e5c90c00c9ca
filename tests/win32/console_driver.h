// Drives a console program from outside, as a user at a console does: started with its standard
// input empty (NUL) and its output and error streams in files, on the test desktop when one is
// named; its streams read back; ended as Windows ends a console program (its control events), or
// asked, as the system asks at a log-off, whether the session may end. Every wait has a deadline.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "tests/win32/dialog_driver.h"

namespace console_driver {

using dialog_driver::Seconds;

// A file's text, its CR LF line ends read as LF; "" when it can't be read.
std::string ReadText(const std::wstring& path);

class ConsoleProgram {
public:
    ConsoleProgram() = default;
    ConsoleProgram(const ConsoleProgram&) = delete;
    ConsoleProgram& operator=(const ConsoleProgram&) = delete;
    // A program still running is terminated.
    ~ConsoleProgram();

    // Starts `program` (a Windows path) with `arguments`, its output stream into `files`.out and
    // its error stream into `files`.err, on `desktop` when one is named. False when it does not
    // start.
    bool Start(const std::wstring& program, const std::wstring& arguments, const std::wstring& files,
               const std::wstring& desktop = std::wstring());

    std::string Out() const { return ReadText(m_Files + L".out"); }
    std::string Err() const { return ReadText(m_Files + L".err"); }
    DWORD Id() const { return m_Process.dwProcessId; }
    bool Running() const;
    // The exit status, or -1 when the program still runs after `limit`.
    int64_t ExitWithin(Seconds limit) const;
    // A console control event (CTRL_C_EVENT, CTRL_CLOSE_EVENT, ...) delivered as Windows delivers
    // it: a thread of the program started at CtrlRoutine, which calls its control handlers.
    bool SendControlEvent(DWORD event) const;

private:
    PROCESS_INFORMATION m_Process = {};
    std::wstring m_Files;
};

// Asks every top-level window of `process` whether the session may end, as Windows asks at a
// log-off (WM_QUERYENDSESSION with ENDSESSION_LOGOFF), then tells them whether it ends
// (WM_ENDSESSION). 1 when every window agreed, 0 when one refused, -1 when the process has no
// window or one did not answer.
int AskToLogOff(DWORD process);

}  // namespace console_driver
