// Cost of one event snapshot of a 1920 × 1080 frame with 8 areas, as the history's writer thread
// pays it: the annotated frame compressed and written to a file. "qt-writer" is the way the
// snapshot was first made, the whole frame copied, painted on and handed to Qt's JPEG writer;
// it stays as the baseline that "bands" is measured against in the same run.

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>
#include <QTemporaryDir>

#include "Snapshot.h"

namespace ostrel::history {
namespace {

// Colour bars over a soft gradient with some grain: compresses about as a camera picture does.
QImage cameraLikeFrame() {
    QImage frame(1920, 1080, QImage::Format_RGB32);
    QPainter painter(&frame);
    QLinearGradient gradient(0, 0, 1920, 1080);
    gradient.setColorAt(0, QColor(30, 40, 60));
    gradient.setColorAt(1, QColor(200, 190, 170));
    painter.fillRect(frame.rect(), gradient);
    const QColor bars[] = {Qt::white,   Qt::yellow, Qt::cyan, Qt::green,
                           Qt::magenta, Qt::red,    Qt::blue};
    for (int i = 0; i < 7; ++i) {
        painter.fillRect(QRect(i * 274, 300, 274, 400), bars[i]);
    }
    painter.end();
    std::uint32_t seed = 12345;
    for (int y = 0; y < frame.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(frame.scanLine(y));
        for (int x = 0; x < frame.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 29) - 4;
            row[x] =
                qRgb(qBound(0, qRed(row[x]) + grain, 255), qBound(0, qGreen(row[x]) + grain, 255),
                     qBound(0, qBlue(row[x]) + grain, 255));
        }
    }
    return frame;
}

SnapshotJob eightAreas() {
    SnapshotJob job;
    job.frame = cameraLikeFrame();
    for (int i = 0; i < 8; ++i) {
        job.outlines.push_back({QRect((i % 2) * 960, (i / 2) * 270, 960, 270),
                                QStringLiteral("Area%1").arg(i + 1), i == 5});
    }
    job.relativePath = QStringLiteral("snapshot.jpg");
    return job;
}

void benchBands(benchmark::State& state) {
    const SnapshotJob job = eightAreas();
    QTemporaryDir dir;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        bytes = writeSnapshot(job, dir.path());
    }
    state.counters["file KB"] = double(bytes) / 1024;
}

void benchQtWriter(benchmark::State& state) {
    const SnapshotJob job = eightAreas();
    QTemporaryDir dir;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        const QImage image = annotatedSnapshot(job);
        QSaveFile file(dir.path() + u'/' + job.relativePath);
        file.open(QIODevice::WriteOnly);
        QImageWriter writer(&file, "jpg");
        writer.setQuality(85);
        writer.write(image);
        bytes = file.size();
        file.commit();
    }
    state.counters["file KB"] = double(bytes) / 1024;
}

}  // namespace
}  // namespace ostrel::history

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::RegisterBenchmark("Snapshot/qt-writer", ostrel::history::benchQtWriter)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Snapshot/bands", ostrel::history::benchBands)
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
