#include "MainMenu.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace ostrel::ui {

namespace {

QAction* checkItem(QMenu* menu, const QString& caption, bool checked = false) {
    QAction* action = menu->addAction(caption);
    action->setCheckable(true);
    action->setChecked(checked);
    return action;
}

}  // namespace

void MainMenu::build(QMenuBar* bar, QWidget* owner) {
    mnuFile = bar->addMenu(QStringLiteral("&File"));
    mnuOpen = mnuFile->addAction(QStringLiteral("&Open..."));
    mnuSave = mnuFile->addAction(QStringLiteral("&Save"));
    mnuSaveAs = mnuFile->addAction(QStringLiteral("Save &As..."));
    mnuFileBar1 = mnuFile->addSeparator();
    mnuExit = mnuFile->addAction(QStringLiteral("E&xit"));

    mnuView = bar->addMenu(QStringLiteral("&View"));
    mnuShowForms = {checkItem(mnuView, QStringLiteral("&Monitor"), true),
                    checkItem(mnuView, QStringLiteral("&Video"), true)};
    mnuHistory = checkItem(mnuView, QStringLiteral("&History"));
    mnuHistory->setEnabled(false);

    mnuBearb = bar->addMenu(QStringLiteral("&Edit"));
    mnuAdd = mnuBearb->addAction(QStringLiteral("&Add"));
    mnuClear = mnuBearb->addAction(QStringLiteral("&Clear"));
    mnuSelect = mnuBearb->addMenu(QStringLiteral("&Select"));
    mnuSelectIndex = {mnuSelect->addAction(QStringLiteral("Index"))};
    mnuSelectIndex[0]->setCheckable(true);
    mnuProperties = mnuBearb->addMenu(QStringLiteral("&Properties"));
    mnuIndex = mnuProperties->addMenu(QStringLiteral("Index"));
    mnuStartEdit = mnuIndex->addAction(QStringLiteral("Modify Size"));
    mnuIndex->addSeparator();
    mnuZorder = {mnuIndex->addAction(QStringLiteral("Bring To &Front")),
                 mnuIndex->addAction(QStringLiteral("Send To &Back"))};
    mnuIndex->addSeparator();
    mnuVisible = checkItem(mnuIndex, QStringLiteral("&Visible"));
    mnuIndex->addSeparator();
    mnuRemove = mnuIndex->addAction(QStringLiteral("&Remove"));
    mnuProperties->addSeparator();
    mnuMotionActive = checkItem(mnuProperties, QStringLiteral("MotionActive"));
    mnuMotSens = mnuProperties->addAction(QStringLiteral("MotionSens..."));
    mnuMotionEvent = checkItem(mnuProperties, QStringLiteral("MotionEvent"));
    mnuMotTre = mnuProperties->addAction(QStringLiteral("MotionThreshold..."));
    mnuProperties->addSeparator();
    mnuColorActive = checkItem(mnuProperties, QStringLiteral("ColorActive"));
    mnuColSens = mnuProperties->addAction(QStringLiteral("ColorSens..."));
    mnuColorEvent = checkItem(mnuProperties, QStringLiteral("ColorEvent"));
    mnuColTre = mnuProperties->addAction(QStringLiteral("ColorThreshold..."));
    mnuColor = mnuProperties->addAction(QStringLiteral("Color..."));
    mnuProperties->addSeparator();
    mnuShowPicture = checkItem(mnuProperties, QStringLiteral("ShowPicture"));
    mnuShowLabelMain = mnuProperties->addMenu(QStringLiteral("ShowLabel"));
    mnuShowLabel = {checkItem(mnuShowLabelMain, QStringLiteral("0 - None")),
                    checkItem(mnuShowLabelMain, QStringLiteral("1 - Index")),
                    checkItem(mnuShowLabelMain, QStringLiteral("2 - Key"))};
    mnuShowFrame = checkItem(mnuProperties, QStringLiteral("ShowFrame"));
    mnuForeColor = mnuProperties->addAction(QStringLiteral("ForeColor..."));
    mnuProperties->addSeparator();
    mnuCalccolor = mnuProperties->addAction(QStringLiteral("Get CalcColor"));

    mnuSet = bar->addMenu(QStringLiteral("&Settings"));
    mnuHasDlgSource = mnuSet->addAction(QStringLiteral("Video &Source..."));
    mnuHasDlgFormat = mnuSet->addAction(QStringLiteral("Video &Format..."));
    mnuHasDlgDisplay = mnuSet->addAction(QStringLiteral("Video Display"));
    mnuHasDlgDisplay->setVisible(false);
    mnuDriverMain = mnuSet->addMenu(QStringLiteral("&Driver"));
    mnuDriver = {checkItem(mnuDriverMain, QStringLiteral("Driver"))};
    mnuSet->addSeparator();
    mnuMqtt = mnuSet->addAction(QStringLiteral("&MQTT..."));

    mnuHelp = bar->addMenu(QStringLiteral("&?"));
    mnuAbout = mnuHelp->addAction(QStringLiteral("&About"));
    mnuTest = {mnuHelp->addAction(QStringLiteral("Test 1")),
               mnuHelp->addAction(QStringLiteral("Test 2"))};
    for (QAction* test : mnuTest) {
        test->setVisible(false);
    }

    mnuStopEdit = new QMenu(QStringLiteral("Edit"), owner);
    mnuEdit = {mnuStopEdit->addAction(QStringLiteral("Accept")),
               mnuStopEdit->addAction(QStringLiteral("Cancel"))};
}

areas::AreaMenus MainMenu::areaMenus() {
    areas::AreaMenus m;
    m.mnuClear = mnuClear;
    m.mnuSelect = mnuSelect;
    m.mnuSelectIndex = &mnuSelectIndex;
    m.mnuProperties = mnuProperties;
    m.mnuIndex = mnuIndex;
    m.mnuMotionActive = mnuMotionActive;
    m.mnuMotionEvent = mnuMotionEvent;
    m.mnuColorActive = mnuColorActive;
    m.mnuColorEvent = mnuColorEvent;
    m.mnuShowFrame = mnuShowFrame;
    m.mnuShowPicture = mnuShowPicture;
    m.mnuShowLabel = mnuShowLabel;
    m.mnuVisible = mnuVisible;
    return m;
}

}  // namespace ostrel::ui
