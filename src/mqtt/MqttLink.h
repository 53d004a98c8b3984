#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include "LinkSettings.h"
#include "Topics.h"

namespace ostrel::areas {
class DetectionArea;
class frmTimer;
class mdlSub;
enum class DetectionKind;
}  // namespace ostrel::areas

namespace ostrel::mqtt {

// The MQTT link: publishes every area to a broker, so that home automation sees the areas as
// sensors, and takes the commands that change an area's thresholds, tolerances and whether it
// measures. Under ostrel/<name>/: status "online"/"offline" (retained; "offline" is also the last
// will), and per area motion and color "ON"/"OFF" and the two percentages (retained). The
// states follow the event timer's reports, the same as the bus events, whether or not a client
// holds a ConUnit; the percentages go out on change, at most once a second. Home Assistant
// discovery configs describe every area; an area that goes takes its entities along.
//
// Everything here runs on the GUI thread; the broker connection runs on a thread of its own
// and hands its news over as queued calls. While the broker is away only the newest value of
// each topic is kept, and all of them are sent again on the next connection.
class MqttLink : public QObject {
    Q_OBJECT

public:
    enum class State { Off, Connecting, Connected, Waiting };
    // How much a message matters to a person.
    enum class Importance { Info, Warning, Trouble };
    static constexpr int kPercentIntervalMs = 1000;

    // `registry` and `timer` must outlive the link.
    MqttLink(areas::mdlSub& registry, areas::frmTimer& timer, QObject* parent = nullptr);
    ~MqttLink() override;

    // Connects with `settings` in place of any link there was; disabled settings switch the
    // link off. When the topics move (another name or prefix), the entities published under
    // the old ones are taken off the broker first.
    void configure(const LinkSettings& settings);
    // Ends the link for good without touching the entities: the program is ending (its areas
    // are cleared away then, which must not look like areas removed by a person).
    void shutDown();

    const LinkSettings& settings() const { return settings_; }
    State state() const { return state_; }
    // One line about the link: off, connecting, connected, or why not and when it tries again.
    QString stateText() const;

Q_SIGNALS:
    void stateChanged();
    // A line for the log, or (Trouble) a failure to show a person once: the first failed try
    // of a run is Trouble, later ones with another reason are Warnings, the same reason again
    // is not repeated.
    void message(ostrel::mqtt::MqttLink::Importance importance, const QString& text);

private:
    class Relay;
    struct Connection;
    struct AreaEntry;

    void stopConnection();
    void onConnecting();
    void onConnected();
    void onFailed(const QString& reason, int retryInSeconds);
    void onReceived(const QString& topic, const QByteArray& payload, bool retained);
    void onChangeReported(std::int32_t number, areas::DetectionKind kind, bool status);
    void scheduleSync();
    void syncAreas();
    void addAreaTopics(const AreaEntry& entry, std::int32_t number);
    void dropAreaTopics(const AreaEntry& entry);
    void publishPercentages();
    void command(const QString& id, const QString& property, const QByteArray& payload);
    // Keeps `payload` as the topic's newest value and sends it when it changed (or `always`).
    void setRetained(const QString& topic, const QByteArray& payload, bool always = false);
    void clearRetained(const QString& topic);
    void send(const QString& topic, const QByteArray& payload, int qos = 0);
    void setState(State state);
    void say(Importance importance, const QString& text);

    areas::mdlSub& registry_;
    areas::frmTimer& timer_;
    LinkSettings settings_;
    std::optional<Topics> topics_;
    std::vector<AreaEntry> areas_;            // by area number - 1
    std::map<QString, QByteArray> retained_;  // every retained topic but the status
    std::unique_ptr<Connection> connection_;
    std::vector<std::unique_ptr<Connection>> retiring_;  // stopped, their threads ending
    std::uint64_t generation_ = 0;  // of connection_; news of older connections is dropped
    State state_ = State::Off;
    QString failure_;
    int retryInSeconds_ = 0;
    bool failing_ = false;  // the tries since the last connection all failed
    bool syncScheduled_ = false;
    bool areasDirty_ = false;
    QTimer percentTimer_;
};

}  // namespace ostrel::mqtt
