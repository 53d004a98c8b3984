#pragma once

#include <QString>
#include <QStringList>

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
};

// Reads the program's arguments (`arguments` starts with the program's own name). Needs no
// application object and no display.
CommandLine parseCommandLine(const QStringList& arguments);

// A display the windows can go to: DISPLAY, WAYLAND_DISPLAY, or a platform named in
// QT_QPA_PLATFORM.
bool displayAvailable();

}  // namespace ostrel::shell
