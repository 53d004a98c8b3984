#include <gtest/gtest.h>

#include <QChart>
#include <QDateTime>
#include <QLabel>
#include <QLineSeries>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include "AppState.h"
#include "EventHistory.h"
#include "EventListModel.h"
#include "HistoryChart.h"
#include "ctlDetArea.h"
#include "frmHistory.h"
#include "frmTimer.h"
#include "support/AreaWindowParts.h"
#include "support/TestFrame.h"

using namespace ostrel;
using shell::HistoryChart;

namespace {

// A window over one area "Door" and a history in a folder of its own.
struct HistoryWindow {
    QTemporaryDir dir;
    AreaWindowParts parts;
    areas::frmTimer timer{parts.registry};
    history::EventHistory history{parts.registry, timer, {}, dir.path(), {}};
    shell::AppState state;
    areas::ctlDetArea& door;

    HistoryWindow() : door(parts.registry.controlOf((parts.registry.AddArea("Door"), 1))) {
        QSettings().clear();
    }
};

// Whether a pixel within `reach` of `at` (view coordinates) has `color`.
bool colorNear(const QImage& image, QPoint at, const QColor& color, int reach) {
    for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
            const QPoint p = at + QPoint(dx, dy);
            if (image.rect().contains(p) && image.pixelColor(p) == color) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

TEST(frmHistory, TheChartShowsThePercentagesTheThresholdsAndTheEvents) {
    HistoryWindow h;
    h.door.setMotionThreshold(30);
    h.door.setColorThreshold(70);
    // Three quarters of the area turn from black to white: 75 % motion, 25 % black (the colour).
    TestFrame frame(h.door.PixWidth(), h.door.PixHeight(), 3);
    h.door.setColRes(3);
    h.door.Calculate(frame.view());
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width * 3 / 4; ++x) {
            frame.set(x, y, 255, 255, 255);
        }
    }
    h.door.Calculate(frame.view());
    ASSERT_EQ(std::make_pair(h.door.MotionPer(), h.door.ColorPer()), std::make_pair(75, 25));

    shell::frmHistory window(h.state, h.parts.registry, h.history);
    EXPECT_TRUE(window.isHidden()) << "hidden until first shown";
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    window.tick(now - 400'000);
    EXPECT_TRUE(window.charts().empty()) << "no chart work while hidden";
    window.resize(900, 700);
    window.show();
    for (std::int64_t t = now - 300'000; t <= now; t += 10'000) {
        window.tick(t);
    }
    history::EventRow rise;
    rise.timeMs = now - 60'000;
    rise.key = QStringLiteral("Door");
    rise.area = 1;
    rise.status = true;
    rise.percent = 90;
    Q_EMIT h.history.recorded(rise);
    window.tick(now);
    ASSERT_EQ(window.charts().size(), 1u);

    HistoryChart& chart = *window.charts().front();
    const QImage shot = chart.grab().toImage();
    const auto at = [&](std::int64_t timeMs, double percent) {
        return chart.mapFromScene(
            chart.chart()->mapToPosition(QPointF(qreal(timeMs), percent), chart.motion()));
    };
    const std::int64_t middle = now - 150'000;
    EXPECT_TRUE(colorNear(shot, at(middle, 75), HistoryChart::kMotionColor, 2)) << "motion";
    EXPECT_TRUE(colorNear(shot, at(middle, 25), HistoryChart::kColorColor, 2)) << "colour";
    EXPECT_TRUE(colorNear(shot, at(now - 350'000, 65), Qt::white, 0)) << "nothing before the samples";
    EXPECT_TRUE(colorNear(shot, at(rise.timeMs, 90), HistoryChart::kMotionColor, 2)) << "the event";
    // The thresholds are dashed: a dash lies within a dash and a gap.
    EXPECT_TRUE(colorNear(shot, at(middle, 30), HistoryChart::kMotionColor, 6)) << "threshold";
    EXPECT_TRUE(colorNear(shot, at(middle, 70), HistoryChart::kColorColor, 6)) << "threshold";
    EXPECT_FALSE(colorNear(shot, at(middle, 50), HistoryChart::kMotionColor, 4) ||
                 colorNear(shot, at(middle, 50), HistoryChart::kColorColor, 4));
}

TEST(frmHistory, ADoubleClickShowsTheSnapshotAndTheWindowKeepsItsPlaceAndSize) {
    HistoryWindow h;
    h.state.HideOnClose = false;
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(QDir().mkpath(h.dir.filePath("snapshots")));
    ASSERT_TRUE(picture.save(h.dir.filePath("snapshots/rise.jpg")));
    {
        shell::frmHistory window(h.state, h.parts.registry, h.history);
        window.show();
        window.setGeometry(40, 50, 700, 500);
        history::EventRow rise;
        rise.key = QStringLiteral("Door");
        rise.status = true;
        rise.snapshot = QStringLiteral("snapshots/rise.jpg");
        Q_EMIT h.history.recorded(rise);
        QTableView& list = *window.eventList();
        const QRect row = list.visualRect(list.model()->index(0, shell::EventListModel::Time));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, row.center());  // the first click
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, row.center());
        ASSERT_NE(window.snapshotView(), nullptr);
        EXPECT_TRUE(window.snapshotView()->isVisible());
        EXPECT_EQ(window.snapshotView()->pixmap().size(), picture.size());
        window.close();
    }
    shell::frmHistory again(h.state, h.parts.registry, h.history);
    EXPECT_TRUE(again.isVisible());
    EXPECT_EQ(again.geometry(), QRect(40, 50, 700, 500));
}
