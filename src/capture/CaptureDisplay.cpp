#include "CaptureDisplay.h"

#include <QPaintEvent>
#include <QPainter>

#include "SurfacePaint.h"

namespace ostrel::capture {

CaptureDisplay::CaptureDisplay() {
    setObjectName(QStringLiteral("captureDisplay"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(0, 0);
}

void CaptureDisplay::setFrameSize(QSize size) {
    if (size != this->size()) {
        resize(size);
        updateGeometry();
    }
}

void CaptureDisplay::setFrame(const QImage& frame) {
    frame_ = frame;
    setFrameSize(frame.size());
    update();
}

// Black only where the frame does not reach.
void CaptureDisplay::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    for (const QRect& uncovered : event->region().subtracted(QRect(QPoint(0, 0), frame_.size()))) {
        painter.fillRect(uncovered, Qt::black);
    }
    if (!frame_.isNull() && !areas::paintStraight(painter, frame_)) {
        painter.drawImage(0, 0, frame_);
    }
}

}  // namespace ostrel::capture
