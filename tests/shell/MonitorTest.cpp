#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include "AppIcon.h"
#include "MonitorBar.h"
#include "frmAbout.h"
#include "frmMonitor.h"
#include "support/AreaWindowParts.h"

using namespace ostrel;
using shell::frmMonitor;
using shell::MonitorBar;

namespace {

using Registry = AreaWindowParts;

QColor pixelOf(MonitorBar& bar, int x) {
    return bar.grab().toImage().pixelColor(x, bar.height() / 2);
}

const QColor kGreen(0, 255, 0), kRed(255, 0, 0), kWhite(255, 255, 255), kBlue(0, 0, 255);

}  // namespace

TEST(frmMonitor, TextFormsForNoAreaAndForTheSelectedArea) {
    QLocale::setDefault(QLocale(QLocale::German));
    shell::AppState state;
    frmMonitor monitor(state);
    Registry r;
    monitor.showSelectedArea(r.registry);
    EXPECT_EQ(monitor.txtIndex->text(), "Area");
    EXPECT_TRUE(monitor.txtMotionPer->text().isEmpty());
    EXPECT_TRUE(monitor.txtDetColorHex->text().isEmpty());

    r.registry.AddArea("Front");
    r.registry.AddArea("Back");
    auto door = r.registry.AddArea("Door");
    door->setMotionSens(222);
    door->setColorThreshold(7);
    door->setDetColor(255);
    monitor.showSelectedArea(r.registry);
    EXPECT_EQ(monitor.txtIndex->text(), "Area 3 - Door");
    EXPECT_EQ(monitor.txtTop->text(), "0,33") << "the user's number format";
    EXPECT_EQ(monitor.txtMotionSens->text(), "222");
    EXPECT_EQ(monitor.txtMotionThreshold->text(), "100%");
    EXPECT_EQ(monitor.txtColorThreshold->text(), "7%");
    EXPECT_EQ(monitor.txtMotionPer->text(), "0%");
    EXPECT_EQ(monitor.txtDetColor->text(), "255");
    EXPECT_EQ(monitor.txtDetColorHex->text(), "&H0000FF");
    EXPECT_EQ(monitor.pctDetColor->palette().color(QPalette::Window), QColor(255, 0, 0));

    r.registry.setEditMode(true);
    monitor.showEditGeometry(0.1, 0.2, 0.3, 0.4);
    monitor.showSelectedArea(r.registry);
    EXPECT_EQ(monitor.txtTop->text(), "0,10") << "editing owns the geometry boxes";
    EXPECT_EQ(monitor.txtWidth->text(), "0,30");
    QLocale::setDefault(QLocale::c());

    EXPECT_EQ(shell::monitorHexColorText(0), "&H000000");
    EXPECT_EQ(shell::monitorHexColorText(16744448), "&HFF8000");
    EXPECT_EQ(shell::monitorFractionText(0.125), "0.13");
}

TEST(MonitorBar, ColoursOfThePartsAndTheMark) {
    MonitorBar bar;
    bar.resize(200, 10);
    // The threshold mark sits at 50 % of 199, rounded to even: pixel 100.
    const auto expectPixels = [&bar](int per, std::initializer_list<std::pair<int, QColor>> pixels) {
        bar.setValues(per, 50);
        for (const auto& [x, colour] : pixels) {
            EXPECT_EQ(pixelOf(bar, x), colour) << per << " % at " << x;
        }
    };
    expectPixels(30, {{10, kGreen}, {59, kGreen}, {62, kWhite}, {100, kBlue}, {150, kWhite}});
    expectPixels(80, {{50, kGreen}, {100, kBlue}, {120, kRed}, {158, kRed}, {170, kWhite}});

    bar.setValues(50, 50);
    for (int x = 0; x < 200; x += 3) {
        EXPECT_NE(pixelOf(bar, x), kRed) << "no red part when the share equals the threshold";
    }
}

TEST(frmMonitor, PlaceAndVisibilityAcrossRuns) {
    QSettings().clear();
    shell::AppState state;
    {
        frmMonitor monitor(state);
        EXPECT_FALSE(monitor.isHidden());
        state.HideOnClose = true;
        QSignalSpy hidden(&monitor, &frmMonitor::hiddenByClose);
        monitor.close();
        EXPECT_TRUE(monitor.isHidden());
        EXPECT_EQ(hidden.size(), 1);
        EXPECT_FALSE(QSettings().contains("Settings/MonitorVisible")) << "hiding writes nothing";
        monitor.move(45, 60);
        state.HideOnClose = false;
        monitor.close();
    }
    QSettings settings;
    EXPECT_EQ(settings.value("Settings/MonitorVisible").toString(), "False");
    EXPECT_EQ(settings.value("Settings/MonitorLeft").toString(), "675");
    EXPECT_EQ(settings.value("Settings/MonitorTop").toString(), "900");
    frmMonitor again(state);
    EXPECT_EQ(again.pos(), QPoint(45, 60));
    EXPECT_TRUE(again.isHidden());
}

TEST(frmAbout, ShowsTheVersionAndOstrelsIcon) {
    shell::frmAbout about;
    EXPECT_EQ(about.windowTitle(), "About Ostrel");
    EXPECT_EQ(about.lblVersion->text(), "Version 1.1.0");
    // Drawn from the built-in SVG: needs the resource linked in and Qt's SVG support installed.
    const QImage icon = about.picIcon->pixmap().toImage();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon, shell::appIcon().pixmap(32, 32).toImage());
}
