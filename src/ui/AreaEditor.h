#pragma once

#include <cstdint>
#include <functional>

#include <QColor>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QPointer>

class QLabel;
class QWidget;

namespace ostrel::areas {
class AreaControlArray;
class mdlSub;
}  // namespace ostrel::areas

namespace ostrel::ui {

struct MainMenu;
class EditBox;

// What editing shows in the Monitor window. Empty members are skipped.
struct EditMonitor {
    // The box's position and size as fractions of the frame, while it is dragged.
    std::function<void(double top, double left, double width, double height)> showGeometry;
    // The colour of the four geometry boxes: red while editing, black otherwise.
    std::function<void(const QColor&)> setGeometryTextColor;
    // Repaints the Monitor's picture.
    std::function<void()> refreshView;
};

// Moving and resizing the selected area with the mouse. "Modify Size" lays the editing box
// (pctEdit) exactly over the selected area on the main window's surface; dragging its body moves
// it, dragging one of its edges resizes it, always inside the video picture. Accept stores the
// box's rectangle in the area as fractions of the frame, Cancel forgets it. Edit mode is the
// registry's EditMode, set exactly while the box is up.
//
// All positions are in the surface's pixels, which the box and the video picture share. Drags
// follow the screen position of the cursor minus the anchors taken at the button press; the
// main window does not move during a drag, so that is the box's own position or size.
class AreaEditor : public QObject {
    Q_OBJECT

public:
    // The part of the box under the mouse, chosen while no button is held.
    enum class EditZone : std::int32_t {
        Body = 0,
        LeftEdge = 1,
        TopEdge = 2,
        RightEdge = 3,
        BottomEdge = 4
    };

    // Width of the band along each edge that resizes instead of moving.
    static constexpr int kEdgeBand = 7;
    // The box never becomes narrower or lower than this by dragging its left or top edge; the
    // right and bottom edges stop at the picture's border first.
    static constexpr int kMinBoxSize = 22;

    // The current video frame, shown 1:1 from the video picture's top-left corner.
    using FrameSource = std::function<const QImage&()>;
    // The cursor's screen position in pixels.
    using CursorSource = std::function<QPoint()>;

    // Creates the hidden editing box on `surface` and connects Modify Size, Accept and Cancel of
    // `menu` (which must be built). `videoPicture` (pctDebug) is a child of `surface` and bounds
    // every edit.
    AreaEditor(MainMenu& menu, areas::mdlSub& registry, areas::AreaControlArray& controls,
               QWidget* surface, QWidget* videoPicture, FrameSource frame, EditMonitor monitor,
               QObject* parent = nullptr);
    ~AreaEditor() override;

    // Replaces QCursor::pos() as the source of cursor positions.
    void setCursorSource(CursorSource cursor) { cursor_ = std::move(cursor); }

    QWidget* pctEdit() const;
    QWidget* shpShapeEdit() const { return shpShapeEdit_; }
    QLabel* lblAreaEdit() const { return lblAreaEdit_; }
    EditZone editZone() const { return editZone_; }

public Q_SLOTS:
    // An area was double-clicked: the next `skipMove` > 0 makes the first mouse move over the
    // new box count for nothing (it belongs to the double-click). Then Modify Size.
    void startEdit(std::int32_t skipMove);
    // Modify Size: edit mode on, the box over the selected area.
    void mnuStartEdit_Click();
    // 0 Accept, 1 Cancel.
    void mnuEdit_Click(int entry);
    // Menus and the Monitor's geometry text in line with EditMode.
    void EditMenu();
    // Copies the part of the current frame under the box into the box. The detection loop
    // calls this on each pass while editing, so the box keeps showing live video.
    void showLiveUnderBox();

private:
    friend class EditBox;

    // The box's mouse events. Button is a mask of held buttons for moves (1 left, 2 right) and
    // the pressed button for presses; X and Y are positions within the box.
    void pctEdit_MouseMove(int Button, double X, double Y);
    void pctEdit_MouseDown(int Button, const QPoint& screenPos);
    void pctEdit_DblClick();

    void hover(double X, double Y);
    void dragTo(const QPoint& cursor);
    void redraw();

    MainMenu& menu_;
    areas::mdlSub& registry_;
    areas::AreaControlArray& controls_;
    QWidget* videoPicture_;
    FrameSource frame_;
    EditMonitor monitor_;
    CursorSource cursor_;

    QPointer<EditBox> pctEdit_;
    QWidget* shpShapeEdit_ = nullptr;
    QLabel* lblAreaEdit_ = nullptr;

    std::int32_t skipMove_ = 0;
    std::int32_t anchorX_ = 0;  // cursor x minus the box's left at the last left press
    std::int32_t anchorY_ = 0;  // cursor y minus the box's top
    std::int32_t anchorH_ = 0;  // cursor y minus the box's height
    std::int32_t anchorW_ = 0;  // cursor x minus the box's width
    EditZone editZone_ = EditZone::Body;
};

}  // namespace ostrel::ui
