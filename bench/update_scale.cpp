// "Update All" of 2,000 small feeds (about 20 KB, 12 items each) that nginx serves from
// four loopback addresses: the update engine (8 at once, 4 per host) against curl's own
// parallel mode fetching the same addresses with the same total limit.
// The engine's first run starts with an empty feed cache and curl with an empty folder; the
// engine's second run has the first run's copies and asks the server only whether they changed.
// Every file (the served feeds, the cache, the downloads, curl's output) is in memory where
// the system has a /dev/shm.

#include "benchsupport.h"
#include "testsupport.h"
#include "update/FeedCache.h"
#include "updatebench.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

using namespace pellavo::bench;

namespace {

constexpr int kFeeds = 2000;
constexpr int kFeedBytes = 20 * 1024;
constexpr int kAddresses = 4;
constexpr int kItems = 12;
constexpr int kRuns = 5;

} // namespace

int main(int argc, char** argv) {
    // Its 20,000-odd files live in memory where the system offers it: on a disk, what other
    // programs deleted in the last minutes makes creating files many times slower, for
    // curl and the engine alike, and would decide the figures.
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        qputenv("TMPDIR", "/dev/shm");
    pellavo::test::prepareEnvironment();
    QTemporaryDir dir;
    QCoreApplication app(argc, argv);

    Nginx nginx;
    const QStringList urls = ServeFeeds(nginx, dir.path(), kFeeds, kFeedBytes, kItems, kAddresses);
    if (urls.isEmpty())
        return 1;
    const QString output = dir.filePath(QStringLiteral("news.nff"));

    // Taken in turns, so that a slow moment of the machine weighs on both alike.
    bool ok = true;
    std::vector<double> cold, warm, viaCurl;
    for (int run = 0; run < kRuns; ++run) {
        const auto cache = std::make_shared<FeedCache>(dir.filePath(QStringLiteral("cache%1").arg(run)));
        cold.push_back(timeMs(1, [&] { ok = RunUpdateEngine(urls, output, 8, 4, cache) && ok; }).median);
        warm.push_back(timeMs(1, [&] { ok = RunUpdateEngine(urls, output, 8, 4, cache) && ok; }).median);
        viaCurl.push_back(
            timeMs(1, [&] {
                ok = RunCurlParallel(urls, dir.filePath(QStringLiteral("curl%1").arg(run)), 8) && ok;
            }).median);
    }
    const Figure coldFigure = summarise(cold);
    const Figure warmFigure = summarise(warm);
    const Figure curlFigure = summarise(viaCurl);
    printFigure(QStringLiteral("update_2000_engine_empty_cache"), coldFigure, QStringLiteral("ms"));
    printFigure(QStringLiteral("update_2000_engine_warm_cache"), warmFigure, QStringLiteral("ms"));
    printFigure(QStringLiteral("update_2000_curl_parallel_8"), curlFigure, QStringLiteral("ms"));
    printRatio(QStringLiteral("update_2000_vs_curl"), coldFigure.median / curlFigure.median,
               QStringLiteral("engine, empty cache"),
               QStringLiteral("curl --parallel --parallel-immediate --parallel-max 8"));
    printRatio(QStringLiteral("update_2000_warm_vs_curl"), warmFigure.median / curlFigure.median,
               QStringLiteral("engine, warm cache"),
               QStringLiteral("curl --parallel --parallel-immediate --parallel-max 8"));
    if (!ok) {
        std::fprintf(stderr, "a run did not fetch every feed\n");
        return 1;
    }
    return 0;
}
