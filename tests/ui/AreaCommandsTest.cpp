#include <gtest/gtest.h>

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include "AreaCommands.h"
#include "AreaErrors.h"
#include "DetectionArea.h"
#include "support/AreaWindowParts.h"
#include "support/DialogAnswers.h"
#include "support/TestFrame.h"

using namespace ostrel::areas;
using ostrel::ui::AreaCommands;

namespace {

// The main window's parts the commands work on: menu tree, video picture, areas, registry.
struct CommandWindow : AreaWindowParts {
    AreaCommands commands{menu, registry, controls, &window};
    DialogAnswers answers;
    DialogAnswers::Messages seen;

    explicit CommandWindow(std::initializer_list<const char*> keys = {}) {
        window.resize(400, 320);
        window.show();
        addAreas(keys);
        if (keys.size() > 0) {
            registry.SelectArea(registry.FindAreaPosition(1));
        }
    }
    int selected() { return registry.SelectedAreaIndex(registry.SelectedPosition()); }
    int count() { return registry.areaCollection().Count(); }
    // Chooses Add and answers the key dialog with `answer`; `message` expects a message box.
    void add(const std::function<void(QWidget*)>& answer, bool message) {
        answers.then(answer);
        if (message) {
            answers.thenMessage(seen);
        }
        menu.mnuAdd->trigger();
    }
    void add(const QString& key, bool message = false) {
        add([key](QWidget* d) {
            QTest::keyClicks(d->findChild<QLineEdit*>(QStringLiteral("txtKey")), key);
            DialogAnswers::click(d, "cmdOk");
        }, message);
    }
};

// What Clear resets, in the form of a tuple.
auto resetSettings(DetectionArea& a) {
    return std::make_tuple(a.MotionThreshold(), a.ColorThreshold(), a.MotionSens(), a.ColorSens(),
                           a.MotionActive(), a.ColorActive(), a.MotionEvent(), a.ColorEvent(),
                           a.ShowFrame(), a.ShowPicture(), a.ShowLabel(), a.DetColor(),
                           a.ForeColor());
}

}  // namespace

TEST(AreaCommands, AddAsksForANonEmptyUniqueKey) {
    CommandWindow w;
    w.add("", true);
    w.add("   ", true);
    w.add([](QWidget* d) { DialogAnswers::click(d, "cmdCancel"); }, true);
    EXPECT_EQ(w.seen.texts, QStringList(3, "Key darf kein Leerstring sein!"));
    EXPECT_EQ(std::make_pair(w.seen.icon, w.seen.title),
              std::make_pair(QMessageBox::Information, QStringLiteral("Ostrel")));
    EXPECT_EQ(w.count(), 0);

    w.add("  Door  ");
    w.add("Window");
    ASSERT_EQ(w.count(), 2);
    EXPECT_EQ(w.area(1).Key(), "Door");
    EXPECT_EQ(w.selected(), 2) << "the new area is selected";
    w.seen = {};
    w.add("Door", true);
    w.add(" wINDOW ", true);
    // Closing the dialog by its close box keeps the previous key, which is taken now.
    w.add([](QWidget* d) { d->close(); }, true);
    EXPECT_EQ(w.seen.texts, QStringList(3, "Key muss eindeutig sein!"));
    EXPECT_EQ(w.count(), 2);
}

TEST(AreaCommands, ValueCommandsRunTheSliderOnTheSelectedArea) {
    using Get = std::int32_t (DetectionArea::*)() const;
    using Set = void (DetectionArea::*)(std::int32_t);
    CommandWindow w{"A", "B"};
    const std::tuple<QAction*, const char*, int, int, Get, Set> cases[] = {
        {w.menu.mnuMotSens, "Motion Sensibility", 255, 32, &DetectionArea::MotionSens,
         &DetectionArea::setMotionSens},
        {w.menu.mnuMotTre, "Motion Threshold Value", 100, 10, &DetectionArea::MotionThreshold,
         &DetectionArea::setMotionThreshold},
        {w.menu.mnuColSens, "Color Sensibility", 255, 32, &DetectionArea::ColorSens,
         &DetectionArea::setColorSens},
        {w.menu.mnuColTre, "Color Threshold Value", 100, 10, &DetectionArea::ColorThreshold,
         &DetectionArea::setColorThreshold},
    };
    for (const auto& [action, title, maximum, ticks, get, set] : cases) {
        SCOPED_TRACE(title);
        (w.area(1).*set)(80);
        (w.area(2).*set)(5);
        for (const char* button : {"cmdCancel", "cmdOk"}) {
            w.answers.then([&, button](QWidget* d) {
                auto* slider = d->findChild<QSlider*>(QStringLiteral("sldSlider"));
                EXPECT_EQ(d->windowTitle(), title);
                EXPECT_EQ(
                    std::make_tuple(slider->maximum(), slider->tickInterval(), slider->value()),
                    std::make_tuple(maximum, ticks, 80));
                QTest::keyClick(slider, Qt::Key_Left);
                DialogAnswers::click(d, button);
            });
            action->trigger();
        }
        EXPECT_EQ((w.area(1).*get)(), 79) << "Cancel kept 80, OK stored the moved value";
        EXPECT_EQ((w.area(2).*get)(), 5) << "only the selected area changes";
    }
}

TEST(AreaCommands, ColourCommandsUseTheChooserAndNeedAnArea) {
    CommandWindow w{"A", "B"};
    DetectionArea& a = w.area(1);
    a.setDetColor(0x123456);
    QColor shown;
    const auto choose = [&](QColor chosen) {
        w.answers.then([&shown, chosen](QWidget* d) {
            shown = qobject_cast<QColorDialog*>(d)->currentColor();
            qobject_cast<QColorDialog*>(d)->setCurrentColor(chosen.isValid() ? chosen : Qt::red);
            d->findChild<QDialogButtonBox*>()
                ->button(chosen.isValid() ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)
                ->click();
        });
    };
    choose(QColor());
    w.menu.mnuColor->trigger();
    EXPECT_EQ(shown, QColor(0x56, 0x34, 0x12));
    EXPECT_EQ(a.DetColor(), 0x123456) << "Cancel keeps the colour";
    choose(QColor(1, 2, 3));
    w.commands.mnuColor_Click();  // as the Monitor window's swatch runs it
    EXPECT_EQ(a.DetColor(), 0x030201);
    choose(QColor(0xFF, 0x80, 0));
    w.menu.mnuForeColor->trigger();
    EXPECT_EQ(shown, QColor(Qt::white));
    EXPECT_EQ(a.ForeColor(), 0x0080FF);
    EXPECT_EQ(w.area(2).ForeColor(), 0xFFFFFF);

    // Get CalcColor takes the colour the area measured last. An area whose ColRes was refused
    // (stored as 0) measures nothing.
    ctlDetArea& control = w.control(1);
    TestFrame frame(control.PixWidth(), control.PixHeight(), control.ColRes());
    frame.fill(0x30, 0x20, 0x10);
    control.Calculate(frame.view());
    control.setColRes(2);
    frame.fill(0x90, 0x80, 0x70);
    control.Calculate(frame.view());
    w.menu.mnuCalccolor->trigger();
    EXPECT_EQ(a.DetColor(), 0x302010);

    // With no area the Monitor's commands open nothing (any dialog would fail the test).
    w.menu.mnuClear->trigger();
    ASSERT_EQ(w.count(), 0);
    for (auto command : {&AreaCommands::mnuMotSens_Click, &AreaCommands::mnuMotTre_Click,
                         &AreaCommands::mnuColSens_Click, &AreaCommands::mnuColTre_Click,
                         &AreaCommands::mnuColor_Click}) {
        (w.commands.*command)();
    }
}

TEST(AreaCommands, CheckItemsShowLabelAndZOrderActOnTheSelectedArea) {
    CommandWindow w{"A", "B"};
    const std::pair<QAction*, bool (DetectionArea::*)() const> items[] = {
        {w.menu.mnuMotionActive, &DetectionArea::MotionActive},
        {w.menu.mnuMotionEvent, &DetectionArea::MotionEvent},
        {w.menu.mnuColorActive, &DetectionArea::ColorActive},
        {w.menu.mnuColorEvent, &DetectionArea::ColorEvent},
        {w.menu.mnuShowPicture, &DetectionArea::ShowPicture},
        {w.menu.mnuShowFrame, &DetectionArea::ShowFrame},
        {w.menu.mnuVisible, &DetectionArea::Visible},
    };
    for (const auto& [item, get] : items) {
        SCOPED_TRACE(item->text().toStdString());
        item->trigger();
        EXPECT_TRUE(!item->isChecked() && !(w.area(1).*get)() && (w.area(2).*get)());
        item->trigger();
        EXPECT_TRUE((w.area(1).*get)());
    }

    for (int entry : {2, 2, 0, 1}) {  // choosing the checked entry again keeps it checked
        w.menu.mnuShowLabel[entry]->trigger();
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(w.menu.mnuShowLabel[i]->isChecked(), i == entry) << entry;
        }
        EXPECT_EQ(w.area(1).ShowLabel(), entry);
        EXPECT_TRUE(entry != 2 || w.control(1).label()->text() == "A");
    }

    w.menu.mnuZorder[0]->trigger();
    EXPECT_GT(w.stackIndex(&w.control(1)), w.stackIndex(&w.control(2)));
    w.menu.mnuZorder[1]->trigger();
    EXPECT_LT(w.stackIndex(&w.control(1)), w.stackIndex(&w.control(2)));
    EXPECT_LT(w.stackIndex(w.pctDebug), w.stackIndex(&w.control(1))) << "the picture stays behind";
}

TEST(AreaCommands, SelectRemoveAndClearAndTheirFailures) {
    CommandWindow w{"A", "B", "C"};
    const auto defaults = resetSettings(w.area(2));
    w.menu.mnuSelectIndex[1]->trigger();
    EXPECT_EQ(w.selected(), 2);
    w.registry.setEditMode(true);
    w.menu.mnuSelectIndex[0]->trigger();
    EXPECT_EQ(w.selected(), 2) << "no selection while editing";
    EXPECT_FALSE(w.menu.mnuSelectIndex[0]->isChecked());
    w.registry.setEditMode(false);
    w.menu.mnuRemove->trigger();
    ASSERT_EQ(w.count(), 2);
    EXPECT_EQ(w.area(2).Key(), "C");

    // A selection left on a position without an area: the registry finds nothing to remove.
    EXPECT_THROW(w.registry.SelectArea(9), NoSuchElementError);
    w.answers.thenMessage(w.seen);
    w.menu.mnuRemove->trigger();
    EXPECT_EQ(w.seen.texts, QStringList{"Error"});
    EXPECT_EQ(w.seen.icon, QMessageBox::Critical);
    EXPECT_EQ(w.count(), 2);

    // The first area after Clear reuses the first area's control, with every setting reset.
    DetectionArea& first = w.area(1);
    first.setMotionThreshold(5);
    first.setColorThreshold(6);
    first.setMotionSens(7);
    first.setColorSens(8);
    for (auto set : {&DetectionArea::setMotionActive, &DetectionArea::setColorActive,
                     &DetectionArea::setMotionEvent, &DetectionArea::setColorEvent,
                     &DetectionArea::setShowFrame, &DetectionArea::setShowPicture}) {
        (first.*set)(false);
    }
    first.setShowLabel(0);
    first.setDetColor(9);
    first.setForeColor(10);
    w.menu.mnuClear->trigger();
    EXPECT_EQ(w.count(), 0);
    EXPECT_FALSE(w.menu.mnuProperties->isEnabled());
    w.add("D");
    EXPECT_EQ(resetSettings(w.area(1)), defaults);
    EXPECT_FALSE(w.control(1).label()->isHidden());
    EXPECT_TRUE(w.menu.mnuMotionActive->isChecked() && w.menu.mnuColorEvent->isChecked());
}

TEST(AreaCommands, ClicksSelectExceptWhileEditingAndRightClickOpensProperties) {
    CommandWindow w{"A", "B"};
    QSignalSpy modify(&w.commands, &AreaCommands::modifySizeRequested);
    QTest::mouseDClick(w.control(2).label(), Qt::LeftButton);
    EXPECT_EQ(w.selected(), 2);
    ASSERT_EQ(modify.size(), 1);
    EXPECT_EQ(modify[0][0].toInt(), 3) << "SkipMove";

    w.registry.setEditMode(true);
    QTest::mouseClick(w.control(1).label(), Qt::LeftButton);
    QTest::mouseDClick(w.control(1).label(), Qt::LeftButton);
    QTest::mousePress(w.control(1).picture(), Qt::RightButton);
    EXPECT_EQ(w.selected(), 2);
    EXPECT_EQ(modify.size(), 1);
    EXPECT_TRUE(w.menu.mnuProperties->isVisible()) << "the context menu also while editing";
    w.menu.mnuProperties->hide();

    w.registry.setEditMode(false);
    QTest::mouseClick(w.control(1).label(), Qt::LeftButton);
    EXPECT_EQ(w.selected(), 1);
    QTest::mouseDClick(w.control(2).picture(), Qt::LeftButton);
    QTest::mousePress(w.control(2).label(), Qt::RightButton);
    EXPECT_EQ(std::make_pair(w.selected(), int(modify.size())), std::make_pair(2, 2));
    EXPECT_FALSE(w.menu.mnuProperties->isVisible()) << "only a right press on the picture";
    QTest::mouseClick(w.control(1).label(), Qt::LeftButton);
    QTest::mousePress(w.control(2).picture(), Qt::RightButton);
    EXPECT_EQ(w.selected(), 2);
    EXPECT_TRUE(w.menu.mnuProperties->isVisible());
    w.menu.mnuProperties->hide();
}
