#include "frmVideo.h"

#include <QCloseEvent>

#include "AppState.h"
#include "Messages.h"
#include "ezVidCap.h"

namespace ostrel::shell {

frmVideo::frmVideo(ezVidCap& capture, const AppState& state, QWidget* parent)
    : QWidget(parent, Qt::Window),
      state_(state),
      settings_(QStringLiteral("Video"), 100, 100),
      display_(capture.display()) {
    setObjectName(QStringLiteral("frmVideo"));
    setWindowTitle(QStringLiteral("Ostrel - Video"));
    if (display_) {
        display_->setParent(this);
        display_->move(0, 0);
        display_->show();
    }
    connect(&capture, &ezVidCap::CaptureError, this, &frmVideo::onCaptureError);
    const QSize interior = requiredInteriorSize();
    if (!interior.isEmpty()) {
        resize(interior);
    }
    settings_.restorePosition(this);
    setVisible(settings_.storedVisible());
}

QSize frmVideo::requiredInteriorSize() const {
    if (!display_) {
        return {0, 0};
    }
    return {2 * display_->x() + display_->width(), 2 * display_->y() + display_->height()};
}

void frmVideo::onCaptureError(int code, const QString& text) {
    if (code != 0) {
        ui::ShowMessage(this, QStringLiteral("Error ") + text, QMessageBox::NoIcon);
    }
}

void frmVideo::closeEvent(QCloseEvent* event) {
    if (state_.HideOnClose) {
        event->ignore();
        hide();
        Q_EMIT hiddenByClose();
        return;
    }
    settings_.savePosition(this);
    settings_.saveVisible(isVisible());
    event->accept();
}

}  // namespace ostrel::shell
