#pragma once

#include <stdexcept>

namespace ostrel::engine {

// A measurement request that cannot be met (a buffer too large for 32-bit sizes, a source that
// does not fit the area's buffers).
class EngineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace ostrel::engine
