#include "HidingWindow.h"

#include <QCloseEvent>

#include "AppState.h"

namespace ostrel::shell {

HidingWindow::HidingWindow(const AppState& state, WindowSettings settings, QWidget* parent)
    : QWidget(parent, Qt::Window), state_(state), settings_(std::move(settings)) {}

void HidingWindow::restorePlace() {
    settings_.restorePosition(this);
    if (defaultSize_.isValid()) {
        settings_.restoreSize(this, defaultSize_);
    }
    setVisible(settings_.storedVisible());
}

void HidingWindow::closeEvent(QCloseEvent* event) {
    if (state_.HideOnClose) {
        event->ignore();
        hide();
        Q_EMIT hiddenByClose();
        return;
    }
    settings_.savePosition(this);
    if (defaultSize_.isValid()) {
        settings_.saveSize(this);
    }
    settings_.saveVisible(isVisible());
    event->accept();
}

}  // namespace ostrel::shell
