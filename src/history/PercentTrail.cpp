#include "PercentTrail.h"

#include <algorithm>

#include "AreaControlArray.h"
#include "ctlDetArea.h"
#include "mdlSub.h"

namespace ostrel::history {

namespace {

template <typename Entries>
void dropBefore(Entries& entries, std::int64_t oldestMs) {
    while (!entries.empty() && entries.front().timeMs < oldestMs) {
        entries.pop_front();
    }
}

}  // namespace

void PercentTrail::sample(const areas::mdlSub& registry, std::int64_t nowMs) {
    const std::int32_t count = std::min(registry.areaCollection().Count(), kMaxAreas);
    std::vector<Trail> next;
    next.reserve(std::size_t(count));
    for (std::int32_t number = 1; number <= count; ++number) {
        const areas::ctlDetArea* area = registry.controls().at(registry.FindAreaPosition(number));
        if (area == nullptr) {
            continue;
        }
        const QString folded = area->Key().toCaseFolded();
        const auto known = std::find_if(trails_.begin(), trails_.end(), [&](const Trail& t) {
            return t.key.toCaseFolded() == folded;
        });
        Trail trail = known != trails_.end() ? std::move(*known) : Trail{};
        trail.number = number;
        trail.key = area->Key();
        trail.motionThreshold = area->MotionThreshold();
        trail.colorThreshold = area->ColorThreshold();
        trail.samples.push_back(
            {nowMs, std::int16_t(area->MotionPer()), std::int16_t(area->ColorPer())});
        dropBefore(trail.samples, nowMs - kSpan.count());
        dropBefore(trail.marks, nowMs - kSpan.count());
        next.push_back(std::move(trail));
    }
    trails_ = std::move(next);
}

void PercentTrail::mark(const EventRow& row) {
    const QString folded = row.key.toCaseFolded();
    for (Trail& trail : trails_) {
        if (trail.key.toCaseFolded() == folded) {
            trail.marks.push_back({row.timeMs, row.kind, row.status, row.percent});
            return;
        }
    }
}

}  // namespace ostrel::history
