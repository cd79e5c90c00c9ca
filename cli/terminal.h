// The few facts about the terminal that differ between platforms, kept in one small file per
// platform (cli/terminal.cpp for POSIX systems, platform/win32/terminal_win32.cpp).
#pragma once

#include <cstdint>
#include <cstdio>

// Whether a standard stream is an interactive terminal (a console on Windows; the NUL device
// and files are not).
bool IsTerminal(std::FILE* stream);

// Makes a console show the UTF-8 that the program prints (Windows consoles otherwise use the
// OEM code page). Nothing elsewhere: terminals there take UTF-8 as it comes.
void UseUtf8Terminal();

// The width in character cells of the terminal behind `stream`; 0 when it is none or its
// width can't be had.
uint32_t TerminalColumns(std::FILE* stream);

// The status with which an interrupt ends the program (128 + SIGINT, as shells report it).
constexpr int EXIT_INTERRUPTED = 130;
// How long a second interrupt may come after the warning to stop a guarded stretch.
constexpr uint32_t SECOND_INTERRUPT_WINDOW_MS = 5000;

// Takes over the interrupt (Ctrl-C). Outside a guarded stretch it ends the program at once
// with EXIT_INTERRUPTED. Inside one, the first interrupt writes `warning` on a line of its own
// to the error stream and the program goes on; a second one within
// SECOND_INTERRUPT_WINDOW_MS writes `stopped` and ends the program. Either way a line the
// error stream left open (a progress bar) is ended first, so the terminal is left clean. The
// texts are kept as given (not copied): they must live as long as the program.
//
// It also takes over what else would end the program in a guarded stretch. POSIX: a closed
// output (SIGPIPE) never ends it, at any time: writes to it fail and the program goes on;
// SIGHUP and SIGTERM end it at once outside a guarded stretch, as they always do, and inside
// one are held (`held`, with the signal's name for its %s, is written once) until the stretch
// ends. Windows: the console's close, log-off and shutdown events are held the same way, as
// long as Windows waits for the handler.
void StartInterruptHandling(const char* warning, const char* stopped, const char* held);

// The exit status of a signal held during a guarded stretch (128 + its number on POSIX), or 0
// when none came. The caller ends the program with it once it has told the outcome.
int HeldTerminationStatus();
// Starts (true) or ends (false) the guarded stretch: while it lasts, stopping would leave the
// controller without firmware.
void GuardAgainstInterrupts(bool on);
// While a record is being made (--record): an interrupt (Ctrl-C), and on POSIX a SIGHUP or a
// SIGTERM, that comes outside a guarded stretch does not end the program at once but is noted,
// so that the program can write the record and end itself at its next call of the HID edge (see
// DeferredExitStatus). A second one ends the program at once, as without a record.
void DeferSignalExits(bool on);
// The status a noted signal asks the program to end with (130, 129, 143); 0 when none came, and
// during a guarded stretch (the program ends once the ESC is finished).
int DeferredExitStatus();
// Whether the error stream's current line is open (drawn with a carriage return and no line
// end), so that whatever the interrupt writes starts on a new line.
void SetErrorLineOpen(bool open);
