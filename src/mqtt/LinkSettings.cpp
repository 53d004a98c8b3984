#include "LinkSettings.h"

#include <QUrl>

#include "MqttError.h"

namespace ostrel::mqtt {

QString LinkSettings::url() const {
    QUrl url;
    url.setScheme(tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"));
    url.setHost(host);
    if (!user.isEmpty()) {
        url.setUserName(user);
    }
    if (port != (tls ? kTlsPort : kPlainPort)) {
        url.setPort(port);
    }
    return url.toString();
}

void applyBrokerUrl(const QString& text, LinkSettings& settings) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    const auto refuse = [&](const char* why) {
        // A password in the address is not repeated where others may read it.
        const QString shown = url.isValid() ? url.toString(QUrl::RemovePassword) : text;
        throw MqttSettingsError(QStringLiteral("the broker address \"%1\" %2")
                                    .arg(shown, QLatin1String(why))
                                    .toStdString());
    };
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts"))) {
        refuse("is not of the form mqtt://[user@]host[:port] or mqtts://[user@]host[:port]");
    }
    if (url.host().isEmpty()) {
        refuse("names no host");
    }
    if (!url.password().isEmpty()) {
        refuse("holds a password; give it in OSTREL_MQTT_PASSWORD or a password file instead");
    }
    if (!url.path().isEmpty() && url.path() != QLatin1String("/")) {
        refuse("has a path; a broker address has none");
    }
    if (url.hasQuery() || url.hasFragment()) {
        refuse("has a query or a fragment; a broker address has none");
    }
    settings.tls = scheme == QLatin1String("mqtts");
    settings.host = url.host();
    settings.port = url.port(settings.tls ? LinkSettings::kTlsPort : LinkSettings::kPlainPort);
    if (settings.port == 0) {
        refuse("has port 0");
    }
    if (!url.userName().isEmpty()) {
        settings.user = url.userName();
    }
}

void checkDiscoveryPrefix(const QString& prefix) {
    if (prefix.isEmpty() || prefix.startsWith(u'/') || prefix.contains(u'+') ||
        prefix.contains(u'#')) {
        throw MqttSettingsError(
            QStringLiteral("the discovery prefix \"%1\" cannot begin a topic (it must not be "
                           "empty, start with \"/\" or hold \"+\" or \"#\")")
                .arg(prefix)
                .toStdString());
    }
}

}  // namespace ostrel::mqtt
