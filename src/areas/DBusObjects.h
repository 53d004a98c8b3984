#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>

#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
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
// forwards to ConUnit or DetectionArea and turns their failures into D-Bus errors. Of the root
// object only the members marked Q_SCRIPTABLE are exported; the others answer the calls
// themselves, so that they check who calls and the exact type of every value.

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

// What QDBusContext gives an exported QObject, for an object that QtDBus hands the raw calls:
// the call being answered, and the means to fail it or to answer it later.
class VirtualCallContext {
protected:
    const QDBusMessage& message() const { return call_.message; }
    // The call fails with this error; what the member returns is dropped.
    void sendErrorReply(const QString& name, const QString& text = QString()) const;
    void sendErrorReply(QDBusError::ErrorType type, const QString& text = QString()) const;
    // The member sends the reply itself; none is sent when it returns.
    void setDelayedReply(bool delayed) const { call_.delayed = delayed; }

    // Runs `member` for `message` and gives the reply to send: `member`'s arguments, or the
    // error it set; an invalid message when it answers later.
    template <typename Member>
    QDBusMessage answerWith(const QDBusMessage& message, Member member);

private:
    struct Current {
        QDBusMessage message;
        QDBusMessage error;
        bool delayed = false;
    };
    mutable Current call_;
};

// /org/ostrel/ConUnit/N: one client's ConUnit. It answers that client only: every call from
// another connection fails with AccessDenied and changes nothing.
class ConUnitObject : public QDBusVirtualObject, protected VirtualCallContext {
    Q_OBJECT

public:
    ConUnitObject(AutomationService& service, std::unique_ptr<ConUnit> unit, QString path,
                  QString owner);
    ~ConUnitObject() override;

    ConUnit& unit() const { return *unit_; }
    const QString& path() const { return path_; }
    // Unique bus name of the client that created the object.
    const QString& owner() const { return owner_; }

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    // D-Bus API: properties
    int Count() const;
    bool MonitorVisible();
    void setMonitorVisible(bool visible);
    bool VideoVisible();
    void setVideoVisible(bool visible);

    // D-Bus API: methods
    void About();
    QDBusObjectPath Area(const QDBusVariant& Index);
    QDBusObjectPath Add(const QString& Key, const QList<double>& Geometry);
    bool Remove(const QDBusVariant& Index);
    bool OpenFile(const QString& FileName);
    bool SaveFile(const QString& FileName);
    bool SelectArea(const QDBusVariant& Index);
    bool Clear();
    bool ShowConUnit(bool Mode);
    void Release();

    QDBusMessage answer(const QDBusMessage& message);
    QDBusMessage answerProperty(const QDBusMessage& message);
    // Sends the signal `member` with the area number and status.
    void emitDetection(const char* member, std::int32_t index, bool status);
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
