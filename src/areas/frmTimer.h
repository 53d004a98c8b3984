#pragma once

#include <chrono>
#include <cstdint>
#include <map>

#include <QObject>
#include <QPointer>
#include <QTimer>

namespace ostrel::areas {

class ctlDetArea;
class mdlSub;

// What a reported status change is about.
enum class DetectionKind { Motion, Color };

// The hidden timer window: one timer, tmTimer, that reports the areas' status changes. Every
// report leaves through changeReported, one signal per change: the changes each area counted
// since the last tick, areas in number order, an area's motion changes before its colour
// changes, each kind oldest first. It ticks while anyone holds it (every ConUnit does, and so
// does whatever records the changes), the first time one interval after it started, then every
// 50 ms.
class frmTimer : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kFirstInterval{1000};
    static constexpr std::chrono::milliseconds kInterval{50};

    // The intervals can be shortened for tests; the program keeps the defaults.
    explicit frmTimer(mdlSub& registry, QObject* parent = nullptr,
                      std::chrono::milliseconds firstInterval = kFirstInterval,
                      std::chrono::milliseconds interval = kInterval);
    ~frmTimer() override;

    QTimer& tmTimer() { return tmTimer_; }
    // Who holds the timer: a client (a ConUnit) keeps the program running; a listener (the
    // event history) only wants the reports.
    enum class Holder { Client, Listener };

    // `holder` wants reports. A timer that is not running starts with its first interval; one
    // that runs keeps its pace.
    void hold(const QObject* holder, Holder kind = Holder::Client);
    // `holder` lets go. Returns whether it was the last client; the timer stops once nobody
    // holds it.
    bool letGo(const QObject* holder);
    bool held() const { return !holders_.empty(); }

Q_SIGNALS:
    // Area `number`'s motion or colour status changed to `status`.
    void changeReported(std::int32_t number, ostrel::areas::DetectionKind kind, bool status);

private:
    void tmTimer_Timer();
    // Reports the pending changes of one kind of area `number`. False when a handler has
    // meanwhile taken the area away or renumbered it.
    bool report(std::int32_t number, const QPointer<ctlDetArea>& control, DetectionKind kind);

    mdlSub& registry_;
    QTimer tmTimer_;
    std::chrono::milliseconds firstInterval_;
    std::chrono::milliseconds interval_;
    std::map<const QObject*, Holder> holders_;
    bool ticking_ = false;
};

}  // namespace ostrel::areas
