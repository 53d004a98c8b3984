#include "Reporter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <QWidget>

namespace ostrel::shell {

namespace {

const QString kTitle = QStringLiteral("Ostrel");

QMessageBox::Icon iconOf(Level level) {
    switch (level) {
        case Level::Info:
            return QMessageBox::Information;
        case Level::Warning:
            return QMessageBox::Warning;
        case Level::Error:
            break;
    }
    return QMessageBox::Critical;
}

const char* nameOf(Level level) {
    switch (level) {
        case Level::Info:
            return "info";
        case Level::Warning:
            return "warning";
        case Level::Error:
            break;
    }
    return "error";
}

// The syslog priority that the journal reads from a "<n>" at the start of a line.
int priorityOf(Level level) {
    switch (level) {
        case Level::Info:
            return 6;
        case Level::Warning:
            return 4;
        case Level::Error:
            break;
    }
    return 3;
}

// systemd names the journal stream it connected as "device:inode" in JOURNAL_STREAM.
bool standardErrorIsJournal() {
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const QList<QByteArray> parts = stream.split(':');
    struct stat status {};
    if (parts.size() != 2 || ::fstat(STDERR_FILENO, &status) != 0) {
        return false;
    }
    return parts[0].toULongLong() == status.st_dev && parts[1].toULongLong() == status.st_ino;
}

}  // namespace

Reporter::Reporter(bool headless, QString instanceName, QWidget* boxParent)
    : headless_(headless),
      instanceName_(std::move(instanceName)),
      boxParent_(boxParent),
      toJournal_(standardErrorIsJournal()) {}

Reporter::~Reporter() {
    for (const QPointer<QMessageBox>& box : boxes_) {
        delete box.data();
    }
}

void Reporter::report(Level level, const QString& text) { report(level, text, iconOf(level)); }

void Reporter::report(Level level, const QString& text, QMessageBox::Icon icon) {
    if (headless_) {
        log(level, text);
        return;
    }
    boxes_.removeAll(nullptr);
    for (const QPointer<QMessageBox>& box : boxes_) {
        if (box->text() == text) {
            box->raise();
            box->activateWindow();
            return;
        }
    }
    auto* box = new QMessageBox(icon, kTitle, text, QMessageBox::Ok, boxParent_.data());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    boxes_.append(box);
    box->show();
}

void Reporter::reportFatal(const QString& text) {
    if (headless_) {
        log(Level::Error, text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, kTitle, text, QMessageBox::Ok, boxParent_.data());
    box.exec();
}

void Reporter::log(Level level, const QString& text) const {
    const QByteArray line = QStringLiteral("%1: %2: %3\n")
                                .arg(instanceName_, QLatin1String(nameOf(level)),
                                     QString(text).replace(u'\n', u' '))
                                .toLocal8Bit();
    if (toJournal_) {
        std::fprintf(stderr, "<%d>", priorityOf(level));
    }
    std::fputs(line.constData(), stderr);
    std::fflush(stderr);
}

QList<QMessageBox*> Reporter::openBoxes() const {
    QList<QMessageBox*> open;
    for (const QPointer<QMessageBox>& box : boxes_) {
        if (box && box->isVisible()) {
            open.append(box.data());
        }
    }
    return open;
}

}  // namespace ostrel::shell
