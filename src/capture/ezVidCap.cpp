#include "ezVidCap.h"

#include <gst/app/gstappsink.h>
#include <gst/video/colorbalance.h>
#include <gst/video/video.h>

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QRegularExpression>
#include <QSlider>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

#include "CaptureErrors.h"

namespace ostrel::capture {

namespace gst {

void ensureInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

}  // namespace gst

namespace {

const QString kTestPatternName = QStringLiteral("Test pattern");
constexpr QSize kTestPatternSize{320, 240};
// Sizes offered for a source that can deliver any size in a range (the test pattern, a scaler).
const QList<QSize> kStandardSizes = {{160, 120}, {320, 240}, {640, 480}, {800, 600}, {1280, 720}};

QString fromUtf8(const gchar* text) { return QString::fromUtf8(text ? text : ""); }

CaptureFailure failure(const QString& text, int code = 1) {
    return CaptureFailure(text.toStdString(), code);
}

// GStreamer's parser takes property values in double quotes with backslash escapes.
QString quotedForLaunchLine(const QString& value) {
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

enum class SourceKind { Device, Uri, File, LaunchLine };

SourceKind classify(const QString& source) {
    static const QRegularExpression uriScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    if (source.startsWith(QStringLiteral("/dev/"))) {
        return SourceKind::Device;
    }
    if (QFileInfo::exists(source)) {
        return SourceKind::File;
    }
    if (source.contains(QLatin1Char('!'))) {
        return SourceKind::LaunchLine;
    }
    if (uriScheme.match(source).hasMatch()) {
        return SourceKind::Uri;
    }
    // A line that parses (a single element such as "videotestsrc pattern=snow") is a launch
    // line. Anything else that looks like a path is a file that is missing: the user then hears
    // "not found" rather than a parser's complaint about an element named like the file.
    GError* error = nullptr;
    gst::ElementHandle parsed = gst::adoptFloating(gst_parse_bin_from_description_full(
        source.toUtf8().constData(), TRUE, nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &error));
    gst::ErrorHandle owned(error);
    if (parsed && !owned) {
        return SourceKind::LaunchLine;
    }
    static const QRegularExpression fileExtension(QStringLiteral("\\.\\w+$"));
    const bool looksLikePath =
        source.contains(QLatin1Char('/')) || source.startsWith(QLatin1Char('.')) ||
        (!source.contains(QLatin1Char('=')) && fileExtension.match(source).hasMatch());
    return looksLikePath ? SourceKind::File : SourceKind::LaunchLine;
}

// A source bin from a launch line. A videoconvert is put at its end and its output becomes the
// bin's "src" pad: that gives a line ending in an element with dynamic pads (uridecodebin,
// decodebin) a pad to link to. Unlinked pads are not ghosted wholesale, as that would take the
// videoconvert's input before the dynamic pad shows up.
gst::ElementHandle parseSourceBin(const QString& description) {
    const QString line = description + QStringLiteral(" ! videoconvert name=ostrel_output");
    GError* error = nullptr;
    gst::ElementHandle bin = gst::adoptFloating(gst_parse_bin_from_description_full(
        line.toUtf8().constData(), FALSE, nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &error));
    gst::ErrorHandle owned(error);
    if (owned) {
        throw failure(fromUtf8(owned->message), owned->code);
    }
    if (!bin) {
        throw failure(QStringLiteral("Could not build \"%1\".").arg(description));
    }
    gst::ElementHandle output(gst_bin_get_by_name(GST_BIN(bin.get()), "ostrel_output"),
                              gst::Ref::Take);
    gst::PadHandle outputPad(output ? gst_element_get_static_pad(output.get(), "src") : nullptr,
                             gst::Ref::Take);
    if (!outputPad) {
        throw failure(QStringLiteral("\"%1\" has no video output.").arg(description));
    }
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("src", outputPad.get()));
    return bin;
}

gst::ElementHandle makeElement(const char* factory) {
    gst::ElementHandle element = gst::adoptFloating(gst_element_factory_make(factory, nullptr));
    if (!element) {
        throw failure(QStringLiteral("The GStreamer element \"%1\" is not installed.")
                          .arg(QLatin1String(factory)));
    }
    return element;
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

// The live picture in the Video window, 1:1 from its top-left corner.
class CaptureDisplay : public QWidget {
public:
    CaptureDisplay() {
        setObjectName(QStringLiteral("captureDisplay"));
        setAttribute(Qt::WA_OpaquePaintEvent);
        resize(0, 0);
    }

    void setFrameSize(QSize size) {
        if (size != this->size()) {
            resize(size);
            updateGeometry();
        }
    }
    void setFrame(const QImage& frame) {
        frame_ = frame;
        setFrameSize(frame.size());
        update();
    }
    QSize sizeHint() const override { return size(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        if (!frame_.isNull()) {
            painter.drawImage(0, 0, frame_);
        }
    }

private:
    QImage frame_;
};

// Sizes found in a caps structure's width and height: fixed values, lists, or ranges (which get
// the standard sizes that fit).
void collectSizes(const GstStructure* structure, QList<QSize>& sizes) {
    const GValue* width = gst_structure_get_value(structure, "width");
    const GValue* height = gst_structure_get_value(structure, "height");
    if (!width || !height) {
        return;
    }
    if (G_VALUE_HOLDS_INT(width) && G_VALUE_HOLDS_INT(height)) {
        sizes.append(QSize(g_value_get_int(width), g_value_get_int(height)));
        return;
    }
    if (GST_VALUE_HOLDS_LIST(width) && GST_VALUE_HOLDS_LIST(height) &&
        gst_value_list_get_size(width) == gst_value_list_get_size(height)) {
        for (guint i = 0; i < gst_value_list_get_size(width); ++i) {
            const GValue* w = gst_value_list_get_value(width, i);
            const GValue* h = gst_value_list_get_value(height, i);
            if (G_VALUE_HOLDS_INT(w) && G_VALUE_HOLDS_INT(h)) {
                sizes.append(QSize(g_value_get_int(w), g_value_get_int(h)));
            }
        }
        return;
    }
    const auto rangeOf = [](const GValue* value, int& low, int& high) {
        if (G_VALUE_HOLDS_INT(value)) {
            low = high = g_value_get_int(value);
            return true;
        }
        if (GST_VALUE_HOLDS_INT_RANGE(value)) {
            low = gst_value_get_int_range_min(value);
            high = gst_value_get_int_range_max(value);
            return true;
        }
        return false;
    };
    int wLow = 0, wHigh = 0, hLow = 0, hHigh = 0;
    if (rangeOf(width, wLow, wHigh) && rangeOf(height, hLow, hHigh)) {
        for (const QSize& size : kStandardSizes) {
            if (size.width() >= wLow && size.width() <= wHigh && size.height() >= hLow &&
                size.height() <= hHigh) {
                sizes.append(size);
            }
        }
    }
}

// Runs a modal dialog that its parent may destroy while it is open.
int execGuarded(QDialog* dialog) {
    QPointer<QDialog> guard(dialog);
    const int result = dialog->exec();
    return guard ? result : QDialog::Rejected;
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
                        self->firstError = owned ? fromUtf8(owned->message) : QString();
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

struct ezVidCap::CameraList {
    std::vector<gst::DeviceHandle> devices;
    QStringList names;
};

ezVidCap::ezVidCap(QObject* parent) : QObject(parent), cameras_(std::make_unique<CameraList>()) {
    gst::ensureInitialised();
    gst::DeviceMonitorHandle monitor(gst_device_monitor_new(), gst::Ref::Take);
    gst_device_monitor_add_filter(monitor.get(), "Video/Source", nullptr);
    // Without start(), this probes the hardware once: no monitoring thread is left running.
    GList* devices = gst_device_monitor_get_devices(monitor.get());
    for (GList* item = devices; item; item = item->next) {
        gst::DeviceHandle device(GST_DEVICE(item->data), gst::Ref::Take);
        gst::StringHandle name(gst_device_get_display_name(device.get()));
        cameras_->names.append(fromUtf8(name.get()));
        cameras_->devices.push_back(std::move(device));
    }
    g_list_free(devices);

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

int ezVidCap::CameraCount() const { return int(cameras_->names.size()); }

int ezVidCap::DriverCount() const {
    return CameraCount() + 1 + (commandLineSource_.isEmpty() ? 0 : 1);
}

QString ezVidCap::DriverName(int n) const {
    if (n >= 0 && n < CameraCount()) {
        return cameras_->names.at(n);
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
        GstDevice* device = cameras_->devices.at(std::size_t(driver)).get();
        gst::ElementHandle element =
            gst::adoptFloating(gst_device_create_element(device, nullptr));
        if (!element) {
            throw failure(QStringLiteral("Could not open the camera \"%1\".")
                              .arg(cameras_->names.at(driver)));
        }
        return element;
    }
    if (driver == TestPatternIndex()) {
        // A ball moving over a black ground: live, so it runs at its frame rate and motion
        // shows.
        return parseSourceBin(QStringLiteral("videotestsrc pattern=ball is-live=true"));
    }
    const QString& source = commandLineSource_;
    switch (classify(source)) {
        case SourceKind::Device: {
            gst::ElementHandle element = makeElement("v4l2src");
            g_object_set(element.get(), "device", source.toUtf8().constData(), nullptr);
            return element;
        }
        case SourceKind::Uri:
            return parseSourceBin(
                QStringLiteral("uridecodebin uri=%1").arg(quotedForLaunchLine(source)));
        case SourceKind::File: {
            gst::StringHandle uri(gst_filename_to_uri(source.toUtf8().constData(), nullptr));
            if (!uri) {
                throw failure(QStringLiteral("\"%1\" is not a usable file name.").arg(source));
            }
            return parseSourceBin(QStringLiteral("uridecodebin uri=%1")
                                      .arg(quotedForLaunchLine(fromUtf8(uri.get()))));
        }
        case SourceKind::LaunchLine: {
            QString line = source.trimmed();
            if (line.endsWith(QLatin1Char('!'))) {
                line.chop(1);
            }
            return parseSourceBin(line);
        }
    }
    throw failure(QStringLiteral("Unknown source."));
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
            throw failure(c.ended ? QStringLiteral("\"%1\" ended without a picture.")
                                        .arg(DriverName(driver))
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
        gst_caps_set_simple(pinned.get(), "width", G_TYPE_INT, c.size.width(), "height",
                            G_TYPE_INT, c.size.height(), nullptr);
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

QSize ezVidCap::frameSize() const { return connection_ ? connection_->size : QSize(0, 0); }

QWidget* ezVidCap::display() const { return display_.data(); }

void ezVidCap::wakeForSample() {
    if (!sampleWakePending_.exchange(true)) {
        QMetaObject::invokeMethod(this, [this] { takeNewestFrame(); }, Qt::QueuedConnection);
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
                Q_EMIT CaptureError(code, owned ? fromUtf8(owned->message) : QString());
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

// Colour balance ------------------------------------------------------------------------------

gst::ElementHandle ezVidCap::colorBalance() const {
    if (!connection_ || connection_->failed) {
        return {};
    }
    GstElement* source = connection_->source.get();
    if (GST_IS_COLOR_BALANCE(source)) {
        return gst::ElementHandle(source, gst::Ref::Add);
    }
    if (GST_IS_BIN(source)) {
        return gst::ElementHandle(gst_bin_get_by_interface(GST_BIN(source), GST_TYPE_COLOR_BALANCE),
                                  gst::Ref::Take);
    }
    return {};
}

bool ezVidCap::HasDlgSource() const {
    const gst::ElementHandle balance = colorBalance();
    return balance && gst_color_balance_list_channels(GST_COLOR_BALANCE(balance.get())) != nullptr;
}

void ezVidCap::ShowDlgSource(QWidget* parent) {
    // The handle keeps the element, and with it its channels, alive while the dialog is open.
    const gst::ElementHandle balanceElement = colorBalance();
    if (!balanceElement) {
        return;
    }
    GstColorBalance* balance = GST_COLOR_BALANCE(balanceElement.get());
    auto* dialog = new QDialog(parent);
    dialog->setObjectName(QStringLiteral("captureSourceDialog"));
    dialog->setWindowTitle(QStringLiteral("Video Source"));
    auto* form = new QFormLayout;
    struct Original {
        GstColorBalanceChannel* channel;
        int value;
    };
    std::vector<Original> originals;
    for (const GList* item = gst_color_balance_list_channels(balance); item; item = item->next) {
        auto* channel = GST_COLOR_BALANCE_CHANNEL(item->data);
        const QString label = fromUtf8(channel->label);
        auto* slider = new QSlider(Qt::Horizontal, dialog);
        slider->setObjectName(label);
        slider->setRange(channel->min_value, channel->max_value);
        const int value = gst_color_balance_get_value(balance, channel);
        slider->setValue(value);
        originals.push_back({channel, value});
        // Applied at once, so the user sees the effect in the Video window while choosing.
        QObject::connect(slider, &QSlider::valueChanged, dialog, [balance, channel](int v) {
            gst_color_balance_set_value(balance, channel, v);
        });
        form->addRow(label, slider);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);

    QPointer<QDialog> guard(dialog);
    if (execGuarded(dialog) != QDialog::Accepted) {
        for (const Original& original : originals) {
            gst_color_balance_set_value(balance, original.channel, original.value);
        }
    }
    delete guard.data();
}

// Frame size ----------------------------------------------------------------------------------

QList<QSize> ezVidCap::OfferedSizes() const {
    QList<QSize> sizes;
    if (!connection_ || connection_->failed) {
        return sizes;
    }
    gst::PadHandle pad(gst_element_get_static_pad(connection_->source.get(), "src"),
                       gst::Ref::Take);
    if (!pad) {
        return sizes;
    }
    gst::CapsHandle caps(gst_pad_query_caps(pad.get(), nullptr), gst::Ref::Take);
    if (!caps || gst_caps_is_any(caps.get())) {
        return sizes;
    }
    for (guint i = 0; i < gst_caps_get_size(caps.get()); ++i) {
        collectSizes(gst_caps_get_structure(caps.get(), i), sizes);
    }
    // The size in use is always on offer, so the dialog can show it as chosen.
    if (connection_->size.isValid() && !connection_->size.isEmpty()) {
        sizes.append(connection_->size);
    }
    std::sort(sizes.begin(), sizes.end(), [](QSize a, QSize b) {
        const qint64 areaA = qint64(a.width()) * a.height();
        const qint64 areaB = qint64(b.width()) * b.height();
        return areaA != areaB ? areaA < areaB : a.width() < b.width();
    });
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    return sizes;
}

bool ezVidCap::HasDlgFormat() const { return !OfferedSizes().isEmpty(); }

void ezVidCap::ShowDlgFormat(QWidget* parent) {
    const QList<QSize> sizes = OfferedSizes();
    if (sizes.isEmpty()) {
        return;
    }
    auto* dialog = new QDialog(parent);
    dialog->setObjectName(QStringLiteral("captureFormatDialog"));
    dialog->setWindowTitle(QStringLiteral("Video Format"));
    auto* list = new QListWidget(dialog);
    list->setObjectName(QStringLiteral("frameSizes"));
    const QSize current = frameSize();
    for (const QSize& size : sizes) {
        const QString text = QStringLiteral("%1 × %2").arg(size.width()).arg(size.height());
        auto* item = new QListWidgetItem(text, list);
        item->setData(Qt::UserRole, size);
        if (size == current) {
            list->setCurrentItem(item);
        }
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemDoubleClicked, dialog, &QDialog::accept);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(new QLabel(QStringLiteral("Frame size:"), dialog));
    layout->addWidget(list);
    layout->addWidget(buttons);

    QPointer<QDialog> guard(dialog);
    const bool accepted = execGuarded(dialog) == QDialog::Accepted;
    QSize chosen;
    if (accepted && guard && list->currentItem()) {
        chosen = list->currentItem()->data(Qt::UserRole).toSize();
    }
    delete guard.data();
    if (!chosen.isValid() || chosen == current || !connection_) {
        return;
    }
    const int driver = connection_->driver;
    const auto previous = chosenSize_.find(driver);
    const std::optional<QSize> before =
        previous != chosenSize_.end() ? std::optional<QSize>(previous->second) : std::nullopt;
    chosenSize_[driver] = chosen;
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
