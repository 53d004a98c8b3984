#include "EventStore.h"

#include <iterator>
#include <string>

namespace ostrel::history {

namespace {

constexpr const char* kColumns = "time_ms, area, area_key, kind, status, percent, snapshot";

EventRow rowFrom(const Database::Statement& s) {
    EventRow row;
    row.timeMs = s.integer(0);
    row.area = std::int32_t(s.integer(1));
    row.key = s.text(2);
    row.kind = s.text(3) == QLatin1String("color") ? areas::DetectionKind::Color
                                                   : areas::DetectionKind::Motion;
    row.status = s.integer(4) != 0;
    row.percent = std::int32_t(s.integer(5));
    row.snapshot = s.text(6);
    return row;
}

std::vector<QString> texts(Database::Statement& s) {
    std::vector<QString> result;
    while (s.step()) {
        result.push_back(s.text(0));
    }
    return result;
}

// The layout, one step per version: step n brings a database from version n - 1 to n.
constexpr const char* kMigrations[] = {
    // 1: the events. Pages of deleted rows can be given back (retention) without a full VACUUM.
    "CREATE TABLE events ("
    "  id INTEGER PRIMARY KEY,"
    "  time_ms INTEGER NOT NULL,"
    "  area INTEGER NOT NULL,"
    "  area_key TEXT NOT NULL,"
    "  kind TEXT NOT NULL CHECK (kind IN ('motion', 'color')),"
    "  status INTEGER NOT NULL,"
    "  percent INTEGER NOT NULL,"
    "  snapshot TEXT);"
    "CREATE INDEX events_by_time ON events (time_ms);",
};
static_assert(std::size(kMigrations) == EventStore::kSchemaVersion);

}  // namespace

QString kindName(areas::DetectionKind kind) {
    return kind == areas::DetectionKind::Color ? QStringLiteral("color") : QStringLiteral("motion");
}

EventStore::EventStore(const QString& path, Database::Mode mode, int busyTimeoutMs)
    : db_(path, mode, busyTimeoutMs) {
    const std::int64_t version = db_.integer("PRAGMA user_version");
    if (version > kSchemaVersion) {
        throw HistoryError(HistoryError::Cause::NewerSchema,
                           "the database was written by a later Ostrel (layout " +
                               std::to_string(version) + ")");
    }
    if (mode == Database::Mode::ReadOnly) {
        if (version == 0) {
            throw HistoryError(HistoryError::Cause::Missing, "the event history is empty");
        }
        return;
    }
    migrate();
}

void EventStore::migrate() {
    std::int64_t version = db_.integer("PRAGMA user_version");
    if (version == 0) {
        // Only takes effect before the first table exists.
        db_.exec("PRAGMA auto_vacuum = INCREMENTAL");
    }
    db_.exec("PRAGMA journal_mode = WAL");
    db_.exec("PRAGMA synchronous = NORMAL");
    for (; version < kSchemaVersion; ++version) {
        step(kMigrations[version], version);
    }
}

// One step in one transaction with its version number, so that a crash leaves either layout.
void EventStore::step(const char* sql, std::int64_t fromVersion) {
    db_.transaction([&] {
        // Another writer may have taken this step meanwhile.
        if (db_.integer("PRAGMA user_version") == fromVersion) {
            db_.exec(sql);
            db_.exec(("PRAGMA user_version = " + std::to_string(fromVersion + 1)).c_str());
        }
    });
}

void EventStore::append(const std::vector<EventRow>& rows) {
    if (rows.empty()) {
        return;
    }
    db_.transaction([&] {
        Database::Statement insert(
            db_, "INSERT INTO events (time_ms, area, area_key, kind, status, percent, snapshot) "
                 "VALUES (?, ?, ?, ?, ?, ?, ?)");
        for (const EventRow& row : rows) {
            insert.bind(1, row.timeMs)
                .bind(2, row.area)
                .bind(3, row.key)
                .bind(4, kindName(row.kind))
                .bind(5, row.status ? 1 : 0)
                .bind(6, row.percent)
                .bindTextOrNull(7, row.snapshot);
            insert.step();
            insert.reset();
        }
    });
}

void EventStore::forEachSince(std::int64_t sinceMs,
                              const std::function<void(const EventRow&)>& visit) {
    Database::Statement query(db_, (std::string("SELECT ") + kColumns +
                                    " FROM events WHERE time_ms >= ? ORDER BY time_ms, id")
                                       .c_str());
    query.bind(1, sinceMs);
    while (query.step()) {
        visit(rowFrom(query));
    }
}

std::vector<EventRow> EventStore::latest(int count) {
    Database::Statement query(
        db_, (std::string("SELECT ") + kColumns + " FROM events ORDER BY time_ms DESC, id DESC LIMIT ?")
                 .c_str());
    query.bind(1, count);
    std::vector<EventRow> rows;
    while (query.step()) {
        rows.push_back(rowFrom(query));
    }
    return rows;
}

std::vector<QString> EventStore::removeOlderThan(std::int64_t cutoffMs) {
    Database::Statement files(
        db_, "SELECT snapshot FROM events WHERE time_ms < ? AND snapshot IS NOT NULL");
    files.bind(1, cutoffMs);
    std::vector<QString> snapshots = texts(files);
    Database::Statement remove(db_, "DELETE FROM events WHERE time_ms < ?");
    remove.bind(1, cutoffMs).step();
    return snapshots;
}

std::vector<QString> EventStore::oldestSnapshots(int count) {
    Database::Statement query(db_, "SELECT snapshot FROM events ORDER BY time_ms, id LIMIT ?");
    query.bind(1, count);
    return texts(query);
}

std::vector<QString> EventStore::removeOldest(int count) {
    std::vector<QString> snapshots = oldestSnapshots(count);
    Database::Statement remove(
        db_, "DELETE FROM events WHERE id IN (SELECT id FROM events ORDER BY time_ms, id LIMIT ?)");
    remove.bind(1, count).step();
    std::erase_if(snapshots, [](const QString& s) { return s.isEmpty(); });
    return snapshots;
}

std::int64_t EventStore::rowCount() { return db_.integer("SELECT count(*) FROM events"); }

void EventStore::shrink() {
    db_.exec("PRAGMA incremental_vacuum");
    db_.exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

}  // namespace ostrel::history
