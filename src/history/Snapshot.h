#pragma once

#include <cstdint>
#include <vector>

#include <QImage>
#include <QRect>
#include <QString>

namespace ostrel::history {

// An area as a snapshot shows it: its pixel rectangle in the frame and its key.
struct AreaOutline {
    QRect rect;
    QString label;
    bool triggering = false;  // the area whose rise the snapshot is of
};

// What a snapshot is made of. The frame is shared, not copied: frames are never written after
// they are handed over, so the copy waits for the writer's thread.
struct SnapshotJob {
    QImage frame;
    std::vector<AreaOutline> outlines;
    QString relativePath;  // below the history's folder
};

// Line colours of the outlines.
inline constexpr QRgb kOutlineColor = 0xFFFFDC00;     // yellow
inline constexpr QRgb kTriggeringColor = 0xFFFF0000;  // red

// The frame with every area's outline drawn on the inside of its rectangle, the triggering area's
// thicker, in red, with its key: the picture a snapshot file holds, as one image.
QImage annotatedSnapshot(const SnapshotJob& job);

// Writes the annotated frame as a JPEG to `folder`/relativePath, whole or not at all; returns
// its size in bytes. The picture is painted and compressed a band of rows at a time, so it is
// never held whole and the shared frame is not copied. HistoryError when it cannot be written.
std::int64_t writeSnapshot(const SnapshotJob& job, const QString& folder);

}  // namespace ostrel::history
