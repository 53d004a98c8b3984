// The program as main() wires it (main window, automation on the session bus, the source on
// D-Bus), for the soak run of bench/source-soak. Two differences: a message box is closed at
// once (nobody is there to do it, and one that holds detection would stop the run), and what the
// run measures is written to standard output with the monotonic clock's time in seconds:
//
//   state T STATE      the source's state changed
//   measured T         the detection loop measured the first frame after the source came back
//
//   ostrel_source_soak SOURCE
#include <chrono>
#include <cstdio>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "AutomationService.h"
#include "SourceAdaptor.h"
#include "ezVidCap.h"
#include "frmOstrel.h"

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SOURCE\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Ostrel"));
    QApplication::setApplicationName(QStringLiteral("Ostrel"));
    QApplication::setQuitOnLastWindowClosed(false);

    ostrel::shell::StartOptions options;
    options.source = QString::fromLocal8Bit(argv[1]);
    ostrel::shell::frmOstrel window(options);
    ostrel::areas::AutomationService automation(window.registry(), window);
    new ostrel::capture::SourceAdaptor(window.capture(), automation.rootObject());
    if (automation.start() != ostrel::areas::ServiceStart::Serving || !window.load()) {
        return 1;
    }
    using ostrel::capture::ezVidCap;
    ezVidCap& capture = window.capture();
    QObject::connect(&capture, &ezVidCap::CaptureError, [](int code, const QString& text) {
        std::fprintf(stderr, "capture error %d: %s\n", code, qPrintable(text));
    });
    QTimer boxCloser;
    QObject::connect(&boxCloser, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->accept();
        }
    });
    boxCloser.start(100);

    long long passesAtReturn = -1;
    QObject::connect(&capture, &ezVidCap::StateChanged, [&](const QString& state, const QString&) {
        std::printf("state %.6f %s\n", now(), qPrintable(state));
        std::fflush(stdout);
        if (state == QLatin1String("playing")) {
            passesAtReturn = window.loop().passes();
        }
    });
    // Connected after the main window's own handler: runs after the pass it starts.
    QObject::connect(&capture, &ezVidCap::frameReady, [&] {
        if (passesAtReturn >= 0 && window.loop().passes() > passesAtReturn) {
            std::printf("measured %.6f\n", now());
            std::fflush(stdout);
            passesAtReturn = -1;
        }
    });
    return QApplication::exec();
}
