#pragma once

#include <cstdint>
#include <functional>

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace ostrel::mqtt {

// `text` as one level of a topic: lower-case ASCII letters and digits kept (upper-case ones
// lowered), every other run of characters one "_".
QString topicSafe(const QString& text);

// The id of the area numbered `number` with `key`: the key made topic-safe, with "_2", "_3"...
// when `taken` says another area has it, and "area<number>" when nothing of the key is left.
QString uniqueAreaId(const QString& key, std::int32_t number,
                     const std::function<bool(const QString&)>& taken);

// What a command's payload means for a property of D-Bus type `signature`: for "i" a decimal
// whole number within 32 bits, for "b" ON/OFF, true/false or 1/0 in any case; blanks around it
// do not matter. An invalid QVariant for anything else, which the command then ignores.
QVariant commandValue(const QByteArray& payload, const char* signature);

// The topics of one Ostrel: everything under ostrel/<name>/, and its discovery configs.
class Topics {
public:
    Topics(const QString& name, const QString& discoveryPrefix);

    // The topic-safe name, which also names the Ostrel in discovery.
    const QString& node() const { return node_; }
    // ostrel/<node>
    const QString& root() const { return root_; }
    QString status() const { return root_ + QStringLiteral("/status"); }
    // ostrel/<node>/area/<id>/<what>: what is motion, color, motion_percent or color_percent.
    QString areaState(const QString& id, const char* what) const;
    // Every command: ostrel/<node>/area/+/set/+
    QString commandFilter() const { return root_ + QStringLiteral("/area/+/set/+"); }
    // Every state of every area, for finding states left over from areas that are gone.
    QString stateFilter() const { return root_ + QStringLiteral("/area/+/+"); }
    // <prefix>/<component>/<node>/<object>/config
    QString discovery(const char* component, const QString& object) const;
    // Every discovery config of this Ostrel.
    QString discoveryFilter() const;
    // The area id and property of a command topic; false for another topic.
    bool parseCommand(const QString& topic, QString& id, QString& property) const;

private:
    QString node_;
    QString root_;
    QString prefix_;
};

}  // namespace ostrel::mqtt
