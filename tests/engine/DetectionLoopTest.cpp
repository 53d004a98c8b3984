#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DetectionLoop.h"

using namespace ostrel::engine;

namespace {

// Records what a pass asks of the window, in order.
struct RecordingHost : DetectionPassHost {
    bool held = false;
    int framesWaiting = 0;
    bool editing = false;
    std::int32_t count = 0;
    std::vector<std::int32_t> missing;
    std::vector<std::string> calls;
    DetectionLoop* loop = nullptr;
    bool addAreaWhileMeasuring = false;

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
        if (addAreaWhileMeasuring) {
            ++count;  // a change mid-pass only takes effect in the next pass
            loop->frameReady();  // and no pass starts inside another
        }
        for (std::int32_t gone : missing) {
            if (gone == number) {
                return false;
            }
        }
        calls.push_back("area " + std::to_string(number));
        return true;
    }
    void updateMonitor() override { calls.push_back("monitor"); }
};

}  // namespace

TEST(DetectionLoop, OnePassPerNewFrameInNumberOrder) {
    RecordingHost host;
    DetectionLoop loop(host);
    host.count = 3;
    host.framesWaiting = 1;
    loop.frameReady();
    loop.frameReady();  // the same frame is never measured twice
    EXPECT_EQ(host.calls, (std::vector<std::string>{"frame", "area 1", "area 2", "area 3",
                                                    "monitor"}));
    EXPECT_EQ(loop.passes(), 1);
    EXPECT_EQ(loop.areasMeasured(), 3);

    host.calls.clear();
    host.missing = {2};
    host.framesWaiting = 1;
    loop.frameReady();
    EXPECT_EQ(host.calls, (std::vector<std::string>{"frame", "area 1", "area 3", "monitor"}))
        << "a number without a control is skipped";
}

TEST(DetectionLoop, EditingMeasuresNothing) {
    RecordingHost host;
    DetectionLoop loop(host);
    host.count = 2;
    host.editing = true;
    host.framesWaiting = 1;
    loop.frameReady();
    EXPECT_EQ(host.calls, (std::vector<std::string>{"frame", "edit box", "monitor"}));
    EXPECT_EQ(loop.areasMeasured(), 0);
}

TEST(DetectionLoop, HeldPassesLeaveTheFrameWaiting) {
    RecordingHost host;
    DetectionLoop loop(host);
    host.count = 1;
    host.held = true;
    host.framesWaiting = 1;
    loop.frameReady();
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(host.framesWaiting, 1);
    host.held = false;
    loop.frameReady();
    EXPECT_EQ(loop.passes(), 1);
}

TEST(DetectionLoop, TheCountIsReadOnceAndPassesDoNotNest) {
    RecordingHost host;
    DetectionLoop loop(host);
    host.loop = &loop;
    host.count = 2;
    host.framesWaiting = 2;
    host.addAreaWhileMeasuring = true;
    loop.frameReady();
    EXPECT_EQ(loop.passes(), 1);
    EXPECT_EQ(loop.areasMeasured(), 2);
    EXPECT_EQ(host.framesWaiting, 1) << "no nested pass took the second frame";
}
