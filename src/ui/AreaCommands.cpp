#include "AreaCommands.h"

#include <exception>

#include <QAction>
#include <QCursor>
#include <QMenu>

#include "AreaControlArray.h"
#include "DetectionArea.h"
#include "MainMenu.h"
#include "Messages.h"
#include "ctlDetArea.h"
#include "frmKey.h"
#include "frmSlider.h"
#include "mdlCmnDlg.h"
#include "mdlSub.h"

namespace ostrel::ui {

namespace {
// A double-click that starts editing lets the first mouse move over the new box pass.
constexpr std::int32_t kSkipMovesAfterDoubleClick = 3;
}  // namespace

using areas::DetectionArea;

AreaCommands::AreaCommands(MainMenu& menu, areas::mdlSub& registry,
                           areas::AreaControlArray& controls, QWidget* window, QObject* parent)
    : QObject(parent), menu_(menu), registry_(registry), controls_(controls), window_(window) {
    const auto on = [this](QAction* action, auto handler) {
        connect(action, &QAction::triggered, this, handler);
    };
    on(menu_.mnuAdd, [this] { mnuAdd_Click(); });
    on(menu_.mnuClear, [this] { mnuClear_Click(); });
    connect(&registry_, &areas::mdlSub::selectIndexTriggered, this,
            &AreaCommands::mnuSelectIndex_Click);
    on(menu_.mnuRemove, [this] { mnuRemove_Click(); });
    for (int i = 0; i < menu_.mnuZorder.size(); ++i) {
        on(menu_.mnuZorder[i], [this, i] { mnuZorder_Click(i); });
    }
    on(menu_.mnuVisible, [this] { toggle(menu_.mnuVisible, &DetectionArea::setVisible); });
    on(menu_.mnuMotionActive, [this] { mnuMotionActive_Click(); });
    on(menu_.mnuMotSens, [this] { mnuMotSens_Click(); });
    on(menu_.mnuMotionEvent,
       [this] { toggle(menu_.mnuMotionEvent, &DetectionArea::setMotionEvent); });
    on(menu_.mnuMotTre, [this] { mnuMotTre_Click(); });
    on(menu_.mnuColorActive,
       [this] { toggle(menu_.mnuColorActive, &DetectionArea::setColorActive); });
    on(menu_.mnuColSens, [this] { mnuColSens_Click(); });
    on(menu_.mnuColorEvent, [this] { toggle(menu_.mnuColorEvent, &DetectionArea::setColorEvent); });
    on(menu_.mnuColTre, [this] { mnuColTre_Click(); });
    on(menu_.mnuColor, [this] { mnuColor_Click(); });
    on(menu_.mnuShowPicture,
       [this] { toggle(menu_.mnuShowPicture, &DetectionArea::setShowPicture); });
    for (int i = 0; i < menu_.mnuShowLabel.size(); ++i) {
        on(menu_.mnuShowLabel[i], [this, i] { mnuShowLabel_Click(i); });
    }
    on(menu_.mnuShowFrame, [this] { toggle(menu_.mnuShowFrame, &DetectionArea::setShowFrame); });
    on(menu_.mnuForeColor, [this] { mnuForeColor_Click(); });
    on(menu_.mnuCalccolor, [this] { mnuCalccolor_Click(); });
    for (int i = 0; i < menu_.mnuShowForms.size(); ++i) {
        on(menu_.mnuShowForms[i], [this, i] { mnuShowForms_Click(i); });
    }
    on(menu_.mnuAbout, [this] { mnuAbout_Click(); });
    connect(menu_.mnuExit, &QAction::triggered, this, &AreaCommands::exitRequested);

    connect(&controls_, &areas::AreaControlArray::Click, this, &AreaCommands::ctlDetArea_Click);
    connect(&controls_, &areas::AreaControlArray::DblClick, this,
            &AreaCommands::ctlDetArea_DblClick);
    connect(&controls_, &areas::AreaControlArray::MouseDown, this,
            &AreaCommands::ctlDetArea_MouseDown);
}

AreaCommands::~AreaCommands() = default;

std::shared_ptr<DetectionArea> AreaCommands::selectedArea() const {
    const std::int32_t number = registry_.SelectedAreaIndex(registry_.SelectedPosition());
    return registry_.areaCollection().Item(std::int64_t(number));
}

bool AreaCommands::noAreas() const {
    return registry_.areaCollection().Count() == 0;
}

void AreaCommands::guarded(const std::function<void()>& command) {
    try {
        command();
    } catch (const std::exception&) {
        // Whatever the registry changed before it failed stays changed.
        ShowMessage(window_, QStringLiteral("Error"), QMessageBox::Critical);
    }
}

void AreaCommands::mnuAdd_Click() {
    {
        frmKey dialog(values_, window_);
        dialog.exec();
    }
    if (values_.EnteredKey.isEmpty()) {
        ShowMessage(window_, QStringLiteral("Key darf kein Leerstring sein!"),
                    QMessageBox::Information);
        return;
    }
    if (registry_.areaCollection().containsKey(values_.EnteredKey)) {
        ShowMessage(window_, QStringLiteral("Key muss eindeutig sein!"), QMessageBox::Information);
        return;
    }
    // The registry can still refuse, when the control array is full.
    guarded([this] { registry_.AddArea(values_.EnteredKey); });
}

void AreaCommands::mnuClear_Click() {
    guarded([this] { registry_.ClearAreas(); });
}

void AreaCommands::mnuSelectIndex_Click(int entry) {
    if (registry_.EditMode()) {
        // The entry flipped its own check mark when chosen; put the marks back.
        const std::int32_t selected = registry_.SelectedAreaIndex(registry_.SelectedPosition());
        const QList<QAction*>& entries = menu_.mnuSelectIndex;
        for (int i = 0; i < registry_.areaCollection().Count() && i < entries.size(); ++i) {
            entries[i]->setChecked(i + 1 == selected);
        }
        return;
    }
    guarded([this, entry] { registry_.SelectArea(registry_.FindAreaPosition(entry + 1)); });
}

void AreaCommands::mnuRemove_Click() {
    guarded([this] {
        registry_.RemoveArea(
            std::int64_t(registry_.SelectedAreaIndex(registry_.SelectedPosition())));
    });
}

void AreaCommands::mnuZorder_Click(int position) {
    guarded([this, position] { selectedArea()->ZOrder(std::int16_t(position)); });
}

void AreaCommands::toggle(QAction* item, void (DetectionArea::*setter)(bool)) {
    guarded([this, item, setter] { (selectedArea().get()->*setter)(item->isChecked()); });
}

void AreaCommands::mnuMotionActive_Click() {
    guarded([this] {
        controls_.element(registry_.SelectedPosition())
            .setMotionActive(menu_.mnuMotionActive->isChecked());
    });
}

void AreaCommands::mnuShowLabel_Click(int entry) {
    for (int i = 0; i <= 2; ++i) {
        menu_.mnuShowLabel[i]->setChecked(i == entry);
    }
    guarded([this, entry] { selectedArea()->setShowLabel(entry); });
}

void AreaCommands::valueCommand(const QString& title, std::int32_t maximum,
                                std::int32_t (DetectionArea::*getter)() const,
                                void (DetectionArea::*setter)(std::int32_t)) {
    if (noAreas()) {
        return;
    }
    guarded([&] {
        const std::shared_ptr<DetectionArea> area = selectedArea();
        values_.SliderMax = maximum;
        values_.SliderValue = (area.get()->*getter)();
        {
            frmSlider dialog(values_, window_);
            dialog.setWindowTitle(title);
            dialog.exec();
        }
        // After Cancel SliderValue still holds the start value.
        (area.get()->*setter)(values_.SliderValue);
    });
}

void AreaCommands::mnuMotSens_Click() {
    valueCommand(QStringLiteral("Motion Sensibility"), 255, &DetectionArea::MotionSens,
                 &DetectionArea::setMotionSens);
}

void AreaCommands::mnuMotTre_Click() {
    valueCommand(QStringLiteral("Motion Threshold Value"), 100, &DetectionArea::MotionThreshold,
                 &DetectionArea::setMotionThreshold);
}

void AreaCommands::mnuColSens_Click() {
    valueCommand(QStringLiteral("Color Sensibility"), 255, &DetectionArea::ColorSens,
                 &DetectionArea::setColorSens);
}

void AreaCommands::mnuColTre_Click() {
    valueCommand(QStringLiteral("Color Threshold Value"), 100, &DetectionArea::ColorThreshold,
                 &DetectionArea::setColorThreshold);
}

void AreaCommands::mnuColor_Click() {
    if (noAreas()) {
        return;
    }
    guarded([this] {
        const std::shared_ptr<DetectionArea> area = selectedArea();
        area->setDetColor(ChooseColorDialog(area->DetColor(), window_));
    });
}

void AreaCommands::mnuForeColor_Click() {
    // Reachable only through the Properties menu, which is disabled while there is no area.
    guarded([this] {
        const std::shared_ptr<DetectionArea> area = selectedArea();
        area->setForeColor(ChooseColorDialog(area->ForeColor(), window_));
    });
}

void AreaCommands::mnuCalccolor_Click() {
    guarded([this] {
        const std::shared_ptr<DetectionArea> area = selectedArea();
        area->setDetColor(area->CalcColor());
    });
}

void AreaCommands::mnuShowForms_Click(int entry) {
    // The entry has flipped its own check mark.
    Q_EMIT showFormsToggled(entry, menu_.mnuShowForms[entry]->isChecked());
}

void AreaCommands::mnuAbout_Click() {
    Q_EMIT aboutRequested();
}

void AreaCommands::ctlDetArea_Click(int position) {
    if (registry_.EditMode()) {
        return;
    }
    guarded([this, position] { registry_.SelectArea(position); });
}

void AreaCommands::ctlDetArea_DblClick(int position) {
    if (registry_.EditMode()) {
        return;
    }
    guarded([this, position] {
        registry_.SelectArea(position);
        Q_EMIT modifySizeRequested(kSkipMovesAfterDoubleClick);
    });
}

void AreaCommands::ctlDetArea_MouseDown(int position, short Button, short /*Shift*/, float /*X*/,
                                        float /*Y*/) {
    if (!registry_.EditMode()) {
        guarded([this, position] { registry_.SelectArea(position); });
    }
    if (Button == 2) {
        menu_.mnuProperties->popup(QCursor::pos());
    }
}

}  // namespace ostrel::ui
