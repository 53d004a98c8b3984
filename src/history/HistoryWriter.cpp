#include "HistoryWriter.h"

#include <QDateTime>
#include <QDir>

#include "EventStore.h"
#include "HistoryPaths.h"

namespace ostrel::history {

namespace {

// Bytes a row adds to the database, roughly, for the size estimate between sweeps.
constexpr std::int64_t kRowBytes = 100;

// A sweep that the size limit starts goes down to this share of it, so that it does not run
// again for every new snapshot.
std::int64_t sweepTarget(const RetentionLimits& limits) { return limits.keepBytes / 20 * 19; }

}  // namespace

HistoryWriter::HistoryWriter(QString folder, RetentionLimits limits, Listener listener)
    : folder_(std::move(folder)), limits_(limits), listener_(std::move(listener)) {
    thread_ = std::thread([this] { run(); });
}

HistoryWriter::~HistoryWriter() { finish(); }

void HistoryWriter::finish() {
    {
        const std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void HistoryWriter::add(EventRow row, std::unique_ptr<SnapshotJob> snapshot) {
    if (failed_) {
        return;
    }
    bool overflow = false;
    {
        const std::lock_guard lock(mutex_);
        if (finishing_) {
            return;
        }
        if (snapshot && queuedSnapshots_ >= kMaxQueuedSnapshots) {
            snapshot.reset();
        }
        if (!snapshot) {
            row.snapshot.clear();
        } else {
            ++queuedSnapshots_;
        }
        overflow = queue_.size() >= kMaxQueuedRows;
        if (!overflow) {
            queue_.push_back({std::move(row), std::move(snapshot)});
        }
    }
    if (overflow) {
        fail(HistoryError(HistoryError::Cause::Other, "the disk does not keep up with the events"));
        return;
    }
    wake_.notify_one();
}

void HistoryWriter::fail(const HistoryError& error) {
    if (failed_.exchange(true)) {
        return;
    }
    if (listener_.failed) {
        listener_.failed(error);
    }
}

void HistoryWriter::run() {
    try {
        open();
    } catch (const HistoryError& error) {
        fail(error);
    }
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto work = [this] { return finishing_ || !queue_.empty(); };
        if (failed_) {
            wake_.wait(lock, work);
        } else {
            wake_.wait_until(lock, nextSweep_, work);  // or until the next sweep is due
        }
        if (!queue_.empty() && !finishing_) {
            // Gather what arrives within the batch window into one transaction.
            wake_.wait_for(lock, kBatchWindow, [this] { return finishing_; });
        }
        std::vector<Item> batch = std::move(queue_);
        queue_.clear();
        queuedSnapshots_ = 0;
        const bool last = finishing_;
        lock.unlock();
        if (!failed_) {
            try {
                write(batch);
                if (bytes_ > limits_.keepBytes) {
                    sweep(sweepTarget(limits_));
                } else if (std::chrono::steady_clock::now() >= nextSweep_) {
                    sweep(limits_.keepBytes);
                }
            } catch (const HistoryError& error) {
                fail(error);
            }
        }
        batch.clear();  // the frames go here, off the GUI thread
        if (last) {
            return;
        }
        lock.lock();
    }
}

void HistoryWriter::open() {
    if (!QDir().mkpath(folder_)) {
        throw HistoryError(HistoryError::Cause::ReadOnly,
                           "the folder " + folder_.toStdString() + " cannot be made");
    }
    store_ = std::make_unique<EventStore>(databasePath(folder_), Database::Mode::ReadWrite);
    sweep(limits_.keepBytes);
}

void HistoryWriter::sweep(std::int64_t targetBytes) {
    bytes_ = applyRetention(*store_, folder_, limits_, QDateTime::currentMSecsSinceEpoch(),
                            targetBytes);
    nextSweep_ = std::chrono::steady_clock::now() + kRetentionInterval;
}

// The snapshots first: a row names its snapshot only once the picture is on the disk.
void HistoryWriter::write(std::vector<Item>& batch) {
    std::vector<EventRow> rows;
    rows.reserve(batch.size());
    for (Item& item : batch) {
        if (item.snapshot) {
            bytes_ += writeSnapshot(*item.snapshot, folder_);
            item.snapshot.reset();
            if (listener_.snapshotSaved) {
                listener_.snapshotSaved(item.row.snapshot);
            }
        }
        bytes_ += kRowBytes;
        rows.push_back(std::move(item.row));
    }
    store_->append(rows);
}

}  // namespace ostrel::history
