#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace pellavo::test {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// A certificate authority made for one test run with the openssl command, and a server
// certificate signed by it, all in a temporary folder that goes with the object.
class TestCertificates {
public:
    // Makes the authority and a server certificate valid for the given names.
    bool generate(const QStringList& dnsNames = {QStringLiteral("localhost")},
                  const QStringList& ipAddresses = {QStringLiteral("127.0.0.1")});
    QString caFile() const { return m_dir.filePath(QStringLiteral("ca.pem")); }
    QString serverCertFile() const { return m_dir.filePath(QStringLiteral("server.pem")); }
    QString serverKeyFile() const { return m_dir.filePath(QStringLiteral("server.key")); }
    QString errorString() const { return m_error; }

private:
    bool run(const QStringList& arguments);

    QTemporaryDir m_dir;
    QString m_error;
};

// What the server answers on one path.
struct HttpResponse {
    int status = 200;
    HeaderList headers;              // sent as given; Content-Length is added unless given or chunked
    QByteArray body;                 // sent gzip-compressed when `gzip` is set
    int delayMs = 0;                 // before anything is sent
    bool held = false;               // nothing is sent until release() (or stop())
    int stallAfterHeadersMs = 0;     // between the header block and the body; < 0: until the server stops
    int dribbleBytes = 0;            // > 0: the body goes out in pieces of this size...
    int dribbleIntervalMs = 0;       // ...with this pause between them
    bool chunked = false;            // Transfer-Encoding: chunked
    bool gzip = false;               // Content-Encoding: gzip
    bool closeWithoutAnswer = false; // the connection is closed without a byte
    QByteArray raw;                  // when set, sent as it stands instead of a composed response
    // A 200 answers 304 without a body when the request's If-None-Match names the ETag
    // header given, or (without If-None-Match) its If-Modified-Since equals Last-Modified.
    bool honourValidators = false;
    bool endless = false; // the body goes out chunked over and over until the client hangs up

    static HttpResponse ok(const QByteArray& body,
                           const QByteArray& contentType = QByteArrayLiteral("application/rss+xml"));
    static HttpResponse redirect(const QByteArray& location, int status = 302);
    static HttpResponse withStatus(int status);
};

// One request as the server saw it, with what it sent back.
struct HttpRequestRecord {
    QByteArray method;
    QByteArray target;
    QByteArray version;
    HeaderList headers; // in the order received
    QByteArray head;    // the request line and header block exactly as received
    bool tls = false;
    qint64 bytesSent = 0; // of the response, header block included
    int status = 0;       // of the response; 0 when none was composed

    // The first header of that name (any letter case), or a null array.
    QByteArray header(const QByteArray& name) const;
    bool hasHeader(const QByteArray& name) const;
};

// An HTTP/1.1 server on loopback for tests and benchmarks. It accepts and answers in
// threads of its own, so that a client under test may block the calling thread. Every
// path answers as set with setRoute (matched with its query first, then without), and
// 404 otherwise. Connections are kept alive as HTTP/1.1 allows.
class TestHttpServer {
public:
    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // Plain HTTP on a loopback address, on a port the system picks.
    bool start(const QByteArray& address = "127.0.0.1");
    // HTTPS with the given PEM certificate chain and key.
    bool startTls(const QString& certFile, const QString& keyFile);
    // Ends every connection (also stalled ones) and waits for the threads.
    void stop();

    quint16 port() const;
    // "http(s)://<host>:<port><path>"; path starts with '/'; the host is the server's own
    // address unless given.
    QString url(const QString& path, const QString& host = QString()) const;

    void setRoute(const QByteArray& path, const HttpResponse& response);
    // Lets the held responses of the requests that have arrived go.
    void release();

    QList<HttpRequestRecord> requests() const;
    // Waits until at least `count` requests have arrived.
    bool waitForRequests(int count, int timeoutMs = 5000) const;
    // Response bytes sent over every connection so far.
    qint64 totalBytesSent() const;
    QString errorString() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// The body in gzip format (RFC 1952), as a server sends it with Content-Encoding: gzip.
QByteArray gzipCompress(const QByteArray& data);

} // namespace pellavo::test
