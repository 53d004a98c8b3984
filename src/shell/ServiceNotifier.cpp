#include "ServiceNotifier.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace ostrel::shell {

namespace {
constexpr int kStatusRefreshMs = 1000;
}

QString serviceStatus(const QString& sourceState, int areaCount) {
    return QStringLiteral("Source %1; %2 %3")
        .arg(sourceState)
        .arg(areaCount)
        .arg(areaCount == 1 ? QStringLiteral("area") : QStringLiteral("areas"));
}

ServiceNotifier::ServiceNotifier(std::function<QString()> status, QObject* parent)
    : QObject(parent), status_(std::move(status)), active_(qEnvironmentVariableIsSet("NOTIFY_SOCKET")) {
    statusTimer_.setInterval(kStatusRefreshMs);
    connect(&statusTimer_, &QTimer::timeout, this, &ServiceNotifier::refreshStatus);
    connect(&watchdog_, &QTimer::timeout, this, [this] { send(QStringLiteral("WATCHDOG=1")); });
}

void ServiceNotifier::send(const QString& state) {
    if (active_) {
        sd_notify(0, state.toUtf8().constData());
    }
}

void ServiceNotifier::showStatus(const QString& text) {
    lastStatus_ = text;
    send(QStringLiteral("STATUS=") + text);
}

void ServiceNotifier::refreshStatus() {
    const QString text = status_();
    if (text != lastStatus_) {
        showStatus(text);
    }
}

void ServiceNotifier::ready() {
    if (!active_) {
        return;
    }
    lastStatus_ = status_();
    send(QStringLiteral("READY=1\nSTATUS=") + lastStatus_);
    statusTimer_.start();
    std::uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        const std::uint64_t halfMs = std::clamp<std::uint64_t>(
            usec / 2000, 1, std::uint64_t(std::numeric_limits<int>::max()));
        watchdog_.start(int(halfMs));
        send(QStringLiteral("WATCHDOG=1"));
    }
}

void ServiceNotifier::stopping() {
    statusTimer_.stop();
    watchdog_.stop();
    send(QStringLiteral("STOPPING=1"));
}

}  // namespace ostrel::shell
