#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QByteArray>

struct mosquitto;
struct mosquitto_message;

namespace ostrel::mqtt {

// What a broker connection reports. Called on the connection's own thread: an implementation
// hands the news to its own thread and touches nothing else there.
class BrokerEvents {
public:
    virtual ~BrokerEvents() = default;
    virtual void connecting() = 0;
    // The broker accepted the connection; the subscriptions are on their way.
    virtual void connected() = 0;
    // The connection could not be made, or was lost, for `reason`; the next try is in
    // `retryInSeconds` seconds.
    virtual void failed(const std::string& reason, int retryInSeconds) = 0;
    // A message on a subscribed topic. `retained`: the broker kept it from before the
    // subscription (a live message is never marked so).
    virtual void received(const std::string& topic, const QByteArray& payload, bool retained) = 0;
};

// Where a connection goes and what it says about itself.
struct BrokerEndpoint {
    std::string host;
    int port = 1883;
    bool tls = false;
    std::string caFile;  // empty: the system's CA store
    std::string user;
    std::string password;
    std::string clientId;
    // The retained status topic: "offline" is its last will, and is sent there on a clean end.
    std::string statusTopic;
    std::vector<std::string> subscriptions;
    // Subscribed on every connection only for what the broker kept from before, and dropped
    // as soon as the broker has acknowledged them (so that the client's own messages do not
    // come back to it).
    std::vector<std::string> sweeps;
};

// One MQTT connection over libmosquitto, kept up by a thread of its own: connecting (which may
// wait on a name lookup or a TLS handshake) never holds the caller. A connection that fails or
// is lost is tried again after 1 s, then twice as long each time up to 30 s. The caller's
// thread may publish at any time; a message for a broker that is away is dropped (the caller
// keeps what it must send again).
class BrokerClient {
public:
    static constexpr std::chrono::seconds kFirstRetry{1};
    static constexpr std::chrono::seconds kLastRetry{30};
    // A connection that got no answer from the broker in this time counts as failed.
    static constexpr std::chrono::seconds kConnectTimeout{10};
    static constexpr int kKeepAliveSeconds = 30;

    // Starts connecting at once. `events` must outlive the client.
    BrokerClient(BrokerEndpoint endpoint, BrokerEvents& events);
    // Stops (see stop()) and waits for the thread.
    ~BrokerClient();
    BrokerClient(const BrokerClient&) = delete;
    BrokerClient& operator=(const BrokerClient&) = delete;

    // Sends a message when connected; false when not (nothing is queued then).
    bool publish(const std::string& topic, const QByteArray& payload, bool retain, int qos = 0);
    // Ends the connection: "offline" on the status topic, then a clean disconnect. Returns at
    // once; the thread ends by itself, soon after.
    void stop();
    // The thread has ended; destroying the client then waits for nothing.
    bool finished() const { return finished_; }

private:
    using Clock = std::chrono::steady_clock;

    void run();
    // One connection, from the first packet to its end: why it ended, empty when stopped.
    std::string attempt();
    std::string configure(mosquitto* handle);
    std::string describe(int code, int error) const;
    void goodbye(mosquitto* handle);
    // Sleeps `delay`; false when stop() came first.
    bool pause(std::chrono::seconds delay);

    static void onConnect(mosquitto*, void* self, int code);
    static void onDisconnect(mosquitto*, void* self, int code);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void onPublish(mosquitto*, void* self, int messageId);
    static void onSubscribe(mosquitto*, void* self, int messageId, int count, const int* qos);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    const BrokerEndpoint endpoint_;
    BrokerEvents& events_;

    std::mutex mutex_;  // guards handle_ against its end while another thread publishes
    std::condition_variable wake_;
    mosquitto* handle_ = nullptr;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> connected_{false};
    std::atomic<int> goodbyeId_{0};
    std::atomic<bool> finished_{false};

    // Written and read on the connection's thread only.
    bool goodbyeAcknowledged_ = false;
    bool wasConnected_ = false;
    int refusal_ = 0;
    std::map<int, std::string> sweepIds_;  // subscription message id -> filter
    std::string lastError_;

    std::thread thread_;
};

}  // namespace ostrel::mqtt
