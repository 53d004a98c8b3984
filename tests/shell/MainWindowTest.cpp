#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <vector>

#include "DetectionArea.h"
#include "FramePicture.h"
#include "MonitorBar.h"
#include "ctlDetArea.h"
#include "ezVidCap.h"
#include "frmAbout.h"
#include "frmMonitor.h"
#include "frmOstrel.h"
#include "frmVideo.h"
#include "support/DialogAnswers.h"
#include "support/MjpegServer.h"
#include "support/PaintRecorder.h"

using ostrel::shell::frmOstrel;

namespace {

constexpr int kWaitMs = 10000;

bool waitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, kWaitMs); }

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override { QSettings().clear(); }
    // A stored main window place of (100, 50) pixels.
    static void storePlace() {
        QSettings settings;
        settings.setValue("Settings/OstrelLeft", "1500");
        settings.setValue("Settings/OstrelTop", "750");
    }
    DialogAnswers answers;  // a dialog a test does not answer fails it
    DialogAnswers::Messages seen;
};

}  // namespace

TEST_F(MainWindow, StartsWithDefaultPlacesInFrontAndEndsWritingAllSettings) {
    {
        frmOstrel window;
        ASSERT_TRUE(window.load());
        EXPECT_EQ(window.windowTitle(), "Ostrel - New");
        EXPECT_EQ(window.pos(), QPoint(33, 33)) << "500 twips at 96 DPI";
        EXPECT_EQ(window.video()->pos(), QPoint(7, 7));
        EXPECT_EQ(window.monitor()->pos(), QPoint(20, 20));
        EXPECT_TRUE(window.video()->isVisible() && window.monitor()->isVisible());
        EXPECT_TRUE(waitFor([&] { return QApplication::activeWindow() == &window; }))
            << "the Monitor, shown last, lies over the main window";
        EXPECT_TRUE(window.menu().mnuShowForms[0]->isChecked());
        EXPECT_TRUE(window.menu().mnuShowForms[1]->isChecked());
        EXPECT_TRUE(window.menu().mnuExit->isEnabled());
        EXPECT_FALSE(window.menu().mnuClear->isEnabled());
        EXPECT_FALSE(window.menu().mnuProperties->isEnabled());

        // The test pattern's frame size fits the picture, the interior and the Video window,
        // which holds the live picture and takes the main window's width.
        EXPECT_EQ(window.registry().FrameWidth(), 320);
        EXPECT_EQ(window.pctDebug()->size(), QSize(320, 240));
        EXPECT_EQ(window.centralWidget()->size(), QSize(336, 256));
        EXPECT_EQ(window.video()->windowTitle(), "Ostrel - Video");
        EXPECT_EQ(window.capture().display()->parentWidget(), window.video());
        EXPECT_EQ(window.video()->width(), window.width());
        EXPECT_TRUE(window.menu().mnuDriver.at(window.capture().TestPatternIndex())->isChecked());

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

TEST_F(MainWindow, StoredPlacesAndVisibilityTheViewMenuAndAbout) {
    storePlace();
    QSettings().setValue("Settings/VideoVisible", "False");
    frmOstrel window;
    ASSERT_TRUE(window.load());
    EXPECT_EQ(window.pos(), QPoint(100, 50));
    EXPECT_TRUE(window.video()->isHidden());
    EXPECT_FALSE(window.menu().mnuShowForms[1]->isChecked());
    window.menu().mnuShowForms[1]->trigger();
    EXPECT_TRUE(window.video()->isVisible()) << "the View menu shows it again";
    window.menu().mnuShowForms[0]->trigger();
    EXPECT_TRUE(window.monitor()->isHidden());

    window.menu().mnuAbout->trigger();
    const auto abouts = window.findChildren<ostrel::shell::frmAbout*>();
    ASSERT_EQ(abouts.size(), 1);
    EXPECT_TRUE(abouts[0]->isVisible());
    window.endProgram();
}

TEST_F(MainWindow, AShallowDisplayEndsTheProgramWritingNoPlace) {
    storePlace();
    ostrel::shell::StartOptions options;
    options.displayDepth = [] { return 16; };
    frmOstrel window(options);
    answers.thenMessage(seen);
    EXPECT_FALSE(window.load());
    EXPECT_EQ(seen.texts,
              QStringList{"Change the Color Palette to True Color (24Bit oder 32Bit)!"});
    EXPECT_EQ(std::make_pair(seen.icon, seen.title),
              std::make_pair(QMessageBox::Critical, QStringLiteral("Ostrel")));
    EXPECT_FALSE(window.video()) << "no window came up";
    EXPECT_EQ(QSettings().value("Settings/OstrelLeft").toString(), "1500")
        << "a window never placed keeps its stored place";
}

TEST_F(MainWindow, AClientHoldsTheWindowOpenAtItsStoredPlace) {
    storePlace();
    frmOstrel window;
    ASSERT_TRUE(window.load());
    window.move(200, 220);
    window.clientAttached();
    EXPECT_EQ(window.pos(), QPoint(100, 50)) << "back at the stored place";
    EXPECT_EQ(window.windowTitle(), "Ostrel - ConUnit");
    EXPECT_FALSE(window.menu().mnuExit->isEnabled());
    QSignalSpy ended(&window, &frmOstrel::ended);
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible() && ended.isEmpty());
    EXPECT_FALSE(QSettings().contains("Settings/MonitorVisible")) << "nothing written";
    window.lastClientReleased();
    EXPECT_EQ(ended.size(), 1);
}

TEST_F(MainWindow, DriversTheirFailuresAndTheSourcesDialogs) {
    // A command-line source that is missing at start: reported, and the test pattern runs.
    QTemporaryDir dir;
    ostrel::shell::StartOptions options;
    options.source = dir.filePath(QStringLiteral("absent.mkv"));
    frmOstrel window(options);
    answers.thenMessage(seen);
    ASSERT_TRUE(window.load());
    ASSERT_TRUE(waitFor([&] { return seen.texts.size() == 1; }));
    EXPECT_TRUE(seen.texts[0].startsWith("Error ") && seen.texts[0].size() > 8);
    const QList<QAction*>& drivers = window.menu().mnuDriver;
    const int testPattern = window.capture().TestPatternIndex();
    QAction* const commandLine = drivers.at(testPattern + 1);
    const auto dialogEntries = [&window] {
        const ostrel::ui::MainMenu& m = window.menu();
        return std::make_tuple(m.mnuHasDlgFormat->isEnabled(), m.mnuHasDlgSource->isEnabled(),
                               m.mnuHasDlgDisplay->isEnabled());
    };
    const auto setDialogEntries = [&window](bool enabled) {
        for (QAction* entry : {window.menu().mnuHasDlgFormat, window.menu().mnuHasDlgSource,
                               window.menu().mnuHasDlgDisplay}) {
            entry->setEnabled(enabled);
        }
    };
    window.menu().mnuHasDlgDisplay->setVisible(true);  // a hidden entry never reads as enabled
    EXPECT_TRUE(drivers.at(testPattern)->isChecked() && !commandLine->isChecked());
    EXPECT_EQ(dialogEntries(), std::make_tuple(true, false, false));

    answers.thenMessage(seen);
    commandLine->trigger();
    ASSERT_TRUE(waitFor([&] { return seen.texts.size() == 2; }));
    EXPECT_EQ(seen.texts[1], "Could not connect!");
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_TRUE(drivers.at(testPattern)->isChecked() && !commandLine->isChecked());

    // A source with colour controls offers its Source dialog; the test pattern does not.
    window.capture().setCommandLineSource(
        QStringLiteral("videotestsrc is-live=true ! videobalance"));
    setDialogEntries(false);
    commandLine->trigger();
    EXPECT_TRUE(commandLine->isChecked() && !drivers.at(testPattern)->isChecked());
    EXPECT_EQ(dialogEntries(), std::make_tuple(true, true, false));
    setDialogEntries(true);
    drivers.at(testPattern)->trigger();
    EXPECT_EQ(dialogEntries(), std::make_tuple(true, false, false));

    // Capture errors are reported; code 0 is none.
    Q_EMIT window.capture().CaptureError(0, QStringLiteral("nothing"));
    answers.thenMessage(seen);
    Q_EMIT window.capture().CaptureError(5, QStringLiteral("x"));
    ASSERT_TRUE(waitFor([&] { return seen.texts.size() == 3; }));
    EXPECT_EQ(seen.texts[2], "Error x");
    window.endProgram();
}

TEST_F(MainWindow, TheLoopMeasuresEveryAreaOncePerFrame) {
    frmOstrel window;
    ASSERT_TRUE(window.load());
    window.registry().AddArea("Whole")->Size(0, 0, 1, 1);
    window.registry().AddArea("Corner");
    const ostrel::engine::DetectionLoop& loop = window.loop();
    const auto passes0 = loop.passes();
    const auto measured0 = loop.areasMeasured();
    ASSERT_TRUE(waitFor([&] { return loop.passes() >= passes0 + 10; }));
    EXPECT_EQ(loop.areasMeasured() - measured0, 2 * (loop.passes() - passes0));
    EXPECT_EQ(window.monitor()->txtIndex->text(), "Area 2 - Corner");

    window.registry().setEditMode(true);
    const auto passes1 = loop.passes();
    const auto measured1 = loop.areasMeasured();
    ASSERT_TRUE(waitFor([&] { return loop.passes() >= passes1 + 5; }));
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
    EXPECT_EQ(window.registry().FrameHeight(), 480);
    EXPECT_EQ(window.pctDebug()->size(), QSize(640, 480));
    EXPECT_EQ(window.centralWidget()->size(), QSize(656, 496));
    EXPECT_EQ(window.video()->width(), window.width());
    EXPECT_EQ(area->Left(), 0.25) << "the area keeps its fractions";
    EXPECT_EQ(std::make_tuple(control.PixLeft(), control.PixTop(), control.PixWidth()),
              std::make_tuple(160, 240, 322));
    EXPECT_EQ(control.pos(), window.pctDebug()->pos() + QPoint(160, 240));
    EXPECT_TRUE(waitFor([&] { return window.pctDebug()->frame().width() == 640; }));
    window.endProgram();
}

TEST_F(MainWindow, MonitorDoubleClicksRunTheCommandsOnTheSelectedArea) {
    frmOstrel window;
    ASSERT_TRUE(window.load());
    ostrel::shell::frmMonitor& m = *window.monitor();
    QTest::mouseDClick(m.pctDetColor, Qt::LeftButton);  // no area: no dialog may open

    window.registry().AddArea("First");
    window.registry().AddArea("Door")->setMotionSens(7);
    window.monitor()->showSelectedArea(window.registry());
    QStringList opened;
    const auto note = [&opened](QWidget* modal) {
        const auto* slider = modal->findChild<QSlider*>();
        opened << (slider ? modal->windowTitle() + ' ' + QString::number(slider->value())
                          : QString::fromLatin1(modal->metaObject()->className()));
        static_cast<QDialog*>(modal)->reject();
    };
    const std::pair<QWidget*, QString> controls[] = {
        {m.txtMotionSens, "Motion Sensibility 7"},
        {m.txtMotionThreshold, "Motion Threshold Value 100"},
        {m.pctMotionPer, "Motion Threshold Value 100"},
        {m.txtColorSens, "Color Sensibility 96"},
        {m.txtColorThreshold, "Color Threshold Value 100"},
        {m.pctColorPer, "Color Threshold Value 100"},
        {m.txtDetColor, "QColorDialog"},
        {m.txtDetColorHex, "QColorDialog"},
        {m.pctDetColor, "QColorDialog"},
    };
    for (const auto& [control, dialog] : controls) {
        answers.then(note);
        QTest::mouseDClick(control, Qt::LeftButton, {}, control->rect().center());
        ASSERT_FALSE(opened.isEmpty()) << control->objectName().toStdString();
        EXPECT_EQ(opened.takeFirst(), dialog);
        if (auto* box = qobject_cast<QLineEdit*>(control)) {
            EXPECT_FALSE(box->hasSelectedText()) << "no text stays highlighted";
        }
    }
    window.endProgram();
}

// Messages and the About box hold nothing (a modal dialog would fail the test): detection runs
// while they are open, and there is one About box however often it is asked for.
TEST_F(MainWindow, MessagesAndAboutHoldNothing) {
    QTemporaryDir dir;
    ostrel::shell::StartOptions options;
    options.source = dir.filePath(QStringLiteral("absent.mkv"));
    frmOstrel window(options);
    DialogAnswers answers;
    ASSERT_TRUE(window.load());
    const QList<QMessageBox*> boxes = window.reporter().openBoxes();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0]->text().startsWith("Error ")) << boxes[0]->text().toStdString();
    EXPECT_EQ(boxes[0]->icon(), QMessageBox::NoIcon);
    window.showAbout();
    window.showAbout();
    EXPECT_EQ(window.findChildren<ostrel::shell::frmAbout*>().size(), 1);
    const auto passes = window.loop().passes();
    QTRY_VERIFY_WITH_TIMEOUT(window.loop().passes() >= passes + 5, kWaitMs);
    window.endProgram();
}

// Headless shows no window (what else it does is seen from outside, in headless_e2e.py).
TEST_F(MainWindow, HeadlessShowsNoWindow) {
    ostrel::shell::StartOptions options;
    options.headless = true;
    options.source = QStringLiteral("videotestsrc ! video/x-raw,width=64,height=48");
    frmOstrel window(options);
    ASSERT_TRUE(window.load());
    window.clientAttached();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.monitor(), nullptr);
    EXPECT_EQ(window.video(), nullptr);
    window.endProgram();
}

// An HTTP camera goes away while the picture changes, and comes back: the Monitor says the source
// is lost meanwhile, no motion is read across the gap, and detection goes on afterwards.
TEST_F(MainWindow, FramesReturningAfterAGapReadNoMotionFromIt) {
    MjpegServer camera;
    camera.show(jpegPicture("black"));
    ASSERT_TRUE(camera.start());
    ostrel::shell::StartOptions options;
    options.source = camera.url();
    frmOstrel window(options);
    ASSERT_TRUE(window.load());
    auto area = window.registry().AddArea("All");
    area->Size(0, 0, 1, 1);
    std::vector<int> motion;  // after each pass
    QObject::connect(&window.capture(), &ostrel::capture::ezVidCap::frameReady,
                     [&motion, &area] { motion.push_back(area->MotionPer()); });
    QTRY_VERIFY_WITH_TIMEOUT(motion.size() >= 3, kWaitMs);

    DialogAnswers answers;
    DialogAnswers::Messages seen;
    answers.thenMessage(seen).thenMessage(seen);
    const quint16 port = camera.port();
    camera.stop();
    QTRY_COMPARE_WITH_TIMEOUT(window.monitor()->windowTitle(),
                              QStringLiteral("Ostrel - Monitor (source lost)"), kWaitMs);
    camera.show(jpegPicture("white"));
    motion.clear();
    ASSERT_TRUE(camera.start(port));
    QTRY_COMPARE_WITH_TIMEOUT(window.monitor()->windowTitle(), QStringLiteral("Ostrel - Monitor"),
                              kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(motion.size() >= 3, kWaitMs);
    EXPECT_EQ(*std::max_element(motion.begin(), motion.end()), 0) << "motion read from the gap";
    ASSERT_TRUE(waitFor([&] { return seen.texts.size() == 2; }));
    EXPECT_TRUE(seen.texts[0].startsWith("Error ")) << "the loss, once";
    EXPECT_TRUE(seen.texts[1].endsWith("is back.")) << "and the return, once";

    camera.show(jpegPicture("black"));
    // Detection goes on.
    QTRY_VERIFY_WITH_TIMEOUT(area->MotionPer() > 90, kWaitMs);
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
    QSignalSpy frames(&window.capture(), &ostrel::capture::ezVidCap::frameReady);
    const auto passes1 = window.loop().passes();
    const auto measured1 = window.loop().areasMeasured();
    QTRY_VERIFY_WITH_TIMEOUT(frames.count() >= 10, kWaitMs);
    EXPECT_EQ(window.loop().passes() - passes1, frames.count()) << "one pass per frame";
    EXPECT_EQ(window.loop().areasMeasured() - measured1, frames.count());
    EXPECT_TRUE(paints.painted.isEmpty()) << "hidden windows are not painted";
    window.endProgram();
}
