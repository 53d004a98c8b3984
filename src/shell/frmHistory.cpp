#include "frmHistory.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QScrollArea>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include "AppState.h"
#include "EventHistory.h"
#include "EventListModel.h"
#include "HistoryChart.h"

namespace ostrel::shell {

namespace {

constexpr int kRowHeight = 60;

}  // namespace

frmHistory::frmHistory(const AppState& state, const areas::mdlSub& registry,
                       history::EventHistory& history, QWidget* parent)
    : HidingWindow(state, WindowSettings(QStringLiteral("History"), 1500, 1500, false), parent),
      registry_(registry) {
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(QStringLiteral("Ostrel - History"));
    auto* charts = new QWidget;
    chartColumn_ = new QVBoxLayout(charts);
    chartColumn_->addStretch();
    auto* scroll = new QScrollArea;
    scroll->setWidget(charts);
    scroll->setWidgetResizable(true);

    model_ = new EventListModel(history.folder(), this);
    events_ = new QTableView;
    events_->setModel(model_);
    events_->setSelectionBehavior(QAbstractItemView::SelectRows);
    events_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    events_->verticalHeader()->setVisible(false);
    events_->verticalHeader()->setDefaultSectionSize(kRowHeight);
    events_->horizontalHeader()->setStretchLastSection(true);
    events_->setIconSize(QSize(EventListModel::kThumbnailWidth, kRowHeight - 4));
    connect(events_, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { openSnapshot(index.row()); });

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(scroll);
    split->addWidget(events_);
    split->setSizes({600, 400});  // shares of the height
    status_ = new QLabel;
    status_->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(split);
    layout->addWidget(status_);

    const QString unreadable = model_->loadPast();
    status_->setText(unreadable);
    status_->setVisible(!unreadable.isEmpty());
    fitColumns();
    connect(&history, &history::EventHistory::recorded, this,
            [this](const history::EventRow& row) {
                trail_.mark(row);
                model_->prepend(row);
            });
    connect(&history, &history::EventHistory::snapshotSaved, model_,
            &EventListModel::snapshotSaved);
    connect(&history, &history::EventHistory::failed, this, [this](const QString& text) {
        status_->setText(text);
        status_->show();
    });

    sampler_.setInterval(kSampleIntervalMs);
    connect(&sampler_, &QTimer::timeout, this,
            [this] { tick(QDateTime::currentMSecsSinceEpoch()); });
    sampler_.start();
    keepSize(QSize(760, 640));
    restorePlace();
}

frmHistory::~frmHistory() = default;

// Widths for the texts the columns hold; the snapshot takes the rest.
void frmHistory::fitColumns() {
    const QFontMetrics metrics(events_->font());
    const std::pair<int, const char*> widest[] = {
        {EventListModel::Time, "0000-00-00 00:00:00.000"},
        {EventListModel::Area, "00 - Red light"},
        {EventListModel::Kind, "Colour"},
        {EventListModel::Status, "False (100 %)"}};
    for (const auto& [column, text] : widest) {
        events_->setColumnWidth(column, metrics.horizontalAdvance(QLatin1String(text)) + 16);
    }
}

void frmHistory::tick(std::int64_t nowMs) {
    trail_.sample(registry_, nowMs);
    if (isVisible()) {
        refreshCharts(nowMs);
    }
}

// One chart per followed area, in number order; charts of areas that are gone go.
void frmHistory::refreshCharts(std::int64_t nowMs) {
    const auto& trails = trail_.trails();
    while (charts_.size() < trails.size()) {
        charts_.push_back(new HistoryChart);
        chartColumn_->insertWidget(chartColumn_->count() - 1, charts_.back());
    }
    while (charts_.size() > trails.size()) {
        delete charts_.back();
        charts_.pop_back();
    }
    for (std::size_t i = 0; i < trails.size(); ++i) {
        charts_[i]->showTrail(trails[i], nowMs);
    }
}

void frmHistory::openSnapshot(int row) {
    const QString file = model_->snapshotFile(row);
    if (file.isEmpty()) {
        return;
    }
    if (snapshotView_ == nullptr) {
        snapshotView_ = new QLabel(this, Qt::Window);
        snapshotView_->setAlignment(Qt::AlignCenter);
    }
    const history::EventRow& event = model_->eventAt(row);
    const QPixmap picture(file);
    if (picture.isNull()) {
        snapshotView_->setText(QStringLiteral("The snapshot %1 cannot be read.").arg(file));
    } else {
        snapshotView_->setPixmap(picture);
    }
    snapshotView_->setWindowTitle(
        QStringLiteral("Ostrel - Snapshot %1, Area %2 - %3")
            .arg(QDateTime::fromMSecsSinceEpoch(event.timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
            .arg(event.area)
            .arg(event.key));
    snapshotView_->adjustSize();
    snapshotView_->show();
    snapshotView_->raise();
    snapshotView_->activateWindow();
}

}  // namespace ostrel::shell
