#include "update/CWebAccess.h"

#include "update/FeedCache.h"

#include <QDateTime>
#include <QFile>

#include <curl/curl.h>

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

// The body goes to the file in blocks of this size, whatever pieces libcurl hands over.
constexpr qsizetype WriteBlock = 256 * 1024;
// How often a running download looks at the caller's cancellation flag.
constexpr int CancelPollMs = 50;

// Used as User-Agent only when the caller gives no agent name.
constexpr char FallbackAgent[] = "Corvantis RSS Helper";

constexpr long NotModified = 304;

void EnsureCurlInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool StripPrefix(QString& text, QLatin1StringView prefix) {
    if (!text.startsWith(prefix, Qt::CaseInsensitive))
        return false;
    text.remove(0, prefix.size());
    return true;
}

// libcurl refuses blanks and raw non-ASCII in a path; feed lists hold both.
QByteArray EncodeObject(const QString& object) {
    const QByteArray utf8 = object.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F) {
            static const char hex[] = "0123456789ABCDEF";
            out.append('%');
            out.append(hex[c >> 4]);
            out.append(hex[c & 0xF]);
        } else {
            out.append(ch);
        }
    }
    return out;
}

} // namespace

// The state of one download, shared with libcurl's callbacks.
struct CWebAccess::Transfer {
    CURL* curl = nullptr;
    QByteArray targetPath;
    qint64 maxBodyBytes = 0;
    const std::atomic_bool* cancel = nullptr;

    enum class Stop { None, Cancelled, TooLarge, WriteFailed };
    Stop stop = Stop::None;
    int fd = -1;
    qint64 received = 0;
    QByteArray pending;
    // Responses whose status line arrived (1xx interim responses aside); a redirect that
    // libcurl follows counts one.
    int finalResponses = 0;
    // The validators of the latest response.
    QByteArray etag;
    QByteArray lastModified;

    ~Transfer() {
        if (fd >= 0)
            ::close(fd);
    }

    bool Cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }

    long Status() const {
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        return status;
    }

    bool OpenTarget() {
        if (fd >= 0)
            return true;
        do {
            fd = ::open(targetPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        return fd >= 0;
    }

    bool WriteOut(const char* data, qsizetype size) {
        while (size > 0) {
            const ssize_t n = ::write(fd, data, size_t(size));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            data += n;
            size -= n;
        }
        return true;
    }

    // Some file systems report a failed write only when the file is closed.
    bool Close() {
        const int closing = fd;
        fd = -1;
        return ::close(closing) == 0;
    }

    bool Flush() {
        const bool ok = WriteOut(pending.constData(), pending.size());
        // Keeps the block's memory: a fresh one for every block costs page faults.
        pending.resize(0);
        return ok;
    }

    size_t Body(const char* data, size_t size) {
        if (Cancelled()) {
            stop = Stop::Cancelled;
            return 0;
        }
        // Bodies of other responses are of no use to anyone: drop them.
        if (Status() != 200)
            return size;
        received += qint64(size);
        if (received > maxBodyBytes) {
            stop = Stop::TooLarge;
            return 0;
        }
        if (!OpenTarget()) {
            stop = Stop::WriteFailed;
            return 0;
        }
        if (pending.isEmpty() && qsizetype(size) >= WriteBlock) {
            if (WriteOut(data, qsizetype(size)))
                return size;
        } else {
            if (pending.capacity() < WriteBlock)
                pending.reserve(WriteBlock);
            pending.append(data, qsizetype(size));
            if (pending.size() < WriteBlock || Flush())
                return size;
        }
        stop = Stop::WriteFailed;
        return 0;
    }

    void Header(const char* data, size_t size) {
        const QByteArray line(data, qsizetype(size));
        // A status line starts every response's header block, also after a redirect.
        if (line.startsWith("HTTP/")) {
            etag.clear();
            lastModified.clear();
            const qsizetype blank = line.indexOf(' ');
            bool ok = false;
            const int status = blank > 0 ? line.mid(blank + 1, 3).toInt(&ok) : 0;
            if (ok && status >= 200)
                ++finalResponses;
            return;
        }
        const qsizetype colon = line.indexOf(':');
        const QByteArrayView name = QByteArrayView(line).first(std::max<qsizetype>(colon, 0)).trimmed();
        if (name.compare("ETag", Qt::CaseInsensitive) == 0)
            etag = line.mid(colon + 1).trimmed();
        else if (name.compare("Last-Modified", Qt::CaseInsensitive) == 0)
            lastModified = line.mid(colon + 1).trimmed();
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* user) {
        return static_cast<Transfer*>(user)->Body(data, size * count);
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
        static_cast<Transfer*>(user)->Header(data, size * count);
        return size * count;
    }

    static int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        auto* transfer = static_cast<Transfer*>(user);
        if (!transfer->Cancelled())
            return 0;
        transfer->stop = Stop::Cancelled;
        return 1;
    }
};

CWebAccess::CWebAccess(const QString& agentName)
    : m_agentName(agentName.isEmpty() ? QByteArray(FallbackAgent) : agentName.toUtf8()) {
    EnsureCurlInitialised();
    m_curl = curl_easy_init();
}

CWebAccess::~CWebAccess() {
    if (m_curl)
        curl_easy_cleanup(static_cast<CURL*>(m_curl));
}

void CWebAccess::SetOptions(const Options& options) {
    m_options = options;
}

CWebAccess::SplitAddress CWebAccess::SplitUrl(const QString& url) {
    SplitAddress split;
    split.scheme = QStringLiteral("http");
    QString rest = url.trimmed();
    // "feed://host/..." is http; "feed:https://..." and "feed:http://..." name their scheme.
    if (StripPrefix(rest, QLatin1StringView("feed:")))
        StripPrefix(rest, QLatin1StringView("//"));
    if (StripPrefix(rest, QLatin1StringView("https://")))
        split.scheme = QStringLiteral("https");
    else
        StripPrefix(rest, QLatin1StringView("http://"));
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    split.host = slash < 0 ? rest : rest.left(slash);
    split.object = slash < 0 ? QString() : rest.mid(slash + 1);
    return split;
}

QByteArray CWebAccess::RequestUrl(const QString& url) {
    const SplitAddress split = SplitUrl(url);
    if (split.host.isEmpty())
        return QByteArray();
    return split.scheme.toLatin1() + "://" + split.host.toUtf8() + '/' + EncodeObject(split.object);
}

int CWebAccess::Download(const QString& url, const QString& targetPath, const std::atomic_bool* cancel) {
    const QByteArray requestUrl = RequestUrl(url);
    if (!m_curl || requestUrl.isEmpty())
        return NoConnection;
    if (m_options.cache)
        return DownloadCached(*m_options.cache, url, requestUrl, targetPath, cancel);
    return Fetch(requestUrl, targetPath, cancel, nullptr, nullptr);
}

int CWebAccess::DownloadCached(FeedCache& cache, const QString& url, const QByteArray& requestUrl,
                               const QString& targetPath, const std::atomic_bool* cancel) {
    const QByteArray key = FeedCache::KeyFor(url);
    std::unique_ptr<FeedCache::Entry> entry = cache.Find(key);
    Fetched fetched;
    int result = NotModified;
    if (entry) {
        const FeedCache::Record& stored = entry->GetRecord();
        const Fetched conditions{stored.etag, stored.lastModified, stored.effectiveUrl};
        result = Fetch(requestUrl, targetPath, cancel, &conditions, &fetched);
        // The validators belong to the document the redirects led to last time; from
        // anywhere else a "not modified" says nothing about our copy.
        if (result == NotModified && fetched.effectiveUrl == stored.effectiveUrl) {
            switch (cache.Restore(*entry, targetPath)) {
            case FeedCache::RestoreResult::Restored: {
                // A server may send new validators with its "not modified": keep them.
                const FeedCache::Record refreshed{fetched.etag.isEmpty() ? stored.etag : fetched.etag,
                                                  fetched.lastModified.isEmpty() ? stored.lastModified
                                                                                 : fetched.lastModified,
                                                  stored.effectiveUrl, stored.fetchedAtMs};
                if (refreshed.etag != stored.etag || refreshed.lastModified != stored.lastModified)
                    cache.Store(key, targetPath, refreshed);
                return Success;
            }
            case FeedCache::RestoreResult::WriteFailed:
                return TransferFailed;
            case FeedCache::RestoreResult::Damaged:
                break;
            }
        }
        entry.reset();
    }
    // Nothing asked yet, or "not modified" with nothing to fill the target from: ask for all of it.
    if (result == NotModified)
        result = Fetch(requestUrl, targetPath, cancel, nullptr, &fetched);
    if (result == Success)
        cache.Store(
            key, targetPath,
            {fetched.etag, fetched.lastModified, fetched.effectiveUrl, QDateTime::currentMSecsSinceEpoch()});
    return result;
}

int CWebAccess::Fetch(const QByteArray& requestUrl, const QString& targetPath, const std::atomic_bool* cancel,
                      const Fetched* conditions, Fetched* fetched) {
    CURL* curl = static_cast<CURL*>(m_curl);
    if (cancel && cancel->load())
        return Cancelled;

    Transfer transfer;
    transfer.curl = curl;
    transfer.targetPath = QFile::encodeName(targetPath);
    transfer.maxBodyBytes = m_options.maxBodyBytes;
    transfer.cancel = cancel;

    struct curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Accept: application/rss+xml, text/xml");
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    if (conditions && !conditions->etag.isEmpty())
        headers = curl_slist_append(headers, ("If-None-Match: " + conditions->etag).constData());
    if (conditions && !conditions->lastModified.isEmpty())
        headers = curl_slist_append(headers, ("If-Modified-Since: " + conditions->lastModified).constData());
    const QByteArray caFile = QFile::encodeName(m_options.caFile);

    curl_easy_reset(curl);
    curl_easy_setopt(curl, CURLOPT_URL, requestUrl.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, m_options.maxRedirects);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, m_agentName.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, long(WriteBlock));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(m_options.connectTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(m_options.totalTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, m_options.lowSpeedBytes);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, long(m_options.lowSpeedTime.count()));
    if (!caFile.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.constData());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);

    // A multi handle drives the one easy handle so that the cancellation flag is looked
    // at every few milliseconds, also while a server sends nothing at all.
    CURLM* multi = curl_multi_init();
    curl_multi_add_handle(multi, curl);
    CURLcode code = CURLE_OK;
    bool done = false;
    while (!done) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            code = CURLE_OUT_OF_MEMORY;
            break;
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                code = message->data.result;
                done = true;
            }
        }
        if (done)
            break;
        if (transfer.Cancelled()) {
            transfer.stop = Transfer::Stop::Cancelled;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, CancelPollMs, nullptr);
    }
    const long status = transfer.Status();
    long redirects = 0;
    curl_easy_getinfo(curl, CURLINFO_REDIRECT_COUNT, &redirects);
    if (fetched) {
        const char* effective = nullptr;
        curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective);
        fetched->effectiveUrl = QByteArray(effective);
        const qsizetype fragment = fetched->effectiveUrl.indexOf('#');
        if (fragment >= 0)
            fetched->effectiveUrl.truncate(fragment);
        fetched->etag = transfer.etag;
        fetched->lastModified = transfer.lastModified;
    }
    curl_multi_remove_handle(multi, curl);
    curl_multi_cleanup(multi);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);

    const int result = [&]() -> int {
        switch (transfer.stop) {
        case Transfer::Stop::Cancelled:
            return Cancelled;
        case Transfer::Stop::TooLarge:
        case Transfer::Stop::WriteFailed:
            return TransferFailed;
        case Transfer::Stop::None:
            break;
        }
        if (!done || code == CURLE_OPERATION_TIMEDOUT)
            return TransferFailed;
        if (code == CURLE_TOO_MANY_REDIRECTS)
            return NoConnection;
        // Did the last request made (after any redirects) get its status line?
        const bool answered = transfer.finalResponses > redirects;
        if (!answered) {
            switch (code) {
            case CURLE_GOT_NOTHING:
            case CURLE_RECV_ERROR:
            case CURLE_WEIRD_SERVER_REPLY:
            case CURLE_HTTP2:
            case CURLE_HTTP2_STREAM:
                return NoStatus;
            case CURLE_UNSUPPORTED_PROTOCOL:
                // Only http and https are ever asked for, so on the first request this
                // means the server's answer was not HTTP at all.
                return transfer.finalResponses == 0 ? NoStatus : NoConnection;
            default:
                return NoConnection;
            }
        }
        if (status != 200)
            return int(status);
        if (code != CURLE_OK)
            return TransferFailed;
        // A 200 with an empty body still leaves an (empty) target behind.
        return transfer.OpenTarget() && transfer.Flush() && transfer.Close() ? int(Success)
                                                                             : int(TransferFailed);
    }();

    // A download that failed after the body started leaves no partial document behind.
    if (result != Success && transfer.fd >= 0 && ::ftruncate(transfer.fd, 0) != 0)
        return TransferFailed;
    return result;
}
