#include "Snapshot.h"

#include <algorithm>

#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>

#include "HistoryError.h"

namespace ostrel::history {

namespace {

constexpr int kJpegQuality = 85;

// Lines that stay visible after JPEG compression: at least 3 pixels, more on large frames.
int lineWidth(const QImage& image) { return std::max(3, std::min(image.width(), image.height()) / 160); }

// Four bands inside the rectangle, so that an area at the frame's edge keeps its whole outline.
void drawOutline(QPainter& painter, const QRect& rect, QRgb color, int width) {
    const QColor c = QColor::fromRgb(color);
    const int w = std::min({width, rect.width(), rect.height()});
    painter.fillRect(QRect(rect.left(), rect.top(), rect.width(), w), c);
    painter.fillRect(QRect(rect.left(), rect.bottom() - w + 1, rect.width(), w), c);
    painter.fillRect(QRect(rect.left(), rect.top(), w, rect.height()), c);
    painter.fillRect(QRect(rect.right() - w + 1, rect.top(), w, rect.height()), c);
}

void drawLabel(QPainter& painter, const QRect& rect, const QString& label, int width) {
    if (label.isEmpty()) {
        return;
    }
    const QRect box = painter.fontMetrics().boundingRect(label).adjusted(-2, -1, 2, 1);
    const QPoint at = rect.topLeft() + QPoint(width, width);
    painter.fillRect(box.translated(at - box.topLeft()), QColor::fromRgb(kTriggeringColor));
    painter.setPen(Qt::white);
    painter.drawText(at - box.topLeft() + QPoint(2, 1), label);
}

}  // namespace

QImage annotatedSnapshot(const SnapshotJob& job) {
    QImage image = job.frame.convertToFormat(QImage::Format_RGB32);
    if (image.isNull()) {
        return image;
    }
    const int width = lineWidth(image);
    QPainter painter(&image);
    for (const AreaOutline& area : job.outlines) {
        if (!area.triggering) {
            drawOutline(painter, area.rect, kOutlineColor, width);
        }
    }
    // The triggering area on top of the others.
    for (const AreaOutline& area : job.outlines) {
        if (area.triggering) {
            drawOutline(painter, area.rect, kTriggeringColor, width + 2);
            drawLabel(painter, area.rect, area.label, width + 2);
        }
    }
    return image;
}

std::int64_t writeSnapshot(const SnapshotJob& job, const QString& folder) {
    const QString path = folder + u'/' + job.relativePath;
    const auto fail = [&](const QString& why) {
        return HistoryError(HistoryError::Cause::Other,
                            QStringLiteral("the snapshot %1 cannot be written: %2")
                                .arg(path, why)
                                .toStdString());
    };
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        throw fail(QStringLiteral("its folder cannot be made"));
    }
    const QImage image = annotatedSnapshot(job);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        throw fail(file.errorString());
    }
    QImageWriter writer(&file, "jpg");
    writer.setQuality(kJpegQuality);
    if (!writer.write(image)) {
        file.cancelWriting();
        throw fail(writer.errorString());
    }
    const std::int64_t bytes = file.size();
    if (!file.commit()) {
        throw fail(file.errorString());
    }
    return bytes;
}

}  // namespace ostrel::history
