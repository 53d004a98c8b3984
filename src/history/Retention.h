#pragma once

#include <cstdint>

#include <QString>

namespace ostrel::history {

class EventStore;

// How much history is kept: rows and snapshots younger than `keepMs`, and at most `keepBytes`
// for the database and the snapshots together. The oldest go first.
struct RetentionLimits {
    static constexpr std::int64_t kMsPerDay = 24LL * 60 * 60 * 1000;
    static constexpr int kDefaultDays = 14;
    static constexpr std::int64_t kDefaultMegabytes = 1024;

    std::int64_t keepMs = kDefaultDays * kMsPerDay;
    std::int64_t keepBytes = kDefaultMegabytes * 1024 * 1024;
};

// Deletes from the history in `folder` the rows (and their snapshots) older than the age limit,
// snapshot folders of days before it, and then the oldest rows and their snapshots until the
// history takes at most `targetBytes` (at most the size limit). Returns the bytes it takes then.
std::int64_t applyRetention(EventStore& store, const QString& folder, const RetentionLimits& limits,
                            std::int64_t nowMs, std::int64_t targetBytes);

// Bytes of the database (with its write-ahead log) and every snapshot in `folder`.
std::int64_t historyBytes(const QString& folder);

}  // namespace ostrel::history
