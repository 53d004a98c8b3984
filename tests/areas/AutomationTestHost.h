#pragma once

#include <stdexcept>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QMenuBar>
#include <QTest>
#include <QTextStream>
#include <QWidget>

#include "AreaControlArray.h"
#include "ConUnitHost.h"
#include "DetectionArea.h"
#include "MainMenu.h"
#include "ctlDetArea.h"
#include "mdlSub.h"
#include "support/TestFrame.h"

// Stands in for the main window's side of automation until the real one is wired: the real
// registry with the real menu tree over a main window, and real Monitor and Video windows.
// Configuration files are a list of keys after the header line "OstrelConfig".
struct AutomationTestHost : ostrel::areas::ConUnitHost {
    QMainWindow window;
    QWidget* surface = new QWidget;
    QWidget* pctDebug = new QWidget(surface);
    QWidget monitor;
    QWidget video;
    ostrel::ui::MainMenu menu;
    ostrel::areas::AreaControlArray controls{surface};
    ostrel::areas::mdlSub registry{controls, pctDebug,
                                   (menu.build(window.menuBar(), &window), menu.areaMenus())};

    bool attached = false;
    int attachCalls = 0;
    int endCalls = 0;
    int aboutCalls = 0;

    AutomationTestHost() {
        window.setCentralWidget(surface);
        pctDebug->setGeometry(8, 8, 320, 240);
        registry.setFrameSize(320, 240);
        registry.setDisplayColRes(4);
        window.resize(400, 320);
    }

    void showAbout() override { ++aboutCalls; }
    bool monitorVisible() const override { return monitor.isVisible(); }
    void setMonitorVisible(bool visible) override { monitor.setVisible(visible); }
    bool videoVisible() const override { return video.isVisible(); }
    void setVideoVisible(bool visible) override { video.setVisible(visible); }
    void setMainWindowVisible(bool visible) override { window.setVisible(visible); }

    bool loadConfig(const QString& fileName) override {
        if (registry.EditMode()) {
            return false;
        }
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            throw std::runtime_error("cannot open the configuration file");
        }
        QTextStream in(&file);
        if (in.readLine() != QLatin1String("OstrelConfig")) {
            return false;
        }
        registry.ClearAreas();
        while (!in.atEnd()) {
            registry.AddArea(in.readLine());  // a duplicate key throws with the areas before it
        }
        return true;
    }

    bool saveConfig(const QString& fileName) override {
        if (registry.EditMode()) {
            return false;
        }
        QFile file(fileName);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
            throw std::runtime_error("cannot write the configuration file");
        }
        QTextStream out(&file);
        out << "OstrelConfig\n";
        for (const auto& area : registry.areaCollection().items()) {
            out << area->Key() << '\n';
        }
        return true;
    }

    void clientAttached() override {
        ++attachCalls;
        window.show();
        window.setWindowTitle(QStringLiteral("Ostrel - ConUnit"));
        attached = true;
    }

    void lastClientReleased() override {
        attached = false;
        ++endCalls;
        registry.setEditMode(false);
        registry.ClearAreas();
        monitor.close();
        video.close();
        window.close();
    }

    ostrel::areas::ctlDetArea& control(int number) {
        return controls.element(registry.FindAreaPosition(number));
    }

    // Drives area `number`'s measurement with whole-area frames of one grey level, so that its
    // statuses (and, with the event settings on, its pending flags) change as in a real pass.
    // With thresholds of 50 a step of 127 grey levels or more is motion (sensitivity 222), and
    // black matches the target colour (black, sensitivity 96) while grey 128 does not.
    void prepareForEvents(int number) {
        ostrel::areas::ctlDetArea& c = control(number);
        c.setMotionThreshold(50);
        c.setColorThreshold(50);
        showGrey(number, 128);  // the first frame only sets the reference
    }
    void showGrey(int number, int level) {
        ostrel::areas::ctlDetArea& c = control(number);
        TestFrame frame(c.PixWidth(), c.PixHeight(), c.ColRes());
        frame.fill(level, level, level);
        c.Calculate(frame.view());
    }
};

// Polls the event loop until `done()` holds or `ms` milliseconds have passed.
template <typename Done>
bool waitUntil(Done done, int ms = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}
