#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>

#include "AutomationService.h"
#include "SourceAdaptor.h"
#include "ezVidCap.h"
#include "frmOstrel.h"

namespace {

// SIGINT and SIGTERM end the program in order: the handler only writes a byte that the event
// loop reads, where the main window is closed as by File, Exit.
int signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

void watchTerminationSignals(ostrel::shell::frmOstrel& window) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        std::perror("ostrel: socketpair");
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window, notifier] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        window.endProgram();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Ostrel"));
    QApplication::setApplicationName(QStringLiteral("Ostrel"));
    QApplication::setApplicationVersion(QStringLiteral(OSTREL_VERSION_STRING));
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Watches a live camera picture for motion and colour inside detection areas."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption sourceOption(
        QStringList{QStringLiteral("s"), QStringLiteral("source")},
        QStringLiteral("Video source: a device (/dev/video0), a file, a URI (file://, rtsp://, "
                       "http://) or a GStreamer launch line ending in a video source."),
        QStringLiteral("SOURCE"));
    parser.addOption(sourceOption);
    parser.process(app);

    ostrel::shell::StartOptions options;
    options.source = parser.value(sourceOption);
    ostrel::shell::frmOstrel window(options);
    watchTerminationSignals(window);
    // Automation starts before the windows, so an instance started by D-Bus activation that
    // cannot take the bus name leaves before showing anything.
    ostrel::areas::AutomationService automation(window.registry(), window);
    new ostrel::capture::SourceAdaptor(window.capture(), automation.rootObject());
    if (automation.start() == ostrel::areas::ServiceStart::MustExit) {
        return 1;
    }
    if (!window.load()) {
        return window.exitCode();
    }
    return QApplication::exec();
}
