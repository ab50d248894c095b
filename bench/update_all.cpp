// "Update All" of 120 feeds of 40 KB, each answered after 100 ms on a connection of its
// own, from four loopback addresses: the update engine as it runs (8 at once, 4 per host)
// against the same engine one transfer at a time and against curl's own parallel mode
// fetching the same addresses.

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

constexpr int kFeeds = 120;
constexpr int kFeedBytes = 40 * 1024;
constexpr int kDelayMs = 100;
constexpr int kAddresses = 4;

} // namespace

int main(int argc, char** argv) {
    pellavo::test::prepareEnvironment();
    QTemporaryDir dir;
    QCoreApplication app(argc, argv);

    const QByteArray body = rssDocument("Bench", kFeedBytes);
    const auto servers = StartDelayedServers(kAddresses, body, kDelayMs, false);
    if (servers.empty())
        return 1;
    QStringList urls;
    for (int i = 0; i < kFeeds; ++i)
        urls << QStringLiteral("http://127.0.0.%1:%2/feeds/%3.xml")
                    .arg(i % kAddresses + 1)
                    .arg(servers[i % kAddresses]->Port())
                    .arg(i);
    const QString output = dir.filePath(QStringLiteral("news.nff"));

    bool ok = true;
    const Figure concurrent = timeMs(3, [&] { ok = RunUpdateEngine(urls, output, 8, 4) && ok; });
    printFigure(QStringLiteral("update_all_concurrent"), concurrent, QStringLiteral("ms"));
    const Figure sequential = timeMs(2, [&] { ok = RunUpdateEngine(urls, output, 1, 1) && ok; });
    printFigure(QStringLiteral("update_all_one_at_a_time"), sequential, QStringLiteral("ms"));
    printRatio(QStringLiteral("update_all_speedup"), sequential.median / concurrent.median,
               QStringLiteral("one at a time"), QStringLiteral("concurrent"));

    const Figure viaCurl =
        timeMs(3, [&] { ok = RunCurlParallel(urls, dir.filePath(QStringLiteral("curl")), 8) && ok; });
    printFigure(QStringLiteral("update_all_curl_parallel_8"), viaCurl, QStringLiteral("ms"));
    printRatio(QStringLiteral("update_all_vs_curl"), concurrent.median / viaCurl.median,
               QStringLiteral("concurrent"),
               QStringLiteral("curl --parallel --parallel-immediate --parallel-max 8"));
    if (!ok) {
        std::fprintf(stderr, "a run did not fetch every feed\n");
        return 1;
    }
    return 0;
}
