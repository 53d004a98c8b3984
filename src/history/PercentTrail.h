#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

#include <QString>

#include "EventRow.h"

namespace ostrel::areas {
class mdlSub;
}

namespace ostrel::history {

// The recent course of the areas' percentages for the live charts: samples taken twice a second
// over the last ten minutes, the thresholds at the last sample, and the changes reported in that
// time. Follows the first kMaxAreas areas by number; an area is known by its key, so a renumbered
// area keeps its course.
class PercentTrail {
public:
    static constexpr int kSamplesPerSecond = 2;
    static constexpr std::chrono::milliseconds kSpan = std::chrono::minutes(10);
    static constexpr int kMaxAreas = 32;

    struct Sample {
        std::int64_t timeMs;
        std::int16_t motion;
        std::int16_t color;
    };
    struct Mark {
        std::int64_t timeMs;
        areas::DetectionKind kind;
        bool status;
        std::int32_t percent;
    };
    struct Trail {
        std::int32_t number = 0;
        QString key;
        std::int32_t motionThreshold = 0;
        std::int32_t colorThreshold = 0;
        std::deque<Sample> samples;  // oldest first
        std::deque<Mark> marks;      // oldest first
    };

    // One sample of every followed area at `nowMs`; areas that are gone are forgotten.
    void sample(const areas::mdlSub& registry, std::int64_t nowMs);
    // A reported change of a followed area.
    void mark(const EventRow& row);
    // The followed areas in number order.
    const std::vector<Trail>& trails() const { return trails_; }

private:
    std::vector<Trail> trails_;
};

}  // namespace ostrel::history
