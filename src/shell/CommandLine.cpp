#include "CommandLine.h"

#include <cstdint>
#include <optional>

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

#include "MqttError.h"

namespace ostrel::shell {

namespace {

const QString kDefaultName = QStringLiteral("ostrel");

struct Options {
    QCommandLineOption source{
        {QStringLiteral("s"), QStringLiteral("source")},
        QStringLiteral("Video source: a device (/dev/video0), a file, a URI (file://, rtsp://, "
                       "http://) or a GStreamer launch line ending in a video source."),
        QStringLiteral("SOURCE")};
    QCommandLineOption headless{
        QStringLiteral("headless"),
        QStringLiteral("Run without windows and without a display; messages go to standard "
                       "error. SIGTERM or SIGINT ends it.")};
    QCommandLineOption config{
        QStringLiteral("config"),
        QStringLiteral("Load this configuration file (.cfg) at start. Headless, a file that "
                       "cannot be loaded ends the program with status 1."),
        QStringLiteral("FILE")};
    QCommandLineOption name{
        QStringLiteral("name"),
        QStringLiteral("Name of this Ostrel among several: shown in its messages; it takes the "
                       "bus name org.ostrel.Ostrel.NAME. Default: the configuration file's "
                       "name, else \"ostrel\"."),
        QStringLiteral("NAME")};
    QCommandLineOption mqtt{
        QStringLiteral("mqtt"),
        QStringLiteral("Publish the areas to this MQTT broker, mqtt://[user@]host[:port] or "
                       "mqtts://[user@]host[:port] for TLS. The password comes from "
                       "OSTREL_MQTT_PASSWORD or --mqtt-password-file."),
        QStringLiteral("URL")};
    QCommandLineOption mqttCa{
        QStringLiteral("mqtt-ca"),
        QStringLiteral("CA certificates (PEM) for an mqtts:// broker, in place of the system's."),
        QStringLiteral("FILE")};
    QCommandLineOption mqttPasswordFile{
        QStringLiteral("mqtt-password-file"),
        QStringLiteral("Read the MQTT password from the first line of this file."),
        QStringLiteral("FILE")};
    QCommandLineOption mqttDiscoveryPrefix{
        QStringLiteral("mqtt-discovery-prefix"),
        QStringLiteral("Topic prefix of Home Assistant's MQTT discovery. Default: homeassistant."),
        QStringLiteral("PREFIX")};
    QCommandLineOption keepDays{
        QStringLiteral("keep-days"),
        QStringLiteral("Keep the event history and its snapshots for this many days (default "
                       "14); older ones are deleted."),
        QStringLiteral("DAYS")};
    QCommandLineOption keepMegabytes{
        QStringLiteral("keep-mb"),
        QStringLiteral("Keep at most this many megabytes of event history and snapshots "
                       "(default 1024); the oldest go first."),
        QStringLiteral("MB")};
};

// A whole number from 1 to `most`, or nothing.
std::optional<std::int64_t> positiveNumber(const QString& text, std::int64_t most) {
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    return ok && value >= 1 && value <= most ? std::optional<std::int64_t>(value) : std::nullopt;
}

// The first line of `path`, without its line end.
QString firstLineOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw mqtt::MqttSettingsError(QStringLiteral("cannot read the MQTT password file %1: %2")
                                          .arg(path, file.errorString())
                                          .toStdString());
    }
    QByteArray line = file.readLine();
    while (line.endsWith('\n') || line.endsWith('\r')) {
        line.chop(1);
    }
    return QString::fromUtf8(line);
}

// The link that --mqtt and its companions ask for.
mqtt::LinkSettings mqttSettings(const QCommandLineParser& parser, const Options& options,
                                const QString& name) {
    mqtt::LinkSettings settings;
    settings.name = name;
    mqtt::applyBrokerUrl(parser.value(options.mqtt), settings);
    settings.caFile = parser.value(options.mqttCa);
    if (!settings.caFile.isEmpty() && !settings.tls) {
        throw mqtt::MqttSettingsError("--mqtt-ca is for an mqtts:// broker");
    }
    if (parser.isSet(options.mqttDiscoveryPrefix)) {
        settings.discoveryPrefix = parser.value(options.mqttDiscoveryPrefix);
        mqtt::checkDiscoveryPrefix(settings.discoveryPrefix);
    }
    settings.password = parser.isSet(options.mqttPasswordFile)
                            ? firstLineOf(parser.value(options.mqttPasswordFile))
                            : qEnvironmentVariable("OSTREL_MQTT_PASSWORD");
    return settings;
}

QString usage(QCommandLineParser& parser) {
    // The program's name as the usage line shows it, without an application object.
    return parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("ostrel"));
}

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Watches a live camera picture for motion and colour inside detection areas.\n"
        "\"ostrel events --help\" tells how to print the event history."));
    // Qt's own help option offers Qt's options too, which need an application object.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const Options options;
    parser.addOptions({options.source, options.headless, options.config, options.name,
                       options.mqtt, options.mqttCa, options.mqttPasswordFile,
                       options.mqttDiscoveryPrefix, options.keepDays, options.keepMegabytes});

    CommandLine result;
    const auto misuse = [&](const QString& fault) {
        result.action = CommandLine::Action::Misuse;
        result.text = QStringLiteral("ostrel: %1\n\n").arg(fault) + usage(parser);
        return result;
    };
    if (!parser.parse(arguments)) {
        return misuse(parser.errorText());
    }
    if (parser.isSet(help)) {
        result.action = CommandLine::Action::Help;
        result.text = usage(parser);
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::Action::Version;
        result.text = QStringLiteral("Ostrel %1\n").arg(QStringLiteral(OSTREL_VERSION_STRING));
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return misuse(QStringLiteral("unexpected argument \"%1\".")
                          .arg(parser.positionalArguments().constFirst()));
    }
    result.explicitName = parser.value(options.name).trimmed();
    if (parser.isSet(options.name) && result.explicitName.isEmpty()) {
        return misuse(QStringLiteral("--name needs a name that is not empty."));
    }
    StartOptions& start = result.options;
    start.source = parser.value(options.source);
    start.headless = parser.isSet(options.headless);
    start.configFile = parser.value(options.config);
    if (!result.explicitName.isEmpty()) {
        start.name = result.explicitName;
    } else if (!start.configFile.isEmpty()) {
        start.name = QFileInfo(start.configFile).completeBaseName();
    }
    if (start.name.isEmpty()) {
        start.name = kDefaultName;
    }
    if (parser.isSet(options.mqtt)) {
        try {
            result.mqtt = mqttSettings(parser, options, start.name);
        } catch (const mqtt::MqttSettingsError& fault) {
            return misuse(QString::fromStdString(fault.what()) + u'.');
        }
    } else {
        for (const QCommandLineOption* companion :
             {&options.mqttCa, &options.mqttPasswordFile, &options.mqttDiscoveryPrefix}) {
            if (parser.isSet(*companion)) {
                return misuse(QStringLiteral("--%1 needs --mqtt.").arg(companion->names().first()));
            }
        }
    }
    constexpr std::int64_t kMostDays = 100 * 366;
    constexpr std::int64_t kMostMegabytes = std::int64_t(1) << 30;
    if (parser.isSet(options.keepDays)) {
        const auto days = positiveNumber(parser.value(options.keepDays), kMostDays);
        if (!days) {
            return misuse(QStringLiteral("--keep-days needs a whole number of days from 1."));
        }
        start.retention.keepMs = *days * history::RetentionLimits::kMsPerDay;
    }
    if (parser.isSet(options.keepMegabytes)) {
        const auto megabytes = positiveNumber(parser.value(options.keepMegabytes), kMostMegabytes);
        if (!megabytes) {
            return misuse(QStringLiteral("--keep-mb needs a whole number of megabytes from 1."));
        }
        start.retention.keepBytes = *megabytes * 1024 * 1024;
    }
    return result;
}

bool displayAvailable() {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!qEnvironmentVariableIsEmpty(variable)) {
            return true;
        }
    }
    return false;
}

}  // namespace ostrel::shell
