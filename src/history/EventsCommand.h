#pragma once

#include <cstdio>

#include <QStringList>

namespace ostrel::history {

// `ostrel events [--name NAME] [--since DURATION|TIME] [--area KEY] [--format text|csv|json]`:
// prints the event history of the Ostrel named NAME, oldest first, while that Ostrel may be
// writing to it. `arguments` are those after "events". Needs no display, no session bus and no
// application object. Returns the exit status: 0, 1 when there is no history to read, 2 for a
// wrong command line.
int runEventsCommand(const QStringList& arguments, std::FILE* out, std::FILE* err);

}  // namespace ostrel::history
