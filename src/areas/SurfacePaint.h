#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "PixelView.h"

class QImage;
class QPainter;
class QRect;
class QSize;

namespace ostrel::areas {

// Paints `picture` (4 bytes per pixel, laid out as QImage::Format_RGB32) 1:1 at the top-left of
// the widget being painted by writing its rows straight into the window surface, past the
// cache. The surface gets exactly the bytes drawImage would copy there, within the region being
// painted. Only where the painter draws on a plain image surface of 32-bit pixels without
// scaling, clipping of its own or blending; otherwise nothing is painted and it returns false,
// and the caller draws the picture with the painter.
bool paintStraight(QPainter& painter, const engine::PixelView& picture);
// The same for an image; only a Format_RGB32 one is painted.
bool paintStraight(QPainter& painter, const QImage& image);

// The same for a picture of `size` that `write` puts into the surface itself, a part at a time:
// the part (in the picture's pixels), where its first pixel goes and the surface's stride.
using SurfaceWriter =
    std::function<void(const QRect& part, std::uint8_t* target, std::ptrdiff_t stride)>;
bool paintStraight(QPainter& painter, const QSize& size, const SurfaceWriter& write);

}  // namespace ostrel::areas
