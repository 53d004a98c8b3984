#include "FramePicture.h"

#include <QPaintEvent>
#include <QPainter>

#include "SurfacePaint.h"

namespace ostrel::shell {

FramePicture::FramePicture(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void FramePicture::setFrame(const QImage& frame) {
    frame_ = frame;
    update();
}

engine::PixelView FramePicture::pixels() const {
    if (frame_.isNull()) {
        return {};
    }
    return {frame_.constBits(), frame_.width(), frame_.height(), frame_.bytesPerLine(),
            frame_.depth() / 8};
}

// Black only where the frame does not reach (there is none yet, or the picture is larger for
// a moment while the frame size changes): filling under the frame would be a wasted pass.
void FramePicture::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRegion uncovered = event->region().subtracted(QRect(QPoint(0, 0), frame_.size()));
    for (const QRect& r : uncovered) {
        painter.fillRect(r, Qt::black);
    }
    if (!frame_.isNull() && !areas::paintStraight(painter, frame_)) {
        painter.drawImage(0, 0, frame_);
    }
}

}  // namespace ostrel::shell
