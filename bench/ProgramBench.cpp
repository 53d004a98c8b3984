// Whole-program measurement: the real main window on a live source, with a number of areas
// covering the picture, run for a fixed time. Prints CPU time per second of run, frames the
// source delivered and frames the detection loop measured per second, and peak memory.
//
//   ostrel_program_bench SOURCE SECONDS AREAS

#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QElapsedTimer>
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s SOURCE SECONDS AREAS\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Ostrel"));
    QApplication::setApplicationName(QStringLiteral("Ostrel"));
    const int seconds = std::atoi(argv[2]);
    const int areaCount = std::atoi(argv[3]);

    ostrel::shell::StartOptions options;
    options.source = QString::fromLocal8Bit(argv[1]);
    ostrel::shell::frmOstrel window(options);
    if (!window.load()) {
        return 1;
    }
    coverPicture(window, areaCount);
    long long delivered = 0;
    QObject::connect(&window.capture(), &ostrel::capture::ezVidCap::frameReady,
                     [&delivered] { ++delivered; });

    // Warm up, then measure over the fixed time.
    QTimer::singleShot(1000, [&] {
        const double cpu0 = cpuSeconds();
        const long long passes0 = window.loop().passes();
        const long long delivered0 = delivered;
        QElapsedTimer clock;
        clock.start();
        QTimer::singleShot(seconds * 1000, [&, cpu0, passes0, delivered0, clock] {
            const double wall = clock.elapsed() / 1000.0;
            std::printf("areas %d  frame %dx%d  run %.1f s\n", areaCount,
                        window.registry().FrameWidth(), window.registry().FrameHeight(), wall);
            std::printf("cpu per second of run   %.1f %% of one core\n",
                        100.0 * (cpuSeconds() - cpu0) / wall);
            std::printf("frames delivered per s  %.1f\n", (delivered - delivered0) / wall);
            std::printf("frames measured per s   %.1f\n",
                        (window.loop().passes() - passes0) / wall);
            std::printf("peak memory             %.1f MB\n", peakKilobytes() / 1024.0);
            window.endProgram();
        });
    });
    return QApplication::exec();
}
