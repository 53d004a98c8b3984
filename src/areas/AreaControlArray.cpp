#include "AreaControlArray.h"

#include <limits>
#include <string>

#include "AreaErrors.h"
#include "ctlDetArea.h"

namespace ostrel::areas {

AreaControlArray::AreaControlArray(QWidget* container) : container_(container) {
    ctlDetArea* first = create(0);
    first->hide();
    first->lower();
}

AreaControlArray::~AreaControlArray() {
    // Elements still alive are ours to delete; the container may have taken them already.
    for (auto& [position, element] : elements_) {
        delete element.data();
    }
}

ctlDetArea* AreaControlArray::at(std::int64_t position) const {
    if (position < std::numeric_limits<std::int16_t>::min() ||
        position > std::numeric_limits<std::int16_t>::max()) {
        return nullptr;
    }
    const auto found = elements_.find(int(position));
    return found == elements_.end() ? nullptr : found->second.data();
}

ctlDetArea& AreaControlArray::element(std::int64_t position) const {
    ctlDetArea* found = at(position);
    if (found == nullptr) {
        throw NoSuchElementError("there is no area control at position " +
                                 std::to_string(position));
    }
    return *found;
}

int AreaControlArray::freePosition() const {
    if (highestPosition() < kHighestPosition) {
        return highestPosition() + 1;
    }
    int expected = 0;  // positions are ascending: the first gap is the lowest free one
    for (const auto& [position, element] : elements_) {
        if (position != expected) {
            return expected;
        }
        ++expected;
    }
    return -1;
}

void AreaControlArray::ensureRoom() const {
    if (freePosition() < 0) {
        throw NoSuchElementError("no room for another area control");
    }
}

int AreaControlArray::load() {
    const int position = freePosition();
    if (position < 0) {
        throw NoSuchElementError("no room for another area control");
    }
    create(position);
    return position;
}

void AreaControlArray::unload(int position) {
    if (position == 0) {
        return;
    }
    const auto found = elements_.find(position);
    if (found != elements_.end()) {
        if (found->second) {
            forgetIndex(found->second->MyIndex(), position);
            bufferBytes_ -= found->second->measure().bufferBytes();
        }
        delete found->second.data();
        elements_.erase(found);
    }
}

int AreaControlArray::positionOfIndex(std::int32_t number) const {
    const auto found = positionsByIndex_.find(number);
    return found == positionsByIndex_.end() ? -1 : *found->second.begin();
}

void AreaControlArray::forgetIndex(std::int32_t number, int position) {
    const auto found = positionsByIndex_.find(number);
    if (found != positionsByIndex_.end()) {
        found->second.erase(position);
        if (found->second.empty()) {
            positionsByIndex_.erase(found);
        }
    }
}

ctlDetArea* AreaControlArray::create(int position) {
    auto* element = new ctlDetArea(container_);
    elements_[position] = element;
    positionsByIndex_[element->MyIndex()].insert(position);
    bufferBytes_ += element->measure().bufferBytes();
    connect(element, &ctlDetArea::bufferBytesChanged, this,
            [this](std::int64_t bytes) { bufferBytes_ += bytes; });
    connect(element, &ctlDetArea::myIndexChanged, this,
            [this, position](std::int32_t oldIndex, std::int32_t newIndex) {
                forgetIndex(oldIndex, position);
                positionsByIndex_[newIndex].insert(position);
            });
    connect(element, &ctlDetArea::Click, this, [this, position] { Q_EMIT Click(position); });
    connect(element, &ctlDetArea::DblClick, this, [this, position] { Q_EMIT DblClick(position); });
    connect(element, &ctlDetArea::MouseDown, this,
            [this, position](short button, short shift, float x, float y) {
                Q_EMIT MouseDown(position, button, shift, x, y);
            });
    return element;
}

}  // namespace ostrel::areas
