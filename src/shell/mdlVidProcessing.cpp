#include "mdlVidProcessing.h"

#include <QGuiApplication>
#include <QScreen>

#include "Rounding.h"

namespace ostrel::shell::mdlVidProcessing {

namespace {

double twipsPerPixelX() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInchX() : 96.0;
    return 1440.0 / (dpi > 0 ? dpi : 96.0);
}

double twipsPerPixelY() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    return 1440.0 / (dpi > 0 ? dpi : 96.0);
}

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
