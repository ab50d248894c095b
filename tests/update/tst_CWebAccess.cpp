#include "TestHttpServer.h"
#include "testsupport.h"
#include "update/CWebAccess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <thread>

using namespace pellavo::test;
using namespace std::chrono_literals;

namespace {

const QByteArray Previous = "what was there before";

QByteArray feed(int items) {
    QByteArray body = "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>T</title>\n";
    for (int i = 0; i < items; ++i)
        body += "<item><title>Item " + QByteArray::number(i) +
                "</title><description>Lorem ipsum dolor sit amet "
                "</description></item>\n";
    return body + "</channel></rss>\n";
}

} // namespace

class TestCWebAccess : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    TestHttpServer m_server;
    QString m_target;

    int download(const QString& path, const CWebAccess::Options& options = {},
                 const QString& agent = QStringLiteral("Corvantis RSS Reader")) {
        CWebAccess web(agent);
        web.SetOptions(options);
        return web.Download(m_server.url(path), m_target);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        m_target = m_dir.filePath(QStringLiteral("NEW0001.tmp"));
    }

    void init() { writeFile(m_target, Previous); }

    void addresses_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("http") << "http://example.com/feed.xml" << QByteArray("http://example.com/feed.xml");
        QTest::newRow("upper-case scheme") << "HTTP://Example.com/a" << QByteArray("http://Example.com/a");
        QTest::newRow("https") << "https://example.com/rss" << QByteArray("https://example.com/rss");
        QTest::newRow("mixed-case https")
            << "HtTpS://example.com/rss" << QByteArray("https://example.com/rss");
        QTest::newRow("no scheme") << "example.com/rss.xml" << QByteArray("http://example.com/rss.xml");
        QTest::newRow("http later on")
            << "example.com/http/feed" << QByteArray("http://example.com/http/feed");
        QTest::newRow("no slash") << "http://example.com" << QByteArray("http://example.com/");
        QTest::newRow("port and query")
            << "example.com:8080/p?q=1#top" << QByteArray("http://example.com:8080/p?q=1#top");
        QTest::newRow("feed://") << "feed://example.com/rss" << QByteArray("http://example.com/rss");
        QTest::newRow("feed:https://")
            << "feed:https://example.com/rss" << QByteArray("https://example.com/rss");
        QTest::newRow("FEED:HTTP://")
            << "FEED:HTTP://example.com/rss" << QByteArray("http://example.com/rss");
        QTest::newRow("blanks around") << "  https://example.com/a \n" << QByteArray("https://example.com/a");
        QTest::newRow("blank and non-ASCII in path") << QString::fromUtf8("http://example.com/a b/\xC3\xA4")
                                                     << QByteArray("http://example.com/a%20b/%C3%A4");
        QTest::newRow("empty host") << "https:///feed" << QByteArray();
        QTest::newRow("empty") << "" << QByteArray();
    }

    void addresses() {
        QFETCH(QString, address);
        QFETCH(QByteArray, request);
        QCOMPARE(CWebAccess::RequestUrl(address), request);
    }

    // Results, and what the target holds afterwards (null: as it was before).
    void results_data() {
        QTest::addColumn<HttpResponse>("response");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("target");
        const QByteArray body = feed(3);
        QTest::newRow("200") << HttpResponse::ok(body) << 1 << body;
        QTest::newRow("200 empty") << HttpResponse::ok(QByteArray()) << 1 << QByteArray("");
        QTest::newRow("404") << HttpResponse::withStatus(404) << 404 << QByteArray();
        QTest::newRow("500") << HttpResponse::withStatus(500) << 500 << QByteArray();
        QTest::newRow("204") << HttpResponse::withStatus(204) << 204 << QByteArray();
        QTest::newRow("redirect") << HttpResponse::redirect("/ok") << 1 << feed(1);
        QTest::newRow("redirect chain") << HttpResponse::redirect("/chain2", 301) << 1 << feed(1);
        QTest::newRow("redirect to 404") << HttpResponse::redirect("/missing", 307) << 404 << QByteArray();
        QTest::newRow("redirect loop") << HttpResponse::redirect("/loop") << -20 << QByteArray();
        QTest::newRow("redirect elsewhere than http")
            << HttpResponse::redirect("file:///etc/passwd") << -20 << QByteArray();
        HttpResponse closed;
        closed.closeWithoutAnswer = true;
        QTest::newRow("closed without answer") << closed << -21 << QByteArray();
        HttpResponse garbage;
        garbage.raw = "SOMETHING ELSE\r\n\r\n";
        QTest::newRow("no status line") << garbage << -21 << QByteArray();
        HttpResponse truncated;
        truncated.raw = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789";
        QTest::newRow("body cut short") << truncated << -22 << QByteArray("");
        HttpResponse gzip = HttpResponse::ok(feed(500));
        gzip.gzip = true;
        QTest::newRow("gzip") << gzip << 1 << feed(500);
        HttpResponse chunked = HttpResponse::ok(feed(200));
        chunked.chunked = true;
        chunked.dribbleBytes = 1000;
        QTest::newRow("chunked") << chunked << 1 << feed(200);
        HttpResponse both = chunked;
        both.gzip = true;
        QTest::newRow("chunked gzip") << both << 1 << feed(200);
        QByteArray large(5 * 1024 * 1024 + 17, '\0');
        for (qsizetype i = 0; i < large.size(); ++i)
            large[i] = char(i * 7 % 251);
        QTest::newRow("5 MiB binary") << HttpResponse::ok(large) << 1 << large;
        HttpResponse slow = HttpResponse::ok(feed(2));
        slow.dribbleBytes = 40;
        slow.dribbleIntervalMs = 5;
        QTest::newRow("slow but steady") << slow << 1 << feed(2);
    }

    void results() {
        QFETCH(HttpResponse, response);
        QFETCH(int, result);
        QFETCH(QByteArray, target);
        m_server.setRoute("/ok", HttpResponse::ok(feed(1)));
        m_server.setRoute("/chain2", HttpResponse::redirect(m_server.url("/ok").toLatin1(), 308));
        m_server.setRoute("/loop", HttpResponse::redirect("/loop"));
        m_server.setRoute("/case", response);
        QCOMPARE(download(QStringLiteral("/case")), result);
        QCOMPARE(readFile(m_target), target.isNull() ? Previous : target);
    }

    void redirectLimit() {
        for (int i = 0; i < 11; ++i)
            m_server.setRoute("/hop" + QByteArray::number(i),
                              HttpResponse::redirect("/hop" + QByteArray::number(i + 1)));
        m_server.setRoute("/hop11", HttpResponse::ok("end"));
        QCOMPARE(download(QStringLiteral("/hop1")), 1);
        QCOMPARE(download(QStringLiteral("/hop0")), -20);
    }

    void requestHeaders_data() {
        QTest::addColumn<QString>("agent");
        QTest::addColumn<QByteArray>("userAgent");
        QTest::newRow("manual run") << "Corvantis RSS Reader" << QByteArray("Corvantis RSS Reader");
        QTest::newRow("scheduled run") << "RSS Reader" << QByteArray("RSS Reader");
        QTest::newRow("no agent name") << "" << QByteArray("Corvantis RSS Helper");
    }

    void requestHeaders() {
        QFETCH(QString, agent);
        QFETCH(QByteArray, userAgent);
        m_server.setRoute("/headers", HttpResponse::ok("x"));
        const int before = int(m_server.requests().size());
        QCOMPARE(download(QStringLiteral("/headers?a=1&b=%20"), {}, agent), 1);
        const QList<HttpRequestRecord> log = m_server.requests();
        QCOMPARE(log.size(), before + 1);
        const HttpRequestRecord& request = log.last();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.target, QByteArray("/headers?a=1&b=%20"));
        QCOMPARE(request.header("Accept"), QByteArray("application/rss+xml, text/xml"));
        QCOMPARE(request.header("Cache-Control"), QByteArray("no-cache"));
        QCOMPARE(request.header("User-Agent"), userAgent);
        QCOMPARE(request.header("Host"), QByteArray("127.0.0.1:") + QByteArray::number(m_server.port()));
        QVERIFY(request.header("Accept-Encoding").contains("gzip"));
        QCOMPARE(request.head.count("User-Agent:"), 1);
        QCOMPARE(request.head.count("Accept:"), 1);
    }

    void timeouts_data() {
        QTest::addColumn<HttpResponse>("response");
        QTest::addColumn<CWebAccess::Options>("options");
        CWebAccess::Options lowSpeed;
        lowSpeed.lowSpeedTime = 1s;
        CWebAccess::Options total;
        total.totalTimeout = 700ms;
        HttpResponse stall = HttpResponse::ok(feed(2));
        stall.stallAfterHeadersMs = -1;
        QTest::newRow("stall after headers") << stall << lowSpeed;
        HttpResponse silent = HttpResponse::ok(feed(2));
        silent.delayMs = -1;
        QTest::newRow("never answers") << silent << lowSpeed;
        HttpResponse trickle = HttpResponse::ok(feed(20));
        trickle.dribbleBytes = 1;
        trickle.dribbleIntervalMs = 250;
        QTest::newRow("under 10 bytes a second") << trickle << lowSpeed;
        HttpResponse steady = HttpResponse::ok(feed(50));
        steady.dribbleBytes = 100;
        steady.dribbleIntervalMs = 20;
        QTest::newRow("over the total time") << steady << total;
    }

    void timeouts() {
        QFETCH(HttpResponse, response);
        QFETCH(CWebAccess::Options, options);
        m_server.setRoute("/timeout", response);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(download(QStringLiteral("/timeout"), options), -22);
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(readFile(m_target) == Previous || readFile(m_target).isEmpty());
    }

    void sizeCap_data() {
        QTest::addColumn<HttpResponse>("response");
        QTest::addColumn<int>("result");
        CWebAccess::Options options;
        const QByteArray exact(64 * 1024, 'a');
        QTest::newRow("at the cap") << HttpResponse::ok(exact) << 1;
        QTest::newRow("over the cap") << HttpResponse::ok(exact + 'b') << -22;
        HttpResponse chunked = HttpResponse::ok(exact + exact);
        chunked.chunked = true;
        QTest::newRow("chunked over the cap") << chunked << -22;
        HttpResponse bomb = HttpResponse::ok(QByteArray(1024 * 1024, ' '));
        bomb.gzip = true;
        QTest::newRow("small gzip, large body") << bomb << -22;
    }

    void sizeCap() {
        QFETCH(HttpResponse, response);
        QFETCH(int, result);
        m_server.setRoute("/big", response);
        CWebAccess::Options options;
        options.maxBodyBytes = 64 * 1024;
        QCOMPARE(download(QStringLiteral("/big"), options), result);
        QCOMPARE(readFile(m_target), result == 1 ? response.body : QByteArray(""));
    }

    void defaultSizeCap() {
        QCOMPARE(CWebAccess::Options().maxBodyBytes, qint64(64) * 1024 * 1024);
        m_server.setRoute("/huge", HttpResponse::ok(QByteArray(64 * 1024 * 1024 + 1, 'x')));
        QCOMPARE(download(QStringLiteral("/huge")), -22);
        QCOMPARE(QFileInfo(m_target).size(), 0);
    }

    void badTarget() {
        m_server.setRoute("/ok", HttpResponse::ok("body"));
        CWebAccess web(QStringLiteral("RSS Reader"));
        QCOMPARE(web.Download(m_server.url("/ok"), m_dir.filePath(QStringLiteral("no/such/folder/x"))), -22);
    }

    void noServer() {
        TestHttpServer gone;
        QVERIFY(gone.start());
        const QString url = gone.url(QStringLiteral("/feed"));
        gone.stop();
        CWebAccess web(QStringLiteral("RSS Reader"));
        QCOMPARE(web.Download(url, m_target), -20);
        QCOMPARE(readFile(m_target), Previous);
    }

    void cancel_data() {
        QTest::addColumn<HttpResponse>("response");
        HttpResponse silent = HttpResponse::ok("x");
        silent.delayMs = -1;
        QTest::newRow("waiting for the answer") << silent;
        HttpResponse stall = HttpResponse::ok(feed(1));
        stall.stallAfterHeadersMs = -1;
        QTest::newRow("stalled after headers") << stall;
        HttpResponse trickle = HttpResponse::ok(feed(100));
        trickle.dribbleBytes = 100;
        trickle.dribbleIntervalMs = 50;
        QTest::newRow("in the body") << trickle;
    }

    void cancel() {
        QFETCH(HttpResponse, response);
        m_server.setRoute("/cancel", response);
        std::atomic_bool cancelFlag{false};
        std::atomic_int result{0};
        const int before = int(m_server.requests().size());
        std::thread worker([&] {
            CWebAccess web(QStringLiteral("Corvantis RSS Reader"));
            result = web.Download(m_server.url("/cancel"), m_target, &cancelFlag);
        });
        QVERIFY(m_server.waitForRequests(before + 1));
        std::this_thread::sleep_for(300ms);
        QElapsedTimer timer;
        timer.start();
        cancelFlag = true;
        worker.join();
        QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(result.load(), -23);
        QVERIFY(readFile(m_target) == Previous || readFile(m_target).isEmpty());
    }

    void cancelledBeforehand() {
        std::atomic_bool cancelFlag{true};
        CWebAccess web(QStringLiteral("RSS Reader"));
        const int before = int(m_server.requests().size());
        QCOMPARE(web.Download(m_server.url("/ok"), m_target, &cancelFlag), -23);
        QCOMPARE(m_server.requests().size(), before);
    }

    void concurrentSessions() {
        const QByteArray body = feed(2000);
        m_server.setRoute("/shared", HttpResponse::ok(body));
        std::vector<std::thread> threads;
        std::atomic_int successes{0};
        for (int i = 0; i < 4; ++i) {
            threads.emplace_back([&, i] {
                const QString target = m_dir.filePath(QStringLiteral("thread%1").arg(i));
                for (int n = 0; n < 5; ++n) {
                    CWebAccess web(QStringLiteral("RSS Reader"));
                    if (web.Download(m_server.url("/shared"), target) == 1 && readFile(target) == body)
                        ++successes;
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        QCOMPARE(successes.load(), 20);
    }

    void https_data() {
        QTest::addColumn<QString>("serverNames");
        QTest::addColumn<QString>("trust");
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<int>("result");
        QTest::newRow("trusted") << "127.0.0.1"
                                 << "own"
                                 << "https://" << 1;
        QTest::newRow("trusted, feed:https") << "127.0.0.1"
                                             << "own"
                                             << "feed:https://" << 1;
        QTest::newRow("unknown authority") << "127.0.0.1"
                                           << "other"
                                           << "https://" << -20;
        QTest::newRow("system authorities only") << "127.0.0.1"
                                                 << "system"
                                                 << "https://" << -20;
        QTest::newRow("wrong name") << "other.example"
                                    << "own"
                                    << "https://" << -20;
        QTest::newRow("plain http to https port") << "127.0.0.1"
                                                  << "own"
                                                  << "http://" << -21;
    }

    void https() {
        QFETCH(QString, serverNames);
        QFETCH(QString, trust);
        QFETCH(QString, scheme);
        QFETCH(int, result);
        TestCertificates certificates;
        const bool ip = serverNames == QLatin1String("127.0.0.1");
        QVERIFY2(
            certificates.generate(ip ? QStringList{QStringLiteral("localhost")} : QStringList{serverNames},
                                  ip ? QStringList{serverNames} : QStringList{}),
            qPrintable(certificates.errorString()));
        TestCertificates other;
        QVERIFY2(other.generate(), qPrintable(other.errorString()));
        TestHttpServer server;
        QVERIFY2(server.startTls(certificates.serverCertFile(), certificates.serverKeyFile()),
                 qPrintable(server.errorString()));
        const QByteArray body = feed(10);
        server.setRoute("/secure", HttpResponse::ok(body));

        CWebAccess web(QStringLiteral("Corvantis RSS Reader"));
        CWebAccess::Options options;
        if (trust == QLatin1String("own"))
            options.caFile = certificates.caFile();
        else if (trust == QLatin1String("other"))
            options.caFile = other.caFile();
        options.connectTimeout = 5s;
        options.totalTimeout = 10s;
        web.SetOptions(options);
        const QString url = scheme + QStringLiteral("127.0.0.1:%1/secure").arg(server.port());
        QCOMPARE(web.Download(url, m_target), result);
        QCOMPARE(readFile(m_target), result == 1 ? body : Previous);
    }
};

PELLAVO_TEST_MAIN(TestCWebAccess)
#include "tst_CWebAccess.moc"
