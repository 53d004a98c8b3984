#include "HistoryChart.h"

#include <QDateTime>
#include <QDateTimeAxis>
#include <QLegendMarker>
#include <QLineSeries>
#include <QScatterSeries>
#include <QValueAxis>

namespace ostrel::shell {

namespace {

constexpr int kChartHeight = 200;
constexpr qreal kMarkSize = 9;

}  // namespace

const QColor HistoryChart::kMotionColor(200, 150, 0);
const QColor HistoryChart::kColorColor(180, 0, 180);

HistoryChart::HistoryChart(QWidget* parent)
    : QChartView(new QChart, parent), time_(new QDateTimeAxis), percent_(new QValueAxis) {
    setMinimumHeight(kChartHeight);
    chart()->setMargins(QMargins(4, 4, 4, 4));
    chart()->legend()->setAlignment(Qt::AlignRight);
    time_->setFormat(QStringLiteral("HH:mm"));
    time_->setTickCount(6);
    percent_->setRange(0, 100);
    percent_->setTickCount(5);
    percent_->setLabelFormat(QStringLiteral("%d %"));
    chart()->addAxis(time_, Qt::AlignBottom);
    chart()->addAxis(percent_, Qt::AlignLeft);
    motion_ = addLine(QStringLiteral("Motion"), kMotionColor, Qt::SolidLine);
    color_ = addLine(QStringLiteral("Colour"), kColorColor, Qt::SolidLine);
    motionThreshold_ = addLine(QStringLiteral("Motion threshold"), kMotionColor, Qt::DashLine);
    colorThreshold_ = addLine(QStringLiteral("Colour threshold"), kColorColor, Qt::DashLine);
    motionMarks_ = addMarks(kMotionColor);
    colorMarks_ = addMarks(kColorColor);
}

QLineSeries* HistoryChart::addLine(const QString& name, const QColor& color, Qt::PenStyle style) {
    auto* series = new QLineSeries;
    series->setName(name);
    series->setPen(QPen(color, 2, style));
    chart()->addSeries(series);
    series->attachAxis(time_);
    series->attachAxis(percent_);
    return series;
}

QScatterSeries* HistoryChart::addMarks(const QColor& color) {
    auto* marks = new QScatterSeries;
    marks->setMarkerSize(kMarkSize);
    marks->setColor(color);
    marks->setBorderColor(Qt::black);
    chart()->addSeries(marks);
    marks->attachAxis(time_);
    marks->attachAxis(percent_);
    for (QLegendMarker* marker : chart()->legend()->markers(marks)) {
        marker->setVisible(false);
    }
    return marks;
}

void HistoryChart::showTrail(const history::PercentTrail::Trail& trail, std::int64_t nowMs) {
    const qreal from = qreal(nowMs - history::PercentTrail::kSpan.count());
    const qreal to = qreal(nowMs);
    chart()->setTitle(QStringLiteral("Area %1 - %2").arg(trail.number).arg(trail.key));
    time_->setRange(QDateTime::fromMSecsSinceEpoch(std::int64_t(from)),
                    QDateTime::fromMSecsSinceEpoch(nowMs));

    QList<QPointF> motion, color, motionMarks, colorMarks;
    motion.reserve(qsizetype(trail.samples.size()));
    color.reserve(qsizetype(trail.samples.size()));
    for (const auto& sample : trail.samples) {
        motion.append(QPointF(qreal(sample.timeMs), sample.motion));
        color.append(QPointF(qreal(sample.timeMs), sample.color));
    }
    for (const auto& mark : trail.marks) {
        (mark.kind == areas::DetectionKind::Motion ? motionMarks : colorMarks)
            .append(QPointF(qreal(mark.timeMs), mark.percent));
    }
    motion_->replace(motion);
    color_->replace(color);
    motionMarks_->replace(motionMarks);
    colorMarks_->replace(colorMarks);
    motionThreshold_->replace({QPointF(from, trail.motionThreshold), QPointF(to, trail.motionThreshold)});
    colorThreshold_->replace({QPointF(from, trail.colorThreshold), QPointF(to, trail.colorThreshold)});
}

}  // namespace ostrel::shell
