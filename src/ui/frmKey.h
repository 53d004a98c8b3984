#pragma once

#include <QDialog>

#include "ValueDialogs.h"

class QLineEdit;
class QPushButton;

namespace ostrel::ui {

// "Area Key": asks for the key of a new area. OK (the default button) stores the text without
// its leading and trailing spaces in EnteredKey; Cancel and Esc store the empty text; closing
// the window any other way leaves EnteredKey as the previous use left it.
class frmKey : public QDialog {
    Q_OBJECT

public:
    frmKey(DialogValues& values, QWidget* parent);

    QLineEdit* txtKey() const { return txtKey_; }
    QPushButton* cmdOk() const { return cmdOk_; }
    QPushButton* cmdCancel() const { return cmdCancel_; }

protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void cmdOk_Click();
    void cmdCancel_Click();

    DialogValues& values_;
    QLineEdit* txtKey_;
    QPushButton* cmdOk_;
    QPushButton* cmdCancel_;
};

}  // namespace ostrel::ui
