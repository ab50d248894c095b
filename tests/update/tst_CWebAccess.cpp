#include "TestHttpServer.h"
#include "testsupport.h"
#include "update/CWebAccess.h"
#include "update/FetchLoop.h"

#include <QElapsedTimer>

#include <QFile>
#include <QTemporaryDir>
#include <curl/curl.h>

#include <thread>

using namespace pellavo::test;
using namespace std::chrono_literals;

namespace {

const QByteArray kText = "Lorem ipsum dolor sit amet";
const QByteArray Previous = "what was there before";

} // namespace

class TestCWebAccess : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    TestHttpServer m_server;
    TestHttpServer m_elsewhere; // on 127.0.0.2
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
        QVERIFY2(m_elsewhere.start("127.0.0.2"), qPrintable(m_elsewhere.errorString()));
        m_target = m_dir.filePath(QStringLiteral("NEW0001.tmp"));
    }

    void init() { writeFile(m_target, Previous); }

    // Results, and what the target holds afterwards (null: as it was before).
    void results_data() {
        QTest::addColumn<HttpResponse>("response");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("target");
        const QByteArray body = rssFeed("T", 3, kText);
        QTest::newRow("200") << HttpResponse::ok(body) << 1 << body;
        QTest::newRow("200 empty") << HttpResponse::ok(QByteArray()) << 1 << QByteArray("");
        QTest::newRow("404") << HttpResponse::withStatus(404) << 404 << QByteArray();
        QTest::newRow("500") << HttpResponse::withStatus(500) << 500 << QByteArray();
        QTest::newRow("204") << HttpResponse::withStatus(204) << 204 << QByteArray();
        QTest::newRow("redirect") << HttpResponse::redirect("/ok") << 1 << rssFeed("T", 1, kText);
        QTest::newRow("redirect chain")
            << HttpResponse::redirect("/chain2", 301) << 1 << rssFeed("T", 1, kText);
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
        HttpResponse gzip = HttpResponse::ok(rssFeed("T", 500, kText));
        gzip.gzip = true;
        QTest::newRow("gzip") << gzip << 1 << rssFeed("T", 500, kText);
        HttpResponse chunked = HttpResponse::ok(rssFeed("T", 200, kText));
        chunked.chunked = true;
        chunked.dribbleBytes = 1000;
        QTest::newRow("chunked") << chunked << 1 << rssFeed("T", 200, kText);
        HttpResponse both = chunked;
        both.gzip = true;
        QTest::newRow("chunked gzip") << both << 1 << rssFeed("T", 200, kText);
        QByteArray large(5 * 1024 * 1024 + 17, '\0');
        for (qsizetype i = 0; i < large.size(); ++i)
            large[i] = char(i * 7 % 251);
        QTest::newRow("5 MiB binary") << HttpResponse::ok(large) << 1 << large;
        HttpResponse slow = HttpResponse::ok(rssFeed("T", 2, kText));
        slow.dribbleBytes = 40;
        slow.dribbleIntervalMs = 5;
        QTest::newRow("slow but steady") << slow << 1 << rssFeed("T", 2, kText);
    }

    void results() {
        QFETCH(HttpResponse, response);
        QFETCH(int, result);
        QFETCH(QByteArray, target);
        m_server.setRoute("/ok", HttpResponse::ok(rssFeed("T", 1, kText)));
        m_server.setRoute("/chain2", HttpResponse::redirect(m_server.url("/ok").toLatin1(), 308));
        m_server.setRoute("/loop", HttpResponse::redirect("/loop"));
        m_server.setRoute("/case", response);
        QCOMPARE(download(QStringLiteral("/case")), result);
        QCOMPARE(readFile(m_target), target.isNull() ? Previous : target);
    }

    // A final answer other than 200 is not read on: an error body that never ends does not
    // hold the download until the total time limit.
    void endlessErrorBody_data() {
        QTest::addColumn<int>("status");
        QTest::newRow("404") << 404;
        QTest::newRow("500") << 500;
    }

    void endlessErrorBody() {
        QFETCH(int, status);
        HttpResponse endless = HttpResponse::withStatus(status);
        endless.body = QByteArray(4096, 'e');
        endless.endless = true;
        m_server.setRoute("/endless", endless);
        CWebAccess::Options options;
        options.totalTimeout = 8s;
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(download(QStringLiteral("/endless"), options), status);
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(readFile(m_target), Previous);
    }

    // An https proxy that refuses the tunnel, or grants it and then says nothing: no
    // connection to the server could be set up.
    void refusedProxy_data() {
        QTest::addColumn<HttpResponse>("answer");
        QTest::addColumn<QString>("reason");
        QTest::newRow("CONNECT refused")
            << HttpResponse::withStatus(403) << "Proxy refused the connection (403 Forbidden)";
        HttpResponse silent;
        silent.raw = "HTTP/1.1 200 Connection established\r\n\r\n";
        QTest::newRow("tunnel, then nothing") << silent << "Secure connection failed";
    }

    void refusedProxy() {
        QFETCH(HttpResponse, answer);
        QFETCH(QString, reason);
        TestHttpServer proxy;
        QVERIFY(proxy.start());
        proxy.setRoute("feeds.example:443", answer);
        qputenv("https_proxy", QStringLiteral("http://127.0.0.1:%1").arg(proxy.port()).toLatin1());
        CWebAccess web(QStringLiteral("RSS Reader"));
        const int result = web.Download(QStringLiteral("https://feeds.example/feed"), m_target);
        qunsetenv("https_proxy");
        QCOMPARE(result, -20);
        QCOMPARE(CWebAccess::ReasonText(web.GetVerdict()), reason);
        QVERIFY(proxy.requests().value(0).method == "CONNECT");
        QCOMPARE(readFile(m_target), Previous);
    }

    // The result codes and reasons from what a request left behind.
    void classify_data() {
        using Stop = CWebAccess::Stop;
        QTest::addColumn<CWebAccess::Outcome>("outcome");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("reason");
        const auto answered = [](long status, int code = CURLE_OK, Stop stop = Stop::None) {
            CWebAccess::Outcome o;
            o.done = true;
            o.code = code;
            o.status = status;
            o.finalResponses = 1;
            o.stop = stop;
            return o;
        };
        const auto unanswered = [](int code, int osError = 0) {
            CWebAccess::Outcome o;
            o.done = true;
            o.code = code;
            o.osError = osError;
            return o;
        };
        CWebAccess::Outcome redirected = answered(302, CURLE_GOT_NOTHING);
        redirected.redirects = 1;
        CWebAccess::Outcome toFile = redirected;
        toFile.code = CURLE_UNSUPPORTED_PROTOCOL;
        CWebAccess::Outcome proxy = unanswered(CURLE_RECV_ERROR);
        proxy.proxyStatus = 407;
        CWebAccess::Outcome cut = answered(0);
        cut.done = false;
        QTest::newRow("200") << answered(200) << 1 << "";
        QTest::newRow("404") << answered(404) << 404 << "404 Not Found";
        QTest::newRow("503") << answered(503) << 503 << "503 Service Unavailable";
        QTest::newRow("unknown status") << answered(599) << 599 << "HTTP status 599";
        QTest::newRow("error body cut by us")
            << answered(500, CURLE_WRITE_ERROR, Stop::NotWanted) << 500 << "500 Internal Server Error";
        QTest::newRow("200 cut short") << answered(200, CURLE_PARTIAL_FILE) << -22 << "Connection broken";
        QTest::newRow("cancelled") << answered(200, CURLE_ABORTED_BY_CALLBACK, Stop::Cancelled) << -23
                                   << "Cancelled";
        QTest::newRow("too large") << answered(200, CURLE_WRITE_ERROR, Stop::TooLarge) << -22 << "Too large";
        QTest::newRow("target unwritable") << answered(200, CURLE_WRITE_ERROR, Stop::WriteFailed) << -22
                                           << "Cannot write the downloaded file";
        QTest::newRow("timed out") << unanswered(CURLE_OPERATION_TIMEDOUT) << -22 << "Timed out";
        QTest::newRow("loop broke down") << cut << -22 << "Connection broken";
        QTest::newRow("redirects") << unanswered(CURLE_TOO_MANY_REDIRECTS) << -20 << "Too many redirects";
        QTest::newRow("host not found") << unanswered(CURLE_COULDNT_RESOLVE_HOST) << -20 << "Host not found";
        QTest::newRow("refused") << unanswered(CURLE_COULDNT_CONNECT, ECONNREFUSED) << -20
                                 << "Connection refused";
        QTest::newRow("unreachable") << unanswered(CURLE_COULDNT_CONNECT, EHOSTUNREACH) << -20
                                     << "Could not connect";
        QTest::newRow("certificate") << unanswered(CURLE_PEER_FAILED_VERIFICATION) << -20
                                     << "Certificate not trusted";
        QTest::newRow("handshake") << unanswered(CURLE_SSL_CONNECT_ERROR) << -20
                                   << "Secure connection failed";
        QTest::newRow("proxy refused")
            << proxy << -20 << "Proxy refused the connection (407 Proxy Authentication Required)";
        QTest::newRow("nothing") << unanswered(CURLE_GOT_NOTHING) << -21 << "No answer from the server";
        QTest::newRow("not HTTP") << unanswered(CURLE_WEIRD_SERVER_REPLY) << -21 << "Not an HTTP answer";
        QTest::newRow("not HTTP, first request")
            << unanswered(CURLE_UNSUPPORTED_PROTOCOL) << -21 << "Not an HTTP answer";
        QTest::newRow("nothing after a redirect") << redirected << -21 << "No answer from the server";
        QTest::newRow("redirect to file:")
            << toFile << -20 << "Redirected to an address that is not http or https";
    }

    void classify() {
        QFETCH(CWebAccess::Outcome, outcome);
        QFETCH(int, result);
        QFETCH(QString, reason);
        const CWebAccess::Verdict verdict = CWebAccess::Classify(outcome);
        QCOMPARE(verdict.result, result);
        QCOMPARE(CWebAccess::ReasonText(verdict), reason);
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
        HttpResponse stall = HttpResponse::ok(rssFeed("T", 2, kText));
        stall.stallAfterHeadersMs = -1;
        QTest::newRow("stall after headers") << stall << lowSpeed;
        HttpResponse silent = HttpResponse::ok(rssFeed("T", 2, kText));
        silent.delayMs = -1;
        QTest::newRow("never answers") << silent << lowSpeed;
        HttpResponse trickle = HttpResponse::ok(rssFeed("T", 20, kText));
        trickle.dribbleBytes = 1;
        trickle.dribbleIntervalMs = 250;
        QTest::newRow("under 10 bytes a second") << trickle << lowSpeed;
        HttpResponse steady = HttpResponse::ok(rssFeed("T", 50, kText));
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
        HttpResponse stall = HttpResponse::ok(rssFeed("T", 1, kText));
        stall.stallAfterHeadersMs = -1;
        QTest::newRow("stalled after headers") << stall;
        // Some forty seconds of body.
        HttpResponse trickle = HttpResponse::ok(rssFeed("T", 1000, kText));
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
        // Long before the answer would end, however slow the build.
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
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
        const QByteArray body = rssFeed("T", 2000, kText);
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

    void networkKinds_data() {
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<int>("kind"); // -1: no address
        const int publicKind = int(NetworkKind::Public), loopback = int(NetworkKind::Loopback),
                  privateKind = int(NetworkKind::Private), linkLocal = int(NetworkKind::LinkLocal);
        const QList<QPair<QByteArray, int>> rows = {
            {"127.0.0.1", loopback},
            {"127.255.0.9", loopback},
            {"0.0.0.0", loopback},
            {"0.1.2.3", loopback},
            {"10.20.30.40", privateKind},
            {"172.16.0.1", privateKind},
            {"172.31.255.255", privateKind},
            {"172.32.0.1", publicKind},
            {"172.15.0.1", publicKind},
            {"192.168.1.1", privateKind},
            {"192.169.1.1", publicKind},
            {"169.254.169.254", linkLocal},
            {"93.184.216.34", publicKind},
            {"::1", loopback},
            {"::", loopback},
            {"fc00::1", privateKind},
            {"fdff::1", privateKind},
            {"fe80::1%eth0", linkLocal},
            {"febf::1", linkLocal},
            {"fec0::1", publicKind},
            {"::ffff:127.0.0.1", loopback},
            {"::ffff:10.0.0.1", privateKind},
            {"::ffff:93.184.216.34", publicKind},
            {"2001:db8::1", publicKind},
            {"localhost", -1},
            {"", -1},
        };
        for (const auto& [address, kind] : rows)
            QTest::newRow(address.isEmpty() ? "empty" : address.constData()) << address << kind;
    }
    void networkKinds() {
        QFETCH(QByteArray, address);
        QFETCH(int, kind);
        const std::optional<NetworkKind> found = NetworkReach().KindOf(address);
        QCOMPARE(found ? int(*found) : -1, kind);
    }

    // A download a feed names may not reach this machine or its network from a feed on the
    // internet, however its address gets there; the tests stand 127.0.0.2 in for the internet.
    void reach_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("confined");
        QTest::addColumn<int>("origin");
        QTest::addColumn<QList<QByteArray>>("standIns");
        QTest::addColumn<bool>("keptConnection"); // an earlier download leaves one open
        QTest::addColumn<int>("result");
        const int publicKind = int(NetworkKind::Public);
        const QList<QByteArray> none;
        const QList<QByteArray> elsewhere = {"127.0.0.2"};
        QTest::newRow("feed itself") << "127.0.0.1" << false << publicKind << none << false << 1;
        QTest::newRow("from a public feed") << "127.0.0.1" << true << publicKind << none << false << -20;
        QTest::newRow("by name") << "localhost" << true << publicKind << none << false << -20;
        QTest::newRow("kept connection") << "127.0.0.1" << true << publicKind << none << true << -20;
        QTest::newRow("redirected") << "127.0.0.2" << true << publicKind << elsewhere << false << -20;
        QTest::newRow("from a private feed")
            << "127.0.0.1" << true << int(NetworkKind::Private) << none << false << -20;
        QTest::newRow("from a loopback feed")
            << "127.0.0.1" << true << int(NetworkKind::Loopback) << none << false << 1;
        QTest::newRow("stand-in") << "127.0.0.1" << true << publicKind << QList<QByteArray>{"127.0.0.1"}
                                  << false << 1;
    }
    void reach() {
        QFETCH(QString, host);
        QFETCH(bool, confined);
        QFETCH(int, origin);
        QFETCH(QList<QByteArray>, standIns);
        QFETCH(bool, keptConnection);
        QFETCH(int, result);
        m_server.setRoute("/inner", HttpResponse::ok(rssFeed("T", 1, kText)));
        m_elsewhere.setRoute("/hop", HttpResponse::redirect(m_server.url("/inner").toUtf8()));
        FetchLoop loop;
        const auto fetch = [&](CWebAccess& web, const QString& url) {
            if (web.Begin(url, m_target, nullptr)) {
                loop.Add(web);
                while (loop.Run(100).empty()) {
                }
            }
            return web.GetVerdict();
        };
        CWebAccess earlier(QStringLiteral("RSS Reader"));
        if (keptConnection)
            QCOMPARE(fetch(earlier, m_server.url("/inner")).result, 1);
        const qsizetype before = m_server.requests().size();
        CWebAccess::Options options;
        options.reach = {confined, NetworkKind(origin), standIns};
        CWebAccess web(QStringLiteral("RSS Reader"));
        web.SetOptions(options);
        const QString url =
            host == QLatin1String("127.0.0.2") ? m_elsewhere.url("/hop") : m_server.url("/inner", host);
        const CWebAccess::Verdict verdict = fetch(web, url);
        QCOMPARE(verdict.result, result);
        QCOMPARE(m_server.requests().size() - before, result == 1 ? 1 : 0);
        if (result != 1)
            QCOMPARE(verdict.reason, CWebAccess::Reason::PrivateAddress);
    }

    // A secure download that a feed names is not sent on to plain http.
    void insecureRedirect() {
        TestCertificates certificates;
        QVERIFY2(certificates.generate(), qPrintable(certificates.errorString()));
        TestHttpServer secure;
        QVERIFY2(secure.startTls(certificates.serverCertFile(), certificates.serverKeyFile()),
                 qPrintable(secure.errorString()));
        m_server.setRoute("/plain", HttpResponse::ok(rssFeed("T", 1, kText)));
        secure.setRoute("/down", HttpResponse::redirect(m_server.url("/plain").toUtf8(), 301));
        for (const bool confined : {false, true}) {
            CWebAccess::Options options;
            options.caFile = certificates.caFile();
            options.reach = {confined, NetworkKind::Loopback, {}};
            CWebAccess web(QStringLiteral("RSS Reader"));
            web.SetOptions(options);
            const qsizetype before = m_server.requests().size();
            QCOMPARE(web.Download(secure.url("/down"), m_target), confined ? -20 : 1);
            QCOMPARE(m_server.requests().size() - before, confined ? 0 : 1);
            QCOMPARE(web.GetVerdict().reason,
                     confined ? CWebAccess::Reason::InsecureRedirect : CWebAccess::Reason::None);
        }
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
        const QByteArray body = rssFeed("T", 10, kText);
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
