#include <QApplication>

#include "frmOstrel.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Ostrel"));
    QApplication::setApplicationName(QStringLiteral("Ostrel"));
    QApplication::setApplicationVersion(QStringLiteral(OSTREL_VERSION_STRING));
    ostrel::shell::frmOstrel window;
    window.show();
    return app.exec();
}
