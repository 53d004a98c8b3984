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
    txtKey_->setMaxLength(int(areas::kMaxKeyLength));
    const OkCancel buttons = layOutValueDialog(this, txtKey_);
    cmdOk_ = buttons.cmdOk;
    cmdCancel_ = buttons.cmdCancel;

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
