// The pictures of the e-book of 300 feeds that show three pictures of 100 KB each: 900
// addresses on four loopback addresses, each answered after 20 ms on kept-alive connections.
// The run's picture stage (8 at once, 4 per host, an empty picture cache that it fills)
// against curl's parallel mode fetching the same addresses 8 at once, in the same run.

#include "TestHttpServer.h"
#include "base/AppPaths.h"
#include "benchsupport.h"
#include "testsupport.h"
#include "update/FeedCache.h"
#include "update/NewsFeedOutput.h"
#include "update/UpdateEngine.h"
#include "updatebench.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <optional>

using namespace pellavo::bench;
using namespace pellavo::test;

namespace {

constexpr int kFeeds = 300;
constexpr int kPicturesPerFeed = 3;
constexpr int kPictureBytes = 100 * 1024;
constexpr int kDelayMs = 20;
constexpr int kHosts = 4;
constexpr int kRuns = 3;

using Clock = std::chrono::steady_clock;

// The picture stage of one run that makes the book, in ms; nothing when the run did not
// fetch every feed and every picture.
std::optional<double> PictureStage(const QStringList& feeds, const QString& folder, int round) {
    auto output = NewsFeedOutput::Open(folder + QStringLiteral("/news.nff"), nullptr);
    if (!output)
        return std::nullopt;
    UpdateJob job;
    job.urls = feeds;
    job.agentName = QStringLiteral("Corvantis RSS Reader");
    job.tempFolder = AppPaths::PrivateTempFolder();
    job.bookPath = folder + QStringLiteral("/news.epub");
    job.runTime = QDateTime::currentDateTime();
    const QString cacheFolder = folder + QStringLiteral("/pictures%1").arg(round);
    job.pictureCache = std::make_shared<FeedCache>(cacheFolder);
    UpdateEngine engine(job, std::move(output));
    std::optional<Clock::time_point> start, end;
    int fetched = 0, total = 0;
    // Told on the engine's own thread, where the stage runs.
    QObject::connect(&engine, &UpdateEngine::picturesFetched, [&](int done, int all) {
        if (!start)
            start = Clock::now();
        fetched = done;
        total = all;
    });
    QObject::connect(&engine, &UpdateEngine::makingEBook, [&] {
        if (start && !end)
            end = Clock::now();
    });
    engine.Start();
    engine.Wait();
    QDir(cacheFolder).removeRecursively();
    const UpdateEngine::Outcome outcome = engine.GetOutcome();
    if (outcome.failedFeeds != 0 || !outcome.bookError.isEmpty() || !end ||
        total != kFeeds * kPicturesPerFeed || fetched != total)
        return std::nullopt;
    return std::chrono::duration<double, std::milli>(*end - *start).count();
}

} // namespace

int main(int argc, char** argv) {
    prepareEnvironment();
    QTemporaryDir dir;
    QCoreApplication app(argc, argv);

    // Bytes that no reader takes for a picture, so that the book's bound on its pictures
    // never ends the stage early: both sides fetch all of them.
    const QByteArray picture(kPictureBytes, 'p');
    const auto servers = StartDelayedServers(kHosts, picture, kDelayMs, true, 0, "ETag: \"same\"\r\n");
    TestHttpServer feedServer;
    if (servers.empty() || !feedServer.start())
        return 1;
    QStringList feeds, pictures;
    for (int feed = 0; feed < kFeeds; ++feed) {
        QByteArray items;
        for (int i = 0; i < kPicturesPerFeed; ++i) {
            const int n = feed * kPicturesPerFeed + i;
            pictures << QStringLiteral("http://127.0.0.%1:%2/pics/%3.jpg")
                            .arg(n % kHosts + 1)
                            .arg(servers[size_t(n % kHosts)]->Port())
                            .arg(n);
            items += "<item><title>" + QByteArray::number(n) + "</title><description>&lt;img src=\"" +
                     pictures.last().toUtf8() + "\" alt=\"\"&gt;</description></item>";
        }
        const QByteArray path = "/feeds/" + QByteArray::number(feed) + ".xml";
        feedServer.setRoute(path, HttpResponse::ok("<rss version=\"2.0\"><channel><title>Feed</title>" +
                                                   items + "</channel></rss>"));
        feeds << feedServer.url(QString::fromLatin1(path));
    }

    bool ok = true;
    std::vector<double> stage, curl;
    for (int round = 0; round < kRuns; ++round) {
        const std::optional<double> ms = PictureStage(feeds, dir.path(), round);
        ok = ok && ms.has_value();
        stage.push_back(ms.value_or(0));
        const QString curlFolder = dir.filePath(QStringLiteral("curl%1").arg(round));
        const Figure once = timeMs(1, [&] { ok = RunCurlParallel(pictures, curlFolder, 8) && ok; });
        curl.push_back(once.median);
        QDir(curlFolder).removeRecursively();
    }
    if (!ok) {
        std::fprintf(stderr, "a run did not fetch every feed and picture\n");
        return 1;
    }
    const Figure stageFigure = summarise(stage);
    const Figure curlFigure = summarise(curl);
    printFigure(QStringLiteral("ebook_pictures_stage"), stageFigure, QStringLiteral("ms"));
    printFigure(QStringLiteral("ebook_pictures_curl_parallel_8"), curlFigure, QStringLiteral("ms"));
    printRatio(QStringLiteral("ebook_pictures_vs_curl"), stageFigure.median / curlFigure.median,
               QStringLiteral("picture stage"),
               QStringLiteral("curl --parallel --parallel-immediate --parallel-max 8"));
    return 0;
}
