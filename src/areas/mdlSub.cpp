#include "mdlSub.h"

#include <unistd.h>

#include <algorithm>
#include <limits>
#include <string>

#include <QAction>
#include <QMenu>

#include "AreaControlArray.h"
#include "AreaErrors.h"
#include "DetectionArea.h"
#include "ctlDetArea.h"

namespace ostrel::areas {

namespace {

QString indexCaption(std::int32_t number, const QString& key) {
    return QStringLiteral("Area %1 - %2").arg(number).arg(key);
}

std::int64_t quarterOfPhysicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return std::int64_t(pages) * pageSize / 4;
}

}  // namespace

mdlSub::mdlSub(AreaControlArray& controls, QWidget* videoPicture, const AreaMenus& menus)
    : controls_(controls),
      videoPicture_(videoPicture),
      menus_(menus),
      bufferBudget_(quarterOfPhysicalMemory()) {
    QAction* first = menus_.mnuSelectIndex->at(0);
    connect(first, &QAction::triggered, this, [this] { Q_EMIT selectIndexTriggered(0); });
}

mdlSub::~mdlSub() { unbindAll(); }

void mdlSub::unbindAll() {
    for (const auto& area : collection_.items()) {
        area->unbind();
    }
}

void mdlSub::setFrameSize(std::int32_t width, std::int32_t height) {
    frameWidth_ = width;
    frameHeight_ = height;
}

std::int64_t mdlSub::bufferBytesFor(double left, double top, double width, double height) const {
    return engine::AreaMeasure::bufferBytesFor(
        ctlDetArea::limitedGeometry(left, top, width, height, frameWidth_, frameHeight_),
        displayColRes_);
}

std::int64_t mdlSub::newAreaBytes() const {
    constexpr double fraction = kDefaultAreaFraction;
    return bufferBytesFor(fraction, fraction, fraction, fraction);
}

void mdlSub::ensureRoomFor(std::int64_t areas, std::int64_t bytes, bool replacing) const {
    const std::int64_t present = replacing ? 0 : collection_.Count();
    if (present + areas > kMaxAreas) {
        throw AreaLimitError("Ostrel holds at most " + std::to_string(kMaxAreas) + " areas");
    }
    const std::int64_t inUse = replacing ? 0 : controls_.bufferBytes();
    if (inUse + bytes > bufferBudget_) {
        throw AreaLimitError("the areas' pictures would take more than " +
                             std::to_string(bufferBudget_ >> 20) + " MB");
    }
}

std::int32_t mdlSub::FindAreaPosition(std::int32_t number) const {
    return number >= 0 ? controls_.positionOfIndex(number) : -1;
}

std::int32_t mdlSub::SelectedAreaIndex(std::int64_t position) const {
    const ctlDetArea* element = controls_.at(position);
    return element ? element->MyIndex() : -1;
}

ctlDetArea& mdlSub::controlOf(std::int32_t number) const {
    ctlDetArea* element = controls_.at(FindAreaPosition(number));
    if (element == nullptr) {
        throw NoAreaError();
    }
    return *element;
}

void mdlSub::placeControl(ctlDetArea& control) const {
    control.move(videoPicture_->x() + control.PixLeft(), videoPicture_->y() + control.PixTop());
}

void mdlSub::sendVideoToBack() const { videoPicture_->lower(); }

std::shared_ptr<DetectionArea> mdlSub::AddArea(const QString& key) {
    if (editMode_) {
        return nullptr;
    }
    const QString trimmed = TrimKey(key);
    if (trimmed.size() > kMaxKeyLength) {
        throw CollectionError("a key is at most " + std::to_string(kMaxKeyLength) +
                              " characters long");
    }
    // Refused before anything changes.
    ensureRoomFor(1, newAreaBytes());
    if (collection_.Count() >= 1) {
        controls_.ensureRoom();
    }
    auto area = std::make_shared<DetectionArea>(*this);
    collection_.Add(trimmed, area);
    const int n = collection_.Count();
    const int position = n == 1 ? 0 : controls_.load();
    ctlDetArea& element = controls_.element(position);
    area->bind(n);
    element.setMyIndex(n);
    area->setVisible(true);
    area->ZOrder(0);
    constexpr double fraction = kDefaultAreaFraction;
    area->Size(fraction, fraction, fraction, fraction);
    element.setColRes(displayColRes_);
    element.setFontBold(false);
    element.setKey(trimmed);
    placeControl(element);
    RebuildIndexMenu();
    SelectArea(position);
    Q_EMIT areasChanged();
    return area;
}

bool mdlSub::RemoveArea(const AreaIndex& index) {
    if (editMode_) {
        return false;
    }
    const std::shared_ptr<DetectionArea> removed = collection_.Item(index);
    const std::int32_t number = removed->Index();
    const std::int32_t position = FindAreaPosition(number);
    collection_.Remove(index);
    removed->unbind();
    // Numbers only move down by one, so going upwards every lookup finds the right element.
    for (int i = 1; i <= collection_.Count(); ++i) {
        DetectionArea& area = *collection_.items()[std::size_t(i - 1)];
        const std::int32_t old = area.index_;
        area.bind(i);
        if (ctlDetArea* element = controls_.at(FindAreaPosition(old))) {
            element->setMyIndex(i);
        }
    }
    if (position == 0) {
        resetElementZero();
    } else {
        controls_.unload(position);
    }
    RebuildIndexMenu();
    if (collection_.Count() > 0) {
        SelectArea(FindAreaPosition(1));
    }
    Q_EMIT areasChanged();
    return true;
}

bool mdlSub::ClearAreas() {
    if (editMode_) {
        return false;
    }
    unbindAll();
    collection_ = AreaCollection();
    // Lowest first: each control is then its container's first child, found and taken off at
    // once, so clearing many areas stays linear.
    for (int position = 1, highest = controls_.highestPosition(); position <= highest; ++position) {
        controls_.unload(position);
    }
    resetElementZero();
    setAreaMenusEnabled(false);
    Q_EMIT areasChanged();
    return true;
}

// Element 0 waits for the next first area. It also forgets its measurement, so that area does
// not start with the old area's statuses and report the old area's pending changes as its own.
void mdlSub::resetElementZero() {
    ctlDetArea& zero = controls_.element(0);
    zero.Clear();
    zero.resetMeasurement();
    zero.hide();
    zero.lower();
}

void mdlSub::setAreaMenusEnabled(bool enabled) {
    menus_.mnuClear->setEnabled(enabled);
    menus_.mnuProperties->setEnabled(enabled);
    menus_.mnuSelect->setEnabled(enabled);
}

QAction* mdlSub::addIndexEntry() {
    const int entry = int(menus_.mnuSelectIndex->size());
    QAction* action = menus_.mnuSelect->addAction(QString());
    action->setCheckable(true);
    connect(action, &QAction::triggered, this, [this, entry] { Q_EMIT selectIndexTriggered(entry); });
    menus_.mnuSelectIndex->append(action);
    return action;
}

// One Select entry per area, entry 0 always there. Entries are reused rather than rebuilt, and
// an entry that still describes the same area at the same place keeps its caption.
void mdlSub::RebuildIndexMenu() {
    QList<QAction*>& entries = *menus_.mnuSelectIndex;
    const auto& items = collection_.items();
    const qsizetype wanted = std::max<qsizetype>(1, qsizetype(items.size()));
    while (entries.size() > wanted) {
        delete entries.takeLast();
    }
    while (entries.size() < wanted) {
        addIndexEntry();
    }
    indexEntryAreas_.resize(std::size_t(entries.size()));
    if (checkedIndexEntry_ >= entries.size()) {
        checkedIndexEntry_ = -1;
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (indexEntryAreas_[i] != items[i]) {
            entries[qsizetype(i)]->setText(indexCaption(items[i]->Index(), items[i]->Key()));
            indexEntryAreas_[i] = items[i];
        }
    }
    setAreaMenusEnabled(collection_.Count() >= 1);
}

void mdlSub::SelectArea(std::int64_t position) {
    if (ctlDetArea* old = controls_.at(selectedPosition_)) {
        old->setFontBold(false);
    }
    if (position < INT16_MIN || position > INT16_MAX) {
        throw NoSuchElementError("area control position out of range");
    }
    selectedPosition_ = std::int32_t(position);
    ctlDetArea& selected = controls_.element(position);
    selected.setFontBold(true);
    // Exactly the entry of the selected area is checked.
    const std::int32_t number = SelectedAreaIndex(selectedPosition_);
    const QList<QAction*>& entries = *menus_.mnuSelectIndex;
    const qsizetype wanted =
        (number >= 1 && number <= collection_.Count() && number <= entries.size()) ? number - 1
                                                                                   : -1;
    if (checkedIndexEntry_ >= 0 && checkedIndexEntry_ < entries.size() &&
        checkedIndexEntry_ != wanted) {
        entries[checkedIndexEntry_]->setChecked(false);
    }
    if (wanted >= 0) {
        entries[wanted]->setChecked(true);
    }
    checkedIndexEntry_ = wanted;
    menus_.mnuIndex->setTitle(QStringLiteral("Area %1").arg(selected.MyIndex()));
    menus_.mnuMotionActive->setChecked(selected.MotionActive());
    menus_.mnuMotionEvent->setChecked(selected.MotionEvent());
    menus_.mnuColorActive->setChecked(selected.ColorActive());
    menus_.mnuColorEvent->setChecked(selected.ColorEvent());
    menus_.mnuShowFrame->setChecked(selected.ShowFrame());
    menus_.mnuShowPicture->setChecked(selected.ShowPicture());
    for (int j = 0; j < menus_.mnuShowLabel.size(); ++j) {
        menus_.mnuShowLabel[j]->setChecked(j == selected.ShowLabel());
    }
    menus_.mnuVisible->setChecked(selected.Visible());
}

}  // namespace ostrel::areas
