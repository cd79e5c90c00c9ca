// The few facts about the terminal that differ between platforms, kept in one small file.
#pragma once

#include <cstdio>

// Whether a standard stream is an interactive terminal (a console on Windows; the NUL device
// and files are not).
bool IsTerminal(std::FILE* stream);

// Makes a console show the UTF-8 that the program prints (Windows consoles otherwise use the
// OEM code page). Nothing elsewhere: terminals there take UTF-8 as it comes.
void UseUtf8Terminal();
