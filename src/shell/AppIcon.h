#pragma once

#include <QIcon>

namespace ostrel::shell {

// Ostrel's own icon, from the program's resources so that it shows whether or not Ostrel is
// installed. The same drawing is installed in the desktop's icon theme for the menu entry.
QIcon appIcon();

}  // namespace ostrel::shell
