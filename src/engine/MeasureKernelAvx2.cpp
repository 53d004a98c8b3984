// Area measurement with 32-byte AVX2 vectors, compiled for AVX2 function by function so the
// rest of the program still runs on any x86-64 processor; measureArea calls it only where the
// processor has AVX2.
//
// Same scheme as the SSE2 variant: blocks that start on a sample, constant byte masks per
// block, and one 32-bit compare per sample deciding its three channel tests together (a sample
// is 12 or 16 bytes after the previous one, so it always starts a 32-bit element).

#if defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <cstdint>

#include "MeasureKernel.h"

#define OSTREL_AVX2 __attribute__((target("avx2,popcnt")))

namespace ostrel::engine {

namespace {

// 3 bytes per pixel: 96 bytes, samples at 0, 12, ..., 84.
// 4 bytes per pixel: 64 bytes, samples at byte 0 of each 16 bytes.
template <int Bpp>
struct Layout {
    static constexpr std::size_t kBlockBytes = Bpp == 3 ? 96 : 64;
    static constexpr int kVectors = int(kBlockBytes / 32);
    // Blocks between two drains of the per-byte counters; a counter byte grows by at most
    // kVectors per block, so it cannot wrap.
    static constexpr int kBlocksPerDrain = 255 / kVectors;
};

template <int Bpp>
struct Constants {
    static constexpr int kVectors = Layout<Bpp>::kVectors;
    // Colour: a sample matches when lo <= its bytes <= hi (the target colour widened by the
    // tolerance); the fourth byte of each element always passes.
    __m256i lo[kVectors];
    __m256i hi[kVectors];
    __m256i motionMark[kVectors];  // 0x00FFFF00 in the elements of samples, if motion counts
    __m256i colorMark[kVectors];   // 0x00FF00FF in the elements of samples, if colour counts
    __m256i sampleBgr[kVectors];   // 0xFF on bytes 0..2 of each sample: what prev keeps
    // Motion: a byte changed when limit - |cur - prev| saturates to 0; 0 in each element's
    // fourth byte so that byte always passes.
    __m256i limit;
};

OSTREL_AVX2 inline __m256i loadAligned(const std::uint8_t* bytes) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes));
}

template <int Bpp>
OSTREL_AVX2 void makeConstants(const KernelParams& p, Constants<Bpp>& k) {
    const auto b = kernel_detail::blockPatterns<Layout<Bpp>::kBlockBytes>(p, Bpp);
    for (int v = 0; v < Layout<Bpp>::kVectors; ++v) {
        k.lo[v] = loadAligned(b.lo + 32 * v);
        k.hi[v] = loadAligned(b.hi + 32 * v);
        k.motionMark[v] = loadAligned(b.motionMark + 32 * v);
        k.colorMark[v] = loadAligned(b.colorMark + 32 * v);
        k.sampleBgr[v] = loadAligned(b.sampleBgr + 32 * v);
    }
    k.limit = loadAligned(b.limits);
}

template <int Bpp, bool ShowPicture>
OSTREL_AVX2 inline void measureBlock(const std::uint8_t* src, std::uint8_t* cur, std::uint8_t* prev,
                                     std::uint8_t* disp, const Constants<Bpp>& k,
                                     __m256i& counters) {
    const __m256i zero = _mm256_setzero_si256();
    for (int v = 0; v < Layout<Bpp>::kVectors; ++v) {
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 32 * v));
        const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(prev + 32 * v));
        if constexpr (!ShowPicture) {  // else the shown picture keeps the piece
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(cur + 32 * v), s);
        }

        const __m256i d = _mm256_or_si256(_mm256_subs_epu8(s, old), _mm256_subs_epu8(old, s));
        const __m256i moved = _mm256_cmpeq_epi32(_mm256_subs_epu8(k.limit, d), zero);
        const __m256i off =
            _mm256_or_si256(_mm256_subs_epu8(s, k.hi[v]), _mm256_subs_epu8(k.lo[v], s));
        const __m256i near = _mm256_cmpeq_epi32(off, zero);
        // Changed samples get green and red (bytes 1, 2), matching ones blue and red (0, 2).
        const __m256i marks = _mm256_or_si256(_mm256_and_si256(moved, k.motionMark[v]),
                                              _mm256_and_si256(near, k.colorMark[v]));
        // 0xFF is -1: byte 0 of a sample counts colour, byte 1 motion.
        counters = _mm256_sub_epi8(counters, marks);

        _mm256_storeu_si256(reinterpret_cast<__m256i*>(disp + 32 * v),
                            ShowPicture ? _mm256_or_si256(s, marks) : marks);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(prev + 32 * v),
                            _mm256_blendv_epi8(old, s, k.sampleBgr[v]));
    }
}

OSTREL_AVX2 inline std::int64_t sumLanes(__m256i v) {
    const __m128i halves = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return _mm_cvtsi128_si64(halves) + _mm_extract_epi64(halves, 1);
}

template <int Bpp, bool ShowPicture>
OSTREL_AVX2 KernelCounts measureBlocks(const PixelView& src, const KernelBuffers& buf,
                                       const KernelParams& p) {
    constexpr std::size_t kBlock = Layout<Bpp>::kBlockBytes;
    Constants<Bpp> k;
    makeConstants<Bpp>(p, k);
    const std::size_t rowBytes = std::size_t(src.width) * Bpp;
    const std::size_t total = rowBytes * std::size_t(src.height);
    const bool packedSource = src.stride == std::ptrdiff_t(rowBytes) || src.height == 1;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i colorByte = _mm256_set1_epi32(0x000000FF);
    const __m256i motionByte = _mm256_set1_epi32(0x0000FF00);
    __m256i motionSum = zero;
    __m256i colorSum = zero;
    std::size_t at = 0;
    int y = 0;
    std::size_t rowBegin = 0;
    std::uint8_t spanning[kBlock];  // a block across a row end, or the bytes after the last block
    while (at + kBlock <= total) {
        __m256i counters = zero;
        for (int n = 0; n < Layout<Bpp>::kBlocksPerDrain && at + kBlock <= total;
             ++n, at += kBlock) {
            const std::uint8_t* s;
            if (packedSource) {
                s = src.data + at;
            } else {
                while (at >= rowBegin + rowBytes) {
                    ++y;
                    rowBegin += rowBytes;
                }
                if (at + kBlock <= rowBegin + rowBytes) {
                    s = src.row(y) + (at - rowBegin);
                } else {
                    kernel_detail::gatherPacked(src, at, kBlock, spanning);
                    s = spanning;
                }
            }
            measureBlock<Bpp, ShowPicture>(s, buf.cur + at, buf.prev + at, buf.display + at, k,
                                           counters);
        }
        motionSum = _mm256_add_epi64(motionSum,
                                     _mm256_sad_epu8(_mm256_and_si256(counters, motionByte), zero));
        colorSum = _mm256_add_epi64(colorSum,
                                    _mm256_sad_epu8(_mm256_and_si256(counters, colorByte), zero));
    }
    KernelCounts counts{sumLanes(motionSum), sumLanes(colorSum)};
    if (at < total) {
        kernel_detail::gatherPacked(src, at, total - at, spanning);
        kernel_detail::measurePacked(spanning, buf, at, total, Bpp, p, counts);
    }
    return counts;
}

template <int Bpp>
OSTREL_AVX2 KernelCounts measureBlocks(const PixelView& src, const KernelBuffers& buf,
                                       const KernelParams& p) {
    return p.showPicture ? measureBlocks<Bpp, true>(src, buf, p)
                         : measureBlocks<Bpp, false>(src, buf, p);
}

}  // namespace

// Plain entry point (no target attribute, so its declaration stays an ordinary function); the
// work is done by the AVX2-compiled functions above.
KernelCounts measureAreaAvx2(const PixelView& source, const KernelBuffers& buffers,
                             const KernelParams& params) {
    // Without samples the work is copying, which the scalar variant does with memcpy.
    if (!params.visitSamples || source.width <= 0 || source.height <= 0) {
        return measureAreaScalar(source, buffers, params);
    }
    switch (source.bytesPerPixel) {
        case 3:
            return measureBlocks<3>(source, buffers, params);
        case 4:
            return measureBlocks<4>(source, buffers, params);
        default:
            return measureAreaScalar(source, buffers, params);
    }
}

}  // namespace ostrel::engine

#endif  // __x86_64__
