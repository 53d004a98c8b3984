#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

#include "AppState.h"
#include "ezVidCap.h"
#include "frmVideo.h"
#include "support/DialogAnswers.h"

using ostrel::shell::AppState;
using ostrel::capture::ezVidCap;
using ostrel::shell::frmVideo;

// Where the window goes and what a close does belong to the window base it shares with the
// Monitor (see MonitorTest) and are checked through the main window (MainWindowTest).
namespace {

class VideoWindow : public ::testing::Test {
protected:
    void SetUp() override { QSettings().clear(); }
    ezVidCap capture;
    AppState state;
};

}  // namespace

TEST_F(VideoWindow, ShowsTheLivePictureAndFitsItsInterior) {
    frmVideo window(capture, state);
    EXPECT_EQ(window.windowTitle(), "Ostrel - Video");
    EXPECT_EQ(window.captureDisplay(), capture.display());
    EXPECT_EQ(capture.display()->parentWidget(), &window) << "the live picture is its content";
    capture.setDriverIndex(capture.TestPatternIndex());
    EXPECT_EQ(window.requiredInteriorSize(), QSize(320, 240));
    capture.display()->move(8, 4);
    EXPECT_EQ(window.requiredInteriorSize(), QSize(2 * 8 + 320, 2 * 4 + 240));
}

TEST_F(VideoWindow, CaptureErrorShowsErrorAndTheTextUnlessTheCodeIsZero) {
    frmVideo window(capture, state);
    DialogAnswers answers;  // any message box beyond the ones answered fails the test
    DialogAnswers::Messages seen;
    window.onCaptureError(0, QStringLiteral("nothing"));
    answers.thenMessage(seen);
    window.onCaptureError(5, QStringLiteral("x"));
    EXPECT_EQ(seen.texts, QStringList{"Error x"});
    EXPECT_EQ(seen.title, "Ostrel");
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);

    // The capture control's own report reaches the window: a source missing at start-up.
    QTemporaryDir dir;
    capture.setCommandLineSource(dir.filePath(QStringLiteral("absent.mkv")));
    answers.thenMessage(seen);
    capture.applyStartupOptions(4);
    ASSERT_EQ(seen.texts.size(), 2);
    EXPECT_TRUE(seen.texts[1].startsWith(QStringLiteral("Error ")) && seen.texts[1].size() > 8);
}
