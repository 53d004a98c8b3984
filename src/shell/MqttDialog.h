#pragma once

#include <QDialog>

#include "LinkSettings.h"

class QLabel;
class QLineEdit;

namespace ostrel::shell {

// Settings, "MQTT...": the broker, the user and password, the name the areas are published
// under and Home Assistant's discovery prefix, with a line that shows whether the link is up.
// It holds nothing (detection goes on while it is open). Apply and OK connect at once; a broker
// address that cannot be used is said in the dialog and nothing changes.
class MqttDialog : public QDialog {
    Q_OBJECT

public:
    // The fields start from `current`.
    explicit MqttDialog(const mqtt::LinkSettings& current, QWidget* parent = nullptr);

    // The link's state line, kept current while the dialog is open.
    void showState(const QString& text);

    QLineEdit* txtBroker = nullptr;
    QLineEdit* txtUser = nullptr;
    QLineEdit* txtPassword = nullptr;
    QLineEdit* txtName = nullptr;
    QLineEdit* txtPrefix = nullptr;
    QLabel* lblState = nullptr;

Q_SIGNALS:
    // The user applied these settings (an empty broker switches the link off).
    void applied(const ostrel::mqtt::LinkSettings& settings);

private:
    // Emits applied() with the fields' settings; false (and why, in the state line) when they
    // cannot be used.
    bool apply();

    mqtt::LinkSettings base_;
};

}  // namespace ostrel::shell
