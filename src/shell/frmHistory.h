#pragma once

#include <cstdint>
#include <vector>

#include <QTimer>

#include "HidingWindow.h"
#include "PercentTrail.h"

class QLabel;
class QTableView;
class QVBoxLayout;

namespace ostrel::areas {
class mdlSub;
}
namespace ostrel::history {
class EventHistory;
}

namespace ostrel::shell {

struct AppState;
class EventListModel;
class HistoryChart;

// The History window: a live chart of every area over the last ten minutes and, below it, the
// list of events with their snapshots; a double-click on an event with a snapshot shows it. The
// areas are sampled twice a second all along (two numbers per area), so the charts have their
// ten minutes when the window opens; the charts themselves are drawn only while it is shown.
// Keeps its place, size and visibility like the other windows; hidden until first shown.
class frmHistory : public HidingWindow {
    Q_OBJECT

public:
    static constexpr int kSampleIntervalMs = 1000 / history::PercentTrail::kSamplesPerSecond;

    frmHistory(const AppState& state, const areas::mdlSub& registry,
               history::EventHistory& history, QWidget* parent = nullptr);
    ~frmHistory() override;

    // One sample of every area at `nowMs`; the charts follow while the window is shown.
    void tick(std::int64_t nowMs);

    const history::PercentTrail& trail() const { return trail_; }
    const std::vector<HistoryChart*>& charts() const { return charts_; }
    QTableView* eventList() const { return events_; }
    EventListModel* eventModel() const { return model_; }
    // The window that shows a snapshot; null until one was opened.
    QLabel* snapshotView() const { return snapshotView_; }

private:
    void fitColumns();
    void refreshCharts(std::int64_t nowMs);
    void openSnapshot(int row);

    const areas::mdlSub& registry_;
    history::PercentTrail trail_;
    QTimer sampler_;
    QVBoxLayout* chartColumn_ = nullptr;
    std::vector<HistoryChart*> charts_;
    QTableView* events_ = nullptr;
    EventListModel* model_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* snapshotView_ = nullptr;
};

}  // namespace ostrel::shell
