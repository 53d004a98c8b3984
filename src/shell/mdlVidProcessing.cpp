#include "mdlVidProcessing.h"

#include <QGuiApplication>
#include <QScreen>

#include "Rounding.h"

namespace ostrel::shell::mdlVidProcessing {

namespace {

// 1440 twips to the inch; the screen's logical resolution, 96 dots per inch without one.
double twipsPerPixel(Qt::Orientation direction) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen == nullptr ? 96.0
                       : direction == Qt::Horizontal ? screen->logicalDotsPerInchX()
                                                     : screen->logicalDotsPerInchY();
    return 1440.0 / (dpi > 0 ? dpi : 96.0);
}

double twipsPerPixelX() { return twipsPerPixel(Qt::Horizontal); }
double twipsPerPixelY() { return twipsPerPixel(Qt::Vertical); }

}  // namespace

std::int32_t PixelsToTwipsX(std::int32_t pixels) {
    return engine::nearest(pixels * twipsPerPixelX());
}

std::int32_t PixelsToTwipsY(std::int32_t pixels) {
    return engine::nearest(pixels * twipsPerPixelY());
}

std::int32_t TwipsToPixelsX(double twips) { return engine::nearest(twips / twipsPerPixelX()); }

std::int32_t TwipsToPixelsY(double twips) { return engine::nearest(twips / twipsPerPixelY()); }

}  // namespace ostrel::shell::mdlVidProcessing
