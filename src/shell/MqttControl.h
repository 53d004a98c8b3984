#pragma once

#include <optional>

#include <QObject>
#include <QPointer>

#include "LinkSettings.h"
#include "MqttDialog.h"
#include "MqttLink.h"

namespace ostrel::areas {
class frmTimer;
}

namespace ostrel::shell {

class frmOstrel;

// The MQTT link in the program: its settings (the command line's, else the stored ones), the
// Settings menu's dialog, the Monitor window's line, and the link's messages through the
// reporter. The same in the GUI and headless.
class MqttControl : public QObject {
    Q_OBJECT

public:
    // `window` and `timer` must outlive the control. `commandLine`: the link of --mqtt, which
    // wins over the stored settings; `nameGiven`: the instance's name came from --name, which
    // wins over a stored name.
    MqttControl(frmOstrel& window, areas::frmTimer& timer,
                const std::optional<mqtt::LinkSettings>& commandLine, bool nameGiven);
    ~MqttControl() override;

    mqtt::MqttLink& link() { return link_; }
    // Opens the dialog, or raises the one that is open.
    void showDialog();
    MqttDialog* dialog() const { return dialog_; }

private:
    void apply(const mqtt::LinkSettings& settings);
    void showState();
    void onMessage(mqtt::MqttLink::Importance importance, const QString& text);

    frmOstrel& window_;
    mqtt::MqttLink link_;
    QPointer<MqttDialog> dialog_;
};

// The link kept in the user's settings (group "MQTT"); disabled when none is kept. `name` is
// the instance's name, kept unless `nameGiven` is false and a name is stored.
mqtt::LinkSettings storedMqttSettings(const QString& name, bool nameGiven);
// Keeps `settings` in the user's settings file, which only the user may read (it holds the
// password).
void storeMqttSettings(const mqtt::LinkSettings& settings);

}  // namespace ostrel::shell
