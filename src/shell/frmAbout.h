#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace ostrel::shell {

// The About box: program name, version (major.minor.revision), description and disclaimer.
class frmAbout : public QDialog {
    Q_OBJECT

public:
    explicit frmAbout(QWidget* parent = nullptr);

    QLabel* lblTitle = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblDescription = nullptr;
    QLabel* lblDisclaimer = nullptr;
    QLabel* picIcon = nullptr;
    QPushButton* cmdOK = nullptr;
};

}  // namespace ostrel::shell
