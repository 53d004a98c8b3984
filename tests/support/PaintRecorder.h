#pragma once

#include <initializer_list>

#include <QEvent>
#include <QHash>
#include <QPaintEvent>
#include <QRegion>
#include <QWidget>

// Keeps the region that each of the watched widgets painted.
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(std::initializer_list<QWidget*> widgets) {
        for (QWidget* widget : widgets) {
            widget->installEventFilter(this);
        }
    }
    QHash<QObject*, QRegion> painted;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted[watched] += static_cast<QPaintEvent*>(event)->region();
        }
        return false;
    }
};
