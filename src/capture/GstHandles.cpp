#include "GstHandles.h"

#include <mutex>

namespace ostrel::capture::gst {

void ensureInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

}  // namespace ostrel::capture::gst
