#include "ConUnit.h"

#include <algorithm>

#include "AreaControlArray.h"
#include "ConUnitHost.h"
#include "DetectionArea.h"
#include "ctlDetArea.h"
#include "mdlSub.h"

namespace ostrel::areas {

namespace {

constexpr double kDefaultFraction = 0.33;

// Runs `call`; any failure inside becomes AutomationFailure with `description`.
template <typename Call>
auto failingWith(const char* description, Call call) -> decltype(call()) {
    try {
        return call();
    } catch (...) {
        throw AutomationFailure(description);
    }
}

}  // namespace

// --- frmTimer ---

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

void frmTimer::attach(ConUnit* unit) {
    units_.push_back(unit);
    tmTimer_.start(firstInterval_);
}

bool frmTimer::detach(ConUnit* unit) {
    const auto found = std::find(units_.begin(), units_.end(), unit);
    if (found == units_.end()) {
        return false;
    }
    units_.erase(found);
    if (units_.empty()) {
        tmTimer_.stop();
        return true;
    }
    return false;
}

// One walk over the areas in number order, motion before colour. A handler may remove or clear
// areas (an in-process client runs in the middle of the walk): the count and every control are
// looked at again before each step, and what is gone is skipped.
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
        if (!control) {
            continue;
        }
        if (control->MotionChanged() && !report(i, control, true)) {
            continue;
        }
        if (control && control->ColorChanged()) {
            report(i, control, false);
        }
    }
}

bool frmTimer::report(std::int32_t number, const QPointer<ctlDetArea>& control, bool motion) {
    const bool status = motion ? control->MotionStatus() : control->ColorStatus();
    // Units may come and go in a handler: raise on those that were there and still are.
    const std::vector<QPointer<ConUnit>> receivers(units_.begin(), units_.end());
    for (const QPointer<ConUnit>& unit : receivers) {
        if (!unit || unit->isReleased()) {
            continue;
        }
        if (motion) {
            Q_EMIT unit->MotionDetection(number, status);
        } else {
            Q_EMIT unit->ColorDetection(number, status);
        }
    }
    if (!control) {
        return false;
    }
    if (motion) {
        control->setMotionChanged(false);
    } else {
        control->setColorChanged(false);
    }
    return control->MyIndex() == number && number <= registry_.areaCollection().Count();
}

// --- ConUnit ---

ConUnit::ConUnit(mdlSub& registry, ConUnitHost& host, frmTimer& timer, QObject* parent)
    : QObject(parent), registry_(registry), host_(host), timer_(timer) {
    timer_.attach(this);
    try {
        host_.clientAttached();
    } catch (...) {
        timer_.detach(this);
        throw;
    }
}

ConUnit::~ConUnit() {
    if (!released_) {
        timer_.detach(this);
    }
}

void ConUnit::Release() {
    if (released_) {
        return;
    }
    released_ = true;
    if (timer_.detach(this)) {
        host_.lastClientReleased();
    }
}

void ConUnit::About() { host_.showAbout(); }

std::shared_ptr<DetectionArea> ConUnit::Area(const AreaIndex& index) const {
    return registry_.areaCollection().find(index);
}

std::shared_ptr<DetectionArea> ConUnit::Add(const QString& key, const QList<double>& geometry) {
    return failingWith("An error occurred while AddArea!", [&] {
        const QString trimmed = TrimKey(key);
        if (geometry.size() > 4 || trimmed.isEmpty() || trimmed.size() > kMaxAutomationKeyLength) {
            throw AutomationFailure("refused");
        }
        const std::shared_ptr<DetectionArea> area = registry_.AddArea(key);
        if (!area) {
            throw AutomationFailure("an area is being edited");
        }
        double fractions[4] = {kDefaultFraction, kDefaultFraction, kDefaultFraction,
                               kDefaultFraction};
        std::copy(geometry.begin(), geometry.end(), fractions);
        area->Size(fractions[0], fractions[1], fractions[2], fractions[3]);
        return area;
    });
}

bool ConUnit::Remove(const AreaIndex& index) {
    return failingWith("An error occurred while Remove!", [&] { return registry_.RemoveArea(index); });
}

std::int32_t ConUnit::Count() const { return registry_.areaCollection().Count(); }

bool ConUnit::OpenFile(const QString& fileName) {
    return failingWith("An error occurred while processing the specified file!", [&] {
        const bool loaded = host_.loadConfig(fileName);
        if (!loaded) {
            registry_.ClearAreas();
        }
        return loaded;
    });
}

bool ConUnit::SaveFile(const QString& fileName) {
    return failingWith("An error occurred while processing the specified file!",
                       [&] { return host_.saveConfig(fileName); });
}

bool ConUnit::SelectArea(const AreaIndex& index) {
    if (registry_.EditMode()) {
        return false;
    }
    return failingWith("An error occurred while SelectArea!", [&] {
        const std::shared_ptr<DetectionArea> area = registry_.areaCollection().Item(index);
        registry_.SelectArea(registry_.FindAreaPosition(area->Index()));
        return true;
    });
}

bool ConUnit::Clear() {
    return failingWith("An error occurred while Clear!", [&] { return registry_.ClearAreas(); });
}

bool ConUnit::MonitorVisible() const { return host_.monitorVisible(); }
void ConUnit::setMonitorVisible(bool visible) { host_.setMonitorVisible(visible); }
bool ConUnit::VideoVisible() const { return host_.videoVisible(); }
void ConUnit::setVideoVisible(bool visible) { host_.setVideoVisible(visible); }

bool ConUnit::ShowConUnit(bool mode) {
    if (registry_.EditMode()) {
        return false;
    }
    host_.setMainWindowVisible(mode);
    return true;
}

}  // namespace ostrel::areas
