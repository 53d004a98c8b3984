#include <algorithm>

#include "MeasureKernel.h"

namespace ostrel::engine {

// Row by row: the packed layout continues across row ends, so each row starts where the last
// one ended and its first sample follows from that.
void measureAreaRowsScalar(const PixelView& src, const KernelBuffers& buf, const KernelParams& p,
                           int endRow, KernelCursor& cursor) {
    const std::size_t rowBytes = std::size_t(src.width) * src.bytesPerPixel;
    if (rowBytes == 0) {
        return;
    }
    const std::size_t stop = rowBytes * std::size_t(std::clamp(endRow, 0, src.height));
    for (std::size_t at = cursor.at; at < stop;) {
        const int y = int(at / rowBytes);
        const std::size_t rowBegin = rowBytes * std::size_t(y);
        kernel_detail::measurePacked(src.row(y) + (at - rowBegin), buf, at, rowBegin + rowBytes,
                                     src.bytesPerPixel, p, cursor.counts);
        at = cursor.at = rowBegin + rowBytes;
    }
}

}  // namespace ostrel::engine
