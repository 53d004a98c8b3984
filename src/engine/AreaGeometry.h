#pragma once

#include <cstdint>

namespace ostrel::engine {

// An area's rectangle as fractions of the video frame, and the frame's size in pixels.
struct AreaGeometry {
    double left = 0.33;
    double top = 0.33;
    double width = 0.33;
    double height = 0.33;
    std::int32_t videoWidth = 320;
    std::int32_t videoHeight = 240;
};

// An area's rectangle in whole video pixels.
struct PixelRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool operator==(const PixelRect&) const = default;
};

// The smallest width and height of an area in pixels.
inline constexpr std::int32_t kMinAreaPixels = 22;

// Fits the fractional rectangle to the frame: at least 22 x 22 pixels, inside the frame
// whenever the frame is at least 22 x 22, and a width of the form 4k+2.
PixelRect fitPixelRect(const AreaGeometry& geometry);

}  // namespace ostrel::engine
