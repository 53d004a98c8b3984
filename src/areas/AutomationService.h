#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QPointer>
#include <QString>

class QDBusServiceWatcher;

namespace ostrel::areas {

class AreaObjects;
class ConUnitHost;
class ConUnitObject;
class DetectionArea;
class OstrelObject;
class frmTimer;
class mdlSub;

// Names on the bus.
inline constexpr char kAutomationBusName[] = "org.ostrel.Ostrel";
inline constexpr char kAutomationRootPath[] = "/org/ostrel/Ostrel";
inline constexpr char kConUnitPathPrefix[] = "/org/ostrel/ConUnit/";
// A ConUnit member failed; the message is the member's fixed description.
inline constexpr char kErrorFailed[] = "org.ostrel.Ostrel.Error.Failed";
// An area object whose area was removed or cleared away.
inline constexpr char kErrorNoArea[] = "org.ostrel.Ostrel.Error.NoArea";

// The bus name of the Ostrel named `instanceName` with --name: org.ostrel.Ostrel.NAME, the name
// made bus-safe (ASCII letters, digits and "_"; every other character "_"; a "_" before a
// leading digit; cut to the bus's length limit). Without a name, org.ostrel.Ostrel.
QString automationBusName(const QString& instanceName);

// How the program goes on after start().
enum class ServiceStart {
    Serving,                   // the bus name is ours: clients can create ConUnit objects
    RunningWithoutAutomation,  // started by the user while another Ostrel has the name
    MustExit,                  // started by D-Bus activation and the name cannot be had
};

// Ostrel's automation server on the session bus: the bus name org.ostrel.Ostrel, the object
// /org/ostrel/Ostrel that hands out ConUnit objects, the ConUnit objects themselves and the area
// objects. A ConUnit object belongs to the client that created it and is released like
// Release() when that client leaves the bus; when the last one goes the host ends the program
// (unless it runs as a service). When the bus itself goes away, every ConUnit is released and
// the host is told as when the last one goes.
class AutomationService : public QObject {
    Q_OBJECT

public:
    // `registry` and `host` must outlive the service.
    AutomationService(mdlSub& registry, ConUnitHost& host,
                      QDBusConnection bus = QDBusConnection::sessionBus(),
                      QObject* parent = nullptr);
    // The timer's intervals can be shortened for tests.
    AutomationService(mdlSub& registry, ConUnitHost& host, QDBusConnection bus,
                      std::chrono::milliseconds firstInterval, std::chrono::milliseconds interval,
                      QObject* parent = nullptr);
    ~AutomationService() override;

    // The bus name start() takes; org.ostrel.Ostrel unless set before.
    void setBusName(const QString& name) { busName_ = name; }
    const QString& busName() const { return busName_; }
    // Exports the objects and takes the bus name. Says why automation is off (notice).
    ServiceStart start();
    bool serving() const { return serving_; }
    // D-Bus activation started this process (DBUS_STARTER_BUS_TYPE is set).
    static bool startedByActivation();

    QDBusConnection connection() const { return bus_; }
    // The object at /org/ostrel/Ostrel. Every QDBusAbstractAdaptor child given to it before
    // start() adds its interface there, beside org.ostrel.Ostrel.
    QObject* rootObject() const;
    frmTimer& timer() const { return *timer_; }
    // ConUnit objects not released yet.
    int conUnitCount() const { return int(units_.size()); }
    const AreaObjects& areaObjects() const { return *areaObjects_; }

    // --- used by the bus objects ---

    // Keeps released objects alive while any bus call is running (a call may run a dialog's
    // event loop, inside which another client's call releases objects).
    class CallScope {
    public:
        explicit CallScope(AutomationService& service);
        ~CallScope();
        CallScope(const CallScope&) = delete;
        CallScope& operator=(const CallScope&) = delete;

    private:
        AutomationService& service_;
    };

    // A new ConUnit object for the client `owner`; the empty path when it cannot be exported.
    QString createConUnit(const QString& owner);
    // Takes `object` off the bus and releases its ConUnit. `reply`, the reply to the client's
    // Release call, is sent once the object is off the bus (a call the client makes after it
    // finds no object) and reaches the client before the program may end.
    void releaseConUnit(ConUnitObject* object, const QDBusMessage& reply = QDBusMessage());
    QDBusObjectPath pathOf(const std::shared_ptr<DetectionArea>& area);

Q_SIGNALS:
    // A ConUnit object left the bus (Release, its client gone, or the bus gone).
    void conUnitReleased(const QString& path);
    // One line for the log: why automation is off or ends. Written on stderr when nothing is
    // connected.
    void notice(const QString& text);

private Q_SLOTS:
    void onBusDisconnected();
    void onClientGone(const QString& owner);

private:
    ServiceStart refuse(const QString& reason);
    void say(const QString& text);
    void watchOwner(const QString& owner);
    void flush();
    void purge();

    mdlSub& registry_;
    ConUnitHost& host_;
    QDBusConnection bus_;
    QString busName_ = QLatin1String(kAutomationBusName);
    frmTimer* timer_;
    OstrelObject* root_;
    AreaObjects* areaObjects_;
    QDBusServiceWatcher* watcher_;
    std::vector<ConUnitObject*> units_;
    std::map<QString, std::set<ConUnitObject*>> unitsByOwner_;
    std::vector<QPointer<ConUnitObject>> released_;
    quint64 lastUnitSerial_ = 0;
    int callDepth_ = 0;
    bool serving_ = false;
    bool exported_ = false;
};

}  // namespace ostrel::areas
