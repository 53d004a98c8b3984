#pragma once

#include <QString>

namespace ostrel::mqtt {

// Where and as whom the MQTT link connects, and under which names it publishes.
struct LinkSettings {
    static constexpr int kPlainPort = 1883;
    static constexpr int kTlsPort = 8883;

    QString host;  // empty: the link is off
    int port = kPlainPort;
    bool tls = false;
    // CA certificates for TLS (a PEM file); empty for the system's store.
    QString caFile;
    QString user;
    QString password;
    // This Ostrel's name: topics go under ostrel/<name made topic-safe>/.
    QString name = QStringLiteral("ostrel");
    // Home Assistant's discovery prefix.
    QString discoveryPrefix = QStringLiteral("homeassistant");

    bool enabled() const { return !host.isEmpty(); }
    // mqtt://[user@]host[:port] or mqtts://..., the port left out when it is the default one.
    QString url() const;
    bool operator==(const LinkSettings&) const = default;
};

// Reads `url` (mqtt://[user@]host[:port], mqtts://... for TLS) into host, port, tls and, when the
// URL names one, user. MqttSettingsError for anything else, and for a URL that holds a password:
// passwords never go where a process list shows them.
void applyBrokerUrl(const QString& url, LinkSettings& settings);
// MqttSettingsError unless `prefix` can begin a topic: not empty, no wildcard, no "/" first.
void checkDiscoveryPrefix(const QString& prefix);

}  // namespace ostrel::mqtt
