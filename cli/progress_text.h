// The words of a transfer's progress, the same on every front end that shows them in a line:
// "45 %  922/2048 blocks  0:23, 0:22 left".
#pragma once

#include <cstddef>
#include <cstdint>

struct ProgressFigures {
    uint32_t Position;     // percent of the image, 0 to 100
    uint32_t BlocksSent;
    uint32_t TotalBlocks;  // 0 when the image is not known
    uint64_t ElapsedMs;    // since the update's flash commands began
    uint64_t TransferMs;   // since the first block was under way: the pace of the blocks
};

// Position, blocks sent of all (when the image is known), the time since the update began and,
// with `withEstimate` once a block has gone, an estimate of the rest from the pace so far. In
// the language of the texts, cut to `capacity` and terminated.
void FormatProgressLine(char* out, size_t capacity, const ProgressFigures& figures, bool withEstimate);
