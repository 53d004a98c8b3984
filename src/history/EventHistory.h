#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

#include "EventRow.h"
#include "HistoryError.h"
#include "Retention.h"

namespace ostrel::areas {
class mdlSub;
}

namespace ostrel::history {

class HistoryWriter;
struct SnapshotJob;

// Records every status change that the event timer reports, the same changes that clients
// receive as events, whether or not a client holds a ConUnit: a row for each, and for a rise to
// True a snapshot of the frame with the areas' outlines, at most one per area and kind every
// 5 s. The GUI thread only notes the change and hands the frame over; storing happens on the
// writer's thread. When storing fails, that is said once and detection goes on without it.
class EventHistory : public QObject {
    Q_OBJECT

public:
    using FrameSource = std::function<QImage()>;
    static constexpr std::chrono::seconds kSnapshotInterval{5};

    // Holds `timer` while it records. `frame` gives the current frame (a null image for none).
    EventHistory(areas::mdlSub& registry, areas::frmTimer& timer, FrameSource frame,
                 QString folder, RetentionLimits limits, QObject* parent = nullptr);
    ~EventHistory() override;

    // Lets go of the timer and writes what is queued; nothing is recorded after it.
    void stop();
    const QString& folder() const { return folder_; }

Q_SIGNALS:
    // Storing failed for good; `text` says where and why. Sent once.
    void failed(const QString& text);
    // A change was recorded (sent also once storing has failed).
    void recorded(const ostrel::history::EventRow& row);
    // The snapshot at `relativePath` is on the disk.
    void snapshotSaved(const QString& relativePath);

private:
    void onChange(std::int32_t number, areas::DetectionKind kind, bool status);
    bool snapshotDue(const QString& key, areas::DetectionKind kind);
    std::unique_ptr<SnapshotJob> snapshotOf(std::int32_t number, const EventRow& row);
    void onWriterFailed(const HistoryError& error);

    areas::mdlSub& registry_;
    QPointer<areas::frmTimer> timer_;
    FrameSource frame_;
    QString folder_;
    std::unique_ptr<HistoryWriter> writer_;
    QHash<QString, std::chrono::steady_clock::time_point> lastSnapshot_;
    bool reported_ = false;
};

// The message for a failure of the history in `folder`.
QString failureText(const QString& folder, const HistoryError& error);

}  // namespace ostrel::history
