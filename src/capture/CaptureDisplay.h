#pragma once

#include <QImage>
#include <QWidget>

namespace ostrel::capture {

// The live picture in the Video window, 1:1 from its top-left corner, at the frame size.
class CaptureDisplay : public QWidget {
public:
    CaptureDisplay();

    void setFrameSize(QSize size);
    void setFrame(const QImage& frame);
    QSize sizeHint() const override { return size(); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QImage frame_;
};

}  // namespace ostrel::capture
