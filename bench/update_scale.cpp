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
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace pellavo::bench;

namespace {

constexpr int kFeeds = 2000;
constexpr int kFeedBytes = 20 * 1024;
constexpr int kAddresses = 4;
constexpr int kItems = 12;
constexpr int kRuns = 5;

// A feed of kItems items whose descriptions fill it to about kFeedBytes.
QByteArray FeedDocument(int number) {
    QByteArray doc =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Feed " +
        QByteArray::number(number) + "</title>\n";
    const QByteArray words = "Lorem ipsum dolor sit amet, consectetur adipiscing elit. ";
    for (int i = 0; i < kItems; ++i) {
        QByteArray text;
        while (text.size() < kFeedBytes / kItems - 120)
            text += words;
        doc += "<item><title>Item " + QByteArray::number(i) + "</title><description>" + text +
               "</description></item>\n";
    }
    return doc + "</channel></rss>\n";
}

// A port that nothing listens on now on any of the loopback addresses used.
quint16 FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    quint16 port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), length) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
        port = ntohs(addr.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

// nginx in the foreground as one process of ours, serving `root` on four addresses.
class Nginx {
public:
    bool Start(const QString& prefix, const QString& root, quint16 port) {
        const QString nginx =
            QStandardPaths::findExecutable(QStringLiteral("nginx"), {"/usr/sbin", "/usr/bin"});
        if (nginx.isEmpty())
            return false;
        QDir(prefix).mkpath(QStringLiteral("logs"));
        QByteArray listen;
        for (int i = 1; i <= kAddresses; ++i)
            listen += "listen 127.0.0." + QByteArray::number(i) + ":" + QByteArray::number(port) + ";\n";
        QFile conf(prefix + QStringLiteral("/nginx.conf"));
        if (!conf.open(QIODevice::WriteOnly))
            return false;
        conf.write("daemon off;\nmaster_process off;\nworker_processes 1;\n"
                   "error_log " +
                   QFile::encodeName(prefix) + "/logs/error.log;\npid " + QFile::encodeName(prefix) +
                   "/nginx.pid;\nevents { worker_connections 1024; }\n"
                   "http {\naccess_log off;\nkeepalive_requests 100000;\n"
                   "client_body_temp_path " +
                   QFile::encodeName(prefix) + "/body;\nproxy_temp_path " + QFile::encodeName(prefix) +
                   "/proxy;\nfastcgi_temp_path " + QFile::encodeName(prefix) + "/fastcgi;\nuwsgi_temp_path " +
                   QFile::encodeName(prefix) + "/uwsgi;\nscgi_temp_path " + QFile::encodeName(prefix) +
                   "/scgi;\nserver {\n" + listen + "root " + QFile::encodeName(root) + ";\n}\n}\n");
        conf.close();
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(nginx, {QStringLiteral("-p"), prefix, QStringLiteral("-c"), conf.fileName()});
        if (!m_process.waitForStarted())
            return false;
        // Up once it answers on every address.
        for (int attempt = 0; attempt < 100; ++attempt) {
            int up = 0;
            for (int i = 1; i <= kAddresses; ++i) {
                const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_in addr{};
                addr.sin_family = AF_INET;
                addr.sin_port = htons(port);
                addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK + i - 1);
                if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
                    ++up;
                ::close(fd);
            }
            if (up == kAddresses)
                return true;
            QThread::msleep(20);
        }
        return false;
    }

    ~Nginx() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
            m_process.waitForFinished();
        }
    }

private:
    QProcess m_process;
};

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

    const QString root = dir.filePath(QStringLiteral("www"));
    QDir().mkpath(root + QStringLiteral("/feeds"));
    QStringList urls;
    const quint16 port = FreePort();
    for (int i = 0; i < kFeeds; ++i) {
        QFile feed(root + QStringLiteral("/feeds/%1.xml").arg(i));
        const QByteArray document = FeedDocument(i);
        if (!feed.open(QIODevice::WriteOnly) || feed.write(document) != document.size())
            return 1;
        urls << QStringLiteral("http://127.0.0.%1:%2/feeds/%3.xml").arg(i % kAddresses + 1).arg(port).arg(i);
    }
    Nginx nginx;
    if (!port || !nginx.Start(dir.filePath(QStringLiteral("nginx")), root, port)) {
        std::fprintf(stderr, "cannot start nginx on loopback\n");
        return 1;
    }
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
