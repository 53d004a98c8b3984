#include "CommandLine.h"

#include <cstdint>
#include <optional>

#include <QCommandLineParser>
#include <QFileInfo>

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
                       options.keepDays, options.keepMegabytes});

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
        result.text = QStringLiteral("ostrel %1\n").arg(QStringLiteral(OSTREL_VERSION_STRING));
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
