// What the event history costs the running program: the real main window on a live source with
// 8 areas covering the picture, whose thresholds swing between 0 and 100 every half second so
// that every area's statuses rise once a second, run with or without the history for a fixed
// time. Prints CPU time per second of run, the longest time the GUI thread was busy with one
// frame's pass and with one tick of the event timer (where the history notes the changes and
// hands frames over), and the rows and snapshots the history wrote. Busy is the GUI thread's own
// CPU time, which time spent waiting for a core (the history's thread encoding on the other one,
// or another program) does not count; the wall-clock times are printed beside it.
//
//   ostrel_history_bench SOURCE SECONDS with|without
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QTimer>

#include "DetectionArea.h"
#include "EventStore.h"
#include "HistoryPaths.h"
#include "ProcessUsage.h"
#include "ezVidCap.h"
#include "frmOstrel.h"
#include "frmTimer.h"

namespace {

constexpr int kAreas = 8;

double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// What one kind of GUI-thread work took, each time: thread CPU and wall clock, in ms.
struct Durations {
    std::vector<double> cpu;
    std::vector<double> wall;
};

// Times every event the GUI thread handles (not the ones nested inside another), by receiver.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        if (depth_ > 0 || !measuring_) {
            ++depth_;
            const bool result = QApplication::notify(receiver, event);
            --depth_;
            return result;
        }
        ++depth_;
        QElapsedTimer clock;
        clock.start();
        const double cpu0 = threadCpuMs();
        const bool result = QApplication::notify(receiver, event);
        const double cpu = threadCpuMs() - cpu0;
        const double wall = double(clock.nsecsElapsed()) / 1e6;
        --depth_;
        Durations* kind = &other;
        if (receiver == passReceiver && event->type() == QEvent::MetaCall) {
            kind = &passes;
        } else if (receiver == tickReceiver && event->type() == QEvent::Timer) {
            kind = &ticks;
        }
        kind->cpu.push_back(cpu);
        kind->wall.push_back(wall);
        return result;
    }

    void measure(bool on) { measuring_ = on; }

    const QObject* passReceiver = nullptr;
    const QObject* tickReceiver = nullptr;
    Durations passes;
    Durations ticks;
    Durations other;

private:
    int depth_ = 0;
    bool measuring_ = false;
};

double percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(share * double(values.size())))];
}

void report(const char* what, const Durations& d) {
    std::printf("%-26s busy %.3f ms (99th percentile %.3f ms), wall %.3f ms (%zu)\n", what,
                percentile(d.cpu, 1.0), percentile(d.cpu, 0.99), percentile(d.wall, 1.0),
                d.cpu.size());
}

void coverPicture(ostrel::shell::frmOstrel& window) {
    for (int i = 0; i < kAreas; ++i) {
        auto area = window.registry().AddArea(QStringLiteral("Area%1").arg(i + 1));
        area->Size(double(i % 2) / 2, double(i / 2) / 4, 0.5, 0.25);
    }
}

// Every half second all thresholds go to 0 (everything counts: both statuses rise) or to 100
// (nothing can exceed it: both fall).
void swingThresholds(ostrel::shell::frmOstrel& window, bool low) {
    for (const auto& area : window.registry().areaCollection().items()) {
        area->setMotionThreshold(low ? 0 : 100);
        area->setColorThreshold(low ? 0 : 100);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[3], "with") != 0 && std::strcmp(argv[3], "without") != 0)) {
        std::fprintf(stderr, "usage: %s SOURCE SECONDS with|without\n", argv[0]);
        return 2;
    }
    TimedApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Ostrel"));
    QApplication::setApplicationName(QStringLiteral("Ostrel"));
    const int seconds = std::atoi(argv[2]);
    const bool withHistory = std::strcmp(argv[3], "with") == 0;

    ostrel::shell::StartOptions options;
    options.source = QString::fromLocal8Bit(argv[1]);
    options.name = QStringLiteral("bench");
    ostrel::shell::frmOstrel window(options);
    ostrel::areas::frmTimer timer(window.registry());
    if (withHistory) {
        window.startHistory(timer);
    }
    if (!window.load()) {
        return 1;
    }
    coverPicture(window);
    app.passReceiver = &window.capture();
    app.tickReceiver = &timer.tmTimer();

    bool low = false;
    QTimer swing;
    QObject::connect(&swing, &QTimer::timeout, [&] { swingThresholds(window, low = !low); });
    swing.start(500);

    // Warm up, then measure over the fixed time.
    QTimer::singleShot(2000, [&] {
        app.measure(true);
        const double cpu0 = cpuSeconds();
        QElapsedTimer clock;
        clock.start();
        QTimer::singleShot(seconds * 1000, [&, cpu0, clock] {
            app.measure(false);
            const double wall = double(clock.elapsed()) / 1000.0;
            const double cpu = cpuSeconds() - cpu0;
            std::printf("history %s  frame %dx%d  areas %d  run %.1f s\n", argv[3],
                        window.registry().FrameWidth(), window.registry().FrameHeight(), kAreas,
                        wall);
            std::printf("cpu per second of run     %.1f %% of one core\n", 100.0 * cpu / wall);
            std::printf("passes per second         %.1f\n", double(app.passes.cpu.size()) / wall);
            report("longest pass", app.passes);
            report("longest event-timer tick", app.ticks);
            report("longest other GUI event", app.other);
            window.endProgram();  // the history writes what is queued
            if (withHistory) {
                const QString folder = ostrel::history::historyFolder(options.name);
                ostrel::history::EventStore store(ostrel::history::databasePath(folder),
                                                  ostrel::history::Database::Mode::ReadOnly);
                int snapshots = 0;
                for (QDirIterator it(folder, {QStringLiteral("*.jpg")}, QDir::Files,
                                     QDirIterator::Subdirectories);
                     it.hasNext(); it.next()) {
                    ++snapshots;
                }
                std::printf("history written           %lld rows, %d snapshots (whole run)\n",
                            static_cast<long long>(store.rowCount()), snapshots);
            }
        });
    });
    return QApplication::exec();
}
