#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "EventRow.h"
#include "HistoryError.h"
#include "Retention.h"
#include "Snapshot.h"

namespace ostrel::history {

class EventStore;

// Stores the history away from the GUI thread: a thread of its own opens the database, encodes
// the snapshots, writes the rows in batches (one transaction for what arrived within a quarter
// of a second) and applies the retention limits at start, every ten minutes and whenever the
// history grows past its size limit. The first failure ends the storing: it is passed on once,
// and everything after it is dropped.
class HistoryWriter {
public:
    struct Listener {
        // Called once, on the writer's thread.
        std::function<void(const HistoryError&)> failed;
        // A snapshot is on the disk (its path relative to the folder); on the writer's thread.
        std::function<void(const QString&)> snapshotSaved;
    };

    static constexpr std::chrono::milliseconds kBatchWindow{250};
    static constexpr std::chrono::minutes kRetentionInterval{10};
    // Snapshots waiting beyond this are not taken (their rows are); a stalled disk must not
    // fill the memory with frames.
    static constexpr std::size_t kMaxQueuedSnapshots = 16;
    // Rows waiting beyond this count as a failure of the disk.
    static constexpr std::size_t kMaxQueuedRows = 100000;

    HistoryWriter(QString folder, RetentionLimits limits, Listener listener);
    // Writes what is queued, then ends the thread.
    ~HistoryWriter();
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // Queues `row` and, for a rise, its snapshot; returns at once. A snapshot that is not taken
    // leaves the row without one.
    void add(EventRow row, std::unique_ptr<SnapshotJob> snapshot);
    // False once storing failed.
    bool accepting() const { return !failed_.load(); }
    // Writes what is queued and ends the thread; nothing is taken after it.
    void finish();

private:
    struct Item {
        EventRow row;
        std::unique_ptr<SnapshotJob> snapshot;
    };

    void run();
    void open();
    void write(std::vector<Item>& batch);
    void sweep(std::int64_t targetBytes);
    void fail(const HistoryError& error);

    const QString folder_;
    const RetentionLimits limits_;
    const Listener listener_;
    std::unique_ptr<EventStore> store_;  // the thread's own
    std::int64_t bytes_ = 0;             // the history's size, as of the last sweep plus writes
    std::chrono::steady_clock::time_point nextSweep_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Item> queue_;
    std::size_t queuedSnapshots_ = 0;
    bool finishing_ = false;
    std::atomic<bool> failed_{false};
    std::thread thread_;
};

}  // namespace ostrel::history
