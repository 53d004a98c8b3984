#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <QList>
#include <QObject>

#include "AreaCollection.h"

class QAction;
class QMenu;
class QWidget;

namespace ostrel::areas {

class AreaControlArray;
class ctlDetArea;
class DetectionArea;

// The main window's menu entries that follow the list of areas and the selected area.
struct AreaMenus {
    QAction* mnuClear = nullptr;
    QMenu* mnuSelect = nullptr;
    QList<QAction*>* mnuSelectIndex = nullptr;  // entry 0 always exists
    QMenu* mnuProperties = nullptr;
    QMenu* mnuIndex = nullptr;
    QAction* mnuMotionActive = nullptr;
    QAction* mnuMotionEvent = nullptr;
    QAction* mnuColorActive = nullptr;
    QAction* mnuColorEvent = nullptr;
    QAction* mnuShowFrame = nullptr;
    QAction* mnuShowPicture = nullptr;
    QList<QAction*> mnuShowLabel;
    QAction* mnuVisible = nullptr;
};

// The most areas the program holds. The main window paints the area controls, which are
// siblings, by a recursion over the siblings of about 300 bytes of stack each: 8 MB of stack
// overflow at about 27,000 areas. This limit keeps a sixth of that.
inline constexpr int kMaxAreas = 4096;

// Left, top, width and height of a new area, as fractions of the frame.
inline constexpr double kDefaultAreaFraction = 0.33;

// The area registry: owns the list of areas and the state shared around it (the selected
// area, edit mode, the display's and the frame's sizes). Every change to the set of areas goes
// through it; it keeps the areas numbered 1..n without gaps, each number matching exactly one
// control, and keeps the area menus in step.
class mdlSub : public QObject {
    Q_OBJECT

public:
    // `controls` and `videoPicture` (pctDebug, over which the areas lie) belong to the main window.
    mdlSub(AreaControlArray& controls, QWidget* videoPicture, const AreaMenus& menus);
    ~mdlSub() override;

    const AreaCollection& areaCollection() const { return collection_; }

    std::int32_t SelectedPosition() const { return selectedPosition_; }
    bool EditMode() const { return editMode_; }
    void setEditMode(bool value) { editMode_ = value; }
    std::int32_t DisplayColRes() const { return displayColRes_; }
    void setDisplayColRes(std::int32_t value) { displayColRes_ = value; }
    std::int32_t FrameWidth() const { return frameWidth_; }
    std::int32_t FrameHeight() const { return frameHeight_; }
    void setFrameSize(std::int32_t width, std::int32_t height);
    // Bytes the areas' buffers may take together; a quarter of physical memory by default.
    std::int64_t bufferBudget() const { return bufferBudget_; }
    void setBufferBudget(std::int64_t bytes) { bufferBudget_ = bytes; }
    // Bytes of the buffers of an area at these fractions of the current frame.
    std::int64_t bufferBytesFor(double left, double top, double width, double height) const;
    // The same for a new area, at the default fractions.
    std::int64_t newAreaBytes() const;
    // AreaLimitError unless `areas` more areas whose buffers take `bytes` fit beside the present
    // ones (or, `replacing`, in place of them): at most kMaxAreas areas, within the budget.
    void ensureRoomFor(std::int64_t areas, std::int64_t bytes, bool replacing = false) const;

    // Control-array position of the area numbered `number`, -1 when there is none.
    std::int32_t FindAreaPosition(std::int32_t number) const;
    // Number of the area at control-array `position`, -1 when no element is there.
    std::int32_t SelectedAreaIndex(std::int64_t position) const;
    // Adds an area under the trimmed `key`, numbers and selects it. Null while editing.
    // CollectionError for a duplicate key or one longer than kMaxKeyLength, AreaLimitError
    // beyond the limits of ensureRoomFor; nothing changes then.
    std::shared_ptr<DetectionArea> AddArea(const QString& key);
    // Removes the area `index` names and renumbers the later ones. False while editing;
    // CollectionError when nothing matches (nothing changes then).
    bool RemoveArea(const AreaIndex& index);
    // Removes every area. False while editing.
    bool ClearAreas();
    void RebuildIndexMenu();
    // Selects the area at control-array `position`; NoSuchElementError when none is there
    // (after the old selection was un-bolded and the position stored).
    void SelectArea(std::int64_t position);

    // The control of the area numbered `number`; NoAreaError when there is none.
    ctlDetArea& controlOf(std::int32_t number) const;
    // Puts `control` over the video picture at its pixel position.
    void placeControl(ctlDetArea& control) const;
    void sendVideoToBack() const;
    AreaControlArray& controls() const { return controls_; }
    QWidget* videoPicture() const { return videoPicture_; }

Q_SIGNALS:
    // Entry `entry` of the Select menu was chosen.
    void selectIndexTriggered(int entry);
    // The set of areas changed: one was added or removed (and the later ones renumbered), or
    // all were cleared away.
    void areasChanged();

private:
    void unbindAll();
    void resetElementZero();
    void setAreaMenusEnabled(bool enabled);
    QAction* addIndexEntry();

    AreaControlArray& controls_;
    QWidget* videoPicture_;
    AreaMenus menus_;
    AreaCollection collection_;
    // The area each Select entry describes (its caption is "Area <entry + 1> - <key>"), and the
    // entry that carries the check mark, so keeping the menu in step costs little per change.
    std::vector<std::shared_ptr<DetectionArea>> indexEntryAreas_;
    qsizetype checkedIndexEntry_ = -1;
    std::int32_t selectedPosition_ = 0;
    bool editMode_ = false;
    std::int32_t displayColRes_ = 3;
    std::int32_t frameWidth_ = 0;
    std::int32_t frameHeight_ = 0;
    std::int64_t bufferBudget_;
};

}  // namespace ostrel::areas
