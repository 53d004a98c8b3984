#include "Snapshot.h"

#include <algorithm>
#include <cstring>

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QSaveFile>

#include "HistoryError.h"
#include "JpegEncoder.h"

namespace ostrel::history {

namespace {

constexpr int kJpegQuality = 85;

// Lines that stay visible after JPEG compression: at least 3 pixels, more on large frames.
int lineWidth(const QSize& frame) {
    return std::max(3, std::min(frame.width(), frame.height()) / 160);
}

// Four bands inside the rectangle, so that an area at the frame's edge keeps its whole outline.
void drawOutline(QPainter& painter, const QRect& rect, QRgb color, int width) {
    const QColor c = QColor::fromRgb(color);
    const int w = std::min({width, rect.width(), rect.height()});
    painter.fillRect(QRect(rect.left(), rect.top(), rect.width(), w), c);
    painter.fillRect(QRect(rect.left(), rect.bottom() - w + 1, rect.width(), w), c);
    painter.fillRect(QRect(rect.left(), rect.top(), w, rect.height()), c);
    painter.fillRect(QRect(rect.right() - w + 1, rect.top(), w, rect.height()), c);
}

void drawLabel(QPainter& painter, const QRect& rect, const QString& label, int width,
               const QRect& within) {
    if (label.isEmpty()) {
        return;
    }
    const QRect box = painter.fontMetrics().boundingRect(label).adjusted(-2, -1, 2, 1);
    const QPoint at = rect.topLeft() + QPoint(width, width);
    const QRect placed = box.translated(at - box.topLeft());
    if (!placed.intersects(within)) {
        return;
    }
    painter.fillRect(placed, QColor::fromRgb(kTriggeringColor));
    painter.setPen(Qt::white);
    painter.drawText(at - box.topLeft() + QPoint(2, 1), label);
}

// Draws what a snapshot adds to the frame, as far as it meets `within` (in the frame's pixels),
// on a painter that draws in the frame's pixels.
void drawAnnotations(QPainter& painter, const std::vector<AreaOutline>& outlines,
                     const QSize& frame, const QRect& within) {
    const int width = lineWidth(frame);
    for (const AreaOutline& area : outlines) {
        if (!area.triggering && area.rect.intersects(within)) {
            drawOutline(painter, area.rect, kOutlineColor, width);
        }
    }
    // The triggering area on top of the others.
    for (const AreaOutline& area : outlines) {
        if (!area.triggering) {
            continue;
        }
        if (area.rect.intersects(within)) {
            drawOutline(painter, area.rect, kTriggeringColor, width + 2);
        }
        // The key may reach past a small area's rectangle.
        drawLabel(painter, area.rect, area.label, width + 2, within);
    }
}

QImage frameOf(const SnapshotJob& job) {
    return job.frame.format() == QImage::Format_RGB32
               ? job.frame
               : job.frame.convertToFormat(QImage::Format_RGB32);
}

// The annotated frame a band of rows at a time: each band is copied from the frame into a small
// image and painted on there, so the frame itself stays shared and unwritten.
class AnnotatedBands {
public:
    AnnotatedBands(const QImage& frame, const std::vector<AreaOutline>& outlines)
        : frame_(frame),
          outlines_(outlines),
          band_(frame.width(), std::min(kJpegBandRows, frame.height()), QImage::Format_RGB32) {}

    engine::PixelView operator()(int y, int count) {
        const qsizetype bytes = qsizetype(frame_.width()) * 4;
        for (int i = 0; i < count; ++i) {
            std::memcpy(band_.scanLine(i), frame_.constScanLine(y + i), std::size_t(bytes));
        }
        QPainter painter(&band_);
        painter.translate(0, -y);
        drawAnnotations(painter, outlines_, frame_.size(), QRect(0, y, frame_.width(), count));
        painter.end();
        return {band_.constBits(), band_.width(), count, band_.bytesPerLine(), 4};
    }

private:
    const QImage& frame_;
    const std::vector<AreaOutline>& outlines_;
    QImage band_;
};

}  // namespace

QImage annotatedSnapshot(const SnapshotJob& job) {
    QImage image = frameOf(job);
    if (image.isNull()) {
        return image;
    }
    QPainter painter(&image);
    drawAnnotations(painter, job.outlines, image.size(), image.rect());
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
    const QImage frame = frameOf(job);
    if (frame.isNull()) {
        throw fail(QStringLiteral("there is no picture"));
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        throw fail(QStringLiteral("its folder cannot be made"));
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        throw fail(file.errorString());
    }
    try {
        writeJpeg(file, frame.width(), frame.height(), kJpegQuality,
                  AnnotatedBands(frame, job.outlines));
    } catch (const HistoryError& error) {
        file.cancelWriting();
        throw fail(QString::fromStdString(error.what()));
    }
    const std::int64_t bytes = file.size();
    if (!file.commit()) {
        throw fail(file.errorString());
    }
    return bytes;
}

}  // namespace ostrel::history
