#include "MqttDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "MqttError.h"

namespace ostrel::shell {

namespace {

QLineEdit* addField(QFormLayout* form, const QString& name, const QString& caption,
                    const QString& text) {
    auto* field = new QLineEdit(text);
    field->setObjectName(name);
    form->addRow(caption, field);
    return field;
}

}  // namespace

MqttDialog::MqttDialog(const mqtt::LinkSettings& current, QWidget* parent)
    : QDialog(parent), base_(current) {
    setWindowTitle(QStringLiteral("Ostrel - MQTT"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    mqtt::LinkSettings withoutUser = current;
    withoutUser.user.clear();
    txtBroker = addField(form, QStringLiteral("txtBroker"), QStringLiteral("&Broker:"),
                         current.enabled() ? withoutUser.url() : QString());
    txtBroker->setPlaceholderText(QStringLiteral("mqtt://host:1883 (empty: off)"));
    txtUser = addField(form, QStringLiteral("txtUser"), QStringLiteral("&User:"), current.user);
    txtPassword = addField(form, QStringLiteral("txtPassword"), QStringLiteral("&Password:"),
                           current.password);
    txtPassword->setEchoMode(QLineEdit::Password);
    txtName = addField(form, QStringLiteral("txtName"), QStringLiteral("&Name:"), current.name);
    txtPrefix = addField(form, QStringLiteral("txtPrefix"), QStringLiteral("&Discovery prefix:"),
                         current.discoveryPrefix);
    lblState = new QLabel(this);
    lblState->setObjectName(QStringLiteral("lblState"));
    lblState->setWordWrap(true);
    layout->addWidget(lblState);
    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Apply | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
            &MqttDialog::apply);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (apply()) {
            accept();
        }
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void MqttDialog::showState(const QString& text) {
    lblState->setStyleSheet(QString());
    lblState->setText(text);
}

bool MqttDialog::apply() {
    mqtt::LinkSettings settings = base_;
    settings.host.clear();
    settings.user = txtUser->text().trimmed();
    settings.password = txtPassword->text();
    settings.name = txtName->text().trimmed();
    settings.discoveryPrefix = txtPrefix->text().trimmed();
    try {
        if (settings.name.isEmpty()) {
            throw mqtt::MqttSettingsError("the name must not be empty");
        }
        mqtt::checkDiscoveryPrefix(settings.discoveryPrefix);
        if (!txtBroker->text().trimmed().isEmpty()) {
            const QString user = settings.user;
            mqtt::applyBrokerUrl(txtBroker->text(), settings);
            if (!user.isEmpty()) {
                settings.user = user;  // the field wins over a user in the address
            }
        }
    } catch (const mqtt::MqttSettingsError& fault) {
        lblState->setStyleSheet(QStringLiteral("color: red"));
        lblState->setText(
            QStringLiteral("Not applied: %1.").arg(QString::fromStdString(fault.what())));
        return false;
    }
    if (!settings.tls) {
        settings.caFile.clear();
    }
    base_ = settings;
    Q_EMIT applied(settings);
    return true;
}

}  // namespace ostrel::shell
