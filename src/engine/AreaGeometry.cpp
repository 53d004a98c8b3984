#include "AreaGeometry.h"

#include <algorithm>

#include "Rounding.h"

namespace ostrel::engine {

namespace {

// One axis of the fit: start and extent from the fractions, kept inside `frame` pixels.
// The extent is fitted against the start before a negative start is moved to 0.
struct Span {
    std::int64_t start;
    std::int64_t extent;
};

Span fitTopHeight(double top, double height, std::int64_t frame) {
    Span s{std::min<std::int64_t>(nearest(frame * top), frame - kMinAreaPixels),
           std::max<std::int64_t>(nearest(frame * height), kMinAreaPixels)};
    if (s.start + s.extent > frame) {
        s.extent = frame - s.start;
    }
    s.start = std::max<std::int64_t>(s.start, 0);
    return s;
}

Span fitLeftWidth(double left, double width, std::int64_t frame) {
    Span s{std::min<std::int64_t>(nearest(frame * left), frame - kMinAreaPixels),
           std::max<std::int64_t>(nearest(frame * width), kMinAreaPixels)};
    s.extent = (s.extent / 4) * 4 + 2;
    // Shrink in steps of 4 until the right edge is inside the frame (keeps the 4k+2 form).
    if (const std::int64_t excess = s.start + s.extent - frame; excess > 0) {
        s.extent -= (excess + 3) / 4 * 4;
    }
    s.start = std::max<std::int64_t>(s.start, 0);
    return s;
}

}  // namespace

PixelRect fitPixelRect(const AreaGeometry& g) {
    const Span v = fitTopHeight(g.top, g.height, g.videoHeight);
    const Span h = fitLeftWidth(g.left, g.width, g.videoWidth);
    return {static_cast<std::int32_t>(h.start), static_cast<std::int32_t>(v.start),
            static_cast<std::int32_t>(h.extent), static_cast<std::int32_t>(v.extent)};
}

}  // namespace ostrel::engine
