#pragma once

#include <cstdint>

#include <QChartView>

#include "PercentTrail.h"

class QDateTimeAxis;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

namespace ostrel::shell {

// The live chart of one area in the History window: its motion and colour percentages over the
// last ten minutes, the two thresholds as dashed lines, and the reported changes as marks.
class HistoryChart : public QChartView {
    Q_OBJECT

public:
    // Motion in the yellow and colour in the magenta that the areas' pictures use, darkened to
    // stand out on white.
    static const QColor kMotionColor;
    static const QColor kColorColor;

    explicit HistoryChart(QWidget* parent = nullptr);

    // Shows `trail` over the ten minutes up to `nowMs`.
    void showTrail(const history::PercentTrail::Trail& trail, std::int64_t nowMs);

    QLineSeries* motion() const { return motion_; }
    QLineSeries* color() const { return color_; }

private:
    QLineSeries* addLine(const QString& name, const QColor& color, Qt::PenStyle style);
    QScatterSeries* addMarks(const QColor& color);

    QDateTimeAxis* time_;
    QValueAxis* percent_;
    QLineSeries* motion_;
    QLineSeries* color_;
    QLineSeries* motionThreshold_;
    QLineSeries* colorThreshold_;
    QScatterSeries* motionMarks_;
    QScatterSeries* colorMarks_;
};

}  // namespace ostrel::shell
