#include "CaptureDisplay.h"

#include <QPainter>

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

void CaptureDisplay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!frame_.isNull()) {
        painter.drawImage(0, 0, frame_);
    }
}

}  // namespace ostrel::capture
