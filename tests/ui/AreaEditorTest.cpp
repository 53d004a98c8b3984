#include <gtest/gtest.h>

#include <array>
#include <vector>

#include <QCursor>
#include <QLabel>
#include <QTest>

#include "AreaEditor.h"
#include "DetectionArea.h"
#include "support/AreaWindowParts.h"

using namespace ostrel::areas;
using ostrel::ui::AreaEditor;
using Zone = AreaEditor::EditZone;

namespace {

// The main window's parts editing works on, with a 320 x 240 picture at (8, 8) and one area
// "Door" at (32, 24) of the frame, 82 x 60 pixels: its box starts at (40, 32) on the surface.
// Positions in the helpers are surface pixels; the cursor the editor reads follows them.
struct EditWindow : AreaWindowParts {
    QImage frame{320, 240, QImage::Format_RGB32};
    std::vector<std::array<double, 4>> shown;  // the Monitor's top, left, width, height
    QColor textColor;
    int viewRefreshes = 0;
    QPoint cursor;
    AreaEditor editor{
        menu, registry, controls, surface, pctDebug, [this]() -> const QImage& { return frame; },
        {[this](double t, double l, double w, double h) { shown.push_back({t, l, w, h}); },
         [this](const QColor& c) { textColor = c; }, [this] { ++viewRefreshes; }}};
    QWidget* box = editor.pctEdit();

    EditWindow() {
        for (int y = 0; y < frame.height(); ++y) {
            for (int x = 0; x < frame.width(); ++x) {
                frame.setPixel(x, y, qRgb(x % 256, y, (x * 7 + y * 3) % 256));
            }
        }
        editor.setCursorSource([this] { return cursor; });
        QCursor::setPos(0, 0);  // away from the window, so that the first hover is a move
        window.resize(400, 320);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        registry.AddArea(QStringLiteral("Door"));
        area(1).Size(0.1, 0.1, 0.25, 0.25);
    }
    void setCursor(QPoint at) { cursor = surface->mapToGlobal(at); }
    // A move goes through the platform, as the real mouse's does, with or without a button held.
    void hover(QPoint at) {
        setCursor(at);
        QTest::mouseMove(box, at - box->pos());
    }
    void press(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        setCursor(at);
        QTest::mousePress(box, button, {}, at - box->pos());
    }
    void release() { QTest::mouseRelease(box, Qt::LeftButton, {}, QPoint(1, 1)); }
    void drag(QPoint from, QPoint to) {
        hover(from);
        press(from);
        hover(to);
        release();
    }
    std::array<double, 4> stored() {
        return {area(1).Top(), area(1).Left(), area(1).Width(), area(1).Height()};
    }
};

}  // namespace

TEST(AreaEditor, ModifySizeCoversTheAreaAndLocksTheAreaCommandsUntilCancel) {
    EditWindow w;
    w.registry.AddArea(QStringLiteral("Gate"));
    w.registry.SelectArea(w.registry.FindAreaPosition(1));
    EXPECT_TRUE(w.box->isHidden());
    w.menu.mnuStartEdit->trigger();
    EXPECT_TRUE(w.registry.EditMode());
    EXPECT_TRUE(w.box->isVisible());
    EXPECT_EQ(w.box->geometry(), QRect(40, 32, 82, 60));
    EXPECT_EQ(w.editor.shpShapeEdit()->geometry(), QRect(0, 0, 82, 60));
    EXPECT_EQ(w.editor.lblAreaEdit()->text(), "1");
    EXPECT_EQ(w.surface->childAt(w.box->geometry().center()), w.box)
        << "the box lies over the area";
    const auto expectCommandsEnabled = [&w](bool enabled) {
        for (QAction* entry : {w.menu.mnuFile->menuAction(), w.menu.mnuAdd, w.menu.mnuClear,
                               w.menu.mnuSelect->menuAction(), w.menu.mnuIndex->menuAction(),
                               w.menu.mnuSet->menuAction()}) {
            EXPECT_EQ(entry->isEnabled(), enabled) << entry->text().toStdString();
        }
    };
    expectCommandsEnabled(false);
    EXPECT_TRUE(w.menu.mnuProperties->isEnabled()) << "the area's context menu stays";
    EXPECT_EQ(w.textColor, QColor(255, 0, 0));
    // An area's ZOrder (an automation client may call it) does nothing while editing: the area
    // stays under the other one and under the box.
    w.area(1).ZOrder(0);
    EXPECT_EQ(w.surface->childAt(w.box->geometry().center()), w.box);
    EXPECT_LT(w.stackIndex(&w.control(1)), w.stackIndex(&w.control(2)));

    w.drag({80, 60}, {130, 90});
    EXPECT_EQ(w.box->pos(), QPoint(90, 62));
    w.menu.mnuEdit[1]->trigger();
    EXPECT_FALSE(w.registry.EditMode());
    EXPECT_TRUE(w.box->isHidden());
    EXPECT_EQ(w.textColor, QColor(0, 0, 0));
    EXPECT_EQ(w.stored(), (std::array<double, 4>{0.1, 0.1, 0.25, 0.25})) << "Cancel keeps the area";
    EXPECT_EQ(w.controls.element(w.registry.SelectedPosition()).pos(), QPoint(40, 32));
    expectCommandsEnabled(true);
}

TEST(AreaEditor, HoverChoosesTheZoneWithCornersOnTheTopAndBottomEdges) {
    EditWindow w;
    w.editor.startEdit(3);  // as a double-click on the area starts it: the first move is ignored
    w.hover({43, 60});
    EXPECT_EQ(w.box->cursor().shape(), Qt::ArrowCursor);
    // Box (40, 32) 82 x 60: the bands are local x 0..6 and 76..81, y 0..6 and 54..59.
    const std::tuple<QPoint, Qt::CursorShape, Zone> cases[] = {
        {{80, 60}, Qt::SizeAllCursor, Zone::Body},
        {{43, 60}, Qt::SizeHorCursor, Zone::LeftEdge},
        {{47, 61}, Qt::SizeAllCursor, Zone::Body},
        {{46, 60}, Qt::SizeHorCursor, Zone::LeftEdge},
        {{43, 35}, Qt::SizeVerCursor, Zone::TopEdge},
        {{119, 35}, Qt::SizeHorCursor, Zone::RightEdge},
        {{115, 60}, Qt::SizeAllCursor, Zone::Body},
        {{116, 60}, Qt::SizeHorCursor, Zone::RightEdge},
        {{43, 89}, Qt::SizeVerCursor, Zone::BottomEdge},
        {{119, 89}, Qt::SizeVerCursor, Zone::BottomEdge},
    };
    for (const auto& [at, shape, zone] : cases) {
        SCOPED_TRACE(testing::Message() << "at " << at.x() << "," << at.y());
        w.hover(at);
        EXPECT_EQ(w.box->cursor().shape(), shape);
        EXPECT_EQ(w.editor.editZone(), zone);
    }
}

TEST(AreaEditor, EdgeDragsKeepTheOppositeEdgeAndStopAtTheMinimumOrThePicture) {
    EditWindow w;
    w.menu.mnuStartEdit->trigger();
    w.hover({43, 60});
    w.press({43, 60});
    w.hover({63, 70});
    EXPECT_EQ(w.box->geometry(), QRect(60, 32, 62, 60)) << "only the left edge follows";
    w.hover({243, 60});
    EXPECT_EQ(w.box->geometry(), QRect(100, 32, 22, 60)) << "at 22 pixels, right edge fixed";
    w.hover({-57, 60});
    EXPECT_EQ(w.box->geometry(), QRect(8, 32, 114, 60)) << "not past the picture's left";
    w.release();

    w.drag({119, 89}, {619, 589});
    EXPECT_EQ(w.box->geometry(), QRect(8, 32, 114, 216)) << "the bottom stops at the picture's";
    w.drag({40, 245}, {40, 0});
    EXPECT_EQ(w.box->geometry(), QRect(8, 32, 114, 22));
    w.drag({119, 40}, {619, 40});
    EXPECT_EQ(w.editor.editZone(), Zone::RightEdge);
    EXPECT_EQ(w.box->geometry(), QRect(8, 32, 320, 22)) << "the right stops at the picture's";
    w.drag({60, 35}, {60, -100});
    EXPECT_EQ(w.box->geometry(), QRect(8, 8, 320, 46)) << "the top edge stops at the picture's";
    EXPECT_EQ(w.editor.shpShapeEdit()->size(), w.box->size());

    // A picture that shrank under the box: the right edge stops at its border below 22 pixels.
    w.pctDebug->resize(12, 240);
    w.drag({324, 30}, {20, 30});
    EXPECT_EQ(w.box->geometry(), QRect(8, 8, 12, 46));
}

TEST(AreaEditor, MovesStayInsideThePictureAndNeedAHoverFirst) {
    EditWindow w;
    w.menu.mnuStartEdit->trigger();
    w.press({80, 60});
    w.hover({110, 80});
    w.release();
    EXPECT_EQ(w.box->geometry(), QRect(40, 32, 82, 60)) << "no zone chosen before the first hover";

    w.drag({80, 60}, {80, -40});
    EXPECT_EQ(w.box->geometry(), QRect(40, 8, 82, 60)) << "the top on the picture's top";
    EXPECT_EQ(w.shown.back(), (std::array<double, 4>{0.0, 0.1, 82.0 / 320, 0.25}));
    w.drag({81, 40}, {581, 100});
    EXPECT_EQ(w.box->geometry(), QRect(246, 68, 82, 60)) << "the right on the picture's right";

    // The pointer outlives the edit: the next edit drags without a new hover.
    w.menu.mnuEdit[1]->trigger();
    w.menu.mnuStartEdit->trigger();
    w.press({80, 60});
    w.hover({90, 65});
    w.release();
    EXPECT_EQ(w.box->geometry(), QRect(50, 37, 82, 60));

    // With a picture smaller than the box the bottom and right bounds win.
    w.pctDebug->resize(50, 40);
    w.drag({90, 65}, {91, 66});
    EXPECT_EQ(w.box->geometry(), QRect(-24, -12, 82, 60));
}

TEST(AreaEditor, AcceptStoresTheBoxAsFractionsOfTheFrame) {
    EditWindow w;
    w.menu.mnuStartEdit->trigger();
    w.drag({119, 60}, {101, 60});
    w.drag({80, 89}, {80, 77});
    EXPECT_EQ(w.box->geometry(), QRect(40, 32, 64, 48));
    ASSERT_FALSE(w.shown.empty());
    EXPECT_EQ(w.shown.back(), (std::array<double, 4>{0.1, 0.1, 0.2, 0.2}));
    EXPECT_EQ(w.viewRefreshes, 2);
    w.menu.mnuEdit[0]->trigger();
    EXPECT_FALSE(w.registry.EditMode());
    EXPECT_TRUE(w.box->isHidden());
    EXPECT_EQ(w.stored(), (std::array<double, 4>{0.1, 0.1, 0.2, 0.2}));
    EXPECT_EQ(w.controls.element(0).geometry(), QRect(40, 32, 66, 48)) << "4k+2 pixels wide";

    // Without a frame size the Monitor is not written and Accept leaves the area alone.
    w.registry.setFrameSize(0, 240);
    w.menu.mnuStartEdit->trigger();
    w.shown.clear();
    w.drag({80, 60}, {100, 70});
    EXPECT_TRUE(w.shown.empty());
    EXPECT_EQ(w.viewRefreshes, 3);
    w.menu.mnuEdit[0]->trigger();
    EXPECT_FALSE(w.registry.EditMode());
    EXPECT_EQ(w.stored(), (std::array<double, 4>{0.1, 0.1, 0.2, 0.2}));
}

TEST(AreaEditor, DoubleClickAcceptsAndRightClickOffersAcceptAndCancel) {
    EditWindow w;
    w.menu.mnuStartEdit->trigger();
    w.drag({80, 60}, {88, 76});
    w.press({60, 60}, Qt::RightButton);
    QTest::mouseRelease(w.box, Qt::RightButton, {}, {20, 28});
    ASSERT_TRUE(QTest::qWaitFor([&w] { return w.menu.mnuStopEdit->isVisible(); }, 5000));
    EXPECT_LE((w.menu.mnuStopEdit->pos() - w.cursor).manhattanLength(), 1) << "at the mouse";
    w.menu.mnuStopEdit->hide();
    EXPECT_TRUE(w.registry.EditMode());

    w.press({70, 70});
    w.release();
    QTest::mouseDClick(w.box, Qt::LeftButton, {}, {22, 22});
    w.release();
    EXPECT_FALSE(w.registry.EditMode());
    EXPECT_TRUE(w.box->isHidden());
    EXPECT_DOUBLE_EQ(w.area(1).Left(), 40.0 / 320);
    EXPECT_DOUBLE_EQ(w.area(1).Top(), 40.0 / 240);
}

TEST(AreaEditor, TheBoxShowsTheLivePictureUnderIt) {
    EditWindow w;
    const auto expectUnder = [&w](const QImage& frame) {
        const QImage seen = w.box->grab().toImage();
        const QPoint offset = w.box->pos() - w.pctDebug->pos();
        for (const QPoint p : {QPoint(20, 40), QPoint(70, 50), QPoint(40, 20), QPoint(79, 57)}) {
            EXPECT_EQ(QColor(seen.pixel(p)), QColor(frame.pixel(p + offset)))
                << p.x() << "," << p.y() << " of the box at " << offset.x() << "," << offset.y();
        }
    };
    w.menu.mnuStartEdit->trigger();
    expectUnder(w.frame);
    w.drag({80, 60}, {180, 170});
    SCOPED_TRACE("a drag copies the new place");
    expectUnder(w.frame);
    w.frame = w.frame.mirrored(true, true);
    SCOPED_TRACE("each pass copies the new frame");
    w.editor.showLiveUnderBox();
    expectUnder(w.frame);
}
