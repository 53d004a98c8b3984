#pragma once

#include <vector>

#include <QByteArray>
#include <QString>

#include "Topics.h"

namespace ostrel::mqtt {

// One retained message: where it goes and what it says.
struct Retained {
    QString topic;
    QByteArray payload;
};

// The Home Assistant discovery configs of one area: binary sensors for motion and colour, and
// sensors for the two percentages, all of one device (this Ostrel), with the availability topic.
// Their unique ids come from the Ostrel's name and the area's id, so they stay the same across
// restarts while the name and the key do.
std::vector<Retained> discoveryConfigs(const Topics& topics, const QString& areaId,
                                       const QString& areaKey);

}  // namespace ostrel::mqtt
