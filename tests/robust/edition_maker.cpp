// One edition of a news feed file, stopped dead at a chosen file-system step:
//   edition_maker <news feed file> <history> <step> before|halfway
// writes the edition of what is new beside the file, the history included, and ends
// with _exit at step <step> (see StopAtStep.h). Step 0 stops nowhere and prints the steps
// the edition took, one word each, on one line.
#include "StopAtStep.h"
#include "update/EBookEdition.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char* argv[]) {
    if (argc != 5)
        return 2;
    QCoreApplication app(argc, argv);
    const QString newsFeedFile = QString::fromLocal8Bit(argv[1]);
    EditionJob job;
    job.historyFile = QString::fromLocal8Bit(argv[2]);
    job.limits = {true, 0, 0};
    EditionResult result;
    QString error;
    stopatstep::Arm(std::atoi(argv[3]), std::strcmp(argv[4], "halfway") == 0);
    const bool ok = WriteNewsEdition(newsFeedFile, job, QDateTime::currentDateTime(), &result, &error);
    stopatstep::Disarm();
    if (!ok) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\n", stopatstep::Taken().c_str());
    return 0;
}
