#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include <gst/video/video-info.h>

#include "GstHandles.h"

namespace ostrel::capture {

using Clock = std::chrono::steady_clock;

// What a pipeline's thread reports to the GUI thread.
struct PipelineEvent {
    enum class Kind {
        Started,       // the first frame arrived; `size` is the frame size from now on
        Failed,        // it could not be started: `code`, `text`
        Error,         // it failed after it had started: `code`, `text`
        Ended,         // end of stream; `framesSinceRewind` frames came since the last rewind
        Rewound,       // a rewind to the start worked
        RewindFailed,  // ... or did not (a live stream, a file that went away)
    };
    explicit PipelineEvent(Kind kind_) : kind(kind_) {}

    Kind kind;
    std::uint64_t serial = 0;
    QSize size;
    int code = 1;
    QString text;
    std::int64_t framesSinceRewind = 0;
};

// Receives what pipelines report, on the GUI thread.
class PipelineListener {
public:
    virtual ~PipelineListener() = default;
    virtual void pipelineEvent(const PipelineEvent& event) = 0;
    // A new frame waits in the pipeline `serial`.
    virtual void pipelineFrame(std::uint64_t serial) = 0;
};

// Where the threads of pipelines post their reports: queued calls to a listener that lives on
// the GUI thread, for as long as it lives. It also counts the threads, so that the listener can
// give them a moment to let go of their sources when it goes.
class Mailbox {
public:
    Mailbox(QObject* context, PipelineListener* listener)
        : context_(context), listener_(listener) {}

    // Runs `call` with the listener on the GUI thread later; nothing once closed.
    void post(std::function<void(PipelineListener&)> call);
    // No call is posted after this returns. The listener calls it as it goes.
    void close();

    void threadStarted();
    void threadEnded();
    // A thread inside a state change that may never return (a FIFO nobody writes).
    void threadBlocked(bool blocked);
    // Waits until every thread that is not blocked has ended, or until `deadline`.
    void waitForThreads(Clock::time_point deadline);

private:
    std::mutex mutex_;
    std::condition_variable threadsChanged_;
    QObject* context_;
    PipelineListener* listener_;
    int threads_ = 0;
    int blocked_ = 0;
};

// One pipeline `source ! videoconvert ! videoscale ! capsfilter ! appsink` and the thread that
// changes its state. Built on the GUI thread; every state change (opening the source, the wait
// for its first frame, rewinding, stopping) runs on its own thread, which reports through the
// mailbox. A source that blocks in opening for ever blocks only that thread.
//
// The GUI-side object can go at any time: the thread and GStreamer's callbacks share what they
// need with it, and the thread lets go of the pipeline only after stopping it.
class SourcePipeline {
public:
    struct Options {
        gst::ElementHandle source;
        int bytesPerPixel = 4;  // 3: BGR, 4: BGRx
        // Frames are scaled to this size; without it, the size of the first frame is kept.
        std::optional<QSize> size;
        // For messages: what the user knows the source as.
        QString name;
    };

    // Builds the pipeline; throws CaptureFailure when it cannot be built. Nothing runs yet.
    SourcePipeline(std::uint64_t serial, Options options, std::shared_ptr<Mailbox> mailbox);
    // Asks the thread to stop, and returns at once.
    ~SourcePipeline();
    SourcePipeline(const SourcePipeline&) = delete;
    SourcePipeline& operator=(const SourcePipeline&) = delete;

    // Starts the thread. It first waits until `predecessor` has stopped (a camera opens only
    // once), then plays the pipeline and waits for the first frame.
    void start(const SourcePipeline* predecessor = nullptr);
    // Asks the thread to stop the pipeline and let go of the source; returns at once.
    void stop();
    // Asks for a rewind to the start (a file that ended).
    void rewind();

    std::uint64_t serial() const { return serial_; }
    const QString& name() const { return name_; }
    GstElement* source() const { return source_.get(); }
    // The frame size, once Started was reported; the GUI thread sets it then.
    QSize size() const { return size_; }
    void setSize(QSize size) { size_ = size; }
    bool stopRequested() const;
    // The thread is still inside the state change that opens the source.
    bool opening() const;

    // Takes the newest frame waiting in the sink as an image of its own (Format_BGR888 or
    // Format_RGB32); a null image when there is none.
    QImage takeNewestFrame();
    // Frames the source delivered per second over the last five seconds (or since its first
    // frame, when that was later), and when the last came.
    double framesPerSecond(Clock::time_point now) const;
    std::optional<Clock::time_point> lastFrameTime() const;

    // Shared with the pipeline's thread and GStreamer's callbacks; handed to the thread.
    struct Link;
    struct Parts;

private:
    const std::uint64_t serial_;
    const QString name_;
    std::shared_ptr<Link> link_;
    gst::ElementHandle source_;
    gst::ElementHandle sink_;
    QSize size_;
    std::unique_ptr<Parts> parts_;  // until start() hands them to the thread
    // The layout of the sink's samples, worked out again only when their caps change (one caps
    // object serves sample after sample; the reference held here keeps it unchanged).
    gst::CapsHandle frameCaps_;
    GstVideoInfo frameInfo_{};
};

}  // namespace ostrel::capture
