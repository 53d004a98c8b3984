#pragma once

#include <functional>

#include <QObject>
#include <QString>
#include <QTimer>

namespace ostrel::shell {

// The status line a service manager shows for this program.
QString serviceStatus(const QString& sourceState, int areaCount);

// Tells the service manager that started the program (systemd, through NOTIFY_SOCKET) how it
// is: ready, its status, alive (the watchdog, from the event loop), stopping. Without
// NOTIFY_SOCKET nothing is sent.
class ServiceNotifier : public QObject {
    Q_OBJECT

public:
    // `status` composes the current status line; it is sent when it changes.
    explicit ServiceNotifier(std::function<QString()> status, QObject* parent = nullptr);

    // A status line of its own until the next change, e.g. while a file loads.
    void showStatus(const QString& text);
    // Start-up is over: READY=1 with the status; the watchdog starts when the manager asked
    // for one (WATCHDOG_USEC), at half its interval.
    void ready();
    void stopping();

private:
    void send(const QString& state);
    void refreshStatus();

    std::function<QString()> status_;
    QString lastStatus_;
    QTimer statusTimer_;
    QTimer watchdog_;
    bool active_;
};

}  // namespace ostrel::shell
