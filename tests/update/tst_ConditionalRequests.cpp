#include "RunTestUtil.h"
#include "TestHttpServer.h"
#include "base/AppPaths.h"
#include "base/Settings.h"
#include "testsupport.h"
#include "update/FeedCache.h"
#include "update/NewsFeedFile.h"
#include "update/NewsFeedOutput.h"
#include "update/UpdateEngine.h"
#include "update/ui/UpdateController.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace pellavo::test;

namespace {

const QByteArray EtagOne = "\"one\"";
const QByteArray EtagTwo = "\"two\"";
const QByteArray Monday = "Mon, 06 May 2024 08:00:00 GMT";

// Some 40 KB, so that a document sent again is worth saving.
constexpr int kItems = 1100;

// A feed whose server sends the given validators and answers 304 when they come back.
HttpResponse cacheable(const QByteArray& body, const QByteArray& etag, const QByteArray& lastModified = {},
                       bool honour = true) {
    HttpResponse response = HttpResponse::ok(body);
    if (!etag.isEmpty())
        response.headers.append({"ETag", etag});
    if (!lastModified.isEmpty())
        response.headers.append({"Last-Modified", lastModified});
    response.honourValidators = honour;
    return response;
}

NffContent readRecords(const QByteArray& nff) {
    QBuffer buffer;
    buffer.setData(nff);
    buffer.open(QIODevice::ReadOnly);
    return readNff(buffer);
}

bool isConditional(const HttpRequestRecord& request) {
    return request.hasHeader("If-None-Match") || request.hasHeader("If-Modified-Since");
}

// "C304 U200": each request as conditional (C) or not (U), with the status it got, in
// the order they came, or sorted where downloads ran at once.
QString describe(const QList<HttpRequestRecord>& requests, bool sorted = false) {
    QStringList parts;
    for (const HttpRequestRecord& request : requests)
        parts << (isConditional(request) ? QStringLiteral("C") : QStringLiteral("U")) +
                     QString::number(request.status);
    if (sorted)
        parts.sort();
    return parts.join(QLatin1Char(' '));
}

HttpRequestRecord requestFor(const QList<HttpRequestRecord>& requests, const QByteArray& target) {
    for (const HttpRequestRecord& request : requests) {
        if (request.target == target)
            return request;
    }
    return HttpRequestRecord();
}

} // namespace

class TestConditionalRequests : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    TestHttpServer m_server;
    QString m_output;
    std::shared_ptr<FeedCache> m_cache;
    int m_round = 0;

    QString url(const QString& path) const { return m_server.url(path); }

    // One engine run to its end with the given cache (none: no cache); the file it wrote.
    QByteArray runEngine(const QStringList& urls, const std::shared_ptr<FeedCache>& cache,
                         int* failed = nullptr) {
        auto output = NewsFeedOutput::Open(m_output, nullptr);
        if (!output)
            return QByteArray();
        UpdateJob job;
        job.urls = urls;
        job.agentName = QStringLiteral("Corvantis RSS Reader");
        job.maxPerHost = 8;
        job.tempFolder = AppPaths::PrivateTempFolder();
        job.webOptions.cache = cache;
        UpdateEngine engine(job, std::move(output));
        engine.Start();
        engine.Wait();
        if (failed)
            *failed = engine.GetOutcome().failedFeeds;
        return readFile(m_output);
    }

    // The requests that arrived since `before` for paths starting with `path`.
    QList<HttpRequestRecord> requestsSince(qsizetype before, const QByteArray& path = "/") const {
        QList<HttpRequestRecord> requests = m_server.requests().mid(before);
        requests.removeIf([&](const HttpRequestRecord& r) { return !r.target.startsWith(path); });
        return requests;
    }

    QStringList entryFiles() const {
        return QDir(m_cache->Folder()).entryList({QStringLiteral("*.feed")}, QDir::Files);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // Downloads go to the private temporary folder under TMPDIR: keep them in ours.
        qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        m_output = m_dir.filePath(QStringLiteral("news.nff"));
    }

    void init() {
        m_cache = std::make_shared<FeedCache>(m_dir.filePath(QStringLiteral("cache%1").arg(++m_round)));
    }

    // Unchanged feeds: the second run asks with the validators, gets "not modified" for
    // each, moves a few hundred bytes instead of the documents, and writes the same file.
    void secondRunRevalidates() {
        m_server.setRoute("/same/etag", cacheable(rssFeed("etag", kItems), EtagOne));
        m_server.setRoute("/same/date", cacheable(rssFeed("date", kItems), {}, Monday));
        m_server.setRoute("/same/both", cacheable(rssFeed("both", kItems), EtagTwo, Monday));
        m_server.setRoute("/same/weak", cacheable(rssFeed("weak", kItems), "W/\"w1\""));
        HttpResponse zipped = cacheable(rssFeed("zipped", kItems), "\"z\"");
        zipped.gzip = true;
        m_server.setRoute("/same/zipped", zipped);
        m_server.setRoute("/same/moved", HttpResponse::redirect("/same/target"));
        m_server.setRoute("/same/target", cacheable(rssFeed("target", kItems), "\"t\""));
        const QStringList urls = {url("/same/etag"), url("/same/date"),   url("/same/both"),
                                  url("/same/weak"), url("/same/zipped"), url("/same/moved")};

        const qsizetype before = m_server.requests().size();
        const QByteArray first = runEngine(urls, m_cache);
        const QList<HttpRequestRecord> firstRequests = requestsSince(before);
        QCOMPARE(describe(firstRequests, true), QStringLiteral("U200 U200 U200 U200 U200 U200 U302"));
        const qsizetype middle = m_server.requests().size();
        const QByteArray second = runEngine(urls, m_cache);
        const QList<HttpRequestRecord> secondRequests = requestsSince(middle);

        QVERIFY(!first.isEmpty());
        QCOMPARE(second, first);
        const NffContent records = readRecords(second);
        QCOMPARE(records.urls, urls);
        QCOMPARE(records.contents[0], NewsFeedFile::CleanFeedDocument(rssFeed("etag", kItems)));
        QCOMPARE(records.contents[5], NewsFeedFile::CleanFeedDocument(rssFeed("target", kItems)));

        QCOMPARE(describe(secondRequests, true), QStringLiteral("C302 C304 C304 C304 C304 C304 C304"));
        const HttpRequestRecord etag = requestFor(secondRequests, "/same/etag");
        QCOMPARE(etag.header("If-None-Match"), EtagOne);
        QVERIFY(!etag.hasHeader("If-Modified-Since"));
        const HttpRequestRecord date = requestFor(secondRequests, "/same/date");
        QCOMPARE(date.header("If-Modified-Since"), Monday);
        QVERIFY(!date.hasHeader("If-None-Match"));
        QCOMPARE(requestFor(secondRequests, "/same/both").header("If-None-Match"), EtagTwo);
        QCOMPARE(requestFor(secondRequests, "/same/both").header("If-Modified-Since"), Monday);
        QCOMPARE(requestFor(secondRequests, "/same/weak").header("If-None-Match"), QByteArray("W/\"w1\""));
        QCOMPARE(requestFor(secondRequests, "/same/target").header("If-None-Match"), QByteArray("\"t\""));
        for (const HttpRequestRecord& request : secondRequests) {
            // The header block goes out as always.
            QCOMPARE(request.header("Accept"), QByteArray("application/rss+xml, text/xml"));
            QCOMPARE(request.header("Cache-Control"), QByteArray("no-cache"));
            QCOMPARE(request.header("User-Agent"), QByteArray("Corvantis RSS Reader"));
        }

        qint64 firstBytes = 0;
        qint64 secondBytes = 0;
        for (const HttpRequestRecord& request : firstRequests)
            firstBytes += request.bytesSent;
        for (const HttpRequestRecord& request : secondRequests)
            secondBytes += request.bytesSent;
        QVERIFY2(secondBytes * 20 < firstBytes,
                 qPrintable(QStringLiteral("%1 of %2 bytes").arg(secondBytes).arg(firstBytes)));
        QCOMPARE(entryFiles().size(), 6);
    }

    // Each row changes something between two runs of one feed: the second run's requests
    // and what its record holds.
    void changesBetweenRuns_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("requests");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("feed changed") << "changed"
                                      << "C200" << rssFeed("new", kItems);
        QTest::newRow("server ignores validators") << "ignoring"
                                                   << "C200" << rssFeed("old", kItems);
        QTest::newRow("server sends no validators") << "none"
                                                    << "U200" << rssFeed("old", kItems);
        QTest::newRow("damaged document in the cache") << "damaged-document"
                                                       << "C304 U200" << rssFeed("old", kItems);
        QTest::newRow("damaged header in the cache") << "damaged-header"
                                                     << "U200" << rssFeed("old", kItems);
        QTest::newRow("cache cleared") << "cleared"
                                       << "U200" << rssFeed("old", kItems);
        QTest::newRow("redirect leads elsewhere") << "redirected"
                                                  << "C302 C304 U302 U200" << rssFeed("elsewhere", kItems);
        QTest::newRow("new validators with a 304") << "revalidated"
                                                   << "C304" << rssFeed("old", kItems);
    }

    void changesBetweenRuns() {
        QFETCH(QString, change);
        QFETCH(QString, requests);
        QFETCH(QByteArray, content);
        const QByteArray base = "/change/" + change.toLatin1();
        const QByteArray path = change == "redirected" ? base + "/moved" : base;
        const bool honour = change != "ignoring";
        const QByteArray etag = change == "none" ? QByteArray() : EtagOne;
        const QByteArray date = change == "none" || change == "redirected" ? QByteArray() : Monday;
        if (change == "redirected") {
            // Both targets carry the same date, so only the address tells them apart.
            m_server.setRoute(base + "/a", cacheable(rssFeed("old", kItems), {}, Monday));
            m_server.setRoute(base + "/b", cacheable(rssFeed("elsewhere", kItems), {}, Monday));
            m_server.setRoute(path, HttpResponse::redirect(base + "/a"));
        } else {
            m_server.setRoute(path, cacheable(rssFeed("old", kItems), etag, date, honour));
        }
        const QStringList urls = {url(QString::fromLatin1(path))};
        QVERIFY(!runEngine(urls, m_cache).isEmpty());

        if (change == "changed") {
            m_server.setRoute(path, cacheable(rssFeed("new", kItems), EtagTwo, date));
        } else if (change == "redirected") {
            m_server.setRoute(path, HttpResponse::redirect(base + "/b"));
        } else if (change == "revalidated") {
            // Answers "not modified" to the old tag, with a new one for next time.
            HttpResponse response = cacheable(rssFeed("old", kItems), EtagTwo, {});
            response.honourValidators = false;
            response.status = 304;
            response.body.clear();
            m_server.setRoute(path, response);
        } else if (change.startsWith("damaged")) {
            QCOMPARE(entryFiles().size(), 1);
            const QString file = QDir(m_cache->Folder()).filePath(entryFiles().first());
            QByteArray bytes = readFile(file);
            if (change == "damaged-document")
                bytes[bytes.size() - 500] ^= 0x20;
            else
                bytes.truncate(20);
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(bytes);
        } else if (change == "cleared") {
            QVERIFY(QDir(m_cache->Folder()).removeRecursively());
        }

        const qsizetype before = m_server.requests().size();
        int failed = -1;
        const NffContent records = readRecords(runEngine(urls, m_cache, &failed));
        QCOMPARE(failed, 0);
        QCOMPARE(describe(requestsSince(before, base)), requests);
        QCOMPARE(records.contents.value(0), NewsFeedFile::CleanFeedDocument(content));

        // Whatever the second run fetched is what a third run gets "not modified" for.
        if (change == "revalidated") {
            m_server.setRoute(path, cacheable(rssFeed("old", kItems), EtagTwo));
            requests = QStringLiteral("C304");
        } else if (change == "redirected") {
            requests = QStringLiteral("C302 C304");
        } else {
            requests = QLatin1StringView(etag.isEmpty() ? "U200" : honour ? "C304" : "C200");
        }
        const qsizetype third = m_server.requests().size();
        QCOMPARE(readRecords(runEngine(urls, m_cache)).contents.value(0),
                 NewsFeedFile::CleanFeedDocument(content));
        QCOMPARE(describe(requestsSince(third, base)), requests);
        if (change == "revalidated")
            QCOMPARE(requestsSince(third, base).value(0).header("If-None-Match"), EtagTwo);
    }

    // A server that says "not modified" to a plain request: nothing to fill the target
    // from, so the feed fails with that status, once, and nothing is stored.
    void notModifiedWithoutCopy() {
        HttpResponse response = HttpResponse::withStatus(304);
        response.body.clear();
        response.headers.append({"ETag", EtagOne});
        m_server.setRoute("/always304", response);
        const qsizetype before = m_server.requests().size();
        int failed = -1;
        const NffContent records = readRecords(runEngine({url("/always304")}, m_cache, &failed));
        QCOMPARE(failed, 1);
        QVERIFY(records.urls.isEmpty());
        QCOMPARE(describe(requestsSince(before, "/always304")), QStringLiteral("U304"));
        QVERIFY(entryFiles().isEmpty());
    }

    // The same document under several addresses, all fetched at once: every record holds it,
    // in both runs, from one entry that stays whole.
    void sameDocumentManyAddresses() {
        m_server.setRoute("/shared", cacheable(rssFeed("shared", kItems), EtagOne));
        m_server.setRoute("/single", cacheable(rssFeed("single", kItems), EtagTwo));
        const QStringList urls = {url("/shared"),     url("/shared#one"), url("/shared#two"), url("/single"),
                                  url("/shared#one"), url("/shared"),     url("/shared#two"), url("/shared")};
        const QByteArray first = runEngine(urls, m_cache);
        const qsizetype before = m_server.requests().size();
        const QByteArray second = runEngine(urls, m_cache);
        QCOMPARE(second, first);
        const NffContent records = readRecords(second);
        QCOMPARE(records.urls, urls);
        for (int i = 0; i < urls.size(); ++i)
            QCOMPARE(records.contents[i],
                     NewsFeedFile::CleanFeedDocument(rssFeed(i == 3 ? "single" : "shared", kItems)));
        // The fragment never goes out, so one entry serves them all.
        for (const HttpRequestRecord& request : requestsSince(before)) {
            QVERIFY(!request.target.contains('#'));
            QCOMPARE(request.status, 304);
        }
        QCOMPARE(entryFiles().size(), 2);
        QCOMPARE(QDir(m_cache->Folder()).entryList(QDir::Files).size(), 2);

        m_server.setRoute("/shared", cacheable(rssFeed("changed", kItems), EtagTwo));
        const NffContent changed = readRecords(runEngine(urls, m_cache));
        QCOMPARE(changed.contents[7], NewsFeedFile::CleanFeedDocument(rssFeed("changed", kItems)));
        QCOMPARE(changed.contents[1], NewsFeedFile::CleanFeedDocument(rssFeed("changed", kItems)));
    }

    // Manual and scheduled runs get the user's cache from the update service.
    void userCacheByDefault() {
        m_server.setRoute("/user", cacheable(rssFeed("user", kItems), EtagOne));
        const QStringList urls = {url("/user")};
        Settings settings(m_dir.filePath(QStringLiteral("settings.ini")));
        settings.SetFeedFile(m_output);
        const Clock clock;
        UpdateController controller(settings, clock);
        UpdateController::Sources sources;
        sources.collectAll = [&] { return urls; };
        controller.Attach(sources, nullptr);
        controller.LoadSettings();
        QSignalSpy ended(&controller, &UpdateController::runFinished);
        const auto runScheduled = [&] {
            const qsizetype runs = ended.size();
            return controller.StartScheduledRun() && ended.wait(10000) && ended.size() == runs + 1
                       ? readFile(m_output)
                       : QByteArray();
        };
        const QByteArray first = runScheduled();
        const qsizetype before = m_server.requests().size();
        QCOMPARE(runScheduled(), first);
        QCOMPARE(describe(requestsSince(before)), QStringLiteral("C304"));
        const QString folder =
            QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/feeds");
        QCOMPARE(controller.Cache()->Folder(), folder);
        QVERIFY(!QDir(folder).entryList({QStringLiteral("*.feed")}, QDir::Files).isEmpty());
        QVERIFY(QDir(folder).removeRecursively());
    }
};

PELLAVO_TEST_MAIN(TestConditionalRequests)
#include "tst_ConditionalRequests.moc"
