#include "ezVidCap.h"

#include <gst/video/colorbalance.h>

#include <QEventLoop>
#include <QTimer>
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
// How long the capture control gives its pipelines' threads to let go of their sources when it
// goes. A thread blocked for ever (a FIFO nobody writes) is not waited for.
constexpr auto kStopGrace = std::chrono::milliseconds(500);

QString seconds(std::chrono::milliseconds duration) {
    return QString::number(double(duration.count()) / 1000.0);
}

}  // namespace

// A connection being made. An automatic one is a retry of the supervisor's; any other has a
// caller waiting for it.
struct ezVidCap::Attempt {
    std::unique_ptr<SourcePipeline> pipeline;
    int driver = 0;
    bool automatic = false;
    QTimer deadline;
    // An automatic attempt still opening at its deadline: it may come through later.
    bool timedOut = false;
    // For the caller that waits.
    bool resolved = false;
    std::optional<CaptureFailure> failure;
    std::function<void()> onResolved;
};

ezVidCap::ezVidCap(QObject* parent)
    : QObject(parent),
      cameras_(std::make_unique<CameraList>(CameraList::probe())),
      mailbox_(std::make_shared<Mailbox>(this, static_cast<PipelineListener*>(this))),
      supervisor_({[this](SourceState state, const QString& message) {
                       Q_EMIT StateChanged(sourceStateName(state), message);
                   },
                   [this] { retry(); },
                   [this] { return connection_ ? connection_->lastFrameTime() : std::nullopt; },
                   [this] {
                       lose(GST_STREAM_ERROR_FAILED,
                            QStringLiteral("No picture from \"%1\" for %2 s.")
                                .arg(Description(), seconds(supervisor_.silenceLimit())));
                   }}) {
    chosenSize_[TestPatternIndex()] = kTestPatternSize;
    driverIndex_ = StartupDriver(CameraCount(), false);
    display_ = new CaptureDisplay;
}

ezVidCap::~ezVidCap() {
    mailbox_->close();
    attempt_.reset();
    connection_.reset();
    mailbox_->waitForThreads(Clock::now() + kStopGrace);
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

// Connecting -------------------------------------------------------------------------------------

gst::ElementHandle ezVidCap::makeSource(int driver) const {
    if (driver < CameraCount()) {
        return cameras_->createSource(driver);
    }
    if (driver == TestPatternIndex()) {
        return makeTestPattern();
    }
    return makeCommandLineSource(commandLineSource_);
}

std::optional<QSize> ezVidCap::sizeFor(int driver) const {
    const auto chosen = chosenSize_.find(driver);
    return chosen != chosenSize_.end() ? std::optional<QSize>(chosen->second) : std::nullopt;
}

std::unique_ptr<SourcePipeline> ezVidCap::makePipeline(int driver, std::optional<QSize> size) {
    SourcePipeline::Options options;
    options.source = makeSource(driver);
    options.bytesPerPixel = colRes_;
    options.size = size;
    options.name = DriverName(driver);
    return std::make_unique<SourcePipeline>(++lastSerial_, std::move(options), mailbox_);
}

void ezVidCap::beginAttempt(int driver, bool automatic, std::optional<QSize> size,
                            const SourcePipeline* predecessor) {
    abandonAttempt();
    auto attempt = std::make_unique<Attempt>();
    attempt->pipeline = makePipeline(driver, size);
    attempt->driver = driver;
    attempt->automatic = automatic;
    attempt->deadline.setSingleShot(true);
    connect(&attempt->deadline, &QTimer::timeout, this, &ezVidCap::attemptTimedOut);
    attempt->deadline.start(connectTimeout_);
    attempt->pipeline->start(predecessor);
    attempt_ = std::move(attempt);
}

void ezVidCap::abandonAttempt() {
    attempt_.reset();
}

std::unique_ptr<SourcePipeline> ezVidCap::awaitAttempt() {
    Attempt* const attempt = attempt_.get();
    QEventLoop loop;
    attempt->onResolved = [&loop] { loop.quit(); };
    // User input waits until the connection is made, so no command starts another meanwhile;
    // timers, the bus and signals are served.
    if (!attempt->resolved && !shutDown_) {
        waitLoop_ = &loop;
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        waitLoop_ = nullptr;
    }
    if (attempt_.get() != attempt || !attempt->resolved) {
        // The program is ending.
        QString name;
        if (attempt_.get() == attempt) {
            name = attempt->pipeline->name();
            abandonAttempt();
        }
        throw ConnectionInterrupted(QStringLiteral("Connecting \"%1\" was interrupted.").arg(name));
    }
    const std::unique_ptr<Attempt> done = std::move(attempt_);
    if (done->failure) {
        throw *done->failure;
    }
    return std::move(done->pipeline);
}

void ezVidCap::attemptTimedOut() {
    Attempt& attempt = *attempt_;
    const bool opening = attempt.pipeline->opening();
    const QString text = (opening ? QStringLiteral("\"%1\" did not open within %2 s.")
                                  : QStringLiteral("No picture from \"%1\" within %2 s."))
                             .arg(attempt.pipeline->name(), seconds(connectTimeout_));
    if (attempt.automatic) {
        // A source still blocked in opening is left to come through (a FIFO that gets a writer);
        // no second one is opened beside it.
        if (opening) {
            attempt.timedOut = true;
        } else {
            abandonAttempt();
        }
        supervisor_.retryFailed();
        return;
    }
    attempt.pipeline->stop();
    attempt.resolved = true;
    attempt.failure = CaptureFailure(text, GST_RESOURCE_ERROR_OPEN_READ);
    attempt.onResolved();
}

void ezVidCap::attemptResolved(const PipelineEvent& event) {
    Attempt& attempt = *attempt_;
    attempt.deadline.stop();
    const bool started = event.kind == PipelineEvent::Kind::Started;
    if (started) {
        attempt.pipeline->setSize(event.size);
    }
    if (attempt.automatic) {
        const std::unique_ptr<Attempt> done = std::move(attempt_);
        if (started && supervisor_.state() == SourceState::Lost) {
            adopt(std::move(done->pipeline), done->driver);
        } else if (!done->timedOut) {
            supervisor_.retryFailed();
        }
        return;
    }
    attempt.resolved = true;
    if (!started) {
        attempt.failure = CaptureFailure(event.text, event.code);
    }
    attempt.onResolved();
}

void ezVidCap::adopt(std::unique_ptr<SourcePipeline> pipeline, int driver) {
    const int previous = driverIndex_;
    const bool back = supervisor_.state() == SourceState::Lost && driver == previous;
    connection_ = std::move(pipeline);  // the one before, if any, is asked to stop
    driverIndex_ = driver;
    fresh_ = false;
    if (display_) {
        static_cast<CaptureDisplay*>(display_.data())->setFrameSize(connection_->size());
    }
    // The first frame is waiting already; its wake-up came before the pipeline was adopted.
    QMetaObject::invokeMethod(this, &ezVidCap::takeNewestFrame, Qt::QueuedConnection);
    supervisor_.playing(
        (back ? QStringLiteral("\"%1\" is back.") : QStringLiteral("Frames arrive from \"%1\"."))
            .arg(DriverName(driver)));
    if (driverIndex_ != previous) {
        Q_EMIT DriverIndexChanged(driverIndex_);
    }
}

void ezVidCap::setDriverIndex(int n) {
    if (n < 0 || n >= DriverCount()) {
        throw CaptureFailure(QStringLiteral("There is no capture driver %1.").arg(n));
    }
    if (live() && driverIndex_ == n) {
        return;
    }
    if (shutDown_) {
        throw ConnectionInterrupted(QStringLiteral("The program is ending."));
    }
    if (waitLoop_) {
        throw CaptureFailure(QStringLiteral("Another capture driver is being connected."));
    }
    // Another driver is opened while the connected one keeps running, so a failure leaves
    // everything as it was. The same driver, lost, comes back at its size once it has let go.
    const bool same = connection_ && driverIndex_ == n;
    beginAttempt(n, false, same ? std::optional<QSize>(connection_->size()) : sizeFor(n),
                 same ? connection_.get() : nullptr);
    adopt(awaitAttempt(), n);
}

void ezVidCap::applyStartupOptions(int colRes) {
    setColRes(colRes);
    const int first = StartupDriver(CameraCount(), !commandLineSource_.isEmpty());
    if (first == TestPatternIndex() && !fallBackToTestPattern_) {
        // No camera and no source: nothing to connect, nor to try again.
        Q_EMIT CaptureError(GST_RESOURCE_ERROR_NOT_FOUND, QStringLiteral("There is no camera."));
        return;
    }
    try {
        setDriverIndex(first);
        return;
    } catch (const ConnectionInterrupted&) {
        return;
    } catch (const CaptureFailure& error) {
        if (!fallBackToTestPattern_) {
            // It counts as lost: reported, and tried again until it comes.
            driverIndex_ = first;
            lose(error.code(), error.text());
            return;
        }
        Q_EMIT CaptureError(error.code(), error.text());
    }
    if (first != TestPatternIndex()) {
        try {
            setDriverIndex(TestPatternIndex());
        } catch (const ConnectionInterrupted&) {
        } catch (const CaptureFailure& error) {
            Q_EMIT CaptureError(error.code(), error.text());
        }
    }
}

void ezVidCap::reconnectAfterChange(const std::function<void()>& undo) {
    if (!connection_) {
        return;
    }
    if (waitLoop_ || shutDown_) {
        undo();  // another connection is being made, or none any more
        return;
    }
    const int driver = driverIndex_;
    // A camera opens only once: the running pipeline stops before the new one starts. It stays
    // in place, with its size and last frame, in case nothing can be connected again.
    connection_->stop();
    supervisor_.connecting(QStringLiteral("Connecting \"%1\".").arg(DriverName(driver)));
    const auto reconnect = [this, driver] {
        beginAttempt(driver, false, sizeFor(driver), connection_.get());
        adopt(awaitAttempt(), driver);
    };
    try {
        reconnect();
        return;
    } catch (const ConnectionInterrupted&) {
        return;
    } catch (const CaptureFailure& error) {
        undo();
        try {
            reconnect();
        } catch (const ConnectionInterrupted&) {
            return;
        } catch (const CaptureFailure&) {
            lose(error.code(), error.text());
            return;
        }
        Q_EMIT CaptureError(error.code(), error.text());
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

void ezVidCap::shutDown() {
    shutDown_ = true;
    if (waitLoop_) {
        waitLoop_->quit();
    }
}

// Supervision ------------------------------------------------------------------------------------

void ezVidCap::lose(int code, const QString& text) {
    if (connection_) {
        connection_->stop();
    }
    // Reported once per loss; the last frame and the frame size stay.
    if (supervisor_.lost(text)) {
        Q_EMIT CaptureError(code, text);
    }
}

void ezVidCap::retry() {
    if (shutDown_) {
        return;
    }
    if (attempt_) {
        // A caller's connection is being made, or the last try is still blocked in opening.
        if (!attempt_->automatic || attempt_->pipeline->opening()) {
            supervisor_.retryFailed();
            return;
        }
        abandonAttempt();
    }
    try {
        // Back at the size it had, so the areas fit as before.
        const std::optional<QSize> size =
            connection_ ? std::optional<QSize>(connection_->size()) : sizeFor(driverIndex_);
        beginAttempt(driverIndex_, true, size, connection_.get());
    } catch (const CaptureFailure&) {
        supervisor_.retryFailed();
    }
}

void ezVidCap::pipelineEvent(const PipelineEvent& event) {
    using Kind = PipelineEvent::Kind;
    if (attempt_ && event.serial == attempt_->pipeline->serial()) {
        if (event.kind == Kind::Started || event.kind == Kind::Failed) {
            attemptResolved(event);
        }
        return;
    }
    if (!live() || event.serial != connection_->serial()) {
        return;
    }
    switch (event.kind) {
        case Kind::Error:
            lose(event.code, event.text);
            break;
        case Kind::Ended:
            // A file plays in a loop; one that ends again without a frame cannot loop any more
            // (it was truncated or replaced).
            if (event.framesSinceRewind > 0) {
                connection_->rewind();
            } else {
                lose(GST_STREAM_ERROR_FAILED,
                     QStringLiteral("\"%1\" ended and cannot be played again.")
                         .arg(connection_->name()));
            }
            break;
        case Kind::RewindFailed:
            lose(GST_STREAM_ERROR_FAILED,
                 QStringLiteral("The video stream of \"%1\" ended.").arg(connection_->name()));
            break;
        default:
            break;
    }
}

double ezVidCap::FramesPerSecond() const {
    return connection_ ? connection_->framesPerSecond(Clock::now()) : 0.0;
}

// Frames -----------------------------------------------------------------------------------------

bool ezVidCap::live() const {
    return connection_ && !connection_->stopRequested();
}

QSize ezVidCap::frameSize() const {
    return connection_ ? connection_->size() : QSize(0, 0);
}

QWidget* ezVidCap::display() const {
    return display_.data();
}

void ezVidCap::pipelineFrame(std::uint64_t serial) {
    if (connection_ && serial == connection_->serial()) {
        takeNewestFrame();
    }
}

void ezVidCap::takeNewestFrame() {
    if (!live()) {
        return;
    }
    QImage image = connection_->takeNewestFrame();
    if (image.isNull() || image.size() != connection_->size()) {
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

// Dialogs ----------------------------------------------------------------------------------------

bool ezVidCap::HasDlgSource() const {
    if (!live()) {
        return false;
    }
    const gst::ElementHandle balance = colorBalanceOf(connection_->source());
    return balance && gst_color_balance_list_channels(GST_COLOR_BALANCE(balance.get())) != nullptr;
}

void ezVidCap::ShowDlgSource(QWidget* parent) {
    // The handle keeps the element, and with it its channels, alive while the dialog is open.
    const gst::ElementHandle balance =
        live() ? colorBalanceOf(connection_->source()) : gst::ElementHandle();
    if (balance) {
        adjustColorBalance(parent, balance.get());
    }
}

QList<QSize> ezVidCap::OfferedSizes() const {
    return live() ? frameSizesOffered(connection_->source(), connection_->size()) : QList<QSize>();
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
    const int driver = driverIndex_;
    const std::optional<QSize> before = sizeFor(driver);
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
