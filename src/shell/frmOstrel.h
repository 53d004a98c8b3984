#pragma once

#include <QMainWindow>

#include "AreaControlArray.h"
#include "MainMenu.h"
#include "mdlSub.h"

namespace ostrel::shell {

class FramePicture;

// The main window: the video picture with the detection areas over it, and the menu bar.
class frmOstrel : public QMainWindow {
    Q_OBJECT

public:
    explicit frmOstrel(QWidget* parent = nullptr);
    ~frmOstrel() override;

    ui::MainMenu& menu() { return menu_; }
    areas::mdlSub& registry() { return *registry_; }
    areas::AreaControlArray& controls() { return *controls_; }
    FramePicture* pctDebug() const { return pctDebug_; }

private:
    ui::MainMenu menu_;
    QWidget* surface_;
    FramePicture* pctDebug_;
    std::unique_ptr<areas::AreaControlArray> controls_;
    std::unique_ptr<areas::mdlSub> registry_;
};

}  // namespace ostrel::shell
