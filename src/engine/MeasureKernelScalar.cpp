#include <cstdlib>
#include <cstring>

#include "MeasureKernel.h"

namespace ostrel::engine {

namespace {

inline int absDiff(int a, int b) { return std::abs(a - b); }

// First sampled column of row y: samples fall on pixels whose packed index is a multiple of 4.
inline int firstSampleColumn(int y, int width) {
    return int((4 - (std::int64_t(y) * width) % 4) % 4);
}

}  // namespace

KernelCounts measureAreaScalar(const PixelView& src, const KernelBuffers& buf,
                               const KernelParams& p) {
    KernelCounts counts;
    const int bpp = src.bytesPerPixel;
    const std::size_t rowBytes = std::size_t(src.width) * bpp;
    for (int y = 0; y < src.height; ++y) {
        const std::size_t offset = std::size_t(y) * rowBytes;
        std::uint8_t* cur = buf.cur + offset;
        std::uint8_t* prev = buf.prev + offset;
        std::uint8_t* disp = buf.display + offset;
        std::memcpy(cur, src.row(y), rowBytes);
        if (p.showPicture) {
            std::memcpy(disp, cur, rowBytes);
        } else {
            std::memset(disp, 0, rowBytes);
        }
        if (!p.visitSamples) {
            continue;
        }
        for (int x = firstSampleColumn(y, src.width); x < src.width; x += 4) {
            std::uint8_t* c = cur + std::size_t(x) * bpp;
            std::uint8_t* pr = prev + std::size_t(x) * bpp;
            std::uint8_t* d = disp + std::size_t(x) * bpp;
            const bool changed = absDiff(c[0], pr[0]) >= p.motionLimit &&
                                 absDiff(c[1], pr[1]) >= p.motionLimit &&
                                 absDiff(c[2], pr[2]) >= p.motionLimit;
            if (changed && p.countMotion) {
                ++counts.motion;
                d[1] = 255;
                d[2] = 255;
            }
            const bool matches = absDiff(c[0], p.detBlue) <= p.colorSens &&
                                 absDiff(c[1], p.detGreen) <= p.colorSens &&
                                 absDiff(c[2], p.detRed) <= p.colorSens;
            if (matches && p.countColor) {
                ++counts.color;
                d[0] = 255;
                d[2] = 255;
            }
            pr[0] = c[0];
            pr[1] = c[1];
            pr[2] = c[2];
        }
    }
    return counts;
}

}  // namespace ostrel::engine
