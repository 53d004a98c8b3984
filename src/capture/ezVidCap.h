#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "GstHandles.h"

class QWidget;

namespace ostrel::capture {

class CameraList;

// The capture control: live video from a camera, the built-in test pattern or a source named on
// the command line, through `source ! videoconvert ! videoscale ! capsfilter ! appsink`.
//
// Everything here runs on the GUI thread. GStreamer's streaming threads only post wake-ups to it
// (a new frame is waiting in the appsink, a message is waiting on the bus); the frame and the
// messages are then taken on the GUI thread, so no other thread touches a Qt object.
//
// Drivers are numbered from 0: the cameras GstDeviceMonitor lists, then the test pattern (always
// there), then the command-line source, if one was given.
class ezVidCap : public QObject {
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

    // Called once by the main window during its start-up: takes the display's pixel size (3 or 4
    // bytes) and connects the start-up driver. When that driver cannot be connected, CaptureError
    // reports why and the test pattern is connected in its place.
    void applyStartupOptions(int colRes);

    int DriverCount() const;
    QString DriverName(int n) const;
    int CameraCount() const;
    int TestPatternIndex() const { return CameraCount(); }
    // The connected driver; before the first connection, the one start-up will connect.
    int DriverIndex() const { return driverIndex_; }
    // Connects driver n; throws CaptureFailure (with GStreamer's message) when it cannot, and the
    // driver connected before stays connected. Choosing the connected driver again only
    // reconnects it when it has failed. Waits at most connectTimeout() for the first frame.
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

    // Size of one frame of the connected source in pixels; 0 without video. A source that failed
    // while running keeps its size and its last frame.
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

    std::chrono::milliseconds connectTimeout() const { return connectTimeout_; }
    void setConnectTimeout(std::chrono::milliseconds timeout) { connectTimeout_ = timeout; }

Q_SIGNALS:
    // A new frame is waiting for CopyFrame. Queued from the streaming thread, so it always
    // arrives through the GUI thread's event loop.
    void frameReady();
    // A capture error: from GStreamer's bus while running, or a failed (re)connection that no
    // caller could be told about otherwise. The code is never 0.
    void CaptureError(int code, const QString& text);
    // The connected driver changed (including a fall-back at start-up).
    void DriverIndexChanged(int index);

private:
    struct Connection;

    std::unique_ptr<Connection> openConnection(int driver);
    gst::ElementHandle makeSource(int driver) const;
    void adopt(std::unique_ptr<Connection> next);
    void reconnectAfterChange(const std::function<void()>& undo);
    QSize frameSize() const;

    // Wake-ups from the streaming threads; each is posted at most once until it has run.
    void wakeForSample();
    void wakeForBus();
    void takeNewestFrame();
    void processBusMessages();

    std::unique_ptr<CameraList> cameras_;
    std::unique_ptr<Connection> connection_;
    QString commandLineSource_;
    int driverIndex_ = 0;
    int colRes_ = 4;
    std::map<int, QSize> chosenSize_;
    std::chrono::milliseconds connectTimeout_{2500};

    QImage latest_;
    bool fresh_ = false;
    QPointer<QWidget> display_;

    std::atomic<bool> sampleWakePending_{false};
    std::atomic<bool> busWakePending_{false};
};

}  // namespace ostrel::capture
