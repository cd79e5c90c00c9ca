// Drives the updater's dialog from outside, as a user does: starts the program as a child
// process, finds its windows, reads controls, presses buttons and keys, answers message boxes,
// takes screenshots. Every wait has a deadline; nothing here waits on a busy window for ever.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace dialog_driver {

using Seconds = std::chrono::seconds;

// Polls `condition` every 50 ms until it holds or `limit` has passed; returns whether it held.
template <class Condition>
bool WaitUntil(Condition condition, Seconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        Sleep(50);
    }
}

// A Windows path for a path of the build machine: under Wine the Unix file system is drive Z:.
std::wstring WindowsPath(const char* path);

// ---- The desktop the tests run on ----------------------------------------------------------

// Under Wine, moves the calling thread onto a desktop of its own that Wine shows as a
// "virtual desktop" of the given size: one window on the X display in which Wine draws the
// title bars of the windows itself, so that screenshots show captions. The children started
// afterwards open their windows there too, and windows of other test processes stay out of the
// pictures. Elsewhere, and if any step fails, the thread stays where it is. Returns the
// desktop's name, or "" when none was made.
std::wstring EnterTestDesktop(int width, int height);
// Back to the previous desktop; releases the desktop and its registry entry.
void LeaveTestDesktop();

// ---- The program under test --------------------------------------------------------------

class ChildProgram {
public:
    ChildProgram() = default;
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;
    // A child still running is terminated.
    ~ChildProgram();

    // Starts `program` (a Windows path) on the test desktop with this process's environment,
    // in which VELQUOR_SIM is `scenario` (left out when null) and VELQUOR_SIM_REALTIME is 1
    // when `realtime`, and with `arguments` after the program on its command line. False with
    // a description in `error` when the process does not start.
    bool Start(const std::wstring& program, const char* scenario, bool realtime, std::string* error,
               const std::wstring& arguments = std::wstring());

    DWORD Id() const { return m_Id; }
    bool Running() const;
    // Waits up to `limit` for the process to end; false if it is still running.
    bool WaitForExit(Seconds limit, DWORD* exitCode);
    // The main dialog: the child's unowned top-level window of class "#32770", visible or not.
    // Null if none appears within `limit`.
    HWND WaitForDialog(Seconds limit) const;
    // The child's top-level windows (class, caption, owner, visibility), for failure messages.
    std::string DescribeWindows() const;

private:
    HANDLE m_Process = nullptr;
    DWORD m_Id = 0;
};

// ---- Reading windows ---------------------------------------------------------------------

// The window's caption as the system stores it; sends nothing, so it also works while the
// window's thread is busy.
std::wstring Caption(HWND window);
std::wstring ClassName(HWND window);
// The text of a dialog control, asked with WM_GETTEXT under a time limit (a busy dialog does
// not hang the caller). "<no control N>" or "<no answer from control N>" when it can't be read.
std::wstring ControlText(HWND dialog, int controlId);
bool ControlEnabled(HWND dialog, int controlId);
// Polls until control `controlId` shows `expected` or `limit` has passed; returns the last text
// read, so that a caller's comparison shows what was there instead.
std::wstring WaitForControlText(HWND dialog, int controlId, const std::wstring& expected, Seconds limit);
// Returns once the dialog's thread has handled everything sent to it before (WM_NULL with a
// time limit); false if it did not answer within `limit`.
bool Synchronize(HWND window, Seconds limit);

// A visible top-level window of class `className` owned by `owner` (message boxes are "#32770",
// the progress window "msctls_progress32"), or null.
HWND FindOwnedWindow(HWND owner, const wchar_t* className);
HWND WaitForOwnedWindow(HWND owner, const wchar_t* className, Seconds limit);
bool WaitUntilGone(HWND window, Seconds limit);

// A message box as the user sees it: caption and text (the static control 0xFFFF).
struct MessageBoxView {
    HWND Window;
    std::wstring Caption;
    std::wstring Text;
};
MessageBoxView ReadMessageBox(HWND box);

// ---- Acting ------------------------------------------------------------------------------

// Clicks the button `buttonId` of a dialog or message box (BM_CLICK, posted: a modal box keeps
// the sender waiting otherwise). False when the window has no such button.
bool ClickButton(HWND window, int buttonId);
// Makes `window` the foreground window and types the key on the keyboard (SendInput): the
// system routes it to the focused control as it routes a real key press. False when the
// window does not come to the foreground or the input is refused.
bool TypeKey(HWND window, WORD virtualKey);

// ---- Screenshots -------------------------------------------------------------------------

// The folder screenshots are written to (created when missing); empty: none are taken.
void SetScreenshotFolder(const std::wstring& folder);
// Captures the whole screen into <folder>/<name>.bmp (24 bits per pixel). With `settle` it
// first waits (at most a few seconds) until two captures in a row are the same, so that the
// windows have finished painting. False with a reason in `error` on failure.
bool SaveScreenshot(const std::string& name, bool settle, std::string* error);

// Like SaveScreenshot, of `area` (screen coordinates) only.
bool SaveScreenshotOf(const std::string& name, const RECT& area, bool settle, std::string* error);

// What the screen shows in an area: its pixels row by row from the top, each 0xRRGGBB.
struct ScreenColours {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint32_t> Colours;
    uint32_t At(int32_t x, int32_t y) const { return Colours[static_cast<size_t>(y) * static_cast<size_t>(Width) + x]; }
};
// Reads the screen in `area` (screen coordinates). False with a reason in `error` on failure.
bool ReadScreen(const RECT& area, ScreenColours* colours, std::string* error);

// Polls the screen in `area` every 50 ms until it has not changed for `stillMs`, or `limit` has
// passed; returns whether it came to rest (what it last showed in `colours`, when given).
bool WaitUntilScreenStill(const RECT& area, int32_t stillMs, Seconds limit, ScreenColours* colours = nullptr);

// ---- The display's scaling ---------------------------------------------------------------

// The DPI every program of the Wine prefix that starts from now on reads (HKCU\Control
// Panel\Desktop, LogPixels). False when the registry refuses.
bool SetDisplayDpi(UINT dpi);

// UTF-16 to UTF-8, for messages.
std::string Narrow(const std::wstring& text);

}  // namespace dialog_driver
