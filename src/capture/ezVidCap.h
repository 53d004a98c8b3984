#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "GstHandles.h"
#include "SourcePipeline.h"
#include "SourceSupervisor.h"

class QEventLoop;
class QWidget;

namespace ostrel::capture {

class CameraList;

// The capture control: live video from a camera, the built-in test pattern or a source named on
// the command line, through `source ! videoconvert ! videoscale ! capsfilter ! appsink`.
//
// It watches its source: the state is "connecting", "playing" (frames arrive) or "lost" (it
// failed, ended or went silent). A lost source is reported once (CaptureError) and tried again
// by itself until it comes back; a video file plays in a loop.
//
// Its objects live on the GUI thread. Every state change of a pipeline (opening, the wait for
// the first frame, rewinding, stopping) runs on that pipeline's own thread, and GStreamer's
// threads only record what happened and post wake-ups; frames are taken from the appsink on the
// GUI thread, newest only, so no other thread touches a Qt object.
//
// Drivers are numbered from 0: the cameras GstDeviceMonitor lists, then the test pattern (always
// there), then the command-line source, if one was given.
class ezVidCap : public QObject, private PipelineListener {
    Q_OBJECT

public:
    explicit ezVidCap(QObject* parent = nullptr);
    ~ezVidCap() override;

    // The driver to connect at start: the command-line source when there is one, else the first
    // camera, else the test pattern.
    static int StartupDriver(int cameraCount, bool hasCommandLineSource);

    // A device path ("/dev/video0"), a file, a URI (file://, rtsp://, http://) or a GStreamer
    // launch line ending in a video source. Empty removes it. Adds the last driver.
    void setCommandLineSource(const QString& source);
    QString commandLineSource() const { return commandLineSource_; }

    // Whether start-up connects the test pattern when the start-up driver cannot be connected,
    // or when there is no camera (the default); otherwise that driver counts as lost and is
    // tried again until it comes.
    void setFallBackToTestPattern(bool fallBack) { fallBackToTestPattern_ = fallBack; }
    bool fallBackToTestPattern() const { return fallBackToTestPattern_; }

    // Called once by the main window during its start-up: takes the display's pixel size (3 or 4
    // bytes) and connects the start-up driver. When that driver cannot be connected, CaptureError
    // reports why and the test pattern is connected in its place (see setFallBackToTestPattern).
    void applyStartupOptions(int colRes);

    int DriverCount() const;
    QString DriverName(int n) const;
    int CameraCount() const;
    int TestPatternIndex() const { return CameraCount(); }
    // The connected driver; before the first connection, the one start-up will connect.
    int DriverIndex() const { return driverIndex_; }
    // Connects driver n; throws CaptureFailure (with GStreamer's message) when it cannot, and the
    // driver connected before stays connected. Choosing the connected driver again only
    // reconnects it when it is lost. The source is opened away from the GUI thread; meanwhile
    // this waits for at most connectTimeout() in an event loop that serves everything but user
    // input (timers, the bus, signals). Throws ConnectionInterrupted when the program ends then.
    void setDriverIndex(int n);

    bool HasDlgFormat() const;
    bool HasDlgSource() const;
    bool HasDlgDisplay() const { return false; }
    // Lets the user pick one of the frame sizes the source offers; a new size reconnects.
    void ShowDlgFormat(QWidget* parent);
    // Sliders for the source's colour balance (brightness, contrast, ...), applied live.
    void ShowDlgSource(QWidget* parent);
    void ShowDlgDisplay(QWidget* parent);
    // The frame sizes the connected source offers, smallest first.
    QList<QSize> OfferedSizes() const;

    // Size of one frame of the connected source in pixels; 0 without video. A source that is
    // lost keeps its size and its last frame, and comes back at that size.
    int Width() const { return frameSize().width(); }
    int Height() const { return frameSize().height(); }

    // Hands the newest frame over and returns true, or returns false and leaves `target` alone
    // when no frame was announced (frameReady) since the last hand-over. Frames are Format_BGR888
    // at 3 bytes per pixel and Format_RGB32 at 4.
    bool CopyFrame(QImage& target);

    int ColRes() const { return colRes_; }
    // 3 (GStreamer BGR) or 4 (BGRx); a change reconnects the connected driver.
    void setColRes(int bytesPerPixel);

    // Shows the live picture at its own size; the Video window holds it.
    QWidget* display() const;

    // The source: its state ("connecting", "playing", "lost"), what it is, and the frames it
    // delivered per second over the last 5 s.
    QString State() const { return sourceStateName(supervisor_.state()); }
    SourceState sourceState() const { return supervisor_.state(); }
    QString Description() const { return DriverName(driverIndex_); }
    double FramesPerSecond() const;

    // The program is ending: a connection being waited for is given up (setDriverIndex throws
    // ConnectionInterrupted), none is waited for from now on, and a lost source is not tried
    // again. (QCoreApplication::quit ends no event loop before exec() has started.)
    void shutDown();

    // How long a connection may take to its first frame before it counts as failed (10 s).
    std::chrono::milliseconds connectTimeout() const { return connectTimeout_; }
    void setConnectTimeout(std::chrono::milliseconds timeout) { connectTimeout_ = timeout; }
    // How long a playing source may deliver no frame before it counts as lost (5 s).
    void setSilenceLimit(std::chrono::milliseconds limit) { supervisor_.setSilenceLimit(limit); }

Q_SIGNALS:
    // A new frame is waiting for CopyFrame. Queued from the streaming thread, so it always
    // arrives through the GUI thread's event loop.
    void frameReady();
    // A capture error: the loss of a running source (once per loss, with GStreamer's text), or a
    // failed (re)connection that no caller could be told about otherwise. The code is never 0.
    void CaptureError(int code, const QString& text);
    // The connected driver changed (including a fall-back at start-up).
    void DriverIndexChanged(int index);
    // The source's state changed; `message` says why ("lost": GStreamer's text).
    void StateChanged(const QString& state, const QString& message);

private:
    struct Attempt;

    std::unique_ptr<SourcePipeline> makePipeline(int driver, std::optional<QSize> size);
    gst::ElementHandle makeSource(int driver) const;
    std::optional<QSize> sizeFor(int driver) const;
    // Starts opening `driver` on its pipeline's thread; CaptureFailure when it cannot be built.
    void beginAttempt(int driver, bool automatic, std::optional<QSize> size,
                      const SourcePipeline* predecessor);
    // Waits for the attempt begun last; returns its pipeline, playing, or throws.
    std::unique_ptr<SourcePipeline> awaitAttempt();
    void abandonAttempt();
    void attemptTimedOut();
    void attemptResolved(const PipelineEvent& event);
    void adopt(std::unique_ptr<SourcePipeline> pipeline, int driver);
    void reconnectAfterChange(const std::function<void()>& undo);
    void lose(int code, const QString& text);
    void retry();
    void takeNewestFrame();
    QSize frameSize() const;
    bool live() const;

    // PipelineListener
    void pipelineEvent(const PipelineEvent& event) override;
    void pipelineFrame(std::uint64_t serial) override;

    std::unique_ptr<CameraList> cameras_;
    std::shared_ptr<Mailbox> mailbox_;
    SourceSupervisor supervisor_;
    // The pipeline frames come from (stopped while the source is lost), and the one being opened.
    std::unique_ptr<SourcePipeline> connection_;
    std::unique_ptr<Attempt> attempt_;
    std::uint64_t lastSerial_ = 0;
    QEventLoop* waitLoop_ = nullptr;  // while a caller waits for a connection
    bool shutDown_ = false;

    QString commandLineSource_;
    int driverIndex_ = 0;
    int colRes_ = 4;
    std::map<int, QSize> chosenSize_;
    std::chrono::milliseconds connectTimeout_{10000};
    bool fallBackToTestPattern_ = true;

    QImage latest_;
    bool fresh_ = false;
    QPointer<QWidget> display_;
};

}  // namespace ostrel::capture
