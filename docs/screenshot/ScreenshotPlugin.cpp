#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGenericPlugin>
#include <QMainWindow>

// Takes the pictures of Ostrel's windows that the documentation shows. scripts/make-screenshot
// loads it into the unchanged program as a Qt generic plugin, "ostrel-screenshot:<file.png>",
// and creates <file.png>.take once the scene is set: the plugin then saves the window that the
// request names by its object name (the main window when it is empty) to <file.png> and deletes
// the request.

namespace {

class Photographer : public QObject {
public:
    explicit Photographer(const QString& output) : output_(output), request_(output + ".take") {
        watcher_.addPath(QFileInfo(output).absolutePath());
        connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &Photographer::check);
    }

private:
    void check() {
        QFile request(request_);
        if (!request.open(QIODevice::ReadOnly)) {
            return;
        }
        const QString name = QString::fromUtf8(request.readAll()).trimmed();
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            const bool named = name.isEmpty() ? qobject_cast<QMainWindow*>(widget) != nullptr
                                              : widget->objectName() == name;
            if (named && widget->isVisible()) {
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
