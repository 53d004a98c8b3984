#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "DetectionLoop.h"

using namespace ostrel::engine;
using Calls = std::vector<std::string>;

namespace {

// Records what a pass asks of the window, in order.
struct RecordingHost : DetectionPassHost {
    bool held = false;
    int framesWaiting = 1;
    bool editing = false;
    std::int32_t count = 0;
    std::vector<std::int32_t> missing;
    std::int32_t failing = 0;  // its measurement throws
    Calls calls;
    DetectionLoop* growDuringPass = nullptr;  // adds an area and announces a frame mid-pass

    bool passesHeld() const override { return held; }
    bool takeFrame() override {
        if (framesWaiting == 0) {
            return false;
        }
        --framesWaiting;
        calls.push_back("frame");
        return true;
    }
    bool editMode() const override { return editing; }
    void showUnderEditBox() override { calls.push_back("edit box"); }
    std::int32_t areaCount() const override { return count; }
    bool measureArea(std::int32_t number) override {
        if (growDuringPass) {
            ++count;
            growDuringPass->frameReady();
        }
        if (std::find(missing.begin(), missing.end(), number) != missing.end()) {
            return false;
        }
        if (number == failing) {
            throw std::bad_alloc();
        }
        calls.push_back("area " + std::to_string(number));
        return true;
    }
    void updateMonitor() override { calls.push_back("monitor"); }
    void passFailed(std::int32_t number, const std::string& what) override {
        calls.push_back("failed " + std::to_string(number) + ": " + what);
    }
};

}  // namespace

TEST(DetectionLoop, OnePassPerNewFrameInNumberOrder) {
    RecordingHost host;
    DetectionLoop loop(host);
    host.count = 3;
    loop.frameReady();
    loop.frameReady();  // the same frame is never measured twice
    EXPECT_EQ(host.calls, (Calls{"frame", "area 1", "area 2", "area 3", "monitor"}));
    EXPECT_EQ(loop.passes(), 1);
    EXPECT_EQ(loop.areasMeasured(), 3);

    host.calls.clear();
    host.missing = {2};
    host.failing = 3;
    host.framesWaiting = 2;
    loop.frameReady();
    loop.frameReady();
    EXPECT_EQ(host.calls, (Calls{"frame", "area 1", "failed 3: std::bad_alloc", "monitor", "frame",
                                 "area 1", "monitor"}))
        << "a number without a control is skipped, a failure reported once for a run of them";
}

TEST(DetectionLoop, EditingMeasuresNothing) {
    RecordingHost host;
    DetectionLoop loop(host);
    host.count = 2;
    host.editing = true;
    loop.frameReady();
    EXPECT_EQ(host.calls, (Calls{"frame", "edit box", "monitor"}));
    EXPECT_EQ(loop.areasMeasured(), 0);
}

TEST(DetectionLoop, HeldPassesLeaveTheFrameWaiting) {
    RecordingHost host;
    DetectionLoop loop(host);
    host.count = 1;
    host.held = true;
    loop.frameReady();
    EXPECT_TRUE(host.calls.empty());
    host.held = false;
    loop.frameReady();
    EXPECT_EQ(loop.passes(), 1);
}

TEST(DetectionLoop, TheCountIsReadOnceAndPassesDoNotNest) {
    RecordingHost host;
    DetectionLoop loop(host);
    host.growDuringPass = &loop;
    host.count = 2;
    host.framesWaiting = 2;
    loop.frameReady();
    EXPECT_EQ(loop.passes(), 1);
    EXPECT_EQ(loop.areasMeasured(), 2);
    EXPECT_EQ(host.framesWaiting, 1) << "no nested pass took the second frame";
}

