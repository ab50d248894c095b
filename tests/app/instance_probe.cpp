// A stand-in for a Pellavo start: either wakes the first instance and ends, or
// becomes the first instance and reports each wake-up, with its tokens, on standard output.
#include "app/CInstanceChecker.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[]) {
    CInstanceChecker::KeepLaunchToken();
    QCoreApplication app(argc, argv);
    CInstanceChecker checker(QStringLiteral("PellavoProbe"));
    QTextStream out(stdout);
    if (!checker.StartOrWake()) {
        out << "SECOND" << Qt::endl;
        return 3;
    }
    QObject::connect(&checker, &CInstanceChecker::anotherInstanceStarted,
                     [&out](const QByteArray& token, const QByteArray& startupId) {
                         out << "WOKEN " << token << ' ' << startupId << Qt::endl;
                     });
    out << "FIRST" << Qt::endl;
    return app.exec();
}
