#include "ReferenceMeasure.h"

#include <cmath>
#include <cstdlib>

namespace ostrel::engine::reference {

namespace {

// Nearest whole number, halves to the even neighbour (the default rounding mode).
std::int32_t nearest(double x) { return static_cast<std::int32_t>(std::nearbyint(x)); }

// The status follows its share; a flip while its event is on counts as a change to report.
void updateStatus(std::int32_t per, std::int32_t threshold, bool event, bool& status,
                  std::uint32_t& changed) {
    if (per > threshold) {
        if (!status && event) {
            ++changed;
        }
        status = true;
    } else {
        if (status && event) {
            ++changed;
        }
        status = false;
    }
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
    if (s.motionActive || s.colorActive) {
        for (std::int64_t i = 0; i <= lastByte; i += 4 * colRes) {
            const int dB = std::abs(cur[i] - prev[i]);
            const int dG = std::abs(cur[i + 1] - prev[i + 1]);
            const int dR = std::abs(cur[i + 2] - prev[i + 2]);
            if (dB >= t && dG >= t && dR >= t) {
                if (s.motionActive && !area.firstFrame) {
                    nM = nM + 1;
                    mark[i + 1] = 255;
                    mark[i + 2] = 255;
                }
            }
            const int eB = std::abs(cur[i] - s.detBlue);
            const int eG = std::abs(cur[i + 1] - s.detGreen);
            const int eR = std::abs(cur[i + 2] - s.detRed);
            if (eB <= s.colorSens && eG <= s.colorSens && eR <= s.colorSens) {
                if (s.colorActive && !area.firstFrame) {
                    nC = nC + 1;
                    mark[i] = 255;
                    mark[i + 2] = 255;
                }
            }
            prev[i] = cur[i];
            prev[i + 1] = cur[i + 1];
            prev[i + 2] = cur[i + 2];
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

    if (s.showFrame) {
        const std::uint8_t blue = (s.frameColor >> 16) & 0xFF;
        const std::uint8_t green = (s.frameColor >> 8) & 0xFF;
        const std::uint8_t red = s.frameColor & 0xFF;
        for (int y = 0; y < area.pixHeight; ++y) {
            for (int x = 0; x < area.pixWidth; ++x) {
                const bool border =
                    x == 0 || y == 0 || x == area.pixWidth - 1 || y == area.pixHeight - 1;
                if (border) {
                    const std::size_t i = (std::size_t(y) * area.pixWidth + x) * colRes;
                    area.display[i] = blue;
                    area.display[i + 1] = green;
                    area.display[i + 2] = red;
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
    std::int64_t sB = 0;
    std::int64_t sG = 0;
    std::int64_t sR = 0;
    for (std::int64_t i = 0; i <= area.lastByte; i += area.colRes) {
        sB += area.curBits[i];
        sG += area.curBits[i + 1];
        sR += area.curBits[i + 2];
    }
    const double bytes = double(area.lastByte) + 1;
    const std::int32_t blue = nearest(double(sB) * area.colRes / bytes);
    const std::int32_t green = nearest(double(sG) * area.colRes / bytes);
    const std::int32_t red = nearest(double(sR) * area.colRes / bytes);
    return red + 256 * green + 65536 * blue;
}

}  // namespace ostrel::engine::reference
