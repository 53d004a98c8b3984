#pragma once

#include <optional>

#include <QString>
#include <QStringList>

#include "LinkSettings.h"
#include "frmOstrel.h"

namespace ostrel::shell {

// What the command line asks for.
struct CommandLine {
    enum class Action {
        Run,      // start with `options`
        Help,     // print `text` on standard output, exit 0
        Version,  // the same
        Misuse,   // print `text` (the fault and the usage) on standard error, exit 2
    };
    Action action = Action::Run;
    QString text;
    StartOptions options;
    // The name given with --name; empty without one.
    QString explicitName;
    // The MQTT link of --mqtt and its companions; nothing without --mqtt.
    std::optional<mqtt::LinkSettings> mqtt;
};

// Reads the program's arguments (`arguments` starts with the program's own name). Needs no
// application object and no display. The MQTT password comes from the environment variable
// OSTREL_MQTT_PASSWORD or the file of --mqtt-password-file, never from the arguments.
CommandLine parseCommandLine(const QStringList& arguments);

// A display the windows can go to: DISPLAY, WAYLAND_DISPLAY, or a platform named in
// QT_QPA_PLATFORM.
bool displayAvailable();

}  // namespace ostrel::shell
