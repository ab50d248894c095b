// One delivery pass in a process of its own, for the test that kills it in the middle.
// Arguments: OUTBOX EDITION PORT ADDRESS
#include "delivery/Deliverer.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5)
        return 2;
    Deliverer::Options options;
    options.outboxPath = args.at(1);
    options.settings.smtpHost = QStringLiteral("127.0.0.1");
    options.settings.smtpPort = args.at(3).toInt();
    options.settings.smtpSecurity = QStringLiteral("none");
    options.settings.mailTo = args.at(4);
    options.settings.mailFrom = QStringLiteral("pellavo@example.org");
    Deliverer(options).Run(args.at(2), {1, 1}, QDateTime::currentDateTime());
    return 0;
}
