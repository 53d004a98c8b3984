#include "PictureCompose.h"

#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "StreamRows.h"

namespace ostrel::engine {

namespace {

// What a sample's marks OR into its pixel: green and red when it changed, blue and red when it
// matched; index bit 0 is the change, bit 1 the match.
constexpr std::uint32_t kMarkWords[4] = {0, 0x00FFFF00, 0x00FF00FF, 0x00FFFFFF};

// The samples (every fourth pixel of the packed layout) among the pixels [begin, end) of the
// packed piece, and their mark bits, one byte of the two kinds of bits at a time.
class RowMarks {
public:
    RowMarks(const std::uint8_t* markBits, std::size_t begin, std::size_t end)
        : bits_(markBits), first_((begin + 3) / 4), end_((end + 3) / 4), begin_(begin) {}

    bool any() const {
        bool found = false;
        forEachByte([&](std::size_t, unsigned motion, unsigned color) {
            found = found || (motion | color) != 0;
        });
        return found;
    }

    // ORs the samples' marks into `row`, the pixels from `begin` on, `bpp` bytes each.
    void apply(std::uint8_t* row, int bpp) const {
        forEachByte([&](std::size_t sample0, unsigned motion, unsigned color) {
            for (unsigned both = motion | color; both != 0; both &= both - 1) {
                const int j = __builtin_ctz(both);
                const std::uint32_t word = kMarkWords[(motion >> j & 1) | (color >> j & 1) << 1];
                std::uint8_t* pixel = row + (4 * (sample0 + j) - begin_) * std::size_t(bpp);
                for (int c = 0; c < 3; ++c) {
                    pixel[c] = std::uint8_t(pixel[c] | word >> (8 * c));
                }
            }
        });
    }

private:
    // Calls visit(first sample of the byte, motion bits, colour bits) with the bits of samples
    // outside the range cleared.
    template <typename Visit>
    void forEachByte(Visit visit) const {
        for (std::size_t byte = first_ / 8; byte * 8 < end_; ++byte) {
            const std::size_t sample0 = byte * 8;
            unsigned inRange = 0xFF;
            if (sample0 < first_) {
                inRange &= 0xFFu << (first_ - sample0);
            }
            if (sample0 + 8 > end_) {
                inRange &= 0xFFu >> (sample0 + 8 - end_);
            }
            visit(sample0, bits_[2 * byte] & inRange, bits_[2 * byte + 1] & inRange);
        }
    }

    const std::uint8_t* bits_;
    std::size_t first_;  // the first sample in the range
    std::size_t end_;    // one past the last
    std::size_t begin_;  // the range's first pixel
};

// The index into kMarkWords of packed pixel `pixel`: 0 unless it is a sample.
unsigned markOf(const std::uint8_t* markBits, std::size_t pixel) {
    if (pixel % 4 != 0) {
        return 0;
    }
    const std::size_t sample = pixel / 4;
    const std::uint8_t* bits = markBits + sample / 8 * 2;
    return unsigned(bits[0] >> (sample % 8) & 1) | unsigned(bits[1] >> (sample % 8) & 1) << 1;
}

#if defined(__x86_64__)
// kMarkWords placed in element `lane` of a vector of 4 pixels: kLaneMarks[lane][mark].
struct LaneMarks {
    alignas(16) std::uint32_t words[4][4][4] = {};
    constexpr LaneMarks() {
        for (int lane = 0; lane < 4; ++lane) {
            for (int mark = 0; mark < 4; ++mark) {
                words[lane][mark][lane] = kMarkWords[mark];
            }
        }
    }
};
constexpr LaneMarks kLaneMarks{};

// The mark words of 8 samples from one byte of each kind of bit: samples 0..3 in `low`,
// 4..7 in `high`, one 32-bit element each.
struct GroupMarks {
    __m128i low, high;
};

inline GroupMarks groupMarks(unsigned motion, unsigned color) {
    const __m128i lowBits = _mm_setr_epi32(1, 2, 4, 8);
    const __m128i highBits = _mm_setr_epi32(16, 32, 64, 128);
    const __m128i motionWord = _mm_set1_epi32(std::int32_t(kMarkWords[1]));
    const __m128i colorWord = _mm_set1_epi32(std::int32_t(kMarkWords[2]));
    const __m128i m = _mm_set1_epi32(std::int32_t(motion));
    const __m128i c = _mm_set1_epi32(std::int32_t(color));
    auto words = [&](__m128i bits) {
        const __m128i moved = _mm_cmpeq_epi32(_mm_and_si128(m, bits), bits);
        const __m128i matched = _mm_cmpeq_epi32(_mm_and_si128(c, bits), bits);
        return _mm_or_si128(_mm_and_si128(moved, motionWord), _mm_and_si128(matched, colorWord));
    };
    return {words(lowBits), words(highBits)};
}

// Vector `J` of a group: its sample's mark word, taken from element J % 4 of `words` and kept
// in the sample's lane only, ORed into the 4 pixels.
template <int J>
inline void streamMarkedVector(const std::uint8_t* from, std::uint8_t* to, __m128i words,
                               __m128i lane) {
    const __m128i word = _mm_and_si128(_mm_shuffle_epi32(words, (J % 4) * 0x55), lane);
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16 * J));
    _mm_stream_si128(reinterpret_cast<__m128i*>(to + 16 * J), _mm_or_si128(v, word));
}

// Streams `pixels` pixels of 4 bytes from `from` to `to` with the marks ORed in; `first` is the
// packed index of the first pixel. Every 4 pixels hold one sample, at the same place in each
// vector of a row, so each vector takes one mark.
void streamMarkedRow(const std::uint8_t* from, std::uint8_t* to, std::size_t pixels,
                     std::size_t first, const std::uint8_t* markBits) {
    const bool words = reinterpret_cast<std::uintptr_t>(to) % 4 == 0;
    auto onePixel = [&](std::size_t x) {
        std::uint32_t pixel;
        std::memcpy(&pixel, from + 4 * x, 4);
        pixel |= kMarkWords[markOf(markBits, first + x)];
        if (words) {
            _mm_stream_si32(reinterpret_cast<int*>(to + 4 * x), int(pixel));
        } else {
            std::memcpy(to + 4 * x, &pixel, 4);
        }
    };
    std::size_t x = 0;
    for (; x < pixels && reinterpret_cast<std::uintptr_t>(to + 4 * x) % 16 != 0; ++x) {
        onePixel(x);
    }
    const std::size_t lane = (4 - (first + x) % 4) % 4;
    // Every bit a mark can set, in the samples' lane only.
    const __m128i laneMask =
        _mm_load_si128(reinterpret_cast<const __m128i*>(kLaneMarks.words[lane][3]));
    // Vectors of 4 pixels hold successive samples: up to 8 of them share one byte of each kind
    // of bit. A whole byte's 8 vectors take their marks together, without a branch for each;
    // where both bytes are 0 they are copied as they are.
    std::size_t sample = (first + x + lane) / 4;
    while (x + 4 <= pixels) {
        const std::uint8_t* bits = markBits + sample / 8 * 2;
        if (sample % 8 == 0 && x + 32 <= pixels) {
            const std::uint8_t* f = from + 4 * x;
            std::uint8_t* t = to + 4 * x;
            if ((bits[0] | bits[1]) == 0) {
                for (int j = 0; j < 8; ++j) {
                    _mm_stream_si128(reinterpret_cast<__m128i*>(t + 16 * j),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(f + 16 * j)));
                }
            } else {
                const GroupMarks g = groupMarks(bits[0], bits[1]);
                streamMarkedVector<0>(f, t, g.low, laneMask);
                streamMarkedVector<1>(f, t, g.low, laneMask);
                streamMarkedVector<2>(f, t, g.low, laneMask);
                streamMarkedVector<3>(f, t, g.low, laneMask);
                streamMarkedVector<4>(f, t, g.high, laneMask);
                streamMarkedVector<5>(f, t, g.high, laneMask);
                streamMarkedVector<6>(f, t, g.high, laneMask);
                streamMarkedVector<7>(f, t, g.high, laneMask);
            }
            x += 32;
            sample += 8;
            continue;
        }
        unsigned motion = bits[0] >> (sample % 8);
        unsigned color = bits[1] >> (sample % 8);
        const std::size_t vectors = std::min<std::size_t>(8 - sample % 8, (pixels - x) / 4);
        for (std::size_t end = x + 4 * vectors; x < end; x += 4) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 4 * x));
            if ((motion | color) != 0) {
                const unsigned mark = (motion & 1) | (color & 1) << 1;
                v = _mm_or_si128(
                    v,
                    _mm_load_si128(reinterpret_cast<const __m128i*>(kLaneMarks.words[lane][mark])));
                motion >>= 1;
                color >>= 1;
            }
            _mm_stream_si128(reinterpret_cast<__m128i*>(to + 4 * x), v);
        }
        sample += vectors;
    }
    for (; x < pixels; ++x) {
        onePixel(x);
    }
}
#endif

void writeRow(const std::uint8_t* from, std::uint8_t* to, std::size_t bytes, bool streamed) {
    if (streamed) {
        streamRow(from, to, bytes);
    } else {
        std::memcpy(to, from, bytes);
    }
}

// A whole pixel of the outline: the outline leaves a fourth byte as the piece has it.
void writeOutlinePixel(const std::uint8_t* from, std::uint8_t* to, int bpp,
                       const std::uint8_t* outline, bool streamed) {
    std::uint8_t pixel[4];
    std::memcpy(pixel, from, std::size_t(bpp));
    std::memcpy(pixel, outline, 3);
    if (streamed && bpp == 4 && reinterpret_cast<std::uintptr_t>(to) % 4 == 0) {
        streamWord(to, pixel);
    } else {
        std::memcpy(to, pixel, std::size_t(bpp));
    }
}

}  // namespace

void composePicture(const PictureParts& parts, const PixelRect& part, std::uint8_t* target,
                    std::ptrdiff_t targetStride, bool streamed) {
    const PixelView& piece = parts.piece;
    const int bpp = piece.bytesPerPixel;
    if (part.width <= 0 || part.height <= 0) {
        return;
    }
    const std::size_t bytes = std::size_t(part.width) * std::size_t(bpp);
    const std::uint8_t outline[3] = {std::uint8_t(parts.frameColor >> 16),
                                     std::uint8_t(parts.frameColor >> 8),
                                     std::uint8_t(parts.frameColor)};
    const bool leftEdge = parts.showFrame && part.left == 0;
    const bool rightEdge = parts.showFrame && part.left + part.width == piece.width;
    const std::size_t leftBytes = leftEdge ? std::size_t(bpp) : 0;
    const std::size_t rightBytes = rightEdge ? std::size_t(bpp) : 0;
    std::vector<std::uint8_t> scratch;  // a row that is more than a copy of the piece's
    for (int y = part.top; y < part.top + part.height; ++y) {
        std::uint8_t* to = target + (y - part.top) * targetStride;
        const std::uint8_t* from = piece.row(y) + std::size_t(part.left) * std::size_t(bpp);
        const std::size_t begin =
            std::size_t(y) * std::size_t(piece.width) + std::size_t(part.left);
        const RowMarks marks(parts.markBits, begin, begin + std::size_t(part.width));
        const bool outlineRow = parts.showFrame && (y == 0 || y == piece.height - 1);
        // Most rows are the piece between the outline's two pixels, marked or not.
        if (parts.showPicture && !outlineRow && bytes > leftBytes + rightBytes) {
            const std::size_t middle = bytes - leftBytes - rightBytes;
            bool written = false;
            if (parts.markBits == nullptr || !marks.any()) {
                writeRow(from + leftBytes, to + leftBytes, middle, streamed);
                written = true;
            }
#if defined(__x86_64__)
            if (!written && streamed && bpp == 4) {
                streamMarkedRow(from + leftBytes, to + leftBytes, middle / 4, begin + leftBytes / 4,
                                parts.markBits);
                written = true;
            }
#endif
            if (written) {
                if (leftEdge) {
                    writeOutlinePixel(from, to, bpp, outline, streamed);
                }
                if (rightEdge) {
                    writeOutlinePixel(from + bytes - rightBytes, to + bytes - rightBytes, bpp,
                                      outline, streamed);
                }
                continue;
            }
        }
        scratch.resize(bytes);
        if (parts.showPicture) {
            std::memcpy(scratch.data(), from, bytes);
        } else {
            std::memset(scratch.data(), 0, bytes);
        }
        if (parts.markBits != nullptr) {
            marks.apply(scratch.data(), bpp);
        }
        if (outlineRow) {
            for (std::size_t at = 0; at < bytes; at += std::size_t(bpp)) {
                std::memcpy(scratch.data() + at, outline, 3);
            }
        } else {
            if (leftEdge) {
                std::memcpy(scratch.data(), outline, 3);
            }
            if (rightEdge) {
                std::memcpy(scratch.data() + bytes - std::size_t(bpp), outline, 3);
            }
        }
        writeRow(scratch.data(), to, bytes, streamed);
    }
    if (streamed) {
        finishStreaming();
    }
}

}  // namespace ostrel::engine
