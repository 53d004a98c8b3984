#pragma once

#include <span>

#include <QStringView>
#include <QVariant>

namespace ostrel::areas {

class DetectionArea;

// One property of an area as clients see it: its name, its D-Bus type ("i", "b", "s", "d"), how
// it is read and, for the writable ones, written. Every way in from outside (the bus, MQTT
// commands) goes through this one table, so the same names, types and limits hold everywhere.
struct AreaProperty {
    const char* name;
    const char* signature;
    QVariant (*read)(const DetectionArea&);
    void (*write)(DetectionArea&, const QVariant&);
};

// Every property, in the order of the area object's members; the writable ones first.
std::span<const AreaProperty> areaProperties();
// The property called `name` (exact spelling), or null.
const AreaProperty* findAreaProperty(QStringView name);
// Whether `value` is of the property's type exactly (no conversions: a text is no number).
bool fitsAreaProperty(const QVariant& value, const AreaProperty& property);
// Writes `value` through the area's setter, which limits numbers to their ranges. False, and
// nothing written, for a read-only property or a value of another type.
bool writeAreaProperty(DetectionArea& area, const AreaProperty& property, const QVariant& value);

}  // namespace ostrel::areas
