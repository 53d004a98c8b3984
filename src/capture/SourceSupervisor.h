#pragma once

#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

namespace ostrel::capture {

// The state of the capture control's source.
enum class SourceState {
    Connecting,  // a connection is being made; no frame yet
    Playing,     // frames arrive
    Lost,        // it failed, ended or went silent; a retry is due
};

// "connecting", "playing" or "lost".
QString sourceStateName(SourceState state);

// Keeps the source's state from what happens to it and decides when to try again: after a loss,
// retries come 1, 2, 4, 8 and 16 s after each failed try, then every 30 s; a source that
// delivers no frame for the silence limit (5 s) while playing counts as lost. Runs on the GUI
// thread; it only decides, the capture control does the work.
class SourceSupervisor {
public:
    struct Hooks {
        std::function<void(SourceState state, const QString& message)> stateChanged;
        // A retry is due: the capture control tries to connect the source again.
        std::function<void()> retryDue;
        // When the source's last frame came; nothing before its first.
        std::function<std::optional<std::chrono::steady_clock::time_point>()> lastFrame;
        // No frame for the silence limit while playing.
        std::function<void()> silent;
    };

    explicit SourceSupervisor(Hooks hooks);

    SourceState state() const { return state_; }
    // The pause before retry number `retry` (from 1) after a loss.
    static std::chrono::milliseconds retryDelay(int retry);

    // A connection is being made on purpose (a new size, a new pixel depth).
    void connecting(const QString& message);
    // Frames arrive, first or again: the retries are over.
    void playing(const QString& message);
    // The source failed or went silent. True when it was not lost already: a loss is reported
    // once, and the first retry is due a second later.
    bool lost(const QString& message);
    // A retry did not bring the source back: the next one is scheduled.
    void retryFailed();
    // Tries made since the last loss.
    int retries() const { return retries_; }

    std::chrono::milliseconds silenceLimit() const { return silenceLimit_; }
    void setSilenceLimit(std::chrono::milliseconds limit) { silenceLimit_ = limit; }

private:
    void setState(SourceState state, const QString& message);
    void scheduleRetry();
    void checkSilence();

    Hooks hooks_;
    SourceState state_ = SourceState::Connecting;
    int retries_ = 0;
    std::chrono::milliseconds silenceLimit_{5000};
    QTimer retryTimer_;
    QTimer silenceTimer_;
};

}  // namespace ostrel::capture
