#include "BrokerClient.h"

#include <netdb.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <mosquitto.h>

namespace ostrel::mqtt {

namespace {

const char kOffline[] = "offline";

// libmosquitto wants one initialisation per process before the first client.
void initialiseLibrary() {
    static const int done = mosquitto_lib_init();
    (void)done;
}

// How long one wait for the socket lasts: short while connecting, so that a stop is seen soon;
// once connected, a publish or a stop wakes the wait anyway.
int loopTimeoutMs(bool connected) {
    return connected ? 1000 : 100;
}

}  // namespace

BrokerClient::BrokerClient(BrokerEndpoint endpoint, BrokerEvents& events)
    : endpoint_(std::move(endpoint)), events_(events) {
    initialiseLibrary();
    thread_ = std::thread([this] { run(); });
}

BrokerClient::~BrokerClient() {
    stop();
    thread_.join();
}

bool BrokerClient::publish(const std::string& topic, const QByteArray& payload, bool retain,
                           int qos) {
    std::lock_guard lock(mutex_);
    if (handle_ == nullptr || !connected_) {
        return false;
    }
    return mosquitto_publish(handle_, nullptr, topic.c_str(), int(payload.size()),
                             payload.constData(), qos, retain) == MOSQ_ERR_SUCCESS;
}

void BrokerClient::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopRequested_.exchange(true)) {
            return;
        }
        // Sent from here, the goodbye also wakes the connection's thread from its wait.
        int id = 0;
        if (handle_ != nullptr && connected_ &&
            mosquitto_publish(handle_, &id, endpoint_.statusTopic.c_str(), int(sizeof kOffline) - 1,
                              kOffline, 1, true) == MOSQ_ERR_SUCCESS) {
            goodbyeId_ = id;
        }
    }
    wake_.notify_all();
}

void BrokerClient::run() {
    std::chrono::seconds delay = kFirstRetry;
    while (!stopRequested_) {
        events_.connecting();
        const std::string reason = attempt();
        if (stopRequested_) {
            break;
        }
        if (std::exchange(wasConnected_, false)) {
            delay = kFirstRetry;
        }
        events_.failed(reason, int(delay.count()));
        if (!pause(delay)) {
            break;
        }
        delay = std::min(delay * 2, kLastRetry);
    }
    finished_ = true;
}

bool BrokerClient::pause(std::chrono::seconds delay) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, delay, [this] { return stopRequested_.load(); });
}

// Every attempt starts from a new handle: a connection that hangs half-open is simply dropped.
std::string BrokerClient::attempt() {
    std::unique_ptr<mosquitto, decltype(&mosquitto_destroy)> owned(
        mosquitto_new(endpoint_.clientId.c_str(), true, this), &mosquitto_destroy);
    if (!owned) {
        return std::string("cannot create an MQTT client: ") + std::strerror(errno);
    }
    mosquitto* handle = owned.get();
    std::string reason = configure(handle);
    if (!reason.empty()) {
        return reason;
    }
    refusal_ = 0;
    lastError_.clear();
    int code =
        mosquitto_connect_async(handle, endpoint_.host.c_str(), endpoint_.port, kKeepAliveSeconds);
    if (code != MOSQ_ERR_SUCCESS) {
        return describe(code, errno);
    }
    {
        std::lock_guard lock(mutex_);
        handle_ = handle;
    }
    const Clock::time_point deadline = Clock::now() + kConnectTimeout;
    while (true) {
        code = mosquitto_loop(handle, loopTimeoutMs(connected_), 1);
        const int error = errno;
        if (stopRequested_) {
            if (connected_) {
                goodbye(handle);
            }
            break;
        }
        if (code != MOSQ_ERR_SUCCESS) {
            reason = describe(code, error);
            break;
        }
        if (!connected_ && Clock::now() > deadline) {
            reason = "the broker did not answer within " + std::to_string(kConnectTimeout.count()) +
                     " s";
            break;
        }
    }
    std::lock_guard lock(mutex_);
    handle_ = nullptr;
    connected_ = false;
    return reason;
}

std::string BrokerClient::configure(mosquitto* handle) {
    mosquitto_threaded_set(handle, true);
    mosquitto_int_option(handle, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(handle, &BrokerClient::onConnect);
    mosquitto_disconnect_callback_set(handle, &BrokerClient::onDisconnect);
    mosquitto_message_callback_set(handle, &BrokerClient::onMessage);
    mosquitto_publish_callback_set(handle, &BrokerClient::onPublish);
    mosquitto_subscribe_callback_set(handle, &BrokerClient::onSubscribe);
    mosquitto_log_callback_set(handle, &BrokerClient::onLog);
    int code = mosquitto_will_set(handle, endpoint_.statusTopic.c_str(), int(sizeof kOffline) - 1,
                                  kOffline, 1, true);
    if (code == MOSQ_ERR_SUCCESS && !endpoint_.user.empty()) {
        code = mosquitto_username_pw_set(
            handle, endpoint_.user.c_str(),
            endpoint_.password.empty() ? nullptr : endpoint_.password.c_str());
    }
    if (code != MOSQ_ERR_SUCCESS) {
        return describe(code, errno);
    }
    if (!endpoint_.tls) {
        return {};
    }
    if (endpoint_.caFile.empty()) {
        code = mosquitto_int_option(handle, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    } else {
        code =
            mosquitto_tls_set(handle, endpoint_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (code == MOSQ_ERR_INVAL) {
            return "cannot read the CA file " + endpoint_.caFile;
        }
    }
    return code == MOSQ_ERR_SUCCESS ? std::string() : describe(code, errno);
}

std::string BrokerClient::describe(int code, int error) const {
    switch (code) {
        case MOSQ_ERR_CONN_REFUSED:
            return std::string("the broker refused the connection: ") +
                   mosquitto_connack_string(refusal_);
        case MOSQ_ERR_ERRNO:
            return std::strerror(error);
        case MOSQ_ERR_EAI:
            return "cannot find the host " + endpoint_.host + ": " + gai_strerror(error);
        case MOSQ_ERR_TLS:
        case MOSQ_ERR_TLS_HANDSHAKE:
            return "TLS failed" + (lastError_.empty() ? std::string() : ": " + lastError_);
        case MOSQ_ERR_CONN_LOST:
            return "the broker closed the connection";
        case MOSQ_ERR_KEEPALIVE:
            return "the broker stopped answering";
        default:
            return mosquitto_strerror(code) +
                   (lastError_.empty() ? std::string() : ": " + lastError_);
    }
}

// "offline" goes out and is acknowledged (for at most a second), then the connection ends
// cleanly: the broker drops the last will, which would say the same.
void BrokerClient::goodbye(mosquitto* handle) {
    if (goodbyeId_ == 0) {
        int id = 0;
        if (mosquitto_publish(handle, &id, endpoint_.statusTopic.c_str(), int(sizeof kOffline) - 1,
                              kOffline, 1, true) == MOSQ_ERR_SUCCESS) {
            goodbyeId_ = id;
        }
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(1);
    int code = MOSQ_ERR_SUCCESS;
    while (!goodbyeAcknowledged_ && code == MOSQ_ERR_SUCCESS && Clock::now() < deadline) {
        code = mosquitto_loop(handle, 100, 1);
    }
    if (code != MOSQ_ERR_SUCCESS) {
        return;
    }
    mosquitto_disconnect(handle);
    while (code == MOSQ_ERR_SUCCESS && Clock::now() < deadline + std::chrono::seconds(1)) {
        code = mosquitto_loop(handle, 100, 1);
    }
}

void BrokerClient::onConnect(mosquitto* handle, void* self, int code) {
    auto& client = *static_cast<BrokerClient*>(self);
    client.refusal_ = code;
    if (code != 0) {
        return;
    }
    client.connected_ = true;
    client.wasConnected_ = true;
    for (const std::string& filter : client.endpoint_.subscriptions) {
        mosquitto_subscribe(handle, nullptr, filter.c_str(), 1);
    }
    client.sweepIds_.clear();
    for (const std::string& filter : client.endpoint_.sweeps) {
        int id = 0;
        if (mosquitto_subscribe(handle, &id, filter.c_str(), 1) == MOSQ_ERR_SUCCESS) {
            client.sweepIds_.emplace(id, filter);
        }
    }
    client.events_.connected();
}

void BrokerClient::onDisconnect(mosquitto*, void* self, int) {
    static_cast<BrokerClient*>(self)->connected_ = false;
}

void BrokerClient::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto& client = *static_cast<BrokerClient*>(self);
    client.events_.received(
        message->topic,
        QByteArray(static_cast<const char*>(message->payload), qsizetype(message->payloadlen)),
        message->retain);
}

void BrokerClient::onPublish(mosquitto*, void* self, int messageId) {
    auto& client = *static_cast<BrokerClient*>(self);
    if (messageId != 0 && messageId == client.goodbyeId_) {
        client.goodbyeAcknowledged_ = true;
    }
}

// The broker sends what it kept for a subscription with its acknowledgement; after that the
// sweep's subscription has served.
void BrokerClient::onSubscribe(mosquitto* handle, void* self, int messageId, int, const int*) {
    auto& client = *static_cast<BrokerClient*>(self);
    const auto found = client.sweepIds_.find(messageId);
    if (found != client.sweepIds_.end()) {
        mosquitto_unsubscribe(handle, nullptr, found->second.c_str());
        client.sweepIds_.erase(found);
    }
}

void BrokerClient::onLog(mosquitto*, void* self, int level, const char* text) {
    if ((level & MOSQ_LOG_ERR) != 0 && text != nullptr) {
        static_cast<BrokerClient*>(self)->lastError_ = text;
    }
}

}  // namespace ostrel::mqtt
