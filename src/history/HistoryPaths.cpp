#include "HistoryPaths.h"

#include <QStandardPaths>

#include "EventRow.h"

namespace ostrel::history {

namespace {

constexpr qsizetype kMaxKeyInFileName = 32;

QString folderName(const QString& instanceName) {
    QString name = instanceName;
    name.replace(u'/', u'_');
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
        name.prepend(u'_');
    }
    return name;
}

QString fileNameKey(const QString& key) {
    QString safe;
    for (const QChar c : key.left(kMaxKeyInFileName)) {
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                           (c >= u'0' && c <= u'9') || c == u'-';
        safe += plain ? c : u'_';
    }
    return safe;
}

}  // namespace

QString historyFolder(const QString& instanceName) {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Ostrel/") + folderName(instanceName);
}

QString databasePath(const QString& folder) { return folder + QStringLiteral("/events.sqlite"); }

QString snapshotPath(const QDateTime& time, std::int32_t number, const QString& key,
                     areas::DetectionKind kind) {
    const QDateTime local = time.toLocalTime();
    return QStringLiteral("%1/%2/%3_%4_%5_%6.jpg")
        .arg(snapshotFolderName(), local.toString(QStringLiteral("yyyy-MM-dd")),
             local.toString(QStringLiteral("HHmmss-zzz")), QString::number(number),
             fileNameKey(key), kindName(kind));
}

}  // namespace ostrel::history
