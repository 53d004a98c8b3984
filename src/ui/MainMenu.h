#pragma once

#include <QList>

#include "mdlSub.h"

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace ostrel::ui {

// The main window's menu tree, each entry under its own name. Menu arrays are lists whose
// element n is entry n; mnuSelectIndex and mnuDriver start with their entry 0 and grow at run
// time. mnuStopEdit never appears in the menu bar: it is the editing box's context menu.
struct MainMenu {
    QMenu* mnuFile = nullptr;
    QAction* mnuOpen = nullptr;
    QAction* mnuSave = nullptr;
    QAction* mnuSaveAs = nullptr;
    QAction* mnuFileBar1 = nullptr;
    QAction* mnuExit = nullptr;

    QMenu* mnuView = nullptr;
    QList<QAction*> mnuShowForms;  // 0 "&Monitor", 1 "&Video"
    QAction* mnuHistory = nullptr;  // the History window; enabled once there is one

    QMenu* mnuBearb = nullptr;
    QAction* mnuAdd = nullptr;
    QAction* mnuClear = nullptr;
    QMenu* mnuSelect = nullptr;
    QList<QAction*> mnuSelectIndex;
    QMenu* mnuProperties = nullptr;
    QMenu* mnuIndex = nullptr;
    QAction* mnuStartEdit = nullptr;
    QList<QAction*> mnuZorder;  // 0 "Bring To &Front", 1 "Send To &Back"
    QAction* mnuVisible = nullptr;
    QAction* mnuRemove = nullptr;
    QAction* mnuMotionActive = nullptr;
    QAction* mnuMotSens = nullptr;
    QAction* mnuMotionEvent = nullptr;
    QAction* mnuMotTre = nullptr;
    QAction* mnuColorActive = nullptr;
    QAction* mnuColSens = nullptr;
    QAction* mnuColorEvent = nullptr;
    QAction* mnuColTre = nullptr;
    QAction* mnuColor = nullptr;
    QAction* mnuShowPicture = nullptr;
    QMenu* mnuShowLabelMain = nullptr;
    QList<QAction*> mnuShowLabel;  // 0 "0 - None", 1 "1 - Index", 2 "2 - Key"
    QAction* mnuShowFrame = nullptr;
    QAction* mnuForeColor = nullptr;
    QAction* mnuCalccolor = nullptr;

    QMenu* mnuSet = nullptr;
    QAction* mnuHasDlgSource = nullptr;
    QAction* mnuHasDlgFormat = nullptr;
    QAction* mnuHasDlgDisplay = nullptr;
    QMenu* mnuDriverMain = nullptr;
    QList<QAction*> mnuDriver;
    QAction* mnuMqtt = nullptr;

    QMenu* mnuHelp = nullptr;
    QAction* mnuAbout = nullptr;
    QList<QAction*> mnuTest;

    QMenu* mnuStopEdit = nullptr;
    QList<QAction*> mnuEdit;  // 0 "Accept", 1 "Cancel"

    // Builds the whole tree into `bar`, every entry in its start state; `owner` parents the
    // context menu that stays out of the bar.
    void build(QMenuBar* bar, QWidget* owner);
    // The entries the area registry keeps in step with the areas.
    areas::AreaMenus areaMenus();
};

}  // namespace ostrel::ui
