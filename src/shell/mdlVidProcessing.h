#pragma once

#include <cstdint>

namespace ostrel::shell::mdlVidProcessing {

// Window positions and sizes are kept in twips (1440 per inch); the screen's logical DPI converts.
std::int32_t PixelsToTwipsX(std::int32_t pixels);
std::int32_t PixelsToTwipsY(std::int32_t pixels);
std::int32_t TwipsToPixelsX(double twips);
std::int32_t TwipsToPixelsY(double twips);

}  // namespace ostrel::shell::mdlVidProcessing
