// A stand-in for a Pellavo start: either wakes the first instance and ends, or
// becomes the first instance and reports each wake-up on standard output.
#include "app/CInstanceChecker.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    CInstanceChecker checker(QStringLiteral("PellavoProbe"));
    QTextStream out(stdout);
    if (checker.FindFirstInstance()) {
        out << (checker.WakeFirstInstance() ? "WOKE" : "WAKE-FAILED") << Qt::endl;
        return 3;
    }
    if (!checker.RecordFirstInstance()) {
        out << "RECORD-FAILED" << Qt::endl;
        return 1;
    }
    QObject::connect(&checker, &CInstanceChecker::anotherInstanceStarted,
                     [&out] { out << "WOKEN" << Qt::endl; });
    out << "FIRST" << Qt::endl;
    return app.exec();
}
