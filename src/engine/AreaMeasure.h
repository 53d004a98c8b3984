#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "AreaGeometry.h"
#include "MeasureKernel.h"
#include "PictureCompose.h"
#include "PixelView.h"

namespace ostrel::engine {

// The settings of an area that one measurement reads.
struct MeasureSettings {
    std::int32_t motionSens = 222;
    std::int32_t motionThreshold = 100;
    bool motionActive = true;
    bool motionEvent = true;
    std::int32_t colorSens = 96;
    std::int32_t colorThreshold = 100;
    bool colorActive = true;
    bool colorEvent = true;
    std::uint8_t detRed = 0;
    std::uint8_t detGreen = 0;
    std::uint8_t detBlue = 0;
    bool showPicture = true;
    bool showFrame = true;
    std::uint32_t frameColor = 0xFFFFFF;  // 0x00BBGGRR, a plain colour
};

// Shares the ownership of the frame a piece belongs to, so that an area can keep the frame
// instead of a copy of its piece and put its picture together from it when it is shown.
using FrameKeeper = std::shared_ptr<const void>;

// What the kernel needs of `settings` for one measurement; nothing counts on a first frame.
KernelParams kernelParamsFor(const MeasureSettings& settings, bool firstFrame);

// Measures one detection area on the pieces of successive frames: the share of sampled pixels
// that changed since the previous measurement and the share near the target colour, the
// statuses and pending-change flags derived from them, and the picture the area shows.
// Plain C++ over packed buffers of the area's size, no widgets.
class AreaMeasure {
public:
    // Works out the pixel rectangle for `geometry` and re-creates the buffers, zeroed, for
    // `colRes` (3 or 4) bytes per pixel. The next measurement counts nothing.
    // Throws EngineError when the buffer size does not fit 32 bits, bad_alloc when memory runs
    // out; nothing changes then.
    void ResizeArea(const AreaGeometry& geometry, int colRes);

    // Measures `source`, the area's piece (at least PixWidth x PixHeight pixels of colRes bytes;
    // EngineError otherwise). Does nothing before the first ResizeArea. When `frame` keeps the
    // source's bytes, only the samples are read and the picture is put together when it is
    // asked for (pictureParts, displayView); otherwise it is drawn now.
    void Calculate(const PixelView& source, const MeasureSettings& settings,
                   FrameKeeper frame = {});

    // Calculate in steps, so that several areas of one frame can be measured row by row in the
    // frame's order (measureTogether): startCalculate checks the piece (throwing as Calculate
    // does) and sets the measurement up, measureRows measures the piece's rows before `endRow`
    // not measured yet, and finishCalculate measures the rest and brings the results, statuses
    // and picture up to date. The piece must stay readable until finishCalculate; a started
    // measurement that is never finished is dropped by the next start or ResizeArea.
    void startCalculate(const PixelView& source, const MeasureSettings& settings,
                        FrameKeeper frame = {});
    void measureRows(int endRow);
    void finishCalculate();

    // Average colour (0x00BBGGRR) of the piece read by the last measurement; 0 before any.
    std::int32_t CalcColor();

    // The next measurement counts nothing and takes its piece as the previous frame.
    void setFirstFrame() { firstFrame_ = true; }
    // Forgets the results, statuses and pending changes, as for an area that was never measured.
    void resetResults();
    bool FirstFrame() const { return firstFrame_; }

    const PixelRect& pixelRect() const { return rect_; }
    int colRes() const { return colRes_; }
    std::int32_t LastByte() const { return lastByte_; }

    std::int32_t MotionPer() const { return motionPer_; }
    std::int32_t ColorPer() const { return colorPer_; }
    bool MotionStatus() const { return motionStatus_; }
    bool ColorStatus() const { return colorStatus_; }
    std::int32_t lastCalcColor() const { return calcColor_; }

    // Status changes not reported yet: Calculate counts every flip while its event setting is
    // on; whoever reports them takes the count (each change flips the status, so the count and
    // the status now give every status in between). Non-zero is the pending-change flag.
    std::uint32_t MotionChanged = 0;
    std::uint32_t ColorChanged = 0;
    // Keeps at most the last two unreported changes of each kind; the status they end in is the
    // same. For changes that piled up while nobody took them.
    void keepLastChanges();

    // Bytes of the buffers an area of `geometry` has at `colRes` bytes per pixel.
    static std::int64_t bufferBytesFor(const AreaGeometry& geometry, int colRes);
    // Bytes of this area's buffers now.
    std::int64_t bufferBytes() const;

    // The picture the area shows: the marks of the last measurement ORed over the piece (or
    // over black), with the frame drawn on top. Packed rows of PixWidth * colRes bytes. Put
    // together here when the last measurement did not draw it.
    PixelView displayView();
    // What the picture is put together from while the last measurement has not drawn it, so it
    // can be written straight to where it is shown; nothing once it is in displayView()'s
    // buffer. Valid until the next measurement, ResizeArea or CurBits.
    std::optional<PictureParts> pictureParts() const;
    // The piece read by the last measurement, packed. While the picture is shown the piece is
    // only put together here, on request, from the shown picture and PrevBits; while it is not
    // drawn, from the kept frame.
    const std::vector<std::uint8_t>& CurBits();
    // The sampled pixels of the previous measurement, in the kernels' layout: 4 bytes (blue,
    // green, red, 0) for every sample, the packed pixels 0, 4, 8, ...
    const std::vector<std::uint8_t>& PrevBits() const { return prev_; }

private:
    template <typename Visit>
    void forEachOutlinePixel(Visit visit);
    void drawFrame(std::uint32_t color);
    void restorePiece();

    // A measurement between startCalculate and finishCalculate.
    struct Started {
        PixelView piece;
        MeasureSettings settings;
        KernelParams params;
        FrameKeeper frame;
        KernelCursor cursor;
    };
    std::optional<Started> started_;

    PixelRect rect_;
    int colRes_ = 0;
    std::int32_t lastByte_ = -1;
    std::vector<std::uint8_t> cur_;
    std::vector<std::uint8_t> prev_;
    std::vector<std::uint8_t> display_;
    std::vector<std::uint8_t> markBits_;  // of the last measurement that did not draw the picture
    // Where the last piece is: in cur_, in display_ (put together with the bytes the outline
    // covered and, when samplesInPrev_, the samples' own bytes in prev_), or in the kept frame.
    enum class PieceAt { Cur, Display, Frame };
    PieceAt pieceAt_ = PieceAt::Cur;
    bool samplesInPrev_ = false;
    std::vector<std::uint8_t> underOutline_;
    FrameKeeper keptFrame_;
    PixelView keptPiece_;
    // The last measurement did not draw the picture: what to draw it with when it is asked for.
    bool pictureOwed_ = false;
    bool owedShowPicture_ = true;
    bool owedShowFrame_ = true;
    std::uint32_t owedFrameColor_ = 0;
    bool firstFrame_ = true;
    std::int32_t motionPer_ = 0;
    std::int32_t colorPer_ = 0;
    bool motionStatus_ = false;
    bool colorStatus_ = false;
    std::int32_t calcColor_ = 0;
};

// Measures areas of one frame whose measurements were started (startCalculate), row by row
// down the frame and, along each row, from the left (a band of rows that only one area crosses
// in one step), then finishes none of them. Reading the frame as one stream costs about half
// the memory stalls of reading it area by area, each area's rows a stride apart.
void measureTogether(const std::vector<AreaMeasure*>& areas);

}  // namespace ostrel::engine
