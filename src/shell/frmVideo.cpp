#include "frmVideo.h"


#include "AppState.h"
#include "ezVidCap.h"

namespace ostrel::shell {

using capture::ezVidCap;

frmVideo::frmVideo(ezVidCap& capture, const AppState& state, QWidget* parent)
    : HidingWindow(state, WindowSettings(QStringLiteral("Video"), 100, 100), parent),
      display_(capture.display()) {
    setObjectName(QStringLiteral("frmVideo"));
    setWindowTitle(QStringLiteral("Ostrel - Video"));
    if (display_) {
        display_->setParent(this);
        display_->move(0, 0);
        display_->show();
    }
    const QSize interior = requiredInteriorSize();
    if (!interior.isEmpty()) {
        resize(interior);
    }
    restorePlace();
}

QSize frmVideo::requiredInteriorSize() const {
    if (!display_) {
        return {0, 0};
    }
    return {2 * display_->x() + display_->width(), 2 * display_->y() + display_->height()};
}

}  // namespace ostrel::shell
