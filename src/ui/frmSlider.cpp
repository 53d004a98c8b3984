#include "frmSlider.h"

#include <QBoxLayout>
#include <QPushButton>
#include <QSlider>

namespace ostrel::ui {

frmSlider::frmSlider(DialogValues& values, QWidget* parent)
    : QDialog(parent, kFixedDialogFlags), values_(values) {
    setModal(true);

    sldSlider_ = new QSlider(Qt::Horizontal, this);
    sldSlider_->setObjectName(QStringLiteral("sldSlider"));
    sldSlider_->setMinimumWidth(300);
    sldSlider_->setTickPosition(QSlider::TicksBelow);
    sldSlider_->setMinimum(0);
    sldSlider_->setMaximum(values_.SliderMax);
    const int ticks = values_.SliderMax == 100 ? 10 : 32;
    sldSlider_->setTickInterval(ticks);
    sldSlider_->setSingleStep(1);
    sldSlider_->setPageStep(ticks);
    sldSlider_->setValue(values_.SliderValue);

    const OkCancel buttons = layOutValueDialog(this, sldSlider_);
    cmdOk_ = buttons.cmdOk;
    cmdCancel_ = buttons.cmdCancel;

    connect(cmdOk_, &QPushButton::clicked, this, &frmSlider::cmdOk_Click);
    // Esc ends the dialog through reject() as well, which is what Cancel does.
    connect(cmdCancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void frmSlider::cmdOk_Click() {
    values_.SliderValue = sldSlider_->value();
    accept();
}

}  // namespace ostrel::ui
