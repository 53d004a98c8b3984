#pragma once

#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

#include <QHash>
#include <QString>

namespace ostrel::areas {

class DetectionArea;

// The longest key, in UTF-16 code units, wherever a key comes from (the key dialog, a client, a
// configuration file). A file line holds it even when every character is a double quote, which
// is written doubled inside quotes.
inline constexpr qsizetype kMaxKeyLength = 1024;

// A key without the spaces around it; blanks inside it, and other characters such as tabs,
// belong to the key.
QString TrimKey(const QString& key);

// How callers name an area: a number is a 1-based position (the area's number), a text a key.
using AreaIndex = std::variant<std::int64_t, QString>;

// The ordered, keyed collection of area objects: position i holds the area numbered i. Keys are
// unique without regard to letter case.
class AreaCollection {
public:
    int Count() const { return int(items_.size()); }
    // The object at `index`; CollectionError when nothing matches.
    std::shared_ptr<DetectionArea> Item(const AreaIndex& index) const;
    // The same, or null when nothing matches.
    std::shared_ptr<DetectionArea> find(const AreaIndex& index) const;
    bool containsKey(const QString& key) const;
    // Appends under `key`; CollectionError for a key already present (nothing changes then).
    void Add(const QString& key, std::shared_ptr<DetectionArea> area);
    // Removes the entry `index` names; CollectionError when nothing matches.
    void Remove(const AreaIndex& index);
    // Every object, in position order.
    const std::vector<std::shared_ptr<DetectionArea>>& items() const { return items_; }

private:
    int positionOf(const AreaIndex& index) const;  // 0-based, -1 when nothing matches
    static QString folded(const QString& key) { return key.toCaseFolded(); }

    std::vector<std::shared_ptr<DetectionArea>> items_;
    std::vector<QString> keys_;  // folded, parallel to items_
    QHash<QString, const DetectionArea*> byKey_;
};

}  // namespace ostrel::areas
