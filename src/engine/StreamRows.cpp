#include "StreamRows.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace ostrel::engine {

void streamWord(std::uint8_t* to, const std::uint8_t* from) {
#if defined(__x86_64__)
    int word;
    std::memcpy(&word, from, 4);
    _mm_stream_si32(reinterpret_cast<int*>(to), word);
#else
    std::memcpy(to, from, 4);
#endif
}

void streamRow(const std::uint8_t* from, std::uint8_t* to, std::size_t bytes) {
#if defined(__x86_64__)
    // Up to the first 16-byte boundary of the target and after the last one: 4-byte streaming
    // stores where the target allows them (an ordinary store there would first read the line
    // in), ordinary ones otherwise.
    const bool words = reinterpret_cast<std::uintptr_t>(to) % 4 == 0;
    std::size_t i = 0;
    while (i < bytes && reinterpret_cast<std::uintptr_t>(to + i) % 16 != 0) {
        if (words && i + 4 <= bytes) {
            streamWord(to + i, from + i);
            i += 4;
        } else {
            to[i] = from[i];
            ++i;
        }
    }
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
    for (; words && i + 4 <= bytes; i += 4) {
        streamWord(to + i, from + i);
    }
    std::memcpy(to + i, from + i, bytes - i);
#else
    std::memcpy(to, from, bytes);
#endif
}

void finishStreaming() {
#if defined(__x86_64__)
    _mm_sfence();
#endif
}

void streamRows(const PixelView& source, std::uint8_t* target, std::ptrdiff_t targetStride) {
    if (source.width <= 0 || source.height <= 0) {
        return;
    }
    const std::size_t rowBytes = std::size_t(source.width) * std::size_t(source.bytesPerPixel);
    for (int y = 0; y < source.height; ++y) {
        streamRow(source.row(y), target + y * targetStride, rowBytes);
    }
    finishStreaming();  // the streamed bytes are in memory before anyone else reads the surface
}

}  // namespace ostrel::engine
