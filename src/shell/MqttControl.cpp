#include "MqttControl.h"

#include <QAction>
#include <QFile>
#include <QSettings>

#include "MqttDialog.h"
#include "MqttError.h"
#include "frmMonitor.h"
#include "frmOstrel.h"

namespace ostrel::shell {

namespace {

const QString kGroup = QStringLiteral("MQTT");

// The settings file holds the password: only its owner reads it.
void keepPrivate(const QSettings& settings) {
    if (QFile::exists(settings.fileName())) {
        QFile::setPermissions(settings.fileName(), QFile::ReadOwner | QFile::WriteOwner);
    }
}

}  // namespace

mqtt::LinkSettings storedMqttSettings(const QString& name, bool nameGiven) {
    QSettings settings;
    settings.beginGroup(kGroup);
    mqtt::LinkSettings stored;
    stored.name = name;
    const QString broker = settings.value(QStringLiteral("Broker")).toString();
    if (broker.isEmpty()) {
        return stored;
    }
    mqtt::applyBrokerUrl(broker, stored);
    stored.user = settings.value(QStringLiteral("User"), stored.user).toString();
    stored.password = settings.value(QStringLiteral("Password")).toString();
    const QString storedName = settings.value(QStringLiteral("Name")).toString();
    if (!nameGiven && !storedName.isEmpty()) {
        stored.name = storedName;
    }
    const QString prefix = settings.value(QStringLiteral("DiscoveryPrefix")).toString();
    if (!prefix.isEmpty()) {
        mqtt::checkDiscoveryPrefix(prefix);
        stored.discoveryPrefix = prefix;
    }
    return stored;
}

void storeMqttSettings(const mqtt::LinkSettings& link) {
    QSettings settings;
    settings.beginGroup(kGroup);
    mqtt::LinkSettings withoutUser = link;
    withoutUser.user.clear();
    settings.setValue(QStringLiteral("Broker"), link.enabled() ? withoutUser.url() : QString());
    settings.setValue(QStringLiteral("User"), link.user);
    settings.setValue(QStringLiteral("Name"), link.name);
    settings.setValue(QStringLiteral("DiscoveryPrefix"), link.discoveryPrefix);
    // The file is made private before the password is in it.
    settings.sync();
    keepPrivate(settings);
    settings.setValue(QStringLiteral("Password"), link.password);
    settings.sync();
    keepPrivate(settings);
}

MqttControl::MqttControl(frmOstrel& window, areas::frmTimer& timer,
                         const std::optional<mqtt::LinkSettings>& commandLine, bool nameGiven)
    : window_(window), link_(window.registry(), timer) {
    connect(&link_, &mqtt::MqttLink::stateChanged, this, &MqttControl::showState);
    connect(&link_, &mqtt::MqttLink::message, this, &MqttControl::onMessage);
    // The areas are cleared away when the program ends; that must not remove their entities.
    connect(&window_, &frmOstrel::ended, &link_, &mqtt::MqttLink::shutDown);
    connect(window_.menu().mnuMqtt, &QAction::triggered, this, &MqttControl::showDialog);
    mqtt::LinkSettings settings;
    try {
        settings =
            commandLine ? *commandLine : storedMqttSettings(window_.options().name, nameGiven);
    } catch (const mqtt::MqttSettingsError& fault) {
        window_.reporter().log(Level::Warning, QStringLiteral("MQTT: the stored settings cannot "
                                                              "be used: %1")
                                                   .arg(QString::fromStdString(fault.what())));
        settings.name = window_.options().name;
    }
    if (settings.enabled()) {
        link_.configure(settings);
    } else {
        showState();
    }
}

MqttControl::~MqttControl() {
    // The link says goodbye as it goes, after the members it would show that on.
    disconnect(&link_, nullptr, this, nullptr);
    delete dialog_.data();
}

void MqttControl::showDialog() {
    if (!dialog_) {
        mqtt::LinkSettings current = link_.settings();
        if (!current.enabled()) {
            current.name = window_.options().name;
        }
        dialog_ = new MqttDialog(current, &window_);
        dialog_->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog_, &MqttDialog::applied, this, &MqttControl::apply);
        dialog_->showState(link_.stateText());
    }
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
}

void MqttControl::apply(const mqtt::LinkSettings& settings) {
    storeMqttSettings(settings);
    link_.configure(settings);
}

void MqttControl::showState() {
    const bool off = link_.state() == mqtt::MqttLink::State::Off;
    if (frmMonitor* monitor = window_.monitor()) {
        monitor->showLinkState(off ? QString() : link_.stateText());
    }
    if (dialog_) {
        dialog_->showState(link_.stateText());
    }
}

// Every message is a log line; the first failure of a run is also a box (which holds nothing).
void MqttControl::onMessage(mqtt::MqttLink::Importance importance, const QString& text) {
    Reporter& reporter = window_.reporter();
    const Level level =
        importance == mqtt::MqttLink::Importance::Info ? Level::Info : Level::Warning;
    reporter.log(level, text);
    if (importance == mqtt::MqttLink::Importance::Trouble && !reporter.headless()) {
        reporter.report(level, text);
    }
}

}  // namespace ostrel::shell
