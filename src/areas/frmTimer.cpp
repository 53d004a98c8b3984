#include "frmTimer.h"

#include <algorithm>

#include "AreaControlArray.h"
#include "ctlDetArea.h"
#include "mdlSub.h"

namespace ostrel::areas {

frmTimer::frmTimer(mdlSub& registry, QObject* parent, std::chrono::milliseconds firstInterval,
                   std::chrono::milliseconds interval)
    : QObject(parent), registry_(registry), firstInterval_(firstInterval), interval_(interval) {
    setObjectName(QStringLiteral("frmTimer"));
    tmTimer_.setObjectName(QStringLiteral("tmTimer"));
    // A coarse timer may fire 5 % early; the first second after creation stays quiet.
    tmTimer_.setTimerType(Qt::PreciseTimer);
    connect(&tmTimer_, &QTimer::timeout, this, &frmTimer::tmTimer_Timer);
}

frmTimer::~frmTimer() = default;

void frmTimer::hold(const QObject* holder, Holder kind) {
    holders_[holder] = kind;
    if (tmTimer_.isActive()) {
        return;
    }
    // Changes that piled up while nobody listened are summed up by their last one or two.
    for (const auto& [position, control] : registry_.controls().elements()) {
        if (control) {
            control->keepLastChanges();
        }
    }
    tmTimer_.start(firstInterval_);
}

bool frmTimer::letGo(const QObject* holder) {
    const auto held = holders_.find(holder);
    if (held == holders_.end()) {
        return false;
    }
    const bool client = held->second == Holder::Client;
    holders_.erase(held);
    if (holders_.empty()) {
        tmTimer_.stop();
    }
    return client && std::none_of(holders_.begin(), holders_.end(),
                                  [](const auto& h) { return h.second == Holder::Client; });
}

// One walk over the areas in number order. A handler may remove or clear areas (an in-process
// client runs in the middle of the walk): the count and every control are looked at again
// before each step, and what is gone is skipped.
void frmTimer::tmTimer_Timer() {
    if (tmTimer_.intervalAsDuration() != interval_) {
        tmTimer_.setInterval(interval_);
    }
    if (ticking_) {
        return;  // a handler ran an event loop inside the walk; that walk goes on
    }
    ticking_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{ticking_};

    const std::int32_t n = registry_.areaCollection().Count();
    for (std::int32_t i = 1; i <= n && i <= registry_.areaCollection().Count(); ++i) {
        const QPointer<ctlDetArea> control = registry_.controls().at(registry_.FindAreaPosition(i));
        if (control && report(i, control, DetectionKind::Motion)) {
            report(i, control, DetectionKind::Color);
        }
    }
}

// The count is taken before the first signal, so changes measured while a handler runs wait
// for the next tick. Every change flipped the status, so the one `left` changes before the
// last had the opposite status when `left` is odd.
bool frmTimer::report(std::int32_t number, const QPointer<ctlDetArea>& control,
                      DetectionKind kind) {
    const bool motion = kind == DetectionKind::Motion;
    std::uint32_t left = motion ? control->takeMotionChanges() : control->takeColorChanges();
    const bool status = motion ? control->MotionStatus() : control->ColorStatus();
    while (left > 0) {
        --left;
        Q_EMIT changeReported(number, kind, status != (left % 2 == 1));
        if (!control || control->MyIndex() != number ||
            number > registry_.areaCollection().Count()) {
            return false;
        }
    }
    return true;
}

}  // namespace ostrel::areas
