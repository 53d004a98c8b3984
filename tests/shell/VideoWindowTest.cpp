#include <gtest/gtest.h>

#include <QSettings>

#include "AppState.h"
#include "ezVidCap.h"
#include "frmVideo.h"

using ostrel::shell::AppState;
using ostrel::shell::ezVidCap;
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
