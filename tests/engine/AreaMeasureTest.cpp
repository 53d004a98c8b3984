#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "AreaMeasure.h"
#include "EngineError.h"
#include "support/TestFrame.h"

// The kernel oracle holds every measurement against the plain reference on random pictures;
// these are the cases random pictures rarely reach.

using namespace ostrel::engine;

namespace {

AreaMeasure wholeFrameArea(int w, int h, int bpp) {
    AreaMeasure area;
    area.ResizeArea({0, 0, 1, 1, w, h}, bpp);
    return area;
}

TestFrame plain(int b, int g, int r, int bpp = 3) {
    TestFrame frame(22, 22, bpp);
    frame.fill(b, g, r);
    return frame;
}

}  // namespace

TEST(AreaMeasure, PercentagesOfTheSampledPixels) {
    MeasureSettings s;
    s.motionSens = 0;  // only a jump of 255 in every channel counts
    for (int bpp : {3, 4}) {
        AreaMeasure area = wholeFrameArea(22, 22, bpp);
        area.Calculate(plain(0, 0, 0, bpp).view(), s);
        EXPECT_EQ(area.MotionPer(), 0) << "the first frame counts nothing";
        area.Calculate(plain(255, 255, 255, bpp).view(), s);
        EXPECT_EQ(area.MotionPer(), 100) << "a whole change at " << bpp << " bytes per pixel";
    }
    // 26 of the 121 samples (pixels 0, 4, 8, ... counted across rows) of a 22 x 22 area at
    // 3 bytes per pixel: 26 / 1451 x 1200 = 21.50 reads 22.
    AreaMeasure area = wholeFrameArea(22, 22, 3);
    TestFrame frame(22, 22, 3);
    area.Calculate(frame.view(), s);
    for (int k = 0; k < 26; ++k) {
        frame.set(4 * k % 22, 4 * k / 22, 255, 255, 255);
    }
    area.Calculate(frame.view(), s);
    EXPECT_EQ(area.MotionPer(), 22);
}

TEST(AreaMeasure, AverageColourRoundsHalvesToEven) {
    AreaMeasure area = wholeFrameArea(22, 22, 4);
    EXPECT_EQ(area.CalcColor(), 0) << "zeroed buffers before any measurement";
    area.Calculate(plain(30, 20, 10, 4).view(), MeasureSettings{});
    EXPECT_EQ(area.CalcColor(), 1971210);
    // Half the rows one step brighter: averages of 31.5, 20.5 and 10.5 give 32, 20 and 10.
    TestFrame frame = plain(31, 20, 10, 4);
    for (int y = 0; y < 11; ++y) {
        for (int x = 0; x < 22; ++x) {
            frame.set(x, y, 32, 21, 11);
        }
    }
    area.Calculate(frame.view(), MeasureSettings{});
    EXPECT_EQ(area.CalcColor(), 10 + 20 * 256 + 32 * 65536);
}

TEST(AreaMeasure, RefusesWhatItCannotHold) {
    AreaMeasure area = wholeFrameArea(22, 22, 3);
    EXPECT_THROW(area.Calculate(TestFrame(20, 22, 3).view(), MeasureSettings{}), EngineError);
    EXPECT_THROW(area.Calculate(TestFrame(22, 22, 4).view(), MeasureSettings{}), EngineError);
    EXPECT_THROW(area.ResizeArea({0, 0, 1, 1, 40000, 40000}, 4), EngineError);
    EXPECT_EQ(area.LastByte(), 22 * 22 * 3 - 1) << "a refused resize changes nothing";
}

// With a share of the frame only the samples are measured, the area keeps the frame for its
// piece, and the picture is put together when it is asked for, even after the frame's owner
// let it go.
TEST(AreaMeasure, APictureIsPutTogetherOnRequestFromTheKeptFrame) {
    MeasureSettings s;
    s.frameColor = 0x0000FF;  // red outline
    const auto pixel = [](const PixelView& view, int x, int y) {
        const std::uint8_t* p = view.row(y) + x * view.bytesPerPixel;
        return std::vector<int>{p[0], p[1], p[2]};
    };
    AreaMeasure area = wholeFrameArea(22, 22, 4);
    area.Calculate(plain(0, 0, 0, 4).view(), s, std::make_shared<TestFrame>(plain(0, 0, 0, 4)));
    auto frame = std::make_shared<TestFrame>(plain(200, 100, 50, 4));
    area.Calculate(frame->view(), s, frame);
    EXPECT_EQ(area.MotionPer(), 100) << "every sample moved";
    frame.reset();  // the area's share keeps the bytes
    EXPECT_EQ(area.CalcColor(), 50 + 100 * 256 + 200 * 65536);
    const PixelView made = area.displayView();
    EXPECT_EQ(pixel(made, 2, 1), (std::vector<int>{200, 255, 255})) << "a sample, moved";
    EXPECT_EQ(pixel(made, 1, 1), (std::vector<int>{200, 100, 50})) << "not a sample";
    EXPECT_EQ(pixel(made, 0, 0), (std::vector<int>{0, 0, 255})) << "the outline";
    EXPECT_FALSE(area.pictureParts()) << "once made, the picture is shown from its buffer";

    // Without a share of the frame the picture is drawn as usual: the sample is marked as moved
    // (green and red) and as near the target colour, black (blue and red).
    const TestFrame black = plain(0, 0, 0, 4);
    area.Calculate(black.view(), s);
    EXPECT_EQ(pixel(area.displayView(), 2, 1), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(area.CalcColor(), 0);
}

TEST(AreaMeasure, AreasMeasuredTogetherGiveWhatEachGivesAlone) {
    // Overlapping areas at different rows and columns, measured on two frames of noise.
    const AreaGeometry places[] = {{0.0, 0.1, 0.6, 0.5, 100, 60},
                                   {0.3, 0.0, 0.7, 0.9, 100, 60},
                                   {0.5, 0.4, 0.4, 0.6, 100, 60}};
    std::mt19937 rng(7);
    for (int bpp : {3, 4}) {
        std::vector<AreaMeasure> together(3), alone(3);
        for (int i = 0; i < 3; ++i) {
            together[i].ResizeArea(places[i], bpp);
            alone[i].ResizeArea(places[i], bpp);
        }
        MeasureSettings s;
        s.motionSens = 200;
        s.colorSens = 120;
        s.detRed = 128;
        for (int f = 0; f < 2; ++f) {
            TestFrame frame(100, 60, bpp, 3);
            for (std::uint8_t& byte : frame.bytes)
                byte = std::uint8_t(rng());
            std::vector<AreaMeasure*> started;
            for (AreaMeasure& area : together) {
                const PixelRect& r = area.pixelRect();
                area.startCalculate(frame.view().sub(r.left, r.top, r.width, r.height), s);
                started.push_back(&area);
            }
            measureTogether(started);
            for (int i = 0; i < 3; ++i) {
                SCOPED_TRACE("area " + std::to_string(i) + " at " + std::to_string(bpp) +
                             " bytes per pixel, frame " + std::to_string(f));
                together[i].finishCalculate();
                const PixelRect& r = alone[i].pixelRect();
                alone[i].Calculate(frame.view().sub(r.left, r.top, r.width, r.height), s);
                EXPECT_EQ(together[i].MotionPer(), alone[i].MotionPer());
                EXPECT_EQ(together[i].ColorPer(), alone[i].ColorPer());
                EXPECT_EQ(together[i].PrevBits(), alone[i].PrevBits());
                const PixelView a = together[i].displayView();
                const PixelView b = alone[i].displayView();
                EXPECT_TRUE(std::equal(a.data, a.data + a.stride * a.height, b.data));
            }
        }
        EXPECT_GT(alone[1].MotionPer(), 0);
        EXPECT_GT(alone[1].ColorPer(), 0);
    }
}
