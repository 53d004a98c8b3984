#pragma once

#include <cstdint>
#include <vector>

#include "PixelView.h"

// A small picture made inside a test: rows padded to a multiple of 4 bytes plus `extraPad`, as
// QImage and GStreamer lay frames out.
struct TestFrame {
    int width = 0;
    int height = 0;
    int bpp = 3;
    std::ptrdiff_t stride = 0;
    std::vector<std::uint8_t> bytes;

    TestFrame(int w, int h, int bytesPerPixel, int extraPad = 0)
        : width(w), height(h), bpp(bytesPerPixel) {
        stride = (std::ptrdiff_t(w) * bpp + 3) / 4 * 4 + extraPad;
        bytes.assign(std::size_t(stride) * h, 0);
    }
    std::uint8_t* at(int x, int y) { return bytes.data() + y * stride + std::ptrdiff_t(x) * bpp; }
    void set(int x, int y, int b, int g, int r) {
        std::uint8_t* p = at(x, y);
        p[0] = std::uint8_t(b);
        p[1] = std::uint8_t(g);
        p[2] = std::uint8_t(r);
    }
    void fill(int b, int g, int r) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                set(x, y, b, g, r);
            }
        }
    }
    ostrel::engine::PixelView view() const { return {bytes.data(), width, height, stride, bpp}; }
};
