#pragma once

#include <QImage>
#include <QWidget>

#include "PixelView.h"

namespace ostrel::shell {

// The main window's video picture (pctDebug): holds the current frame and shows it 1:1 from its
// top-left corner, so video pixel (x, y) is the picture's pixel (x, y).
class FramePicture : public QWidget {
    Q_OBJECT

public:
    explicit FramePicture(QWidget* parent = nullptr);

    void setFrame(const QImage& frame);
    const QImage& frame() const { return frame_; }
    // The frame's pixels for measuring; empty while there is no frame.
    engine::PixelView pixels() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage frame_;
};

}  // namespace ostrel::shell
