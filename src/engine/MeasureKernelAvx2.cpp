// Area measurement with 32-byte AVX2 vectors, compiled for AVX2 function by function so the
// rest of the program still runs on any x86-64 processor; measureArea calls it only where the
// processor has AVX2.
//
// Same scheme as the SSE2 variant: the packed bytes are walked in blocks of 8 samples
// (32 * Bpp bytes, Bpp vectors) that start on a sample. A sample is 12 or 16 bytes after the
// previous one, so it always fills one 32-bit element of a vector. The block's samples are
// moved together into one vector in prev's layout, tested there, one 32-bit compare deciding
// each sample's three channel tests, and their marks are moved back out to their pixels.

#if defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <cstdint>

#include "MeasureKernel.h"

#define OSTREL_AVX2 __attribute__((target("avx2,popcnt")))

namespace ostrel::engine {

namespace {

template <int Bpp>
struct Layout {
    static constexpr std::size_t kBlockBytes = 32 * Bpp;
    static constexpr int kVectors = Bpp;
    // Blocks between two drains of the per-byte counters; each block adds at most 1 to a
    // counter byte, so it cannot wrap.
    static constexpr int kBlocksPerDrain = 255;
};

// How a block's samples move, fixed by the pixel size. Sample j fills element (Bpp * j) % 8 of
// vector (Bpp * j) / 8. Per vector: the permutation that brings its samples to their places in
// the sample vector and the mask of those places (bytes 0..2 of each); the permutation that
// takes the marks back and the mask of the elements that are samples.
template <int Bpp>
struct SampleMoves {
    alignas(32) std::int32_t gather[Bpp][8] = {};
    alignas(32) std::int32_t gatherMask[Bpp][8] = {};
    alignas(32) std::int32_t scatter[Bpp][8] = {};
    alignas(32) std::int32_t scatterMask[Bpp][8] = {};
    constexpr SampleMoves() {
        for (int j = 0; j < 8; ++j) {
            const int v = Bpp * j / 8;
            const int e = Bpp * j % 8;
            gather[v][j] = e;
            gatherMask[v][j] = 0x00FFFFFF;
            scatter[v][e] = j;
            scatterMask[v][e] = -1;
        }
    }
};
template <int Bpp>
constexpr SampleMoves<Bpp> kMoves{};

OSTREL_AVX2 inline __m256i loadWords(const std::int32_t* words) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(words));
}

// The tests, one word per sample (see SampleWords).
struct Constants {
    __m256i lo, hi, limit, motionMark, colorMark;
};

OSTREL_AVX2 void makeConstants(const KernelParams& p, Constants& k) {
    const kernel_detail::SampleWords w = kernel_detail::sampleWords(p);
    k.lo = _mm256_set1_epi32(std::int32_t(w.lo));
    k.hi = _mm256_set1_epi32(std::int32_t(w.hi));
    k.limit = _mm256_set1_epi32(std::int32_t(w.limit));
    k.motionMark = _mm256_set1_epi32(std::int32_t(w.motionMark));
    k.colorMark = _mm256_set1_epi32(std::int32_t(w.colorMark));
}

template <int Bpp, bool ShowPicture, bool WritePicture>
OSTREL_AVX2 inline void measureBlock(const std::uint8_t* src, std::uint8_t* cur, std::uint8_t* prev,
                                     std::uint8_t* disp, std::uint8_t* markBits, const Constants& k,
                                     __m256i& counters) {
    constexpr int kVectors = Layout<Bpp>::kVectors;
    constexpr const SampleMoves<Bpp>& moves = kMoves<Bpp>;
    const __m256i zero = _mm256_setzero_si256();
    __m256i s[kVectors];
    __m256i samples = zero;
#pragma GCC unroll 4
    for (int v = 0; v < kVectors; ++v) {
        s[v] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 32 * v));
        if constexpr (WritePicture && !ShowPicture) {  // else the shown picture keeps the piece
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(cur + 32 * v), s[v]);
        }
        samples = _mm256_or_si256(
            samples, _mm256_and_si256(_mm256_permutevar8x32_epi32(s[v], loadWords(moves.gather[v])),
                                      loadWords(moves.gatherMask[v])));
    }
    const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(prev));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(prev), samples);

    const __m256i d =
        _mm256_or_si256(_mm256_subs_epu8(samples, old), _mm256_subs_epu8(old, samples));
    const __m256i moved = _mm256_cmpeq_epi32(_mm256_subs_epu8(k.limit, d), zero);
    const __m256i off =
        _mm256_or_si256(_mm256_subs_epu8(samples, k.hi), _mm256_subs_epu8(k.lo, samples));
    const __m256i near = _mm256_cmpeq_epi32(off, zero);
    // Changed samples get green and red (bytes 1, 2), matching ones blue and red (0, 2).
    const __m256i marks =
        _mm256_or_si256(_mm256_and_si256(moved, k.motionMark), _mm256_and_si256(near, k.colorMark));
    // 0xFF is -1: byte 0 of a sample counts colour, byte 1 motion.
    counters = _mm256_sub_epi8(counters, marks);

    if constexpr (!WritePicture) {  // the block's 8 samples are one byte of each kind of bit
        markBits[0] =
            std::uint8_t(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_slli_epi32(marks, 16))));
        markBits[1] =
            std::uint8_t(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_slli_epi32(marks, 24))));
    } else {
#pragma GCC unroll 4
        for (int v = 0; v < kVectors; ++v) {
            const __m256i m =
                _mm256_and_si256(_mm256_permutevar8x32_epi32(marks, loadWords(moves.scatter[v])),
                                 loadWords(moves.scatterMask[v]));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(disp + 32 * v),
                                ShowPicture ? _mm256_or_si256(s[v], m) : m);
        }
    }
}

OSTREL_AVX2 inline std::int64_t sumLanes(__m256i v) {
    const __m128i halves = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return _mm_cvtsi128_si64(halves) + _mm_extract_epi64(halves, 1);
}

template <int Bpp, bool ShowPicture, bool WritePicture>
OSTREL_AVX2 void measureBlocks(const PixelView& src, const KernelBuffers& buf,
                               const KernelParams& p, int endRow, KernelCursor& cursor) {
    constexpr std::size_t kBlock = Layout<Bpp>::kBlockBytes;
    Constants k;
    makeConstants(p, k);
    const std::size_t rowBytes = std::size_t(src.width) * Bpp;
    const std::size_t total = rowBytes * std::size_t(src.height);
    const std::size_t stop = rowBytes * std::size_t(std::clamp(endRow, 0, src.height));
    const bool packedSource = src.stride == std::ptrdiff_t(rowBytes) || src.height == 1;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i colorByte = _mm256_set1_epi32(0x000000FF);
    const __m256i motionByte = _mm256_set1_epi32(0x0000FF00);
    __m256i motionSum = zero;
    __m256i colorSum = zero;
    std::size_t at = cursor.at;
    int y = int(at / rowBytes);
    std::size_t rowBegin = std::size_t(y) * rowBytes;
    std::uint8_t spanning[kBlock];  // a block across a row end, or the bytes after the last block
    while (at + kBlock <= stop) {
        __m256i counters = zero;
        for (int n = 0; n < Layout<Bpp>::kBlocksPerDrain && at + kBlock <= stop;
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
            measureBlock<Bpp, ShowPicture, WritePicture>(
                s, buf.cur + at, buf.prev + at / Bpp, buf.display + at,
                buf.markBits + at / kBlock * 2, k, counters);
        }
        motionSum = _mm256_add_epi64(motionSum,
                                     _mm256_sad_epu8(_mm256_and_si256(counters, motionByte), zero));
        colorSum = _mm256_add_epi64(colorSum,
                                    _mm256_sad_epu8(_mm256_and_si256(counters, colorByte), zero));
    }
    cursor.counts.motion += sumLanes(motionSum);
    cursor.counts.color += sumLanes(colorSum);
    if (stop == total && at < total) {
        kernel_detail::gatherPacked(src, at, total - at, spanning);
        kernel_detail::measurePacked(spanning, buf, at, total, Bpp, p, cursor.counts);
        at = total;
    }
    cursor.at = at;
}

template <int Bpp>
OSTREL_AVX2 void measureBlocks(const PixelView& src, const KernelBuffers& buf,
                               const KernelParams& p, int endRow, KernelCursor& cursor) {
    if (!p.writePicture) {
        measureBlocks<Bpp, true, false>(src, buf, p, endRow, cursor);
    } else if (p.showPicture) {
        measureBlocks<Bpp, true, true>(src, buf, p, endRow, cursor);
    } else {
        measureBlocks<Bpp, false, true>(src, buf, p, endRow, cursor);
    }
}

}  // namespace

// Plain entry point (no target attribute, so its declaration stays an ordinary function); the
// work is done by the AVX2-compiled functions above.
void measureAreaRowsAvx2(const PixelView& source, const KernelBuffers& buffers,
                         const KernelParams& params, int endRow, KernelCursor& cursor) {
    // Without samples the work is copying, which the scalar variant does with memcpy.
    if (!params.visitSamples || source.width <= 0 || source.height <= 0) {
        measureAreaRowsScalar(source, buffers, params, endRow, cursor);
        return;
    }
    switch (source.bytesPerPixel) {
        case 3:
            measureBlocks<3>(source, buffers, params, endRow, cursor);
            break;
        case 4:
            measureBlocks<4>(source, buffers, params, endRow, cursor);
            break;
        default:
            measureAreaRowsScalar(source, buffers, params, endRow, cursor);
    }
}

}  // namespace ostrel::engine

#endif  // __x86_64__
