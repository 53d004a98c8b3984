#pragma once

#include <QObject>

class QSocketNotifier;

namespace ostrel::shell {

// SIGINT and SIGTERM, turned into an event of the event loop: the handler only writes a byte
// that the loop reads. One per process.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    // Installs the handlers. Without them (no socket could be made) the signals end the
    // program at once, as by default.
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // A signal has arrived. Work that runs long outside the event loop asks this between steps.
    bool arrived() const;

Q_SIGNALS:
    // The first signal, from the event loop.
    void received();

private:
    QSocketNotifier* notifier_ = nullptr;
    bool received_ = false;
};

}  // namespace ostrel::shell
