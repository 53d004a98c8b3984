#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageWriter>
#include <QTemporaryDir>

#include "HistoryError.h"
#include "JpegEncoder.h"
#include "Snapshot.h"

using namespace ostrel::history;

namespace {

// A picture whose every pixel differs from its neighbours in all three colours, so that a
// swapped colour, a shifted row or a band out of place shows after compression.
QImage busyFrame(int width, int height) {
    QImage frame(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            frame.setPixel(x, y, qRgb((x * 7 + y) % 256, (y * 5 + x * 3) % 256, (x * y) % 256));
        }
    }
    return frame;
}

QImage decoded(const QByteArray& jpeg) {
    QImage image = QImage::fromData(jpeg, "JPEG");
    return image.convertToFormat(QImage::Format_RGB32);
}

}  // namespace

// The snapshot is compressed a band of rows at a time, straight from the shared frame. The file
// must hold the same picture as the whole annotated frame handed to Qt's own JPEG writer at the
// same quality: bands painted on separately, a label across two bands, a last band cut short
// and the pixels' byte order all show in the decoded picture.
TEST(Snapshot, TheFileHoldsTheWholeAnnotatedFrame) {
    SnapshotJob job;
    job.frame = busyFrame(203, 75);  // rows 0..74: four bands of 16 and one of 11
    // The triggering area lies in the first band; its key reaches down into the second.
    job.outlines = {{QRect(0, 0, 100, 40), QStringLiteral("West"), false},
                    {QRect(90, 2, 113, 12), QStringLiteral("East door"), true},
                    {QRect(20, 50, 30, 20), QString(), false}};
    job.relativePath = QStringLiteral("snapshots/2026-12-08/one.jpg");
    const QImage before = job.frame;

    QTemporaryDir dir;
    const std::int64_t bytes = writeSnapshot(job, dir.path());
    QFile file(dir.path() + u'/' + job.relativePath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    EXPECT_EQ(bytes, written.size());

    QBuffer reference;
    reference.open(QIODevice::WriteOnly);
    QImageWriter writer(&reference, "jpg");
    writer.setQuality(85);
    ASSERT_TRUE(writer.write(annotatedSnapshot(job)));
    const QImage expected = decoded(reference.data());
    const QImage actual = decoded(written);
    ASSERT_EQ(actual.size(), expected.size());
    EXPECT_TRUE(actual == expected) << "the file's picture differs from the annotated frame's";
    EXPECT_TRUE(job.frame == before) << "the shared frame was written on";

    // A device that takes nothing: the failure is reported, not a short file.
    QBuffer closed;
    closed.open(QIODevice::ReadOnly);
    const QImage frame = job.frame;
    EXPECT_THROW(writeJpeg(closed, frame.width(), frame.height(), 85,
                           [&](int y, int count) {
                               return ostrel::engine::PixelView{frame.constScanLine(y),
                                                                frame.width(), count,
                                                                frame.bytesPerLine(), 4};
                           }),
                 HistoryError);
}
