#pragma once

#include <QMainWindow>
#include <QMenuBar>
#include <QWidget>

#include "AreaControlArray.h"
#include "DetectionArea.h"
#include "MainMenu.h"
#include "ctlDetArea.h"
#include "mdlSub.h"

// The main window's parts that areas live on, made of real widgets: the menu tree, a 320 x 240
// video picture at (8, 8) of the surface, the area control array and the registry over a
// 320 x 240 frame. Test fixtures build on it.
struct AreaWindowParts {
    QMainWindow window;
    QWidget* surface = new QWidget;
    QWidget* pctDebug = new QWidget(surface);
    ostrel::ui::MainMenu menu;
    ostrel::areas::AreaControlArray controls{surface};
    ostrel::areas::mdlSub registry{controls, pctDebug,
                                   (menu.build(window.menuBar(), &window), menu.areaMenus())};

    AreaWindowParts() {
        window.setCentralWidget(surface);
        pctDebug->setGeometry(8, 8, 320, 240);
        registry.setFrameSize(320, 240);
    }
    void addAreas(std::initializer_list<const char*> keys) {
        for (const char* key : keys) {
            registry.AddArea(QString::fromUtf8(key));
        }
    }
    ostrel::areas::ctlDetArea& control(int number) {
        return controls.element(registry.FindAreaPosition(number));
    }
    ostrel::areas::DetectionArea& area(int number) {
        return *registry.areaCollection().Item(std::int64_t(number));
    }
    // Where a widget lies among the surface's children: higher is in front.
    int stackIndex(const QWidget* widget) const { return surface->children().indexOf(widget); }
};
