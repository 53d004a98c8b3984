#include "SourcePipeline.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <atomic>
#include <deque>
#include <memory>
#include <thread>

#include "CaptureErrors.h"
#include "SourceElements.h"

namespace ostrel::capture {

namespace {

constexpr auto kRateWindow = std::chrono::seconds(5);

// The sample's frame as an image, without a copy: the image reads the mapped buffer and keeps it
// mapped, and so referenced, until its last copy goes. Only the newest frame is kept (each new
// one replaces it everywhere), so the pipeline lends the program one or two of its buffers at a
// time. The image is read-only: a write would detach it into a copy of its own.
QImage imageFromSample(GstSample* sample, const GstVideoInfo& info) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!buffer) {
        return {};
    }
    QImage::Format format = QImage::Format_Invalid;
    switch (GST_VIDEO_INFO_FORMAT(&info)) {
        case GST_VIDEO_FORMAT_BGR:
            format = QImage::Format_BGR888;
            break;
        case GST_VIDEO_FORMAT_BGRx:
            format = QImage::Format_RGB32;
            break;
        default:
            return {};
    }
    auto frame = std::make_unique<GstVideoFrame>();
    if (!gst_video_frame_map(frame.get(), &info, buffer, GST_MAP_READ)) {
        return {};
    }
    const auto* data = static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(frame.get(), 0));
    const int width = GST_VIDEO_FRAME_WIDTH(frame.get());
    const int height = GST_VIDEO_FRAME_HEIGHT(frame.get());
    const qsizetype stride = GST_VIDEO_FRAME_PLANE_STRIDE(frame.get(), 0);
    const auto release = [](void* mapped) {
        auto* owned = static_cast<GstVideoFrame*>(mapped);
        gst_video_frame_unmap(owned);  // drops the frame's reference to the buffer
        delete owned;
    };
    return QImage(data, width, height, stride, format, release, frame.release());
}

}  // namespace

// Mailbox -------------------------------------------------------------------------------------

void Mailbox::post(std::function<void(PipelineListener&)> call) {
    const std::lock_guard lock(mutex_);
    if (context_ == nullptr) {
        return;
    }
    PipelineListener* listener = listener_;
    QMetaObject::invokeMethod(
        context_, [listener, call = std::move(call)] { call(*listener); }, Qt::QueuedConnection);
}

void Mailbox::close() {
    const std::lock_guard lock(mutex_);
    context_ = nullptr;
    listener_ = nullptr;
}

void Mailbox::threadStarted() {
    const std::lock_guard lock(mutex_);
    ++threads_;
}

void Mailbox::threadEnded() {
    {
        const std::lock_guard lock(mutex_);
        --threads_;
    }
    threadsChanged_.notify_all();
}

void Mailbox::threadBlocked(bool blocked) {
    {
        const std::lock_guard lock(mutex_);
        blocked_ += blocked ? 1 : -1;
    }
    threadsChanged_.notify_all();
}

void Mailbox::waitForThreads(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    threadsChanged_.wait_until(lock, deadline, [this] { return threads_ <= blocked_; });
}

// What the GUI thread, the pipeline's thread and GStreamer's threads share -----------------------

struct SourcePipeline::Link {
    Link(std::uint64_t serial_, QString name_, std::shared_ptr<Mailbox> mailbox_)
        : serial(serial_), name(std::move(name_)), mailbox(std::move(mailbox_)) {}

    const std::uint64_t serial;
    const QString name;
    const std::shared_ptr<Mailbox> mailbox;

    mutable std::mutex mutex;
    std::condition_variable changed;
    // From GStreamer's streaming threads and bus.
    bool gotFrame = false;
    std::int64_t framesSinceRewind = 0;
    std::deque<Clock::time_point> recentFrames;  // the last kRateWindow
    std::optional<Clock::time_point> firstFrame;
    bool errored = false;
    int errorCode = 1;
    QString errorText;
    bool ended = false;
    bool latencyChanged = false;
    bool clockLost = false;
    // From the GUI thread.
    bool stopRequested = false;
    bool rewindRequested = false;
    // From the pipeline's thread.
    bool opening = false;
    bool finished = false;

    std::atomic<bool> frameWakePending{false};

    void report(PipelineEvent event) {
        event.serial = serial;
        mailbox->post([event](PipelineListener& listener) { listener.pipelineEvent(event); });
    }

    static GstFlowReturn onNewSample(GstAppSink*, gpointer data) {
        const std::shared_ptr<Link>& self = *static_cast<std::shared_ptr<Link>*>(data);
        const Clock::time_point now = Clock::now();
        {
            const std::lock_guard lock(self->mutex);
            self->gotFrame = true;
            ++self->framesSinceRewind;
            if (!self->firstFrame) {
                self->firstFrame = now;
            }
            self->recentFrames.push_back(now);
            while (now - self->recentFrames.front() > kRateWindow) {
                self->recentFrames.pop_front();
            }
        }
        self->changed.notify_all();
        if (!self->frameWakePending.exchange(true)) {
            self->mailbox->post([link = self](PipelineListener& listener) {
                link->frameWakePending = false;
                listener.pipelineFrame(link->serial);
            });
        }
        return GST_FLOW_OK;
    }

    // Records what the pipeline's thread acts on; every message is dropped here, so the bus
    // never fills up and nobody needs to pop it.
    static GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer data) {
        Link& self = **static_cast<std::shared_ptr<Link>*>(data);
        {
            const std::lock_guard lock(self.mutex);
            switch (GST_MESSAGE_TYPE(message)) {
                case GST_MESSAGE_ERROR:
                    if (!self.errored) {
                        GError* error = nullptr;
                        gst_message_parse_error(message, &error, nullptr);
                        const gst::ErrorHandle owned(error);
                        self.errored = true;
                        self.errorText = owned ? gst::text(owned->message) : QString();
                        self.errorCode = owned && owned->code != 0 ? owned->code : 1;
                    }
                    break;
                case GST_MESSAGE_EOS:
                    self.ended = true;
                    break;
                case GST_MESSAGE_LATENCY:
                    self.latencyChanged = true;
                    break;
                case GST_MESSAGE_CLOCK_LOST:
                    self.clockLost = true;
                    break;
                default:
                    break;
            }
        }
        self.changed.notify_all();
        gst_message_unref(message);
        return GST_BUS_DROP;
    }

    static void release(gpointer data) { delete static_cast<std::shared_ptr<Link>*>(data); }
};

// The pipeline's thread -------------------------------------------------------------------------

struct SourcePipeline::Parts {
    gst::ElementHandle pipeline;
    gst::ElementHandle filter;
    gst::ElementHandle sink;
    gst::CapsHandle caps;
    gst::BusHandle bus;
    std::shared_ptr<Link> predecessor;
};

namespace {

using Link = SourcePipeline::Link;
using Parts = SourcePipeline::Parts;

bool stopRequested(Link& link) {
    const std::lock_guard lock(link.mutex);
    return link.stopRequested;
}

// Waits until `predecessor` has let go of its source, or until `link` is asked to stop.
void waitForPredecessor(Link& predecessor, Link& link) {
    std::unique_lock lock(predecessor.mutex);
    while (!predecessor.finished) {
        predecessor.changed.wait_for(lock, std::chrono::milliseconds(50));
        lock.unlock();
        if (stopRequested(link)) {
            return;
        }
        lock.lock();
    }
}

// Plays the pipeline and waits for its first frame: the size of the frames is known then.
// True once Started was reported; false when the pipeline failed (reported) or was stopped.
bool startPlaying(Link& link, Parts& parts) {
    link.mailbox->threadBlocked(true);
    {
        const std::lock_guard lock(link.mutex);
        link.opening = true;
    }
    const GstStateChangeReturn change =
        gst_element_set_state(parts.pipeline.get(), GST_STATE_PLAYING);
    {
        const std::lock_guard lock(link.mutex);
        link.opening = false;
    }
    link.mailbox->threadBlocked(false);

    std::unique_lock lock(link.mutex);
    if (change == GST_STATE_CHANGE_FAILURE && !link.errored) {
        link.errored = true;
        link.errorText = QStringLiteral("\"%1\" could not be started.").arg(link.name);
    }
    link.changed.wait(lock, [&link] {
        return link.gotFrame || link.errored || link.ended || link.stopRequested;
    });
    if (link.stopRequested) {
        return false;
    }
    if (link.errored || !link.gotFrame) {
        PipelineEvent failed{PipelineEvent::Kind::Failed};
        failed.code = link.errorCode;
        failed.text = link.errored
                          ? link.errorText
                          : QStringLiteral("\"%1\" ended without a picture.").arg(link.name);
        lock.unlock();
        link.report(failed);
        return false;
    }
    lock.unlock();

    gst::PadHandle sinkPad(gst_element_get_static_pad(parts.sink.get(), "sink"), gst::Ref::Take);
    gst::CapsHandle negotiated(gst_pad_get_current_caps(sinkPad.get()), gst::Ref::Take);
    GstVideoInfo info;
    if (!negotiated || !gst_video_info_from_caps(&info, negotiated.get()) ||
        GST_VIDEO_INFO_WIDTH(&info) <= 0 || GST_VIDEO_INFO_HEIGHT(&info) <= 0) {
        PipelineEvent failed{PipelineEvent::Kind::Failed};
        failed.text = QStringLiteral("\"%1\" gave no frame size.").arg(link.name);
        link.report(failed);
        return false;
    }
    const QSize size(GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info));
    // Keep this size for the life of the pipeline: a stream that changes its size midway is
    // scaled, so the frame size the main window worked out stays true.
    if (!gst_structure_has_field(gst_caps_get_structure(parts.caps.get(), 0), "width")) {
        gst::CapsHandle pinned(gst_caps_copy(parts.caps.get()), gst::Ref::Take);
        gst_caps_set_simple(pinned.get(), "width", G_TYPE_INT, size.width(), "height", G_TYPE_INT,
                            size.height(), nullptr);
        g_object_set(parts.filter.get(), "caps", pinned.get(), nullptr);
    }
    PipelineEvent started{PipelineEvent::Kind::Started};
    started.size = size;
    link.report(started);
    return true;
}

// Serves the running pipeline until it is asked to stop: reports a failure and each end of the
// stream, rewinds on request, and keeps the latency and clock right.
void servePlaying(Link& link, Parts& parts) {
    std::unique_lock lock(link.mutex);
    bool errorReported = false;
    bool endReported = false;
    const auto outside = [&lock](auto&& work) {
        lock.unlock();
        work();
        lock.lock();
    };
    for (;;) {
        link.changed.wait(lock, [&] {
            return link.stopRequested || link.rewindRequested || link.latencyChanged ||
                   link.clockLost || (link.errored && !errorReported) ||
                   (link.ended && !endReported);
        });
        if (link.stopRequested) {
            return;
        }
        if (link.errored && !errorReported) {
            errorReported = true;
            PipelineEvent error{PipelineEvent::Kind::Error};
            error.code = link.errorCode;
            error.text = link.errorText;
            outside([&] { link.report(error); });
        } else if (link.latencyChanged) {
            link.latencyChanged = false;
            outside([&] { gst_bin_recalculate_latency(GST_BIN(parts.pipeline.get())); });
        } else if (link.clockLost) {
            // The standard cure: a new clock is chosen on the way back to playing.
            link.clockLost = false;
            outside([&] {
                gst_element_set_state(parts.pipeline.get(), GST_STATE_PAUSED);
                gst_element_set_state(parts.pipeline.get(), GST_STATE_PLAYING);
            });
        } else if (link.rewindRequested) {
            link.rewindRequested = false;
            link.ended = false;
            endReported = false;
            link.framesSinceRewind = 0;
            outside([&] {
                const bool rewound = gst_element_seek_simple(
                    parts.pipeline.get(), GST_FORMAT_TIME,
                    GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0);
                link.report(PipelineEvent{rewound ? PipelineEvent::Kind::Rewound
                                                  : PipelineEvent::Kind::RewindFailed});
            });
        } else if (link.ended && !endReported) {
            endReported = true;
            PipelineEvent ended{PipelineEvent::Kind::Ended};
            ended.framesSinceRewind = link.framesSinceRewind;
            outside([&] { link.report(ended); });
        }
    }
}

void runPipeline(std::shared_ptr<Link> link, std::unique_ptr<Parts> parts) {
    if (parts->predecessor) {
        waitForPredecessor(*parts->predecessor, *link);
        parts->predecessor.reset();
    }
    if (!stopRequested(*link) && startPlaying(*link, *parts)) {
        servePlaying(*link, *parts);
    }
    // Stops and joins the streaming threads: no callback runs after this.
    gst_element_set_state(parts->pipeline.get(), GST_STATE_NULL);
    gst_bus_set_sync_handler(parts->bus.get(), nullptr, nullptr, nullptr);
    const std::shared_ptr<Mailbox> mailbox = link->mailbox;
    parts.reset();
    {
        const std::lock_guard lock(link->mutex);
        link->finished = true;
    }
    link->changed.notify_all();
    link.reset();
    mailbox->threadEnded();
}

}  // namespace

// The GUI thread's side --------------------------------------------------------------------------

SourcePipeline::SourcePipeline(std::uint64_t serial, Options options,
                               std::shared_ptr<Mailbox> mailbox)
    : serial_(serial),
      name_(options.name),
      link_(std::make_shared<Link>(serial, options.name, std::move(mailbox))),
      source_(std::move(options.source)),
      parts_(std::make_unique<Parts>()) {
    Parts& p = *parts_;
    gst::ElementHandle convert = makeElement("videoconvert");
    gst::ElementHandle scale = makeElement("videoscale");
    p.filter = makeElement("capsfilter");
    p.sink = makeElement("appsink");
    sink_ = p.sink;
    p.pipeline = gst::adoptFloating(gst_pipeline_new("ostrel-capture"));

    p.caps =
        gst::CapsHandle(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING,
                                            options.bytesPerPixel == 3 ? "BGR" : "BGRx", nullptr),
                        gst::Ref::Take);
    if (options.size) {
        gst_caps_set_simple(p.caps.get(), "width", G_TYPE_INT, options.size->width(), "height",
                            G_TYPE_INT, options.size->height(), nullptr);
    }
    g_object_set(p.filter.get(), "caps", p.caps.get(), nullptr);

    auto* appSink = GST_APP_SINK(p.sink.get());
    // Only the newest frame matters; appsink's queue is unbounded otherwise.
    gst_app_sink_set_max_buffers(appSink, 1);
    gst_app_sink_set_drop(appSink, TRUE);
    g_object_set(p.sink.get(), "enable-last-sample", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &Link::onNewSample;
    gst_app_sink_set_callbacks(appSink, &callbacks, new std::shared_ptr<Link>(link_),
                               &Link::release);

    p.bus = gst::BusHandle(gst_element_get_bus(p.pipeline.get()), gst::Ref::Take);
    gst_bus_set_sync_handler(p.bus.get(), &Link::onBusMessage, new std::shared_ptr<Link>(link_),
                             &Link::release);

    GstBin* bin = GST_BIN(p.pipeline.get());
    for (GstElement* element :
         {source_.get(), convert.get(), scale.get(), p.filter.get(), p.sink.get()}) {
        gst_bin_add(bin, element);
    }
    if (!gst_element_link_many(source_.get(), convert.get(), scale.get(), p.filter.get(),
                               p.sink.get(), nullptr)) {
        throw CaptureFailure(QStringLiteral("\"%1\" has no video output.").arg(name_));
    }
}

SourcePipeline::~SourcePipeline() {
    stop();
    if (parts_) {
        // Never started: the pipeline is still in its null state.
        gst_bus_set_sync_handler(parts_->bus.get(), nullptr, nullptr, nullptr);
    }
}

void SourcePipeline::start(const SourcePipeline* predecessor) {
    if (!parts_) {
        return;
    }
    if (predecessor) {
        parts_->predecessor = predecessor->link_;
    }
    link_->mailbox->threadStarted();
    // Detached: a thread that blocks for ever in opening its source must not hold up the end
    // of the program. It owns what it touches.
    std::thread(runPipeline, link_, std::move(parts_)).detach();
}

void SourcePipeline::stop() {
    {
        const std::lock_guard lock(link_->mutex);
        link_->stopRequested = true;
    }
    link_->changed.notify_all();
}

void SourcePipeline::rewind() {
    {
        const std::lock_guard lock(link_->mutex);
        link_->rewindRequested = true;
    }
    link_->changed.notify_all();
}

bool SourcePipeline::stopRequested() const {
    const std::lock_guard lock(link_->mutex);
    return link_->stopRequested;
}

bool SourcePipeline::opening() const {
    const std::lock_guard lock(link_->mutex);
    return link_->opening;
}

QImage SourcePipeline::takeNewestFrame() {
    auto* appSink = GST_APP_SINK(sink_.get());
    gst::SampleHandle newest;
    while (GstSample* sample = gst_app_sink_try_pull_sample(appSink, 0)) {
        newest = gst::SampleHandle(sample, gst::Ref::Take);
    }
    if (!newest) {
        return {};
    }
    GstCaps* caps = gst_sample_get_caps(newest.get());
    if (caps != frameCaps_.get()) {
        frameCaps_ = {};
        if (!caps || !gst_video_info_from_caps(&frameInfo_, caps)) {
            return {};
        }
        frameCaps_ = gst::CapsHandle(caps, gst::Ref::Add);
    }
    return imageFromSample(newest.get(), frameInfo_);
}

double SourcePipeline::framesPerSecond(Clock::time_point now) const {
    const std::lock_guard lock(link_->mutex);
    if (!link_->firstFrame) {
        return 0.0;
    }
    const auto& frames = link_->recentFrames;
    const auto inWindow = std::count_if(frames.begin(), frames.end(), [now](Clock::time_point t) {
        return now - t <= kRateWindow;
    });
    // Early on, the window is the time since the first frame (at least a second).
    const auto window =
        std::clamp<Clock::duration>(now - *link_->firstFrame, std::chrono::seconds(1), kRateWindow);
    return double(inWindow) / std::chrono::duration<double>(window).count();
}

std::optional<Clock::time_point> SourcePipeline::lastFrameTime() const {
    const std::lock_guard lock(link_->mutex);
    if (link_->recentFrames.empty()) {
        return link_->firstFrame;
    }
    return link_->recentFrames.back();
}

}  // namespace ostrel::capture
