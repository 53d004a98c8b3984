#pragma once

#include <functional>

#include <QObject>
#include <QString>

class QWidget;

namespace ostrel::areas {
class mdlSub;
}

namespace ostrel::shell {

class Reporter;

// The File menu's "&Open...", "&Save" and "Save &As...": they keep the current configuration
// file and show its name in the main window's caption.
class FileCommands : public QObject {
    Q_OBJECT

  public:
    // Asks the user for a file: gets the dialog's parent and the file filter, returns the full
    // name of the chosen file, or an empty text when the user cancels.
    using FileDialog = std::function<QString(QWidget* parent, const QString& filter)>;

    // `window` is the main window: parent of the dialogs, and owner of the caption. Messages go
    // to `reporter`. A load stops early once `stopRequested` says so (the program is ending).
    FileCommands(areas::mdlSub& registry, QWidget* window, Reporter& reporter,
                 std::function<bool()> stopRequested = {}, QObject* parent = nullptr);

    // The dialogs in use; the system's file dialogs by default.
    void setOpenDialog(FileDialog dialog) { openDialog_ = std::move(dialog); }
    void setSaveDialog(FileDialog dialog) { saveDialog_ = std::move(dialog); }

    // Full name of the current file, empty until a dialog gave one, and its name without folder.
    const QString& ConfigFilePath() const { return configFilePath_; }
    const QString& ConfigFileTitle() const { return configFileTitle_; }

    // Makes `path` the current file and loads it as Open does after its dialog. False when it
    // could not be loaded: all areas are removed then, and the failure was reported (unless
    // the load stopped because the program is ending).
    bool openFile(const QString& path);

  public Q_SLOTS:
    // Loads a file the user chooses; on any failure all areas are removed.
    void Open();
    // Saves to the current file, or asks for one first when there is none yet.
    void Save();
    // Asks for a file and saves to it.
    void SaveAs();

  private:
    void setFile(const QString& path);
    void showFileName();
    void reportFailure(const QString& path, const char* action, const QString& reason);

    areas::mdlSub& registry_;
    QWidget* window_;
    Reporter& reporter_;
    std::function<bool()> stopRequested_;
    FileDialog openDialog_;
    FileDialog saveDialog_;
    QString configFilePath_;
    QString configFileTitle_;
};

}  // namespace ostrel::shell
