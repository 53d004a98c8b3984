#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QtTest/QTest>

#include <memory>
#include <string>
#include <tuple>

#include "ctlDetArea.h"
#include "support/TestFrame.h"

using ostrel::areas::ctlDetArea;

TEST(ctlDetArea, SettersLimitToTheirRanges) {
    ctlDetArea area;
    area.setMotionThreshold(-5);
    area.setMotionSens(300);
    area.setColorSens(-1);
    area.setColorThreshold(101);
    EXPECT_EQ(std::make_tuple(area.MotionThreshold(), area.MotionSens(), area.ColorSens(),
                              area.ColorThreshold()),
              std::make_tuple(0, 255, 0, 100));

    area.Size(1.5, -0.2, 0.5, 0.5, -10, 480);
    EXPECT_EQ(std::make_tuple(area.Arealeft(), area.AreaTop(), area.AreaWidth(), area.VideoWidth(),
                              area.VideoHeight()),
              std::make_tuple(1.0, 0.0, 0.5, 0, 480));

    area.Size(std::nan(""), 0.1, std::numeric_limits<double>::infinity(), 0.2, 320, 240);
    EXPECT_EQ(area.Arealeft(), 0.0) << "NaN never reaches the pixel arithmetic";
    EXPECT_EQ(area.AreaWidth(), 1.0);
    EXPECT_EQ(area.PixWidth(), 318);
}

TEST(ctlDetArea, LabelFollowsShowLabelIndexAndKey) {
    ctlDetArea area;
    EXPECT_EQ(area.label()->text(), "0");
    area.setMyIndex(3);
    EXPECT_EQ(area.label()->text(), "3");
    area.setKey("Door");
    EXPECT_EQ(area.label()->text(), "3") << "the label shows the number while ShowLabel is 1";
    area.setShowLabel(5);
    EXPECT_EQ(area.ShowLabel(), 2);
    EXPECT_EQ(area.label()->text(), "Door");
    area.setShowLabel(-1);
    EXPECT_EQ(area.ShowLabel(), 0);
    EXPECT_TRUE(area.label()->isHidden());
    area.setShowLabel(1);
    EXPECT_FALSE(area.label()->isHidden());
    area.setMyIndex(-3);
    EXPECT_EQ(area.MyIndex(), 0);
    EXPECT_EQ(area.label()->text(), "0");

    area.setForeColor(0x0000FF);
    EXPECT_EQ(area.label()->palette().color(QPalette::WindowText), QColor(255, 0, 0));
}

TEST(ctlDetArea, SystemTargetColourIsComparedAsItWasWhenSet) {
    const QPalette original = QApplication::palette();
    QPalette palette = original;
    palette.setColor(QPalette::Active, QPalette::Base, QColor(10, 20, 30));
    QApplication::setPalette(palette);

    ctlDetArea area;
    area.Size(0, 0, 1, 1, 22, 22);
    area.setColorSens(0);
    area.setDetColor(std::int32_t(0x80000005));  // the window background colour
    EXPECT_EQ(area.DetColor(), std::int32_t(0x80000005));
    palette.setColor(QPalette::Active, QPalette::Base, QColor(200, 200, 200));
    QApplication::setPalette(palette);

    TestFrame piece(22, 22, 3);
    piece.fill(30, 20, 10);
    area.Calculate(piece.view());
    area.Calculate(piece.view());
    EXPECT_EQ(area.ColorPer(), 100);
    QApplication::setPalette(original);
}

// Drawn at once (no share of the frame) or put together from the kept frame while it is
// painted into the window, the picture is the same, on screen and rendered elsewhere.
TEST(ctlDetArea, ShowsMarksOverThePictureOnScreen) {
    for (int bpp : {3, 4}) {
        for (bool keepFrame : {false, true}) {
            SCOPED_TRACE("bpp " + std::to_string(bpp) + (keepFrame ? ", frame kept" : ""));
            QWidget window;
            window.resize(40, 30);
            auto* area = new ctlDetArea(&window);
            area->move(5, 3);
            area->setColRes(bpp);
            area->Size(0, 0, 1, 1, 26, 22);  // 26 pixels: unpadded rows of 78 bytes at 3 bytes
            area->setShowLabel(0);
            area->setForeColor(0xFF0000);  // blue frame
            area->setMotionActive(false);
            area->setDetColor(0x102030);
            area->setColorSens(0);
            window.show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
            auto piece = std::make_shared<TestFrame>(26, 22, bpp);
            piece->fill(0x10, 0x20, 0x30);
            const ostrel::engine::FrameKeeper keeper = keepFrame ? piece : nullptr;
            area->Calculate(piece->view(), keeper);
            area->Calculate(piece->view(), keeper);
            ASSERT_EQ(area->ColorPer(), 100);
            QApplication::processEvents();
            const QImage onScreen =
                window.screen()->grabWindow(window.winId()).toImage().copy(area->geometry());
            for (const QImage& shot : {onScreen, area->grab().toImage()}) {
                EXPECT_EQ(shot.pixelColor(0, 5), QColor(0, 0, 255)) << "frame";
                EXPECT_EQ(shot.pixelColor(25, 21), QColor(0, 0, 255)) << "frame";
                EXPECT_EQ(shot.pixelColor(6, 1), QColor(255, 0x20, 255)) << "magenta mark ORed in";
                EXPECT_EQ(shot.pixelColor(7, 1), QColor(0x30, 0x20, 0x10)) << "live picture";
                EXPECT_EQ(shot.pixelColor(4, 2), QColor(255, 0x20, 255)) << "next row";
            }
        }
    }
}
