// Area measurement with 16-byte SSE2 vectors: the baseline every x86-64 processor runs.
//
// The packed bytes are walked in blocks of 4 samples (samples fall every 4 pixels of the packed
// layout, across row ends; a block is 16 * Bpp bytes, Bpp vectors) that start on a sample, so
// every block has the same layout. A sample is 12 or 16 bytes after the previous one, so it
// always fills one 32-bit element: the block's samples are moved together into one vector in
// prev's layout and tested there, one 32-bit compare deciding each sample's three channel
// tests, and their marks are moved back out to their pixels. Source bytes are read straight
// from the source row; a block that spans a row end of a padded source is gathered first.

#if defined(__x86_64__)

#include <emmintrin.h>

#include <algorithm>
#include <cstdint>

#include "MeasureKernel.h"

namespace ostrel::engine {

namespace {

template <int Bpp>
struct Layout {
    static constexpr std::size_t kBlockBytes = 16 * Bpp;
    static constexpr int kVectors = Bpp;
    // Blocks between two drains of the per-byte counters; each block adds at most 1 to a
    // counter byte, so it cannot wrap.
    static constexpr int kBlocksPerDrain = 255;
};

// Where a block's samples lie, and how they are moved into the sample vector and back.
template <int Bpp>
struct SampleMoves;

// 3 bytes per pixel: samples at bytes 0, 12 (vector 0, elements 0 and 3), 24 (vector 1,
// element 2) and 36 (vector 2, element 1).
template <>
struct SampleMoves<3> {
    static __m128i gather(const __m128i* s) {
        const __m128i a = _mm_shuffle_epi32(s[0], _MM_SHUFFLE(3, 3, 3, 0));
        const __m128i b = _mm_shuffle_epi32(s[1], _MM_SHUFFLE(2, 2, 2, 2));
        const __m128i c = _mm_shuffle_epi32(s[2], _MM_SHUFFLE(1, 1, 1, 1));
        return _mm_or_si128(_mm_or_si128(_mm_and_si128(a, _mm_set_epi32(0, 0, kBgr, kBgr)),
                                         _mm_and_si128(b, _mm_set_epi32(0, kBgr, 0, 0))),
                            _mm_and_si128(c, _mm_set_epi32(kBgr, 0, 0, 0)));
    }
    static __m128i scatter(__m128i marks, int v) {
        switch (v) {
            case 0:
                return _mm_and_si128(_mm_shuffle_epi32(marks, _MM_SHUFFLE(1, 0, 0, 0)),
                                     _mm_set_epi32(-1, 0, 0, -1));
            case 1:
                return _mm_and_si128(_mm_shuffle_epi32(marks, _MM_SHUFFLE(2, 2, 2, 2)),
                                     _mm_set_epi32(0, -1, 0, 0));
            default:
                return _mm_and_si128(_mm_shuffle_epi32(marks, _MM_SHUFFLE(3, 3, 3, 3)),
                                     _mm_set_epi32(0, 0, -1, 0));
        }
    }
    static constexpr int kBgr = 0x00FFFFFF;
};

// 4 bytes per pixel: a sample at element 0 of each vector.
template <>
struct SampleMoves<4> {
    static __m128i gather(const __m128i* s) {
        const __m128i ab = _mm_unpacklo_epi32(s[0], s[1]);
        const __m128i cd = _mm_unpacklo_epi32(s[2], s[3]);
        return _mm_and_si128(_mm_unpacklo_epi64(ab, cd), _mm_set1_epi32(0x00FFFFFF));
    }
    static __m128i scatter(__m128i marks, int v) {
        const __m128i firstElement = _mm_set_epi32(0, 0, 0, -1);
        switch (v) {
            case 0:
                return _mm_and_si128(marks, firstElement);
            case 1:
                return _mm_and_si128(_mm_srli_si128(marks, 4), firstElement);
            case 2:
                return _mm_and_si128(_mm_srli_si128(marks, 8), firstElement);
            default:
                return _mm_srli_si128(marks, 12);
        }
    }
};

// The tests, one word per sample (see SampleWords).
struct Constants {
    __m128i lo, hi, limit, motionMark, colorMark;
};

Constants makeConstants(const KernelParams& p) {
    const kernel_detail::SampleWords w = kernel_detail::sampleWords(p);
    return {_mm_set1_epi32(std::int32_t(w.lo)), _mm_set1_epi32(std::int32_t(w.hi)),
            _mm_set1_epi32(std::int32_t(w.limit)), _mm_set1_epi32(std::int32_t(w.motionMark)),
            _mm_set1_epi32(std::int32_t(w.colorMark))};
}

template <int Bpp, bool ShowPicture, bool WritePicture>
inline void measureBlock(const std::uint8_t* src, std::uint8_t* cur, std::uint8_t* prev,
                         std::uint8_t* disp, std::uint8_t* markBits, bool upperHalf,
                         const Constants& k, __m128i& counters) {
    constexpr int kVectors = Layout<Bpp>::kVectors;
    const __m128i zero = _mm_setzero_si128();
    __m128i s[kVectors];
#pragma GCC unroll 4
    for (int v = 0; v < kVectors; ++v) {
        s[v] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16 * v));
        if constexpr (WritePicture && !ShowPicture) {  // else the shown picture keeps the piece
            _mm_storeu_si128(reinterpret_cast<__m128i*>(cur + 16 * v), s[v]);
        }
    }
    const __m128i samples = SampleMoves<Bpp>::gather(s);
    const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(prev), samples);

    const __m128i d = _mm_or_si128(_mm_subs_epu8(samples, old), _mm_subs_epu8(old, samples));
    const __m128i moved = _mm_cmpeq_epi32(_mm_subs_epu8(k.limit, d), zero);
    const __m128i off = _mm_or_si128(_mm_subs_epu8(samples, k.hi), _mm_subs_epu8(k.lo, samples));
    const __m128i near = _mm_cmpeq_epi32(off, zero);
    // Changed samples get green and red (bytes 1, 2), matching ones blue and red (0, 2).
    const __m128i marks =
        _mm_or_si128(_mm_and_si128(moved, k.motionMark), _mm_and_si128(near, k.colorMark));
    // 0xFF is -1: byte 0 of a sample counts colour, byte 1 motion.
    counters = _mm_sub_epi8(counters, marks);

    if constexpr (!WritePicture) {
        // The block's 4 samples are half a byte of each kind of bit; the lower half comes first
        // and clears the upper one.
        const int motion = _mm_movemask_ps(_mm_castsi128_ps(_mm_slli_epi32(marks, 16)));
        const int color = _mm_movemask_ps(_mm_castsi128_ps(_mm_slli_epi32(marks, 24)));
        if (upperHalf) {
            markBits[0] = std::uint8_t(markBits[0] | motion << 4);
            markBits[1] = std::uint8_t(markBits[1] | color << 4);
        } else {
            markBits[0] = std::uint8_t(motion);
            markBits[1] = std::uint8_t(color);
        }
    } else {
#pragma GCC unroll 4
        for (int v = 0; v < kVectors; ++v) {
            const __m128i m = SampleMoves<Bpp>::scatter(marks, v);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(disp + 16 * v),
                             ShowPicture ? _mm_or_si128(s[v], m) : m);
        }
    }
}

inline std::int64_t sumLanes(__m128i v) {
    return _mm_cvtsi128_si64(v) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v));
}

template <int Bpp, bool ShowPicture, bool WritePicture>
void measureBlocks(const PixelView& src, const KernelBuffers& buf, const KernelParams& p,
                   int endRow, KernelCursor& cursor) {
    constexpr std::size_t kBlock = Layout<Bpp>::kBlockBytes;
    const Constants k = makeConstants(p);
    const std::size_t rowBytes = std::size_t(src.width) * Bpp;
    const std::size_t total = rowBytes * std::size_t(src.height);
    const std::size_t stop = rowBytes * std::size_t(std::clamp(endRow, 0, src.height));
    const bool packedSource = src.stride == std::ptrdiff_t(rowBytes) || src.height == 1;
    const __m128i zero = _mm_setzero_si128();
    const __m128i colorByte = _mm_set1_epi32(0x000000FF);
    const __m128i motionByte = _mm_set1_epi32(0x0000FF00);
    __m128i motionSum = zero;
    __m128i colorSum = zero;
    std::size_t at = cursor.at;
    int y = int(at / rowBytes);
    std::size_t rowBegin = std::size_t(y) * rowBytes;
    std::uint8_t spanning[kBlock];  // a block across a row end, or the bytes after the last block
    while (at + kBlock <= stop) {
        __m128i counters = zero;
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
            const std::size_t block = at / kBlock;
            measureBlock<Bpp, ShowPicture, WritePicture>(
                s, buf.cur + at, buf.prev + at / Bpp, buf.display + at,
                buf.markBits + block / 2 * 2, block % 2 == 1, k, counters);
        }
        motionSum =
            _mm_add_epi64(motionSum, _mm_sad_epu8(_mm_and_si128(counters, motionByte), zero));
        colorSum = _mm_add_epi64(colorSum, _mm_sad_epu8(_mm_and_si128(counters, colorByte), zero));
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
void measureBlocks(const PixelView& src, const KernelBuffers& buf, const KernelParams& p,
                   int endRow, KernelCursor& cursor) {
    if (!p.writePicture) {
        measureBlocks<Bpp, true, false>(src, buf, p, endRow, cursor);
    } else if (p.showPicture) {
        measureBlocks<Bpp, true, true>(src, buf, p, endRow, cursor);
    } else {
        measureBlocks<Bpp, false, true>(src, buf, p, endRow, cursor);
    }
}

}  // namespace

void measureAreaRowsSse2(const PixelView& source, const KernelBuffers& buffers,
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
