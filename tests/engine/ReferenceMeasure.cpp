#include "ReferenceMeasure.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace ostrel::engine::reference {

namespace {

// Nearest whole number, halves to the even neighbour (the default rounding mode).
std::int32_t nearest(double x) { return static_cast<std::int32_t>(std::nearbyint(x)); }

// The status follows its share; a flip while its event is on counts as a change to report.
void updateStatus(std::int32_t per, std::int32_t threshold, bool event, bool& status,
                  std::uint32_t& changed) {
    const bool now = per > threshold;
    if (now != status && event) {
        ++changed;
    }
    status = now;
}

}  // namespace

void resize(ReferenceArea& area, int pixWidth, int pixHeight, int colRes) {
    area.pixWidth = pixWidth;
    area.pixHeight = pixHeight;
    area.colRes = colRes;
    area.lastByte = pixWidth * pixHeight * colRes - 1;
    const std::size_t size = std::size_t(area.lastByte) + 1;
    area.curBits.assign(size, 0);
    area.prevBits.assign(size, 0);
    area.markBits.assign(size, 0);
    area.display.assign(size, 0);
    area.firstFrame = true;
}

void calculate(ReferenceArea& area, const PixelView& source, const MeasureSettings& s) {
    const std::int32_t t = 255 - s.motionSens;
    if (area.colRes == 0) {
        return;
    }
    const int colRes = area.colRes;
    const std::int32_t lastByte = area.lastByte;

    // The source's bits, packed as a bitmap of the area's size.
    std::vector<std::uint8_t> sourceBits;
    sourceBits.reserve(std::size_t(lastByte) + 1);
    for (int y = 0; y < area.pixHeight; ++y) {
        const std::uint8_t* row = source.row(y);
        sourceBits.insert(sourceBits.end(), row, row + std::size_t(area.pixWidth) * colRes);
    }

    std::vector<std::uint8_t>& cur = area.curBits;
    std::vector<std::uint8_t>& prev = area.prevBits;
    std::vector<std::uint8_t>& mark = area.markBits;
    cur = sourceBits;
    mark = std::vector<std::uint8_t>(std::size_t(lastByte) + 1, 0);

    std::int64_t nM = 0;
    std::int64_t nC = 0;
    const int target[3] = {s.detBlue, s.detGreen, s.detRed};
    if (s.motionActive || s.colorActive) {
        // Every fourth pixel: blue, green and red must all have moved, or all match.
        for (std::int64_t i = 0; i <= lastByte; i += 4 * colRes) {
            bool moved = true;
            bool matches = true;
            for (int c = 0; c < 3; ++c) {
                moved = moved && std::abs(cur[i + c] - prev[i + c]) >= t;
                matches = matches && std::abs(cur[i + c] - target[c]) <= s.colorSens;
                prev[i + c] = cur[i + c];
            }
            if (moved && s.motionActive && !area.firstFrame) {
                nM = nM + 1;
                mark[i + 1] = mark[i + 2] = 255;  // yellow
            }
            if (matches && s.colorActive && !area.firstFrame) {
                nC = nC + 1;
                mark[i] = mark[i + 2] = 255;  // magenta
            }
        }
    }
    area.firstFrame = false;
    area.motionCount = nM;
    area.colorCount = nC;

    area.motionPer = nearest(double(nM) / lastByte * 4 * colRes * 100);
    area.colorPer = nearest(double(nC) / lastByte * 4 * colRes * 100);

    area.display = mark;
    if (s.showPicture) {
        for (std::size_t i = 0; i < area.display.size(); ++i) {
            area.display[i] = mark[i] | sourceBits[i];
        }
    }

    if (s.showFrame) {  // frameColor is 0x00BBGGRR
        const std::uint8_t bgr[3] = {std::uint8_t(s.frameColor >> 16),
                                     std::uint8_t(s.frameColor >> 8), std::uint8_t(s.frameColor)};
        for (int y = 0; y < area.pixHeight; ++y) {
            for (int x = 0; x < area.pixWidth; ++x) {
                if (x == 0 || y == 0 || x == area.pixWidth - 1 || y == area.pixHeight - 1) {
                    const std::size_t i = (std::size_t(y) * area.pixWidth + x) * colRes;
                    std::copy_n(bgr, 3, &area.display[i]);
                }
            }
        }
    }

    updateStatus(area.motionPer, s.motionThreshold, s.motionEvent, area.motionStatus,
                 area.motionChanged);
    updateStatus(area.colorPer, s.colorThreshold, s.colorEvent, area.colorStatus,
                 area.colorChanged);
}

std::int32_t calcColor(const ReferenceArea& area) {
    std::int64_t sum[3] = {0, 0, 0};  // blue, green, red
    for (std::int64_t i = 0; i <= area.lastByte; i += area.colRes) {
        for (int c = 0; c < 3; ++c) {
            sum[c] += area.curBits[i + c];
        }
    }
    const double pixels = (double(area.lastByte) + 1) / area.colRes;
    return nearest(sum[2] / pixels) + 256 * nearest(sum[1] / pixels) +
           65536 * nearest(sum[0] / pixels);
}

}  // namespace ostrel::engine::reference
