// Whether a standard stream is an interactive terminal. Kept in one small file so that the
// platform difference (isatty / _isatty) lives nowhere else.
#pragma once

#include <cstdio>

bool IsTerminal(std::FILE* stream);
