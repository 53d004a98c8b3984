#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <vector>

#include "CaptureErrors.h"
#include "SourceSupervisor.h"
#include "ezVidCap.h"
#include "support/MjpegServer.h"

using ostrel::capture::CaptureFailure;
using ostrel::capture::ezVidCap;
using ostrel::capture::SourceSupervisor;
using namespace std::chrono_literals;

namespace {

constexpr int kWaitMs = 8000;

QStringList statesIn(const QSignalSpy& changes) {
    QStringList states;
    for (const QList<QVariant>& change : changes) {
        states << change.at(0).toString();
    }
    return states;
}

bool reaches(const ezVidCap& capture, const char* state) {
    return QTest::qWaitFor([&] { return capture.State() == QLatin1String(state); }, kWaitMs);
}

}  // namespace

TEST(SourceSupervision, RetriesAfterOneTwoFourEightSixteenThenEveryThirtySeconds) {
    std::vector<long> delays;
    for (int retry = 1; retry <= 7; ++retry) {
        delays.push_back(long(SourceSupervisor::retryDelay(retry).count()));
    }
    EXPECT_EQ(delays, (std::vector<long>{1000, 2000, 4000, 8000, 16000, 30000, 30000}));
}

// The camera's server stops and starts again on the same port, then keeps its connection but
// sends nothing: each time the source is lost, reported once, and back by itself.
TEST(SourceSupervision, HttpCameraThatStopsOrStallsComesBackByItself) {
    MjpegServer camera;
    camera.show(jpegPicture("snow"));
    ASSERT_TRUE(camera.start());
    ezVidCap capture;
    capture.setSilenceLimit(1500ms);
    capture.setCommandLineSource(camera.url());
    QSignalSpy changes(&capture, &ezVidCap::StateChanged);
    QSignalSpy errors(&capture, &ezVidCap::CaptureError);
    capture.setDriverIndex(capture.TestPatternIndex() + 1);
    EXPECT_EQ(capture.State(), "playing");
    EXPECT_EQ(QSize(capture.Width(), capture.Height()), QSize(64, 48));
    EXPECT_TRUE(QTest::qWaitFor([&] { return capture.FramesPerSecond() > 6; }, kWaitMs))
        << capture.FramesPerSecond();

    const quint16 port = camera.port();
    camera.stop();
    ASSERT_TRUE(reaches(capture, "lost"));
    ASSERT_EQ(errors.count(), 1);
    EXPECT_NE(errors.at(0).at(0).toInt(), 0);
    EXPECT_FALSE(errors.at(0).at(1).toString().isEmpty());
    EXPECT_EQ(capture.Width(), 64) << "the size stays while the source is away";
    ASSERT_TRUE(camera.start(port));
    ASSERT_TRUE(reaches(capture, "playing"));
    QImage frame;
    EXPECT_TRUE(QTest::qWaitFor([&] { return capture.CopyFrame(frame); }, kWaitMs));

    camera.setStalled(true);
    ASSERT_TRUE(reaches(capture, "lost"));
    camera.setStalled(false);
    ASSERT_TRUE(reaches(capture, "playing"));

    EXPECT_EQ(errors.count(), 2) << "one report per loss";
    EXPECT_EQ(statesIn(changes), (QStringList{"playing", "lost", "playing", "lost", "playing"}));
}

// A FIFO nobody writes blocks whoever opens it, for ever: the event loop goes on meanwhile, the
// attempt fails in time, and the capture control goes at once even so.
TEST(SourceSupervision, FifoNobodyWritesNeverHoldsTheEventLoop) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("camera.fifo"));
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    auto capture = std::make_unique<ezVidCap>();
    capture->setConnectTimeout(1000ms);
    capture->setCommandLineSource(fifo);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(50);
    try {
        capture->setDriverIndex(capture->TestPatternIndex() + 1);
        ADD_FAILURE() << "connected a FIFO nobody writes";
    } catch (const CaptureFailure& failure) {
        EXPECT_TRUE(failure.text().contains(QStringLiteral("did not open"))) << failure.what();
    }
    EXPECT_GE(ticks, 10) << "timers ran while the source was opened";
    EXPECT_EQ(capture->State(), "connecting");

    // Without the fall-back to the test pattern, such a source counts as lost at start.
    capture->setFallBackToTestPattern(false);
    QSignalSpy errors(capture.get(), &ezVidCap::CaptureError);
    capture->applyStartupOptions(4);
    EXPECT_EQ(capture->State(), "lost");
    EXPECT_EQ(errors.count(), 1);
    EXPECT_EQ(capture->DriverIndex(), capture->TestPatternIndex() + 1);

    QElapsedTimer ending;
    ending.start();
    capture.reset();
    EXPECT_LT(ending.elapsed(), 1000) << "threads blocked in opening are not waited for";
}
