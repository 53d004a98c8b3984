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

MeasureSettings quietSettings(int motionSens) {
    MeasureSettings s;
    s.showFrame = false;
    s.motionSens = motionSens;
    return s;
}

// A 22 x 22 frame of one colour.
TestFrame plain(int b, int g, int r, int bpp = 3) {
    TestFrame frame(22, 22, bpp);
    frame.fill(b, g, r);
    return frame;
}

}  // namespace

TEST(AreaMeasure, MotionLimitsAtBothPixelSizesAndTheFirstFrameCountsNothing) {
    for (int bpp : {3, 4}) {
        AreaMeasure area = wholeFrameArea(22, 22, bpp);
        EXPECT_EQ(area.LastByte(), 22 * 22 * bpp - 1);
        const TestFrame black = plain(0, 0, 0, bpp), white = plain(255, 255, 255, bpp);
        MeasureSettings s = quietSettings(0);  // only a jump of 255 in every channel counts
        area.Calculate(black.view(), s);
        EXPECT_EQ(area.MotionPer(), 0) << "the first frame counts nothing";
        area.Calculate(white.view(), s);
        EXPECT_EQ(area.MotionPer(), 100) << bpp;
        s.motionSens = 255;  // limit 0: every sample counts, even unchanged
        area.Calculate(white.view(), s);
        EXPECT_EQ(area.MotionPer(), 100) << bpp;
    }
}

TEST(AreaMeasure, EveryChannelMustChangeByTheLimit) {
    AreaMeasure area = wholeFrameArea(22, 22, 3);
    MeasureSettings s = quietSettings(222);
    s.motionThreshold = 0;
    const TestFrame a = plain(100, 100, 100);
    area.Calculate(a.view(), s);
    area.Calculate(plain(140, 140, 120).view(), s);  // red by 20: below the limit of 33
    EXPECT_EQ(area.MotionPer(), 0);
    area.Calculate(a.view(), s);
    area.Calculate(plain(140, 140, 133).view(), s);  // red now changes by exactly 33
    EXPECT_EQ(area.MotionPer(), 100);
    EXPECT_TRUE(area.MotionStatus());
}

TEST(AreaMeasure, ColourTolerance) {
    AreaMeasure area = wholeFrameArea(22, 22, 3);
    MeasureSettings s = quietSettings(222);
    s.detRed = 200;
    s.colorSens = 0;
    area.Calculate(plain(0, 0, 200).view(), s);
    EXPECT_EQ(area.ColorPer(), 0) << "the first measurement counts nothing";
    area.Calculate(plain(0, 0, 200).view(), s);
    EXPECT_EQ(area.ColorPer(), 100);
    area.Calculate(plain(0, 0, 199).view(), s);
    EXPECT_EQ(area.ColorPer(), 0) << "sens 0 matches only the exact colour";
    s.colorSens = 255;
    s.detRed = 0;
    area.Calculate(plain(0, 0, 199).view(), s);
    EXPECT_EQ(area.ColorPer(), 100) << "sens 255 matches everything";
}

TEST(AreaMeasure, StatusAndChangeFlags) {
    AreaMeasure area = wholeFrameArea(22, 22, 3);
    const TestFrame black = plain(0, 0, 0), white = plain(255, 255, 255);
    MeasureSettings s = quietSettings(0);
    s.colorActive = false;
    s.motionThreshold = 100;
    area.Calculate(black.view(), s);
    area.Calculate(white.view(), s);
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
    EXPECT_FALSE(area.MotionChanged) << "an earlier unreported change stays unreported";

    // true -> false -> true between two reads leaves one flag and the status true.
    area.Calculate(white.view(), s);
    EXPECT_TRUE(!area.MotionStatus() && area.MotionChanged);
    area.Calculate(black.view(), s);
    EXPECT_TRUE(area.MotionStatus() && area.MotionChanged);

    // The first measurement after a reset counts nothing: the status falls back with a flag.
    area.MotionChanged = false;
    area.setFirstFrame();
    area.Calculate(white.view(), s);
    EXPECT_EQ(area.MotionPer(), 0);
    EXPECT_TRUE(!area.MotionStatus() && area.MotionChanged);
    EXPECT_FALSE(area.ColorChanged);
}

TEST(AreaMeasure, BothMeasurementsOffKeepThePreviousFrame) {
    AreaMeasure area = wholeFrameArea(22, 22, 3);
    const TestFrame b = plain(250, 250, 250);
    MeasureSettings s = quietSettings(200);
    area.Calculate(plain(10, 10, 10).view(), s);
    s.motionActive = s.colorActive = false;
    area.Calculate(b.view(), s);
    EXPECT_EQ(area.MotionPer() + area.ColorPer(), 0);
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
        const PixelRect r = area.pixelRect();
        ASSERT_EQ(r.width, 26);
        const PixelView piece = frame.view().sub(r.left, r.top, r.width, r.height);
        MeasureSettings s = quietSettings(255);
        s.showPicture = s.colorActive = false;
        area.Calculate(piece, s);
        area.Calculate(piece, s);
        for (int y = 0; y < r.height; ++y) {
            for (int x = 0; x < r.width; ++x) {
                const int mark = ((y % 2 == 0) ? (x % 4 == 0) : (x % 4 == 2)) ? 255 : 0;
                const std::uint8_t* p = area.displayView().row(y) + x * bpp;
                EXPECT_TRUE(p[0] == 0 && p[1] == mark && p[2] == mark)
                    << "bpp " << bpp << " at " << x << "," << y;
            }
        }
    }
}

TEST(AreaMeasure, AverageColour) {
    AreaMeasure area = wholeFrameArea(22, 22, 4);
    EXPECT_EQ(area.CalcColor(), 0) << "zeroed buffers before any measurement";
    area.Calculate(plain(30, 20, 10, 4).view(), MeasureSettings{});
    EXPECT_EQ(area.CalcColor(), 1971210);
    EXPECT_EQ(AreaMeasure().CalcColor(), 0) << "no buffers at all";
}

TEST(AreaMeasure, RefusesWhatItCannotHold) {
    AreaMeasure area = wholeFrameArea(22, 22, 3);
    EXPECT_THROW(area.Calculate(TestFrame(20, 22, 3).view(), MeasureSettings{}), EngineError);
    EXPECT_THROW(area.Calculate(TestFrame(22, 22, 4).view(), MeasureSettings{}), EngineError);
    EXPECT_THROW(area.ResizeArea({0, 0, 1, 1, 40000, 40000}, 4), EngineError);
    EXPECT_EQ(area.LastByte(), 22 * 22 * 3 - 1) << "a refused resize changes nothing";
}
