#include <gtest/gtest.h>

#include <QMenu>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include "DetectionArea.h"
#include "FramePicture.h"
#include "ctlDetArea.h"
#include "ezVidCap.h"
#include "frmMonitor.h"
#include "frmOstrel.h"
#include "frmVideo.h"
#include "support/DialogAnswers.h"
#include "support/PaintRecorder.h"

using ostrel::shell::frmOstrel;

namespace {

constexpr int kWaitMs = 10000;

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override { QSettings().clear(); }
};

}  // namespace

TEST_F(MainWindow, StartsWithDefaultPlacesAndEndsWritingAllSettings) {
    {
        frmOstrel window;
        ASSERT_TRUE(window.load());
        EXPECT_EQ(window.windowTitle(), "Ostrel - New");
        EXPECT_EQ(window.pos(), QPoint(33, 33)) << "500 twips at 96 DPI";
        EXPECT_EQ(window.video()->pos(), QPoint(7, 7));
        EXPECT_EQ(window.monitor()->pos(), QPoint(20, 20));
        EXPECT_TRUE(window.video()->isVisible());
        EXPECT_TRUE(window.monitor()->isVisible());
        EXPECT_TRUE(window.menu().mnuShowForms[0]->isChecked());
        EXPECT_TRUE(window.menu().mnuShowForms[1]->isChecked());
        EXPECT_TRUE(window.menu().mnuExit->isEnabled());
        EXPECT_FALSE(window.menu().mnuClear->isEnabled());
        EXPECT_FALSE(window.menu().mnuProperties->isEnabled());
        EXPECT_TRUE(window.state().HideOnClose);

        // The test pattern's frame size fits the picture and the interior.
        EXPECT_EQ(window.registry().FrameWidth(), 320);
        EXPECT_EQ(window.pctDebug()->size(), QSize(320, 240));
        EXPECT_EQ(window.centralWidget()->size(), QSize(336, 256));
        QAction* testPattern = window.menu().mnuDriver.at(window.capture().TestPatternIndex());
        EXPECT_TRUE(testPattern->isChecked());

        // Closing the Monitor only hides it; the program then ends from File, Exit.
        window.monitor()->close();
        EXPECT_TRUE(window.monitor()->isHidden());
        EXPECT_FALSE(window.menu().mnuShowForms[0]->isChecked());
        window.move(60, 90);
        QSignalSpy ended(&window, &frmOstrel::ended);
        window.menu().mnuExit->trigger();
        EXPECT_EQ(ended.size(), 1);
    }
    QSettings settings;
    EXPECT_EQ(settings.value("Settings/OstrelLeft").toString(), "900");
    EXPECT_EQ(settings.value("Settings/OstrelTop").toString(), "1350");
    EXPECT_EQ(settings.value("Settings/MonitorVisible").toString(), "False");
    EXPECT_EQ(settings.value("Settings/VideoVisible").toString(), "True");
    for (const char* key : {"MonitorLeft", "MonitorTop", "VideoLeft", "VideoTop"}) {
        EXPECT_TRUE(settings.contains(QStringLiteral("Settings/") + key)) << key;
    }
}

TEST_F(MainWindow, StoredPlacesAndVisibility) {
    QSettings settings;
    settings.setValue("Settings/OstrelLeft", "1500");
    settings.setValue("Settings/OstrelTop", "750");
    settings.setValue("Settings/VideoVisible", "False");
    frmOstrel window;
    ASSERT_TRUE(window.load());
    EXPECT_EQ(window.pos(), QPoint(100, 50));
    EXPECT_TRUE(window.video()->isHidden());
    EXPECT_FALSE(window.menu().mnuShowForms[1]->isChecked());
    window.menu().mnuShowForms[1]->trigger();
    EXPECT_TRUE(window.video()->isVisible()) << "the View menu shows it again";
    window.endProgram();
}

TEST_F(MainWindow, ShallowDisplayEndsTheProgram) {
    ostrel::shell::StartOptions options;
    options.displayDepth = [] { return 16; };
    frmOstrel window(options);
    DialogAnswers answers;
    DialogAnswers::Messages seen;
    answers.thenMessage(seen);
    EXPECT_FALSE(window.load());
    EXPECT_EQ(seen.texts, QStringList{"Change the Color Palette to True Color (24Bit oder 32Bit)!"});
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.title, "Ostrel");
    EXPECT_FALSE(window.video()) << "no window came up";
}

TEST_F(MainWindow, TheLoopMeasuresEveryAreaOncePerFrame) {
    frmOstrel window;
    ASSERT_TRUE(window.load());
    auto whole = window.registry().AddArea("Whole");
    whole->Size(0, 0, 1, 1);
    auto corner = window.registry().AddArea("Corner");
    const ostrel::engine::DetectionLoop& loop = window.loop();
    const auto passes0 = loop.passes();
    const auto measured0 = loop.areasMeasured();
    QTRY_VERIFY_WITH_TIMEOUT(loop.passes() >= passes0 + 10, kWaitMs);
    EXPECT_EQ(loop.areasMeasured() - measured0, 2 * (loop.passes() - passes0));
    // The test pattern's ball moves: the area over the whole picture sees it.
    QTRY_VERIFY_WITH_TIMEOUT(whole->MotionPer() > 0, kWaitMs);
    EXPECT_EQ(window.monitor()->txtIndex->text(), "Area 2 - Corner");

    window.registry().setEditMode(true);
    const auto passes1 = loop.passes();
    const auto measured1 = loop.areasMeasured();
    QTRY_VERIFY_WITH_TIMEOUT(loop.passes() >= passes1 + 5, kWaitMs);
    EXPECT_EQ(loop.areasMeasured(), measured1) << "nothing is measured while editing";
    window.registry().setEditMode(false);
    window.endProgram();
}

TEST_F(MainWindow, AFrameSizeChangeRefitsWindowsAndAreas) {
    frmOstrel window;
    ASSERT_TRUE(window.load());
    auto area = window.registry().AddArea("Door");
    area->Size(0.25, 0.5, 0.5, 0.25);
    ostrel::areas::ctlDetArea& control = window.controls().element(0);
    EXPECT_EQ(control.PixWidth(), 162);
    DialogAnswers answers;
    answers.then([](QWidget* modal) {
        auto* sizes = modal->findChild<QListWidget*>("frameSizes");
        ASSERT_NE(sizes, nullptr);
        for (int i = 0; i < sizes->count(); ++i) {
            if (sizes->item(i)->data(Qt::UserRole).toSize() == QSize(640, 480)) {
                sizes->setCurrentRow(i);
            }
        }
        static_cast<QDialog*>(modal)->accept();
    });
    window.menu().mnuHasDlgFormat->trigger();
    EXPECT_EQ(window.registry().FrameWidth(), 640);
    EXPECT_EQ(window.registry().FrameHeight(), 480);
    EXPECT_EQ(window.pctDebug()->size(), QSize(640, 480));
    EXPECT_EQ(window.centralWidget()->size(), QSize(656, 496));
    EXPECT_EQ(area->Left(), 0.25) << "the area keeps its fractions";
    EXPECT_EQ(control.PixLeft(), 160);
    EXPECT_EQ(control.PixTop(), 240);
    EXPECT_EQ(control.PixWidth(), 322);
    EXPECT_EQ(control.pos(), window.pctDebug()->pos() + QPoint(160, 240));
    QTRY_VERIFY_WITH_TIMEOUT(window.pctDebug()->frame().width() == 640, kWaitMs);
    window.endProgram();
}

TEST_F(MainWindow, MonitorDoubleClicksRunTheCommandsOnTheSelectedArea) {
    frmOstrel window;
    ASSERT_TRUE(window.load());
    ostrel::shell::frmMonitor& monitor = *window.monitor();
    DialogAnswers answers;
    QTest::mouseDClick(monitor.pctDetColor, Qt::LeftButton);  // no area: no dialog may open

    window.registry().AddArea("First");
    window.registry().AddArea("Door")->setDetColor(0x0000FF);
    QStringList opened;
    const auto note = [&opened](QWidget* modal) {
        opened << QString::fromLatin1(modal->metaObject()->className()) + ' ' + modal->windowTitle();
        static_cast<QDialog*>(modal)->reject();
    };
    answers.then(note).then(note);
    QTest::mouseDClick(monitor.pctDetColor, Qt::LeftButton);
    QTest::mouseDClick(monitor.txtColorThreshold, Qt::LeftButton);
    ASSERT_EQ(opened.size(), 2);
    EXPECT_TRUE(opened[0].startsWith("QColorDialog")) << opened[0].toStdString();
    EXPECT_TRUE(opened[1].endsWith("Color Threshold Value")) << opened[1].toStdString();
    window.endProgram();
}

TEST_F(MainWindow, OnlyWhatIsSeenIsPaintedWhileEveryFrameIsMeasured) {
    frmOstrel window;
    ASSERT_TRUE(window.load());
    window.registry().AddArea("Whole")->Size(0, 0, 1, 1);
    QWidget* area = window.controls().element(0).picture();
    QWidget* video = window.video()->captureDisplay();
    PaintRecorder paints({window.pctDebug(), area, video});
    const auto passes0 = window.loop().passes();
    QTRY_VERIFY_WITH_TIMEOUT(window.loop().passes() >= passes0 + 5 && paints.painted.size() >= 2,
                             kWaitMs);
    EXPECT_FALSE(paints.painted[window.pctDebug()].intersects(area->geometry()))
        << "the video picture is not painted under the area's picture";

    window.setMainWindowVisible(false);
    window.setVideoVisible(false);
    window.setMonitorVisible(false);
    QCoreApplication::processEvents();
    paints.painted.clear();
    QSignalSpy frames(&window.capture(), &ostrel::shell::ezVidCap::frameReady);
    const auto passes1 = window.loop().passes();
    const auto measured1 = window.loop().areasMeasured();
    QTRY_VERIFY_WITH_TIMEOUT(frames.count() >= 10, kWaitMs);
    EXPECT_EQ(window.loop().passes() - passes1, frames.count()) << "one pass per frame";
    EXPECT_EQ(window.loop().areasMeasured() - measured1, frames.count());
    EXPECT_TRUE(paints.painted.isEmpty()) << "hidden windows are not painted";
    window.endProgram();
}
