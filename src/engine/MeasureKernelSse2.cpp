// Area measurement with 16-byte SSE2 vectors: the baseline every x86-64 processor runs.
//
// The packed buffers are walked in blocks that start on a sample (samples fall every 4 pixels
// of the packed layout, across row ends), so every block has the same layout and its byte
// masks are constants. Each vector is tested byte by byte; a sample's three channel results
// are ANDed onto its first byte with byte shifts, which never cross the vector because no
// sample straddles one. Source bytes are read straight from the source row; a block that
// spans a row end of a padded source is first gathered into `cur`.

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
    __m128i motionFirst[kVectors];  // 0xFF on the first byte of each sample, if motion counts
    __m128i colorFirst[kVectors];   // the same for colour
    __m128i sampleBgr[kVectors];    // 0xFF on bytes 0..2 of each sample: what prev keeps
    __m128i target[kVectors];       // the target colour byte of each byte's channel
    __m128i limit;                  // motion: a channel changed when |cur - prev| >= limit
    __m128i sens;                   // colour: a channel matches when |cur - target| <= sens
    __m128i show;                   // all ones when the piece shows under the marks
};

template <int Bpp>
Constants<Bpp> makeConstants(const KernelParams& p) {
    constexpr std::size_t kBytes = Layout<Bpp>::kBlockBytes;
    // Limits outside 0..255 decide every sample the same way; clamping keeps the byte compares
    // right for the ones that still count.
    const bool motion = p.countMotion && p.motionLimit <= 255;
    const bool color = p.countColor && p.colorSens >= 0;
    const std::uint8_t channel[4] = {p.detBlue, p.detGreen, p.detRed, 0};
    alignas(16) std::uint8_t first[kBytes], firstColor[kBytes], bgr[kBytes], target[kBytes];
    for (std::size_t j = 0; j < kBytes; ++j) {
        const std::size_t inSample = j % (4 * Bpp);
        first[j] = motion && inSample == 0 ? 0xFF : 0;
        firstColor[j] = color && inSample == 0 ? 0xFF : 0;
        bgr[j] = inSample < 3 ? 0xFF : 0;
        target[j] = channel[j % Bpp];
    }
    Constants<Bpp> k;
    for (int v = 0; v < Layout<Bpp>::kVectors; ++v) {
        k.motionFirst[v] = _mm_load_si128(reinterpret_cast<const __m128i*>(first + 16 * v));
        k.colorFirst[v] = _mm_load_si128(reinterpret_cast<const __m128i*>(firstColor + 16 * v));
        k.sampleBgr[v] = _mm_load_si128(reinterpret_cast<const __m128i*>(bgr + 16 * v));
        k.target[v] = _mm_load_si128(reinterpret_cast<const __m128i*>(target + 16 * v));
    }
    k.limit = _mm_set1_epi8(char(std::clamp(p.motionLimit, 0, 255)));
    k.sens = _mm_set1_epi8(char(std::clamp(p.colorSens, 0, 255)));
    k.show = _mm_set1_epi8(p.showPicture ? char(0xFF) : 0);
    return k;
}

inline __m128i absDiff(__m128i a, __m128i b) {
    return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
}

// 0xFF on the bytes where the pass mask `m` holds for that byte and the next two.
inline __m128i allThree(__m128i m) {
    return _mm_and_si128(m, _mm_and_si128(_mm_srli_si128(m, 1), _mm_srli_si128(m, 2)));
}

template <int Bpp>
inline void measureBlock(const std::uint8_t* src, std::uint8_t* cur, std::uint8_t* prev,
                         std::uint8_t* disp, const Constants<Bpp>& k, __m128i& motionCount,
                         __m128i& colorCount) {
    for (int v = 0; v < Layout<Bpp>::kVectors; ++v) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16 * v));
        const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + 16 * v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(cur + 16 * v), s);

        const __m128i d = absDiff(s, old);
        const __m128i moved = _mm_cmpeq_epi8(_mm_max_epu8(d, k.limit), d);
        const __m128i motion = _mm_and_si128(allThree(moved), k.motionFirst[v]);

        const __m128i e = absDiff(s, k.target[v]);
        const __m128i near = _mm_cmpeq_epi8(_mm_min_epu8(e, k.sens), e);
        const __m128i color = _mm_and_si128(allThree(near), k.colorFirst[v]);

        // 0xFF is -1: subtracting the masks counts the samples in each byte.
        motionCount = _mm_sub_epi8(motionCount, motion);
        colorCount = _mm_sub_epi8(colorCount, color);

        // Motion marks green and red (bytes 1, 2), colour blue and red (bytes 0, 2).
        const __m128i marks =
            _mm_or_si128(_mm_or_si128(_mm_slli_si128(motion, 1), _mm_slli_si128(motion, 2)),
                         _mm_or_si128(color, _mm_slli_si128(color, 2)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(disp + 16 * v),
                         _mm_or_si128(_mm_and_si128(s, k.show), marks));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(prev + 16 * v),
                         _mm_or_si128(_mm_and_si128(s, k.sampleBgr[v]),
                                      _mm_andnot_si128(k.sampleBgr[v], old)));
    }
}

inline std::int64_t sumLanes(__m128i v) {
    return _mm_cvtsi128_si64(v) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v));
}

template <int Bpp>
KernelCounts measureBlocks(const PixelView& src, const KernelBuffers& buf,
                           const KernelParams& p) {
    constexpr std::size_t kBlock = Layout<Bpp>::kBlockBytes;
    const Constants<Bpp> k = makeConstants<Bpp>(p);
    const std::size_t rowBytes = std::size_t(src.width) * Bpp;
    const std::size_t total = rowBytes * std::size_t(src.height);
    const bool packedSource = src.stride == std::ptrdiff_t(rowBytes) || src.height == 1;
    const __m128i zero = _mm_setzero_si128();
    __m128i motionSum = zero;
    __m128i colorSum = zero;
    std::size_t at = 0;
    int y = 0;
    std::size_t rowBegin = 0;
    while (at + kBlock <= total) {
        __m128i motionCount = zero;
        __m128i colorCount = zero;
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
                    kernel_detail::gatherPacked(src, at, kBlock, buf.cur + at);
                    s = buf.cur + at;
                }
            }
            measureBlock<Bpp>(s, buf.cur + at, buf.prev + at, buf.display + at, k, motionCount,
                              colorCount);
        }
        motionSum = _mm_add_epi64(motionSum, _mm_sad_epu8(motionCount, zero));
        colorSum = _mm_add_epi64(colorSum, _mm_sad_epu8(colorCount, zero));
    }
    KernelCounts counts{sumLanes(motionSum), sumLanes(colorSum)};
    if (at < total) {
        kernel_detail::gatherPacked(src, at, total - at, buf.cur + at);
        kernel_detail::measurePackedTail(buf, at, total, Bpp, p, counts);
    }
    return counts;
}

}  // namespace

KernelCounts measureAreaSse2(const PixelView& source, const KernelBuffers& buffers,
                             const KernelParams& params) {
    // Without samples the work is two copies, which the scalar variant does with memcpy.
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
