#include "MonitorBar.h"

#include <QPainter>

#include "Rounding.h"

namespace ostrel::shell {

MonitorBar::MonitorBar(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    setMinimumSize(100, 12);
}

void MonitorBar::setValues(int percent, int threshold) {
    if (!blank_ && percent == percent_ && threshold == threshold_) {
        return;
    }
    blank_ = false;
    percent_ = percent;
    threshold_ = threshold;
    update();
}

void MonitorBar::clear() {
    if (!blank_) {
        blank_ = true;
        update();
    }
}

void MonitorBar::paintEvent(QPaintEvent*) {
    if (blank_) {
        return;  // the background fill shows
    }
    QPainter painter(this);
    const int sw = width();
    const int sh = height();
    const auto x = [sw](double v) { return engine::nearest(v / 100 * sw); };
    // Rectangles include both corners.
    const auto fill = [&](int x1, int x2, const QColor& color) {
        if (x2 >= x1) {
            painter.fillRect(QRect(QPoint(x1, 0), QPoint(x2, sh)), color);
        }
    };
    if (percent_ > threshold_) {
        fill(0, x(threshold_), QColor(0, 255, 0));
        fill(x(threshold_), x(percent_), QColor(255, 0, 0));
    } else {
        fill(0, x(percent_), QColor(0, 255, 0));
    }
    fill(x(percent_) + 1, sw, QColor(255, 255, 255));
    const int mark = engine::nearest(threshold_ / 100.0 * (sw - 1));
    painter.setPen(QColor(0, 0, 255));
    painter.drawLine(mark, 0, mark, sh);
}

void MonitorBar::mouseDoubleClickEvent(QMouseEvent*) { Q_EMIT doubleClicked(); }

}  // namespace ostrel::shell
