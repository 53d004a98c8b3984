#include "EventHistory.h"

#include <QDateTime>

#include "AreaControlArray.h"
#include "HistoryPaths.h"
#include "HistoryWriter.h"
#include "Snapshot.h"
#include "ctlDetArea.h"
#include "mdlSub.h"

namespace ostrel::history {

namespace {

// Entries of the snapshot clock kept before the stale ones are dropped.
constexpr qsizetype kSnapshotClockEntries = 256;

QString causeText(HistoryError::Cause cause) {
    switch (cause) {
        case HistoryError::Cause::Locked:
            return QStringLiteral("the database is locked by another program");
        case HistoryError::Cause::Damaged:
            return QStringLiteral("the database is damaged");
        case HistoryError::Cause::DiskFull:
            return QStringLiteral("the disk is full");
        case HistoryError::Cause::ReadOnly:
            return QStringLiteral("it cannot be written");
        case HistoryError::Cause::NewerSchema:
            return QStringLiteral("it was written by a later Ostrel");
        case HistoryError::Cause::Missing:
        case HistoryError::Cause::Other:
            break;
    }
    return QStringLiteral("it cannot be written");
}

}  // namespace

QString failureText(const QString& folder, const HistoryError& error) {
    return QStringLiteral("The event history in %1 is off: %2 (%3). Detection goes on without it.")
        .arg(folder, causeText(error.cause()), QString::fromStdString(error.what()));
}

EventHistory::EventHistory(areas::mdlSub& registry, areas::frmTimer& timer, FrameSource frame,
                           QString folder, RetentionLimits limits, QObject* parent)
    : QObject(parent),
      registry_(registry),
      timer_(&timer),
      frame_(std::move(frame)),
      folder_(std::move(folder)) {
    // The writer's reports come over to this thread; once this object is gone they are dropped.
    HistoryWriter::Listener listener;
    listener.failed = [this](const HistoryError& error) {
        QMetaObject::invokeMethod(this, [this, error] { onWriterFailed(error); },
                                  Qt::QueuedConnection);
    };
    listener.snapshotSaved = [this](const QString& path) {
        QMetaObject::invokeMethod(this, [this, path] { Q_EMIT snapshotSaved(path); },
                                  Qt::QueuedConnection);
    };
    writer_ = std::make_unique<HistoryWriter>(folder_, limits, std::move(listener));
    connect(&timer, &areas::frmTimer::changeReported, this, &EventHistory::onChange);
    timer.hold(this, areas::frmTimer::Holder::Listener);
}

EventHistory::~EventHistory() { stop(); }

void EventHistory::stop() {
    if (timer_) {
        disconnect(timer_, nullptr, this, nullptr);
        timer_->letGo(this);
        timer_.clear();
    }
    writer_->finish();
}

void EventHistory::onWriterFailed(const HistoryError& error) {
    if (reported_) {
        return;
    }
    reported_ = true;
    Q_EMIT failed(failureText(folder_, error));
}

void EventHistory::onChange(std::int32_t number, areas::DetectionKind kind, bool status) {
    const areas::ctlDetArea* control = registry_.controls().at(registry_.FindAreaPosition(number));
    if (control == nullptr) {
        return;
    }
    EventRow row;
    row.timeMs = QDateTime::currentMSecsSinceEpoch();
    row.area = number;
    row.key = control->Key();
    row.kind = kind;
    row.status = status;
    row.percent = kind == areas::DetectionKind::Motion ? control->MotionPer() : control->ColorPer();
    std::unique_ptr<SnapshotJob> snapshot;
    if (status && writer_->accepting() && snapshotDue(row.key, kind)) {
        snapshot = snapshotOf(number, row);
        if (snapshot) {
            row.snapshot = snapshot->relativePath;
        }
    }
    writer_->add(row, std::move(snapshot));
    Q_EMIT recorded(row);
}

// At most one snapshot per area and kind every kSnapshotInterval, on a clock that the wall
// clock's jumps do not move.
bool EventHistory::snapshotDue(const QString& key, areas::DetectionKind kind) {
    const auto now = std::chrono::steady_clock::now();
    const QString entry = kindName(kind) + u'/' + key.toCaseFolded();
    const auto last = lastSnapshot_.constFind(entry);
    if (last != lastSnapshot_.constEnd() && now - *last < kSnapshotInterval) {
        return false;
    }
    if (lastSnapshot_.size() >= kSnapshotClockEntries) {
        lastSnapshot_.removeIf([&](const auto& e) { return now - e.value() >= kSnapshotInterval; });
    }
    lastSnapshot_.insert(entry, now);
    return true;
}

// The current frame, shared, and every area's rectangle: all that the GUI thread gives away.
std::unique_ptr<SnapshotJob> EventHistory::snapshotOf(std::int32_t number, const EventRow& row) {
    QImage frame = frame_ ? frame_() : QImage();
    if (frame.isNull()) {
        return nullptr;
    }
    auto job = std::make_unique<SnapshotJob>();
    job->frame = std::move(frame);
    const std::int32_t count = registry_.areaCollection().Count();
    job->outlines.reserve(std::size_t(count));
    for (std::int32_t i = 1; i <= count; ++i) {
        const areas::ctlDetArea* area = registry_.controls().at(registry_.FindAreaPosition(i));
        if (area != nullptr) {
            job->outlines.push_back(
                {QRect(area->PixLeft(), area->PixTop(), area->PixWidth(), area->PixHeight()),
                 area->Key(), i == number});
        }
    }
    job->relativePath =
        snapshotPath(QDateTime::fromMSecsSinceEpoch(row.timeMs), number, row.key, row.kind);
    return job;
}

}  // namespace ostrel::history
