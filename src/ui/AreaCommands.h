#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <QObject>
#include <QString>

#include "ValueDialogs.h"

class QAction;
class QWidget;

namespace ostrel::areas {
class AreaControlArray;
class DetectionArea;
class mdlSub;
}  // namespace ostrel::areas

namespace ostrel::ui {

struct MainMenu;

// The main window's commands on detection areas: the Edit menu with its Properties submenu
// (which is also an area's context menu), the clicks on the areas themselves, and the View,
// About and Exit entries, which it passes on as signals to the windows that own them.
// Every command works through the area registry, the area objects in its collection and the
// area controls; the only state kept here is the set of values the dialogs exchange.
class AreaCommands : public QObject {
    Q_OBJECT

public:
    // Connects itself to the entries of `menu` (which must be built), to the Select entries
    // through `registry`, and to the mouse events of `controls`. Dialogs and message boxes open
    // over `window`.
    AreaCommands(MainMenu& menu, areas::mdlSub& registry, areas::AreaControlArray& controls,
                 QWidget* window, QObject* parent = nullptr);
    ~AreaCommands() override;

    DialogValues& dialogValues() { return values_; }

public Q_SLOTS:
    // The commands other windows run too (the Monitor window's double-clicks, the automation
    // class's About). The value and colour commands do nothing while there is no area.
    void mnuAbout_Click();
    void mnuColor_Click();
    void mnuColSens_Click();
    void mnuColTre_Click();
    void mnuMotSens_Click();
    void mnuMotTre_Click();

Q_SIGNALS:
    // View entry `entry` (0 Monitor, 1 Video) was chosen; its check mark is now `checked`,
    // and the window should be shown exactly when it is set.
    void showFormsToggled(int entry, bool checked);
    // About was chosen: show the About box.
    void aboutRequested();
    // Exit was chosen: close the main window.
    void exitRequested();
    // An area was double-clicked outside edit mode and is selected: set the editing code's
    // SkipMove to `skipMove` and start Modify Size on the selected area.
    void modifySizeRequested(std::int32_t skipMove);

private:
    void mnuAdd_Click();
    void mnuClear_Click();
    void mnuSelectIndex_Click(int entry);
    void mnuRemove_Click();
    void mnuZorder_Click(int position);
    void mnuMotionActive_Click();
    void mnuShowLabel_Click(int entry);
    void mnuForeColor_Click();
    void mnuCalccolor_Click();
    void mnuShowForms_Click(int entry);

    // Mouse events of the area control array, by the element's position.
    void ctlDetArea_Click(int position);
    void ctlDetArea_DblClick(int position);
    void ctlDetArea_MouseDown(int position, short Button, short Shift, float X, float Y);

    // A check item that sets a property of the selected area to its (already flipped) state.
    void toggle(QAction* item, void (areas::DetectionArea::*setter)(bool));
    // Runs the slider dialog titled `title` from 0 to `maximum` on one property of the selected
    // area; nothing when there is no area.
    void valueCommand(const QString& title, std::int32_t maximum,
                      std::int32_t (areas::DetectionArea::*getter)() const,
                      void (areas::DetectionArea::*setter)(std::int32_t));
    // The selected area's object: the one at position SelectedAreaIndex(SelectedPosition).
    std::shared_ptr<areas::DetectionArea> selectedArea() const;
    bool noAreas() const;
    // Runs `command`; a failure of the registry or an area ends it with the "Error" message.
    void guarded(const std::function<void()>& command);

    MainMenu& menu_;
    areas::mdlSub& registry_;
    areas::AreaControlArray& controls_;
    QWidget* window_;
    DialogValues values_;
};

}  // namespace ostrel::ui
