// Downloading a 20 MB feed from a loopback server, against curl's own command line tool
// fetching the same address in the same run. curl's figure is the transfer as curl itself
// times it (from before its name look-up to the last byte written), without starting the
// process; ours is the whole Download call, the setting up of its handles included.

#include "TestHttpServer.h"
#include "benchsupport.h"
#include "testsupport.h"
#include "update/CWebAccess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

using namespace pellavo;

int main(int argc, char** argv) {
    // Loopback traffic must not go through a proxy, neither ours nor curl's.
    pellavo::test::prepareEnvironment();
    QCoreApplication app(argc, argv);
    constexpr qsizetype Size = 20 * 1000 * 1000;
    constexpr int Runs = 7;

    QByteArray body(Size, '\0');
    for (qsizetype i = 0; i < body.size(); ++i)
        body[i] = char("<item>feed text</item>\n"[i % 23]);
    test::TestHttpServer server;
    if (!server.start()) {
        std::fprintf(stderr, "cannot start the server: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    server.setRoute("/big.xml", test::HttpResponse::ok(body));
    const QString url = server.url(QStringLiteral("/big.xml"));
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("NEW.tmp"));

    std::vector<double> ours;
    std::vector<double> curl;
    for (int i = 0; i < Runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        CWebAccess web(QStringLiteral("Corvantis RSS Reader"));
        if (web.Download(url, target) != 1 || QFileInfo(target).size() != Size) {
            std::fprintf(stderr, "download failed\n");
            return 1;
        }
        ours.push_back(double(timer.nsecsElapsed()) / 1e6);

        QProcess process;
        process.start(QStringLiteral("curl"),
                      {QStringLiteral("-s"), QStringLiteral("-w"), QStringLiteral("%{time_total}"),
                       QStringLiteral("-o"), target, url});
        bool timed = false;
        const double seconds = process.waitForFinished(60000) && process.exitCode() == 0
                                   ? process.readAllStandardOutput().trimmed().toDouble(&timed)
                                   : 0;
        if (!timed || QFileInfo(target).size() != Size) {
            std::fprintf(stderr, "curl failed (is it installed?)\n");
            return 1;
        }
        curl.push_back(seconds * 1e3);
    }
    const bench::Figure oursFigure = bench::summarise(ours);
    const bench::Figure curlFigure = bench::summarise(curl);
    bench::printFigure(QStringLiteral("fetch_20MB_CWebAccess"), oursFigure, QStringLiteral("ms"));
    bench::printFigure(QStringLiteral("fetch_20MB_curl"), curlFigure, QStringLiteral("ms"));
    bench::printRatio(QStringLiteral("fetch_20MB"), oursFigure.median / curlFigure.median,
                      QStringLiteral("CWebAccess::Download"), QStringLiteral("curl's own time_total"));
    return 0;
}
