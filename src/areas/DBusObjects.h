#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>

#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QList>
#include <QObject>
#include <QString>

#include "AreaCollection.h"

namespace ostrel::areas {

class AutomationService;
class ConUnit;
class DetectionArea;
class mdlSub;

// The objects Ostrel puts on the bus. They hold no logic of their own: every D-Bus member
// forwards to ConUnit or DetectionArea and turns their failures into D-Bus errors. Only the
// members marked Q_SCRIPTABLE are exported.

// An area number (any integer type) or a key (string) from a client's variant; nothing for
// other types. Numbers beyond 64 bits signed become the largest one, which matches no area.
std::optional<AreaIndex> areaIndexOf(const QDBusVariant& index);

// /org/ostrel/Ostrel: hands out ConUnit objects.
class OstrelObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.ostrel.Ostrel")
    Q_CLASSINFO("D-Bus Introspection",
                "  <interface name=\"org.ostrel.Ostrel\">\n"
                "    <method name=\"CreateConUnit\">\n"
                "      <arg name=\"ConUnit\" type=\"o\" direction=\"out\"/>\n"
                "    </method>\n"
                "  </interface>\n")

public:
    explicit OstrelObject(AutomationService& service);

public Q_SLOTS:
    // D-Bus API
    // A new ConUnit object at /org/ostrel/ConUnit/N, owned by the caller: it is released when
    // the caller leaves the bus.
    Q_SCRIPTABLE QDBusObjectPath CreateConUnit();

private:
    AutomationService& service_;
};

// /org/ostrel/ConUnit/N: one client's ConUnit.
class ConUnitObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.ostrel.ConUnit")
    Q_CLASSINFO("D-Bus Introspection",
                "  <interface name=\"org.ostrel.ConUnit\">\n"
                "    <method name=\"About\"/>\n"
                "    <method name=\"Area\">\n"
                "      <arg name=\"Index\" type=\"v\" direction=\"in\"/>\n"
                "      <arg name=\"Area\" type=\"o\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"Add\">\n"
                "      <arg name=\"Key\" type=\"s\" direction=\"in\"/>\n"
                "      <arg name=\"Geometry\" type=\"ad\" direction=\"in\"/>\n"
                "      <arg name=\"Area\" type=\"o\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"Remove\">\n"
                "      <arg name=\"Index\" type=\"v\" direction=\"in\"/>\n"
                "      <arg name=\"Result\" type=\"b\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"OpenFile\">\n"
                "      <arg name=\"FileName\" type=\"s\" direction=\"in\"/>\n"
                "      <arg name=\"Result\" type=\"b\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"SaveFile\">\n"
                "      <arg name=\"FileName\" type=\"s\" direction=\"in\"/>\n"
                "      <arg name=\"Result\" type=\"b\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"SelectArea\">\n"
                "      <arg name=\"Index\" type=\"v\" direction=\"in\"/>\n"
                "      <arg name=\"Result\" type=\"b\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"Clear\">\n"
                "      <arg name=\"Result\" type=\"b\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"ShowConUnit\">\n"
                "      <arg name=\"Mode\" type=\"b\" direction=\"in\"/>\n"
                "      <arg name=\"Result\" type=\"b\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"Release\"/>\n"
                "    <property name=\"Count\" type=\"i\" access=\"read\">\n"
                "      <annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" value=\"false\"/>\n"
                "    </property>\n"
                "    <property name=\"MonitorVisible\" type=\"b\" access=\"readwrite\">\n"
                "      <annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" value=\"false\"/>\n"
                "    </property>\n"
                "    <property name=\"VideoVisible\" type=\"b\" access=\"readwrite\">\n"
                "      <annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" value=\"false\"/>\n"
                "    </property>\n"
                "    <signal name=\"MotionDetection\">\n"
                "      <arg name=\"Index\" type=\"i\"/>\n"
                "      <arg name=\"MotionStatus\" type=\"b\"/>\n"
                "    </signal>\n"
                "    <signal name=\"ColorDetection\">\n"
                "      <arg name=\"Index\" type=\"i\"/>\n"
                "      <arg name=\"ColorStatus\" type=\"b\"/>\n"
                "    </signal>\n"
                "  </interface>\n")
    Q_PROPERTY(int Count READ Count)
    Q_PROPERTY(bool MonitorVisible READ MonitorVisible WRITE setMonitorVisible)
    Q_PROPERTY(bool VideoVisible READ VideoVisible WRITE setVideoVisible)

public:
    ConUnitObject(AutomationService& service, std::unique_ptr<ConUnit> unit, QString path,
                  QString owner);
    ~ConUnitObject() override;

    ConUnit& unit() const { return *unit_; }
    const QString& path() const { return path_; }
    // Unique bus name of the client that created the object.
    const QString& owner() const { return owner_; }

    // D-Bus API: properties
    int Count() const;
    bool MonitorVisible() const;
    void setMonitorVisible(bool visible);
    bool VideoVisible() const;
    void setVideoVisible(bool visible);

public Q_SLOTS:
    // D-Bus API
    Q_SCRIPTABLE void About();
    Q_SCRIPTABLE QDBusObjectPath Area(const QDBusVariant& Index);
    Q_SCRIPTABLE QDBusObjectPath Add(const QString& Key, const QList<double>& Geometry);
    Q_SCRIPTABLE bool Remove(const QDBusVariant& Index);
    Q_SCRIPTABLE bool OpenFile(const QString& FileName);
    Q_SCRIPTABLE bool SaveFile(const QString& FileName);
    Q_SCRIPTABLE bool SelectArea(const QDBusVariant& Index);
    Q_SCRIPTABLE bool Clear();
    Q_SCRIPTABLE bool ShowConUnit(bool Mode);
    Q_SCRIPTABLE void Release();

Q_SIGNALS:
    // D-Bus API
    Q_SCRIPTABLE void MotionDetection(int Index, bool MotionStatus);
    Q_SCRIPTABLE void ColorDetection(int Index, bool ColorStatus);

private:
    // Runs `call` for the current D-Bus call; a failure becomes the call's error reply.
    template <typename Result, typename Call>
    Result forward(Result fallback, Call call);
    bool refuseIndex();

    AutomationService& service_;
    std::unique_ptr<ConUnit> unit_;
    QString path_;
    QString owner_;
};

// /org/ostrel/DetectionArea/N: every area object a client was given, all served by this one
// virtual object. N is a serial number, never reused while the program runs. An object whose
// area is gone answers every member, property reads and writes included, with the NoArea error.
class AreaObjects : public QDBusVirtualObject {
    Q_OBJECT

public:
    static constexpr char kBasePath[] = "/org/ostrel/DetectionArea";

    AreaObjects(AutomationService& service, const mdlSub& registry);
    ~AreaObjects() override;

    // The path of `area`'s object, the same for the same object every time; "/" for none.
    QDBusObjectPath pathOf(const std::shared_ptr<DetectionArea>& area);
    // Objects still bound to an area.
    int liveCount() const;

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    // 0 for a path that is not an area object's.
    std::uint64_t serialOf(const QString& path) const;
    QDBusMessage answer(const QDBusMessage& message, std::uint64_t serial);
    // The area of object `serial`; null when its area is gone.
    std::shared_ptr<DetectionArea> areaAt(std::uint64_t serial);
    // Forgets the objects whose areas are gone; their paths keep answering NoArea.
    void prune();

    AutomationService& service_;
    const mdlSub& registry_;
    std::map<std::uint64_t, std::shared_ptr<DetectionArea>> areas_;
    std::unordered_map<const DetectionArea*, std::uint64_t> serials_;
    std::uint64_t nextSerial_ = 1;
};

}  // namespace ostrel::areas
