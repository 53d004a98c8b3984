#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>

#include <QList>
#include <QObject>
#include <QString>

#include "AreaCollection.h"
#include "frmTimer.h"

namespace ostrel::areas {

class ConUnitHost;
class DetectionArea;
class mdlSub;

// A failed automation call: the call did nothing more and the client gets this fixed text.
class AutomationFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The automation object a client creates to drive the program: areas, configuration files,
// windows, and the detections as MotionDetection / ColorDetection. A thin layer over the area
// registry and the host windows; Add, Remove, OpenFile, SaveFile, SelectArea and Clear turn
// every failure into AutomationFailure with their fixed text.
class ConUnit : public QObject {
    Q_OBJECT

public:
    // Creation: the shared timer starts at its first interval unless it runs already, then the
    // host shows the main window for the client and refuses to close from now on. The timer's
    // reports come out as MotionDetection and ColorDetection until Release.
    ConUnit(mdlSub& registry, ConUnitHost& host, frmTimer& timer, QObject* parent = nullptr);
    // Leaves the timer without ending the program; Release() is the client's way out.
    ~ConUnit() override;

    // Shows the About box.
    void About();
    // The area `index` names (number or key, without regard to letter case), or null.
    std::shared_ptr<DetectionArea> Area(const AreaIndex& index) const;
    // Adds an area under `key` (trimmed of spaces) and sizes it: `geometry` holds up to four
    // fractions left, top, width, height; missing ones are 0.33. Beyond the registry's limits
    // it fails before anything changes.
    std::shared_ptr<DetectionArea> Add(const QString& key, const QList<double>& geometry = {});
    // True when removed, false while an area is being edited.
    bool Remove(const AreaIndex& index);
    std::int32_t Count() const;
    // Loads a configuration file; when the load reports false every area is cleared.
    bool OpenFile(const QString& fileName);
    // Saves to `fileName`, which must be an absolute path: the client does not know the
    // program's working directory.
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
