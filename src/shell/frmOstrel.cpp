#include "frmOstrel.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>

#include "AreaCommands.h"
#include "AreaEditor.h"
#include "CaptureErrors.h"
#include "ConfigFile.h"
#include "DetectionArea.h"
#include "EventHistory.h"
#include "FileCommands.h"
#include "FramePicture.h"
#include "HistoryPaths.h"
#include "Rounding.h"
#include "ctlDetArea.h"
#include "ezVidCap.h"
#include "frmAbout.h"
#include "frmHistory.h"
#include "frmMonitor.h"
#include "frmVideo.h"

namespace ostrel::shell {

using capture::CaptureFailure;
using capture::ezVidCap;

namespace {

constexpr int kPictureMargin = 8;  // pixels between the window's edge and the video picture
constexpr int kIdleMonitorMs = 500;

int primaryScreenDepth() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->depth() : 0;
}

}  // namespace

frmOstrel::frmOstrel(StartOptions options, QWidget* parent)
    : QMainWindow(parent),
      options_(std::move(options)),
      reporter_(options_.headless, options_.name, this),
      notifier_([this] {
          return serviceStatus(capture_->State(), areaCount());
      }) {
    if (!options_.displayDepth) {
        options_.displayDepth = primaryScreenDepth;
    }
    setWindowTitle(QStringLiteral("Ostrel"));
    menu_.build(menuBar(), this);
    surface_ = new QWidget(this);
    setCentralWidget(surface_);
    pctDebug_ = new FramePicture(surface_);
    pctDebug_->move(kPictureMargin, kPictureMargin);
    controls_ = std::make_unique<areas::AreaControlArray>(surface_);
    registry_ = std::make_unique<areas::mdlSub>(*controls_, pctDebug_, menu_.areaMenus());
    capture_ = std::make_unique<ezVidCap>();
    capture_->setCommandLineSource(options_.source);
    capture_->setFallBackToTestPattern(!options_.headless);
    connect(capture_.get(), &ezVidCap::CaptureError, this, &frmOstrel::onCaptureError);
    commands_ = std::make_unique<ui::AreaCommands>(menu_, *registry_, *controls_, this);
    files_ = std::make_unique<FileCommands>(*registry_, this, reporter_,
                                            [this] { return endRequested(); });
    editor_ = std::make_unique<ui::AreaEditor>(
        menu_, *registry_, *controls_, surface_, pctDebug_,
        [this]() -> const QImage& { return pctDebug_->frame(); },
        ui::EditMonitor{[this](double top, double left, double width, double height) {
                            if (monitor_) {
                                monitor_->showEditGeometry(top, left, width, height);
                            }
                        },
                        [this](const QColor& color) {
                            if (monitor_) {
                                monitor_->setGeometryTextColor(color);
                            }
                        },
                        [this] {
                            if (monitor_) {
                                monitor_->pctView->update();
                            }
                        }});
    connectCommands();
    idleMonitor_.setInterval(kIdleMonitorMs);
    connect(&idleMonitor_, &QTimer::timeout, this, [this] {
        // Without frames no pass writes the Monitor; keep it current at a slow pace.
        if (loop_.passes() == passesAtLastIdleCheck_) {
            updateMonitor();
        }
        passesAtLastIdleCheck_ = loop_.passes();
    });
}

frmOstrel::~frmOstrel() {
    // Windows that hold the capture control's picture go before the control.
    video_.reset();
    monitor_.reset();
    historyWindow_.reset();
}

void frmOstrel::startHistory(areas::frmTimer& timer) {
    history_ = std::make_unique<history::EventHistory>(
        *registry_, timer, [this] { return pctDebug_->frame(); },
        history::historyFolder(options_.name), options_.retention);
    connect(history_.get(), &history::EventHistory::failed, this,
            [this](const QString& text) { reporter_.report(Level::Warning, text); });
}

void frmOstrel::connectCommands() {
    connect(menu_.mnuOpen, &QAction::triggered, files_.get(), &FileCommands::Open);
    connect(menu_.mnuSave, &QAction::triggered, files_.get(), &FileCommands::Save);
    connect(menu_.mnuSaveAs, &QAction::triggered, files_.get(), &FileCommands::SaveAs);
    connect(commands_.get(), &ui::AreaCommands::exitRequested, this, &QWidget::close);
    connect(commands_.get(), &ui::AreaCommands::modifySizeRequested, editor_.get(),
            &ui::AreaEditor::startEdit);
    connect(commands_.get(), &ui::AreaCommands::aboutRequested, this, &frmOstrel::showAbout);
    connect(commands_.get(), &ui::AreaCommands::showFormsToggled, this, [this](int entry, bool on) {
        if (entry == 0) {
            setMonitorVisible(on);
        } else {
            setVideoVisible(on);
        }
    });
    connect(menu_.mnuHistory, &QAction::triggered, this, &frmOstrel::setHistoryVisible);
    connect(menu_.mnuHasDlgSource, &QAction::triggered, this, [this] {
        if (capture_->HasDlgSource()) {
            capture_->ShowDlgSource(this);
        }
    });
    connect(menu_.mnuHasDlgDisplay, &QAction::triggered, this, [this] {
        if (capture_->HasDlgDisplay()) {
            capture_->ShowDlgDisplay(this);
        }
    });
    connect(menu_.mnuHasDlgFormat, &QAction::triggered, this, [this] {
        if (capture_->HasDlgFormat()) {
            capture_->ShowDlgFormat(this);
        }
        FormatChange();
    });
}

bool frmOstrel::checkDisplayDepth() {
    const int colRes = engine::nearest(options_.displayDepth() / 8.0);
    if (colRes < 3) {
        reporter_.reportFatal(
            QStringLiteral("Change the Color Palette to True Color (24Bit oder 32Bit)!"));
        return false;
    }
    registry_->setDisplayColRes(colRes > 4 ? 4 : colRes);
    return true;
}

// A message box that ends start-up runs a nested event loop, where a signal can end the
// program; every step after one checks whether it did.
bool frmOstrel::load() {
    if (!checkDisplayDepth()) {
        exitCode_ = 1;
        finish();
        return false;
    }
    // The Video window comes up with the capture control's first use; headless has none.
    if (!options_.headless) {
        video_ = std::make_unique<frmVideo>(*capture_, state_);
        connect(video_.get(), &frmVideo::hiddenByClose, this,
                [this] { menu_.mnuShowForms[1]->setChecked(false); });
    }
    buildDriverMenu();
    if (ended_) {
        return false;
    }
    capture_->applyStartupOptions(registry_->DisplayColRes());
    if (ended_) {
        return false;
    }
    connect(capture_.get(), &ezVidCap::DriverIndexChanged, this, &frmOstrel::checkConnectedDriver);
    checkConnectedDriver();

    setExitEnabled();
    menu_.mnuClear->setEnabled(false);
    menu_.mnuSelect->setEnabled(false);
    menu_.mnuProperties->setEnabled(false);
    if (!options_.headless) {
        settings_.restorePosition(this);
    }
    if (!state_.ClientAttached) {
        setWindowTitle(QStringLiteral("Ostrel - New"));
    }
    FormatChange();
    if (ended_) {
        return false;
    }
    state_.HideOnClose = true;
    // The detection loop: one pass for every new frame, run from the event loop.
    if (!options_.headless) {
        loadMonitor();
        loadHistoryWindow();
    }
    // The source's state, and the detection loop: one pass for every new frame, run from the
    // event loop.
    connect(capture_.get(), &ezVidCap::StateChanged, this,
            [this](const QString&, const QString& message) {
                // The loss came as a capture error; the return is told once too.
                const auto state = capture_->sourceState();
                if (sourceLost_ && state == capture::SourceState::Playing) {
                    reporter_.report(Level::Info, message);
                }
                sourceLost_ = state == capture::SourceState::Lost ||
                              (sourceLost_ && state == capture::SourceState::Connecting);
                sourceStateChanged();
            });
    sourceStateChanged();
    connect(capture_.get(), &ezVidCap::frameReady, this, [this] { loop_.frameReady(); });
    show();
    // Start-up ends with the main window in front of the Video and Monitor windows.
    raise();
    activateWindow();
    if (!loadStartupConfig()) {
        return false;
    }
    notifier_.ready();
    return true;
}

void frmOstrel::loadMonitor() {
    monitor_ = std::make_unique<frmMonitor>(state_);
    connect(monitor_.get(), &frmMonitor::hiddenByClose, this,
            [this] { menu_.mnuShowForms[0]->setChecked(false); });
    connect(monitor_.get(), &frmMonitor::motionSensRequested, commands_.get(),
            &ui::AreaCommands::mnuMotSens_Click);
    connect(monitor_.get(), &frmMonitor::motionThresholdRequested, commands_.get(),
            &ui::AreaCommands::mnuMotTre_Click);
    connect(monitor_.get(), &frmMonitor::colorSensRequested, commands_.get(),
            &ui::AreaCommands::mnuColSens_Click);
    connect(monitor_.get(), &frmMonitor::colorThresholdRequested, commands_.get(),
            &ui::AreaCommands::mnuColTre_Click);
    connect(monitor_.get(), &frmMonitor::colorRequested, commands_.get(),
            &ui::AreaCommands::mnuColor_Click);
    menu_.mnuShowForms[0]->setChecked(!monitor_->isHidden());
    menu_.mnuShowForms[1]->setChecked(!video_->isHidden());
    updateMonitor();
    idleMonitor_.start();
}

void frmOstrel::loadHistoryWindow() {
    if (!history_) {
        return;
    }
    historyWindow_ = std::make_unique<frmHistory>(state_, *registry_, *history_);
    connect(historyWindow_.get(), &frmHistory::hiddenByClose, this,
            [this] { menu_.mnuHistory->setChecked(false); });
    menu_.mnuHistory->setEnabled(true);
    menu_.mnuHistory->setChecked(!historyWindow_->isHidden());
}

void frmOstrel::setHistoryVisible(bool visible) {
    if (historyWindow_) {
        historyWindow_->setVisible(visible);
        menu_.mnuHistory->setChecked(visible);
    }
}

// The file of --config. A file that cannot be loaded leaves no areas, as File, Open does; a
// headless program ends then (a service must not watch nothing by mistake).
bool frmOstrel::loadStartupConfig() {
    if (options_.configFile.isEmpty()) {
        return true;
    }
    notifier_.showStatus(QStringLiteral("Loading ") + options_.configFile);
    const bool loaded = files_->openFile(options_.configFile);
    if (ended_) {
        return false;
    }
    if (endRequested()) {
        endProgram();
        return false;
    }
    if (!loaded && options_.headless) {
        exitCode_ = 1;
        endProgram();
        return false;
    }
    return true;
}

void frmOstrel::buildDriverMenu() {
    const int count = capture_->DriverCount();
    QMenu* driverMenu = menu_.mnuDriverMain;
    if (count < 1) {
        menu_.mnuDriver[0]->setText(QStringLiteral("none"));
        menu_.mnuDriver[0]->setChecked(true);
        reporter_.report(Level::Error, QStringLiteral("No Video Capture Device!"));
        return;
    }
    for (int i = 0; i < count; ++i) {
        if (i >= menu_.mnuDriver.size()) {
            QAction* entry = driverMenu->addAction(QString());
            entry->setCheckable(true);
            menu_.mnuDriver.append(entry);
        }
        // A driver name may be a file path: an ampersand in it is no access key.
        menu_.mnuDriver[i]->setText(capture_->DriverName(i).replace(u'&', QStringLiteral("&&")));
        connect(menu_.mnuDriver[i], &QAction::triggered, this, [this, i] { selectDriver(i); });
    }
}

void frmOstrel::checkConnectedDriver() {
    if (capture_->DriverCount() < 1) {
        return;
    }
    for (int i = 0; i < menu_.mnuDriver.size(); ++i) {
        menu_.mnuDriver[i]->setChecked(i == capture_->DriverIndex());
    }
}

// The Monitor names the source's state while it has no picture. When frames come back, every area
// starts as on its first frame: no motion is read across the gap. A source that had no picture
// before comes with a frame size the pictures and areas are fitted to.
void frmOstrel::sourceStateChanged() {
    const bool playing = capture_->sourceState() == capture::SourceState::Playing;
    if (monitor_) {
        monitor_->showSourceTrouble(playing ? QString() : capture_->State());
    }
    if (!playing) {
        return;
    }
    for (const auto& [position, area] : controls_->elements()) {
        if (area) {
            area->startAsFirstFrame();
        }
    }
    if (capture_->Width() != registry_->FrameWidth() ||
        capture_->Height() != registry_->FrameHeight()) {
        FormatChange();
    }
}

// A driver that cannot be connected leaves the previous one connected and checked.
void frmOstrel::selectDriver(int n) {
    const int previous = capture_->DriverIndex();
    try {
        capture_->setDriverIndex(n);
    } catch (const CaptureFailure&) {
        try {
            capture_->setDriverIndex(previous);
        } catch (const CaptureFailure&) {
            // The previous driver failed meanwhile too; its failure was reported already.
        }
        reporter_.report(Level::Error, QStringLiteral("Could not connect!"), QMessageBox::NoIcon);
    }
    checkConnectedDriver();
    FormatChange();
}

void frmOstrel::FormatChange() {
    menu_.mnuHasDlgFormat->setEnabled(capture_->HasDlgFormat());
    menu_.mnuHasDlgSource->setEnabled(capture_->HasDlgSource());
    menu_.mnuHasDlgDisplay->setEnabled(capture_->HasDlgDisplay());
    const int frameWidth = capture_->Width();
    const int frameHeight = capture_->Height();
    registry_->setFrameSize(frameWidth, frameHeight);
    if ((frameWidth == 0 || frameHeight == 0) &&
        capture_->sourceState() == capture::SourceState::Lost) {
        return;  // tried again; the pictures are fitted when it comes (sourceStateChanged)
    }
    if (frameWidth == 0 || frameHeight == 0) {
        reporter_.reportFatal(QStringLiteral("No Video Capture Device!"));
        exitCode_ = 1;
        endProgram();
        return;
    }
    pctDebug_->resize(frameWidth, frameHeight);
    // The interior becomes as large as the picture with the same margin on every side.
    surface_->setFixedSize(2 * pctDebug_->x() + frameWidth, 2 * pctDebug_->y() + frameHeight);
    adjustSize();
    if (video_) {
        const QSize interior = video_->requiredInteriorSize();
        video_->resize(std::max(width(), interior.width()), interior.height());
    }
    show();
    for (const auto& area : registry_->areaCollection().items()) {
        area->Size(area->Left(), area->Top(), area->Width(), area->Height());
    }
}

void frmOstrel::setExitEnabled() { menu_.mnuExit->setEnabled(!state_.ClientAttached); }

void frmOstrel::closeEvent(QCloseEvent* event) {
    if (state_.ClientAttached && !ended_) {
        event->ignore();
        return;
    }
    finish();
    event->accept();
}

// Unload: positions written, the areas released, every window closed, the program ended.
void frmOstrel::finish() {
    if (ended_) {
        return;
    }
    ended_ = true;
    notifier_.stopping();
    capture_->shutDown();
    idleMonitor_.stop();
    closeModalDialogs();
    state_.HideOnClose = false;
    if (!options_.headless) {
        settings_.savePosition(this);
    }
    registry_->setEditMode(false);
    // Area controls made without the event loop running (a load that a signal stopped) each
    // wait for a posted polish request, and every control deleted with one pending searches the
    // whole event queue. Nothing will be shown any more: dropping them first keeps this linear.
    QCoreApplication::removePostedEvents(nullptr, QEvent::PolishRequest);
    registry_->ClearAreas();
    if (about_) {
        about_->close();
    }
    if (monitor_) {
        monitor_->close();
    }
    if (video_) {
        video_->close();
    }
    if (historyWindow_) {
        historyWindow_->close();
    }
    if (history_) {
        history_->stop();  // what is queued is written
    }
    if (!options_.headless) {
        QSettings().sync();
    }
    Q_EMIT ended();
    QCoreApplication::quit();
}

// A dialog or message box still open (the end came from a signal or the bus) is dismissed, so
// that its nested event loop returns and the program can leave.
void frmOstrel::closeModalDialogs() {
    for (int guard = 0; guard < 16; ++guard) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            return;
        }
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
    }
}

void frmOstrel::endProgram() {
    finish();
    hide();
}

void frmOstrel::setVisible(bool visible) { QMainWindow::setVisible(visible && !options_.headless); }

bool frmOstrel::endRequested() const { return options_.endRequested && options_.endRequested(); }

// A capture error is reported without holding anything: detection and clients go on.
void frmOstrel::onCaptureError(int code, const QString& text) {
    if (code == 0) {
        return;
    }
    reporter_.report(Level::Error, QStringLiteral("Error ") + text, QMessageBox::NoIcon);
}

// --- the detection loop's view of the window ---

bool frmOstrel::passesHeld() const { return QApplication::activeModalWidget() != nullptr; }

bool frmOstrel::takeFrame() {
    QImage frame;
    if (!capture_->CopyFrame(frame)) {
        return false;
    }
    pctDebug_->setFrame(frame);
    frameKeeper_ = std::make_shared<const QImage>(std::move(frame));
    return true;
}

bool frmOstrel::editMode() const { return registry_->EditMode(); }

void frmOstrel::showUnderEditBox() { editor_->showLiveUnderBox(); }

void frmOstrel::EditMenu() { editor_->EditMenu(); }

std::int32_t frmOstrel::areaCount() const { return registry_->areaCollection().Count(); }

bool frmOstrel::startArea(std::int32_t number) {
    areas::ctlDetArea* area = controls_->at(registry_->FindAreaPosition(number));
    if (area == nullptr) {
        return false;
    }
    const engine::PixelView frame = pctDebug_->pixels();
    const int left = area->PixLeft();
    const int top = area->PixTop();
    // A frame of another size or depth than the areas were fitted to (the source changed and
    // FormatChange has not run yet) is not measured.
    if (frame.data == nullptr || frame.bytesPerPixel != area->ColRes() ||
        left + area->PixWidth() > frame.width || top + area->PixHeight() > frame.height) {
        return false;
    }
    area->startCalculate(frame.sub(left, top, area->PixWidth(), area->PixHeight()), frameKeeper_);
    return true;
}

void frmOstrel::measureStartedAreas(const std::vector<std::int32_t>& numbers) {
    std::vector<areas::ctlDetArea*> started;
    started.reserve(numbers.size());
    for (const std::int32_t number : numbers) {
        if (areas::ctlDetArea* area = controls_->at(registry_->FindAreaPosition(number))) {
            started.push_back(area);
        }
    }
    areas::ctlDetArea::measureStarted(started);
}

void frmOstrel::finishArea(std::int32_t number) {
    if (areas::ctlDetArea* area = controls_->at(registry_->FindAreaPosition(number))) {
        area->finishCalculate();
    }
}

void frmOstrel::updateMonitor() {
    if (monitor_) {
        monitor_->showSelectedArea(*registry_);
    }
}

// --- what automation clients reach ---

// One About box at most, and it holds nothing: a client's call or a flood of them only raises
// it. Headless shows no window.
void frmOstrel::showAbout() {
    if (options_.headless) {
        return;
    }
    if (!about_) {
        about_ = new frmAbout(this);
    }
    if (about_->isVisible()) {
        about_->raise();
        about_->activateWindow();
    } else {
        about_->show();
    }
}

bool frmOstrel::monitorVisible() const { return monitor_ && monitor_->isVisible(); }

void frmOstrel::setMonitorVisible(bool visible) {
    if (monitor_) {
        monitor_->setVisible(visible);
        menu_.mnuShowForms[0]->setChecked(visible);
    }
}

bool frmOstrel::videoVisible() const { return video_ && video_->isVisible(); }

void frmOstrel::setVideoVisible(bool visible) {
    if (video_) {
        video_->setVisible(visible);
        menu_.mnuShowForms[1]->setChecked(visible);
    }
}

void frmOstrel::setMainWindowVisible(bool visible) { setVisible(visible); }

bool frmOstrel::loadConfig(const QString& fileName) {
    return LoadConfig(*registry_, fileName, reporter_, [this] { return endRequested(); });
}

bool frmOstrel::saveConfig(const QString& fileName) { return SaveConfig(*registry_, fileName); }

void frmOstrel::clientAttached() {
    if (!options_.headless) {
        settings_.restorePosition(this);
        show();
    }
    setWindowTitle(QStringLiteral("Ostrel - ConUnit"));
    state_.ClientAttached = true;
    setExitEnabled();
}

// Headless, Ostrel is a service: it runs on without clients until it is told to end.
void frmOstrel::lastClientReleased() {
    state_.ClientAttached = false;
    setExitEnabled();
    if (!options_.headless) {
        endProgram();
    }
}

}  // namespace ostrel::shell
