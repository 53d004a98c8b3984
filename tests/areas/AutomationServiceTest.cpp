// Runs on a private session bus (dbus-run-session): the service in this process, its clients
// on connections of their own or in a python3-dbus process, so every call crosses the bus.
#include <gtest/gtest.h>

#include <signal.h>

#include <limits>

#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "AutomationService.h"
#include "AutomationTestHost.h"
#include "DBusObjects.h"

using namespace ostrel::areas;
using namespace std::chrono_literals;

namespace {

const QString kBus = QStringLiteral("org.ostrel.Ostrel");
const QString kConUnit = QStringLiteral("org.ostrel.ConUnit");
const QString kArea = QStringLiteral("org.ostrel.DetectionArea");
const QString kNoArea = QStringLiteral("org.ostrel.Ostrel.Error.NoArea");
const QString kInvalidArgs = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");

QVariant v(const QVariant& value) { return QVariant::fromValue(QDBusVariant(value)); }
QVariant ad(QList<double> fractions = {}) { return QVariant::fromValue(fractions); }

// "name: message" of an error reply, the first argument's text otherwise.
QString outcome(const QDBusMessage& reply) {
    if (reply.type() == QDBusMessage::ErrorMessage) {
        return reply.errorName() + ": " + reply.errorMessage();
    }
    const QVariant first = reply.arguments().value(0);
    return first.canConvert<QDBusObjectPath>() ? first.value<QDBusObjectPath>().path() : first.toString();
}
QString error(const QDBusMessage& reply) { return outcome(reply).section(':', 0, 0); }

class SignalRecorder : public QObject {
    Q_OBJECT

public:
    QStringList received;

public Q_SLOTS:
    void onSignal(const QDBusMessage& m) {
        received << m.member() + ' ' + m.signature() + ' ' + m.arguments().value(0).toString() + ' ' +
                        m.arguments().value(1).toString();
    }
};

// A program on a connection of its own.
class Client {
public:
    Client() : name_(QStringLiteral("client-%1").arg(++serial_)),
               bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name_)) {}
    ~Client() { leave(); }
    void leave() {
        bus_ = QDBusConnection(QStringLiteral("none"));  // drop the last reference, then close
        QDBusConnection::disconnectFromBus(name_);
    }
    QDBusConnection& bus() { return bus_; }
    QDBusMessage call(const QString& path, const QString& interface, const QString& member,
                      const QVariantList& args = {}) {
        QDBusMessage m = QDBusMessage::createMethodCall(kBus, path, interface, member);
        m.setArguments(args);
        return bus_.call(m, QDBus::BlockWithGui, 10000);  // the service answers from this thread
    }
    QDBusMessage unit(const QString& path, const QString& member, const QVariantList& args = {}) {
        return call(path, kConUnit, member, args);
    }
    QString create() {
        return outcome(call("/org/ostrel/Ostrel", "org.ostrel.Ostrel", "CreateConUnit"));
    }
    QDBusMessage get(const QString& path, const QString& name, const QString& interface = kArea) {
        return call(path, "org.freedesktop.DBus.Properties", "Get", {interface, name});
    }
    QVariant value(const QString& path, const QString& name, const QString& interface = kArea) {
        return get(path, name, interface).arguments().value(0).value<QDBusVariant>().variant();
    }
    QDBusMessage set(const QString& path, const QString& name, const QVariant& value,
                     const QString& interface = kArea) {
        return call(path, "org.freedesktop.DBus.Properties", "Set", {interface, name, v(value)});
    }

private:
    static inline int serial_ = 0;
    QString name_;
    QDBusConnection bus_;
};

// The service on the session bus over the test host, with short timer intervals.
struct Served {
    AutomationTestHost host;
    AutomationService service{host.registry, host, QDBusConnection::sessionBus(), 30ms, 10ms};
    Served() { EXPECT_EQ(service.start(), ServiceStart::Serving); }
};

}  // namespace

TEST(AutomationService, MembersAnswerAndFailAsOverTheBus) {
    Served s;
    Client client;
    const QString unit = client.create();
    const QString door = outcome(client.unit(unit, "Add", {"Door", ad({0.9, 0.1, 0.5})}));
    client.unit(unit, "Add", {"Gate", ad()});
    EXPECT_EQ(client.value(door, "Left").toDouble(), 0.9);
    EXPECT_EQ(outcome(client.unit(unit, "Area", {v("dOOR")})), door) << "the same object, the same path";
    for (const QVariant& none : {QVariant("Nowhere"), QVariant(qlonglong(1) << 40),
                                 QVariant(std::numeric_limits<qulonglong>::max())}) {
        EXPECT_EQ(outcome(client.unit(unit, "Area", {v(none)})), "/") << none.toString().toStdString();
    }
    EXPECT_EQ(outcome(client.unit(unit, "Add", {"  ", ad()})),
              "org.ostrel.Ostrel.Error.Failed: An error occurred while AddArea!");
    for (const QVariant& bad : {QVariant(true), QVariant(2.0), QVariant::fromValue(QList<int>{1})}) {
        EXPECT_EQ(error(client.unit(unit, "Area", {v(bad)})), kInvalidArgs);
        EXPECT_EQ(error(client.unit(unit, "Remove", {v(bad)})), kInvalidArgs);
    }
    EXPECT_EQ(client.value(unit, "Count", kConUnit).toInt(), 2);

    client.set(unit, "MonitorVisible", true, kConUnit);
    EXPECT_TRUE(s.host.monitor.isVisible());
    for (const QVariant& bad : {QVariant("x"), QVariant(1), QVariant::fromValue(QList<int>{1})}) {
        EXPECT_EQ(error(client.set(unit, "VideoVisible", bad, kConUnit)), kInvalidArgs);
        EXPECT_EQ(error(client.set(door, "Visible", bad)), kInvalidArgs);
    }
    EXPECT_FALSE(s.host.video.isVisible()) << "no value was converted";
    EXPECT_EQ(error(client.set(unit, "Count", 3, kConUnit)), "org.freedesktop.DBus.Error.PropertyReadOnly");
    EXPECT_EQ(client.unit(unit, "About").type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(QTest::qWaitFor([&] { return s.host.aboutCalls == 1; })) << "shown once the call returned";
}

TEST(AutomationService, AreaObjectsAndTheirRemovedAreas) {
    Served s;
    Client client;
    const QString unit = client.create();
    const QString a = outcome(client.unit(unit, "Add", {"A", ad()}));
    const QString b = outcome(client.unit(unit, "Add", {"B", ad()}));
    const QString c = outcome(client.unit(unit, "Add", {"C", ad()}));
    client.set(c, "MotionSens", 300);
    EXPECT_EQ(client.value(c, "MotionSens").toInt(), 255) << "limited by the area";
    EXPECT_EQ(client.value(c, "Key", QString()).toString(), "C") << "no interface named";
    EXPECT_EQ(error(client.set(c, "Key", "X")), "org.freedesktop.DBus.Error.PropertyReadOnly");
    EXPECT_EQ(error(client.get(c, "Nothing")), "org.freedesktop.DBus.Error.UnknownProperty");
    EXPECT_EQ(error(client.call(c, kArea, "ZOrder", {0})), "org.freedesktop.DBus.Error.UnknownMethod")
        << "Position is n, not i";
    client.call(c, kArea, "Size", {0.5, 0.25, 0.125, 0.5});
    EXPECT_EQ(client.value(c, "Top").toDouble(), 0.25);
    client.call(a, kArea, "ZOrder", {QVariant::fromValue(short(0))});
    EXPECT_GT(s.host.stackIndex(&s.host.control(1)), s.host.stackIndex(&s.host.control(3)))
        << "A in front";

    EXPECT_EQ(outcome(client.unit(unit, "Remove", {v(2)})), "true");
    EXPECT_EQ(client.value(c, "Index").toInt(), 2) << "renumbered, same path";
    for (const QDBusMessage& reply :
         {client.get(b, "Key"), client.get(b, "Index"), client.set(b, "MotionSens", 5),
          client.call(b, "org.freedesktop.DBus.Properties", "GetAll", {kArea}),
          client.call(b, kArea, "ZOrder", {QVariant::fromValue(short(1))}),
          client.call(b, kArea, "Size", {0.1, 0.1, 0.1, 0.1})}) {
        EXPECT_EQ(error(reply), kNoArea) << outcome(reply).toStdString();
    }
    EXPECT_EQ(client.value(c, "MotionSens").toInt(), 255) << "the write reached no other area";
    EXPECT_NE(outcome(client.unit(unit, "Add", {"D", ad()})), b) << "paths are never reused";
    EXPECT_EQ(outcome(client.unit(unit, "Clear")), "true");
    EXPECT_EQ(error(client.get("/org/ostrel/DetectionArea/99", "Key")), "org.freedesktop.DBus.Error.UnknownObject");
    EXPECT_EQ(s.service.areaObjects().liveCount(), 0);
}

TEST(AutomationService, EveryClientGetsTheEventsAndTakesItsObjectsAlongWhenItLeaves) {
    Served s;
    QSignalSpy released(&s.service, &AutomationService::conUnitReleased);
    Client first, second;
    const QString firstUnit = first.create();
    first.create();
    const QString secondUnit = second.create();
    SignalRecorder firstSeen, secondSeen;
    for (const char* member : {"MotionDetection", "ColorDetection"}) {
        first.bus().connect(kBus, firstUnit, kConUnit, member, &firstSeen, SLOT(onSignal(QDBusMessage)));
        second.bus().connect(kBus, secondUnit, kConUnit, member, &secondSeen, SLOT(onSignal(QDBusMessage)));
    }
    first.unit(firstUnit, "Add", {"Door", ad()});
    s.host.prepareForEvents(1);
    s.host.showGrey(1, 0);
    const QStringList expected{"MotionDetection ib 1 true", "ColorDetection ib 1 true"};
    EXPECT_TRUE(QTest::qWaitFor([&] { return firstSeen.received.size() + secondSeen.received.size() >= 4; }));
    EXPECT_EQ(firstSeen.received, expected);
    EXPECT_EQ(secondSeen.received, expected);

    // A ConUnit answers its own client only; the areas are everyone's.
    const QString door = outcome(first.unit(firstUnit, "Area", {v(1)}));
    for (const QDBusMessage& reply :
         {second.unit(firstUnit, "Release"), second.unit(firstUnit, "Clear"),
          second.get(firstUnit, "Count", kConUnit),
          second.set(firstUnit, "MonitorVisible", true, kConUnit)}) {
        EXPECT_EQ(error(reply), "org.freedesktop.DBus.Error.AccessDenied");
    }
    EXPECT_EQ(s.service.conUnitCount(), 3);
    EXPECT_FALSE(s.host.monitor.isVisible());
    EXPECT_EQ(second.value(door, "Key").toString(), "Door");
    EXPECT_EQ(first.value(firstUnit, "Count", kConUnit).toInt(), 1);

    first.leave();
    ASSERT_TRUE(QTest::qWaitFor([&] { return released.size() == 2; }));
    EXPECT_EQ(s.host.endCalls, 0);
    EXPECT_EQ(error(second.unit(firstUnit, "Clear")), "org.freedesktop.DBus.Error.UnknownObject");
    EXPECT_EQ(outcome(second.unit(secondUnit, "Release")), "") << "an empty reply";
    EXPECT_EQ(s.host.endCalls, 1);
    EXPECT_EQ(error(second.unit(secondUnit, "Clear")), "org.freedesktop.DBus.Error.UnknownObject");
}

TEST(AutomationService, TheExampleClient) {
    Served s;
    QTemporaryDir dir;
    QFile file(dir.filePath("areas.cfg"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("OstrelConfig\nDoor\nGate\n");
    file.close();
    QProcess example;
    example.setProcessChannelMode(QProcess::MergedChannels);
    example.start("/usr/bin/python3",
                  {OSTREL_SOURCE_DIR "/examples/ostrel-client.py", file.fileName()});
    QString output;
    const auto shows = [&](const QString& text) {
        (void)QTest::qWaitFor([&] {
            output += QString::fromUtf8(example.readAll());
            return output.contains(text) || example.state() == QProcess::NotRunning;
        }, 10000);
        return output.contains(text);
    };
    ASSERT_TRUE(shows("Waiting for detections")) << output.toStdString();
    EXPECT_TRUE(output.contains("Area 2: Gate"));
    s.host.prepareForEvents(2);
    s.host.showGrey(2, 0);
    EXPECT_TRUE(shows("MotionDetection Index=2 MotionStatus=True\nColorDetection Index=2 ColorStatus=True"))
        << output.toStdString();
    ::kill(pid_t(example.processId()), SIGINT);
    EXPECT_TRUE(shows("Released")) << output.toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return example.state() == QProcess::NotRunning; }));
    EXPECT_EQ(s.host.endCalls, 1);
}

TEST(AutomationServiceStart, ATakenNameMeansNoAutomationOrExitWhenActivated) {
    AutomationTestHost host;
    Client other;
    ASSERT_TRUE(other.bus().registerService(kBus));
    AutomationService userStarted(host.registry, host, QDBusConnection::sessionBus());
    EXPECT_EQ(userStarted.start(), ServiceStart::RunningWithoutAutomation);
    EXPECT_EQ(QDBusConnection::sessionBus().objectRegisteredAt("/org/ostrel/Ostrel"), nullptr);
    qputenv("DBUS_STARTER_BUS_TYPE", "session");
    AutomationService activated(host.registry, host, QDBusConnection::sessionBus());
    EXPECT_EQ(activated.start(), ServiceStart::MustExit);
    AutomationService noBus(host.registry, host, QDBusConnection::connectToBus("unix:path=/nonexistent", "x"));
    EXPECT_EQ(noBus.start(), ServiceStart::MustExit);
    qunsetenv("DBUS_STARTER_BUS_TYPE");
    other.leave();
    ASSERT_TRUE(QTest::qWaitFor([] { return !QDBusConnection::sessionBus().interface()->isServiceRegistered(kBus); }));
    EXPECT_EQ(userStarted.start(), ServiceStart::Serving);
}

TEST(AutomationServiceStart, TheBusGoingAwayReleasesAndEndsTheProgram) {
    QProcess daemon;
    daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    QString address;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (address += daemon.readAllStandardOutput()).contains('\n'); }));
    AutomationTestHost host;
    AutomationService service(host.registry, host, QDBusConnection::connectToBus(address.trimmed(), "own"));
    ASSERT_EQ(service.start(), ServiceStart::Serving);
    QDBusConnection client = QDBusConnection::connectToBus(address.trimmed(), "own-client");
    const QDBusMessage create =
        QDBusMessage::createMethodCall(kBus, "/org/ostrel/Ostrel", "org.ostrel.Ostrel", "CreateConUnit");
    EXPECT_EQ(client.call(create, QDBus::BlockWithGui, 5000).type(), QDBusMessage::ReplyMessage);
    daemon.kill();
    EXPECT_TRUE(QTest::qWaitFor([&] { return host.endCalls == 1; }));
    EXPECT_EQ(service.conUnitCount(), 0);
    daemon.waitForFinished(2000);
}

#include "AutomationServiceTest.moc"
