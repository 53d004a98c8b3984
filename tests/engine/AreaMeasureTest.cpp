#include <gtest/gtest.h>

#include "AreaMeasure.h"
#include "EngineError.h"
#include "support/TestFrame.h"

using namespace ostrel::engine;

namespace {

// An area covering a whole w x h frame, sized for `bpp` bytes per pixel.
AreaMeasure wholeFrameArea(int w, int h, int bpp) {
    AreaMeasure area;
    area.ResizeArea({0, 0, 1, 1, w, h}, bpp);
    return area;
}

MeasureSettings quietSettings() {
    MeasureSettings s;
    s.showFrame = false;
    return s;
}

// Feeds `first` then `second`, so the second measurement compares against the first.
void measurePair(AreaMeasure& area, const TestFrame& first, const TestFrame& second,
                 const MeasureSettings& s) {
    area.Calculate(first.view(), s);
    area.Calculate(second.view(), s);
}

}  // namespace

TEST(AreaMeasure, BufferSizeOfTheDefaultArea) {
    AreaMeasure area;
    area.ResizeArea({}, 3);
    EXPECT_EQ(area.pixelRect(), (PixelRect{106, 79, 106, 79}));
    EXPECT_EQ(area.LastByte(), 25121);
    EXPECT_TRUE(area.FirstFrame());
}

TEST(AreaMeasure, FullyChangedSmallestAreaReads100AtBothPixelSizes) {
    for (int bpp : {3, 4}) {
        AreaMeasure area = wholeFrameArea(22, 22, bpp);
        EXPECT_EQ(area.LastByte(), 22 * 22 * bpp - 1);
        TestFrame black(22, 22, bpp), white(22, 22, bpp);
        white.fill(255, 255, 255);
        MeasureSettings s = quietSettings();
        s.motionSens = 0;  // only a jump of 255 in every channel counts
        measurePair(area, black, white, s);
        EXPECT_EQ(area.MotionPer(), 100) << bpp;
    }
}

TEST(AreaMeasure, EveryChannelMustChangeByTheLimit) {
    AreaMeasure area = wholeFrameArea(22, 22, 3);
    TestFrame a(22, 22, 3), b(22, 22, 3);
    a.fill(100, 100, 100);
    b.fill(140, 140, 120);  // blue and green by 40, red by 20: below the limit of 33 in red
    MeasureSettings s = quietSettings();
    s.motionSens = 222;
    s.motionThreshold = 0;
    measurePair(area, a, b, s);
    EXPECT_EQ(area.MotionPer(), 0);
    b.fill(140, 140, 133);  // red now changes by exactly 33
    area.Calculate(a.view(), s);
    area.Calculate(b.view(), s);
    EXPECT_EQ(area.MotionPer(), 100);
    EXPECT_TRUE(area.MotionStatus());
}

TEST(AreaMeasure, LimitZeroCountsEverySampleAfterTheFirstFrame) {
    AreaMeasure area = wholeFrameArea(22, 22, 4);
    TestFrame still(22, 22, 4);
    MeasureSettings s = quietSettings();
    s.motionSens = 255;
    area.Calculate(still.view(), s);
    EXPECT_EQ(area.MotionPer(), 0);  // the first frame counts nothing
    area.Calculate(still.view(), s);
    EXPECT_EQ(area.MotionPer(), 100);
}

TEST(AreaMeasure, ColourToleranceAndFirstFrame) {
    AreaMeasure area = wholeFrameArea(22, 22, 3);
    TestFrame red(22, 22, 3);
    red.fill(0, 0, 200);
    MeasureSettings s = quietSettings();
    s.detRed = 200;
    s.colorSens = 0;
    area.Calculate(red.view(), s);
    EXPECT_EQ(area.ColorPer(), 0) << "the first measurement counts nothing";
    area.Calculate(red.view(), s);
    EXPECT_EQ(area.ColorPer(), 100);
    red.fill(0, 0, 199);
    area.Calculate(red.view(), s);
    EXPECT_EQ(area.ColorPer(), 0) << "sens 0 matches only the exact colour";
    s.colorSens = 255;
    s.detRed = 0;
    area.Calculate(red.view(), s);
    EXPECT_EQ(area.ColorPer(), 100) << "sens 255 matches everything";
}

TEST(AreaMeasure, StatusAndChangeFlags) {
    AreaMeasure area = wholeFrameArea(22, 22, 3);
    TestFrame black(22, 22, 3), white(22, 22, 3);
    white.fill(255, 255, 255);
    MeasureSettings s = quietSettings();
    s.motionSens = 0;
    s.colorActive = false;
    s.motionThreshold = 100;
    measurePair(area, black, white, s);
    EXPECT_EQ(area.MotionPer(), 100);
    EXPECT_FALSE(area.MotionStatus()) << "a share equal to the threshold is no detection";
    EXPECT_FALSE(area.MotionChanged);

    s.motionThreshold = 50;
    s.motionEvent = false;
    area.Calculate(black.view(), s);
    EXPECT_TRUE(area.MotionStatus());
    EXPECT_FALSE(area.MotionChanged) << "no flag while the event setting is off";
    s.motionEvent = true;
    area.Calculate(white.view(), s);
    EXPECT_TRUE(area.MotionStatus());
    EXPECT_FALSE(area.MotionChanged) << "an earlier unreported change stays unreported";

    // true -> false -> true between two reads leaves one flag and the status true.
    area.Calculate(white.view(), s);
    EXPECT_FALSE(area.MotionStatus());
    EXPECT_TRUE(area.MotionChanged);
    area.Calculate(black.view(), s);
    EXPECT_TRUE(area.MotionStatus());
    EXPECT_TRUE(area.MotionChanged);

    // The first measurement after a reset counts nothing: the status falls back with a flag.
    area.MotionChanged = false;
    area.setFirstFrame();
    area.Calculate(white.view(), s);
    EXPECT_EQ(area.MotionPer(), 0);
    EXPECT_FALSE(area.MotionStatus());
    EXPECT_TRUE(area.MotionChanged);
    EXPECT_FALSE(area.ColorChanged);
}

TEST(AreaMeasure, BothMeasurementsOffKeepThePreviousFrame) {
    AreaMeasure area = wholeFrameArea(22, 22, 3);
    TestFrame a(22, 22, 3), b(22, 22, 3);
    a.fill(10, 10, 10);
    b.fill(250, 250, 250);
    MeasureSettings s = quietSettings();
    s.motionSens = 200;
    area.Calculate(a.view(), s);
    s.motionActive = s.colorActive = false;
    area.Calculate(b.view(), s);
    EXPECT_EQ(area.MotionPer(), 0);
    EXPECT_EQ(area.ColorPer(), 0);
    EXPECT_EQ(area.PrevBits()[0], 10) << "prev keeps the last frame measured while active";
    EXPECT_EQ(area.displayView().data[0], 250) << "the plain picture is shown";
    s.showPicture = false;
    area.Calculate(b.view(), s);
    EXPECT_EQ(area.displayView().data[0], 0) << "or black";
    s.motionActive = true;
    area.Calculate(b.view(), s);
    EXPECT_EQ(area.MotionPer(), 100) << "the change against the kept frame is seen";
}

TEST(AreaMeasure, SamplesAlternateColumnsOnAPaddedPicture) {
    for (int bpp : {3, 4}) {
        // 26 pixels wide (4k+2), padded rows, the area at (2, 1) of a larger frame.
        TestFrame frame(40, 24, bpp, 8);
        AreaMeasure area;
        area.ResizeArea({2.0 / 40, 1.0 / 24, 26.0 / 40, 22.0 / 24, 40, 24}, bpp);
        ASSERT_EQ(area.pixelRect().width, 26);
        const PixelRect r = area.pixelRect();
        const PixelView piece = frame.view().sub(r.left, r.top, r.width, r.height);
        MeasureSettings s = quietSettings();
        s.motionSens = 255;
        s.showPicture = false;
        s.colorActive = false;
        area.Calculate(piece, s);
        area.Calculate(piece, s);
        const PixelView shown = area.displayView();
        for (int y = 0; y < r.height; ++y) {
            for (int x = 0; x < r.width; ++x) {
                const bool sampled = (y % 2 == 0) ? (x % 4 == 0) : (x % 4 == 2);
                const std::uint8_t* p = shown.row(y) + x * bpp;
                SCOPED_TRACE(testing::Message() << "bpp " << bpp << " at " << x << "," << y);
                EXPECT_EQ(p[0], 0);
                EXPECT_EQ(p[1], sampled ? 255 : 0);
                EXPECT_EQ(p[2], sampled ? 255 : 0);
            }
        }
    }
}

TEST(AreaMeasure, MarksOverThePictureAndTheFrame) {
    AreaMeasure area = wholeFrameArea(22, 22, 3);
    TestFrame grey(22, 22, 3);
    grey.fill(16, 32, 48);
    MeasureSettings s;
    s.motionActive = false;
    s.detBlue = 16;
    s.detGreen = 32;
    s.detRed = 48;
    s.colorSens = 0;
    s.frameColor = 0x0000FF;  // red as 0x00BBGGRR
    area.Calculate(grey.view(), s);
    area.Calculate(grey.view(), s);
    const PixelView shown = area.displayView();
    const std::uint8_t* border = shown.row(0) + 5 * 3;
    EXPECT_EQ(border[0], 0);
    EXPECT_EQ(border[1], 0);
    EXPECT_EQ(border[2], 255);
    const std::uint8_t* sample = shown.row(2) + 4 * 3;  // a matching sample: magenta ORed in
    EXPECT_EQ(sample[0], 255);
    EXPECT_EQ(sample[1], 32);
    EXPECT_EQ(sample[2], 255);
    const std::uint8_t* plain = shown.row(2) + 5 * 3;
    EXPECT_EQ(plain[0], 16);
    EXPECT_EQ(plain[1], 32);
    EXPECT_EQ(plain[2], 48);
}

TEST(AreaMeasure, AverageColour) {
    AreaMeasure area = wholeFrameArea(22, 22, 4);
    EXPECT_EQ(area.CalcColor(), 0) << "zeroed buffers before any measurement";
    TestFrame piece(22, 22, 4);
    piece.fill(30, 20, 10);
    area.Calculate(piece.view(), MeasureSettings{});
    EXPECT_EQ(area.CalcColor(), 1971210);
    EXPECT_EQ(AreaMeasure().CalcColor(), 0) << "no buffers at all";
}

TEST(AreaMeasure, RefusesWhatItCannotHold) {
    AreaMeasure area = wholeFrameArea(22, 22, 3);
    TestFrame small(20, 22, 3);
    EXPECT_THROW(area.Calculate(small.view(), MeasureSettings{}), EngineError);
    TestFrame wrongDepth(22, 22, 4);
    EXPECT_THROW(area.Calculate(wrongDepth.view(), MeasureSettings{}), EngineError);
    EXPECT_THROW(area.ResizeArea({0, 0, 1, 1, 40000, 40000}, 4), EngineError);
    EXPECT_EQ(area.LastByte(), 22 * 22 * 3 - 1) << "a refused resize changes nothing";
}
