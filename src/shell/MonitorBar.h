#pragma once

#include <QWidget>

namespace ostrel::shell {

// A percentage bar of the Monitor window: green up to the percentage, the part above the
// threshold in red, white after it, and a blue mark at the threshold.
class MonitorBar : public QWidget {
    Q_OBJECT

public:
    explicit MonitorBar(QWidget* parent = nullptr);

    void setValues(int percent, int threshold);
    // Back to a blank surface.
    void clear();

Q_SIGNALS:
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    bool blank_ = true;
    int percent_ = 0;
    int threshold_ = 0;
};

}  // namespace ostrel::shell
