#include "FileCommands.h"

#include <exception>

#include <QFileDialog>
#include <QFileInfo>
#include <QWidget>
#include <QtDebug>

#include "ConfigFile.h"
#include "Messages.h"
#include "mdlSub.h"

namespace ostrel::shell {

namespace {
const QString kFilter = QStringLiteral("OstrelConfigFile (*.cfg)");
}

FileCommands::FileCommands(areas::mdlSub& registry, QWidget* window, QObject* parent)
    : QObject(parent),
      registry_(registry),
      window_(window),
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

void FileCommands::reportFailure() const {
    ui::ShowMessage(window_,
                    QStringLiteral("An error occurred while processing the specified file!"),
                    QMessageBox::Information);
}

void FileCommands::Open() {
    const QString path = openDialog_(window_, kFilter);
    if (path.isEmpty()) {
        return;
    }
    setFile(path);
    bool loaded = false;
    try {
        loaded = LoadConfig(registry_, configFilePath_, window_);
    } catch (const std::exception& e) {
        qWarning().noquote() << "Ostrel: loading failed:" << e.what();
    }
    if (loaded) {
        showFileName();
        return;
    }
    registry_.ClearAreas();
    reportFailure();
}

void FileCommands::Save() {
    if (configFilePath_.isEmpty()) {
        SaveAs();
        return;
    }
    bool saved = false;
    try {
        saved = SaveConfig(registry_, configFilePath_);
    } catch (const std::exception& e) {
        qWarning().noquote() << "Ostrel: saving failed:" << e.what();
    }
    if (saved) {
        showFileName();
    } else {
        reportFailure();
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
