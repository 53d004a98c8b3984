#pragma once

#include <QWidget>

#include "WindowSettings.h"

namespace ostrel::shell {

struct AppState;

// A secondary window of the program (Monitor, Video): it comes up at its stored place and
// visibility, hides instead of closing while the program runs, and writes its place and
// visibility when it really closes as the program ends.
class HidingWindow : public QWidget {
    Q_OBJECT

public:
    HidingWindow(const AppState& state, WindowSettings settings, QWidget* parent = nullptr);

Q_SIGNALS:
    // A close was turned into hiding, because the program is running.
    void hiddenByClose();

protected:
    // Moves the window to its stored place (and size, with keepSize) and shows it unless it was
    // stored hidden; call once the contents are built.
    void restorePlace();
    // The window's size is stored too; `defaultSize` until it has been.
    void keepSize(QSize defaultSize) { defaultSize_ = defaultSize; }
    void closeEvent(QCloseEvent* event) override;

private:
    const AppState& state_;
    WindowSettings settings_;
    QSize defaultSize_;  // valid when the size is kept
};

}  // namespace ostrel::shell
