#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace ostrel::ui {

// The application's title, shown on every message box.
inline const QString kAppTitle = QStringLiteral("Ostrel");

// Shows `text` modally in a message box titled "Ostrel" with an OK button and `icon`
// (NoIcon, Information or Critical).
void ShowMessage(QWidget* parent, const QString& text, QMessageBox::Icon icon);

}  // namespace ostrel::ui
