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
void StartInterruptHandling(const char* warning, const char* stopped);
// Starts (true) or ends (false) the guarded stretch: while it lasts, stopping would leave the
// controller without firmware.
void GuardAgainstInterrupts(bool on);
// Whether the error stream's current line is open (drawn with a carriage return and no line
// end), so that whatever the interrupt writes starts on a new line.
void SetErrorLineOpen(bool open);
