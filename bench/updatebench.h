#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class FeedCache;

namespace pellavo::bench {

// Answers every GET on one loopback address with the same document after a delay, one
// thread per connection. With keep-alive a connection serves request after request, and
// its first request waits `firstRequestExtraMs` more (standing in for a handshake);
// without, the connection closes after each answer. `extraHeaders` ("Name: value\r\n"
// lines) go out with every answer.
class DelayedFeedServer {
public:
    DelayedFeedServer(const QByteArray& body, int delayMs, bool keepAlive, int firstRequestExtraMs = 0,
                      const QByteArray& extraHeaders = {});
    ~DelayedFeedServer();
    DelayedFeedServer(const DelayedFeedServer&) = delete;
    DelayedFeedServer& operator=(const DelayedFeedServer&) = delete;

    bool Listen(const char* address);
    quint16 Port() const { return m_port; }
    void Stop();

private:
    void Accept();
    void Serve(int fd);

    QByteArray m_response;
    int m_delayMs;
    bool m_keepAlive;
    int m_firstExtraMs;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic_bool m_stopping{false};
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<std::thread> m_connections;
};

// Servers on the loopback addresses 127.0.0.1, 127.0.0.2, ... one each; none when one
// cannot listen (said on standard error).
std::vector<std::unique_ptr<DelayedFeedServer>> StartDelayedServers(int count, const QByteArray& body,
                                                                    int delayMs, bool keepAlive,
                                                                    int firstRequestExtraMs = 0,
                                                                    const QByteArray& extraHeaders = {});

// One update engine run of the addresses into `output` to the end, with the program's
// agent name and the private temporary folder; false when a feed or the file failed.
bool RunUpdateEngine(const QStringList& urls, const QString& output, int maxTransfers = 8, int maxPerHost = 4,
                     const std::shared_ptr<FeedCache>& cache = nullptr);

// An RSS document of `items` items titled "Feed <number>", their descriptions filling it to
// about `bytes` bytes.
QByteArray SizedFeedDocument(int number, int bytes, int items);

// A port that nothing listens on now on the loopback addresses 127.0.0.1 ...
quint16 FreeLoopbackPort();

// nginx in the foreground as one process of ours, serving the folder `root` on the loopback
// addresses 127.0.0.1 ... 127.0.0.<addresses>, all on one port; its files under `prefix`.
class Nginx {
public:
    Nginx() = default;
    ~Nginx();
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    // False when nginx is missing or does not answer on every address.
    bool Start(const QString& prefix, const QString& root, quint16 port, int addresses);

private:
    QProcess m_process;
};

// `count` feeds of SizedFeedDocument(i, bytes, items) written under `root`/feeds and nginx
// started serving them from `addresses` loopback addresses in turn; their addresses in
// order, none when something failed (said on standard error).
QStringList ServeFeeds(Nginx& nginx, const QString& folder, int count, int bytes, int items, int addresses);

// Runs curl's parallel mode over the addresses (each to a file of its own in `folder`)
// with at most `parallel` transfers at once; false when curl is missing or fails.
bool RunCurlParallel(const QStringList& urls, const QString& folder, int parallel);

} // namespace pellavo::bench
