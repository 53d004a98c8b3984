#include <gtest/gtest.h>

#include <limits>

#include "AreaGeometry.h"
#include "Rounding.h"

using namespace ostrel::engine;

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(nearest(12.5), 12);
    EXPECT_EQ(nearest(13.5), 14);
    EXPECT_EQ(nearest(-2.5), -2);
    EXPECT_EQ(nearest(1e300), 2147483647);
    EXPECT_EQ(nearest(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(AreaGeometry, PixelRectangles) {
    const std::pair<AreaGeometry, PixelRect> cases[] = {
        {{0.33, 0.33, 0.33, 0.33, 320, 240}, {106, 79, 106, 79}},
        {{0.33, 0.33, 0.5, 0.33, 320, 240}, {106, 79, 162, 79}},    // 160 raised to 4k+2
        {{0.9, 0.33, 0.33, 0.33, 320, 240}, {288, 79, 30, 79}},     // narrowed by 4s to fit
        {{0.33, 0.95, 0.33, 0.33, 320, 240}, {106, 218, 106, 22}},  // 22 rows kept
        {{0.5, 0.5, 0.5, 0.5, 97, 97}, {48, 48, 46, 48}},           // 48.5 goes to 48
        {{0.33, 0.33, 0.33, 0.33, 0, 0}, {0, 0, 22, 22}},           // no video
    };
    for (const auto& [geometry, rect] : cases) {
        EXPECT_EQ(fitPixelRect(geometry), rect) << geometry.left << " " << geometry.videoWidth;
    }
}

TEST(AreaGeometry, AlwaysInsideTheFrameWithAWidthOf4kPlus2) {
    const double fractions[] = {0.0, 0.01, 0.1, 0.33, 0.5, 0.77, 0.95, 0.999, 1.0};
    const int sizes[][2] = {{320, 240}, {640, 480}, {22, 22}, {23, 97}, {1920, 1080}};
    for (auto [vw, vh] : sizes) {
        for (double l : fractions) {
            for (double w : fractions) {
                const PixelRect r = fitPixelRect({l, l, w, w, vw, vh});
                SCOPED_TRACE(testing::Message() << vw << "x" << vh << " l=" << l << " w=" << w);
                EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.left + r.width <= vw &&
                            r.top + r.height <= vh);
                EXPECT_TRUE(r.width >= 22 && r.height >= 22 && r.width % 4 == 2);
            }
        }
    }
}
