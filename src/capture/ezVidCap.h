#pragma once

#include <gst/gst.h>

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

class QWidget;

namespace ostrel::capture {

namespace gst {

// Whether a handle takes over a reference its caller already owns, or adds one of its own.
enum class Ref { Take, Add };

// Owns one reference to a GStreamer object: released when the handle goes, added when copied.
template <typename T, T* (*RefFn)(T*), void (*UnrefFn)(T*)>
class Handle {
public:
    Handle() = default;
    Handle(T* object, Ref mode) : p_(object) {
        if (p_ && mode == Ref::Add) {
            RefFn(p_);
        }
    }
    Handle(const Handle& other) : Handle(other.p_, Ref::Add) {}
    Handle(Handle&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Handle& operator=(Handle other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~Handle() {
        if (p_) {
            UnrefFn(p_);
        }
    }

    T* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

namespace detail {
template <typename T>
T* objectRef(T* p) {
    return static_cast<T*>(gst_object_ref(p));
}
template <typename T>
void objectUnref(T* p) {
    gst_object_unref(p);
}
template <typename T>
T* miniObjectRef(T* p) {
    return reinterpret_cast<T*>(gst_mini_object_ref(GST_MINI_OBJECT_CAST(p)));
}
template <typename T>
void miniObjectUnref(T* p) {
    gst_mini_object_unref(GST_MINI_OBJECT_CAST(p));
}
}  // namespace detail

template <typename T>
using ObjectHandle = Handle<T, detail::objectRef<T>, detail::objectUnref<T>>;
template <typename T>
using MiniObjectHandle = Handle<T, detail::miniObjectRef<T>, detail::miniObjectUnref<T>>;

using ElementHandle = ObjectHandle<GstElement>;
using BusHandle = ObjectHandle<GstBus>;
using PadHandle = ObjectHandle<GstPad>;
using DeviceHandle = ObjectHandle<GstDevice>;
using DeviceMonitorHandle = ObjectHandle<GstDeviceMonitor>;
using CapsHandle = MiniObjectHandle<GstCaps>;
using SampleHandle = MiniObjectHandle<GstSample>;
using MessageHandle = MiniObjectHandle<GstMessage>;

// Elements fresh from a factory or the parser carry a floating reference: sink it, so the handle
// owns the element outright and a bin that adds it takes a reference of its own.
inline ElementHandle adoptFloating(GstElement* element) {
    return element ? ElementHandle(GST_ELEMENT(gst_object_ref_sink(element)), Ref::Take)
                   : ElementHandle();
}

struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorHandle = std::unique_ptr<GError, ErrorFree>;

struct StringFree {
    void operator()(gchar* text) const { g_free(text); }
};
using StringHandle = std::unique_ptr<gchar, StringFree>;

// gst_init, once per process.
void ensureInitialised();

}  // namespace gst

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
    struct CameraList;

    std::unique_ptr<Connection> openConnection(int driver);
    gst::ElementHandle makeSource(int driver) const;
    void adopt(std::unique_ptr<Connection> next);
    void reconnectAfterChange(const std::function<void()>& undo);
    QSize frameSize() const;
    gst::ElementHandle colorBalance() const;

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
