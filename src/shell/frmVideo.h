#pragma once

#include <QPointer>
#include <QSize>
#include <QWidget>

#include "HidingWindow.h"

namespace ostrel::capture {
class ezVidCap;
}

namespace ostrel::shell {

struct AppState;

// The Video window: holds the capture control's live picture and nothing else. It keeps its
// position and visibility in the settings store ("VideoLeft", "VideoTop", "VideoVisible").
class frmVideo : public HidingWindow {
    Q_OBJECT

public:
    // Loads the window: takes the capture control's display, and restores its position and
    // visibility (shown unless "VideoVisible" says "False").
    frmVideo(capture::ezVidCap& capture, const AppState& state, QWidget* parent = nullptr);

    // The interior size that fits the live picture with equal margins on both sides:
    // 2 × left + width by 2 × top + height of the display.
    QSize requiredInteriorSize() const;
    QWidget* captureDisplay() const { return display_.data(); }

private:
    QPointer<QWidget> display_;
};

}  // namespace ostrel::shell
