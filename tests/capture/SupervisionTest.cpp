#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <vector>

#include "SourceElements.h"
#include "SourceSupervisor.h"
#include "ezVidCap.h"
#include "support/MjpegServer.h"

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
        delays.push_back(long(SourceSupervisor::retryDelay(retry) / 1s));
    }
    EXPECT_EQ(delays, (std::vector<long>{1, 2, 4, 8, 16, 30, 30}));
}

// A slow MJPEG camera (10 frames of 2 KB a second) shows its first frame at once. Its server
// stops and starts again on the same port, then keeps its connection but sends nothing: each
// time the source is lost, reported once, and back by itself.
TEST(SourceSupervision, HttpCameraThatStopsOrStallsComesBackByItself) {
    MjpegServer camera(10);
    const QByteArray picture = jpegPicture("grey", 2048);
    ASSERT_EQ(picture.size(), 2048);
    camera.show(picture);
    ASSERT_TRUE(camera.start());
    ezVidCap capture;
    capture.setSilenceLimit(1500ms);
    capture.setCommandLineSource(camera.url());
    QSignalSpy changes(&capture, &ezVidCap::StateChanged);
    QSignalSpy errors(&capture, &ezVidCap::CaptureError);
    QElapsedTimer connecting;
    connecting.start();
    capture.setDriverIndex(capture.TestPatternIndex() + 1);
    EXPECT_LT(connecting.elapsed(), 2000) << "no download buffer before the first frame";
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

// A FIFO nobody writes blocks whoever opens it, for ever: the attempt fails in time and, without
// the fall-back to the test pattern, such a source counts as lost at start. (The real program's
// test shows that calls and signals are answered meanwhile.)
TEST(SourceSupervision, FifoNobodyWritesFailsInTimeAndIsLostAtStart) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("camera.fifo"));
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    ezVidCap capture;
    capture.setConnectTimeout(1000ms);
    capture.setCommandLineSource(fifo);
    capture.setFallBackToTestPattern(false);
    QSignalSpy errors(&capture, &ezVidCap::CaptureError);
    capture.applyStartupOptions(4);
    EXPECT_EQ(capture.State(), "lost");
    ASSERT_EQ(errors.count(), 1);
    EXPECT_TRUE(errors.at(0).at(1).toString().contains(QStringLiteral("did not open")));
    EXPECT_EQ(capture.DriverIndex(), capture.TestPatternIndex() + 1);
}

// An RTSP camera gets a jitter buffer of at most 200 ms: GStreamer's 2 s would come on top of
// every event.
TEST(SourceSupervision, RtspCameraHasAShortJitterBuffer) {
    namespace gst = ostrel::capture::gst;
    gst::ensureInitialised();
    gst::ElementHandle bin = ostrel::capture::makeCommandLineSource(
        QStringLiteral("rtsp://127.0.0.1:9/camera"));
    guint latency = 0;
    const auto rtspLatency = [](GstBin*, GstBin*, GstElement* element, gpointer found) {
        if (g_strcmp0(G_OBJECT_TYPE_NAME(element), "GstRTSPSrc") == 0) {
            g_object_get(element, "latency", static_cast<guint*>(found), nullptr);
        }
    };
    g_signal_connect(bin.get(), "deep-element-added", G_CALLBACK(+rtspLatency), &latency);
    gst_element_set_state(bin.get(), GST_STATE_PAUSED);  // the URI decoder makes its source now
    gst_element_set_state(bin.get(), GST_STATE_NULL);
    EXPECT_EQ(latency, 200u);
}
