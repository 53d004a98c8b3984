#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ostrel::engine {

// What one pass of the detection loop works on; the main window provides it.
class DetectionPassHost {
public:
    virtual ~DetectionPassHost() = default;
    // True while a modal dialog holds the loop: no pass runs then.
    virtual bool passesHeld() const = 0;
    // Takes the newest frame into the video picture; false when there is none newer than the
    // last one taken.
    virtual bool takeFrame() = 0;
    virtual bool editMode() const = 0;
    // Shows the live picture under the editing box.
    virtual void showUnderEditBox() = 0;
    virtual std::int32_t areaCount() const = 0;
    // Sets the area numbered `number` up to be measured on the current frame; false when there
    // is none (or the frame does not fit it).
    virtual bool startArea(std::int32_t number) = 0;
    // Measures the pixels of the areas set up, all together, in the frame's order.
    virtual void measureStartedAreas(const std::vector<std::int32_t>& numbers) = 0;
    // Brings the results of a set-up area up to date from what was measured.
    virtual void finishArea(std::int32_t number) = 0;
    // Writes the selected area's values into the Monitor window.
    virtual void updateMonitor() = 0;
    // A pass failed (area `number`, or 0 for the pass itself); called once for a run of passes
    // that fail. Writes the failure to standard error unless the window says it otherwise.
    virtual void passFailed(std::int32_t number, const std::string& what);
};

// The detection loop: one pass per new frame. A pass measures every area (or, while an area is
// being edited, only refreshes the editing box) and then writes the Monitor. The areas are set
// up in number order, their pixels measured together in one walk over the frame, and their
// results finished in number order.
// It never re-measures a frame, and between passes the program waits in its event loop, where
// every other handler runs; a pass itself never yields. No failure leaves a pass: an area that
// cannot be measured is skipped, and the failure is reported.
class DetectionLoop {
public:
    explicit DetectionLoop(DetectionPassHost& host) : host_(host) {}

    // A new frame may be waiting: runs one pass for it unless passes are held.
    void frameReady();

    std::int64_t passes() const { return passes_; }
    std::int64_t areasMeasured() const { return areasMeasured_; }

private:
    void runPass();
    void measureAreas();
    template <typename Step>
    void forArea(std::int32_t number, Step step);
    void failed(std::int32_t number, const std::string& what);

    DetectionPassHost& host_;
    bool inPass_ = false;
    bool failedThisPass_ = false;
    bool failedLastPass_ = false;
    std::int64_t passes_ = 0;
    std::int64_t areasMeasured_ = 0;
    std::vector<std::int32_t> started_;  // the areas set up in this pass
};

}  // namespace ostrel::engine
