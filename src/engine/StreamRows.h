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

// One row of `bytes` bytes the same way. The stores are in memory for other readers only after
// finishStreaming(), which a series of rows calls once at its end.
void streamRow(const std::uint8_t* from, std::uint8_t* to, std::size_t bytes);
// 4 bytes, to a target that is 4-byte aligned.
void streamWord(std::uint8_t* to, const std::uint8_t* from);
void finishStreaming();

}  // namespace ostrel::engine
