#include "TerminationSignals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include <QSocketNotifier>

namespace ostrel::shell {

namespace {

// The socket pair between the handler and the event loop; a signal handler can reach nothing
// but process-wide state.
int signalSockets[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalSockets[1], &byte, 1);
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, signalSockets) != 0) {
        std::perror("ostrel: socketpair");
        return;
    }
    notifier_ = new QSocketNotifier(signalSockets[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(signalSockets[0], &byte, 1);
        notifier_->setEnabled(false);
        received_ = true;
        Q_EMIT received();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    if (notifier_ == nullptr) {
        return;
    }
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    delete notifier_;
    ::close(signalSockets[0]);
    ::close(signalSockets[1]);
    signalSockets[0] = signalSockets[1] = -1;
}

bool TerminationSignals::arrived() const {
    if (received_ || notifier_ == nullptr) {
        return received_;
    }
    char byte = 0;
    return ::recv(signalSockets[0], &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 1;
}

}  // namespace ostrel::shell
