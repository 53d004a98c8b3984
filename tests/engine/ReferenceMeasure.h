#pragma once

// The area measurement written out step by step, as plainly as it can be said, with no regard
// for speed. Tests hold the engine's measurement (and each of its kernels) against it, and the
// benchmarks use it as the baseline.

#include <cstdint>
#include <vector>

#include "AreaMeasure.h"
#include "PixelView.h"

namespace ostrel::engine::reference {

// State of one area, named after the engine's: buffers of PixWidth x PixHeight pixels of
// colRes bytes each, packed.
struct ReferenceArea {
    int pixWidth = 0;
    int pixHeight = 0;
    int colRes = 0;
    std::int32_t lastByte = -1;  // highest buffer index
    std::vector<std::uint8_t> curBits;
    std::vector<std::uint8_t> prevBits;
    std::vector<std::uint8_t> markBits;
    std::vector<std::uint8_t> display;  // what the area shows
    bool firstFrame = true;
    std::int32_t motionPer = 0;
    std::int32_t colorPer = 0;
    bool motionStatus = false;
    bool colorStatus = false;
    std::uint32_t motionChanged = 0;  // status changes not reported yet
    std::uint32_t colorChanged = 0;
    std::int64_t motionCount = 0;  // samples counted by the last measurement
    std::int64_t colorCount = 0;
};

// Re-creates the buffers, zeroed, for an area of the given size; the next measurement counts
// nothing.
void resize(ReferenceArea& area, int pixWidth, int pixHeight, int colRes);

// One measurement of `source` (at least pixWidth x pixHeight pixels of colRes bytes; its
// top-left pixWidth x pixHeight pixels are used).
void calculate(ReferenceArea& area, const PixelView& source, const MeasureSettings& settings);

// Average colour, 0x00BBGGRR, of the piece read by the last measurement.
std::int32_t calcColor(const ReferenceArea& area);

}  // namespace ostrel::engine::reference
