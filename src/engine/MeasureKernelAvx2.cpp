// Area measurement with 32-byte AVX2 vectors, compiled for AVX2 function by function so the
// rest of the program still runs on any x86-64 processor; measureArea calls it only where the
// processor has AVX2.
//
// Same scheme as the SSE2 variant: blocks that start on a sample, constant byte masks per
// block, per-byte tests whose three channel results are ANDed onto each sample's first byte.
// AVX2 byte shifts work within each 16-byte half, so the block layout keeps every sample
// inside one half.

#if defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <cstdint>

#include "MeasureKernel.h"

#define OSTREL_AVX2 __attribute__((target("avx2,popcnt")))

namespace ostrel::engine {

namespace {

// 3 bytes per pixel: 96 bytes, samples at 0, 12, ..., 84; as 16-byte halves: 0 and 12 | 8 |
// 4 | 0 and 12 | 8 | 4, none crossing a half.
// 4 bytes per pixel: 64 bytes, samples at byte 0 of each half.
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
    __m256i motionFirst[kVectors];  // 0xFF on the first byte of each sample, if motion counts
    __m256i colorFirst[kVectors];   // the same for colour
    __m256i sampleBgr[kVectors];    // 0xFF on bytes 0..2 of each sample: what prev keeps
    __m256i target[kVectors];       // the target colour byte of each byte's channel
    __m256i limit;                  // motion: a channel changed when |cur - prev| >= limit
    __m256i sens;                   // colour: a channel matches when |cur - target| <= sens
    __m256i show;                   // all ones when the piece shows under the marks
};

template <int Bpp>
OSTREL_AVX2 void makeConstants(const KernelParams& p, Constants<Bpp>& k) {
    constexpr std::size_t kBytes = Layout<Bpp>::kBlockBytes;
    // Limits outside 0..255 decide every sample the same way; clamping keeps the byte compares
    // right for the ones that still count.
    const bool motion = p.countMotion && p.motionLimit <= 255;
    const bool color = p.countColor && p.colorSens >= 0;
    const std::uint8_t channel[4] = {p.detBlue, p.detGreen, p.detRed, 0};
    alignas(32) std::uint8_t first[kBytes], firstColor[kBytes], bgr[kBytes], target[kBytes];
    for (std::size_t j = 0; j < kBytes; ++j) {
        const std::size_t inSample = j % (4 * Bpp);
        first[j] = motion && inSample == 0 ? 0xFF : 0;
        firstColor[j] = color && inSample == 0 ? 0xFF : 0;
        bgr[j] = inSample < 3 ? 0xFF : 0;
        target[j] = channel[j % Bpp];
    }
    for (int v = 0; v < Layout<Bpp>::kVectors; ++v) {
        k.motionFirst[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(first + 32 * v));
        k.colorFirst[v] =
            _mm256_load_si256(reinterpret_cast<const __m256i*>(firstColor + 32 * v));
        k.sampleBgr[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(bgr + 32 * v));
        k.target[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(target + 32 * v));
    }
    k.limit = _mm256_set1_epi8(char(std::clamp(p.motionLimit, 0, 255)));
    k.sens = _mm256_set1_epi8(char(std::clamp(p.colorSens, 0, 255)));
    k.show = _mm256_set1_epi8(p.showPicture ? char(0xFF) : 0);
}

OSTREL_AVX2 inline __m256i absDiff(__m256i a, __m256i b) {
    return _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
}

// 0xFF on the bytes where the pass mask `m` holds for that byte and the next two.
OSTREL_AVX2 inline __m256i allThree(__m256i m) {
    return _mm256_and_si256(
        m, _mm256_and_si256(_mm256_srli_si256(m, 1), _mm256_srli_si256(m, 2)));
}

template <int Bpp>
OSTREL_AVX2 inline void measureBlock(const std::uint8_t* src, std::uint8_t* cur,
                                     std::uint8_t* prev, std::uint8_t* disp,
                                     const Constants<Bpp>& k, __m256i& motionCount,
                                     __m256i& colorCount) {
    for (int v = 0; v < Layout<Bpp>::kVectors; ++v) {
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 32 * v));
        const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(prev + 32 * v));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(cur + 32 * v), s);

        const __m256i d = absDiff(s, old);
        const __m256i moved = _mm256_cmpeq_epi8(_mm256_max_epu8(d, k.limit), d);
        const __m256i motion = _mm256_and_si256(allThree(moved), k.motionFirst[v]);

        const __m256i e = absDiff(s, k.target[v]);
        const __m256i near = _mm256_cmpeq_epi8(_mm256_min_epu8(e, k.sens), e);
        const __m256i color = _mm256_and_si256(allThree(near), k.colorFirst[v]);

        // 0xFF is -1: subtracting the masks counts the samples in each byte.
        motionCount = _mm256_sub_epi8(motionCount, motion);
        colorCount = _mm256_sub_epi8(colorCount, color);

        // Motion marks green and red (bytes 1, 2), colour blue and red (bytes 0, 2).
        const __m256i marks = _mm256_or_si256(
            _mm256_or_si256(_mm256_slli_si256(motion, 1), _mm256_slli_si256(motion, 2)),
            _mm256_or_si256(color, _mm256_slli_si256(color, 2)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(disp + 32 * v),
                            _mm256_or_si256(_mm256_and_si256(s, k.show), marks));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(prev + 32 * v),
                            _mm256_blendv_epi8(old, s, k.sampleBgr[v]));
    }
}

OSTREL_AVX2 inline std::int64_t sumLanes(__m256i v) {
    const __m128i halves =
        _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return _mm_cvtsi128_si64(halves) + _mm_extract_epi64(halves, 1);
}

template <int Bpp>
OSTREL_AVX2 KernelCounts measureBlocks(const PixelView& src, const KernelBuffers& buf,
                                       const KernelParams& p) {
    constexpr std::size_t kBlock = Layout<Bpp>::kBlockBytes;
    Constants<Bpp> k;
    makeConstants<Bpp>(p, k);
    const std::size_t rowBytes = std::size_t(src.width) * Bpp;
    const std::size_t total = rowBytes * std::size_t(src.height);
    const bool packedSource = src.stride == std::ptrdiff_t(rowBytes) || src.height == 1;
    const __m256i zero = _mm256_setzero_si256();
    __m256i motionSum = zero;
    __m256i colorSum = zero;
    std::size_t at = 0;
    int y = 0;
    std::size_t rowBegin = 0;
    while (at + kBlock <= total) {
        __m256i motionCount = zero;
        __m256i colorCount = zero;
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
        motionSum = _mm256_add_epi64(motionSum, _mm256_sad_epu8(motionCount, zero));
        colorSum = _mm256_add_epi64(colorSum, _mm256_sad_epu8(colorCount, zero));
    }
    KernelCounts counts{sumLanes(motionSum), sumLanes(colorSum)};
    if (at < total) {
        kernel_detail::gatherPacked(src, at, total - at, buf.cur + at);
        kernel_detail::measurePackedTail(buf, at, total, Bpp, p, counts);
    }
    return counts;
}

}  // namespace

// Plain entry point (no target attribute, so its declaration stays an ordinary function); the
// work is done by the AVX2-compiled functions above.
KernelCounts measureAreaAvx2(const PixelView& source, const KernelBuffers& buffers,
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
