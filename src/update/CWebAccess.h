#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <memory>

class FeedCache;

// Fetches one feed document over HTTP or HTTPS into a file. One instance per feed: the
// instance owns one libcurl easy handle, which lives and dies on the thread that made
// the instance. Instances on different threads are independent.
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

    // Limits of one download. The defaults are the program's; tests shorten them.
    struct Options {
        std::chrono::milliseconds connectTimeout{std::chrono::seconds(30)};
        // A transfer slower than lowSpeedBytes per second for lowSpeedTime is abandoned.
        long lowSpeedBytes = 10;
        std::chrono::seconds lowSpeedTime{60};
        std::chrono::milliseconds totalTimeout{std::chrono::minutes(15)};
        qint64 maxBodyBytes = qint64(64) * 1024 * 1024;
        long maxRedirects = 10;
        // Certificate authorities to trust instead of the system's (a PEM file); empty: the system's.
        QString caFile;
        // The last good copies to ask servers about; none: every download is a full one.
        std::shared_ptr<FeedCache> cache;
    };

    // The agent name goes out as User-Agent ("Corvantis RSS Reader", "RSS Reader").
    explicit CWebAccess(const QString& agentName);
    ~CWebAccess();
    CWebAccess(const CWebAccess&) = delete;
    CWebAccess& operator=(const CWebAccess&) = delete;

    void SetOptions(const Options& options);
    const Options& GetOptions() const { return m_options; }

    // GETs the address and stores the decoded body of a 200 response in targetPath. The
    // target is created or truncated only when a 200 response starts; any other result
    // leaves it untouched, except that a failure after the body started empties it.
    // With a cache, a request for a stored document carries its validators, and a "not
    // modified" answer fills the target from the cache and counts as a 200.
    // Blocks until done; `cancel`, when given, is watched throughout and ends the
    // download within a fraction of a second. Returns a Result or the HTTP status code.
    int Download(const QString& url, const QString& targetPath, const std::atomic_bool* cancel = nullptr);

    // How an address is understood: "http://" and "https://" in any letter case, "feed://"
    // (http), "feed:http://", "feed:https://", and no scheme at all (http). The host is the
    // text up to the first slash (with its port, if any); the object is the rest.
    struct SplitAddress {
        QString scheme; // "http" or "https"
        QString host;
        QString object; // without the leading slash
    };
    static SplitAddress SplitUrl(const QString& url);

    // The address as libcurl gets it, or an empty string when it has no host.
    static QByteArray RequestUrl(const QString& url);

private:
    struct Transfer;
    // What a finished fetch learnt besides its result.
    struct Fetched {
        QByteArray etag;
        QByteArray lastModified;
        QByteArray effectiveUrl; // without a fragment
    };
    // One request, conditional when `conditions` is given (its validators go out).
    int Fetch(const QByteArray& requestUrl, const QString& targetPath, const std::atomic_bool* cancel,
              const Fetched* conditions, Fetched* fetched);
    int DownloadCached(FeedCache& cache, const QString& url, const QByteArray& requestUrl,
                       const QString& targetPath, const std::atomic_bool* cancel);
    QByteArray m_agentName;
    Options m_options;
    void* m_curl = nullptr; // CURL*, kept opaque so that users need not include curl.h
};
