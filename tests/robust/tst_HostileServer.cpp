// Update runs against servers that misbehave in every way we know of: each run ends
// within the download limits, writes a well-formed news feed file with the good feeds,
// and leaves no download behind.
#include "RunTestUtil.h"
#include "TestHttpServer.h"
#include "base/AppPaths.h"
#include "testsupport.h"
#include "update/CWebAccess.h"
#include "update/NewsFeedFile.h"
#include "update/NewsFeedOutput.h"
#include "update/UpdateEngine.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>

using namespace pellavo::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(HttpResponse)

namespace {

HttpResponse Raw(const QByteArray& bytes) {
    HttpResponse response;
    response.raw = bytes;
    return response;
}

// Short limits, so that the slowest hostile server costs a second or two.
CWebAccess::Options ShortLimits() {
    CWebAccess::Options options;
    options.connectTimeout = 1s;
    options.lowSpeedBytes = 10;
    options.lowSpeedTime = 1s;
    options.totalTimeout = 3s;
    options.maxBodyBytes = 1024 * 1024;
    options.maxRedirects = 5;
    return options;
}

} // namespace

class TestHostileServer : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    TestHttpServer m_server;

    QStringList Downloads() const {
        return QDir(AppPaths::PrivateTempFolder())
            .entryList({QStringLiteral("NEW*")}, QDir::Files | QDir::Hidden);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // Downloads go to the private temporary folder under TMPDIR: keep them in ours.
        qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
        QVERIFY(QDir::tempPath().startsWith(m_dir.path()));
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        m_server.setRoute("/good1", HttpResponse::ok(rssFeed("one", 1)));
        m_server.setRoute("/good2", HttpResponse::ok(rssFeed("two", 1)));
    }

    void cleanupTestCase() { m_server.stop(); }

    void hostile_data() {
        QTest::addColumn<HttpResponse>("response");

        HttpResponse stall = HttpResponse::ok(rssFeed("stalled", 1));
        stall.stallAfterHeadersMs = -1;
        QTest::newRow("stall after the headers") << stall;

        HttpResponse silent = HttpResponse::ok(rssFeed("silent", 1));
        silent.delayMs = 60000;
        QTest::newRow("no answer at all") << silent;

        HttpResponse dribble = HttpResponse::ok(rssFeed("dribbled", 1));
        dribble.dribbleBytes = 1;
        dribble.dribbleIntervalMs = 1000;
        QTest::newRow("one byte a second") << dribble;

        HttpResponse endless =
            HttpResponse::ok(QByteArray("<item><title>more</title></item>\n").repeated(2000));
        endless.endless = true;
        QTest::newRow("endless body") << endless;

        QTest::newRow("redirect to itself") << HttpResponse::redirect("/hostile");
        QTest::newRow("redirect in a circle") << HttpResponse::redirect("/circle");

        HttpResponse bomb = HttpResponse::ok(QByteArray(32 * 1024 * 1024, '\0'));
        bomb.gzip = true;
        QTest::newRow("gzip bomb") << bomb;

        HttpResponse brokenGzip = HttpResponse::ok(rssFeed("zipped", 1));
        brokenGzip.gzip = true;
        brokenGzip.headers.append(qMakePair(QByteArray("Content-Length"), QByteArray("40")));
        QTest::newRow("gzip cut short") << brokenGzip;

        QTest::newRow("close mid-body")
            << Raw("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + rssFeed("cut", 1).left(60));
        QTest::newRow("close mid-chunk") << Raw(
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1000\r\n" + rssFeed("cut", 1).left(60));
        HttpResponse closed;
        closed.closeWithoutAnswer = true;
        QTest::newRow("close without a byte") << closed;
        QTest::newRow("status line without a code") << Raw("HTTP/1.1 OK\r\n\r\n" + rssFeed("x", 1));
        QTest::newRow("status code out of range")
            << Raw("HTTP/1.1 2000000000000 OK\r\n\r\n" + rssFeed("x", 1));
        QTest::newRow("not HTTP") << Raw(rssFeed("x", 1));
        QTest::newRow("endless header line")
            << Raw("HTTP/1.1 200 OK\r\nX-Pad: " + QByteArray(512 * 1024, 'a') + "\r\n\r\n" + rssFeed("x", 1));
    }

    void hostile() {
        QFETCH(HttpResponse, response);
        m_server.setRoute("/hostile", response);
        m_server.setRoute("/circle", HttpResponse::redirect("/circle2"));
        m_server.setRoute("/circle2", HttpResponse::redirect("/hostile"));

        const QString output = m_dir.filePath(QStringLiteral("news.nff"));
        QString error;
        auto file = NewsFeedOutput::Open(output, &error);
        QVERIFY2(file, qPrintable(error));
        UpdateJob job;
        job.urls = {m_server.url(QStringLiteral("/good1")), m_server.url(QStringLiteral("/hostile")),
                    m_server.url(QStringLiteral("/good2"))};
        job.agentName = QStringLiteral("Corvantis RSS Reader");
        job.webOptions = ShortLimits();
        job.tempFolder = AppPaths::PrivateTempFolder();
        UpdateEngine engine(job, std::move(file));
        ThreadSignal finished(&engine, &UpdateEngine::finished);
        QElapsedTimer clock;
        clock.start();
        engine.Start();
        // The total time limit bounds every download; the rest is slack for a loaded machine.
        const auto limit = job.webOptions.totalTimeout + 3s;
        QVERIFY2(finished.wait(int(std::chrono::milliseconds(limit).count())), "the run did not end in time");
        qInfo("run ended after %lld ms", clock.elapsed());

        const UpdateEngine::Outcome outcome = engine.GetOutcome();
        QCOMPARE(outcome.failure, UpdateEngine::Failure::None);
        QCOMPARE(outcome.failedFeeds, 1);
        QVERIFY(!outcome.cancelled);

        const NffContent written = readNff(output);
        QVERIFY(written.valid);
        QCOMPARE(written.urls, QStringList({job.urls[0], job.urls[2]}));
        QCOMPARE(written.contents, QList<QByteArray>({NewsFeedFile::CleanFeedDocument(rssFeed("one", 1)),
                                                      NewsFeedFile::CleanFeedDocument(rssFeed("two", 1))}));
        QCOMPARE(Downloads(), QStringList());
    }
};

PELLAVO_TEST_MAIN(TestHostileServer)
#include "tst_HostileServer.moc"
