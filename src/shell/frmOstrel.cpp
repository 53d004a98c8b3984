#include "frmOstrel.h"

#include <QMenuBar>

#include "FramePicture.h"

namespace ostrel::shell {

namespace {
constexpr int kPictureMargin = 8;  // pixels between the window's edge and the video picture
}

frmOstrel::frmOstrel(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Ostrel"));
    menu_.build(menuBar(), this);
    surface_ = new QWidget(this);
    setCentralWidget(surface_);
    pctDebug_ = new FramePicture(surface_);
    pctDebug_->move(kPictureMargin, kPictureMargin);
    controls_ = std::make_unique<areas::AreaControlArray>(surface_);
    registry_ = std::make_unique<areas::mdlSub>(*controls_, pctDebug_, menu_.areaMenus());
}

frmOstrel::~frmOstrel() = default;

}  // namespace ostrel::shell
