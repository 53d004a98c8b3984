#pragma once

#include <cstdint>
#include <map>
#include <set>

#include <QObject>
#include <QPointer>

class QWidget;

namespace ostrel::areas {

class ctlDetArea;

// The main window's array of area controls, by 16-bit position. Element 0 always exists; the
// others are loaded at the highest position + 1, or at the lowest free position once the
// highest is taken, and unloaded one by one. The elements' mouse events come out with the
// element's position in front.
class AreaControlArray : public QObject {
    Q_OBJECT

public:
    static constexpr int kHighestPosition = 32767;

    // Elements become children of `container`; element 0 starts hidden and at the back.
    explicit AreaControlArray(QWidget* container);
    ~AreaControlArray() override;

    // The element at `position`, or null when there is none.
    ctlDetArea* at(std::int64_t position) const;
    // The element at `position`; NoSuchElementError when there is none.
    ctlDetArea& element(std::int64_t position) const;
    // The lowest position whose element has MyIndex `number`, -1 when none has.
    int positionOfIndex(std::int32_t number) const;
    int highestPosition() const { return elements_.rbegin()->first; }
    // Loads a new element at the highest position + 1, or at the lowest free position when
    // 32767 is taken, and returns that position; NoSuchElementError when every one is taken.
    int load();
    // Checks that load() would succeed.
    void ensureRoom() const;
    // Unloads the element at `position` (not 0).
    void unload(int position);
    const std::map<int, QPointer<ctlDetArea>>& elements() const { return elements_; }
    // Bytes of the measurement buffers of every loaded element.
    std::int64_t bufferBytes() const { return bufferBytes_; }

Q_SIGNALS:
    void Click(int position);
    void DblClick(int position);
    void MouseDown(int position, short Button, short Shift, float X, float Y);

private:
    // The position load() takes, -1 when there is none.
    int freePosition() const;
    ctlDetArea* create(int position);
    void forgetIndex(std::int32_t number, int position);

    // Positions by MyIndex, kept up to date from the elements' myIndexChanged.
    std::map<std::int32_t, std::set<int>> positionsByIndex_;

    QWidget* container_;
    std::map<int, QPointer<ctlDetArea>> elements_;
    std::int64_t bufferBytes_ = 0;
};

}  // namespace ostrel::areas
