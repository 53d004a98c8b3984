#include "DBusObjects.h"

#include <exception>
#include <limits>
#include <type_traits>
#include <utility>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QMetaType>
#include <QThread>
#include <QTimer>

#include "AreaErrors.h"
#include "AreaProperties.h"
#include "AutomationService.h"
#include "ConUnit.h"
#include "DetectionArea.h"
#include "mdlSub.h"

namespace ostrel::areas {

namespace {

const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kIntrospectableInterface = QStringLiteral("org.freedesktop.DBus.Introspectable");
const QString kAreaInterface = QStringLiteral("org.ostrel.DetectionArea");
const QString kConUnitInterface = QStringLiteral("org.ostrel.ConUnit");
const QString kConUnitInterfaceXml = QStringLiteral(
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
    "  </interface>\n");

const QString kNoAreaMessage = QStringLiteral("The area of this DetectionArea object no longer exists.");

QString unexpectedFailure(const std::exception* failure) {
    return failure ? QString::fromLocal8Bit(failure->what()) : QStringLiteral("unexpected failure");
}

QString areaInterfaceXml() {
    QString xml = QStringLiteral("  <interface name=\"org.ostrel.DetectionArea\">\n");
    for (const AreaProperty& property : areaProperties()) {
        xml += QStringLiteral("    <property name=\"%1\" type=\"%2\" access=\"%3\">\n"
                              "      <annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" value=\"false\"/>\n"
                              "    </property>\n")
                   .arg(QLatin1String(property.name), QLatin1String(property.signature),
                        property.write ? QStringLiteral("readwrite") : QStringLiteral("read"));
    }
    xml += QStringLiteral(
        "    <method name=\"ZOrder\">\n"
        "      <arg name=\"Position\" type=\"n\" direction=\"in\"/>\n"
        "    </method>\n"
        "    <method name=\"Size\">\n"
        "      <arg name=\"Left\" type=\"d\" direction=\"in\"/>\n"
        "      <arg name=\"Top\" type=\"d\" direction=\"in\"/>\n"
        "      <arg name=\"Width\" type=\"d\" direction=\"in\"/>\n"
        "      <arg name=\"Height\" type=\"d\" direction=\"in\"/>\n"
        "    </method>\n"
        "  </interface>\n");
    return xml;
}

}  // namespace

std::optional<AreaIndex> areaIndexOf(const QDBusVariant& index) {
    const QVariant value = index.variant();
    switch (value.metaType().id()) {
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return AreaIndex(std::int64_t(value.toLongLong()));
    case QMetaType::ULongLong: {
        const qulonglong number = value.toULongLong();
        constexpr auto largest = std::numeric_limits<std::int64_t>::max();
        return AreaIndex(number > qulonglong(largest) ? largest : std::int64_t(number));
    }
    case QMetaType::QString:
        return AreaIndex(value.toString());
    default:
        return std::nullopt;
    }
}

// --- /org/ostrel/Ostrel ---

OstrelObject::OstrelObject(AutomationService& service) : service_(service) {}

QDBusObjectPath OstrelObject::CreateConUnit() {
    AutomationService::CallScope scope(service_);
    QString path;
    try {
        path = service_.createConUnit(message().service());
    } catch (const std::exception& failure) {
        sendErrorReply(QDBusError::Failed, unexpectedFailure(&failure));
        return QDBusObjectPath(QStringLiteral("/"));
    }
    if (path.isEmpty()) {
        sendErrorReply(QDBusError::Failed, QStringLiteral("The ConUnit object could not be exported."));
        return QDBusObjectPath(QStringLiteral("/"));
    }
    return QDBusObjectPath(path);
}

// --- calls answered by hand ---

void VirtualCallContext::sendErrorReply(const QString& name, const QString& text) const {
    call_.error = call_.message.createErrorReply(name, text);
}

void VirtualCallContext::sendErrorReply(QDBusError::ErrorType type, const QString& text) const {
    call_.error = call_.message.createErrorReply(type, text);
}

template <typename Member>
QDBusMessage VirtualCallContext::answerWith(const QDBusMessage& message, Member member) {
    const Current outer = std::exchange(call_, Current{message, {}, false});
    QDBusMessage reply;
    if constexpr (std::is_void_v<decltype(member())>) {
        member();
        reply = message.createReply();
    } else {
        reply = message.createReply(QVariant::fromValue(member()));
    }
    if (call_.error.type() == QDBusMessage::ErrorMessage) {
        reply = call_.error;
    } else if (call_.delayed) {
        reply = QDBusMessage();
    }
    call_ = outer;  // a member may run an event loop in which other calls are answered
    return reply;
}

// --- /org/ostrel/ConUnit/N ---

ConUnitObject::ConUnitObject(AutomationService& service, std::unique_ptr<ConUnit> unit,
                             QString path, QString owner)
    : service_(service), unit_(std::move(unit)), path_(std::move(path)), owner_(std::move(owner)) {
    connect(unit_.get(), &ConUnit::MotionDetection, this, [this](std::int32_t index, bool status) {
        emitDetection("MotionDetection", index, status);
    });
    connect(unit_.get(), &ConUnit::ColorDetection, this, [this](std::int32_t index, bool status) {
        emitDetection("ColorDetection", index, status);
    });
}

ConUnitObject::~ConUnitObject() = default;

void ConUnitObject::emitDetection(const char* member, std::int32_t index, bool status) {
    QDBusMessage signal =
        QDBusMessage::createSignal(path_, kConUnitInterface, QLatin1String(member));
    signal << int(index) << status;
    service_.connection().send(signal);
}

QString ConUnitObject::introspect(const QString&) const {
    return kConUnitInterfaceXml;
}

bool ConUnitObject::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (message.interface() == kIntrospectableInterface) {
        return false;  // QtDBus builds the document around introspect()
    }
    const QDBusMessage reply =
        message.service() == owner_
            ? answer(message)
            : message.createErrorReply(QDBusError::AccessDenied,
                                       QStringLiteral("This ConUnit belongs to another client."));
    if (reply.type() != QDBusMessage::InvalidMessage && message.isReplyRequired()) {
        connection.send(reply);
    }
    return true;
}

// D-Bus API
QDBusMessage ConUnitObject::answer(const QDBusMessage& message) {
    if (message.interface() == kPropertiesInterface) {
        return answerProperty(message);
    }
    if (!message.interface().isEmpty() && message.interface() != kConUnitInterface) {
        return message.createErrorReply(
            QDBusError::UnknownInterface,
            QStringLiteral("No interface %1.").arg(message.interface()));
    }
    const QString member = message.member();
    const QString signature = message.signature();
    const QList<QVariant> args = message.arguments();
    const auto is = [&](const char* name, const char* types) {
        return member == QLatin1String(name) && signature == QLatin1String(types);
    };
    const auto text = [&](int i) { return args.value(i).toString(); };
    const auto index = [&] { return args.value(0).value<QDBusVariant>(); };
    const auto answered = [&](auto call) { return answerWith(message, call); };
    if (is("About", "")) {
        return answered([&] { About(); });
    }
    if (is("Area", "v")) {
        return answered([&] { return Area(index()); });
    }
    if (is("Add", "sad")) {
        return answered([&] { return Add(text(0), qdbus_cast<QList<double>>(args.value(1))); });
    }
    if (is("Remove", "v")) {
        return answered([&] { return Remove(index()); });
    }
    if (is("OpenFile", "s")) {
        return answered([&] { return OpenFile(text(0)); });
    }
    if (is("SaveFile", "s")) {
        return answered([&] { return SaveFile(text(0)); });
    }
    if (is("SelectArea", "v")) {
        return answered([&] { return SelectArea(index()); });
    }
    if (is("Clear", "")) {
        return answered([&] { return Clear(); });
    }
    if (is("ShowConUnit", "b")) {
        return answered([&] { return ShowConUnit(args.value(0).toBool()); });
    }
    if (is("Release", "")) {
        return answered([&] { Release(); });
    }
    return message.createErrorReply(QDBusError::UnknownMethod,
                                    QStringLiteral("No method %1 with signature %2 in %3.")
                                        .arg(member, signature, kConUnitInterface));
}

// Count (read), MonitorVisible and VideoVisible (read and write), each value of exactly its type.
QDBusMessage ConUnitObject::answerProperty(const QDBusMessage& message) {
    const QString member = message.member();
    const QString signature = message.signature();
    const QList<QVariant> args = message.arguments();
    const QString interface = args.value(0).toString();
    const bool ours = interface.isEmpty() || interface == kConUnitInterface;
    if (member == QLatin1String("GetAll") && signature == QLatin1String("s")) {
        return answerWith(message, [&] {
            QVariantMap values;
            if (ours) {
                values.insert(QStringLiteral("Count"), Count());
                values.insert(QStringLiteral("MonitorVisible"), MonitorVisible());
                values.insert(QStringLiteral("VideoVisible"), VideoVisible());
            }
            return values;
        });
    }
    const bool reading = member == QLatin1String("Get") && signature == QLatin1String("ss");
    const bool writing = member == QLatin1String("Set") && signature == QLatin1String("ssv");
    if (!reading && !writing) {
        return message.createErrorReply(
            QDBusError::UnknownMethod,
            QStringLiteral("No method %1 with signature %2.").arg(member, signature));
    }
    const QString name = args.value(1).toString();
    const bool count = name == QLatin1String("Count");
    const bool monitor = name == QLatin1String("MonitorVisible");
    if (!ours || !(count || monitor || name == QLatin1String("VideoVisible"))) {
        return message.createErrorReply(QDBusError::UnknownProperty,
                                        QStringLiteral("No property %1.").arg(name));
    }
    if (reading) {
        return answerWith(message, [&] {
            return QDBusVariant(count     ? QVariant(Count())
                                : monitor ? QVariant(MonitorVisible())
                                          : QVariant(VideoVisible()));
        });
    }
    if (count) {
        return message.createErrorReply(QDBusError::PropertyReadOnly,
                                        QStringLiteral("%1 is read-only.").arg(name));
    }
    const QVariant value = args.value(2).value<QDBusVariant>().variant();
    if (value.metaType().id() != QMetaType::Bool) {
        return message.createErrorReply(
            QDBusError::InvalidArgs, QStringLiteral("%1 takes a value of D-Bus type b.").arg(name));
    }
    return answerWith(message, [&] {
        monitor ? setMonitorVisible(value.toBool()) : setVideoVisible(value.toBool());
    });
}

template <typename Result, typename Call>
Result ConUnitObject::forward(Result fallback, Call call) {
    AutomationService::CallScope scope(service_);
    try {
        return call();
    } catch (const AutomationFailure& failure) {
        sendErrorReply(QLatin1String(kErrorFailed), QString::fromUtf8(failure.what()));
    } catch (const std::exception& failure) {
        sendErrorReply(QDBusError::Failed, unexpectedFailure(&failure));
    } catch (...) {
        sendErrorReply(QDBusError::Failed, unexpectedFailure(nullptr));
    }
    return fallback;
}

bool ConUnitObject::refuseIndex() {
    sendErrorReply(QDBusError::InvalidArgs,
                   QStringLiteral("Index must hold an area number (an integer) or a key (a string)."));
    return false;
}

int ConUnitObject::Count() const { return unit_->Count(); }

bool ConUnitObject::MonitorVisible() {
    return forward(false, [&] { return unit_->MonitorVisible(); });
}

void ConUnitObject::setMonitorVisible(bool visible) {
    forward(true, [&] {
        unit_->setMonitorVisible(visible);
        return true;
    });
}

bool ConUnitObject::VideoVisible() {
    return forward(false, [&] { return unit_->VideoVisible(); });
}

void ConUnitObject::setVideoVisible(bool visible) {
    forward(true, [&] {
        unit_->setVideoVisible(visible);
        return true;
    });
}

void ConUnitObject::About() {
    // Answer first; the box comes from the event loop afterwards and never holds the client.
    QTimer::singleShot(0, this, [this] {
        AutomationService::CallScope scope(service_);
        try {
            if (!unit_->isReleased()) {
                unit_->About();
            }
        } catch (...) {
        }
    });
}

QDBusObjectPath ConUnitObject::Area(const QDBusVariant& Index) {
    const std::optional<AreaIndex> index = areaIndexOf(Index);
    if (!index) {
        refuseIndex();
        return QDBusObjectPath(QStringLiteral("/"));
    }
    return forward(QDBusObjectPath(QStringLiteral("/")),
                   [&] { return service_.pathOf(unit_->Area(*index)); });
}

QDBusObjectPath ConUnitObject::Add(const QString& Key, const QList<double>& Geometry) {
    return forward(QDBusObjectPath(QStringLiteral("/")),
                   [&] { return service_.pathOf(unit_->Add(Key, Geometry)); });
}

bool ConUnitObject::Remove(const QDBusVariant& Index) {
    const std::optional<AreaIndex> index = areaIndexOf(Index);
    return index ? forward(false, [&] { return unit_->Remove(*index); }) : refuseIndex();
}

bool ConUnitObject::OpenFile(const QString& FileName) {
    return forward(false, [&] { return unit_->OpenFile(FileName); });
}

bool ConUnitObject::SaveFile(const QString& FileName) {
    return forward(false, [&] { return unit_->SaveFile(FileName); });
}

bool ConUnitObject::SelectArea(const QDBusVariant& Index) {
    const std::optional<AreaIndex> index = areaIndexOf(Index);
    return index ? forward(false, [&] { return unit_->SelectArea(*index); }) : refuseIndex();
}

bool ConUnitObject::Clear() {
    return forward(false, [&] { return unit_->Clear(); });
}

bool ConUnitObject::ShowConUnit(bool Mode) {
    return forward(false, [&] { return unit_->ShowConUnit(Mode); });
}

void ConUnitObject::Release() {
    AutomationService::CallScope scope(service_);
    // The reply goes out once the object is off the bus (a call the client makes after the reply
    // finds no object), and before the program may end: releasing the last ConUnit ends it.
    setDelayedReply(true);
    try {
        service_.releaseConUnit(this, message().createReply());
    } catch (...) {
    }
}

// --- /org/ostrel/DetectionArea/N ---

AreaObjects::AreaObjects(AutomationService& service, const mdlSub& registry)
    : service_(service), registry_(registry) {}

AreaObjects::~AreaObjects() = default;

int AreaObjects::liveCount() const {
    int live = 0;
    for (const auto& [serial, area] : areas_) {
        live += area->isBound() ? 1 : 0;
    }
    return live;
}

QDBusObjectPath AreaObjects::pathOf(const std::shared_ptr<DetectionArea>& area) {
    if (!area) {
        return QDBusObjectPath(QStringLiteral("/"));
    }
    // Areas removed behind the clients' backs (menu commands, file loads) are forgotten in
    // batches, so the table stays about the size of the area list.
    if (areas_.size() > 2 * std::size_t(registry_.areaCollection().Count()) + 64) {
        prune();
    }
    auto [found, added] = serials_.try_emplace(area.get(), nextSerial_);
    if (added) {
        areas_.emplace(nextSerial_, area);
        ++nextSerial_;
    }
    return QDBusObjectPath(QStringLiteral("%1/%2").arg(QLatin1String(kBasePath)).arg(found->second));
}

void AreaObjects::prune() {
    for (auto it = areas_.begin(); it != areas_.end();) {
        if (it->second->isBound()) {
            ++it;
        } else {
            serials_.erase(it->second.get());
            it = areas_.erase(it);
        }
    }
}

std::shared_ptr<DetectionArea> AreaObjects::areaAt(std::uint64_t serial) {
    const auto found = areas_.find(serial);
    if (found == areas_.end()) {
        return nullptr;
    }
    if (!found->second->isBound()) {
        serials_.erase(found->second.get());
        areas_.erase(found);
        return nullptr;
    }
    return found->second;
}

std::uint64_t AreaObjects::serialOf(const QString& path) const {
    const QString prefix = QLatin1String(kBasePath) + u'/';
    if (!path.startsWith(prefix)) {
        return 0;
    }
    const QStringView digits = QStringView(path).mid(prefix.size());
    bool ok = false;
    const std::uint64_t serial = digits.toULongLong(&ok);
    // Only the spelling we hand out: no sign, no leading zeros, no serial not yet given.
    if (!ok || serial == 0 || serial >= nextSerial_ || digits != QString::number(serial)) {
        return 0;
    }
    return serial;
}

QString AreaObjects::introspect(const QString& path) const {
    if (path == QLatin1String(kBasePath)) {
        QString xml;
        for (const auto& [serial, area] : areas_) {
            if (area->isBound()) {
                xml += QStringLiteral("  <node name=\"%1\"/>\n").arg(serial);
            }
        }
        return xml;
    }
    return serialOf(path) != 0 ? areaInterfaceXml() : QString();
}

bool AreaObjects::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    Q_ASSERT(QThread::currentThread() == thread());
    const std::uint64_t serial = serialOf(message.path());
    const bool known = serial != 0 || message.path() == QLatin1String(kBasePath);
    if (known && message.interface() == kIntrospectableInterface) {
        return false;  // QtDBus builds the document around introspect()
    }
    AutomationService::CallScope scope(service_);
    QDBusMessage reply;
    if (serial == 0) {
        reply = message.createErrorReply(QDBusError::UnknownObject,
                                         QStringLiteral("No object at %1.").arg(message.path()));
    } else {
        try {
            reply = answer(message, serial);
        } catch (const NoAreaError&) {
            reply = message.createErrorReply(QLatin1String(kErrorNoArea), kNoAreaMessage);
        } catch (const std::exception& failure) {
            reply = message.createErrorReply(QDBusError::Failed, unexpectedFailure(&failure));
        } catch (...) {
            reply = message.createErrorReply(QDBusError::Failed, unexpectedFailure(nullptr));
        }
    }
    if (message.isReplyRequired()) {
        connection.send(reply);
    }
    return true;
}

// D-Bus API
QDBusMessage AreaObjects::answer(const QDBusMessage& message, std::uint64_t serial) {
    const QString member = message.member();
    const QString signature = message.signature();
    const QList<QVariant> args = message.arguments();
    const auto area = [&]() -> DetectionArea& {
        const std::shared_ptr<DetectionArea> found = areaAt(serial);
        if (!found) {
            throw NoAreaError();
        }
        return *found;
    };
    const auto badArgs = [&](const QString& text) {
        return message.createErrorReply(QDBusError::InvalidArgs, text);
    };

    if (message.interface() == kPropertiesInterface) {
        const auto ourInterface = [&] {
            const QString name = args.value(0).toString();
            return name.isEmpty() || name == kAreaInterface;
        };
        if (member == QLatin1String("GetAll") && signature == QLatin1String("s")) {
            if (!ourInterface()) {
                return message.createReply(QVariant::fromValue(QVariantMap()));
            }
            DetectionArea& target = area();
            QVariantMap values;
            for (const AreaProperty& property : areaProperties()) {
                values.insert(QLatin1String(property.name), property.read(target));
            }
            return message.createReply(QVariant::fromValue(values));
        }
        const bool reading = member == QLatin1String("Get") && signature == QLatin1String("ss");
        const bool writing = member == QLatin1String("Set") && signature == QLatin1String("ssv");
        if (!reading && !writing) {
            return message.createErrorReply(QDBusError::UnknownMethod,
                                             QStringLiteral("No method %1 with signature %2.")
                                                 .arg(member, signature));
        }
        const QString name = args.value(1).toString();
        const AreaProperty* property = ourInterface() ? findAreaProperty(name) : nullptr;
        if (property == nullptr) {
            return message.createErrorReply(QDBusError::UnknownProperty,
                                             QStringLiteral("No property %1.").arg(name));
        }
        if (reading) {
            return message.createReply(QVariant::fromValue(QDBusVariant(property->read(area()))));
        }
        if (property->write == nullptr) {
            return message.createErrorReply(QDBusError::PropertyReadOnly,
                                             QStringLiteral("%1 is read-only.").arg(name));
        }
        const QVariant value = args.value(2).value<QDBusVariant>().variant();
        if (!fitsAreaProperty(value, *property)) {
            return badArgs(QStringLiteral("%1 takes a value of D-Bus type %2.")
                               .arg(name, QLatin1String(property->signature)));
        }
        writeAreaProperty(area(), *property, value);
        return message.createReply();
    }

    if (!message.interface().isEmpty() && message.interface() != kAreaInterface) {
        return message.createErrorReply(QDBusError::UnknownInterface,
                                         QStringLiteral("No interface %1.").arg(message.interface()));
    }
    if (member == QLatin1String("ZOrder") && signature == QLatin1String("n")) {
        area().ZOrder(args.value(0).value<short>());
        return message.createReply();
    }
    if (member == QLatin1String("Size") && signature == QLatin1String("dddd")) {
        area().Size(args.value(0).toDouble(), args.value(1).toDouble(), args.value(2).toDouble(),
                    args.value(3).toDouble());
        return message.createReply();
    }
    return message.createErrorReply(
        QDBusError::UnknownMethod,
        QStringLiteral("No method %1 with signature %2 in %3.").arg(member, signature, kAreaInterface));
}

}  // namespace ostrel::areas
