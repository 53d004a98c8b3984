#pragma once

#include <cstdint>

#include <QMetaType>
#include <QString>

#include "frmTimer.h"

namespace ostrel::history {

// One reported status change of an area, as the history keeps it.
struct EventRow {
    std::int64_t timeMs = 0;  // UTC, milliseconds since 1970
    std::int32_t area = 0;    // the area's number at the time
    QString key;
    areas::DetectionKind kind = areas::DetectionKind::Motion;
    bool status = false;
    std::int32_t percent = 0;  // the kind's percentage when the change was reported
    QString snapshot;          // the picture of a rise, relative to the history's folder; or empty
};

// "motion" or "color", as stored and printed.
QString kindName(areas::DetectionKind kind);

}  // namespace ostrel::history

Q_DECLARE_METATYPE(ostrel::history::EventRow)
