#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGenericPlugin>
#include <QMainWindow>

// Takes the picture of Ostrel's main window that the documentation shows. scripts/make-screenshot
// loads it into the unchanged program as a Qt generic plugin, "ostrel-screenshot:<file.png>",
// and creates <file.png>.take once the scene is set: the plugin then saves the main window to
// <file.png> and deletes the request.

namespace {

class Photographer : public QObject {
public:
    explicit Photographer(const QString& output) : output_(output), request_(output + ".take") {
        watcher_.addPath(QFileInfo(output).absolutePath());
        connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &Photographer::check);
    }

private:
    void check() {
        if (!QFile::exists(request_)) {
            return;
        }
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMainWindow*>(widget) != nullptr && widget->isVisible()) {
                // Written whole under another name first: the script waits for the file.
                const QString part = output_ + ".part";
                if (widget->grab().save(part, "PNG")) {
                    QFile::remove(output_);
                    QFile::rename(part, output_);
                } else {
                    qWarning("ostrel-screenshot: cannot write %s", qPrintable(part));
                }
                break;
            }
        }
        QFile::remove(request_);
    }

    QString output_;
    QString request_;
    QFileSystemWatcher watcher_;
};

class ScreenshotPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "ScreenshotPlugin.json")

public:
    QObject* create(const QString& key, const QString& outputPath) override {
        return key == QLatin1String("ostrel-screenshot") ? new Photographer(outputPath)
                                                         : nullptr;
    }
};

}  // namespace

#include "ScreenshotPlugin.moc"
