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
    bool writePicture = true;   // false: only the samples are measured (prev, the counts and
                                // the mark bits); cur and display are left as they are
};

struct KernelCounts {
    std::int64_t motion = 0;
    std::int64_t color = 0;
};

// Buffers of one area. `cur` and `display` are packed like the piece: rows of
// source.width * source.bytesPerPixel bytes, no padding. `prev` holds only the samples: sample k
// (packed pixel 4k) at bytes 4k..4k+3 as blue, green, red, 0; prevBytes() gives its size.
// While the picture is shown, the piece is not copied anywhere else: it can be put together
// again from the shown picture (unmarked pixels) and prev (the samples).
struct KernelBuffers {
    std::uint8_t* cur;      // receives the piece if the picture is not shown; untouched if it is
    std::uint8_t* prev;     // the samples of the previous measurement
    std::uint8_t* display;  // receives the shown picture: marks, ORed over the piece if asked
    // Receives, when the picture is not written, which samples were marked: for samples
    // 8i .. 8i+7, byte 2i has bit j set when sample 8i+j changed and byte 2i+1 when it matched.
    // The picture can be put together from them and the piece later (PictureCompose.h).
    std::uint8_t* markBits;
};

// Size of `prev` for a piece of `pixels` pixels: 4 bytes for each sample.
inline std::size_t prevBytes(std::size_t pixels) {
    return (pixels + 3) / 4 * 4;
}

// Size of `markBits` for a piece of `pixels` pixels: 2 bytes for every 8 samples.
inline std::size_t markBitsBytes(std::size_t pixels) {
    return (pixels + 31) / 32 * 2;
}

// Where a measurement made in steps of rows stands: the packed byte its next step starts at
// and the counts so far. Every measurement starts from a fresh cursor.
struct KernelCursor {
    std::size_t at = 0;
    KernelCounts counts;
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

// The same measurement in steps: measures what is left of the rows before `endRow` (at most
// source.height), going on from `cursor`, whose counts add up. Steps of any size give exactly
// what one measurement gives; it is whole once a step reached source.height. Lets several areas
// of one frame be measured row by row in the frame's order. A block of samples that runs past
// the step's last row is left to the next step, which reads on from there anyway.
void measureAreaRows(const PixelView& source, const KernelBuffers& buffers,
                     const KernelParams& params, int endRow, KernelCursor& cursor);
void measureAreaRowsScalar(const PixelView& source, const KernelBuffers& buffers,
                           const KernelParams& params, int endRow, KernelCursor& cursor);
#if defined(__x86_64__)
// Vector variants. The SSE2 ones run on every x86-64 processor; the AVX2 ones only on
// processors with AVX2 (check before calling them directly).
KernelCounts measureAreaSse2(const PixelView& source, const KernelBuffers& buffers,
                             const KernelParams& params);
KernelCounts measureAreaAvx2(const PixelView& source, const KernelBuffers& buffers,
                             const KernelParams& params);
void measureAreaRowsSse2(const PixelView& source, const KernelBuffers& buffers,
                         const KernelParams& params, int endRow, KernelCursor& cursor);
void measureAreaRowsAvx2(const PixelView& source, const KernelBuffers& buffers,
                         const KernelParams& params, int endRow, KernelCursor& cursor);
#endif

// The variant measureArea runs: "scalar", "sse2" or "avx2". Chosen once, on first use, as the
// fastest this processor supports; the environment variable OSTREL_KERNEL (scalar, sse2, avx2)
// can ask for a slower one, for comparisons. A variant the processor lacks is never chosen.
const char* measureAreaVariant();

namespace kernel_detail {

// Copies bytes [begin, begin + count) of the piece, counted in its packed layout, to `out`.
void gatherPacked(const PixelView& source, std::size_t begin, std::size_t count, std::uint8_t* out);

// Measures bytes [begin, end) of the piece, counted in its packed layout, given packed in
// `piece` (piece[0] is byte `begin`): writes cur (if the picture is not shown) and display, or
// when the picture is not written the mark bits, and measures the samples that start in the
// range.
// The scalar variant runs it row by row; the vector variants use it for what is left over
// after their last whole block.
void measurePacked(const std::uint8_t* piece, const KernelBuffers& buffers, std::size_t begin,
                   std::size_t end, int bytesPerPixel, const KernelParams& params,
                   KernelCounts& counts);

// What the vector kernels test each sample with, as 32-bit words of a sample in prev's layout
// (blue in the low byte, byte 3 always 0). Limits outside 0..255 decide every sample the same
// way; clamping keeps the byte compares right for the ones that still count.
struct SampleWords {
    std::uint32_t lo;          // colour: a sample matches when lo <= each byte <= hi
    std::uint32_t hi;          // (byte 3 of lo is 0 and of hi 255, so it always passes)
    std::uint32_t limit;       // motion: a byte changed when limit - |cur - prev| saturates to
                               // 0 (byte 3 is 0, so it always passes)
    std::uint32_t motionMark;  // 0x00FFFF00 if motion counts, else 0
    std::uint32_t colorMark;   // 0x00FF00FF if colour counts, else 0
};
SampleWords sampleWords(const KernelParams& params);

}  // namespace kernel_detail

}  // namespace ostrel::engine
