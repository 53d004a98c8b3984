#include <cstdio>
#include <string_view>

#include <QApplication>

#include "AppIcon.h"
#include "AutomationService.h"
#include "CommandLine.h"
#include "EventsCommand.h"
#include "MqttControl.h"
#include "SourceAdaptor.h"
#include "TerminationSignals.h"
#include "ezVidCap.h"
#include "frmOstrel.h"

namespace {

QStringList argumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return arguments;
}

// The command line is answered before Qt connects to any display, so --help, --version and
// a misuse answer on every terminal.
int answer(const ostrel::shell::CommandLine& command) {
    using Action = ostrel::shell::CommandLine::Action;
    std::FILE* out = command.action == Action::Misuse ? stderr : stdout;
    std::fputs(command.text.toLocal8Bit().constData(), out);
    return command.action == Action::Misuse ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace ostrel;
    // `ostrel events ...` reads the event history: no display, no bus, no windows.
    if (argc > 1 && std::string_view(argv[1]) == "events") {
        return history::runEventsCommand(argumentsOf(argc, argv).mid(2), stdout, stderr);
    }
    shell::CommandLine command = shell::parseCommandLine(argumentsOf(argc, argv));
    if (command.action != shell::CommandLine::Action::Run) {
        return answer(command);
    }
    shell::StartOptions& options = command.options;
    if (options.headless) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else if (!shell::displayAvailable()) {
        std::fputs("ostrel: there is no display (DISPLAY and WAYLAND_DISPLAY are not set); "
                   "use --headless to run without one.\n",
                   stderr);
        return 2;
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Ostrel"));
    QApplication::setApplicationName(QStringLiteral("Ostrel"));
    QApplication::setApplicationVersion(QStringLiteral(OSTREL_VERSION_STRING));
    // The icon of every window; the desktop entry's name lets the desktop match windows to it.
    QApplication::setWindowIcon(ostrel::shell::appIcon());
    QApplication::setDesktopFileName(QStringLiteral("org.ostrel.Ostrel"));
    QApplication::setQuitOnLastWindowClosed(false);

    // SIGINT and SIGTERM end the program in order, as File, Exit does.
    shell::TerminationSignals terminationSignals;
    options.endRequested = [&terminationSignals] { return terminationSignals.arrived(); };
    shell::frmOstrel window(options);
    QObject::connect(&terminationSignals, &shell::TerminationSignals::received, &window,
                     &shell::frmOstrel::endProgram);
    // Automation starts before the windows, so an instance started by D-Bus activation that
    // cannot take the bus name leaves before showing anything.
    areas::AutomationService automation(window.registry(), window);
    automation.setBusName(areas::automationBusName(command.explicitName));
    QObject::connect(&automation, &areas::AutomationService::notice, &window,
                     [&window](const QString& text) {
                         window.reporter().log(shell::Level::Warning, text);
                     });
    new capture::SourceAdaptor(window.capture(), automation.rootObject());
    if (automation.start() == areas::ServiceStart::MustExit) {
        return 1;
    }
    // The history records the changes the automation's timer reports, with or without clients.
    window.startHistory(automation.timer());
    if (!window.load()) {
        return window.exitCode();
    }
    // The MQTT link reports through the event timer, which holds its reports for every taker.
    shell::MqttControl mqtt(window, automation.timer(), command.mqtt,
                            !command.explicitName.isEmpty());
    return QApplication::exec();
}
