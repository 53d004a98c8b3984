#include "SurfacePaint.h"

#include <cmath>

#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QRegion>
#include <QTransform>

#include "StreamRows.h"

namespace ostrel::areas {

namespace {

// The image the painter's engine draws on, when painting on it can be a plain copy.
QImage* plainSurface(QPainter& painter) {
    QPaintEngine* engine = painter.paintEngine();
    if (engine == nullptr || engine->type() != QPaintEngine::Raster) {
        return nullptr;
    }
    QPaintDevice* device = engine->paintDevice();
    if (device == nullptr || device->devType() != QInternal::Image) {
        return nullptr;
    }
    auto* surface = static_cast<QImage*>(device);
    // drawImage copies Format_RGB32 pixels unchanged onto these two formats only.
    const bool copied = surface->format() == QImage::Format_RGB32 ||
                        surface->format() == QImage::Format_ARGB32_Premultiplied;
    if (!copied || surface->devicePixelRatio() != 1.0 || painter.hasClipping() ||
        painter.opacity() != 1.0 ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver) {
        return nullptr;
    }
    return surface;
}

}  // namespace

bool paintStraight(QPainter& painter, const QSize& size, const SurfaceWriter& write) {
    QImage* surface = plainSurface(painter);
    const QTransform place = painter.deviceTransform();
    if (surface == nullptr || place.type() > QTransform::TxTranslate ||
        place.dx() != std::floor(place.dx()) || place.dy() != std::floor(place.dy())) {
        return false;
    }
    // The region being painted, in the surface's pixels; Qt sets it for every widget it paints
    // into a window. Without it (a widget rendered elsewhere) the painter knows better.
    const QRegion painted = painter.paintEngine()->systemClip();
    if (painted.isEmpty()) {
        return false;
    }
    const QPoint origin(int(place.dx()), int(place.dy()));
    const QRect placed = QRect(origin, size) & surface->rect();
    // Written where the engine writes: bits() could detach the image from the engine's buffer.
    auto* bits = const_cast<std::uint8_t*>(surface->constBits());
    const qsizetype stride = surface->bytesPerLine();
    for (const QRect& part : painted) {
        const QRect r = part & placed;
        if (!r.isEmpty()) {
            write(r.translated(-origin), bits + r.y() * stride + r.x() * 4, stride);
        }
    }
    return true;
}

bool paintStraight(QPainter& painter, const engine::PixelView& picture) {
    if (picture.data == nullptr || picture.bytesPerPixel != 4) {
        return false;
    }
    return paintStraight(painter, QSize(picture.width, picture.height),
                         [&](const QRect& part, std::uint8_t* target, std::ptrdiff_t stride) {
                             engine::streamRows(
                                 picture.sub(part.x(), part.y(), part.width(), part.height()),
                                 target, stride);
                         });
}

bool paintStraight(QPainter& painter, const QImage& image) {
    if (image.format() != QImage::Format_RGB32) {
        return false;
    }
    return paintStraight(painter, engine::PixelView{image.constBits(), image.width(),
                                                    image.height(), image.bytesPerLine(), 4});
}

}  // namespace ostrel::areas
