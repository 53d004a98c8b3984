#include "MqttLink.h"

#include <set>
#include <unordered_map>
#include <unordered_set>

#include <QSysInfo>

#include "AreaErrors.h"
#include "AreaProperties.h"
#include "BrokerClient.h"
#include "DetectionArea.h"
#include "Discovery.h"
#include "frmTimer.h"
#include "mdlSub.h"

namespace ostrel::mqtt {

namespace {

// The area properties a command may set.
const char* const kCommands[] = {"MotionThreshold", "ColorThreshold", "MotionSens",
                                 "ColorSens",       "MotionActive",   "ColorActive"};

// The four states of an area: the last level of their topics.
const char* const kStates[] = {"motion", "color", "motion_percent", "color_percent"};

bool isCommand(const QString& property) {
    for (const char* name : kCommands) {
        if (property == QLatin1String(name)) {
            return true;
        }
    }
    return false;
}

QByteArray onOff(bool status) {
    return status ? QByteArrayLiteral("ON") : QByteArrayLiteral("OFF");
}

}  // namespace

struct MqttLink::AreaEntry {
    std::weak_ptr<areas::DetectionArea> area;
    QString id;
    QString key;
};

// Hands the connection's news from its thread to the link's, tagged with the connection's
// generation, so that news of a connection the link has replaced is dropped.
class MqttLink::Relay : public BrokerEvents {
public:
    Relay(MqttLink& link, std::uint64_t generation) : link_(link), generation_(generation) {}

    void connecting() override {
        post([](MqttLink& link) { link.onConnecting(); });
    }
    void connected() override {
        post([](MqttLink& link) { link.onConnected(); });
    }
    void failed(const std::string& reason, int retryInSeconds) override {
        post([reason = QString::fromStdString(reason), retryInSeconds](MqttLink& link) {
            link.onFailed(reason, retryInSeconds);
        });
    }
    void received(const std::string& topic, const QByteArray& payload, bool retained) override {
        post([topic = QString::fromStdString(topic), payload, retained](MqttLink& link) {
            link.onReceived(topic, payload, retained);
        });
    }

private:
    template <typename Work>
    void post(Work work) {
        MqttLink* link = &link_;
        QMetaObject::invokeMethod(
            link,
            [link, generation = generation_, work = std::move(work)] {
                if (link->generation_ == generation && link->connection_) {
                    work(*link);
                }
            },
            Qt::QueuedConnection);
    }

    MqttLink& link_;
    const std::uint64_t generation_;
};

struct MqttLink::Connection {
    std::unique_ptr<Relay> relay;
    std::unique_ptr<BrokerClient> client;  // after the relay it reports to, gone before it
};

MqttLink::MqttLink(areas::mdlSub& registry, areas::frmTimer& timer, QObject* parent)
    : QObject(parent), registry_(registry), timer_(timer) {
    connect(&registry_, &areas::mdlSub::areasChanged, this, &MqttLink::scheduleSync);
    connect(&timer_, &areas::frmTimer::changeReported, this, &MqttLink::onChangeReported);
    percentTimer_.setInterval(kPercentIntervalMs);
    connect(&percentTimer_, &QTimer::timeout, this, &MqttLink::publishPercentages);
}

MqttLink::~MqttLink() {
    shutDown();
}

void MqttLink::shutDown() {
    stopConnection();
    retiring_.clear();  // waits for their threads
    topics_.reset();
    areas_.clear();
    retained_.clear();
    percentTimer_.stop();
    timer_.letGo(this);
    setState(State::Off);
}

void MqttLink::stopConnection() {
    ++generation_;
    if (connection_) {
        connection_->client->stop();
        retiring_.push_back(std::move(connection_));
    }
    std::erase_if(retiring_, [](const auto& old) { return old->client->finished(); });
}

void MqttLink::configure(const LinkSettings& settings) {
    std::optional<Topics> topics;
    if (settings.enabled()) {
        topics.emplace(settings.name, settings.discoveryPrefix);
    }
    const bool moving = topics_ && (!topics || topics->root() != topics_->root() ||
                                    topics->discoveryFilter() != topics_->discoveryFilter());
    if (moving && state_ == State::Connected) {
        for (const auto& [topic, payload] : retained_) {
            send(topic, QByteArray());
        }
    }
    stopConnection();
    settings_ = settings;
    topics_ = std::move(topics);
    areas_.clear();
    retained_.clear();
    failing_ = false;
    if (!topics_) {
        percentTimer_.stop();
        timer_.letGo(this);
        setState(State::Off);
        say(Importance::Info, QStringLiteral("MQTT is off"));
        return;
    }
    syncAreas();
    percentTimer_.start();
    timer_.hold(this, areas::frmTimer::Holder::Listener);

    BrokerEndpoint endpoint;
    endpoint.host = settings_.host.toStdString();
    endpoint.port = settings_.port;
    endpoint.tls = settings_.tls;
    endpoint.caFile = settings_.caFile.toStdString();
    endpoint.user = settings_.user.toStdString();
    endpoint.password = settings_.password.toStdString();
    // One session per name and machine: a restarted Ostrel takes over the session of the one
    // before it, while Ostrels of the same name on other machines do not push each other off.
    endpoint.clientId = QStringLiteral("ostrel_%1@%2")
                            .arg(topics_->node(), QSysInfo::machineHostName())
                            .toStdString();
    endpoint.statusTopic = topics_->status().toStdString();
    endpoint.subscriptions = {topics_->commandFilter().toStdString()};
    endpoint.sweeps = {topics_->stateFilter().toStdString(),
                       topics_->discoveryFilter().toStdString()};
    auto connection = std::make_unique<Connection>();
    connection->relay = std::make_unique<Relay>(*this, generation_);
    connection->client = std::make_unique<BrokerClient>(std::move(endpoint), *connection->relay);
    connection_ = std::move(connection);
    setState(State::Connecting);
}

QString MqttLink::stateText() const {
    const QString url = settings_.url();
    switch (state_) {
        case State::Off:
            return QStringLiteral("MQTT: off");
        case State::Connecting:
            return QStringLiteral("MQTT: connecting to %1").arg(url);
        case State::Connected:
            return QStringLiteral("MQTT: connected to %1 as %2").arg(url, topics_->root());
        case State::Waiting:
            break;
    }
    return QStringLiteral("MQTT: not connected to %1 (%2); next try in %3 s")
        .arg(url, failure_)
        .arg(retryInSeconds_);
}

void MqttLink::setState(State state) {
    state_ = state;
    Q_EMIT stateChanged();
}

void MqttLink::say(Importance importance, const QString& text) {
    Q_EMIT message(importance, text);
}

// --- news of the connection ---

void MqttLink::onConnecting() {
    if (state_ != State::Waiting) {
        setState(State::Connecting);
    }
}

// Everything retained goes out again: the broker may have lost it, or kept an old value.
void MqttLink::onConnected() {
    failing_ = false;
    failure_.clear();
    setState(State::Connected);
    send(topics_->status(), QByteArrayLiteral("online"), 1);
    for (const auto& [topic, payload] : retained_) {
        send(topic, payload);
    }
    say(Importance::Info, QStringLiteral("MQTT: connected to %1; publishing under %2/")
                              .arg(settings_.url(), topics_->root()));
}

void MqttLink::onFailed(const QString& reason, int retryInSeconds) {
    const bool wasConnected = state_ == State::Connected;
    const bool first = !failing_;
    const bool news = first || reason != failure_;
    failing_ = true;
    failure_ = reason;
    retryInSeconds_ = retryInSeconds;
    setState(State::Waiting);
    if (!news) {
        return;
    }
    QString why = reason;
    while (why.endsWith(u'.')) {
        why.chop(1);
    }
    const QString text =
        wasConnected
            ? QStringLiteral("MQTT: lost the connection to %1: %2; trying again")
                  .arg(settings_.url(), why)
            : QStringLiteral("MQTT: cannot connect to %1: %2; trying again every %3 to %4 s")
                  .arg(settings_.url(), why)
                  .arg(BrokerClient::kFirstRetry.count())
                  .arg(BrokerClient::kLastRetry.count());
    say(first ? Importance::Trouble : Importance::Warning, text);
}

// Commands, and what the broker kept of this Ostrel from before: a retained state or config
// that no area of ours has any more is left over from an area that went while the broker was
// away (or from an earlier run), and is cleared.
void MqttLink::onReceived(const QString& topic, const QByteArray& payload, bool retained) {
    QString id;
    QString property;
    if (topics_->parseCommand(topic, id, property)) {
        if (retained) {
            say(Importance::Warning,
                QStringLiteral("MQTT: ignored the retained command %1; commands take effect when "
                               "they are sent, not again on every connection")
                    .arg(topic));
        } else {
            command(id, property, payload);
        }
        return;
    }
    if (retained && !payload.isEmpty() && retained_.count(topic) == 0) {
        send(topic, QByteArray());
    }
}

// --- the areas ---

void MqttLink::scheduleSync() {
    areasDirty_ = true;
    if (syncScheduled_ || !topics_) {
        return;
    }
    syncScheduled_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            syncScheduled_ = false;
            if (areasDirty_) {
                syncAreas();
            }
        },
        Qt::QueuedConnection);
}

// Brings the published areas in line with the registry's. An area keeps its id as long as it
// exists; a new one takes its key's id, or the next free variant of it.
void MqttLink::syncAreas() {
    areasDirty_ = false;
    if (!topics_) {
        return;
    }
    const auto& items = registry_.areaCollection().items();
    std::unordered_map<const areas::DetectionArea*, const AreaEntry*> before;
    for (const AreaEntry& entry : areas_) {
        if (const auto area = entry.area.lock()) {
            before.emplace(area.get(), &entry);
        }
    }
    std::vector<AreaEntry> after(items.size());
    std::set<QString> taken;
    std::vector<std::size_t> added;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto found = before.find(items[i].get());
        if (found != before.end()) {
            after[i] = *found->second;
            taken.insert(after[i].id);
        } else {
            added.push_back(i);
        }
    }
    for (const std::size_t i : added) {
        const QString key = items[i]->Key();
        const QString id = uniqueAreaId(
            key, std::int32_t(i + 1), [&taken](const QString& id) { return taken.count(id) > 0; });
        taken.insert(id);
        after[i] = AreaEntry{items[i], id, key};
    }
    std::unordered_set<const areas::DetectionArea*> present;
    for (const auto& item : items) {
        present.insert(item.get());
    }
    for (const AreaEntry& entry : areas_) {
        const auto area = entry.area.lock();
        // An id that a new area takes over is overwritten rather than cleared.
        if ((!area || present.count(area.get()) == 0) && taken.count(entry.id) == 0) {
            dropAreaTopics(entry);
        }
    }
    areas_ = std::move(after);
    for (const std::size_t i : added) {
        addAreaTopics(areas_[i], std::int32_t(i + 1));
    }
}

void MqttLink::addAreaTopics(const AreaEntry& entry, std::int32_t number) {
    for (const Retained& config : discoveryConfigs(*topics_, entry.id, entry.key)) {
        setRetained(config.topic, config.payload);
    }
    const areas::DetectionArea& area = *registry_.areaCollection().items()[std::size_t(number - 1)];
    setRetained(topics_->areaState(entry.id, "motion"), onOff(area.MotionStatus()), true);
    setRetained(topics_->areaState(entry.id, "color"), onOff(area.ColorStatus()), true);
    setRetained(topics_->areaState(entry.id, "motion_percent"),
                QByteArray::number(area.MotionPer()));
    setRetained(topics_->areaState(entry.id, "color_percent"), QByteArray::number(area.ColorPer()));
}

void MqttLink::dropAreaTopics(const AreaEntry& entry) {
    for (const Retained& config : discoveryConfigs(*topics_, entry.id, entry.key)) {
        clearRetained(config.topic);
    }
    for (const char* state : kStates) {
        clearRetained(topics_->areaState(entry.id, state));
    }
}

void MqttLink::onChangeReported(std::int32_t number, areas::DetectionKind kind, bool status) {
    if (!topics_) {
        return;
    }
    if (areasDirty_) {
        syncAreas();
    }
    if (number < 1 || std::size_t(number) > areas_.size()) {
        return;
    }
    const char* what = kind == areas::DetectionKind::Motion ? "motion" : "color";
    // Every change goes out, also one back to the value before it within one tick.
    setRetained(topics_->areaState(areas_[std::size_t(number - 1)].id, what), onOff(status), true);
}

void MqttLink::publishPercentages() {
    if (areasDirty_) {
        syncAreas();
    }
    for (const AreaEntry& entry : areas_) {
        const auto area = entry.area.lock();
        if (!area || !area->isBound()) {
            continue;
        }
        setRetained(topics_->areaState(entry.id, "motion_percent"),
                    QByteArray::number(area->MotionPer()));
        setRetained(topics_->areaState(entry.id, "color_percent"),
                    QByteArray::number(area->ColorPer()));
    }
}

// A command sets a property as a D-Bus client does, with the same type and the same limits;
// anything that does not fit is logged and changes nothing.
void MqttLink::command(const QString& id, const QString& property, const QByteArray& payload) {
    const auto refuse = [&](const QString& why) {
        say(Importance::Warning, QStringLiteral("MQTT: ignored the command %1 = \"%2\" for area "
                                                "\"%3\": %4")
                                     .arg(property, QString::fromUtf8(payload).left(64), id, why));
    };
    if (areasDirty_) {
        syncAreas();
    }
    const areas::AreaProperty* target = areas::findAreaProperty(property);
    if (!isCommand(property) || target == nullptr) {
        refuse(QStringLiteral("there is no such command"));
        return;
    }
    const auto entry =
        std::find_if(areas_.begin(), areas_.end(), [&](const AreaEntry& e) { return e.id == id; });
    const auto area = entry != areas_.end() ? entry->area.lock() : nullptr;
    if (!area || !area->isBound()) {
        refuse(QStringLiteral("there is no such area"));
        return;
    }
    const QVariant value = commandValue(payload, target->signature);
    if (!value.isValid()) {
        refuse(target->signature[0] == 'i' ? QStringLiteral("the value must be a whole number")
                                           : QStringLiteral("the value must be ON or OFF"));
        return;
    }
    try {
        areas::writeAreaProperty(*area, *target, value);
    } catch (const areas::AreaError& failure) {
        refuse(QString::fromLocal8Bit(failure.what()));
    }
}

// --- retained topics ---

void MqttLink::setRetained(const QString& topic, const QByteArray& payload, bool always) {
    const auto [found, added] = retained_.try_emplace(topic, payload);
    if (!added) {
        if (found->second == payload && !always) {
            return;
        }
        found->second = payload;
    }
    send(topic, payload);
}

void MqttLink::clearRetained(const QString& topic) {
    if (retained_.erase(topic) > 0) {
        send(topic, QByteArray());
    }
}

void MqttLink::send(const QString& topic, const QByteArray& payload, int qos) {
    if (connection_ && state_ == State::Connected) {
        connection_->client->publish(topic.toStdString(), payload, true, qos);
    }
}

}  // namespace ostrel::mqtt
