#include "update/CWebAccess.h"

#include "base/FeedAddress.h"
#include "base/FileIo.h"
#include "update/FetchLoop.h"

#include <QDateTime>
#include <QFile>
#include <QHash>

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The body goes to the file in blocks of this size, whatever pieces libcurl hands over.
constexpr qsizetype WriteBlock = 256 * 1024;
// How often a running download looks at the caller's cancellation flag.
constexpr int CancelPollMs = 50;

// Used as User-Agent only when the caller gives no agent name.
constexpr char FallbackAgent[] = "Corvantis RSS Helper";

constexpr long NotModified = 304;

// Whether libcurl sends requests through a proxy that the environment names.
bool ProxyInEnvironment() {
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        const char* value = ::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

void EnsureCurlInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

QString StatusText(long status) {
    static const QHash<long, QLatin1StringView> phrases = {
        {201, QLatin1StringView("Created")},
        {202, QLatin1StringView("Accepted")},
        {203, QLatin1StringView("Non-Authoritative Information")},
        {204, QLatin1StringView("No Content")},
        {205, QLatin1StringView("Reset Content")},
        {206, QLatin1StringView("Partial Content")},
        {300, QLatin1StringView("Multiple Choices")},
        {301, QLatin1StringView("Moved Permanently")},
        {302, QLatin1StringView("Found")},
        {303, QLatin1StringView("See Other")},
        {304, QLatin1StringView("Not Modified")},
        {305, QLatin1StringView("Use Proxy")},
        {307, QLatin1StringView("Temporary Redirect")},
        {308, QLatin1StringView("Permanent Redirect")},
        {400, QLatin1StringView("Bad Request")},
        {401, QLatin1StringView("Unauthorized")},
        {402, QLatin1StringView("Payment Required")},
        {403, QLatin1StringView("Forbidden")},
        {404, QLatin1StringView("Not Found")},
        {405, QLatin1StringView("Method Not Allowed")},
        {406, QLatin1StringView("Not Acceptable")},
        {407, QLatin1StringView("Proxy Authentication Required")},
        {408, QLatin1StringView("Request Timeout")},
        {409, QLatin1StringView("Conflict")},
        {410, QLatin1StringView("Gone")},
        {414, QLatin1StringView("URI Too Long")},
        {415, QLatin1StringView("Unsupported Media Type")},
        {429, QLatin1StringView("Too Many Requests")},
        {451, QLatin1StringView("Unavailable For Legal Reasons")},
        {500, QLatin1StringView("Internal Server Error")},
        {501, QLatin1StringView("Not Implemented")},
        {502, QLatin1StringView("Bad Gateway")},
        {503, QLatin1StringView("Service Unavailable")},
        {504, QLatin1StringView("Gateway Timeout")},
        {505, QLatin1StringView("HTTP Version Not Supported")},
    };
    const auto it = phrases.constFind(status);
    if (it == phrases.constEnd())
        return QStringLiteral("HTTP status %1").arg(status);
    return QString::number(status) + QLatin1Char(' ') + *it;
}

} // namespace

// The state of one request, shared with libcurl's callbacks.
struct CWebAccess::Transfer {
    CURL* curl = nullptr;
    QByteArray targetPath;
    qint64 maxBodyBytes = 0;
    const std::atomic_bool* cancel = nullptr;
    const NetworkReach* reach = nullptr;
    bool secureOnly = false; // no redirect to plain http
    bool refusedAddress = false;

    Stop stop = Stop::None;
    int fd = -1;
    qint64 received = 0;
    QByteArray pending;
    struct curl_slist* headers = nullptr;
    // Responses whose status line arrived (1xx interim responses aside); a redirect that
    // libcurl follows counts one.
    int finalResponses = 0;
    // The validators of the latest response.
    QByteArray etag;
    QByteArray lastModified;

    ~Transfer() {
        if (fd >= 0)
            ::close(fd);
        curl_slist_free_all(headers);
    }

    bool Cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }

    long Status() const {
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        return status;
    }

    // The document is written over whatever the file held and the file cut to its length
    // at the end: a file used again for one feed after another then keeps its blocks.
    bool OpenTarget() {
        if (fd >= 0)
            return true;
        do {
            fd = ::open(targetPath.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        return fd >= 0;
    }

    // Some file systems report a failed write only when the file is closed.
    bool Close() {
        const int closing = fd;
        fd = -1;
        const bool cut = ::ftruncate(closing, received) == 0;
        return ::close(closing) == 0 && cut;
    }

    bool Flush() {
        const bool ok = FileIo::WriteFully(fd, pending.constData(), pending.size());
        // Keeps the block's memory: a fresh one for every block costs page faults.
        pending.resize(0);
        return ok;
    }

    // What the request left behind once libcurl is done with it.
    Outcome Ended(int code, bool done) const {
        Outcome outcome;
        outcome.stop = stop;
        outcome.done = done;
        outcome.code = code;
        outcome.status = Status();
        outcome.finalResponses = finalResponses;
        curl_easy_getinfo(curl, CURLINFO_HTTP_CONNECTCODE, &outcome.proxyStatus);
        curl_easy_getinfo(curl, CURLINFO_REDIRECT_COUNT, &outcome.redirects);
        long osError = 0;
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osError);
        outcome.osError = int(osError);
        outcome.refusedAddress = refusedAddress;
        return outcome;
    }

    // Closes the target of a good document whole, and empties one that a failure cut.
    Verdict Complete(Verdict verdict) {
        // A 200 with an empty body still leaves an (empty) target behind.
        if (verdict.result == Success && !(OpenTarget() && Flush() && Close()))
            verdict = {TransferFailed, Reason::WriteFailed};
        // A download that failed after the body started leaves no partial document behind.
        if (verdict.result != Success && fd >= 0 && ::ftruncate(fd, 0) != 0)
            verdict = {TransferFailed, Reason::WriteFailed};
        return verdict;
    }

    QByteArray EffectiveUrl() const {
        const char* effective = nullptr;
        curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective);
        QByteArray url(effective);
        const qsizetype fragment = url.indexOf('#');
        if (fragment >= 0)
            url.truncate(fragment);
        return url;
    }

    size_t Body(const char* data, size_t size) {
        if (Cancelled()) {
            stop = Stop::Cancelled;
            return 0;
        }
        // The final answer is not the document: its body is of no use to anyone, and one
        // that never ends must not hold the download.
        if (Status() != 200) {
            stop = Stop::NotWanted;
            return 0;
        }
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
            if (FileIo::WriteFully(fd, data, qsizetype(size)))
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

    // False to end the request.
    bool Header(const char* data, size_t size) {
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
            return true;
        }
        const qsizetype colon = line.indexOf(':');
        const QByteArrayView name = QByteArrayView(line).first(std::max<qsizetype>(colon, 0)).trimmed();
        if (name.compare("ETag", Qt::CaseInsensitive) == 0)
            etag = line.mid(colon + 1).trimmed();
        else if (name.compare("Last-Modified", Qt::CaseInsensitive) == 0)
            lastModified = line.mid(colon + 1).trimmed();
        else if (secureOnly && name.compare("Location", Qt::CaseInsensitive) == 0 && Status() / 100 == 3 &&
                 line.mid(colon + 1).trimmed().toLower().startsWith("http:")) {
            stop = Stop::InsecureRedirect;
            return false;
        }
        return true;
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* user) {
        return static_cast<Transfer*>(user)->Body(data, size * count);
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
        return static_cast<Transfer*>(user)->Header(data, size * count) ? size * count : 0;
    }

    // Before every connection the request makes, to whatever address the name led to.
    static curl_socket_t OnOpenSocket(void* user, curlsocktype, struct curl_sockaddr* address) {
        auto* transfer = static_cast<Transfer*>(user);
        if (!transfer->reach->Allows(transfer->reach->KindOf(&address->addr))) {
            transfer->refusedAddress = true;
            return CURL_SOCKET_BAD;
        }
        return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    }

    // Before every request, also one on a connection that an earlier download opened.
    static int OnPrerequest(void* user, char* primaryIp, char*, int, int) {
        auto* transfer = static_cast<Transfer*>(user);
        const std::optional<NetworkKind> kind = transfer->reach->KindOf(primaryIp);
        if (kind && transfer->reach->Allows(*kind))
            return CURL_PREREQFUNC_OK;
        transfer->refusedAddress = true;
        return CURL_PREREQFUNC_ABORT;
    }

    static int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        auto* transfer = static_cast<Transfer*>(user);
        if (!transfer->Cancelled())
            return 0;
        transfer->stop = Stop::Cancelled;
        return 1;
    }
};

CWebAccess::Verdict CWebAccess::Classify(const Outcome& outcome) {
    switch (outcome.stop) {
    case Stop::Cancelled:
        return {Cancelled, Reason::Cancelled};
    case Stop::TooLarge:
        return {TransferFailed, Reason::TooLarge};
    case Stop::WriteFailed:
        return {TransferFailed, Reason::WriteFailed};
    case Stop::InsecureRedirect:
        return {NoConnection, Reason::InsecureRedirect};
    case Stop::None:
    case Stop::NotWanted:
        break;
    }
    // An unwanted body was cut by us, not by the network: the answer itself was whole.
    const int code = outcome.stop == Stop::NotWanted ? int(CURLE_OK) : outcome.code;
    if (!outcome.done)
        return {TransferFailed, Reason::ConnectionBroken};
    if (code == CURLE_OPERATION_TIMEDOUT)
        return {TransferFailed, Reason::TimedOut};
    if (code == CURLE_TOO_MANY_REDIRECTS)
        return {NoConnection, Reason::TooManyRedirects};
    // Did the last request made (after any redirects) get its status line? A proxy's
    // answer to CONNECT is not the server's answer.
    const bool answered = outcome.finalResponses > outcome.redirects && outcome.status > 0;
    if (!answered) {
        if (outcome.refusedAddress && (code == CURLE_COULDNT_CONNECT || code == CURLE_ABORTED_BY_CALLBACK))
            return {NoConnection, Reason::PrivateAddress};
        if (outcome.proxyStatus >= 300)
            return {NoConnection, Reason::ProxyRefused, outcome.proxyStatus};
        switch (code) {
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return {NoStatus, Reason::NoAnswer};
        case CURLE_WEIRD_SERVER_REPLY:
            return {NoStatus, Reason::NotHttp};
        case CURLE_UNSUPPORTED_PROTOCOL:
            // Only http and https are ever asked for, so on the first request this
            // means the server's answer was not HTTP at all.
            if (outcome.finalResponses == 0)
                return {NoStatus, Reason::NotHttp};
            return {NoConnection, Reason::RedirectNotHttp};
        case CURLE_COULDNT_RESOLVE_HOST:
            return {NoConnection, Reason::HostNotFound};
        case CURLE_COULDNT_RESOLVE_PROXY:
            return {NoConnection, Reason::ProxyNotFound};
        case CURLE_COULDNT_CONNECT:
            return {NoConnection,
                    outcome.osError == ECONNREFUSED ? Reason::ConnectionRefused : Reason::CouldNotConnect};
        case CURLE_PEER_FAILED_VERIFICATION:
            return {NoConnection, Reason::CertificateNotTrusted};
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_USE_SSL_FAILED:
            return {NoConnection, Reason::SecureConnectionFailed};
        default:
            return {NoConnection, Reason::CouldNotConnect};
        }
    }
    if (outcome.status != 200)
        return {int(outcome.status), Reason::HttpStatus, outcome.status};
    if (code != CURLE_OK)
        return {TransferFailed, Reason::ConnectionBroken};
    return {Success, Reason::None};
}

QString CWebAccess::ReasonText(const Verdict& verdict) {
    switch (verdict.reason) {
    case Reason::None:
        return QString();
    case Reason::HttpStatus:
        return StatusText(verdict.status);
    case Reason::NoHost:
        return QStringLiteral("No host name in the address");
    case Reason::HostNotFound:
        return QStringLiteral("Host not found");
    case Reason::ProxyNotFound:
        return QStringLiteral("Proxy not found");
    case Reason::ConnectionRefused:
        return QStringLiteral("Connection refused");
    case Reason::CouldNotConnect:
        return QStringLiteral("Could not connect");
    case Reason::ProxyRefused:
        return QStringLiteral("Proxy refused the connection (%1)").arg(StatusText(verdict.status));
    case Reason::CertificateNotTrusted:
        return QStringLiteral("Certificate not trusted");
    case Reason::SecureConnectionFailed:
        return QStringLiteral("Secure connection failed");
    case Reason::TimedOut:
        return QStringLiteral("Timed out");
    case Reason::TooManyRedirects:
        return QStringLiteral("Too many redirects");
    case Reason::RedirectNotHttp:
        return QStringLiteral("Redirected to an address that is not http or https");
    case Reason::NoAnswer:
        return QStringLiteral("No answer from the server");
    case Reason::NotHttp:
        return QStringLiteral("Not an HTTP answer");
    case Reason::ConnectionBroken:
        return QStringLiteral("Connection broken");
    case Reason::TooLarge:
        return QStringLiteral("Too large");
    case Reason::WriteFailed:
        return QStringLiteral("Cannot write the downloaded file");
    case Reason::Cancelled:
        return QStringLiteral("Cancelled");
    case Reason::PrivateAddress:
        return QStringLiteral("Refused: the address is on this computer or the local network");
    case Reason::InsecureRedirect:
        return QStringLiteral("Refused: redirected from https to http");
    }
    return QString();
}

CWebAccess::CWebAccess(const QString& agentName)
    : m_agentName(agentName.isEmpty() ? QByteArray(FallbackAgent) : agentName.toUtf8()) {
    EnsureCurlInitialised();
    m_curl = curl_easy_init();
}

CWebAccess::~CWebAccess() {
    if (m_pLoop)
        m_pLoop->Remove(*this);
    m_transfer.reset();
    if (m_curl)
        curl_easy_cleanup(static_cast<CURL*>(m_curl));
}

void CWebAccess::SetOptions(const Options& options) {
    m_options = options;
}

int CWebAccess::Download(const QString& url, const QString& targetPath, const std::atomic_bool* cancel) {
    if (Begin(url, targetPath, cancel)) {
        FetchLoop loop;
        loop.Add(*this);
        while (!m_bFinished) {
            if (cancel && cancel->load()) {
                loop.Remove(*this);
                break;
            }
            loop.Run(CancelPollMs);
        }
    }
    if (m_options.cache)
        ApplyCacheUpdate(*m_options.cache, m_cacheUpdate, targetPath);
    return m_verdict.result;
}

bool CWebAccess::Begin(const QString& url, const QString& targetPath, const std::atomic_bool* cancel) {
    m_requestUrl = FeedAddress::RequestUrl(url);
    m_strTarget = targetPath;
    m_pCancel = cancel;
    m_bFinished = false;
    m_nReceived = 0;
    m_serverKind = NetworkKind::Public;
    m_cacheUpdate = CacheUpdate();
    if (!m_curl || m_requestUrl.isEmpty()) {
        Finish({NoConnection, Reason::NoHost});
        return false;
    }
    if (cancel && cancel->load()) {
        Finish({Cancelled, Reason::Cancelled});
        return false;
    }
    Conditions conditions;
    if (m_options.cache) {
        m_cacheKey = FeedAddress::CacheKey(url);
        m_entry = m_options.cache->Find(m_cacheKey);
        if (m_entry)
            conditions = {m_entry->GetRecord().etag, m_entry->GetRecord().lastModified};
    }
    SetUpRequest(m_entry ? &conditions : nullptr);
    return true;
}

void CWebAccess::SetUpRequest(const Conditions* conditions) {
    CURL* curl = static_cast<CURL*>(m_curl);
    if (m_transfer)
        m_nReceived += m_transfer->received;
    m_transfer = std::make_unique<Transfer>();
    Transfer& transfer = *m_transfer;
    transfer.curl = curl;
    transfer.targetPath = QFile::encodeName(m_strTarget);
    transfer.maxBodyBytes = m_options.maxBodyBytes;
    transfer.cancel = m_pCancel;
    transfer.reach = &m_options.reach;
    transfer.secureOnly = m_options.reach.confined && m_requestUrl.startsWith("https:");

    transfer.headers = curl_slist_append(transfer.headers, ("Accept: " + m_options.accept).constData());
    transfer.headers = curl_slist_append(transfer.headers, "Cache-Control: no-cache");
    if (conditions && !conditions->etag.isEmpty())
        transfer.headers =
            curl_slist_append(transfer.headers, ("If-None-Match: " + conditions->etag).constData());
    if (conditions && !conditions->lastModified.isEmpty())
        transfer.headers = curl_slist_append(transfer.headers,
                                             ("If-Modified-Since: " + conditions->lastModified).constData());

    curl_easy_reset(curl);
    curl_easy_setopt(curl, CURLOPT_PRIVATE, this);
    curl_easy_setopt(curl, CURLOPT_URL, m_requestUrl.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, transfer.secureOnly ? "https" : "http,https");
    if (m_options.reach.confined && !ProxyInEnvironment()) {
        curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, &Transfer::OnOpenSocket);
        curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, &transfer);
        curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, &Transfer::OnPrerequest);
        curl_easy_setopt(curl, CURLOPT_PREREQDATA, &transfer);
    }
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, m_options.maxRedirects);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, m_agentName.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, transfer.headers);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    // HTTP/2 where a server offers it over TLS. There a new request rather waits for a
    // connection being set up that may carry it beside others than opening one more; over
    // plain HTTP that wait would last until the first answer, so it opens its own at once.
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_2TLS));
    curl_easy_setopt(curl, CURLOPT_PIPEWAIT, m_requestUrl.startsWith("https:") ? 1L : 0L);
    // A proxy's answer to CONNECT is not counted as the server's.
    curl_easy_setopt(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, long(WriteBlock));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(m_options.connectTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(m_options.totalTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, m_options.lowSpeedBytes);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, long(m_options.lowSpeedTime.count()));
    if (!m_options.caFile.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, QFile::encodeName(m_options.caFile).constData());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
}

bool CWebAccess::RequestEnded(int code, bool done) {
    Transfer& transfer = *m_transfer;
    const Verdict verdict = transfer.Complete(Classify(transfer.Ended(code, done)));
    const QByteArray effectiveUrl = transfer.EffectiveUrl();
    const char* serverIp = nullptr;
    if (curl_easy_getinfo(transfer.curl, CURLINFO_PRIMARY_IP, &serverIp) == CURLE_OK && serverIp && *serverIp)
        m_serverKind = m_options.reach.KindOf(serverIp).value_or(NetworkKind::Public);
    if (m_entry) {
        // The request was conditional. The validators belong to the document the
        // redirects led to last time; from anywhere else a "not modified" says nothing
        // about our copy.
        const std::unique_ptr<FeedCache::Entry> entry = std::move(m_entry);
        const FeedCache::Record& stored = entry->GetRecord();
        if (verdict.result == NotModified && effectiveUrl == stored.effectiveUrl) {
            switch (m_options.cache->Restore(*entry, m_strTarget)) {
            case FeedCache::RestoreResult::Restored: {
                // A server may send new validators with its "not modified": keep them.
                const FeedCache::Record refreshed{transfer.etag.isEmpty() ? stored.etag : transfer.etag,
                                                  transfer.lastModified.isEmpty() ? stored.lastModified
                                                                                  : transfer.lastModified,
                                                  stored.effectiveUrl, stored.fetchedAtMs};
                if (refreshed.etag != stored.etag || refreshed.lastModified != stored.lastModified)
                    m_cacheUpdate = {true, m_cacheKey, refreshed};
                Finish({Success, Reason::None});
                return true;
            }
            case FeedCache::RestoreResult::WriteFailed:
                Finish({TransferFailed, Reason::WriteFailed});
                return true;
            case FeedCache::RestoreResult::Damaged:
                break;
            }
        }
        // "Not modified" with nothing to fill the target from: ask for all of it.
        if (verdict.result == NotModified) {
            if (m_pCancel && m_pCancel->load()) {
                Finish({Cancelled, Reason::Cancelled});
                return true;
            }
            SetUpRequest(nullptr);
            return false;
        }
    }
    if (verdict.result == Success && m_options.cache)
        m_cacheUpdate = {
            true,
            m_cacheKey,
            {transfer.etag, transfer.lastModified, effectiveUrl, QDateTime::currentMSecsSinceEpoch()}};
    Finish(verdict);
    return true;
}

void CWebAccess::Abandon() {
    m_entry.reset();
    if (m_transfer)
        m_transfer->Complete({Cancelled, Reason::Cancelled});
    Finish({Cancelled, Reason::Cancelled});
}

void CWebAccess::Finish(const Verdict& verdict) {
    m_verdict = verdict;
    m_bFinished = true;
    if (m_transfer)
        m_nReceived += m_transfer->received;
    m_transfer.reset();
}

void CWebAccess::ApplyCacheUpdate(FeedCache& cache, const CacheUpdate& update, const QString& targetPath) {
    if (update.pending)
        cache.Store(update.key, targetPath, update.record);
}

FetchLoop::FetchLoop() {
    EnsureCurlInitialised();
    m_multi = curl_multi_init();
    CURLSH* share = curl_share_init();
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    m_share = share;
    curl_multi_setopt(m_multi, CURLMOPT_PIPELINING, long(CURLPIPE_MULTIPLEX));
}

FetchLoop::~FetchLoop() {
    while (!m_sessions.empty())
        Remove(*m_sessions.back());
    curl_multi_cleanup(static_cast<CURLM*>(m_multi));
    curl_share_cleanup(static_cast<CURLSH*>(m_share));
}

void FetchLoop::Add(CWebAccess& session) {
    CURL* curl = static_cast<CURL*>(session.m_curl);
    session.m_pLoop = this;
    m_sessions.push_back(&session);
    curl_easy_setopt(curl, CURLOPT_SHARE, m_share);
    curl_multi_add_handle(static_cast<CURLM*>(m_multi), curl);
}

void FetchLoop::Detach(CWebAccess& session) {
    CURL* curl = static_cast<CURL*>(session.m_curl);
    curl_multi_remove_handle(static_cast<CURLM*>(m_multi), curl);
    curl_easy_setopt(curl, CURLOPT_SHARE, nullptr);
    session.m_pLoop = nullptr;
    std::erase(m_sessions, &session);
}

void FetchLoop::Remove(CWebAccess& session) {
    if (session.m_pLoop != this)
        return;
    Detach(session);
    if (!session.m_bFinished)
        session.Abandon();
}

std::vector<CWebAccess*> FetchLoop::Run(int timeoutMs) {
    CURLM* multi = static_cast<CURLM*>(m_multi);
    std::vector<CWebAccess*> finished;
    const auto drive = [&] {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            // The loop itself broke down (out of memory): no download in it can go on.
            while (!m_sessions.empty()) {
                CWebAccess* session = m_sessions.back();
                Detach(*session);
                session->RequestEnded(CURLE_OUT_OF_MEMORY, false);
                finished.push_back(session);
            }
            return;
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            CURL* curl = message->easy_handle;
            const int code = message->data.result;
            CWebAccess* session = nullptr;
            curl_easy_getinfo(curl, CURLINFO_PRIVATE, &session);
            curl_multi_remove_handle(multi, curl);
            if (session->RequestEnded(code, true)) {
                Detach(*session);
                finished.push_back(session);
            } else {
                // The same download asks again, on the same handle.
                curl_easy_setopt(curl, CURLOPT_SHARE, m_share);
                curl_multi_add_handle(multi, curl);
            }
        }
    };
    drive();
    if (finished.empty() && !m_sessions.empty()) {
        curl_multi_poll(multi, nullptr, 0, timeoutMs, nullptr);
        drive();
    }
    return finished;
}

void FetchLoop::Wakeup() {
    curl_multi_wakeup(static_cast<CURLM*>(m_multi));
}
