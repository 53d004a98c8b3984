#include "Topics.h"

#include <limits>

#include <QStringList>

namespace ostrel::mqtt {

QString topicSafe(const QString& text) {
    QString safe;
    bool inRun = false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool keep =
            (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9');
        if (keep) {
            safe += QChar(u >= u'A' && u <= u'Z' ? u - u'A' + u'a' : u);
        } else if (!inRun) {
            safe += u'_';
        }
        inRun = !keep;
    }
    return safe;
}

QString uniqueAreaId(const QString& key, std::int32_t number,
                     const std::function<bool(const QString&)>& taken) {
    QString base = topicSafe(key);
    if (base.isEmpty() || base == QLatin1String("_")) {
        base = QStringLiteral("area%1").arg(number);
    }
    QString id = base;
    for (int n = 2; taken(id); ++n) {
        id = QStringLiteral("%1_%2").arg(base).arg(n);
    }
    return id;
}

QVariant commandValue(const QByteArray& payload, const char* signature) {
    const QByteArray text = payload.trimmed();
    if (signature[0] == 'i') {
        bool ok = false;
        const qlonglong number = text.toLongLong(&ok, 10);
        if (!ok || number < std::numeric_limits<int>::min() ||
            number > std::numeric_limits<int>::max()) {
            return {};
        }
        return QVariant(int(number));
    }
    if (signature[0] == 'b') {
        const QByteArray word = text.toLower();
        if (word == "on" || word == "true" || word == "1") {
            return QVariant(true);
        }
        if (word == "off" || word == "false" || word == "0") {
            return QVariant(false);
        }
    }
    return {};
}

Topics::Topics(const QString& name, const QString& discoveryPrefix)
    : node_(topicSafe(name)), prefix_(discoveryPrefix) {
    if (node_.isEmpty() || node_ == QLatin1String("_")) {
        node_ = QStringLiteral("ostrel");
    }
    root_ = QStringLiteral("ostrel/") + node_;
    while (prefix_.endsWith(u'/')) {
        prefix_.chop(1);
    }
}

QString Topics::areaState(const QString& id, const char* what) const {
    return QStringLiteral("%1/area/%2/%3").arg(root_, id, QLatin1String(what));
}

QString Topics::discovery(const char* component, const QString& object) const {
    return QStringLiteral("%1/%2/%3/%4/config")
        .arg(prefix_, QLatin1String(component), node_, object);
}

QString Topics::discoveryFilter() const {
    return QStringLiteral("%1/+/%2/+/config").arg(prefix_, node_);
}

bool Topics::parseCommand(const QString& topic, QString& id, QString& property) const {
    const QString head = root_ + QStringLiteral("/area/");
    if (!topic.startsWith(head)) {
        return false;
    }
    const QStringList parts = topic.mid(head.size()).split(u'/');
    if (parts.size() != 3 || parts[1] != QLatin1String("set")) {
        return false;
    }
    id = parts[0];
    property = parts[2];
    return true;
}

}  // namespace ostrel::mqtt
