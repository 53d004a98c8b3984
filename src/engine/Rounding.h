#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace ostrel::engine {

// Converts to the nearest whole number, halves to the even neighbour (12.5 -> 12, 13.5 -> 14).
// Values outside the 32-bit range are pinned to its ends and NaN gives 0, so no caller can
// reach undefined conversions.
inline std::int32_t nearest(double x) {
    if (std::isnan(x)) {
        return 0;
    }
    const double r = std::nearbyint(x);
    if (r >= double(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (r <= double(std::numeric_limits<std::int32_t>::min())) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(r);
}

}  // namespace ostrel::engine
