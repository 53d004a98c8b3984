#include "StreamRows.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace ostrel::engine {

namespace {

void streamRow(const std::uint8_t* from, std::uint8_t* to, std::size_t bytes) {
#if defined(__x86_64__)
    // Ordinary stores up to the first 16-byte boundary of the target and after the last one.
    const std::size_t head = std::min(bytes, (16 - reinterpret_cast<std::uintptr_t>(to) % 16) % 16);
    std::memcpy(to, from, head);
    std::size_t i = head;
    for (; i + 64 <= bytes; i += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + 48));
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + i), a);
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + i + 16), b);
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + i + 32), c);
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + i + 48), d);
    }
    for (; i + 16 <= bytes; i += 16) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + i),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)));
    }
    std::memcpy(to + i, from + i, bytes - i);
#else
    std::memcpy(to, from, bytes);
#endif
}

}  // namespace

void streamRows(const PixelView& source, std::uint8_t* target, std::ptrdiff_t targetStride) {
    if (source.width <= 0 || source.height <= 0) {
        return;
    }
    const std::size_t rowBytes = std::size_t(source.width) * std::size_t(source.bytesPerPixel);
    for (int y = 0; y < source.height; ++y) {
        streamRow(source.row(y), target + y * targetStride, rowBytes);
    }
#if defined(__x86_64__)
    _mm_sfence();  // the streamed bytes are in memory before anyone else reads the surface
#endif
}

}  // namespace ostrel::engine
