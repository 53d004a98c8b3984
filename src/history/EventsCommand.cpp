#include "EventsCommand.h"

#include <optional>

#include <QCommandLineParser>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include "EventStore.h"
#include "HistoryPaths.h"

namespace ostrel::history {

namespace {

enum class Format { Text, Csv, Json };

struct Request {
    QString name = QStringLiteral("ostrel");
    std::int64_t sinceMs = 0;
    QString area;  // case-folded; empty for every area
    Format format = Format::Text;
};

std::int64_t secondsPer(QChar unit) {
    switch (unit.unicode()) {
        case 'm':
            return 60;
        case 'h':
            return 60 * 60;
        case 'd':
            return 24 * 60 * 60;
        case 'w':
            return 7 * 24 * 60 * 60;
        default:
            return 1;
    }
}

// "90s", "10m", "2h30m", "1d", "1w": that long before `nowMs`.
std::optional<std::int64_t> durationBefore(const QString& text, std::int64_t nowMs) {
    static const QRegularExpression whole(QStringLiteral("^(?:\\d{1,9}[smhdw])+$"));
    static const QRegularExpression part(QStringLiteral("(\\d+)([smhdw])"));
    if (!whole.match(text).hasMatch()) {
        return std::nullopt;
    }
    std::int64_t seconds = 0;
    for (const QRegularExpressionMatch& m : part.globalMatch(text)) {
        seconds += m.captured(1).toLongLong() * secondsPer(m.captured(2).front());
    }
    return nowMs - seconds * 1000;
}

// An ISO 8601 date, date and time ("T" or a space between), or a time of today; local time
// unless it names its offset ("Z", "+02:00").
std::optional<std::int64_t> pointInTime(QString text, const QDateTime& now) {
    text.replace(u' ', u'T');
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid()) {
        const QTime clock = QTime::fromString(text, Qt::ISODateWithMs);
        if (clock.isValid()) {
            time = QDateTime(now.date(), clock);
        }
    }
    if (!time.isValid()) {
        const QDate day = QDate::fromString(text, Qt::ISODate);
        if (day.isValid()) {
            time = day.startOfDay();
        }
    }
    return time.isValid() ? std::optional(time.toMSecsSinceEpoch()) : std::nullopt;
}

QString csvField(const QString& text) {
    static const QRegularExpression special(QStringLiteral("[\",\r\n]"));
    if (!text.contains(special)) {
        return text;
    }
    return u'"' + QString(text).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

QString utcText(std::int64_t timeMs) {
    return QDateTime::fromMSecsSinceEpoch(timeMs, Qt::UTC).toString(Qt::ISODateWithMs);
}

class Printer {
public:
    Printer(Format format, QString folder, std::FILE* out)
        : format_(format), folder_(std::move(folder)), out_(out) {}

    void begin() {
        if (format_ == Format::Csv) {
            put(QStringLiteral("time,area,key,kind,status,percent,snapshot\n"));
        } else if (format_ == Format::Json) {
            put(QStringLiteral("["));
        }
    }

    void row(const EventRow& row) {
        const QString snapshot = row.snapshot.isEmpty() ? QString() : folder_ + u'/' + row.snapshot;
        const QString status = row.status ? QStringLiteral("true") : QStringLiteral("false");
        switch (format_) {
            case Format::Text:
                put(QStringLiteral("%1  %2 %3  %4  %5 %6%  %7\n")
                        .arg(QDateTime::fromMSecsSinceEpoch(row.timeMs)
                                 .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")))
                        .arg(row.area, 3)
                        .arg(row.key, -12)
                        .arg(kindName(row.kind), -6)
                        .arg(row.status ? QStringLiteral("True") : QStringLiteral("False"), -5)
                        .arg(row.percent, 3)
                        .arg(snapshot.isEmpty() ? QStringLiteral("-") : snapshot));
                break;
            case Format::Csv:
                put(QStringList{utcText(row.timeMs), QString::number(row.area), csvField(row.key),
                                kindName(row.kind), status, QString::number(row.percent),
                                csvField(snapshot)}
                        .join(u',') +
                    u'\n');
                break;
            case Format::Json: {
                const QJsonObject object{
                    {QStringLiteral("time"), utcText(row.timeMs)},
                    {QStringLiteral("time_ms"), qint64(row.timeMs)},
                    {QStringLiteral("area"), row.area},
                    {QStringLiteral("key"), row.key},
                    {QStringLiteral("kind"), kindName(row.kind)},
                    {QStringLiteral("status"), row.status},
                    {QStringLiteral("percent"), row.percent},
                    {QStringLiteral("snapshot"),
                     snapshot.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(snapshot)}};
                put(QString::fromUtf8(rows_ ? ",\n  " : "\n  ") +
                    QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
                break;
            }
        }
        ++rows_;
    }

    void end() {
        if (format_ == Format::Json) {
            put(rows_ ? QStringLiteral("\n]\n") : QStringLiteral("]\n"));
        }
        std::fflush(out_);
    }

private:
    void put(const QString& text) { std::fputs(text.toUtf8().constData(), out_); }

    Format format_;
    QString folder_;
    std::FILE* out_;
    int rows_ = 0;
};

struct Parsed {
    std::optional<Request> request;
    int status = 0;  // when there is no request: 0 (help printed) or 2
};

Parsed parse(const QStringList& arguments, std::FILE* out, std::FILE* err) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Prints the event history of an Ostrel, oldest first: every status change "
                       "of its areas, with the snapshot of each rise."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    const QCommandLineOption name(
        QStringLiteral("name"),
        QStringLiteral("The Ostrel whose history to print, as named with its --name. "
                       "Default: \"ostrel\"."),
        QStringLiteral("NAME"));
    const QCommandLineOption since(
        QStringLiteral("since"),
        QStringLiteral("Only events from this time on: a duration back from now (90s, 10m, 2h30m, "
                       "1d, 1w) or a local date and time (2024-05-01, 2024-05-01T18:00, 18:00; "
                       "with Z or +02:00 for another zone)."),
        QStringLiteral("DURATION|TIME"));
    const QCommandLineOption area(QStringLiteral("area"),
                                  QStringLiteral("Only the events of the area with this key."),
                                  QStringLiteral("KEY"));
    const QCommandLineOption format(
        QStringLiteral("format"),
        QStringLiteral("text (default, local times), csv or json (UTC times in ISO 8601)."),
        QStringLiteral("text|csv|json"));
    parser.addOptions({help, name, since, area, format});

    const auto usage = [&] {
        return parser.helpText().replace(QStringLiteral("<executable_name> [options]"),
                                         QStringLiteral("ostrel events [options]"));
    };
    const auto misuse = [&](const QString& fault) {
        std::fputs(QStringLiteral("ostrel events: %1\n\n%2").arg(fault, usage()).toLocal8Bit().constData(),
                   err);
        return Parsed{std::nullopt, 2};
    };
    if (!parser.parse(QStringList{QStringLiteral("ostrel events")} + arguments)) {
        return misuse(parser.errorText());
    }
    if (parser.isSet(help)) {
        std::fputs(usage().toLocal8Bit().constData(), out);
        return Parsed{std::nullopt, 0};
    }
    if (!parser.positionalArguments().isEmpty()) {
        return misuse(QStringLiteral("unexpected argument \"%1\".")
                          .arg(parser.positionalArguments().constFirst()));
    }
    Request request;
    if (parser.isSet(name)) {
        request.name = parser.value(name).trimmed();
        if (request.name.isEmpty()) {
            return misuse(QStringLiteral("--name needs a name that is not empty."));
        }
    }
    if (parser.isSet(since)) {
        const QString text = parser.value(since).trimmed();
        const QDateTime now = QDateTime::currentDateTime();
        std::optional<std::int64_t> from = durationBefore(text, now.toMSecsSinceEpoch());
        if (!from) {
            from = pointInTime(text, now);
        }
        if (!from) {
            return misuse(QStringLiteral("--since takes a duration such as 10m or a time such as "
                                         "2024-05-01T18:00, not \"%1\".")
                              .arg(text));
        }
        request.sinceMs = *from;
    }
    request.area = parser.value(area).trimmed().toCaseFolded();
    const QString formatName = parser.value(format).trimmed().toLower();
    if (formatName == QLatin1String("csv")) {
        request.format = Format::Csv;
    } else if (formatName == QLatin1String("json")) {
        request.format = Format::Json;
    } else if (!formatName.isEmpty() && formatName != QLatin1String("text")) {
        return misuse(QStringLiteral("--format is text, csv or json, not \"%1\".").arg(formatName));
    }
    return Parsed{request, 0};
}

}  // namespace

int runEventsCommand(const QStringList& arguments, std::FILE* out, std::FILE* err) {
    const Parsed parsed = parse(arguments, out, err);
    if (!parsed.request) {
        return parsed.status;
    }
    const Request& request = *parsed.request;
    const QString folder = historyFolder(request.name);
    Printer printer(request.format, folder, out);
    bool begun = false;
    try {
        EventStore store(databasePath(folder), Database::Mode::ReadOnly);
        printer.begin();
        begun = true;
        store.forEachSince(request.sinceMs, [&](const EventRow& row) {
            if (request.area.isEmpty() || row.key.toCaseFolded() == request.area) {
                printer.row(row);
            }
        });
        printer.end();
    } catch (const HistoryError& error) {
        if (begun) {
            printer.end();
        }
        std::fprintf(err, "ostrel events: the history of \"%s\" cannot be read: %s\n",
                     request.name.toLocal8Bit().constData(), error.what());
        return 1;
    }
    return 0;
}

}  // namespace ostrel::history
