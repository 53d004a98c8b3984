#include "Discovery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace ostrel::mqtt {

namespace {

struct Entity {
    const char* component;
    const char* what;  // the state topic's last level and the object id's suffix
    const char* label;
};

constexpr Entity kEntities[] = {
    {"binary_sensor", "motion", "motion"},
    {"binary_sensor", "color", "colour"},
    {"sensor", "motion_percent", "motion %"},
    {"sensor", "color_percent", "colour %"},
};

QJsonObject device(const Topics& topics) {
    return QJsonObject{
        {QStringLiteral("identifiers"), QJsonArray{QStringLiteral("ostrel_") + topics.node()}},
        {QStringLiteral("name"), QStringLiteral("Ostrel ") + topics.node()},
        {QStringLiteral("model"), QStringLiteral("Ostrel")},
        {QStringLiteral("sw_version"), QStringLiteral(OSTREL_VERSION_STRING)},
    };
}

}  // namespace

std::vector<Retained> discoveryConfigs(const Topics& topics, const QString& areaId,
                                       const QString& areaKey) {
    std::vector<Retained> configs;
    for (const Entity& entity : kEntities) {
        const QString object = areaId + u'_' + QLatin1String(entity.what);
        QJsonObject config{
            {QStringLiteral("name"), areaKey + u' ' + QLatin1String(entity.label)},
            {QStringLiteral("unique_id"),
             QStringLiteral("ostrel_%1_%2").arg(topics.node(), object)},
            {QStringLiteral("state_topic"), topics.areaState(areaId, entity.what)},
            {QStringLiteral("availability_topic"), topics.status()},
            {QStringLiteral("payload_available"), QStringLiteral("online")},
            {QStringLiteral("payload_not_available"), QStringLiteral("offline")},
            {QStringLiteral("device"), device(topics)},
        };
        if (QLatin1String(entity.component) == QLatin1String("binary_sensor")) {
            config.insert(QStringLiteral("payload_on"), QStringLiteral("ON"));
            config.insert(QStringLiteral("payload_off"), QStringLiteral("OFF"));
            if (QLatin1String(entity.what) == QLatin1String("motion")) {
                config.insert(QStringLiteral("device_class"), QStringLiteral("motion"));
            }
        } else {
            config.insert(QStringLiteral("unit_of_measurement"), QStringLiteral("%"));
            config.insert(QStringLiteral("state_class"), QStringLiteral("measurement"));
        }
        configs.push_back({topics.discovery(entity.component, object),
                           QJsonDocument(config).toJson(QJsonDocument::Compact)});
    }
    return configs;
}

}  // namespace ostrel::mqtt
