#include "AutomationService.h"

#include <algorithm>
#include <cstdio>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QMetaMethod>

#include "ConUnit.h"
#include "ConUnitHost.h"
#include "DBusObjects.h"

namespace ostrel::areas {

QString automationBusName(const QString& instanceName) {
    if (instanceName.isEmpty()) {
        return QLatin1String(kAutomationBusName);
    }
    constexpr qsizetype kMaxBusNameLength = 255;
    QString element;
    if (instanceName.front().isDigit()) {
        element += u'_';
    }
    for (const QChar c : instanceName) {
        const bool safe = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                          (c >= u'0' && c <= u'9') || c == u'_';
        element += safe ? c : u'_';
    }
    const QString prefix = QLatin1String(kAutomationBusName) + u'.';
    return prefix + element.left(kMaxBusNameLength - prefix.size());
}

void AutomationService::say(const QString& text) {
    if (isSignalConnected(QMetaMethod::fromSignal(&AutomationService::notice))) {
        Q_EMIT notice(text);
        return;
    }
    std::fprintf(stderr, "ostrel: %s\n", qPrintable(text));
    std::fflush(stderr);
}

AutomationService::CallScope::CallScope(AutomationService& service) : service_(service) {
    ++service_.callDepth_;
}

AutomationService::CallScope::~CallScope() {
    if (--service_.callDepth_ == 0) {
        service_.purge();
    }
}

AutomationService::AutomationService(mdlSub& registry, ConUnitHost& host, QDBusConnection bus,
                                     QObject* parent)
    : AutomationService(registry, host, std::move(bus), frmTimer::kFirstInterval,
                        frmTimer::kInterval, parent) {}

AutomationService::AutomationService(mdlSub& registry, ConUnitHost& host, QDBusConnection bus,
                                     std::chrono::milliseconds firstInterval,
                                     std::chrono::milliseconds interval, QObject* parent)
    : QObject(parent),
      registry_(registry),
      host_(host),
      bus_(std::move(bus)),
      timer_(new frmTimer(registry, this, firstInterval, interval)),
      root_(new OstrelObject(*this)),
      areaObjects_(new AreaObjects(*this, registry)),
      watcher_(new QDBusServiceWatcher(this)) {
    root_->setParent(this);
    areaObjects_->setParent(this);
    watcher_->setConnection(bus_);
    watcher_->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this,
            &AutomationService::onClientGone);
}

AutomationService::~AutomationService() {
    if (serving_) {
        bus_.disconnect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                        QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"),
                        this, SLOT(onBusDisconnected()));
        bus_.unregisterService(busName_);
    }
    for (ConUnitObject* object : units_) {
        bus_.unregisterObject(object->path());
        delete object;  // leaves the timer without ending the program
    }
    for (const QPointer<ConUnitObject>& object : released_) {
        delete object.data();
    }
    if (exported_) {
        bus_.unregisterObject(QLatin1String(AreaObjects::kBasePath), QDBusConnection::UnregisterTree);
        bus_.unregisterObject(QLatin1String(kAutomationRootPath));
    }
}

bool AutomationService::startedByActivation() {
    return qEnvironmentVariableIsSet("DBUS_STARTER_BUS_TYPE");
}

ServiceStart AutomationService::start() {
    if (serving_) {
        return ServiceStart::Serving;
    }
    if (!bus_.isConnected()) {
        return refuse(QStringLiteral("there is no session bus (%1)").arg(bus_.lastError().message()));
    }
    exported_ = bus_.registerObject(QLatin1String(kAutomationRootPath), root_,
                                    QDBusConnection::ExportScriptableContents |
                                        QDBusConnection::ExportAdaptors) &&
                bus_.registerVirtualObject(QLatin1String(AreaObjects::kBasePath), areaObjects_,
                                           QDBusConnection::SubPath);
    if (!exported_) {
        bus_.unregisterObject(QLatin1String(kAutomationRootPath));
        return refuse(QStringLiteral("its objects cannot be exported"));
    }
    if (!bus_.registerService(busName_)) {
        const QString why = bus_.lastError().isValid()
                                ? bus_.lastError().message()
                                : QStringLiteral("another program owns it, most likely another Ostrel");
        bus_.unregisterObject(QLatin1String(AreaObjects::kBasePath), QDBusConnection::UnregisterTree);
        bus_.unregisterObject(QLatin1String(kAutomationRootPath));
        exported_ = false;
        return refuse(QStringLiteral("the bus name %1 cannot be taken: %2").arg(busName_, why));
    }
    // A service started by activation on a private bus would outlive it otherwise.
    bus_.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                 QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), this,
                 SLOT(onBusDisconnected()));
    serving_ = true;
    return ServiceStart::Serving;
}

ServiceStart AutomationService::refuse(const QString& reason) {
    if (startedByActivation()) {
        say(QStringLiteral("started for a client, but %1; giving up").arg(reason));
        return ServiceStart::MustExit;
    }
    say(QStringLiteral("automation is off: %1").arg(reason));
    return ServiceStart::RunningWithoutAutomation;
}

QObject* AutomationService::rootObject() const { return root_; }

QString AutomationService::createConUnit(const QString& owner) {
    const QString path = QLatin1String(kConUnitPathPrefix) + QString::number(++lastUnitSerial_);
    auto* object = new ConUnitObject(*this, std::make_unique<ConUnit>(registry_, host_, *timer_),
                                     path, owner);
    units_.push_back(object);
    if (!bus_.registerVirtualObject(path, object, QDBusConnection::SingleNode)) {
        releaseConUnit(object);
        return QString();
    }
    if (!owner.isEmpty()) {
        const bool firstOfOwner = unitsByOwner_[owner].empty();
        unitsByOwner_[owner].insert(object);
        if (firstOfOwner) {
            watchOwner(owner);
        }
    }
    return path;
}

// The client may have left before the watch was in place: ask the bus once, after the watch.
void AutomationService::watchOwner(const QString& owner) {
    watcher_->addWatchedService(owner);
    const QDBusPendingCall pending = bus_.interface()->asyncCall(QStringLiteral("NameHasOwner"), owner);
    auto* check = new QDBusPendingCallWatcher(pending, this);
    connect(check, &QDBusPendingCallWatcher::finished, this, [this, owner](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<bool> reply = *w;
        if (reply.isValid() && !reply.value()) {
            onClientGone(owner);
        }
        w->deleteLater();
    });
}

void AutomationService::releaseConUnit(ConUnitObject* object, const QDBusMessage& reply) {
    const auto found = std::find(units_.begin(), units_.end(), object);
    const bool known = found != units_.end();
    if (known) {
        units_.erase(found);
        bus_.unregisterObject(object->path());
    }
    const bool replied = reply.type() != QDBusMessage::InvalidMessage;
    if (replied) {
        bus_.send(reply);
    }
    if (!known) {
        return;
    }
    const auto owned = unitsByOwner_.find(object->owner());
    if (owned != unitsByOwner_.end()) {
        owned->second.erase(object);
        if (owned->second.empty()) {
            watcher_->removeWatchedService(object->owner());
            unitsByOwner_.erase(owned);
        }
    }
    released_.push_back(object);
    if (replied && units_.empty()) {
        flush();
    }
    Q_EMIT conUnitReleased(object->path());
    object->unit().Release();
    if (callDepth_ == 0) {
        purge();
    }
}

// Messages leave the connection in order: once the bus has answered a call sent now, the reply
// sent before it has gone out, and the program may end.
void AutomationService::flush() {
    const QDBusMessage ping = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId"));
    bus_.call(ping, QDBus::Block, 2000);
}

void AutomationService::purge() {
    for (const QPointer<ConUnitObject>& object : released_) {
        if (object) {
            object->deleteLater();
        }
    }
    released_.clear();
}

QDBusObjectPath AutomationService::pathOf(const std::shared_ptr<DetectionArea>& area) {
    return areaObjects_->pathOf(area);
}

void AutomationService::onClientGone(const QString& owner) {
    const auto owned = unitsByOwner_.find(owner);
    if (owned == unitsByOwner_.end()) {
        return;
    }
    const std::set<ConUnitObject*> objects = owned->second;
    for (ConUnitObject* object : objects) {
        try {
            releaseConUnit(object);
        } catch (...) {  // nothing may escape into the event loop
        }
    }
}

void AutomationService::onBusDisconnected() {
    if (!serving_) {
        return;
    }
    serving_ = false;
    say(QStringLiteral("the session bus went away; automation ends"));
    const bool attached = !units_.empty();
    const std::vector<ConUnitObject*> objects = units_;
    try {
        for (ConUnitObject* object : objects) {
            releaseConUnit(object);  // the last one ends the program through the host
        }
        if (!attached) {
            host_.lastClientReleased();
        }
    } catch (...) {  // nothing may escape into the event loop
    }
}

}  // namespace ostrel::areas
