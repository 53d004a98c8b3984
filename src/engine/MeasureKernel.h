#pragma once

#include <cstddef>
#include <cstdint>

#include "PixelView.h"

namespace ostrel::engine {

// What one measurement pass over an area's piece needs to know.
struct KernelParams {
    int motionLimit = 0;       // a channel has changed when it moved by at least this much
    int colorSens = 0;         // a channel matches when it is within this of the target
    std::uint8_t detBlue = 0;  // target colour bytes
    std::uint8_t detGreen = 0;
    std::uint8_t detRed = 0;
    bool countMotion = false;   // motion is measured and a previous frame exists
    bool countColor = false;    // colour is measured and a previous frame exists
    bool visitSamples = false;  // either measurement is on: samples are visited, prev updated
    bool showPicture = true;    // the displayed picture is the piece with the marks ORed over it
};

struct KernelCounts {
    std::int64_t motion = 0;
    std::int64_t color = 0;
};

// Buffers of one area, packed: rows of source.width * source.bytesPerPixel bytes, no padding.
// While the picture is shown, the piece is not copied anywhere else: it can be put together
// again from the shown picture (unmarked pixels) and prev (the samples' bytes 0..2).
struct KernelBuffers {
    std::uint8_t* cur;      // receives the piece if the picture is not shown; untouched if it is
    std::uint8_t* prev;     // sampled pixels of the previous measurement
    std::uint8_t* display;  // receives the shown picture: marks, ORed over the piece if asked
};

// One measurement of the piece `source` (its bytesPerPixel is 3 or 4). Samples are every fourth
// pixel counted across row ends in the packed layout. Changed samples are marked yellow (green
// and red bytes 255), matching ones magenta (blue and red bytes 255).
// measureArea picks the fastest variant this processor runs; the others are kept callable for
// tests and benchmarks.
KernelCounts measureArea(const PixelView& source, const KernelBuffers& buffers,
                         const KernelParams& params);
KernelCounts measureAreaScalar(const PixelView& source, const KernelBuffers& buffers,
                               const KernelParams& params);
#if defined(__x86_64__)
// Vector variants. measureAreaSse2 runs on every x86-64 processor; measureAreaAvx2 only on
// processors with AVX2 (check before calling it directly).
KernelCounts measureAreaSse2(const PixelView& source, const KernelBuffers& buffers,
                             const KernelParams& params);
KernelCounts measureAreaAvx2(const PixelView& source, const KernelBuffers& buffers,
                             const KernelParams& params);
#endif

// The variant measureArea runs: "scalar", "sse2" or "avx2". Chosen once, on first use, as the
// fastest this processor supports; the environment variable OSTREL_KERNEL (scalar, sse2, avx2)
// can ask for a slower one, for comparisons. A variant the processor lacks is never chosen.
const char* measureAreaVariant();

namespace kernel_detail {

// Copies bytes [begin, begin + count) of the piece, counted in its packed layout, to `out`.
void gatherPacked(const PixelView& source, std::size_t begin, std::size_t count, std::uint8_t* out);

// Measures bytes [begin, end) of the piece, counted in its packed layout, given packed in
// `piece` (piece[0] is byte `begin`): writes cur (if the picture is not shown) and display, and
// measures the samples that start in the range. The scalar variant runs it row by row; the
// vector variants use it for what is left over after their last whole block.
void measurePacked(const std::uint8_t* piece, const KernelBuffers& buffers, std::size_t begin,
                   std::size_t end, int bytesPerPixel, const KernelParams& params,
                   KernelCounts& counts);

// Per-byte patterns for one block of samples (a sample every 4 * bpp bytes), which the vector
// kernels load into registers: the target colour's range widened by the tolerance, the motion
// and colour marks, the bytes prev keeps, and the motion limit (0 on every fourth byte so that
// byte always passes). Limits outside 0..255 decide every sample the same way; clamping keeps
// the byte compares right for the ones that still count.
template <std::size_t kBytes>
struct BlockPatterns {
    alignas(32) std::uint8_t lo[kBytes];
    alignas(32) std::uint8_t hi[kBytes];
    alignas(32) std::uint8_t motionMark[kBytes];  // 0x00FFFF00 on samples, if motion counts
    alignas(32) std::uint8_t colorMark[kBytes];   // 0x00FF00FF on samples, if colour counts
    alignas(32) std::uint8_t sampleBgr[kBytes];   // 0xFF on bytes 0..2 of each sample
    alignas(32) std::uint8_t limits[32];
};

template <std::size_t kBytes>
BlockPatterns<kBytes> blockPatterns(const KernelParams& p, int bpp) {
    const bool motion = p.countMotion && p.motionLimit <= 255;
    const bool color = p.countColor && p.colorSens >= 0;
    const int limit = p.motionLimit < 0 ? 0 : (p.motionLimit > 255 ? 255 : p.motionLimit);
    const int sens = p.colorSens < 0 ? 0 : (p.colorSens > 255 ? 255 : p.colorSens);
    const int target[3] = {p.detBlue, p.detGreen, p.detRed};
    BlockPatterns<kBytes> b;
    for (std::size_t j = 0; j < kBytes; ++j) {
        const std::size_t inSample = j % std::size_t(4 * bpp);  // 0..3: the sample's element
        const bool sampled = inSample < 3;
        b.lo[j] =
            sampled ? std::uint8_t(target[inSample] - sens > 0 ? target[inSample] - sens : 0) : 0;
        b.hi[j] = sampled
                      ? std::uint8_t(target[inSample] + sens < 255 ? target[inSample] + sens : 255)
                      : 255;
        b.motionMark[j] = motion && (inSample == 1 || inSample == 2) ? 0xFF : 0;
        b.colorMark[j] = color && (inSample == 0 || inSample == 2) ? 0xFF : 0;
        b.sampleBgr[j] = sampled ? 0xFF : 0;
    }
    for (std::size_t j = 0; j < 32; ++j) {
        b.limits[j] = j % 4 < 3 ? std::uint8_t(limit) : 0;
    }
    return b;
}

}  // namespace kernel_detail

}  // namespace ostrel::engine
