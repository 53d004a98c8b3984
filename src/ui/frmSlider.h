#pragma once

#include <QDialog>

#include "ValueDialogs.h"

class QPushButton;
class QSlider;

namespace ostrel::ui {

// Asks for a whole number between 0 and SliderMax with a horizontal slider. The slider is set up
// from `values` when the dialog is created; the caller sets the caption and runs exec(). OK (the
// default button) stores the position in SliderValue; Cancel, Esc and the close box leave
// SliderValue as it was.
class frmSlider : public QDialog {
    Q_OBJECT

public:
    frmSlider(DialogValues& values, QWidget* parent);

    QSlider* sldSlider() const { return sldSlider_; }
    QPushButton* cmdOk() const { return cmdOk_; }
    QPushButton* cmdCancel() const { return cmdCancel_; }

private:
    void cmdOk_Click();

    DialogValues& values_;
    QSlider* sldSlider_;
    QPushButton* cmdOk_;
    QPushButton* cmdCancel_;
};

}  // namespace ostrel::ui
