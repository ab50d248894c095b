#include "CPellavoApp.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // No organisation, so that the per-user data folder is plainly ".../Pellavo".
    QApplication::setOrganizationName(QString());
    QApplication::setApplicationName(QStringLiteral("Pellavo"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    QApplication::setDesktopFileName(QStringLiteral("pellavo"));

    CPellavoApp pellavo;
    if (!pellavo.InitInstance())
        return 0;
    return app.exec();
}
