// "Update All" of 120 feeds of 40 KB, each answered after 100 ms, from four loopback
// addresses: the update engine as it runs (8 at once, 4 per host) against the same engine
// one transfer at a time and against curl's own parallel mode fetching the same addresses.

#include "benchsupport.h"
#include "testsupport.h"
#include "update/CWebAccess.h"
#include "update/NewsFeedOutput.h"
#include "update/UpdateEngine.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace pellavo::bench;

namespace {

constexpr int kFeeds = 120;
constexpr int kFeedBytes = 40 * 1024;
constexpr int kDelayMs = 100;
constexpr int kAddresses = 4;

// Answers every GET on one loopback address with the same document after a fixed delay,
// one thread per connection, and closes the connection after each answer so that every
// client pays for its connections alike.
class SlowFeedServer {
public:
    SlowFeedServer(const QByteArray& body, int delayMs) : m_delayMs(delayMs) {
        m_response = "HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\nConnection: close\r\n"
                     "Content-Length: " +
                     QByteArray::number(body.size()) + "\r\n\r\n" + body;
    }
    ~SlowFeedServer() { Stop(); }

    bool Listen(const char* address) {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        ::inet_pton(AF_INET, address, &addr.sin_addr);
        socklen_t length = sizeof addr;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), length) != 0 ||
            ::listen(m_listener, 128) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
            return false;
        m_port = ntohs(addr.sin_port);
        m_acceptor = std::thread([this] { Accept(); });
        return true;
    }

    quint16 Port() const { return m_port; }

    void Stop() {
        m_stopping = true;
        if (m_acceptor.joinable())
            m_acceptor.join();
        std::lock_guard lock(m_mutex);
        for (std::thread& t : m_connections)
            t.join();
        m_connections.clear();
        if (m_listener >= 0)
            ::close(m_listener);
        m_listener = -1;
    }

private:
    void Accept() {
        while (!m_stopping) {
            pollfd p{m_listener, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            std::lock_guard lock(m_mutex);
            m_connections.emplace_back([this, fd] { Serve(fd); });
        }
    }

    void Serve(int fd) {
        QByteArray request;
        char buffer[4096];
        while (!request.contains("\r\n\r\n")) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                ::close(fd);
                return;
            }
            request.append(buffer, n);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(m_delayMs));
        for (qsizetype sent = 0; sent < m_response.size();) {
            const ssize_t n =
                ::send(fd, m_response.constData() + sent, m_response.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        ::shutdown(fd, SHUT_WR);
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        ::close(fd);
    }

    QByteArray m_response;
    int m_delayMs;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic_bool m_stopping{false};
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<std::thread> m_connections;
};

// One engine run to the end; false when the file did not get every record.
bool RunEngine(const QStringList& urls, const QString& output, int maxTransfers, int maxPerHost) {
    auto file = NewsFeedOutput::Open(output, nullptr);
    if (!file)
        return false;
    UpdateJob job;
    job.urls = urls;
    job.agentName = QStringLiteral("Corvantis RSS Reader");
    job.maxTransfers = maxTransfers;
    job.maxPerHost = maxPerHost;
    UpdateEngine engine(job, std::move(file));
    engine.Start();
    engine.Wait();
    return engine.GetOutcome().failedFeeds == 0 && engine.GetOutcome().failure == UpdateEngine::Failure::None;
}

} // namespace

int main(int argc, char** argv) {
    pellavo::test::prepareEnvironment();
    QTemporaryDir dir;
    QCoreApplication app(argc, argv);

    const QByteArray body = rssDocument("Bench", kFeedBytes);
    std::vector<std::unique_ptr<SlowFeedServer>> servers;
    for (int i = 0; i < kAddresses; ++i) {
        const QByteArray address = "127.0.0." + QByteArray::number(i + 1);
        servers.push_back(std::make_unique<SlowFeedServer>(body, kDelayMs));
        if (!servers.back()->Listen(address.constData())) {
            std::fprintf(stderr, "cannot listen on %s\n", address.constData());
            return 1;
        }
    }
    QStringList urls;
    for (int i = 0; i < kFeeds; ++i)
        urls << QStringLiteral("http://127.0.0.%1:%2/feeds/%3.xml")
                    .arg(i % kAddresses + 1)
                    .arg(servers[i % kAddresses]->Port())
                    .arg(i);
    const QString output = dir.filePath(QStringLiteral("news.nff"));

    bool ok = true;
    const Figure concurrent = timeMs(3, [&] { ok = RunEngine(urls, output, 8, 4) && ok; });
    printFigure(QStringLiteral("update_all_concurrent"), concurrent, QStringLiteral("ms"));
    const Figure sequential = timeMs(2, [&] { ok = RunEngine(urls, output, 1, 1) && ok; });
    printFigure(QStringLiteral("update_all_one_at_a_time"), sequential, QStringLiteral("ms"));
    printRatio(QStringLiteral("update_all_speedup"), sequential.median / concurrent.median,
               QStringLiteral("one at a time"), QStringLiteral("concurrent"));

    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty()) {
        std::printf("note: curl not found, no comparison with it\n");
    } else {
        QFile config(dir.filePath(QStringLiteral("curl.cfg")));
        if (!config.open(QIODevice::WriteOnly))
            return 1;
        for (int i = 0; i < kFeeds; ++i)
            config.write(QStringLiteral("url = \"%1\"\noutput = \"%2\"\n")
                             .arg(urls[i], dir.filePath(QStringLiteral("curl%1.xml").arg(i)))
                             .toUtf8());
        config.close();
        const Figure viaCurl = timeMs(3, [&] {
            QProcess process;
            process.start(curl,
                          {QStringLiteral("-s"), QStringLiteral("--parallel"),
                           QStringLiteral("--parallel-max"), QStringLiteral("8"), QStringLiteral("--noproxy"),
                           QStringLiteral("*"), QStringLiteral("-K"), config.fileName()});
            ok = process.waitForFinished(120000) && process.exitCode() == 0 && ok;
        });
        printFigure(QStringLiteral("update_all_curl_parallel_8"), viaCurl, QStringLiteral("ms"));
        printRatio(QStringLiteral("update_all_vs_curl"), concurrent.median / viaCurl.median,
                   QStringLiteral("concurrent"), QStringLiteral("curl --parallel --parallel-max 8"));
    }
    for (auto& server : servers)
        server->Stop();
    if (!ok) {
        std::fprintf(stderr, "a run did not fetch every feed\n");
        return 1;
    }
    return 0;
}
