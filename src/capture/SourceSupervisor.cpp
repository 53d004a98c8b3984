#include "SourceSupervisor.h"

#include <algorithm>

namespace ostrel::capture {

QString sourceStateName(SourceState state) {
    switch (state) {
        case SourceState::Connecting:
            return QStringLiteral("connecting");
        case SourceState::Playing:
            return QStringLiteral("playing");
        case SourceState::Lost:
            return QStringLiteral("lost");
    }
    return {};
}

SourceSupervisor::SourceSupervisor(Hooks hooks) : hooks_(std::move(hooks)) {
    retryTimer_.setSingleShot(true);
    silenceTimer_.setSingleShot(true);
    QObject::connect(&retryTimer_, &QTimer::timeout, [this] {
        ++retries_;
        hooks_.retryDue();
    });
    QObject::connect(&silenceTimer_, &QTimer::timeout, [this] { checkSilence(); });
}

std::chrono::milliseconds SourceSupervisor::retryDelay(int retry) {
    using std::chrono::seconds;
    return retry <= 5 ? seconds(1 << std::max(retry - 1, 0)) : seconds(30);
}

void SourceSupervisor::connecting(const QString& message) {
    retryTimer_.stop();
    silenceTimer_.stop();
    setState(SourceState::Connecting, message);
}

void SourceSupervisor::playing(const QString& message) {
    retryTimer_.stop();
    retries_ = 0;
    silenceTimer_.start(silenceLimit_);
    setState(SourceState::Playing, message);
}

bool SourceSupervisor::lost(const QString& message) {
    silenceTimer_.stop();
    if (state_ == SourceState::Lost) {
        return false;
    }
    retries_ = 0;
    scheduleRetry();
    setState(SourceState::Lost, message);
    return true;
}

void SourceSupervisor::retryFailed() {
    if (state_ == SourceState::Lost) {
        scheduleRetry();
    }
}

void SourceSupervisor::scheduleRetry() {
    retryTimer_.start(retryDelay(retries_ + 1));
}

void SourceSupervisor::setState(SourceState state, const QString& message) {
    if (state == state_) {
        return;
    }
    state_ = state;
    hooks_.stateChanged(state, message);
}

// Wakes once per silence limit at most, not per frame.
void SourceSupervisor::checkSilence() {
    if (state_ != SourceState::Playing) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const auto last = hooks_.lastFrame();
    const auto quiet = last ? now - *last : std::chrono::steady_clock::duration::max();
    if (quiet >= silenceLimit_) {
        hooks_.silent();
        return;
    }
    silenceTimer_.start(std::chrono::ceil<std::chrono::milliseconds>(silenceLimit_ - quiet));
}

}  // namespace ostrel::capture
