#include "ezVidCap.h"

#include <gst/app/gstappsink.h>
#include <gst/video/colorbalance.h>
#include <gst/video/video.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "CameraList.h"
#include "CaptureDialogs.h"
#include "CaptureDisplay.h"
#include "CaptureErrors.h"
#include "SourceElements.h"

namespace ostrel::capture {

namespace {

const QString kTestPatternName = QStringLiteral("Test pattern");
constexpr QSize kTestPatternSize{320, 240};

CaptureFailure failure(const QString& text, int code = 1) {
    return CaptureFailure(text, code);
}

// A deep copy of the sample's frame: the buffer may belong to a camera's small pool, which a
// frame kept by the main window must not hold on to. Copying is cheap next to the conversion
// GStreamer did already (measured: about 0.03 ms for 640 × 480 at 4 bytes per pixel).
QImage imageFromSample(GstSample* sample) {
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstVideoInfo info;
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps)) {
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
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
        return {};
    }
    const int width = GST_VIDEO_FRAME_WIDTH(&frame);
    const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
    const int sourceStride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    const auto* source = static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    QImage image(width, height, format);
    if (!image.isNull()) {
        const qsizetype rowBytes = qsizetype(width) * GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, 0);
        if (sourceStride == image.bytesPerLine()) {
            std::memcpy(image.bits(), source, std::size_t(image.sizeInBytes()));
        } else {
            for (int y = 0; y < height; ++y) {
                std::memcpy(image.scanLine(y), source + qsizetype(y) * sourceStride,
                            std::size_t(rowBytes));
            }
        }
    }
    gst_video_frame_unmap(&frame);
    return image;
}

}  // namespace

// One running pipeline for one driver. Its streaming threads only touch the fields under
// `mutex`, and post wake-ups to the owner; everything else is the GUI thread's.
struct ezVidCap::Connection {
    Connection(ezVidCap* owner_, int driver_) : owner(owner_), driver(driver_) {}
    ~Connection() {
        if (pipeline) {
            // Stops and joins the streaming threads, so no callback runs after this.
            gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        }
        if (bus) {
            gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    ezVidCap* const owner;
    const int driver;
    gst::ElementHandle pipeline;
    gst::ElementHandle source;
    gst::ElementHandle filter;
    gst::ElementHandle sink;
    gst::BusHandle bus;
    QSize size;
    // Stopped for good (an error, the end of a live stream, or a reconnection under way): the
    // device is released, while the frame size and the last frame stay where they are.
    bool failed = false;

    // Written by the streaming threads; read by the GUI thread while it waits for the first
    // frame.
    std::mutex mutex;
    std::condition_variable changed;
    bool gotFrame = false;
    bool ended = false;
    bool errored = false;
    QString firstError;
    int firstErrorCode = 1;

    static GstFlowReturn onNewSample(GstAppSink*, gpointer data) {
        auto* self = static_cast<Connection*>(data);
        {
            const std::lock_guard lock(self->mutex);
            self->gotFrame = true;
        }
        self->changed.notify_all();
        self->owner->wakeForSample();
        return GST_FLOW_OK;
    }

    static GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer data) {
        auto* self = static_cast<Connection*>(data);
        switch (GST_MESSAGE_TYPE(message)) {
            case GST_MESSAGE_ERROR: {
                GError* error = nullptr;
                gst_message_parse_error(message, &error, nullptr);
                gst::ErrorHandle owned(error);
                {
                    const std::lock_guard lock(self->mutex);
                    if (!self->errored) {
                        self->errored = true;
                        self->firstError = owned ? gst::text(owned->message) : QString();
                        self->firstErrorCode = owned && owned->code != 0 ? owned->code : 1;
                    }
                }
                self->changed.notify_all();
                break;
            }
            case GST_MESSAGE_EOS: {
                {
                    const std::lock_guard lock(self->mutex);
                    self->ended = true;
                }
                self->changed.notify_all();
                break;
            }
            case GST_MESSAGE_LATENCY:
            case GST_MESSAGE_CLOCK_LOST:
                break;
            default:
                // Nothing the GUI thread needs: dropping here keeps the bus from filling up.
                gst_message_unref(message);
                return GST_BUS_DROP;
        }
        self->owner->wakeForBus();
        return GST_BUS_PASS;
    }
};

ezVidCap::ezVidCap(QObject* parent)
    : QObject(parent), cameras_(std::make_unique<CameraList>(CameraList::probe())) {
    chosenSize_[TestPatternIndex()] = kTestPatternSize;
    driverIndex_ = StartupDriver(CameraCount(), false);
    display_ = new CaptureDisplay;
}

ezVidCap::~ezVidCap() {
    connection_.reset();
    delete display_.data();
}

int ezVidCap::StartupDriver(int cameraCount, bool hasCommandLineSource) {
    if (hasCommandLineSource) {
        return cameraCount + 1;
    }
    // The first camera, or the test pattern right after the (absent) cameras.
    return 0;
}

void ezVidCap::setCommandLineSource(const QString& source) {
    commandLineSource_ = source.trimmed();
    if (!connection_) {
        driverIndex_ = StartupDriver(CameraCount(), !commandLineSource_.isEmpty());
    }
}

int ezVidCap::CameraCount() const {
    return cameras_->count();
}

int ezVidCap::DriverCount() const {
    return CameraCount() + 1 + (commandLineSource_.isEmpty() ? 0 : 1);
}

QString ezVidCap::DriverName(int n) const {
    if (n >= 0 && n < CameraCount()) {
        return cameras_->name(n);
    }
    if (n == TestPatternIndex()) {
        return kTestPatternName;
    }
    if (n == TestPatternIndex() + 1 && !commandLineSource_.isEmpty()) {
        return commandLineSource_;
    }
    return {};
}

gst::ElementHandle ezVidCap::makeSource(int driver) const {
    if (driver < CameraCount()) {
        return cameras_->createSource(driver);
    }
    if (driver == TestPatternIndex()) {
        return makeTestPattern();
    }
    return makeCommandLineSource(commandLineSource_);
}

std::unique_ptr<ezVidCap::Connection> ezVidCap::openConnection(int driver) {
    auto connection = std::make_unique<Connection>(this, driver);
    Connection& c = *connection;

    c.source = makeSource(driver);
    gst::ElementHandle convert = makeElement("videoconvert");
    gst::ElementHandle scale = makeElement("videoscale");
    c.filter = makeElement("capsfilter");
    c.sink = makeElement("appsink");
    c.pipeline = gst::adoptFloating(gst_pipeline_new("ostrel-capture"));

    gst::CapsHandle caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING,
                                             colRes_ == 3 ? "BGR" : "BGRx", nullptr),
                         gst::Ref::Take);
    if (const auto chosen = chosenSize_.find(driver); chosen != chosenSize_.end()) {
        gst_caps_set_simple(caps.get(), "width", G_TYPE_INT, chosen->second.width(), "height",
                            G_TYPE_INT, chosen->second.height(), nullptr);
    }
    g_object_set(c.filter.get(), "caps", caps.get(), nullptr);

    auto* appSink = GST_APP_SINK(c.sink.get());
    // Only the newest frame matters; appsink's queue is unbounded otherwise.
    gst_app_sink_set_max_buffers(appSink, 1);
    gst_app_sink_set_drop(appSink, TRUE);
    g_object_set(c.sink.get(), "enable-last-sample", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &Connection::onNewSample;
    gst_app_sink_set_callbacks(appSink, &callbacks, &c, nullptr);

    c.bus = gst::BusHandle(gst_element_get_bus(c.pipeline.get()), gst::Ref::Take);
    gst_bus_set_sync_handler(c.bus.get(), &Connection::onBusMessage, &c, nullptr);

    GstBin* bin = GST_BIN(c.pipeline.get());
    for (GstElement* element :
         {c.source.get(), convert.get(), scale.get(), c.filter.get(), c.sink.get()}) {
        gst_bin_add(bin, element);
    }
    if (!gst_element_link_many(c.source.get(), convert.get(), scale.get(), c.filter.get(),
                               c.sink.get(), nullptr)) {
        throw failure(QStringLiteral("\"%1\" has no video output.").arg(DriverName(driver)));
    }

    const auto errorOr = [&c](const QString& fallback) {
        const std::lock_guard lock(c.mutex);
        return c.errored ? failure(c.firstError, c.firstErrorCode) : failure(fallback);
    };
    if (gst_element_set_state(c.pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        throw errorOr(QStringLiteral("\"%1\" could not be started.").arg(DriverName(driver)));
    }
    // Wait, boundedly, until the first frame reached the appsink: only then is the size known.
    {
        std::unique_lock lock(c.mutex);
        c.changed.wait_for(lock, connectTimeout_,
                           [&c] { return c.gotFrame || c.errored || c.ended; });
        if (c.errored) {
            throw failure(c.firstError, c.firstErrorCode);
        }
        if (!c.gotFrame) {
            throw failure(
                c.ended ? QStringLiteral("\"%1\" ended without a picture.").arg(DriverName(driver))
                        : QStringLiteral("No picture from \"%1\" within %2 ms.")
                              .arg(DriverName(driver))
                              .arg(connectTimeout_.count()));
        }
    }
    gst::PadHandle sinkPad(gst_element_get_static_pad(c.sink.get(), "sink"), gst::Ref::Take);
    gst::CapsHandle negotiated(gst_pad_get_current_caps(sinkPad.get()), gst::Ref::Take);
    GstVideoInfo info;
    if (!negotiated || !gst_video_info_from_caps(&info, negotiated.get()) ||
        GST_VIDEO_INFO_WIDTH(&info) <= 0 || GST_VIDEO_INFO_HEIGHT(&info) <= 0) {
        throw failure(QStringLiteral("\"%1\" gave no frame size.").arg(DriverName(driver)));
    }
    c.size = QSize(GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info));
    // Keep this size for the life of the connection: a stream that changes its size midway is
    // scaled, so the frame size the main window worked out stays true.
    if (!gst_structure_has_field(gst_caps_get_structure(caps.get(), 0), "width")) {
        gst::CapsHandle pinned(gst_caps_copy(caps.get()), gst::Ref::Take);
        gst_caps_set_simple(pinned.get(), "width", G_TYPE_INT, c.size.width(), "height", G_TYPE_INT,
                            c.size.height(), nullptr);
        g_object_set(c.filter.get(), "caps", pinned.get(), nullptr);
    }
    return connection;
}

void ezVidCap::adopt(std::unique_ptr<Connection> next) {
    const int previous = driverIndex_;
    connection_ = std::move(next);  // the old pipeline, if any, stops here
    driverIndex_ = connection_->driver;
    fresh_ = false;
    if (display_) {
        static_cast<CaptureDisplay*>(display_.data())->setFrameSize(connection_->size);
    }
    // The first frame is already waiting; its wake-up may have been taken by the old pipeline.
    wakeForSample();
    if (driverIndex_ != previous) {
        Q_EMIT DriverIndexChanged(driverIndex_);
    }
}

void ezVidCap::setDriverIndex(int n) {
    if (n < 0 || n >= DriverCount()) {
        throw failure(QStringLiteral("There is no capture driver %1.").arg(n));
    }
    if (connection_ && connection_->driver == n && !connection_->failed) {
        return;
    }
    // The new driver is opened while the old one keeps running (a failed one has let go of its
    // device already), so a failure leaves everything as it was.
    adopt(openConnection(n));
}

void ezVidCap::applyStartupOptions(int colRes) {
    setColRes(colRes);
    const int first = StartupDriver(CameraCount(), !commandLineSource_.isEmpty());
    try {
        setDriverIndex(first);
        return;
    } catch (const CaptureFailure& error) {
        Q_EMIT CaptureError(error.code(), QString::fromStdString(error.what()));
    }
    if (first != TestPatternIndex()) {
        try {
            setDriverIndex(TestPatternIndex());
        } catch (const CaptureFailure& error) {
            Q_EMIT CaptureError(error.code(), QString::fromStdString(error.what()));
        }
    }
}

void ezVidCap::reconnectAfterChange(const std::function<void()>& undo) {
    if (!connection_) {
        return;
    }
    const int driver = connection_->driver;
    // A camera opens only once: the running pipeline has to stop before the new one starts. It
    // stays in place, with its size and last frame, in case nothing can be connected again.
    connection_->failed = true;
    gst_element_set_state(connection_->pipeline.get(), GST_STATE_NULL);
    try {
        adopt(openConnection(driver));
        return;
    } catch (const CaptureFailure& error) {
        undo();
        try {
            adopt(openConnection(driver));
        } catch (const CaptureFailure&) {
            // The stopped pipeline stays with its last frame; the report below says why.
        }
        Q_EMIT CaptureError(error.code(), QString::fromStdString(error.what()));
    }
}

void ezVidCap::setColRes(int bytesPerPixel) {
    if (bytesPerPixel != 3 && bytesPerPixel != 4) {
        throw std::invalid_argument("bytes per pixel must be 3 or 4");
    }
    if (bytesPerPixel == colRes_) {
        return;
    }
    const int previous = colRes_;
    colRes_ = bytesPerPixel;
    reconnectAfterChange([this, previous] { colRes_ = previous; });
}

QSize ezVidCap::frameSize() const {
    return connection_ ? connection_->size : QSize(0, 0);
}

QWidget* ezVidCap::display() const {
    return display_.data();
}

void ezVidCap::wakeForSample() {
    if (!sampleWakePending_.exchange(true)) {
        QMetaObject::invokeMethod(
            this, [this] { takeNewestFrame(); }, Qt::QueuedConnection);
    }
}

void ezVidCap::wakeForBus() {
    if (!busWakePending_.exchange(true)) {
        QMetaObject::invokeMethod(this, &ezVidCap::processBusMessages, Qt::QueuedConnection);
    }
}

void ezVidCap::takeNewestFrame() {
    sampleWakePending_ = false;
    if (!connection_ || connection_->failed) {
        return;
    }
    auto* appSink = GST_APP_SINK(connection_->sink.get());
    gst::SampleHandle newest;
    while (GstSample* sample = gst_app_sink_try_pull_sample(appSink, 0)) {
        newest = gst::SampleHandle(sample, gst::Ref::Take);
    }
    if (!newest) {
        return;
    }
    QImage image = imageFromSample(newest.get());
    if (image.isNull() || image.size() != connection_->size) {
        return;
    }
    latest_ = std::move(image);
    fresh_ = true;
    if (display_) {
        static_cast<CaptureDisplay*>(display_.data())->setFrame(latest_);
    }
    Q_EMIT frameReady();
}

bool ezVidCap::CopyFrame(QImage& target) {
    // Only frames that frameReady announced are handed over, each once.
    if (!fresh_) {
        return false;
    }
    target = latest_;
    fresh_ = false;
    return true;
}

void ezVidCap::processBusMessages() {
    busWakePending_ = false;
    // Re-read the connection each time: a report below may run a nested event loop (a message
    // box) in which the driver changes.
    while (connection_) {
        Connection& c = *connection_;
        gst::MessageHandle message(gst_bus_pop(c.bus.get()), gst::Ref::Take);
        if (!message) {
            return;
        }
        switch (GST_MESSAGE_TYPE(message.get())) {
            case GST_MESSAGE_ERROR: {
                if (c.failed) {
                    break;  // one failure, one report: the elements after it only echo it
                }
                GError* error = nullptr;
                gst_message_parse_error(message.get(), &error, nullptr);
                gst::ErrorHandle owned(error);
                c.failed = true;
                gst_element_set_state(c.pipeline.get(), GST_STATE_NULL);
                const int code = owned && owned->code != 0 ? owned->code : 1;
                Q_EMIT CaptureError(code, owned ? gst::text(owned->message) : QString());
                break;
            }
            case GST_MESSAGE_EOS: {
                if (c.failed) {
                    break;
                }
                // A file plays in a loop; a live stream that ends cannot be rewound.
                if (!gst_element_seek_simple(
                        c.pipeline.get(), GST_FORMAT_TIME,
                        GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0)) {
                    c.failed = true;
                    gst_element_set_state(c.pipeline.get(), GST_STATE_NULL);
                    Q_EMIT CaptureError(GST_STREAM_ERROR_FAILED,
                                        QStringLiteral("The video stream of \"%1\" ended.")
                                            .arg(DriverName(c.driver)));
                }
                break;
            }
            case GST_MESSAGE_LATENCY:
                gst_bin_recalculate_latency(GST_BIN(c.pipeline.get()));
                break;
            case GST_MESSAGE_CLOCK_LOST:
                // The standard cure: a new clock is chosen on the way back to playing.
                gst_element_set_state(c.pipeline.get(), GST_STATE_PAUSED);
                gst_element_set_state(c.pipeline.get(), GST_STATE_PLAYING);
                break;
            default:
                break;
        }
    }
}

// Dialogs -------------------------------------------------------------------------------------

bool ezVidCap::HasDlgSource() const {
    if (!connection_ || connection_->failed) {
        return false;
    }
    const gst::ElementHandle balance = colorBalanceOf(connection_->source.get());
    return balance && gst_color_balance_list_channels(GST_COLOR_BALANCE(balance.get())) != nullptr;
}

void ezVidCap::ShowDlgSource(QWidget* parent) {
    // The handle keeps the element, and with it its channels, alive while the dialog is open.
    const gst::ElementHandle balance = connection_ && !connection_->failed
                                           ? colorBalanceOf(connection_->source.get())
                                           : gst::ElementHandle();
    if (balance) {
        adjustColorBalance(parent, balance.get());
    }
}

QList<QSize> ezVidCap::OfferedSizes() const {
    if (!connection_ || connection_->failed) {
        return {};
    }
    return frameSizesOffered(connection_->source.get(), connection_->size);
}

bool ezVidCap::HasDlgFormat() const {
    return !OfferedSizes().isEmpty();
}

void ezVidCap::ShowDlgFormat(QWidget* parent) {
    const QList<QSize> sizes = OfferedSizes();
    if (sizes.isEmpty()) {
        return;
    }
    const QSize current = frameSize();
    const std::optional<QSize> chosen = chooseFrameSize(parent, sizes, current);
    if (!chosen || *chosen == current || !connection_) {
        return;
    }
    const int driver = connection_->driver;
    const auto previous = chosenSize_.find(driver);
    const std::optional<QSize> before =
        previous != chosenSize_.end() ? std::optional<QSize>(previous->second) : std::nullopt;
    chosenSize_[driver] = *chosen;
    reconnectAfterChange([this, driver, before] {
        if (before) {
            chosenSize_[driver] = *before;
        } else {
            chosenSize_.erase(driver);
        }
    });
}

void ezVidCap::ShowDlgDisplay(QWidget*) {
    // GStreamer sources have no display dialog (HasDlgDisplay is false).
}

}  // namespace ostrel::capture
