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
// menu tree, plain Monitor and Video windows.
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

    // The example client's files: the line "OstrelConfig", then one key a line.
    bool loadConfig(const QString& fileName) override {
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
            registry.AddArea(in.readLine());
        }
        return true;
    }
    bool saveConfig(const QString&) override {
        throw std::logic_error("the program's own files are the end-to-end test's");
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

