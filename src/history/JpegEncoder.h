#pragma once

#include <functional>

#include "PixelView.h"

class QIODevice;

namespace ostrel::history {

// Rows y .. y + count - 1 of the picture, 4 bytes per pixel as QImage::Format_RGB32 lays them
// out. Asked for the rows in order, a band of at most kJpegBandRows rows at a time; the band
// must stay readable until the next call.
using RowSource = std::function<engine::PixelView(int y, int count)>;
inline constexpr int kJpegBandRows = 16;

// Writes a width × height picture to `out` as a baseline JPEG (4:2:0, the standard tables scaled
// to `quality`, 1 to 100), compressed straight from its 32-bit pixels: no whole copy of the
// picture is made. HistoryError when it cannot be compressed or written.
void writeJpeg(QIODevice& out, int width, int height, int quality, const RowSource& rows);

}  // namespace ostrel::history
