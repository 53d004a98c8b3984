#include "FramePicture.h"

#include <QPainter>

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

void FramePicture::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!frame_.isNull()) {
        painter.drawImage(0, 0, frame_);
    }
}

}  // namespace ostrel::shell
