#include "cli/terminal.h"

#if defined(_WIN32)
#include <io.h>
#define VELQUOR_ISATTY _isatty
#define VELQUOR_FILENO _fileno
#else
#include <unistd.h>
#define VELQUOR_ISATTY isatty
#define VELQUOR_FILENO fileno
#endif

bool IsTerminal(std::FILE* stream)
{
    if (stream == nullptr) return false;
    return VELQUOR_ISATTY(VELQUOR_FILENO(stream)) != 0;
}
