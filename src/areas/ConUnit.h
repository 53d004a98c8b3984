#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "AreaCollection.h"

namespace ostrel::areas {

class ConUnit;
class ConUnitHost;
class DetectionArea;
class ctlDetArea;
class mdlSub;

// A failed automation call: the call did nothing more and the client gets this fixed text.
class AutomationFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Keys longer than this (after trimming) are refused by ConUnit::Add: an area's key shows in
// menus and labels, and no one names a door with a megabyte.
inline constexpr qsizetype kMaxAutomationKeyLength = 1024;

// The hidden timer window: one timer, tmTimer, that collects the areas' pending changes and
// raises them on every ConUnit object alive. It does not tick while no ConUnit exists.
class frmTimer : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kFirstInterval{1000};
    static constexpr std::chrono::milliseconds kInterval{50};

    // The intervals can be shortened for tests; the program keeps the defaults.
    explicit frmTimer(mdlSub& registry, QObject* parent = nullptr,
                      std::chrono::milliseconds firstInterval = kFirstInterval,
                      std::chrono::milliseconds interval = kInterval);
    ~frmTimer() override;

    QTimer& tmTimer() { return tmTimer_; }
    // A client holds a ConUnit object.
    bool ClientAttached() const { return !units_.empty(); }
    int unitCount() const { return int(units_.size()); }

private:
    friend class ConUnit;
    // A new ConUnit: the timer starts over with its first interval.
    void attach(ConUnit* unit);
    // Returns whether `unit` was the last one; the timer stops then.
    bool detach(ConUnit* unit);
    void tmTimer_Timer();
    // Raises the pending motion or colour change of area `number` on every unit and clears the
    // flag. False when a handler has meanwhile taken the area away or renumbered it.
    bool report(std::int32_t number, const QPointer<ctlDetArea>& control, bool motion);

    mdlSub& registry_;
    QTimer tmTimer_;
    std::chrono::milliseconds firstInterval_;
    std::chrono::milliseconds interval_;
    std::vector<ConUnit*> units_;
    bool ticking_ = false;
};

// The automation object a client creates to drive the program: areas, configuration files,
// windows, and the detections as MotionDetection / ColorDetection. A thin layer over the area
// registry and the host windows; Add, Remove, OpenFile, SaveFile, SelectArea and Clear turn
// every failure into AutomationFailure with their fixed text.
class ConUnit : public QObject {
    Q_OBJECT

public:
    // Creation: the shared timer starts over at its first interval, then the host shows the
    // main window for the client and refuses to close from now on.
    ConUnit(mdlSub& registry, ConUnitHost& host, frmTimer& timer, QObject* parent = nullptr);
    // Leaves the timer without ending the program; Release() is the client's way out.
    ~ConUnit() override;

    // Shows the About box.
    void About();
    // The area `index` names (number or key, without regard to letter case), or null.
    std::shared_ptr<DetectionArea> Area(const AreaIndex& index) const;
    // Adds an area under `key` (trimmed of spaces) and sizes it: `geometry` holds up to four
    // fractions left, top, width, height; missing ones are 0.33.
    std::shared_ptr<DetectionArea> Add(const QString& key, const QList<double>& geometry = {});
    // True when removed, false while an area is being edited.
    bool Remove(const AreaIndex& index);
    std::int32_t Count() const;
    // Loads a configuration file; when the load reports false every area is cleared.
    bool OpenFile(const QString& fileName);
    bool SaveFile(const QString& fileName);
    // Selects the area `index` names; false while an area is being edited.
    bool SelectArea(const AreaIndex& index);
    // Removes every area; false while an area is being edited.
    bool Clear();
    bool MonitorVisible() const;
    void setMonitorVisible(bool visible);
    bool VideoVisible() const;
    void setVideoVisible(bool visible);
    // Shows or hides the main window; false (and nothing changes) while an area is being edited.
    bool ShowConUnit(bool mode);
    // The client lets go. When this was the last ConUnit the host releases the areas, closes
    // every window and ends the program (unless it runs as a service). Further calls do nothing.
    void Release();
    bool isReleased() const { return released_; }

Q_SIGNALS:
    void MotionDetection(std::int32_t Index, bool MotionStatus);
    void ColorDetection(std::int32_t Index, bool ColorStatus);

private:
    mdlSub& registry_;
    ConUnitHost& host_;
    frmTimer& timer_;
    bool released_ = false;
};

}  // namespace ostrel::areas
