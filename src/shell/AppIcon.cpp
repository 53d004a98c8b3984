#include "AppIcon.h"

namespace ostrel::shell {

QIcon appIcon() {
    return QIcon(QStringLiteral(":/icons/org.ostrel.Ostrel.svg"));
}

}  // namespace ostrel::shell
