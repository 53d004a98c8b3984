#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <QtTest/QTest>

#include "SurfacePaint.h"

using ostrel::areas::paintStraight;

namespace {

// A picture painted straight into its window when it can, as the live pictures are; counts the
// paints that went straight.
class StraightPicture : public QWidget {
public:
    explicit StraightPicture(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    QImage image;
    int straight = 0;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if (paintStraight(painter, image)) {
            ++straight;
        } else {
            painter.drawImage(0, 0, image);
        }
    }
};

QImage pattern(int width, int height, int seed) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y,
                           qRgb((x * 7 + seed) & 0xFF, (y * 13 + seed) & 0xFF, (x ^ y) & 0xFF));
        }
    }
    return image;
}

QImage windowShot(QWidget& window) {
    return window.screen()
        ->grabWindow(window.winId())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

}  // namespace

// The picture lands in the window surface exactly as drawn by the painter would, only within
// the region being painted: not under a widget that covers it, not outside a partial update.
TEST(SurfacePaint, WritesThePictureOnlyWhereTheWidgetIsPainted) {
    QWidget window;
    window.resize(120, 90);
    auto* picture = new StraightPicture(&window);
    picture->setGeometry(5, 3, 101, 70);  // odd place and width: rows start off any alignment
    picture->image = pattern(101, 70, 0);
    auto* cover = new QWidget(&window);
    cover->setGeometry(60, 40, 50, 40);
    cover->setAutoFillBackground(true);
    cover->setPalette(QPalette(Qt::red));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();
    ASSERT_GT(picture->straight, 0) << "the offscreen window surface takes the picture straight";

    auto expectShows = [&](const QImage& shot, const QImage& image, const QRect& part) {
        for (int y = part.top(); y <= part.bottom(); ++y) {
            for (int x = part.left(); x <= part.right(); ++x) {
                const QPoint at = QPoint(x, y) + picture->pos();
                const QRgb want =
                    cover->geometry().contains(at) ? qRgb(255, 0, 0) : image.pixel(x, y);
                ASSERT_EQ(shot.pixel(at), want) << "picture pixel " << x << ", " << y;
            }
        }
    };
    const QImage first = picture->image;
    expectShows(windowShot(window), first, picture->rect());

    const QRect part(17, 9, 31, 40);
    picture->image = pattern(101, 70, 77);
    picture->update(part);
    QApplication::processEvents();
    const QImage shot = windowShot(window);
    expectShows(shot, picture->image, part);
    const QRect outside(part.right() + 1, 0, 101 - part.right() - 1, 70);
    expectShows(shot, first, outside);

    // Rendered elsewhere the picture is still the picture.
    const QImage grabbed = picture->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(grabbed, picture->image);
}
