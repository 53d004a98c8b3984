#include "FileCommands.h"

#include <exception>

#include <QFileDialog>
#include <QFileInfo>
#include <QWidget>

#include "ConfigFile.h"
#include "Reporter.h"
#include "mdlSub.h"

namespace ostrel::shell {

namespace {
const QString kFilter = QStringLiteral("OstrelConfigFile (*.cfg)");
}

FileCommands::FileCommands(areas::mdlSub& registry, QWidget* window, Reporter& reporter,
                           std::function<bool()> stopRequested, QObject* parent)
    : QObject(parent),
      registry_(registry),
      window_(window),
      reporter_(reporter),
      stopRequested_(std::move(stopRequested)),
      openDialog_([](QWidget* dialogParent, const QString& filter) {
          return QFileDialog::getOpenFileName(dialogParent, QString(), QString(), filter);
      }),
      saveDialog_([](QWidget* dialogParent, const QString& filter) {
          return QFileDialog::getSaveFileName(dialogParent, QString(), QString(), filter);
      }) {}

void FileCommands::setFile(const QString& path) {
    configFilePath_ = path;
    configFileTitle_ = QFileInfo(path).fileName();
}

void FileCommands::showFileName() {
    window_->setWindowTitle(QStringLiteral("Ostrel - ") + configFileTitle_);
}

// The reason goes to the log; the box says what the command says.
void FileCommands::reportFailure(const QString& path, const char* action, const QString& reason) {
    if (!reason.isEmpty()) {
        reporter_.log(Level::Warning, QStringLiteral("%1 %2 failed: %3")
                                          .arg(QLatin1String(action), path, reason));
    }
    reporter_.report(Level::Error,
                     QStringLiteral("An error occurred while processing the specified file!"),
                     QMessageBox::Information);
}

void FileCommands::Open() {
    const QString path = openDialog_(window_, kFilter);
    if (!path.isEmpty()) {
        openFile(path);
    }
}

bool FileCommands::openFile(const QString& path) {
    setFile(path);
    bool loaded = false;
    QString reason;
    try {
        loaded = LoadConfig(registry_, configFilePath_, reporter_, stopRequested_);
    } catch (const std::exception& e) {
        reason = QString::fromUtf8(e.what());
    }
    if (loaded) {
        showFileName();
        return true;
    }
    if (stopRequested_ && stopRequested_()) {
        return false;  // the program is ending and releases the areas itself
    }
    registry_.ClearAreas();
    reportFailure(configFilePath_, "loading", reason);
    return false;
}

void FileCommands::Save() {
    if (configFilePath_.isEmpty()) {
        SaveAs();
        return;
    }
    bool saved = false;
    QString reason;
    try {
        saved = SaveConfig(registry_, configFilePath_);
    } catch (const std::exception& e) {
        reason = QString::fromUtf8(e.what());
    }
    if (saved) {
        showFileName();
    } else {
        reportFailure(configFilePath_, "saving", reason);
    }
}

void FileCommands::SaveAs() {
    const QString path = saveDialog_(window_, kFilter);
    if (path.isEmpty()) {
        return;
    }
    setFile(path);
    Save();
}

}  // namespace ostrel::shell
