#include "AreaCollection.h"

#include <algorithm>

#include "AreaErrors.h"

namespace ostrel::areas {

QString TrimKey(const QString& key) {
    qsizetype begin = 0;
    qsizetype end = key.size();
    while (begin < end && key[begin] == u' ') {
        ++begin;
    }
    while (end > begin && key[end - 1] == u' ') {
        --end;
    }
    return key.mid(begin, end - begin);
}

int AreaCollection::positionOf(const AreaIndex& index) const {
    if (const auto* number = std::get_if<std::int64_t>(&index)) {
        return (*number >= 1 && *number <= Count()) ? int(*number - 1) : -1;
    }
    const auto found = byKey_.constFind(folded(std::get<QString>(index)));
    if (found == byKey_.constEnd()) {
        return -1;
    }
    const auto it = std::find_if(items_.begin(), items_.end(),
                                 [&](const auto& item) { return item.get() == found.value(); });
    return int(it - items_.begin());
}

std::shared_ptr<DetectionArea> AreaCollection::find(const AreaIndex& index) const {
    const int position = positionOf(index);
    return position < 0 ? nullptr : items_[std::size_t(position)];
}

std::shared_ptr<DetectionArea> AreaCollection::Item(const AreaIndex& index) const {
    auto item = find(index);
    if (!item) {
        throw CollectionError("no area matches the given index or key");
    }
    return item;
}

bool AreaCollection::containsKey(const QString& key) const {
    return byKey_.contains(folded(key));
}

void AreaCollection::Add(const QString& key, std::shared_ptr<DetectionArea> area) {
    if (containsKey(key)) {
        throw CollectionError("an area with this key exists already");
    }
    byKey_.insert(folded(key), area.get());
    keys_.push_back(folded(key));
    items_.push_back(std::move(area));
}

void AreaCollection::Remove(const AreaIndex& index) {
    const int position = positionOf(index);
    if (position < 0) {
        throw CollectionError("no area matches the given index or key");
    }
    byKey_.remove(keys_[std::size_t(position)]);
    keys_.erase(keys_.begin() + position);
    items_.erase(items_.begin() + position);
}

}  // namespace ostrel::areas
