#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "DetectionLoop.h"

using namespace ostrel::engine;

namespace {

// Notes what a pass asks of the window, in order. Areas 1 to 3, of which 2 has no control.
struct RecordingHost : DetectionPassHost {
    bool held = false;
    bool editing = false;
    int framesWaiting = 0;
    std::int32_t failing = 0;        // the area whose set-up throws
    std::int32_t failingFinish = 0;  // the area whose finish throws
    std::string calls;

    bool passesHeld() const override { return held; }
    bool takeFrame() override {
        if (framesWaiting == 0) {
            return false;
        }
        --framesWaiting;
        calls += "frame ";
        return true;
    }
    bool editMode() const override { return editing; }
    void showUnderEditBox() override { calls += "box "; }
    std::int32_t areaCount() const override { return 3; }
    bool startArea(std::int32_t number) override {
        if (number == failing) {
            throw std::bad_alloc();
        }
        return number != 2;
    }
    void measureStartedAreas(const std::vector<std::int32_t>& numbers) override {
        calls += "pixels of";
        for (const std::int32_t n : numbers)
            calls += " " + std::to_string(n);
        calls += ", ";
    }
    void finishArea(std::int32_t number) override {
        if (number == failingFinish) {
            throw std::runtime_error("lost");
        }
        calls += std::to_string(number) + " ";
    }
    void updateMonitor() override { calls += "monitor "; }
    void passFailed(std::int32_t number, const std::string& what) override {
        calls += "failed " + std::to_string(number) + ": " + what + " ";
    }
};

}  // namespace

TEST(DetectionLoop, OnePassPerNewFrameUnlessHeld) {
    RecordingHost host;
    DetectionLoop loop(host);
    host.framesWaiting = 1;
    loop.frameReady();
    host.framesWaiting = 0;
    loop.frameReady();  // no new frame: the same frame is never measured twice
    EXPECT_EQ(host.calls, "frame pixels of 1 3, 1 3 monitor ");
    EXPECT_EQ(loop.passes(), 1);
    EXPECT_EQ(loop.areasMeasured(), 2);

    host.calls.clear();
    host.editing = true;
    host.framesWaiting = 1;
    loop.frameReady();
    EXPECT_EQ(host.calls, "frame box monitor ") << "editing measures nothing";

    host.calls.clear();
    host.held = true;
    host.framesWaiting = 1;
    loop.frameReady();
    EXPECT_EQ(host.calls, "") << "a modal dialog holds the loop";
    EXPECT_EQ(host.framesWaiting, 1) << "and the frame waits";
}

TEST(DetectionLoop, AFailingAreaIsReportedOnceAndThePassGoesOn) {
    RecordingHost host;
    DetectionLoop loop(host);
    host.failing = 1;
    host.framesWaiting = 2;
    loop.frameReady();
    loop.frameReady();
    EXPECT_EQ(host.calls,
              "frame failed 1: std::bad_alloc pixels of 3, 3 monitor frame pixels of 3, 3 monitor ")
        << "a failure is reported once for a run of failing passes";

    RecordingHost finishing;
    DetectionLoop second(finishing);
    finishing.failingFinish = 1;
    finishing.framesWaiting = 1;
    second.frameReady();
    EXPECT_EQ(finishing.calls, "frame pixels of 1 3, failed 1: lost 3 monitor ");
    EXPECT_EQ(second.areasMeasured(), 1);
}
