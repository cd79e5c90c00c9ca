// The progress line's words.
#include "cli/progress_text.h"

#include <cinttypes>
#include <cstdio>

#include "cli/terminal_texts.h"

namespace {

void FormatMinutes(char* out, size_t capacity, uint64_t ms)
{
    uint64_t seconds = ms / 1000;
    std::snprintf(out, capacity, "%" PRIu64 ":%02" PRIu64, seconds / 60, seconds % 60);
}

}  // namespace

void FormatProgressLine(char* out, size_t capacity, const ProgressFigures& figures, bool withEstimate)
{
    char total[16] = "";
    if (figures.TotalBlocks != 0) std::snprintf(total, sizeof total, "/%" PRIu32, figures.TotalBlocks);
    char elapsed[24];
    FormatMinutes(elapsed, sizeof elapsed, figures.ElapsedMs);
    int length = std::snprintf(out, capacity, "%3" PRIu32 " %%  %" PRIu32 "%s %s  %s", figures.Position,
                               figures.BlocksSent, total, TerminalText(TT_BLOCKS), elapsed);
    if (length < 0 || static_cast<size_t>(length) >= capacity) return;
    if (withEstimate && figures.BlocksSent > 0 && figures.TotalBlocks > figures.BlocksSent) {
        uint64_t perBlock = figures.TransferMs / figures.BlocksSent;
        char left[24];
        FormatMinutes(left, sizeof left, perBlock * (figures.TotalBlocks - figures.BlocksSent));
        std::snprintf(out + length, capacity - static_cast<size_t>(length), ", %s %s", left, TerminalText(TT_LEFT));
    }
}
