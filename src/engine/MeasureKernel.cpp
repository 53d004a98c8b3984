#include "MeasureKernel.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace ostrel::engine {

namespace {

using RowsFn = void (*)(const PixelView&, const KernelBuffers&, const KernelParams&, int,
                        KernelCursor&);

struct KernelChoice {
    RowsFn rows;
    const char* name;
};

KernelChoice chooseKernel() {
    const char* env = std::getenv("OSTREL_KERNEL");
    const std::string_view wanted = env != nullptr ? env : "";
    if (wanted == "scalar") {
        return {measureAreaRowsScalar, "scalar"};
    }
#if defined(__x86_64__)
    __builtin_cpu_init();
    const bool hasAvx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
    if (wanted == "sse2" || !hasAvx2) {
        return {measureAreaRowsSse2, "sse2"};
    }
    return {measureAreaRowsAvx2, "avx2"};
#else
    return {measureAreaRowsScalar, "scalar"};
#endif
}

const KernelChoice& chosenKernel() {
    static const KernelChoice choice = chooseKernel();
    return choice;
}

KernelCounts wholePiece(RowsFn rows, const PixelView& source, const KernelBuffers& buffers,
                        const KernelParams& params) {
    KernelCursor cursor;
    rows(source, buffers, params, source.height, cursor);
    return cursor.counts;
}

}  // namespace

void measureAreaRows(const PixelView& source, const KernelBuffers& buffers,
                     const KernelParams& params, int endRow, KernelCursor& cursor) {
    chosenKernel().rows(source, buffers, params, endRow, cursor);
}

KernelCounts measureArea(const PixelView& source, const KernelBuffers& buffers,
                         const KernelParams& params) {
    return wholePiece(chosenKernel().rows, source, buffers, params);
}

KernelCounts measureAreaScalar(const PixelView& source, const KernelBuffers& buffers,
                               const KernelParams& params) {
    return wholePiece(measureAreaRowsScalar, source, buffers, params);
}

#if defined(__x86_64__)
KernelCounts measureAreaSse2(const PixelView& source, const KernelBuffers& buffers,
                             const KernelParams& params) {
    return wholePiece(measureAreaRowsSse2, source, buffers, params);
}

KernelCounts measureAreaAvx2(const PixelView& source, const KernelBuffers& buffers,
                             const KernelParams& params) {
    return wholePiece(measureAreaRowsAvx2, source, buffers, params);
}
#endif

const char* measureAreaVariant() {
    return chosenKernel().name;
}

namespace kernel_detail {

void gatherPacked(const PixelView& source, std::size_t begin, std::size_t count,
                  std::uint8_t* out) {
    const std::size_t rowBytes = std::size_t(source.width) * source.bytesPerPixel;
    int y = int(begin / rowBytes);
    std::size_t x = begin % rowBytes;
    while (count > 0) {
        const std::size_t n = std::min(count, rowBytes - x);
        std::memcpy(out, source.row(y) + x, n);
        out += n;
        count -= n;
        x = 0;
        ++y;
    }
}

void measurePacked(const std::uint8_t* piece, const KernelBuffers& buf, std::size_t begin,
                   std::size_t end, int bpp, const KernelParams& p, KernelCounts& counts) {
    const std::size_t n = end - begin;
    if (p.writePicture && p.showPicture) {
        std::memcpy(buf.display + begin, piece, n);
    } else if (p.writePicture) {
        std::memcpy(buf.cur + begin, piece, n);
        std::memset(buf.display + begin, 0, n);
    }
    if (!p.visitSamples) {
        return;
    }
    const std::size_t step = std::size_t(4) * bpp;
    auto absDiff = [](int a, int b) { return a > b ? a - b : b - a; };
    for (std::size_t i = (begin + step - 1) / step * step; i < end; i += step) {
        const std::uint8_t* c = piece + (i - begin);
        const std::size_t sample = i / step;
        std::uint8_t* pr = buf.prev + sample * 4;
        const bool moved = p.countMotion && absDiff(c[0], pr[0]) >= p.motionLimit &&
                           absDiff(c[1], pr[1]) >= p.motionLimit &&
                           absDiff(c[2], pr[2]) >= p.motionLimit;
        const bool matched = p.countColor && absDiff(c[0], p.detBlue) <= p.colorSens &&
                             absDiff(c[1], p.detGreen) <= p.colorSens &&
                             absDiff(c[2], p.detRed) <= p.colorSens;
        counts.motion += moved;
        counts.color += matched;
        if (p.writePicture) {
            std::uint8_t* d = buf.display + i;
            if (moved) {
                d[1] = d[2] = 255;
            }
            if (matched) {
                d[0] = d[2] = 255;
            }
        } else {
            const auto bit = std::uint8_t(1u << (sample % 8));
            std::uint8_t* bits = buf.markBits + sample / 8 * 2;
            bits[0] = std::uint8_t(moved ? bits[0] | bit : bits[0] & ~bit);
            bits[1] = std::uint8_t(matched ? bits[1] | bit : bits[1] & ~bit);
        }
        pr[0] = c[0];
        pr[1] = c[1];
        pr[2] = c[2];
    }
}

SampleWords sampleWords(const KernelParams& p) {
    const bool motion = p.countMotion && p.motionLimit <= 255;
    const bool color = p.countColor && p.colorSens >= 0;
    const std::uint32_t limit = std::uint32_t(std::clamp(p.motionLimit, 0, 255));
    const int sens = std::clamp(p.colorSens, 0, 255);
    const int target[3] = {p.detBlue, p.detGreen, p.detRed};
    SampleWords w{0, 0xFF000000u, limit * 0x010101u, motion ? 0x00FFFF00u : 0,
                  color ? 0x00FF00FFu : 0};
    for (int c = 0; c < 3; ++c) {
        w.lo |= std::uint32_t(std::max(target[c] - sens, 0)) << (8 * c);
        w.hi |= std::uint32_t(std::min(target[c] + sens, 255)) << (8 * c);
    }
    return w;
}

}  // namespace kernel_detail

}  // namespace ostrel::engine
