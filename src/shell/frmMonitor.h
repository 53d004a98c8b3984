#pragma once

#include <cstdint>

#include "AppState.h"
#include "HidingWindow.h"

class QLabel;
class QLineEdit;

namespace ostrel::areas {
class ctlDetArea;
class mdlSub;
}  // namespace ostrel::areas

namespace ostrel::shell {

class MonitorBar;

// The Monitor window: the settings and live values of the selected area. The detection loop
// writes it on every pass; it keeps its own place and visibility, and hides instead of closing
// while the program runs.
class frmMonitor : public HidingWindow {
    Q_OBJECT

public:
    explicit frmMonitor(const AppState& state, QWidget* parent = nullptr);

    // Writes the selected area's values, or the empty form when there is no area. While
    // `editMode` is set the four geometry boxes are left to the editing code.
    void showSelectedArea(const areas::mdlSub& registry);
    // The geometry boxes during editing, as fractions of the frame.
    void showEditGeometry(double top, double left, double width, double height);
    // Red while an area is being edited, black otherwise.
    void setGeometryTextColor(const QColor& color);
    // The caption names the video source's state while it is not "playing" (`state` empty).
    void showSourceTrouble(const QString& state);
    // The MQTT link's state in one line; empty hides the line.
    void showLinkState(const QString& text);

    QLineEdit* txtIndex = nullptr;
    QLineEdit* txtTop = nullptr;
    QLineEdit* txtLeft = nullptr;
    QLineEdit* txtHeight = nullptr;
    QLineEdit* txtWidth = nullptr;
    QLineEdit* txtMotionPer = nullptr;
    MonitorBar* pctMotionPer = nullptr;
    QLineEdit* txtMotionSens = nullptr;
    QLineEdit* txtMotionThreshold = nullptr;
    QLineEdit* txtColorPer = nullptr;
    MonitorBar* pctColorPer = nullptr;
    QLineEdit* txtColorSens = nullptr;
    QLineEdit* txtColorThreshold = nullptr;
    QLineEdit* txtDetColor = nullptr;
    QLineEdit* txtDetColorHex = nullptr;
    QWidget* pctDetColor = nullptr;
    QWidget* pctView = nullptr;
    QLabel* lblLink = nullptr;

Q_SIGNALS:
    // Double-clicks on the value controls ask the main window for its commands.
    void motionSensRequested();
    void motionThresholdRequested();
    void colorSensRequested();
    void colorThresholdRequested();
    void colorRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* addBox(const QString& name, const QString& caption, int row, int column);
    void showNoArea();
    void showArea(const areas::ctlDetArea& area, bool editMode);
    void setDetColorSwatch(const QColor& color);
    void onDoubleClick(QObject* control);

    QLabel* lblMotion_ = nullptr;
    QLabel* lblColor_ = nullptr;
};

// Text forms of the Monitor window.
QString monitorIndexText(std::int32_t number, const QString& key);
QString monitorFractionText(double value);
QString monitorHexColorText(std::int32_t color);

}  // namespace ostrel::shell
