#include "cli/terminal.h"

#include <unistd.h>

bool IsTerminal(std::FILE* stream)
{
    if (stream == nullptr) return false;
    return isatty(fileno(stream)) != 0;
}

void UseUtf8Terminal() {}
