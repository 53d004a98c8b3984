#include <gtest/gtest.h>

#include <new>
#include <string>

#include "DetectionLoop.h"

using namespace ostrel::engine;

namespace {

// Notes what a pass asks of the window, in order. Areas 1 to 3, of which 2 has no control.
struct RecordingHost : DetectionPassHost {
    bool held = false;
    bool editing = false;
    int framesWaiting = 0;
    std::int32_t failing = 0;  // the area whose measurement throws
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
    bool measureArea(std::int32_t number) override {
        if (number == failing) {
            throw std::bad_alloc();
        }
        calls += number == 2 ? "" : std::to_string(number) + " ";
        return number != 2;
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
    EXPECT_EQ(host.calls, "frame 1 3 monitor ");
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
    EXPECT_EQ(host.calls, "frame failed 1: std::bad_alloc 3 monitor frame 3 monitor ")
        << "a failure is reported once for a run of failing passes";
}
