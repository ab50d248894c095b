#pragma once

#include "update/FeedCache.h"
#include "update/NetworkReach.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <memory>

class FetchLoop;

// Fetches one feed document over HTTP or HTTPS into a file. One instance per feed: the
// instance owns one libcurl easy handle. Download runs the whole fetch on the calling
// thread; an update run instead begins many instances and drives them together in one
// FetchLoop, which lets them share connections, name look-ups and TLS sessions.
class CWebAccess {
public:
    // Results of Download besides the final HTTP status code of a response other than 200.
    enum Result : int {
        Success = 1,          // status 200; the whole body is in the target file
        NoConnection = -20,   // no host, no connection, TLS refused, or the request could not be sent
        NoStatus = -21,       // the response's status line could not be read
        TransferFailed = -22, // time-out, unreadable body, unwritable target, or body over the size cap
        Cancelled = -23,      // the caller's cancellation flag was raised
    };

    // Why a download did not yield the document, in words a user can act on.
    enum class Reason {
        None,
        HttpStatus, // the server answered with a status other than 200
        NoHost,
        HostNotFound,
        ProxyNotFound,
        ConnectionRefused,
        CouldNotConnect,
        ProxyRefused,
        CertificateNotTrusted,
        SecureConnectionFailed,
        TimedOut,
        TooManyRedirects,
        RedirectNotHttp,
        NoAnswer,
        NotHttp,
        ConnectionBroken,
        TooLarge,
        WriteFailed,
        Cancelled,
        PrivateAddress,   // a confined download was sent to the user's own machine or network
        InsecureRedirect, // a confined secure download was sent on to plain http
    };

    // What stopped a transfer from our side, if anything.
    enum class Stop { None, Cancelled, TooLarge, WriteFailed, NotWanted, InsecureRedirect };

    // What one finished request left behind, as libcurl and our callbacks saw it.
    struct Outcome {
        Stop stop = Stop::None;
        bool done = false;           // libcurl reported the transfer as ended
        int code = 0;                // its CURLcode
        long status = 0;             // of the last response read
        long proxyStatus = 0;        // of a proxy's answer to CONNECT, 0 without one
        int finalResponses = 0;      // status lines of responses (1xx aside), redirects included
        long redirects = 0;          // followed
        int osError = 0;             // errno of a failed connect
        bool refusedAddress = false; // a connection was refused for where it led
    };
    struct Verdict {
        int result = Success; // a Result or the HTTP status
        Reason reason = Reason::None;
        long status = 0; // the server's, or with ProxyRefused the proxy's
    };
    // The result of a request from what it left behind; a Success still needs its target
    // file to be closed whole.
    static Verdict Classify(const Outcome& outcome);
    // "404 Not Found", "Connection refused", "Timed out", ...
    static QString ReasonText(const Verdict& verdict);

    // Limits of one download. The defaults are the program's; tests shorten them.
    struct Options {
        std::chrono::milliseconds connectTimeout{std::chrono::seconds(30)};
        // A transfer slower than lowSpeedBytes per second for lowSpeedTime is abandoned.
        long lowSpeedBytes = 10;
        std::chrono::seconds lowSpeedTime{60};
        std::chrono::milliseconds totalTimeout{std::chrono::minutes(15)};
        qint64 maxBodyBytes = qint64(64) * 1024 * 1024;
        long maxRedirects = 10;
        // What is asked for: feed documents, unless the caller fetches something else.
        QByteArray accept = "application/rss+xml, text/xml";
        // Certificate authorities to trust instead of the system's (a PEM file); empty: the system's.
        QString caFile;
        // The last good copies to ask servers about; none: every download is a full one.
        std::shared_ptr<FeedCache> cache;
        // Where the download may connect to; anywhere unless confined. Through a proxy from
        // the environment only the proxy is connected to, and it decides what lies beyond.
        NetworkReach reach;
    };

    // What a finished download asks of the cache: the document now in the target, with
    // these validators, is the key's new entry.
    struct CacheUpdate {
        bool pending = false;
        QByteArray key;
        FeedCache::Record record;
    };

    // The agent name goes out as User-Agent ("Corvantis RSS Reader", "RSS Reader").
    explicit CWebAccess(const QString& agentName);
    ~CWebAccess();
    CWebAccess(const CWebAccess&) = delete;
    CWebAccess& operator=(const CWebAccess&) = delete;

    void SetOptions(const Options& options);

    // GETs the address and stores the decoded body of a 200 response in targetPath. The
    // target is created or truncated only when a 200 response starts; any other result
    // leaves it untouched, except that a failure after the body started empties it.
    // With a cache, a request for a stored document carries its validators, and a "not
    // modified" answer fills the target from the cache and counts as a 200.
    // Blocks until done; `cancel`, when given, is watched throughout and ends the
    // download within a fraction of a second. Returns a Result or the HTTP status code.
    int Download(const QString& url, const QString& targetPath, const std::atomic_bool* cancel = nullptr);

    // The same download, to be driven by a FetchLoop. False when it is already over (no
    // host, cancelled): then Verdict() says how.
    bool Begin(const QString& url, const QString& targetPath, const std::atomic_bool* cancel);
    const Verdict& GetVerdict() const { return m_verdict; }
    // The kind of the server the download was last connected to: Public until known.
    NetworkKind ServerKind() const { return m_serverKind; }
    // Body bytes that came in for the download, whatever became of them.
    qint64 BytesReceived() const { return m_nReceived; }
    // Left for the holder of the target file to apply once it no longer needs the file alone.
    const CacheUpdate& PendingCacheUpdate() const { return m_cacheUpdate; }
    static void ApplyCacheUpdate(FeedCache& cache, const CacheUpdate& update, const QString& targetPath);

private:
    friend class FetchLoop;
    struct Transfer;
    // The validators that go out with a conditional request.
    struct Conditions {
        QByteArray etag;
        QByteArray lastModified;
    };

    void SetUpRequest(const Conditions* conditions);
    // The loop's word that the current request ended with `code` (`done`: as libcurl
    // reports it, not cut off by a failure of the loop); true when the download is over,
    // false when it has set up its next request on the same handle.
    bool RequestEnded(int code, bool done);
    // Ends the current request where it stands (cancellation): the download is over.
    void Abandon();
    void Finish(const Verdict& verdict);

    QByteArray m_agentName;
    Options m_options;
    void* m_curl = nullptr; // CURL*, kept opaque so that users need not include curl.h
    FetchLoop* m_pLoop = nullptr;

    QByteArray m_requestUrl;
    QString m_strTarget;
    const std::atomic_bool* m_pCancel = nullptr;
    std::unique_ptr<Transfer> m_transfer;
    std::unique_ptr<FeedCache::Entry> m_entry; // asked about in the current request
    QByteArray m_cacheKey;
    bool m_bFinished = false;
    qint64 m_nReceived = 0;
    NetworkKind m_serverKind = NetworkKind::Public;
    Verdict m_verdict;
    CacheUpdate m_cacheUpdate;
};
