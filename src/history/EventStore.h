#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "Database.h"
#include "EventRow.h"

namespace ostrel::history {

// The history's database: one table of events, in WAL mode so that a reader (`ostrel events`,
// the History window) never waits for the writer. The program creates the layout itself and
// numbers it in `user_version`; opening for writing brings an older layout up to date one step
// at a time, and refuses a layout newer than this program knows.
class EventStore {
public:
    static constexpr std::int64_t kSchemaVersion = 1;

    // HistoryError when the database cannot be opened, is damaged, or has a layout this program
    // cannot use.
    EventStore(const QString& path, Database::Mode mode,
               int busyTimeoutMs = Database::kBusyTimeoutMs);

    // Appends `rows` in one transaction.
    void append(const std::vector<EventRow>& rows);
    // Every row from `sinceMs` on, oldest first.
    void forEachSince(std::int64_t sinceMs, const std::function<void(const EventRow&)>& visit);
    // The newest `count` rows, newest first.
    std::vector<EventRow> latest(int count);

    // --- retention ---

    // Deletes the rows older than `cutoffMs`; returns their snapshots.
    std::vector<QString> removeOlderThan(std::int64_t cutoffMs);
    // Deletes the oldest `count` rows; returns their snapshots.
    std::vector<QString> removeOldest(int count);
    // The snapshots of the oldest `count` rows, oldest first (empty texts for rows without one).
    std::vector<QString> oldestSnapshots(int count);
    std::int64_t rowCount();
    // Gives the pages of deleted rows back to the file system.
    void shrink();

private:
    void migrate();
    void step(const char* sql, std::int64_t fromVersion);

    Database db_;
};

}  // namespace ostrel::history
