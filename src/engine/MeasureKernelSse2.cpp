// Area measurement with 16-byte SSE2 vectors: the baseline every x86-64 processor runs.
//
// The packed buffers are walked in blocks that start on a sample (samples fall every 4 pixels
// of the packed layout, across row ends), so every block has the same layout and its byte
// masks are constants. A sample is 12 or 16 bytes after the previous one, so it always starts
// a 32-bit element: its three channel tests are decided together by one 32-bit compare, with
// the element's fourth byte made to pass by the constants. Source bytes are read straight from
// the source row; a block that spans a row end of a padded source is first gathered into a copy.

#if defined(__x86_64__)

#include <emmintrin.h>

#include <algorithm>
#include <cstdint>

#include "MeasureKernel.h"

namespace ostrel::engine {

namespace {

// 3 bytes per pixel: 48 bytes, samples at 0, 12, 24 and 36 (vector bytes 0 and 12, 8, 4).
// 4 bytes per pixel: 32 bytes, samples at byte 0 of each vector.
template <int Bpp>
struct Layout {
    static constexpr std::size_t kBlockBytes = Bpp == 3 ? 48 : 32;
    static constexpr int kVectors = int(kBlockBytes / 16);
    // Blocks between two drains of the per-byte counters; a counter byte grows by at most
    // kVectors per block, so it cannot wrap.
    static constexpr int kBlocksPerDrain = 255 / kVectors;
};

template <int Bpp>
struct Constants {
    static constexpr int kVectors = Layout<Bpp>::kVectors;
    // Colour: a sample matches when lo <= its bytes <= hi (the target colour widened by the
    // tolerance); the fourth byte of each element always passes.
    __m128i lo[kVectors];
    __m128i hi[kVectors];
    __m128i motionMark[kVectors];  // 0x00FFFF00 in the elements of samples, if motion counts
    __m128i colorMark[kVectors];   // 0x00FF00FF in the elements of samples, if colour counts
    __m128i sampleBgr[kVectors];   // 0xFF on bytes 0..2 of each sample: what prev keeps
    // Motion: a byte changed when limit - |cur - prev| saturates to 0; 0 in each element's
    // fourth byte so that byte always passes.
    __m128i limit;
};

template <int Bpp>
Constants<Bpp> makeConstants(const KernelParams& p) {
    const auto b = kernel_detail::blockPatterns<Layout<Bpp>::kBlockBytes>(p, Bpp);
    auto load = [](const std::uint8_t* bytes) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
    };
    Constants<Bpp> k;
    for (int v = 0; v < Layout<Bpp>::kVectors; ++v) {
        k.lo[v] = load(b.lo + 16 * v);
        k.hi[v] = load(b.hi + 16 * v);
        k.motionMark[v] = load(b.motionMark + 16 * v);
        k.colorMark[v] = load(b.colorMark + 16 * v);
        k.sampleBgr[v] = load(b.sampleBgr + 16 * v);
    }
    k.limit = load(b.limits);
    return k;
}

template <int Bpp, bool ShowPicture>
inline void measureBlock(const std::uint8_t* src, std::uint8_t* cur, std::uint8_t* prev,
                         std::uint8_t* disp, const Constants<Bpp>& k, __m128i& counters) {
    const __m128i zero = _mm_setzero_si128();
    for (int v = 0; v < Layout<Bpp>::kVectors; ++v) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16 * v));
        const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + 16 * v));
        if constexpr (!ShowPicture) {  // else the shown picture keeps the piece
            _mm_storeu_si128(reinterpret_cast<__m128i*>(cur + 16 * v), s);
        }

        const __m128i d = _mm_or_si128(_mm_subs_epu8(s, old), _mm_subs_epu8(old, s));
        const __m128i moved = _mm_cmpeq_epi32(_mm_subs_epu8(k.limit, d), zero);
        const __m128i off = _mm_or_si128(_mm_subs_epu8(s, k.hi[v]), _mm_subs_epu8(k.lo[v], s));
        const __m128i near = _mm_cmpeq_epi32(off, zero);
        // Changed samples get green and red (bytes 1, 2), matching ones blue and red (0, 2).
        const __m128i marks = _mm_or_si128(_mm_and_si128(moved, k.motionMark[v]),
                                           _mm_and_si128(near, k.colorMark[v]));
        // 0xFF is -1: byte 0 of a sample counts colour, byte 1 motion.
        counters = _mm_sub_epi8(counters, marks);

        _mm_storeu_si128(reinterpret_cast<__m128i*>(disp + 16 * v),
                         ShowPicture ? _mm_or_si128(s, marks) : marks);
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(prev + 16 * v),
            _mm_or_si128(_mm_and_si128(s, k.sampleBgr[v]), _mm_andnot_si128(k.sampleBgr[v], old)));
    }
}

inline std::int64_t sumLanes(__m128i v) {
    return _mm_cvtsi128_si64(v) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v));
}

template <int Bpp, bool ShowPicture>
KernelCounts measureBlocks(const PixelView& src, const KernelBuffers& buf, const KernelParams& p) {
    constexpr std::size_t kBlock = Layout<Bpp>::kBlockBytes;
    const Constants<Bpp> k = makeConstants<Bpp>(p);
    const std::size_t rowBytes = std::size_t(src.width) * Bpp;
    const std::size_t total = rowBytes * std::size_t(src.height);
    const bool packedSource = src.stride == std::ptrdiff_t(rowBytes) || src.height == 1;
    const __m128i zero = _mm_setzero_si128();
    const __m128i colorByte = _mm_set1_epi32(0x000000FF);
    const __m128i motionByte = _mm_set1_epi32(0x0000FF00);
    __m128i motionSum = zero;
    __m128i colorSum = zero;
    std::size_t at = 0;
    int y = 0;
    std::size_t rowBegin = 0;
    std::uint8_t spanning[kBlock];  // a block across a row end, or the bytes after the last block
    while (at + kBlock <= total) {
        __m128i counters = zero;
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
        motionSum =
            _mm_add_epi64(motionSum, _mm_sad_epu8(_mm_and_si128(counters, motionByte), zero));
        colorSum = _mm_add_epi64(colorSum, _mm_sad_epu8(_mm_and_si128(counters, colorByte), zero));
    }
    KernelCounts counts{sumLanes(motionSum), sumLanes(colorSum)};
    if (at < total) {
        kernel_detail::gatherPacked(src, at, total - at, spanning);
        kernel_detail::measurePacked(spanning, buf, at, total, Bpp, p, counts);
    }
    return counts;
}

template <int Bpp>
KernelCounts measureBlocks(const PixelView& src, const KernelBuffers& buf, const KernelParams& p) {
    return p.showPicture ? measureBlocks<Bpp, true>(src, buf, p)
                         : measureBlocks<Bpp, false>(src, buf, p);
}

}  // namespace

KernelCounts measureAreaSse2(const PixelView& source, const KernelBuffers& buffers,
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
