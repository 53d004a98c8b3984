#include "frmKey.h"

#include <QBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include "AreaCollection.h"

namespace ostrel::ui {

frmKey::frmKey(DialogValues& values, QWidget* parent)
    : QDialog(parent, kFixedDialogFlags), values_(values) {
    setModal(true);
    setWindowTitle(QStringLiteral("Area Key"));

    txtKey_ = new QLineEdit(this);
    txtKey_->setObjectName(QStringLiteral("txtKey"));
    txtKey_->setMinimumWidth(240);
    cmdOk_ = new QPushButton(QStringLiteral("OK"), this);
    cmdOk_->setObjectName(QStringLiteral("cmdOk"));
    cmdOk_->setDefault(true);
    cmdCancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel_->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel_->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOk_);
    buttons->addWidget(cmdCancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(txtKey_);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(cmdOk_, &QPushButton::clicked, this, &frmKey::cmdOk_Click);
    connect(cmdCancel_, &QPushButton::clicked, this, &frmKey::cmdCancel_Click);
    txtKey_->setFocus();
}

void frmKey::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        txtKey_->setFocus(Qt::ActiveWindowFocusReason);
    }
    QDialog::changeEvent(event);
}

void frmKey::keyPressEvent(QKeyEvent* event) {
    // Esc is the Cancel button here, which empties the key; QDialog would only reject().
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        cmdCancel_->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmKey::cmdOk_Click() {
    values_.EnteredKey = areas::TrimKey(txtKey_->text());
    accept();
}

void frmKey::cmdCancel_Click() {
    values_.EnteredKey.clear();
    reject();
}

}  // namespace ostrel::ui
