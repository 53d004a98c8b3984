#include <gtest/gtest.h>

#include <QMenu>
#include <QSignalSpy>

#include "AreaErrors.h"
#include "support/AreaWindowParts.h"
#include "support/TestFrame.h"

using namespace ostrel::areas;

namespace {

// A main window with the menu tree, a video picture at (8, 8) and the area control array.
struct AreaWindow : AreaWindowParts {
    explicit AreaWindow(std::initializer_list<const char*> keys = {}) {
        registry.setDisplayColRes(4);
        window.resize(400, 320);
        window.show();
        addAreas(keys);
    }
    std::shared_ptr<DetectionArea> area(const char* key) {
        return registry.areaCollection().Item(QString::fromLatin1(key));
    }
    QStringList indexCaptions() {
        QStringList captions;
        for (QAction* entry : menu.mnuSelectIndex) {
            captions << entry->text();
        }
        return captions;
    }
    // The registry's promise: numbers 1..n, each on exactly one loaded element with the same key.
    void expectConsistent() {
        const auto& items = registry.areaCollection().items();
        for (std::size_t i = 0; i < items.size(); ++i) {
            const int number = int(i) + 1;
            EXPECT_EQ(items[i]->Index(), number);
            int matches = 0;
            for (const auto& [position, element] : controls.elements()) {
                if (element->MyIndex() == number) {
                    ++matches;
                    EXPECT_EQ(element->Key(), items[i]->Key());
                }
            }
            EXPECT_EQ(matches, 1) << "number " << number;
        }
    }
};

}  // namespace

TEST(mdlSub, AddingUsesElementZeroThenNewElements) {
    AreaWindow w;
    EXPECT_TRUE(w.controls.element(0).isHidden());
    auto door = w.registry.AddArea("  Door  ");
    ASSERT_TRUE(door);
    EXPECT_EQ(w.registry.FindAreaPosition(1), 0);
    EXPECT_EQ(door->Key(), "Door") << "keys are trimmed";
    EXPECT_TRUE(door->Visible());
    ctlDetArea& zero = w.controls.element(0);
    EXPECT_EQ(zero.ColRes(), 4);
    EXPECT_EQ(zero.pos(), QPoint(8 + 106, 8 + 79)) << "placed over the video picture";
    EXPECT_TRUE(zero.FontBold()) << "the new area is selected";
    EXPECT_EQ(w.registry.SelectedPosition(), 0);

    auto window = w.registry.AddArea("Window");
    EXPECT_EQ(w.registry.FindAreaPosition(2), 1);
    EXPECT_FALSE(zero.FontBold());
    EXPECT_TRUE(w.controls.element(1).FontBold());
    EXPECT_EQ(w.indexCaptions(), QStringList({"Area 1 - Door", "Area 2 - Window"}));
    EXPECT_TRUE(w.menu.mnuSelectIndex[1]->isChecked());
    EXPECT_FALSE(w.menu.mnuSelectIndex[0]->isChecked());
    EXPECT_EQ(w.menu.mnuIndex->title(), "Area 2");
    EXPECT_TRUE(w.menu.mnuSelect->isEnabled() && w.menu.mnuProperties->isEnabled());
    w.expectConsistent();

    // A duplicate key, whatever its case, is refused before a control is loaded for it.
    EXPECT_THROW(w.registry.AddArea("DOOR"), CollectionError);
    EXPECT_THROW(w.registry.AddArea(" window "), CollectionError);
    EXPECT_EQ(w.controls.elements().size(), 2u);
    EXPECT_EQ(w.registry.areaCollection().Item(QString("dOoR")), door);
}

TEST(mdlSub, RemovingRenumbersAndSelectsTheFirst) {
    AreaWindow w{"A", "B", "C", "D"};
    auto b = w.area("B"), c = w.area("C"), d = w.area("D");
    c->setMotionSens(17);

    EXPECT_TRUE(w.registry.RemoveArea(std::int64_t(2)));  // a middle area
    EXPECT_EQ(c->Index(), 2);
    EXPECT_EQ(c->MotionSens(), 17) << "the object follows its own area";
    EXPECT_EQ(d->Index(), 3);
    EXPECT_EQ(w.indexCaptions(), QStringList({"Area 1 - A", "Area 2 - C", "Area 3 - D"}));
    EXPECT_EQ(w.registry.SelectedPosition(), 0) << "area 1 becomes selected";
    w.expectConsistent();

    // An object of a removed area is bound to nothing, even though its number lives on.
    EXPECT_THROW(b->setMotionSens(5), NoAreaError);
    EXPECT_EQ(c->MotionSens(), 17);

    EXPECT_TRUE(w.registry.RemoveArea(std::int64_t(1)));  // the first, on element 0
    EXPECT_TRUE(w.controls.element(0).isHidden());
    EXPECT_EQ(w.controls.element(0).MyIndex(), 0);
    EXPECT_EQ(w.controls.element(0).Key(), "Area0");
    EXPECT_EQ(c->Index(), 1);
    w.expectConsistent();

    auto e = w.registry.AddArea("E");
    EXPECT_EQ(e->Index(), 3);
    EXPECT_EQ(w.registry.FindAreaPosition(3), 4) << "loaded at the highest position + 1";

    EXPECT_TRUE(w.registry.RemoveArea(QString("e")));  // the last one, by key
    EXPECT_EQ(w.controls.elements().size(), 3u);
    w.expectConsistent();
    EXPECT_THROW(w.registry.RemoveArea(std::int64_t(7)), CollectionError);
    EXPECT_THROW(w.registry.RemoveArea(QString("nothing")), CollectionError);
    EXPECT_EQ(w.registry.areaCollection().Count(), 2);
}

TEST(mdlSub, RemovingTheLastAreaDisablesTheAreaMenus) {
    AreaWindow w{"A", "B"};
    w.registry.RemoveArea(std::int64_t(1));
    EXPECT_EQ(w.registry.SelectedPosition(), 1);
    w.registry.RemoveArea(std::int64_t(1));
    EXPECT_FALSE(w.menu.mnuClear->isEnabled() || w.menu.mnuProperties->isEnabled() ||
                 w.menu.mnuSelect->isEnabled());
    EXPECT_EQ(w.controls.elements().size(), 1u);
}

TEST(mdlSub, ANewFirstAreaDoesNotInheritTheOldOnesChanges) {
    AreaWindow w{"Old"};
    ctlDetArea& zero = w.controls.element(0);
    zero.Size(0, 0, 1, 1, 22, 22);
    zero.setMotionSens(255);
    zero.setMotionThreshold(50);
    TestFrame still(22, 22, 4);
    zero.Calculate(still.view());
    zero.Calculate(still.view());
    ASSERT_TRUE(zero.MotionStatus());
    ASSERT_TRUE(zero.MotionChanged());
    w.registry.RemoveArea(std::int64_t(1));
    w.registry.AddArea("New");
    EXPECT_FALSE(zero.MotionChanged()) << "no event for a change the new area never had";
    EXPECT_FALSE(zero.MotionStatus());
    EXPECT_EQ(zero.MotionPer(), 0);
}

TEST(mdlSub, ClearingLeavesOnlyElementZeroHidden) {
    AreaWindow w{"A", "B", "C"};
    auto a = w.area("A");
    EXPECT_TRUE(w.registry.ClearAreas());
    EXPECT_EQ(w.registry.areaCollection().Count(), 0);
    EXPECT_EQ(w.controls.elements().size(), 1u);
    EXPECT_TRUE(w.controls.element(0).isHidden());
    EXPECT_THROW(a->Key(), NoAreaError);
    EXPECT_FALSE(w.menu.mnuSelect->isEnabled());
    auto again = w.registry.AddArea("a");
    EXPECT_EQ(w.registry.FindAreaPosition(1), 0);
    EXPECT_THROW(a->Key(), NoAreaError) << "an old object never reaches the new area 1";
}

TEST(mdlSub, EditModeRefusesChanges) {
    AreaWindow w{"A"};
    auto a = w.area("A");
    w.registry.setEditMode(true);
    EXPECT_EQ(w.registry.AddArea("B"), nullptr);
    EXPECT_FALSE(w.registry.RemoveArea(std::int64_t(1)));
    EXPECT_FALSE(w.registry.ClearAreas());
    EXPECT_EQ(w.registry.areaCollection().Count(), 1);

    a->Size(0, 0, 0.5, 0.5);
    EXPECT_EQ(a->Left(), 0.33) << "no geometry change while editing";
    a->setVisible(false);
    EXPECT_TRUE(a->Visible());
    a->setMotionThreshold(150);
    EXPECT_EQ(a->MotionThreshold(), 100) << "settings still change, within their ranges";
    w.registry.setEditMode(false);
    a->Size(1.2, 0, 0.5, 0.5);
    EXPECT_EQ(a->Left(), 1.0);
    EXPECT_EQ(w.control(1).pos(), QPoint(8 + 320 - 22, 8));
}

TEST(mdlSub, SelectingAMissingPositionFailsAfterUnboldingTheOld) {
    AreaWindow w{"A"};
    ASSERT_TRUE(w.controls.element(0).FontBold());
    EXPECT_THROW(w.registry.SelectArea(5), NoSuchElementError);
    EXPECT_FALSE(w.controls.element(0).FontBold());
    EXPECT_EQ(w.registry.SelectedPosition(), 5);
    EXPECT_EQ(w.registry.SelectedAreaIndex(5), -1);
    EXPECT_THROW(w.registry.SelectArea(70000), NoSuchElementError);
}

TEST(mdlSub, SelectionSetsTheCheckMarks) {
    AreaWindow w{"A", "B"};
    auto a = w.area("A");
    a->setShowLabel(2);
    a->setMotionActive(false);
    a->setVisible(false);
    w.registry.SelectArea(w.registry.FindAreaPosition(1));
    EXPECT_TRUE(w.menu.mnuShowLabel[2]->isChecked() && !w.menu.mnuShowLabel[1]->isChecked());
    EXPECT_TRUE(!w.menu.mnuMotionActive->isChecked() && w.menu.mnuColorActive->isChecked());
    EXPECT_FALSE(w.menu.mnuVisible->isChecked());
    EXPECT_EQ(w.menu.mnuIndex->title(), "Area 1");
    EXPECT_TRUE(w.menu.mnuSelectIndex[0]->isChecked() && !w.menu.mnuSelectIndex[1]->isChecked());

    QSignalSpy chosen(&w.registry, &mdlSub::selectIndexTriggered);
    w.menu.mnuSelectIndex[1]->trigger();
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(chosen[0][0].toInt(), 1);
}

TEST(mdlSub, PositionsAreReusedOnceTheHighestIsTaken) {
    AreaWindow w{"A", "B"};
    for (int i = 0; i < 40000; ++i) {  // a new area, the older one goes: past position 32767
        w.registry.AddArea(i % 2 ? "B" : "C");
        w.registry.RemoveArea(std::int64_t(2));
    }
    auto d = w.registry.AddArea("D");
    EXPECT_EQ(d->Index(), 3);
    w.expectConsistent();
    EXPECT_EQ(w.indexCaptions(), QStringList({"Area 1 - A", "Area 2 - B", "Area 3 - D"}));
    EXPECT_EQ(w.surface->children().last(), &w.control(3)) << "the new area in front";
    EXPECT_TRUE(w.control(3).FontBold()) << "and selected";
}
