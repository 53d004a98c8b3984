#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include "MqttControl.h"
#include "frmMonitor.h"
#include "frmOstrel.h"
#include "frmTimer.h"
#include "support/DialogAnswers.h"

using namespace ostrel;

namespace {

int freePort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(probe);
    return ntohs(address.sin_port);
}

void apply(shell::MqttDialog& dialog) {
    dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Apply)->click();
}

}  // namespace

// The dialog holds nothing, refuses an address it cannot use, connects at once, and keeps the
// settings in a file only the user can read; the Monitor window shows the link's state.
TEST(MqttSettings, DialogConnectsAtOnceAndKeepsThePasswordPrivate) {
    QSettings().clear();
    const int port = freePort();
    QProcess broker;
    broker.start(QStringLiteral("mosquitto"), {QStringLiteral("-p"), QString::number(port)});
    ASSERT_TRUE(broker.waitForStarted());

    shell::frmOstrel window;
    ASSERT_TRUE(window.load());
    areas::frmTimer timer(window.registry());
    shell::MqttControl control(window, timer, std::nullopt, false);
    QLabel* line = window.monitor()->lblLink;
    EXPECT_TRUE(line->isHidden());

    window.menu().mnuMqtt->trigger();
    shell::MqttDialog* dialog = control.dialog();
    ASSERT_TRUE(dialog != nullptr && dialog->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the dialog holds detection";
    dialog->txtBroker->setText(QStringLiteral("http://127.0.0.1:%1").arg(port));
    apply(*dialog);
    EXPECT_TRUE(dialog->lblState->text().startsWith(QStringLiteral("Not applied")));
    EXPECT_EQ(control.link().state(), mqtt::MqttLink::State::Off);

    dialog->txtBroker->setText(QStringLiteral("mqtt://127.0.0.1:%1").arg(port));
    dialog->txtPassword->setText(QStringLiteral("secret"));
    dialog->txtName->setText(QStringLiteral("Porch"));
    apply(*dialog);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return control.link().state() == mqtt::MqttLink::State::Connected; }, 10000));
    EXPECT_TRUE(line->isVisibleTo(window.monitor()));
    EXPECT_EQ(line->text(),
              QStringLiteral("MQTT: connected to mqtt://127.0.0.1:%1 as ostrel/porch").arg(port));
    EXPECT_EQ(dialog->lblState->text(), line->text());

    const QFileInfo file(QSettings().fileName());
    EXPECT_EQ(file.permissions() &
                  ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
              QFile::Permissions());
    const mqtt::LinkSettings stored = shell::storedMqttSettings(QStringLiteral("other"), false);
    EXPECT_EQ(stored, control.link().settings());
    EXPECT_EQ(stored.password, QStringLiteral("secret"));
    EXPECT_EQ(shell::storedMqttSettings(QStringLiteral("given"), true).name,
              QStringLiteral("given"));
    window.endProgram();
    broker.kill();
    broker.waitForFinished();
}
