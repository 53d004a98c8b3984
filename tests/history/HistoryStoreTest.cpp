#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "EventStore.h"
#include "HistoryPaths.h"
#include "Retention.h"

using namespace ostrel::history;

namespace {

constexpr std::int64_t kDay = RetentionLimits::kMsPerDay;

struct History {
    QTemporaryDir dir;
    QString folder = dir.path();
    EventStore store{databasePath(folder), Database::Mode::ReadWrite};

    // A row at `timeMs`, with a snapshot file of `bytes` bytes unless 0.
    QString add(std::int64_t timeMs, int bytes) {
        EventRow row;
        row.timeMs = timeMs;
        row.area = 1;
        row.key = QStringLiteral("Door");
        row.status = true;
        if (bytes > 0) {
            row.snapshot = snapshotPath(QDateTime::fromMSecsSinceEpoch(timeMs), 1, row.key,
                                        row.kind);
            QDir().mkpath(QFileInfo(file(row.snapshot)).path());
            QFile out(file(row.snapshot));
            EXPECT_TRUE(out.open(QIODevice::WriteOnly));
            out.write(QByteArray(bytes, 'x'));
        }
        store.append({row});
        return row.snapshot;
    }
    QString file(const QString& snapshot) const { return folder + u'/' + snapshot; }
    std::vector<std::int64_t> times() {
        std::vector<std::int64_t> result;
        store.forEachSince(0, [&](const EventRow& row) { result.push_back(row.timeMs); });
        return result;
    }
};

}  // namespace

TEST(EventStore, ALayoutOfItsOwnAndNoneItDoesNotKnow) {
    QTemporaryDir dir;
    const QString path = databasePath(dir.path());
    EXPECT_THROW(EventStore(path, Database::Mode::ReadOnly), HistoryError);
    EXPECT_FALSE(QFile::exists(path)) << "reading creates nothing";
    {
        EventStore created(path, Database::Mode::ReadWrite);
        Database db(path, Database::Mode::ReadOnly);
        EXPECT_EQ(db.integer("PRAGMA user_version"), EventStore::kSchemaVersion);
        Database::Statement mode(db, "PRAGMA journal_mode");
        ASSERT_TRUE(mode.step());
        EXPECT_EQ(mode.text(0), "wal");
    }
    {
        Database db(path, Database::Mode::ReadWrite);
        db.exec("PRAGMA user_version = 99");
    }
    for (const auto mode : {Database::Mode::ReadWrite, Database::Mode::ReadOnly}) {
        try {
            EventStore later(path, mode);
            ADD_FAILURE() << "a later layout was opened";
        } catch (const HistoryError& error) {
            EXPECT_EQ(error.cause(), HistoryError::Cause::NewerSchema);
        }
    }
}

TEST(Retention, TheOldestRowsAndSnapshotsGoFirstByAgeAndBySize) {
    History h;
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    const QString aged = h.add(now - 20 * kDay, 100'000);
    const QString older = h.add(now - 10 * kDay, 100'000);
    const QString newer = h.add(now - 1 * kDay, 100'000);
    h.add(now, 0);
    const QString orphanDay = h.folder + QStringLiteral("/snapshots/2000-01-01");
    QDir().mkpath(orphanDay);
    QFile(orphanDay + QStringLiteral("/left-by-a-crash.jpg")).open(QIODevice::WriteOnly);

    RetentionLimits limits;
    limits.keepMs = 14 * kDay;
    applyRetention(h.store, h.folder, limits, now, limits.keepBytes);
    EXPECT_EQ(h.times(), (std::vector<std::int64_t>{now - 10 * kDay, now - kDay, now}));
    EXPECT_FALSE(QFile::exists(h.file(aged)));
    EXPECT_FALSE(QDir(orphanDay).exists());
    EXPECT_TRUE(QFile::exists(h.file(older)));

    // Room for one snapshot less: the older one goes, with its row.
    limits.keepBytes = historyBytes(h.folder) - 50'000;
    const std::int64_t left = applyRetention(h.store, h.folder, limits, now, limits.keepBytes);
    EXPECT_LE(left, limits.keepBytes);
    EXPECT_EQ(h.times(), (std::vector<std::int64_t>{now - kDay, now}));
    EXPECT_FALSE(QFile::exists(h.file(older)));
    EXPECT_TRUE(QFile::exists(h.file(newer)));
}
