#include "DetectionLoop.h"

#include <cstdio>
#include <exception>

namespace ostrel::engine {

void DetectionPassHost::passFailed(std::int32_t number, const std::string& what) {
    if (number > 0) {
        std::fprintf(stderr, "ostrel: area %d cannot be measured: %s\n", int(number), what.c_str());
    } else {
        std::fprintf(stderr, "ostrel: a detection pass failed: %s\n", what.c_str());
    }
}

void DetectionLoop::frameReady() {
    // A handler that runs nested inside a pass (it cannot, but guard anyway) never starts another.
    if (inPass_) {
        return;
    }
    inPass_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{inPass_};
    failedThisPass_ = false;
    try {
        if (host_.passesHeld() || !host_.takeFrame()) {
            return;
        }
        runPass();
    } catch (const std::exception& failure) {
        failed(0, failure.what());
    } catch (...) {
        failed(0, "unknown failure");
    }
    failedLastPass_ = failedThisPass_;
}

void DetectionLoop::runPass() {
    if (host_.editMode()) {
        host_.showUnderEditBox();
    } else {
        measureAreas();
    }
    host_.updateMonitor();
    ++passes_;
}

void DetectionLoop::measureAreas() {
    const std::int32_t count = host_.areaCount();  // read once: changes apply next pass
    started_.clear();
    for (std::int32_t i = 1; i <= count; ++i) {
        forArea(i, [&] {
            if (host_.startArea(i)) {
                started_.push_back(i);
            }
        });
    }
    if (started_.empty()) {
        return;
    }
    host_.measureStartedAreas(started_);
    for (const std::int32_t i : started_) {
        forArea(i, [&] {
            host_.finishArea(i);
            ++areasMeasured_;
        });
    }
}

// One area's step; a failure skips the area and is reported, the pass goes on.
template <typename Step>
void DetectionLoop::forArea(std::int32_t number, Step step) {
    try {
        step();
    } catch (const std::exception& failure) {
        failed(number, failure.what());
    } catch (...) {
        failed(number, "unknown failure");
    }
}

// Only the first failure of a run of failing passes is reported: a broken area would otherwise
// fill the log at the frame rate.
void DetectionLoop::failed(std::int32_t number, const std::string& what) {
    if (!failedThisPass_ && !failedLastPass_) {
        try {
            host_.passFailed(number, what);
        } catch (...) {
        }
    }
    failedThisPass_ = true;
}

}  // namespace ostrel::engine
