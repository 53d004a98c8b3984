#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "AppState.h"
#include "ezVidCap.h"
#include "frmVideo.h"
#include "mdlVidProcessing.h"

using ostrel::shell::AppState;
using ostrel::shell::ezVidCap;
using ostrel::shell::frmVideo;
namespace vid = ostrel::shell::mdlVidProcessing;

namespace {

class VideoWindow : public ::testing::Test {
protected:
    void SetUp() override {
        QCoreApplication::setOrganizationName(QStringLiteral("Ostrel"));
        QCoreApplication::setApplicationName(QStringLiteral("Ostrel"));
        QSettings().clear();
    }
    static QString stored(const QString& key) {
        return QSettings().value(QStringLiteral("Settings/") + key).toString();
    }

    ezVidCap capture;
    AppState state;
};

// What a message box showed, answered with OK from a timer.
struct SeenMessage {
    bool shown = false;
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::Information;
};

// Closes every message box that opens while it lives, remembering the first.
class MessageWatcher {
public:
    MessageWatcher() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                if (!seen.shown) {
                    seen = {true, box->text(), box->windowTitle(), box->icon()};
                }
                box->accept();
            }
        });
        timer_.start(10);
    }
    SeenMessage seen;

private:
    QTimer timer_;
};

}  // namespace

TEST_F(VideoWindow, LoadRestoresTheStoredPositionAndVisibility) {
    QSettings settings;
    settings.setValue(QStringLiteral("Settings/VideoLeft"), QStringLiteral("1500"));
    settings.setValue(QStringLiteral("Settings/VideoTop"), QStringLiteral("3000"));
    settings.setValue(QStringLiteral("Settings/VideoVisible"), QStringLiteral("False"));

    frmVideo window(capture, state);
    EXPECT_EQ(window.windowTitle(), "Ostrel - Video");
    EXPECT_EQ(window.pos(), QPoint(vid::TwipsToPixelsX(1500), vid::TwipsToPixelsY(3000)));
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.captureDisplay(), capture.display());
    EXPECT_EQ(capture.display()->parentWidget(), &window) << "the live picture is its content";
}

TEST_F(VideoWindow, LoadWithoutStoredEntriesShowsItAtTheDefaultPlace) {
    frmVideo window(capture, state);
    EXPECT_EQ(window.pos(), QPoint(vid::TwipsToPixelsX(100), vid::TwipsToPixelsY(100)));
    EXPECT_TRUE(window.isVisible());
}

TEST_F(VideoWindow, RealCloseWritesPositionAndVisibility) {
    frmVideo window(capture, state);
    window.move(40, 60);
    ASSERT_EQ(window.pos(), QPoint(40, 60));
    EXPECT_TRUE(window.close());
    EXPECT_EQ(stored(QStringLiteral("VideoLeft")), QString::number(vid::PixelsToTwipsX(40)));
    EXPECT_EQ(stored(QStringLiteral("VideoTop")), QString::number(vid::PixelsToTwipsY(60)));
    EXPECT_EQ(stored(QStringLiteral("VideoVisible")), "True");

    frmVideo hidden(capture, state);
    hidden.hide();
    hidden.close();
    EXPECT_EQ(stored(QStringLiteral("VideoVisible")), "False");
}

TEST_F(VideoWindow, CloseWhileRunningOnlyHides) {
    state.HideOnClose = true;
    frmVideo window(capture, state);
    QSignalSpy hidden(&window, &frmVideo::hiddenByClose);
    ASSERT_TRUE(window.isVisible());

    EXPECT_FALSE(window.close()) << "the close is cancelled";
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(hidden.count(), 1);
    EXPECT_FALSE(QSettings().contains(QStringLiteral("Settings/VideoLeft")));
}

TEST_F(VideoWindow, CaptureErrorShowsErrorAndTheTextUnlessTheCodeIsZero) {
    frmVideo window(capture, state);
    {
        MessageWatcher watcher;
        window.onCaptureError(0, QStringLiteral("nothing"));
        QCoreApplication::processEvents();
        EXPECT_FALSE(watcher.seen.shown);
    }
    {
        MessageWatcher watcher;
        window.onCaptureError(5, QStringLiteral("x"));
        ASSERT_TRUE(watcher.seen.shown);
        EXPECT_EQ(watcher.seen.text, "Error x");
        EXPECT_EQ(watcher.seen.title, "Ostrel");
        EXPECT_EQ(watcher.seen.icon, QMessageBox::NoIcon);
    }
    {
        // The capture control's own report reaches the window: a source that is missing at
        // start-up.
        QTemporaryDir dir;
        capture.setCommandLineSource(dir.filePath(QStringLiteral("absent.mkv")));
        MessageWatcher watcher;
        capture.applyStartupOptions(4);
        ASSERT_TRUE(watcher.seen.shown);
        EXPECT_TRUE(watcher.seen.text.startsWith(QStringLiteral("Error ")));
        EXPECT_GT(watcher.seen.text.size(), 8);
    }
}

TEST_F(VideoWindow, InteriorFitsTheLivePicture) {
    frmVideo window(capture, state);
    capture.setDriverIndex(capture.TestPatternIndex());
    EXPECT_EQ(window.requiredInteriorSize(), QSize(320, 240));
    capture.display()->move(8, 4);
    EXPECT_EQ(window.requiredInteriorSize(), QSize(2 * 8 + 320, 2 * 4 + 240));
}
