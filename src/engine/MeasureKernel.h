#pragma once

#include <cstddef>
#include <cstdint>

#include "PixelView.h"

namespace ostrel::engine {

// What one measurement pass over an area's piece needs to know.
struct KernelParams {
    int motionLimit = 0;        // a channel has changed when it moved by at least this much
    int colorSens = 0;          // a channel matches when it is within this of the target
    std::uint8_t detBlue = 0;   // target colour bytes
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
struct KernelBuffers {
    std::uint8_t* cur;      // receives the piece
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
void gatherPacked(const PixelView& source, std::size_t begin, std::size_t count,
                  std::uint8_t* out);

// Finishes bytes [begin, end) of the packed buffers whose `cur` bytes are already in place:
// writes the display bytes and measures the samples that start in the range. The vector
// variants use it for what is left over after their last whole block.
void measurePackedTail(const KernelBuffers& buffers, std::size_t begin, std::size_t end,
                       int bytesPerPixel, const KernelParams& params, KernelCounts& counts);

}  // namespace kernel_detail

}  // namespace ostrel::engine
