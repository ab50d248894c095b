#include "updatebench.h"

#include "base/AppPaths.h"
#include "update/NewsFeedOutput.h"
#include "update/UpdateEngine.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pellavo::bench {

DelayedFeedServer::DelayedFeedServer(const QByteArray& body, int delayMs, bool keepAlive,
                                     int firstRequestExtraMs, const QByteArray& extraHeaders)
    : m_delayMs(delayMs), m_keepAlive(keepAlive), m_firstExtraMs(firstRequestExtraMs) {
    m_response = "HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\n" + extraHeaders +
                 "Connection: " + QByteArray(keepAlive ? "keep-alive" : "close") +
                 "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

DelayedFeedServer::~DelayedFeedServer() {
    Stop();
}

bool DelayedFeedServer::Listen(const char* address) {
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

void DelayedFeedServer::Stop() {
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

void DelayedFeedServer::Accept() {
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

void DelayedFeedServer::Serve(int fd) {
    QByteArray received;
    char buffer[4096];
    for (bool first = true; !m_stopping; first = false) {
        qsizetype end = -1;
        while ((end = received.indexOf("\r\n\r\n")) < 0) {
            pollfd p{fd, POLLIN, 0};
            if (m_stopping) {
                ::close(fd);
                return;
            }
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                ::close(fd);
                return;
            }
            received.append(buffer, n);
        }
        received.remove(0, end + 4);
        std::this_thread::sleep_for(std::chrono::milliseconds(m_delayMs + (first ? m_firstExtraMs : 0)));
        for (qsizetype sent = 0; sent < m_response.size();) {
            const ssize_t n =
                ::send(fd, m_response.constData() + sent, m_response.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        if (!m_keepAlive)
            break;
    }
    ::shutdown(fd, SHUT_WR);
    while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
    ::close(fd);
}

std::vector<std::unique_ptr<DelayedFeedServer>> StartDelayedServers(int count, const QByteArray& body,
                                                                    int delayMs, bool keepAlive,
                                                                    int firstRequestExtraMs,
                                                                    const QByteArray& extraHeaders) {
    std::vector<std::unique_ptr<DelayedFeedServer>> servers;
    for (int i = 0; i < count; ++i) {
        const QByteArray address = "127.0.0." + QByteArray::number(i + 1);
        servers.push_back(
            std::make_unique<DelayedFeedServer>(body, delayMs, keepAlive, firstRequestExtraMs, extraHeaders));
        if (!servers.back()->Listen(address.constData())) {
            std::fprintf(stderr, "cannot listen on %s\n", address.constData());
            return {};
        }
    }
    return servers;
}

bool RunUpdateEngine(const QStringList& urls, const QString& output, int maxTransfers, int maxPerHost,
                     const std::shared_ptr<FeedCache>& cache) {
    auto file = NewsFeedOutput::Open(output, nullptr);
    if (!file)
        return false;
    UpdateJob job;
    job.urls = urls;
    job.agentName = QStringLiteral("Corvantis RSS Reader");
    job.maxTransfers = maxTransfers;
    job.maxPerHost = maxPerHost;
    job.tempFolder = AppPaths::PrivateTempFolder();
    job.webOptions.cache = cache;
    UpdateEngine engine(job, std::move(file));
    engine.Start();
    engine.Wait();
    return engine.GetOutcome().failedFeeds == 0 && engine.GetOutcome().failure == UpdateEngine::Failure::None;
}

QByteArray SizedFeedDocument(int number, int bytes, int items) {
    QByteArray doc =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Feed " +
        QByteArray::number(number) + "</title>\n";
    const QByteArray words = "Lorem ipsum dolor sit amet, consectetur adipiscing elit. ";
    for (int i = 0; i < items; ++i) {
        QByteArray text;
        while (text.size() < bytes / items - 120)
            text += words;
        doc += "<item><title>Item " + QByteArray::number(i) + "</title><description>" + text +
               "</description></item>\n";
    }
    return doc + "</channel></rss>\n";
}

quint16 FreeLoopbackPort() {
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

bool Nginx::Start(const QString& prefix, const QString& root, quint16 port, int addresses) {
    const QString nginx = QStandardPaths::findExecutable(QStringLiteral("nginx"), {"/usr/sbin", "/usr/bin"});
    if (nginx.isEmpty())
        return false;
    QDir(prefix).mkpath(QStringLiteral("logs"));
    QByteArray listen;
    for (int i = 1; i <= addresses; ++i)
        listen += "listen 127.0.0." + QByteArray::number(i) + ":" + QByteArray::number(port) + ";\n";
    const QByteArray at = QFile::encodeName(prefix);
    QFile conf(prefix + QStringLiteral("/nginx.conf"));
    if (!conf.open(QIODevice::WriteOnly))
        return false;
    conf.write("daemon off;\nmaster_process off;\nworker_processes 1;\nerror_log " + at +
               "/logs/error.log;\npid " + at +
               "/nginx.pid;\nevents { worker_connections 1024; }\n"
               "http {\naccess_log off;\nkeepalive_requests 100000;\nclient_body_temp_path " +
               at + "/body;\nproxy_temp_path " + at + "/proxy;\nfastcgi_temp_path " + at +
               "/fastcgi;\nuwsgi_temp_path " + at + "/uwsgi;\nscgi_temp_path " + at + "/scgi;\nserver {\n" +
               listen + "root " + QFile::encodeName(root) + ";\n}\n}\n");
    conf.close();
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(nginx, {QStringLiteral("-p"), prefix, QStringLiteral("-c"), conf.fileName()});
    if (!m_process.waitForStarted())
        return false;
    // Up once it answers on every address.
    for (int attempt = 0; attempt < 100; ++attempt) {
        int up = 0;
        for (int i = 1; i <= addresses; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(port);
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK + i - 1);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
                ++up;
            ::close(fd);
        }
        if (up == addresses)
            return true;
        QThread::msleep(20);
    }
    return false;
}

Nginx::~Nginx() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished();
    }
}

QStringList ServeFeeds(Nginx& nginx, const QString& folder, int count, int bytes, int items, int addresses) {
    const QString root = folder + QStringLiteral("/www");
    QDir().mkpath(root + QStringLiteral("/feeds"));
    const quint16 port = FreeLoopbackPort();
    QStringList urls;
    for (int i = 0; i < count; ++i) {
        QFile feed(root + QStringLiteral("/feeds/%1.xml").arg(i));
        const QByteArray document = SizedFeedDocument(i, bytes, items);
        if (!feed.open(QIODevice::WriteOnly) || feed.write(document) != document.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(feed.fileName()));
            return {};
        }
        urls << QStringLiteral("http://127.0.0.%1:%2/feeds/%3.xml").arg(i % addresses + 1).arg(port).arg(i);
    }
    if (!port || !nginx.Start(folder + QStringLiteral("/nginx"), root, port, addresses)) {
        std::fprintf(stderr, "cannot start nginx on loopback\n");
        return {};
    }
    return urls;
}

bool RunCurlParallel(const QStringList& urls, const QString& folder, int parallel) {
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    QFile config(folder + QStringLiteral("/curl.cfg"));
    if (curl.isEmpty() || !QDir().mkpath(folder) || !config.open(QIODevice::WriteOnly))
        return false;
    for (qsizetype i = 0; i < urls.size(); ++i)
        config.write(
            QStringLiteral("url = \"%1\"\noutput = \"%2/%3.xml\"\n").arg(urls[i], folder).arg(i).toUtf8());
    config.close();
    QProcess process;
    process.start(curl,
                  {QStringLiteral("-s"), QStringLiteral("--parallel"), QStringLiteral("--parallel-immediate"),
                   QStringLiteral("--parallel-max"), QString::number(parallel), QStringLiteral("--noproxy"),
                   QStringLiteral("*"), QStringLiteral("-K"), config.fileName()});
    return process.waitForFinished(300000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace pellavo::bench
