// Whole-program measurement: the real main window on a live source, with a number of areas
// covering the picture, its windows shown or all hidden.
//
//   ostrel_program_bench SOURCE AREAS shown|hidden [SECONDS]
//
// With SECONDS it warms up for a second, measures for SECONDS and prints CPU time per second of
// run, frames the source delivered and frames the detection loop measured per second, and peak
// memory. Without, it prints "ready" once running and then answers every line on its standard
// input with "passes N" (the passes of the detection loop so far), for a caller that measures
// the process from outside; it ends when its standard input closes.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include "DetectionArea.h"
#include "ProcessUsage.h"
#include "ezVidCap.h"
#include "frmOstrel.h"

namespace {

// Lays `count` areas over the picture: a grid of equal cells covering all of it.
void coverPicture(ostrel::shell::frmOstrel& window, int count) {
    const int columns = count > 1 ? 2 : 1;
    const int rows = (count + columns - 1) / columns;
    for (int i = 0; i < count; ++i) {
        auto area = window.registry().AddArea(QStringLiteral("Area%1").arg(i + 1));
        area->Size(double(i % columns) / columns, double(i / columns) / rows, 1.0 / columns,
                   1.0 / rows);
        area->setMotionThreshold(5);
        area->setColorThreshold(5);
    }
}

// Prints the pass count for every line read from standard input; quits when it closes.
void answerOnStandardInput(ostrel::shell::frmOstrel& window) {
    auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window, notifier] {
        char buffer[256];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            notifier->setEnabled(false);
            window.endProgram();
            return;
        }
        for (ssize_t i = 0; i < got; ++i) {
            if (buffer[i] == '\n') {
                std::printf("passes %lld\n", static_cast<long long>(window.loop().passes()));
            }
        }
        std::fflush(stdout);
    });
    std::printf("ready\n");
    std::fflush(stdout);
}

void measureFor(ostrel::shell::frmOstrel& window, int areaCount, int seconds) {
    auto* delivered = new long long(0);
    QObject::connect(&window.capture(), &ostrel::capture::ezVidCap::frameReady,
                     [delivered] { ++*delivered; });
    QTimer::singleShot(1000, &window, [&window, areaCount, seconds, delivered] {
        const double cpu0 = cpuSeconds();
        const long long passes0 = window.loop().passes();
        const long long delivered0 = *delivered;
        QElapsedTimer clock;
        clock.start();
        QTimer::singleShot(seconds * 1000, &window, [=, &window] {
            const double wall = clock.elapsed() / 1000.0;
            std::printf("areas %d  frame %dx%d  run %.1f s\n", areaCount,
                        window.registry().FrameWidth(), window.registry().FrameHeight(), wall);
            std::printf("cpu per second of run   %.1f %% of one core\n",
                        100.0 * (cpuSeconds() - cpu0) / wall);
            std::printf("frames delivered per s  %.1f\n", (*delivered - delivered0) / wall);
            std::printf("frames measured per s   %.1f\n",
                        (window.loop().passes() - passes0) / wall);
            std::printf("peak memory             %.1f MB\n", peakKilobytes() / 1024.0);
            delete delivered;
            window.endProgram();
        });
    });
}

}  // namespace

int main(int argc, char** argv) {
    const bool hidden = argc >= 4 && std::strcmp(argv[3], "hidden") == 0;
    if (argc < 4 || argc > 5 || (!hidden && std::strcmp(argv[3], "shown") != 0)) {
        std::fprintf(stderr, "usage: %s SOURCE AREAS shown|hidden [SECONDS]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Ostrel"));
    QApplication::setApplicationName(QStringLiteral("Ostrel"));
    const int areaCount = std::atoi(argv[2]);

    ostrel::shell::StartOptions options;
    options.source = QString::fromLocal8Bit(argv[1]);
    ostrel::shell::frmOstrel window(options);
    if (!window.load()) {
        return 1;
    }
    coverPicture(window, areaCount);
    // Whatever the stored settings say: all three windows shown, or all hidden.
    window.setMonitorVisible(!hidden);
    window.setVideoVisible(!hidden);
    window.setMainWindowVisible(!hidden);
    if (argc == 5) {
        measureFor(window, areaCount, std::atoi(argv[4]));
    } else {
        answerOnStandardInput(window);
    }
    return QApplication::exec();
}
