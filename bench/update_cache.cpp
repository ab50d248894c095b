// Two consecutive "Update All" runs of 120 unchanged 40 KB feeds whose server honours
// validators: the second run, which has the first run's copies, against the first, which
// starts with an empty cache. Bytes are the server's own count of what it sent.
// Each pair of runs is measured on bare loopback, where only the local work counts, and
// over a modelled link (an answer delay and a per-connection rate), where the transfer does.

#include "TestHttpServer.h"
#include "benchsupport.h"
#include "testsupport.h"
#include "update/FeedCache.h"
#include "updatebench.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

using namespace pellavo::bench;
using namespace pellavo::test;

namespace {

constexpr int kFeeds = 120;
constexpr int kFeedBytes = 40 * 1024;
constexpr int kPairs = 3;

struct Link {
    const char* name;
    int delayMs;    // before each answer, 304s included
    int pieceBytes; // the body goes out in pieces of this size...
    int pieceGapMs; // ...this far apart
};

struct Run {
    double ms = 0;
    qint64 bytes = 0;
    QByteArray file;
    bool ok = false;
};

Run UpdateAll(const TestHttpServer& server, const QStringList& urls, const QString& output,
              const std::shared_ptr<FeedCache>& cache) {
    Run run;
    const qint64 before = server.totalBytesSent();
    QElapsedTimer timer;
    timer.start();
    run.ok = RunUpdateEngine(urls, output, 8, 4, cache);
    run.ms = double(timer.nsecsElapsed()) / 1e6;
    run.bytes = server.totalBytesSent() - before;
    QFile written(output);
    if (written.open(QIODevice::ReadOnly))
        run.file = written.readAll();
    return run;
}

} // namespace

int main(int argc, char** argv) {
    pellavo::test::prepareEnvironment();
    QTemporaryDir dir;
    QCoreApplication app(argc, argv);

    TestHttpServer server;
    if (!server.start()) {
        std::fprintf(stderr, "cannot start the server: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    const QString output = dir.filePath(QStringLiteral("news.nff"));
    const std::vector<Link> links = {{"loopback", 0, 0, 0}, {"link", 20, 4096, 10}};
    bool ok = true;
    int round = 0;
    for (const Link& link : links) {
        QStringList urls;
        for (int i = 0; i < kFeeds; ++i) {
            const QByteArray path = "/" + QByteArray(link.name) + "/" + QByteArray::number(i) + ".xml";
            HttpResponse response =
                HttpResponse::ok(rssDocument("Feed " + QByteArray::number(i), kFeedBytes));
            response.headers.append({"ETag", "\"" + QByteArray::number(i) + "-v1\""});
            response.headers.append({"Last-Modified", QByteArray("Mon, 06 May 2024 08:00:00 GMT")});
            response.honourValidators = true;
            response.delayMs = link.delayMs;
            response.dribbleBytes = link.pieceBytes;
            response.dribbleIntervalMs = link.pieceGapMs;
            server.setRoute(path, response);
            urls << server.url(QString::fromLatin1(path));
        }
        std::vector<double> firstMs, secondMs, firstBytes, secondBytes;
        for (int pair = 0; pair < kPairs; ++pair) {
            auto cache = std::make_shared<FeedCache>(dir.filePath(QStringLiteral("cache%1").arg(++round)));
            const Run first = UpdateAll(server, urls, output, cache);
            const Run second = UpdateAll(server, urls, output, cache);
            ok = ok && first.ok && second.ok && !first.file.isEmpty() && first.file == second.file;
            firstMs.push_back(first.ms);
            secondMs.push_back(second.ms);
            firstBytes.push_back(double(first.bytes));
            secondBytes.push_back(double(second.bytes));
        }
        const QString prefix = QStringLiteral("update_cache_%1_").arg(QLatin1StringView(link.name));
        const Figure firstTime = summarise(firstMs);
        const Figure secondTime = summarise(secondMs);
        const Figure firstSent = summarise(firstBytes);
        const Figure secondSent = summarise(secondBytes);
        printFigure(prefix + QStringLiteral("first_run"), firstTime, QStringLiteral("ms"));
        printFigure(prefix + QStringLiteral("second_run"), secondTime, QStringLiteral("ms"));
        printFigure(prefix + QStringLiteral("first_run_sent"), firstSent, QStringLiteral("bytes"));
        printFigure(prefix + QStringLiteral("second_run_sent"), secondSent, QStringLiteral("bytes"));
        printRatio(prefix + QStringLiteral("bytes"), secondSent.median / firstSent.median,
                   QStringLiteral("second run"), QStringLiteral("first run"));
        printRatio(prefix + QStringLiteral("time"), secondTime.median / firstTime.median,
                   QStringLiteral("second run"), QStringLiteral("first run"));
    }
    server.stop();
    if (!ok) {
        std::fprintf(stderr, "a run failed, or the second run's file differs from the first's\n");
        return 1;
    }
    return 0;
}
