#pragma once

#include <functional>
#include <memory>

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "AppState.h"
#include "AreaControlArray.h"
#include "AreaMeasure.h"
#include "ConUnitHost.h"
#include "DetectionLoop.h"
#include "MainMenu.h"
#include "Reporter.h"
#include "Retention.h"
#include "ServiceNotifier.h"
#include "WindowSettings.h"
#include "mdlSub.h"

namespace ostrel::areas {
class frmTimer;
}
namespace ostrel::history {
class EventHistory;
}
namespace ostrel::ui {
class AreaCommands;
class AreaEditor;
}

namespace ostrel::capture {
class ezVidCap;
}

namespace ostrel::shell {

class FileCommands;
class FramePicture;
class frmAbout;
class frmHistory;
class frmMonitor;
class frmVideo;

// How the program was started.
struct StartOptions {
    // The source named on the command line; empty for none.
    QString source;
    // No window and no display: messages become log lines, window settings are neither read
    // nor written, the last client's release does not end the program, and the test pattern
    // never stands in for a source by itself.
    bool headless = false;
    // A configuration file loaded at start as File, Open does; empty for none.
    QString configFile;
    // This Ostrel's name among several on one machine: in its log lines and wherever instances
    // must be told apart.
    QString name = QStringLiteral("ostrel");
    // How much event history is kept.
    history::RetentionLimits retention;
    // True once the program has been asked to end (a signal): long work stops early then.
    std::function<bool()> endRequested;
    // Bits per pixel of the display; the primary screen's depth when not set.
    std::function<int()> displayDepth;
};

// The main window: the video picture with the detection areas over it and the menu bar. It
// brings up the Video and Monitor windows, runs the detection loop on the capture control's
// frames, and ends the program in order when it closes.
class frmOstrel : public QMainWindow,
                  private engine::DetectionPassHost,
                  public areas::ConUnitHost {
    Q_OBJECT

public:
    explicit frmOstrel(StartOptions options = {}, QWidget* parent = nullptr);
    ~frmOstrel() override;

    // Start-up: display depth, drivers, capture, menus, position, frame size, the Monitor
    // window, the detection loop and the configuration file of the command line. False when
    // the program must end at once (a display with fewer than 24 bits per pixel, no video, a
    // file that headless cannot load, a signal); the reason was reported.
    bool load();

    // Records the changes `timer` reports in the event history of this Ostrel's name, with
    // snapshots; call before load(), which brings up the History window. `timer` may go first.
    void startHistory(areas::frmTimer& timer);

    // Fits the pictures, both windows and every area to the capture control's frame size.
    void FormatChange();
    // Ends the program in order, also while a client is attached (signals, the bus going away).
    void endProgram();
    // The program's exit status: 0, or 1 after a start-up failure (display, no video, the file).
    int exitCode() const { return exitCode_; }
    // Never shows the window in headless mode.
    void setVisible(bool visible) override;
    // Brings the menus and the Monitor's geometry colour in line with edit mode.
    void EditMenu();

    ui::MainMenu& menu() { return menu_; }
    areas::mdlSub& registry() { return *registry_; }
    areas::AreaControlArray& controls() { return *controls_; }
    FramePicture* pctDebug() const { return pctDebug_; }
    capture::ezVidCap& capture() { return *capture_; }
    frmMonitor* monitor() const { return monitor_.get(); }
    frmVideo* video() const { return video_.get(); }
    history::EventHistory* history() const { return history_.get(); }
    frmHistory* historyWindow() const { return historyWindow_.get(); }
    ui::AreaCommands& commands() { return *commands_; }
    ui::AreaEditor& editor() { return *editor_; }
    FileCommands& files() { return *files_; }
    AppState& state() { return state_; }
    Reporter& reporter() { return reporter_; }
    const StartOptions& options() const { return options_; }
    const engine::DetectionLoop& loop() const { return loop_; }

    // ConUnitHost
    void showAbout() override;
    bool monitorVisible() const override;
    void setMonitorVisible(bool visible) override;
    bool videoVisible() const override;
    void setVideoVisible(bool visible) override;
    void setMainWindowVisible(bool visible) override;
    bool loadConfig(const QString& fileName) override;
    bool saveConfig(const QString& fileName) override;
    void clientAttached() override;
    void lastClientReleased() override;

Q_SIGNALS:
    // The program has ended: windows closed, settings written.
    void ended();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // DetectionPassHost
    bool passesHeld() const override;
    bool takeFrame() override;
    bool editMode() const override;
    void showUnderEditBox() override;
    std::int32_t areaCount() const override;
    bool startArea(std::int32_t number) override;
    void measureStartedAreas(const std::vector<std::int32_t>& numbers) override;
    void finishArea(std::int32_t number) override;
    void updateMonitor() override;

    bool checkDisplayDepth();
    void loadMonitor();
    void loadHistoryWindow();
    void setHistoryVisible(bool visible);
    bool loadStartupConfig();
    void onCaptureError(int code, const QString& text);
    bool endRequested() const;
    void buildDriverMenu();
    void checkConnectedDriver();
    void sourceStateChanged();
    void selectDriver(int n);
    void connectCommands();
    void setExitEnabled();
    void finish();
    void closeModalDialogs();

    StartOptions options_;
    Reporter reporter_;
    AppState state_;
    ui::MainMenu menu_;
    QWidget* surface_ = nullptr;
    FramePicture* pctDebug_ = nullptr;
    std::unique_ptr<areas::AreaControlArray> controls_;
    std::unique_ptr<areas::mdlSub> registry_;
    std::unique_ptr<capture::ezVidCap> capture_;
    std::unique_ptr<frmVideo> video_;
    std::unique_ptr<frmMonitor> monitor_;
    std::unique_ptr<ui::AreaCommands> commands_;
    std::unique_ptr<ui::AreaEditor> editor_;
    std::unique_ptr<FileCommands> files_;
    std::unique_ptr<history::EventHistory> history_;
    std::unique_ptr<frmHistory> historyWindow_;
    engine::DetectionLoop loop_{*this};
    // The current frame, shared with the areas that keep it instead of drawing their picture.
    engine::FrameKeeper frameKeeper_;
    QTimer idleMonitor_;
    std::int64_t passesAtLastIdleCheck_ = 0;
    WindowSettings settings_{QStringLiteral("Ostrel"), 500, 500};
    QPointer<frmAbout> about_;
    ServiceNotifier notifier_;
    bool sourceLost_ = false;  // since the loss was reported, until the return is
    bool ended_ = false;
    int exitCode_ = 0;
};

}  // namespace ostrel::shell
