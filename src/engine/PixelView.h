#pragma once

#include <cstddef>
#include <cstdint>

namespace ostrel::engine {

// A non-owning look at a block of pixels: rows of `width` pixels, `bytesPerPixel` bytes each
// (3: B, G, R; 4: B, G, R, unused), successive rows `stride` bytes apart.
struct PixelView {
    const std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;
    int bytesPerPixel = 0;

    const std::uint8_t* row(int y) const { return data + y * stride; }
    // The same pixels from (x, y) on, `w` x `h` of them.
    PixelView sub(int x, int y, int w, int h) const {
        return {data + y * stride + std::ptrdiff_t(x) * bytesPerPixel, w, h, stride, bytesPerPixel};
    }
};

}  // namespace ostrel::engine
