#include "MeasureKernel.h"

namespace ostrel::engine {

// Row by row: the packed layout continues across row ends, so each row starts where the last
// one ended and its first sample follows from that.
KernelCounts measureAreaScalar(const PixelView& src, const KernelBuffers& buf,
                               const KernelParams& p) {
    KernelCounts counts;
    const std::size_t rowBytes = std::size_t(src.width) * src.bytesPerPixel;
    for (int y = 0; y < src.height; ++y) {
        const std::size_t begin = std::size_t(y) * rowBytes;
        kernel_detail::measurePacked(src.row(y), buf, begin, begin + rowBytes, src.bytesPerPixel, p,
                                     counts);
    }
    return counts;
}

}  // namespace ostrel::engine
