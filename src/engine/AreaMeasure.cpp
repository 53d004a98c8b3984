#include "AreaMeasure.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "EngineError.h"
#include "MeasureKernel.h"
#include "PictureCompose.h"
#include "Rounding.h"

namespace ostrel::engine {

namespace {

// A status follows its percentage; a flip while reporting is on is one more pending change.
void updateStatus(std::int32_t percent, std::int32_t threshold, bool reportChanges, bool& status,
                  std::uint32_t& changes) {
    const bool detected = percent > threshold;
    if (detected != status && reportChanges) {
        changes = changes == std::numeric_limits<std::uint32_t>::max() ? changes - 1 : changes + 1;
    }
    status = detected;
}

// At most two, with the same parity: an odd count ends in a change of the status, an even one
// in a change and back.
void keepLast(std::uint32_t& changes) {
    if (changes > 2) {
        changes = 2 - changes % 2;
    }
}

// Share of samples as a whole percentage. There is one sample per 4 pixels, so the byte count
// times 1 / (4 * colRes) is the sample count: a fully changed area reads 100 at either pixel size.
std::int32_t percentOf(std::int64_t count, std::int32_t lastByte, int colRes) {
    return nearest(double(count) / lastByte * 4 * colRes * 100);
}

}  // namespace

KernelParams kernelParamsFor(const MeasureSettings& s, bool firstFrame) {
    KernelParams params;
    params.motionLimit = 255 - s.motionSens;
    params.colorSens = s.colorSens;
    params.detRed = s.detRed;
    params.detGreen = s.detGreen;
    params.detBlue = s.detBlue;
    params.countMotion = s.motionActive && !firstFrame;
    params.countColor = s.colorActive && !firstFrame;
    params.visitSamples = s.motionActive || s.colorActive;
    params.showPicture = s.showPicture;
    return params;
}

std::int64_t AreaMeasure::bufferBytesFor(const AreaGeometry& geometry, int colRes) {
    const PixelRect rect = fitPixelRect(geometry);
    const std::int64_t pixels = std::int64_t(rect.width) * rect.height;
    return 2 * pixels * colRes + std::int64_t(prevBytes(std::size_t(pixels))) +
           std::int64_t(markBitsBytes(std::size_t(pixels)));
}

std::int64_t AreaMeasure::bufferBytes() const {
    return std::int64_t(cur_.size() + prev_.size() + display_.size() + markBits_.size());
}

void AreaMeasure::keepLastChanges() {
    keepLast(MotionChanged);
    keepLast(ColorChanged);
}

void AreaMeasure::ResizeArea(const AreaGeometry& geometry, int colRes) {
    const PixelRect rect = fitPixelRect(geometry);
    const std::int64_t bytes = std::int64_t(rect.width) * rect.height * colRes;
    if (bytes - 1 > std::numeric_limits<std::int32_t>::max()) {
        throw EngineError("area buffer of " + std::to_string(bytes) + " bytes is too large");
    }
    // All buffers first: when memory runs out, the area keeps its old size and buffers whole.
    std::vector<std::uint8_t> cur(std::size_t(bytes), 0);
    std::vector<std::uint8_t> prev(prevBytes(std::size_t(rect.width) * rect.height), 0);
    std::vector<std::uint8_t> display(std::size_t(bytes), 0);
    std::vector<std::uint8_t> markBits(markBitsBytes(std::size_t(rect.width) * rect.height), 0);
    rect_ = rect;
    colRes_ = colRes;
    lastByte_ = static_cast<std::int32_t>(bytes - 1);
    cur_.swap(cur);
    prev_.swap(prev);
    display_.swap(display);
    markBits_.swap(markBits);
    pieceAt_ = PieceAt::Cur;
    keptFrame_.reset();
    keptPiece_ = {};
    pictureOwed_ = false;
    started_.reset();
    firstFrame_ = true;
}

void AreaMeasure::Calculate(const PixelView& source, const MeasureSettings& s, FrameKeeper frame) {
    startCalculate(source, s, std::move(frame));
    finishCalculate();
}

void AreaMeasure::startCalculate(const PixelView& source, const MeasureSettings& s,
                                 FrameKeeper frame) {
    started_.reset();
    if (lastByte_ < 0) {
        return;
    }
    if (source.bytesPerPixel != colRes_ || source.width < rect_.width ||
        source.height < rect_.height || source.data == nullptr) {
        throw EngineError("the picture handed to the area does not match its size");
    }
    KernelParams params = kernelParamsFor(s, firstFrame_);
    // With the frame kept, the picture is put together when it is asked for, from the frame and
    // the mark bits; without it, cur_ or display_ must hold the piece now.
    params.writePicture = !frame;
    started_.emplace(Started{source.sub(0, 0, rect_.width, rect_.height), s, params,
                             std::move(frame), KernelCursor{}});
}

void AreaMeasure::measureRows(int endRow) {
    if (started_) {
        measureAreaRows(started_->piece,
                        {cur_.data(), prev_.data(), display_.data(), markBits_.data()},
                        started_->params, endRow, started_->cursor);
    }
}

void AreaMeasure::finishCalculate() {
    if (!started_) {
        return;
    }
    measureRows(rect_.height);
    Started done = std::move(*started_);
    started_.reset();
    const MeasureSettings& s = done.settings;
    firstFrame_ = false;
    samplesInPrev_ = done.params.visitSamples;
    motionPer_ = percentOf(done.cursor.counts.motion, lastByte_, colRes_);
    colorPer_ = percentOf(done.cursor.counts.color, lastByte_, colRes_);
    underOutline_.clear();
    pictureOwed_ = !done.params.writePicture;
    if (pictureOwed_) {
        pieceAt_ = PieceAt::Frame;
        keptFrame_ = std::move(done.frame);
        keptPiece_ = done.piece;
        owedShowPicture_ = s.showPicture;
        owedShowFrame_ = s.showFrame;
        owedFrameColor_ = s.frameColor;
    } else {
        pieceAt_ = s.showPicture ? PieceAt::Display : PieceAt::Cur;
        keptFrame_.reset();
        keptPiece_ = {};
        if (s.showFrame) {
            drawFrame(s.frameColor);
        }
    }
    updateStatus(motionPer_, s.motionThreshold, s.motionEvent, motionStatus_, MotionChanged);
    updateStatus(colorPer_, s.colorThreshold, s.colorEvent, colorStatus_, ColorChanged);
}

void AreaMeasure::resetResults() {
    motionPer_ = colorPer_ = 0;
    motionStatus_ = colorStatus_ = false;
    MotionChanged = ColorChanged = 0;
}

std::int32_t AreaMeasure::CalcColor() {
    if (lastByte_ < 0) {
        return calcColor_ = 0;
    }
    const std::vector<std::uint8_t>& piece = CurBits();
    std::int64_t sum[3] = {0, 0, 0};
    for (std::size_t i = 0; i + 2 < piece.size(); i += std::size_t(colRes_)) {
        sum[0] += piece[i];
        sum[1] += piece[i + 1];
        sum[2] += piece[i + 2];
    }
    const double bytes = double(lastByte_) + 1;
    const std::int32_t blue = nearest(double(sum[0]) * colRes_ / bytes);
    const std::int32_t green = nearest(double(sum[1]) * colRes_ / bytes);
    const std::int32_t red = nearest(double(sum[2]) * colRes_ / bytes);
    return calcColor_ = red + 256 * green + 65536 * blue;
}

std::optional<PictureParts> AreaMeasure::pictureParts() const {
    if (!pictureOwed_) {
        return std::nullopt;
    }
    const PixelView piece = pieceAt_ == PieceAt::Frame
                                ? keptPiece_
                                : PixelView{cur_.data(), rect_.width, rect_.height,
                                            std::ptrdiff_t(rect_.width) * colRes_, colRes_};
    return PictureParts{piece, owedShowPicture_, samplesInPrev_ ? markBits_.data() : nullptr,
                        owedShowFrame_, owedFrameColor_};
}

PixelView AreaMeasure::displayView() {
    if (const std::optional<PictureParts> parts = pictureParts()) {
        composePicture(*parts, {0, 0, rect_.width, rect_.height}, display_.data(),
                       std::ptrdiff_t(rect_.width) * colRes_, false);
        pictureOwed_ = false;
    }
    return {display_.data(), rect_.width, rect_.height, std::ptrdiff_t(rect_.width) * colRes_,
            colRes_};
}

const std::vector<std::uint8_t>& AreaMeasure::CurBits() {
    if (pieceAt_ == PieceAt::Display) {
        restorePiece();
    } else if (pieceAt_ == PieceAt::Frame) {
        kernel_detail::gatherPacked(keptPiece_, 0, cur_.size(), cur_.data());
        keptFrame_.reset();
        keptPiece_ = {};
        pieceAt_ = PieceAt::Cur;
    }
    return cur_;
}

// The shown picture is the piece everywhere but on the samples' marks, whose bytes prev_ holds,
// and under the outline, whose bytes were kept before it was drawn.
void AreaMeasure::restorePiece() {
    std::memcpy(cur_.data(), display_.data(), cur_.size());
    if (!underOutline_.empty()) {
        const std::uint8_t* kept = underOutline_.data();
        forEachOutlinePixel([&](std::size_t at) {
            std::memcpy(cur_.data() + at, kept, 3);
            kept += 3;
        });
    }
    if (samplesInPrev_) {
        const std::size_t step = 4 * std::size_t(colRes_);
        for (std::size_t i = 0, k = 0; i < cur_.size(); i += step, k += 4) {
            std::memcpy(cur_.data() + i, prev_.data() + k, 3);
        }
    }
    pieceAt_ = PieceAt::Cur;
}

// Byte offsets of the outline's pixels, from (0, 0) to (PixWidth - 1, PixHeight - 1): the top
// and bottom rows, then the left and right columns (corners come twice).
template <typename Visit>
void AreaMeasure::forEachOutlinePixel(Visit visit) {
    const std::size_t rowBytes = std::size_t(rect_.width) * colRes_;
    auto at = [&](int x, int y) { return std::size_t(y) * rowBytes + std::size_t(x) * colRes_; };
    for (int x = 0; x < rect_.width; ++x) {
        visit(at(x, 0));
        visit(at(x, rect_.height - 1));
    }
    for (int y = 0; y < rect_.height; ++y) {
        visit(at(0, y));
        visit(at(rect_.width - 1, y));
    }
}

// One pixel wide, in `color`. Keeps the bytes it covers while they are the only copy of the piece.
void AreaMeasure::drawFrame(std::uint32_t color) {
    const std::uint8_t bgr[3] = {std::uint8_t(color >> 16), std::uint8_t(color >> 8),
                                 std::uint8_t(color)};
    if (pieceAt_ == PieceAt::Display) {
        underOutline_.resize(3 * 2 * (std::size_t(rect_.width) + std::size_t(rect_.height)));
        std::uint8_t* kept = underOutline_.data();
        forEachOutlinePixel([&](std::size_t at) {
            std::memcpy(kept, display_.data() + at, 3);
            kept += 3;
        });
    }
    forEachOutlinePixel([&](std::size_t at) { std::memcpy(display_.data() + at, bgr, 3); });
}

void measureTogether(const std::vector<AreaMeasure*>& areas) {
    std::vector<AreaMeasure*> byLeft(areas);
    std::stable_sort(byLeft.begin(), byLeft.end(), [](const AreaMeasure* a, const AreaMeasure* b) {
        return a->pixelRect().left < b->pixelRect().left;
    });
    // Bands of rows crossed by the same areas, between the rows where an area starts or ends.
    std::vector<int> edges;
    for (const AreaMeasure* area : byLeft) {
        edges.push_back(area->pixelRect().top);
        edges.push_back(area->pixelRect().top + area->pixelRect().height);
    }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    std::vector<AreaMeasure*> crossing;
    for (std::size_t i = 0; i + 1 < edges.size(); ++i) {
        const int from = edges[i];
        const int to = edges[i + 1];
        crossing.clear();
        for (AreaMeasure* area : byLeft) {
            const PixelRect& r = area->pixelRect();
            if (r.top <= from && from < r.top + r.height) {
                crossing.push_back(area);
            }
        }
        if (crossing.size() == 1) {  // nothing to take turns with: the whole band in one step
            crossing.front()->measureRows(to - crossing.front()->pixelRect().top);
            continue;
        }
        for (int y = from; y < to; ++y) {
            for (AreaMeasure* area : crossing) {
                area->measureRows(y - area->pixelRect().top + 1);
            }
        }
    }
}

}  // namespace ostrel::engine
