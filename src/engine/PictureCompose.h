#pragma once

#include <cstddef>
#include <cstdint>

#include "AreaGeometry.h"
#include "PixelView.h"

namespace ostrel::engine {

// What an area's picture is put together from when its measurement did not write it: the
// piece, the samples' mark bits and the outline. Gives the bytes the measurement would have
// written: the marks over the piece (or over black), the outline on top.
struct PictureParts {
    PixelView piece;                         // the area's piece, 3 or 4 bytes per pixel
    bool showPicture = true;                 // false: the marks over black
    const std::uint8_t* markBits = nullptr;  // the piece's KernelBuffers::markBits; none: no marks
    bool showFrame = true;                   // a one pixel outline around the picture
    std::uint32_t frameColor = 0;            // 0x00BBGGRR
};

// Writes the pixels of `part` (in the piece's pixels, inside it) to `target`: the part's first
// row at `target`, rows `targetStride` bytes apart. `streamed` writes past the cache, for a
// window surface written once per frame; otherwise with ordinary stores.
void composePicture(const PictureParts& parts, const PixelRect& part, std::uint8_t* target,
                    std::ptrdiff_t targetStride, bool streamed);

}  // namespace ostrel::engine
