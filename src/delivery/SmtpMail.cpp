#include "delivery/SmtpMail.h"

#include <QByteArray>
#include <QHostAddress>
#include <QLocale>
#include <QRegularExpression>
#include <QUuid>

#include <curl/curl.h>

#include <cerrno>
#include <memory>

namespace {

struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
    void operator()(curl_mime* mime) const { curl_mime_free(mime); }
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
template <typename T> using CurlPtr = std::unique_ptr<T, CurlDeleter>;

bool Append(CurlPtr<curl_slist>& list, const QByteArray& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.constData());
    if (!grown)
        return false;
    list.release();
    list.reset(grown);
    return true;
}

// What the server said last: its reply line tells a refusal best.
struct Transcript {
    QByteArray lastReply;
    const std::atomic_bool* stop = nullptr;
};

int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    if (type == CURLINFO_HEADER_IN) {
        QByteArray line(data, qsizetype(size));
        auto* transcript = static_cast<Transcript*>(user);
        transcript->lastReply = line.trimmed();
    }
    return 0;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* transcript = static_cast<const Transcript*>(user);
    return transcript->stop && transcript->stop->load() ? 1 : 0;
}

QByteArray MailDate(const QDateTime& when) {
    // The C locale: mail wants English day and month names whatever the user's language.
    const QDateTime local = when.toLocalTime();
    const int offset = local.offsetFromUtc() / 60;
    const QString zone = QStringLiteral("%1%2%3")
                             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                             .arg(qAbs(offset) / 60, 2, 10, QLatin1Char('0'))
                             .arg(qAbs(offset) % 60, 2, 10, QLatin1Char('0'));
    return (QLocale::c().toString(local, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss ")) + zone).toLatin1();
}

// The address alone: "Name <a@b>" gives "a@b".
QString BareAddress(const QString& address) {
    QString bare = address.trimmed();
    const qsizetype open = bare.lastIndexOf(QLatin1Char('<'));
    if (open >= 0)
        bare = bare.mid(open + 1).section(QLatin1Char('>'), 0, 0);
    return bare.trimmed();
}

// A bare address for the envelope: "Name <a@b>" gives "<a@b>".
QByteArray EnvelopeAddress(const QString& address) {
    return "<" + BareAddress(address).toUtf8() + ">";
}

QByteArray MessageId(const QString& from) {
    const QString address = BareAddress(from);
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    QString domain = at >= 0 ? address.mid(at + 1) : QString();
    if (domain.isEmpty())
        domain = QStringLiteral("pellavo.invalid");
    return "<" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + "@" + domain.toUtf8() + ">";
}

// A "Name <a@b>" header address as mail wants it: a name in another script encoded, one
// with a comma or a dot quoted.
QByteArray HeaderAddress(const QString& address) {
    const QString trimmed = address.trimmed();
    const qsizetype open = trimmed.lastIndexOf(QLatin1Char('<'));
    QString name = open > 0 ? trimmed.left(open).trimmed() : QString();
    if (name.isEmpty())
        return trimmed.toUtf8();
    if (name.size() >= 2 && name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"')))
        name = name.mid(1, name.size() - 2);
    const QString encoded = EncodeHeaderText(name);
    const QString bare = QStringLiteral(" <") + BareAddress(trimmed) + QLatin1Char('>');
    if (encoded != name)
        return (encoded + bare).toUtf8();
    static const QRegularExpression special(QStringLiteral("[()<>\\[\\]:;@\\\\,.\"]"));
    if (!name.contains(special))
        return (name + bare).toUtf8();
    name.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return (QLatin1Char('"') + name + QLatin1Char('"') + bare).toUtf8();
}

QString CurlReason(CURLcode code, const char* errorBuffer, long osErrno, const QByteArray& lastReply) {
    const QString detail =
        errorBuffer[0] ? QString::fromUtf8(errorBuffer) : QString::fromUtf8(curl_easy_strerror(code));
    // A reply of the server that refuses says it best, in its own words.
    const bool serverRefused =
        !lastReply.isEmpty() && (lastReply.startsWith('4') || lastReply.startsWith('5'));
    switch (code) {
    case CURLE_COULDNT_CONNECT:
        if (osErrno == ECONNREFUSED)
            return QStringLiteral("Connection refused");
        return detail;
    case CURLE_COULDNT_RESOLVE_HOST:
        return QStringLiteral("Unknown mail server: %1").arg(detail);
    case CURLE_OPERATION_TIMEDOUT:
        return QStringLiteral("The mail server did not answer in time");
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        return QStringLiteral("The mail server's certificate is not trusted: %1").arg(detail);
    case CURLE_SSL_CONNECT_ERROR:
        return QStringLiteral("Secure connection failed: %1").arg(detail);
    case CURLE_USE_SSL_FAILED:
        return QStringLiteral("The mail server does not offer STARTTLS");
    case CURLE_LOGIN_DENIED:
        return serverRefused ? QString::fromUtf8(lastReply) : QStringLiteral("Authentication failed");
    case CURLE_ABORTED_BY_CALLBACK:
        return QStringLiteral("Stopped");
    case CURLE_READ_ERROR:
        return QStringLiteral("The e-book could not be read: %1").arg(detail);
    default:
        return serverRefused ? QString::fromUtf8(lastReply) : detail;
    }
}

} // namespace

SmtpSecurity SmtpSecurityFromName(const QString& name) {
    if (name.compare(QLatin1String("tls"), Qt::CaseInsensitive) == 0)
        return SmtpSecurity::Tls;
    if (name.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
        return SmtpSecurity::None;
    return SmtpSecurity::StartTls;
}

QString SmtpSecurityName(SmtpSecurity security) {
    switch (security) {
    case SmtpSecurity::Tls:
        return QStringLiteral("tls");
    case SmtpSecurity::None:
        return QStringLiteral("none");
    case SmtpSecurity::StartTls:
        break;
    }
    return QStringLiteral("starttls");
}

bool IsLoopbackHost(const QString& host) {
    QString name = host.trimmed();
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    if (name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
        name.endsWith(QLatin1String(".localhost"), Qt::CaseInsensitive))
        return true;
    const QHostAddress address(name);
    return !address.isNull() && address.isLoopback();
}

QString MailServerRefusal(const MailServer& server) {
    if (server.host.trimmed().isEmpty())
        return QStringLiteral("No mail server is set");
    if (server.security == SmtpSecurity::None && !IsLoopbackHost(server.host))
        return QStringLiteral(
            "Mail without TLS goes only to a server on this computer; choose STARTTLS or TLS");
    return QString();
}

QString EncodeHeaderText(const QString& text) {
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() >= 0x20 && c.unicode() < 0x7f;
    if (ascii)
        return text;
    // Encoded words of at most 75 characters, split between characters; the whitespace
    // between encoded words is not part of the text, so the spaces are encoded within.
    QString out;
    QByteArray chunk;
    const auto flush = [&] {
        if (chunk.isEmpty())
            return;
        if (!out.isEmpty())
            out += QLatin1Char(' ');
        out += QStringLiteral("=?UTF-8?B?") + QString::fromLatin1(chunk.toBase64()) + QStringLiteral("?=");
        chunk.clear();
    };
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray piece = text.mid(i, length).toUtf8();
        // 45 bytes make 60 characters of base64, which with the frame stay under 75.
        if (chunk.size() + piece.size() > 45)
            flush();
        chunk += piece;
        i += length;
    }
    flush();
    return out;
}

bool SendMail(const MailServer& server, const MailMessage& message, QString* reason,
              const std::atomic_bool* stop) {
    const auto fail = [reason](const QString& why) {
        if (reason)
            *reason = why;
        return false;
    };
    if (const QString refusal = MailServerRefusal(server); !refusal.isEmpty())
        return fail(refusal);
    if (message.to.isEmpty())
        return fail(QStringLiteral("No address to mail to"));

    CurlPtr<CURL> curl(curl_easy_init());
    CurlPtr<curl_mime> mime(curl ? curl_mime_init(curl.get()) : nullptr);
    if (!curl || !mime)
        return fail(QStringLiteral("Out of memory"));
    CURL* handle = curl.get();

    const bool implicitTls = server.security == SmtpSecurity::Tls;
    QString host = server.host.trimmed();
    if (host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('[')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    const QByteArray url = QStringLiteral("%1://%2:%3/")
                               .arg(implicitTls ? QStringLiteral("smtps") : QStringLiteral("smtp"), host)
                               .arg(server.port)
                               .toUtf8();
    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "*");
    // Certificates are always checked; a private server's authority may be named besides the system's.
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    const QByteArray caFile = server.caFile.toLocal8Bit();
    if (!caFile.isEmpty())
        curl_easy_setopt(handle, CURLOPT_CAINFO, caFile.constData());
    curl_easy_setopt(handle, CURLOPT_USE_SSL,
                     server.security == SmtpSecurity::None ? CURLUSESSL_NONE : CURLUSESSL_ALL);
    const QByteArray user = server.user.toUtf8();
    const QByteArray password = server.password.toUtf8();
    if (!user.isEmpty()) {
        curl_easy_setopt(handle, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(handle, CURLOPT_PASSWORD, password.constData());
    }
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, long(server.timeoutSeconds));
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, long(server.timeoutSeconds));

    const QByteArray from = EnvelopeAddress(message.from);
    curl_easy_setopt(handle, CURLOPT_MAIL_FROM, from.constData());
    CurlPtr<curl_slist> recipients;
    for (const QString& to : message.to) {
        if (!Append(recipients, EnvelopeAddress(to)))
            return fail(QStringLiteral("Out of memory"));
    }
    curl_easy_setopt(handle, CURLOPT_MAIL_RCPT, recipients.get());

    CurlPtr<curl_slist> headers;
    QByteArray to;
    for (const QString& address : message.to)
        to += (to.isEmpty() ? "" : ", ") + HeaderAddress(address);
    const QByteArray headerLines[] = {
        "Date: " + MailDate(message.date.isValid() ? message.date : QDateTime::currentDateTime()),
        "Message-ID: " + MessageId(message.from),
        "From: " + HeaderAddress(message.from),
        "To: " + to,
        "Subject: " + EncodeHeaderText(message.subject).toUtf8(),
    };
    for (const QByteArray& line : headerLines) {
        if (!Append(headers, line))
            return fail(QStringLiteral("Out of memory"));
    }
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());

    curl_mimepart* text = curl_mime_addpart(mime.get());
    const QByteArray body = message.body.toUtf8();
    curl_mime_data(text, body.constData(), size_t(body.size()));
    curl_mime_type(text, "text/plain; charset=UTF-8");
    curl_mime_encoder(text, "quoted-printable");
    if (!message.attachmentPath.isEmpty()) {
        curl_mimepart* book = curl_mime_addpart(mime.get());
        const QByteArray path = message.attachmentPath.toLocal8Bit();
        const QByteArray name = message.attachmentName.toLatin1();
        if (curl_mime_filedata(book, path.constData()) != CURLE_OK)
            return fail(QStringLiteral("The e-book could not be read"));
        curl_mime_filename(book, name.constData());
        curl_mime_type(book, "application/epub+zip");
        curl_mime_encoder(book, "base64");
    }
    curl_easy_setopt(handle, CURLOPT_MIMEPOST, mime.get());

    Transcript transcript;
    transcript.stop = stop;
    curl_easy_setopt(handle, CURLOPT_DEBUGFUNCTION, OnDebug);
    curl_easy_setopt(handle, CURLOPT_DEBUGDATA, &transcript);
    curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transcript);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);

    const CURLcode code = curl_easy_perform(handle);
    if (code == CURLE_OK)
        return true;
    long osErrno = 0;
    curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &osErrno);
    return fail(CurlReason(code, errorBuffer, osErrno, transcript.lastReply));
}
