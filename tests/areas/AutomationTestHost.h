#pragma once

#include <stdexcept>

#include <QFile>
#include <QTest>
#include <QTextStream>

#include "ConUnitHost.h"
#include "DetectionArea.h"
#include "ctlDetArea.h"
#include "support/AreaWindowParts.h"
#include "support/TestFrame.h"

// The main window's side of automation for the ConUnit and D-Bus tests: the real registry and
// menu tree, plain Monitor and Video windows, and configuration files that are the header line
// "OstrelConfig" followed by one key a line.
struct AutomationTestHost : AreaWindowParts, ostrel::areas::ConUnitHost {
    QWidget monitor;
    QWidget video;
    int attachCalls = 0;
    int endCalls = 0;
    int aboutCalls = 0;

    AutomationTestHost() {
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
        QFile file(fileName);
        if (registry.EditMode() || !open(file, QIODevice::ReadOnly)) {
            return false;
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
        QFile file(fileName);
        if (registry.EditMode() || !open(file, QIODevice::WriteOnly)) {
            return false;
        }
        QTextStream out(&file);
        out << "OstrelConfig\n";
        for (const auto& area : registry.areaCollection().items()) {
            out << area->Key() << '\n';
        }
        return true;
    }
    static bool open(QFile& file, QIODevice::OpenMode mode) {
        if (!file.open(mode | QIODevice::Text)) {
            throw std::runtime_error("cannot open the configuration file");
        }
        return true;
    }

    void clientAttached() override {
        ++attachCalls;
        window.show();
    }
    void lastClientReleased() override {
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

    // Drives area `number`'s measurement with whole-area frames of one grey level. With
    // thresholds of 50 a step of 127 grey levels or more is motion (sensitivity 222), and black
    // matches the target colour (black, sensitivity 96) while grey 128 does not.
    void prepareForEvents(int number) {
        control(number).setMotionThreshold(50);
        control(number).setColorThreshold(50);
        showGrey(number, 128);  // the first frame only sets the reference
    }
    void showGrey(int number, int level) {
        ostrel::areas::ctlDetArea& c = control(number);
        TestFrame frame(c.PixWidth(), c.PixHeight(), c.ColRes());
        frame.fill(level, level, level);
        c.Calculate(frame.view());
    }
};

