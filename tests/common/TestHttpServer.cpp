#include "TestHttpServer.h"

#include <QFile>
#include <QHash>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QThread>
#include <QtEndian>

#include <arpa/inet.h>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pellavo::test {

namespace {

constexpr int PollMs = 50;
constexpr qsizetype SendPiece = 256 * 1024;
constexpr qsizetype MaxHead = 64 * 1024;

quint32 crc32(const QByteArray& data) {
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char ch : data)
        crc = table[(crc ^ quint8(ch)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

QByteArray reasonPhrase(int status) {
    static const QHash<int, QByteArray> reasons = {
        {200, "OK"},
        {204, "No Content"},
        {301, "Moved Permanently"},
        {302, "Found"},
        {303, "See Other"},
        {304, "Not Modified"},
        {307, "Temporary Redirect"},
        {308, "Permanent Redirect"},
        {400, "Bad Request"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {410, "Gone"},
        {500, "Internal Server Error"},
        {503, "Service Unavailable"},
    };
    return reasons.value(status, "Status");
}

} // namespace

QByteArray gzipCompress(const QByteArray& data) {
    // qCompress gives a 4-byte length, then a zlib stream: 2-byte header, raw deflate data,
    // 4-byte Adler-32. gzip wraps the same deflate data in its own header and trailer.
    const QByteArray zlib = qCompress(data, 6);
    QByteArray out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
    out.append(zlib.constData() + 6, zlib.size() - 10);
    char trailer[8];
    qToLittleEndian(crc32(data), trailer);
    qToLittleEndian(quint32(data.size()), trailer + 4);
    out.append(trailer, 8);
    return out;
}

bool TestCertificates::run(const QStringList& arguments) {
    QProcess openssl;
    openssl.setWorkingDirectory(m_dir.path());
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0) {
        m_error = QStringLiteral("openssl %1 failed: %2%3")
                      .arg(arguments.join(QLatin1Char(' ')), openssl.errorString(),
                           QString::fromLocal8Bit(openssl.readAllStandardError()));
        return false;
    }
    return true;
}

bool TestCertificates::generate(const QStringList& dnsNames, const QStringList& ipAddresses) {
    if (!m_dir.isValid()) {
        m_error = m_dir.errorString();
        return false;
    }
    QStringList names;
    for (const QString& name : dnsNames)
        names << QStringLiteral("DNS:") + name;
    for (const QString& ip : ipAddresses)
        names << QStringLiteral("IP:") + ip;
    QFile extensions(m_dir.filePath(QStringLiteral("server.ext")));
    if (!extensions.open(QIODevice::WriteOnly)) {
        m_error = extensions.errorString();
        return false;
    }
    extensions.write("basicConstraints=CA:FALSE\n"
                     "keyUsage=critical,digitalSignature,keyEncipherment\n"
                     "extendedKeyUsage=serverAuth\n"
                     "subjectAltName=" +
                     names.join(QLatin1Char(',')).toLatin1() + "\n");
    extensions.close();
    const QString subject =
        QStringLiteral("/CN=") + (dnsNames.isEmpty() ? ipAddresses.value(0) : dnsNames.first());
    return run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
                "-days", "2", "-subj", "/CN=Pellavo Test Authority", "-addext",
                "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"}) &&
           run({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
                "-subj", subject}) &&
           run({"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                "-out", "server.pem", "-days", "2", "-extfile", "server.ext"});
}

HttpResponse HttpResponse::ok(const QByteArray& body, const QByteArray& contentType) {
    HttpResponse response;
    response.body = body;
    response.headers = {{"Content-Type", contentType}};
    return response;
}

HttpResponse HttpResponse::redirect(const QByteArray& location, int status) {
    HttpResponse response;
    response.status = status;
    response.headers = {{"Location", location}};
    response.body = "moved";
    return response;
}

HttpResponse HttpResponse::withStatus(int status) {
    HttpResponse response;
    response.status = status;
    response.body = reasonPhrase(status);
    response.headers = {{"Content-Type", "text/plain"}};
    return response;
}

QByteArray HttpRequestRecord::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QByteArray();
}

bool HttpRequestRecord::hasHeader(const QByteArray& name) const {
    for (const auto& entry : headers) {
        if (entry.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

struct TestHttpServer::Private {
    int listener = -1;
    QByteArray address = "127.0.0.1";
    quint16 port = 0;
    bool tls = false;
    QList<QSslCertificate> chain;
    QSslKey key;
    QString error;

    std::atomic_bool stopping{false};
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    qsizetype releasedUpTo = 0; // requests of the log before this go on
    QHash<QByteArray, HttpResponse> routes;
    QList<HttpRequestRecord> log;
    qint64 totalSent = 0;

    std::unique_ptr<QThread> acceptor;
    std::vector<std::unique_ptr<QThread>> connections;

    // Sleeps up to ms (for ever when negative); false when the server stops meanwhile.
    // Until release() after the request at `logIndex` arrived; false when the server stops.
    bool hold(qsizetype logIndex) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stopping.load() || releasedUpTo > logIndex; });
        return !stopping;
    }

    bool pause(int ms) {
        std::unique_lock lock(mutex);
        const auto stopped = [this] { return stopping.load(); };
        if (ms < 0) {
            changed.wait(lock, stopped);
            return false;
        }
        return !changed.wait_for(lock, std::chrono::milliseconds(ms), stopped);
    }

    void accept() {
        while (!stopping) {
            pollfd p{listener, POLLIN, 0};
            if (::poll(&p, 1, PollMs) <= 0)
                continue;
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            std::unique_ptr<QThread> thread(QThread::create([this, fd] { serve(fd); }));
            thread->start();
            std::lock_guard lock(mutex);
            std::erase_if(connections, [](const auto& t) { return t->isFinished(); });
            connections.push_back(std::move(thread));
        }
    }

    bool send(QSslSocket& socket, const QByteArray& bytes, qsizetype logIndex) {
        for (qsizetype done = 0; done < bytes.size();) {
            const qsizetype n = qMin(SendPiece, bytes.size() - done);
            if (socket.write(bytes.constData() + done, n) != n)
                return false;
            while (socket.bytesToWrite() > 0) {
                if (stopping || socket.state() != QAbstractSocket::ConnectedState)
                    return false;
                socket.waitForBytesWritten(PollMs);
            }
            done += n;
            std::lock_guard lock(mutex);
            totalSent += n;
            if (logIndex >= 0)
                log[logIndex].bytesSent += n;
        }
        return true;
    }

    HttpResponse route(const QByteArray& target) const {
        std::lock_guard lock(mutex);
        if (routes.contains(target))
            return routes.value(target);
        const QByteArray path = target.left(target.indexOf('?'));
        if (routes.contains(path))
            return routes.value(path);
        return HttpResponse::withStatus(404);
    }

    // What a server that honours validators answers to this request instead of `full`.
    static HttpResponse conditional(const HttpResponse& full, const HttpRequestRecord& request) {
        QByteArray etag;
        QByteArray lastModified;
        for (const auto& [name, value] : full.headers) {
            if (name.compare("ETag", Qt::CaseInsensitive) == 0)
                etag = value;
            else if (name.compare("Last-Modified", Qt::CaseInsensitive) == 0)
                lastModified = value;
        }
        const auto weak = [](QByteArray tag) { return tag.startsWith("W/") ? tag.mid(2) : tag; };
        bool unchanged = false;
        if (request.hasHeader("If-None-Match")) {
            for (const QByteArray& tag : request.header("If-None-Match").split(','))
                unchanged = unchanged ||
                            (!etag.isEmpty() && (tag.trimmed() == "*" || weak(tag.trimmed()) == weak(etag)));
        } else if (request.hasHeader("If-Modified-Since")) {
            unchanged = !lastModified.isEmpty() && request.header("If-Modified-Since") == lastModified;
        }
        if (!unchanged)
            return full;
        HttpResponse notModified = full;
        notModified.status = 304;
        notModified.body.clear();
        notModified.gzip = false;
        notModified.chunked = false;
        return notModified;
    }

    // Answers one request; false when the connection must close.
    bool answer(QSslSocket& socket, const HttpRequestRecord& request, qsizetype logIndex) {
        HttpResponse response = route(request.target);
        if (response.honourValidators && response.status == 200)
            response = conditional(response, request);
        {
            std::lock_guard lock(mutex);
            log[logIndex].status =
                response.raw.isEmpty() && !response.closeWithoutAnswer ? response.status : 0;
        }
        if (response.closeWithoutAnswer)
            return false;
        if (response.held && !hold(logIndex))
            return false;
        if (response.delayMs && !pause(response.delayMs))
            return false;
        if (!response.raw.isEmpty()) {
            send(socket, response.raw, logIndex);
            return false;
        }
        const bool keepAlive = request.header("Connection").compare("close", Qt::CaseInsensitive) != 0 &&
                               request.version == "HTTP/1.1";
        const QByteArray body = response.gzip ? gzipCompress(response.body) : response.body;
        QByteArray head =
            "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
        bool hasLength = false;
        for (const auto& [name, value] : response.headers) {
            head += name + ": " + value + "\r\n";
            hasLength = hasLength || name.compare("Content-Length", Qt::CaseInsensitive) == 0;
        }
        if (response.gzip)
            head += "Content-Encoding: gzip\r\n";
        if (response.chunked || response.endless)
            head += "Transfer-Encoding: chunked\r\n";
        else if (!hasLength)
            head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        head += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
        if (!send(socket, head, logIndex))
            return false;
        if (response.stallAfterHeadersMs && !pause(response.stallAfterHeadersMs))
            return false;
        if (request.method == "HEAD")
            return keepAlive;
        if (response.endless) {
            const QByteArray framed = QByteArray::number(body.size(), 16) + "\r\n" + body + "\r\n";
            while (!body.isEmpty() && send(socket, framed, logIndex)) {
            }
            return false;
        }
        const qsizetype piece = response.dribbleBytes > 0 ? response.dribbleBytes : SendPiece;
        for (qsizetype done = 0; done < body.size(); done += piece) {
            if (done > 0 && response.dribbleIntervalMs && !pause(response.dribbleIntervalMs))
                return false;
            const QByteArray part = body.mid(done, piece);
            const QByteArray framed =
                response.chunked ? QByteArray::number(part.size(), 16) + "\r\n" + part + "\r\n" : part;
            if (!send(socket, framed, logIndex))
                return false;
        }
        if (response.chunked && !send(socket, "0\r\n\r\n", logIndex))
            return false;
        return keepAlive;
    }

    void serve(int fd) {
        QSslSocket socket;
        if (!socket.setSocketDescriptor(fd)) {
            ::close(fd);
            return;
        }
        if (tls) {
            QSslConfiguration configuration = socket.sslConfiguration();
            configuration.setLocalCertificateChain(chain);
            configuration.setPrivateKey(key);
            configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
            socket.setSslConfiguration(configuration);
            socket.startServerEncryption();
            while (!socket.isEncrypted()) {
                if (stopping || socket.state() != QAbstractSocket::ConnectedState)
                    return;
                socket.waitForEncrypted(PollMs);
            }
        }
        QByteArray buffer;
        while (!stopping) {
            qsizetype end = buffer.indexOf("\r\n\r\n");
            while (end < 0) {
                if (stopping || buffer.size() > MaxHead)
                    return;
                if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(PollMs) &&
                    socket.state() != QAbstractSocket::ConnectedState)
                    return;
                buffer += socket.readAll();
                end = buffer.indexOf("\r\n\r\n");
            }
            HttpRequestRecord request;
            request.tls = tls;
            request.head = buffer.left(end + 4);
            buffer.remove(0, end + 4);
            const QList<QByteArray> lines = request.head.split('\n');
            const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
            request.method = first.value(0);
            request.target = first.value(1);
            request.version = first.value(2);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines.at(i).trimmed();
                const qsizetype colon = line.indexOf(':');
                if (colon > 0)
                    request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
            }
            qsizetype logIndex = 0;
            {
                std::lock_guard lock(mutex);
                logIndex = log.size();
                log.append(request);
            }
            changed.notify_all();
            if (!answer(socket, request, logIndex))
                break;
        }
        socket.disconnectFromHost();
        if (socket.state() != QAbstractSocket::UnconnectedState)
            socket.waitForDisconnected(1000);
    }

    bool listen() {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        socklen_t length = sizeof address;
        if (listener < 0 || ::inet_pton(AF_INET, this->address.constData(), &address.sin_addr) != 1 ||
            ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener, 64) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        port = ntohs(address.sin_port);
        stopping = false;
        acceptor.reset(QThread::create([this] { accept(); }));
        acceptor->start();
        return true;
    }
};

TestHttpServer::TestHttpServer() : d(std::make_unique<Private>()) {}

TestHttpServer::~TestHttpServer() {
    stop();
}

bool TestHttpServer::start(const QByteArray& address) {
    d->address = address;
    return d->listen();
}

bool TestHttpServer::startTls(const QString& certFile, const QString& keyFile) {
    d->chain = QSslCertificate::fromPath(certFile);
    QFile key(keyFile);
    if (d->chain.isEmpty() || !key.open(QIODevice::ReadOnly)) {
        d->error = QStringLiteral("cannot read %1 or %2").arg(certFile, keyFile);
        return false;
    }
    d->key = QSslKey(key.readAll(), QSsl::Rsa);
    if (d->key.isNull() || !QSslSocket::supportsSsl()) {
        d->error = QStringLiteral("no usable key in %1, or no TLS support").arg(keyFile);
        return false;
    }
    d->tls = true;
    return d->listen();
}

void TestHttpServer::stop() {
    {
        std::lock_guard lock(d->mutex);
        d->stopping = true;
    }
    d->changed.notify_all();
    if (d->acceptor) {
        d->acceptor->wait();
        d->acceptor.reset();
    }
    for (const auto& thread : d->connections)
        thread->wait();
    d->connections.clear();
    if (d->listener >= 0) {
        ::close(d->listener);
        d->listener = -1;
    }
}

quint16 TestHttpServer::port() const {
    return d->port;
}

QString TestHttpServer::url(const QString& path, const QString& host) const {
    return QStringLiteral("%1://%2:%3%4")
        .arg(d->tls ? "https" : "http", host.isEmpty() ? QString::fromLatin1(d->address) : host)
        .arg(d->port)
        .arg(path);
}

void TestHttpServer::release() {
    std::lock_guard lock(d->mutex);
    d->releasedUpTo = d->log.size();
    d->changed.notify_all();
}

void TestHttpServer::setRoute(const QByteArray& path, const HttpResponse& response) {
    std::lock_guard lock(d->mutex);
    d->routes.insert(path, response);
}

QList<HttpRequestRecord> TestHttpServer::requests() const {
    std::lock_guard lock(d->mutex);
    return d->log;
}

bool TestHttpServer::waitForRequests(int count, int timeoutMs) const {
    std::unique_lock lock(d->mutex);
    return d->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return d->log.size() >= count; });
}

qint64 TestHttpServer::totalBytesSent() const {
    std::lock_guard lock(d->mutex);
    return d->totalSent;
}

QString TestHttpServer::errorString() const {
    return d->error;
}

} // namespace pellavo::test
