#include "Messages.h"

namespace ostrel::ui {

void ShowMessage(QWidget* parent, const QString& text, QMessageBox::Icon icon) {
    QMessageBox box(icon, kAppTitle, text, QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace ostrel::ui
