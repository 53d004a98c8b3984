#include "ConUnit.h"

#include <algorithm>

#include <QDir>

#include "ConUnitHost.h"
#include "DetectionArea.h"
#include "mdlSub.h"

namespace ostrel::areas {

namespace {

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

ConUnit::ConUnit(mdlSub& registry, ConUnitHost& host, frmTimer& timer, QObject* parent)
    : QObject(parent), registry_(registry), host_(host), timer_(timer) {
    connect(&timer_, &frmTimer::changeReported, this,
            [this](std::int32_t number, DetectionKind kind, bool status) {
                if (released_) {
                    return;
                }
                if (kind == DetectionKind::Motion) {
                    Q_EMIT MotionDetection(number, status);
                } else {
                    Q_EMIT ColorDetection(number, status);
                }
            });
    timer_.hold(this);
    try {
        host_.clientAttached();
    } catch (...) {
        timer_.letGo(this);
        throw;
    }
}

ConUnit::~ConUnit() {
    if (!released_) {
        timer_.letGo(this);
    }
}

void ConUnit::Release() {
    if (released_) {
        return;
    }
    released_ = true;
    // Listeners (the MQTT link, the history) may hold the timer too; only clients count here.
    if (timer_.letGo(this)) {
        host_.lastClientReleased();
    }
}

void ConUnit::About() { host_.showAbout(); }

std::shared_ptr<DetectionArea> ConUnit::Area(const AreaIndex& index) const {
    return registry_.areaCollection().find(index);
}

std::shared_ptr<DetectionArea> ConUnit::Add(const QString& key, const QList<double>& geometry) {
    return failingWith("An error occurred while AddArea!", [&] {
        if (geometry.size() > 4 || TrimKey(key).isEmpty()) {
            throw AutomationFailure("refused");
        }
        constexpr double fraction = kDefaultAreaFraction;
        double fractions[4] = {fraction, fraction, fraction, fraction};
        std::copy(geometry.begin(), geometry.end(), fractions);
        registry_.ensureRoomFor(
            1, registry_.bufferBytesFor(fractions[0], fractions[1], fractions[2], fractions[3]));
        const std::shared_ptr<DetectionArea> area = registry_.AddArea(key);
        if (!area) {
            throw AutomationFailure("an area is being edited");
        }
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
    return failingWith("An error occurred while processing the specified file!", [&] {
        if (QDir::isRelativePath(fileName)) {
            throw AutomationFailure("not an absolute path");
        }
        return host_.saveConfig(fileName);
    });
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
