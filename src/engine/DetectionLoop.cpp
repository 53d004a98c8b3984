#include "DetectionLoop.h"

namespace ostrel::engine {

void DetectionLoop::frameReady() {
    // A handler that runs nested inside a pass (it cannot, but guard anyway) never starts another.
    if (inPass_ || host_.passesHeld() || !host_.takeFrame()) {
        return;
    }
    inPass_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{inPass_};
    if (host_.editMode()) {
        host_.showUnderEditBox();
    } else {
        const std::int32_t count = host_.areaCount();  // read once: changes apply next pass
        for (std::int32_t i = 1; i <= count; ++i) {
            if (host_.measureArea(i)) {
                ++areasMeasured_;
            }
        }
    }
    host_.updateMonitor();
    ++passes_;
}

}  // namespace ostrel::engine
