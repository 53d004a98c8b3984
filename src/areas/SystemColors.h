#pragma once

#include <cstdint>

namespace ostrel::areas {

// Colour values are 0x00BBGGRR. A value whose top byte is 0x80 names a system colour by its low
// byte (the classic system colour indexes); TranslateColor turns it into the current colour of
// the desktop's palette and returns any other value unchanged.
std::int32_t TranslateColor(std::int32_t color);

inline std::uint8_t RedByte(std::int32_t color) { return std::uint8_t(TranslateColor(color)); }
inline std::uint8_t GreenByte(std::int32_t color) {
    return std::uint8_t(TranslateColor(color) >> 8);
}
inline std::uint8_t BlueByte(std::int32_t color) {
    return std::uint8_t(TranslateColor(color) >> 16);
}

}  // namespace ostrel::areas
