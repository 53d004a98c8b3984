#pragma once

#include <cstddef>
#include <cstdint>

#include "PixelView.h"

namespace ostrel::engine {

// Copies the rows of `source` to `target`, rows `targetStride` bytes apart, with stores that go
// past the cache. For a live picture written into a window surface once per frame: by the next
// frame the video's own data has pushed the surface out of the cache, so ordinary stores would
// first read every line of the old surface back in only to overwrite it.
void streamRows(const PixelView& source, std::uint8_t* target, std::ptrdiff_t targetStride);

}  // namespace ostrel::engine
