#include "Retention.h"

#include <algorithm>
#include <vector>

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include "EventStore.h"
#include "HistoryPaths.h"

namespace ostrel::history {

namespace {

constexpr int kRowsPerRound = 256;

std::int64_t fileBytes(const QString& path) { return QFileInfo(path).size(); }

std::int64_t databaseBytes(const QString& folder) {
    const QString db = databasePath(folder);
    return fileBytes(db) + fileBytes(db + QStringLiteral("-wal"));
}

void removeSnapshots(const QString& folder, const std::vector<QString>& snapshots) {
    for (const QString& snapshot : snapshots) {
        QFile::remove(folder + u'/' + snapshot);
    }
}

// Day folders from before the age limit go whole: they hold only what a crash left without a
// row. A day's margin keeps a folder whose name is a day behind UTC.
void removeOldDayFolders(const QString& folder, std::int64_t cutoffMs) {
    const QDate lastToRemove = QDateTime::fromMSecsSinceEpoch(cutoffMs).date().addDays(-2);
    QDir snapshots(folder + u'/' + snapshotFolderName());
    for (const QString& day : snapshots.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QDate date = QDate::fromString(day, QStringLiteral("yyyy-MM-dd"));
        if (date.isValid() && date <= lastToRemove) {
            QDir(snapshots.filePath(day)).removeRecursively();
        } else {
            snapshots.rmdir(day);  // only when empty
        }
    }
}

}  // namespace

std::int64_t historyBytes(const QString& folder) {
    std::int64_t total = databaseBytes(folder);
    QDirIterator files(folder + u'/' + snapshotFolderName(), QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        total += files.nextFileInfo().size();
    }
    return total;
}

std::int64_t applyRetention(EventStore& store, const QString& folder, const RetentionLimits& limits,
                            std::int64_t nowMs, std::int64_t targetBytes) {
    const std::int64_t cutoffMs = nowMs - limits.keepMs;
    const std::vector<QString> aged = store.removeOlderThan(cutoffMs);
    removeSnapshots(folder, aged);
    bool removed = !aged.empty();

    targetBytes = std::min(targetBytes, limits.keepBytes);
    std::int64_t total = historyBytes(folder);
    if (total > targetBytes) {
        const std::int64_t rows = store.rowCount();
        const std::int64_t bytesPerRow = rows > 0 ? databaseBytes(folder) / rows : 0;
        while (total > targetBytes) {
            const std::vector<QString> oldest = store.oldestSnapshots(kRowsPerRound);
            if (oldest.empty()) {
                break;
            }
            int take = 0;
            for (const QString& snapshot : oldest) {
                total -= bytesPerRow + (snapshot.isEmpty() ? 0 : fileBytes(folder + u'/' + snapshot));
                ++take;
                if (total <= targetBytes) {
                    break;
                }
            }
            removeSnapshots(folder, store.removeOldest(take));
            removed = true;
        }
    }
    removeOldDayFolders(folder, cutoffMs);
    if (removed) {
        store.shrink();
    }
    return historyBytes(folder);
}

}  // namespace ostrel::history
