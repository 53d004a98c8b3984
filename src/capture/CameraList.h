#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "GstHandles.h"

namespace ostrel::capture {

// The cameras GStreamer's device monitor finds (class Video/Source), probed once.
class CameraList {
public:
    // Probes the hardware; with no camera the list is empty.
    static CameraList probe();

    int count() const { return int(names_.size()); }
    QString name(int n) const { return names_.value(n); }
    // A new source element for camera n; throws CaptureFailure when it cannot be made.
    gst::ElementHandle createSource(int n) const;

private:
    std::vector<gst::DeviceHandle> devices_;
    QStringList names_;
};

}  // namespace ostrel::capture
