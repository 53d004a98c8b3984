#include <gtest/gtest.h>

#include "AreaGeometry.h"
#include "Rounding.h"

using namespace ostrel::engine;

namespace {
PixelRect fit(double l, double t, double w, double h, int vw = 320, int vh = 240) {
    return fitPixelRect({l, t, w, h, vw, vh});
}
}  // namespace

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(nearest(12.5), 12);
    EXPECT_EQ(nearest(13.5), 14);
    EXPECT_EQ(nearest(-2.5), -2);
    EXPECT_EQ(nearest(100.07), 100);
    EXPECT_EQ(nearest(1e300), 2147483647);
    EXPECT_EQ(nearest(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(AreaGeometry, DefaultFractionsOnTheSmallFrame) {
    EXPECT_EQ(fit(0.33, 0.33, 0.33, 0.33), (PixelRect{106, 79, 106, 79}));
}

TEST(AreaGeometry, FitsAtTheFrameEdges) {
    // 160 pixels wide is raised to the form 4k+2.
    EXPECT_EQ(fit(0.33, 0.33, 0.5, 0.33).width, 162);
    // Near the right edge the width shrinks in steps of 4 until it fits.
    const PixelRect right = fit(0.9, 0.33, 0.33, 0.33);
    EXPECT_EQ(right.left, 288);
    EXPECT_EQ(right.width, 30);
    // Near the bottom the top is pulled up so 22 rows remain.
    const PixelRect bottom = fit(0.33, 0.95, 0.33, 0.33);
    EXPECT_EQ(bottom.top, 218);
    EXPECT_EQ(bottom.height, 22);
}

TEST(AreaGeometry, NoVideoGivesTheSmallestAreaAtTheOrigin) {
    EXPECT_EQ(fit(0.33, 0.33, 0.33, 0.33, 0, 0), (PixelRect{0, 0, 22, 22}));
}

TEST(AreaGeometry, AlwaysInsideTheFrameWithAWidthOf4kPlus2) {
    const double fractions[] = {0.0, 0.01, 0.1, 0.33, 0.5, 0.77, 0.95, 0.999, 1.0};
    const int sizes[][2] = {{320, 240}, {640, 480}, {22, 22}, {23, 97}, {1920, 1080}};
    for (auto [vw, vh] : sizes) {
        for (double l : fractions) {
            for (double w : fractions) {
                const PixelRect r = fit(l, l, w, w, vw, vh);
                SCOPED_TRACE(testing::Message() << vw << "x" << vh << " l=" << l << " w=" << w);
                EXPECT_GE(r.left, 0);
                EXPECT_GE(r.top, 0);
                EXPECT_LE(r.left + r.width, vw);
                EXPECT_LE(r.top + r.height, vh);
                EXPECT_GE(r.width, 22);
                EXPECT_GE(r.height, 22);
                EXPECT_EQ(r.width % 4, 2);
            }
        }
    }
}
