// "Update All" of 300 small feeds on 10 loopback hosts over a link with latency: each
// server waits 40 ms before every answer and 40 ms more on the first request of a new
// connection (standing in for the handshake), and keeps connections alive. The update
// engine (8 at once, 4 per host) against curl's parallel mode with the same total limit,
// the addresses taken in turns across the hosts so that curl keeps within the per-host one.

#include "benchsupport.h"
#include "testsupport.h"
#include "updatebench.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

using namespace pellavo::bench;

namespace {

constexpr int kFeeds = 300;
constexpr int kHosts = 10;
constexpr int kFeedBytes = 8 * 1024;
constexpr int kDelayMs = 40;
constexpr int kHandshakeMs = 40;
constexpr int kRuns = 5;

} // namespace

int main(int argc, char** argv) {
    pellavo::test::prepareEnvironment();
    QTemporaryDir dir;
    QCoreApplication app(argc, argv);

    const QByteArray body = rssDocument("Latency", kFeedBytes);
    const auto servers = StartDelayedServers(kHosts, body, kDelayMs, true, kHandshakeMs);
    if (servers.empty())
        return 1;
    QStringList urls;
    for (int i = 0; i < kFeeds; ++i)
        urls << QStringLiteral("http://127.0.0.%1:%2/feeds/%3.xml")
                    .arg(i % kHosts + 1)
                    .arg(servers[i % kHosts]->Port())
                    .arg(i);
    const QString output = dir.filePath(QStringLiteral("news.nff"));

    bool ok = true;
    std::vector<double> engine, viaCurl;
    // Taken in turns, so that a slow moment of the machine weighs on both alike.
    for (int run = 0; run < kRuns; ++run) {
        engine.push_back(timeMs(1, [&] { ok = RunUpdateEngine(urls, output) && ok; }).median);
        viaCurl.push_back(timeMs(1, [&] {
                              ok = RunCurlParallel(urls, dir.filePath(QStringLiteral("curl")), 8) && ok;
                          }).median);
    }
    const Figure engineFigure = summarise(engine);
    const Figure curlFigure = summarise(viaCurl);
    printFigure(QStringLiteral("update_latency_engine"), engineFigure, QStringLiteral("ms"));
    printFigure(QStringLiteral("update_latency_curl_parallel_8"), curlFigure, QStringLiteral("ms"));
    printRatio(QStringLiteral("update_latency_vs_curl"), engineFigure.median / curlFigure.median,
               QStringLiteral("engine"),
               QStringLiteral("curl --parallel --parallel-immediate --parallel-max 8"));
    if (!ok) {
        std::fprintf(stderr, "a run did not fetch every feed\n");
        return 1;
    }
    return 0;
}
