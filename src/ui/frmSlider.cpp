#include "frmSlider.h"

#include <QBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

namespace ostrel::ui {

frmSlider::frmSlider(DialogValues& values, QWidget* parent)
    : QDialog(parent, kFixedDialogFlags), values_(values) {
    setModal(true);

    // The slider with its value beside it, which follows the slider as it moves.
    auto* content = new QWidget(this);
    sldSlider_ = new QSlider(Qt::Horizontal, content);
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
    auto* lblValue = new QLabel(QString::number(sldSlider_->value()), content);
    lblValue->setObjectName(QStringLiteral("lblValue"));
    lblValue->setMinimumWidth(lblValue->fontMetrics().horizontalAdvance(QStringLiteral("000")));
    lblValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    connect(sldSlider_, &QSlider::valueChanged, lblValue,
            [lblValue](int value) { lblValue->setText(QString::number(value)); });
    auto* row = new QHBoxLayout(content);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(sldSlider_);
    row->addWidget(lblValue);

    const OkCancel buttons = layOutValueDialog(this, content);
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
