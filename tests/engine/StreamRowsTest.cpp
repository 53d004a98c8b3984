#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "StreamRows.h"

namespace ostrel::engine {

// Rows of every length, to targets at every alignment, land whole and nothing around them is
// touched: the streamed middle, the ordinary head and tail and the padding between rows.
TEST(StreamRows, CopiesEveryRowExactlyAndNothingElse) {
    std::mt19937 rng(5);
    for (int bpp : {3, 4}) {
        for (int width = 0; width <= 40; ++width) {
            const int height = 3;
            const std::ptrdiff_t sourceStride = std::ptrdiff_t(width) * bpp + 5;
            std::vector<std::uint8_t> source(std::size_t(sourceStride) * height + 1);
            for (std::uint8_t& b : source)
                b = std::uint8_t(rng());
            const PixelView view{source.data() + 1, width, height, sourceStride, bpp};
            for (int misalign = 0; misalign < 16; ++misalign) {
                const std::ptrdiff_t targetStride = std::ptrdiff_t(width) * bpp + 19;
                std::vector<std::uint8_t> target(std::size_t(targetStride) * height + 64, 0xA5);
                std::uint8_t* origin =
                    target.data() +
                    (16 - reinterpret_cast<std::uintptr_t>(target.data()) % 16) % 16 + misalign;
                streamRows(view, origin, targetStride);
                for (std::size_t i = 0; i < target.size(); ++i) {
                    const std::ptrdiff_t at = target.data() + i - origin;
                    const std::ptrdiff_t y = at >= 0 ? at / targetStride : -1;
                    const std::ptrdiff_t x = at >= 0 ? at % targetStride : -1;
                    const bool inRow = y >= 0 && y < height && x < std::ptrdiff_t(width) * bpp;
                    const std::uint8_t want = inRow ? view.row(int(y))[x] : 0xA5;
                    ASSERT_EQ(target[i], want) << "width " << width << " bpp " << bpp
                                               << " misalign " << misalign << " byte " << at;
                }
            }
        }
    }
}

}  // namespace ostrel::engine
