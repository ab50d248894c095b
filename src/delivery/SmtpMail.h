#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <atomic>

// How the connection to the mail server is protected: STARTTLS (usually port 587), TLS from
// the first byte (port 465), or nothing at all, which only a server on this machine may have.
enum class SmtpSecurity { StartTls, Tls, None };
// "starttls", "tls", "none"; anything else reads as STARTTLS, the safe choice.
SmtpSecurity SmtpSecurityFromName(const QString& name);
QString SmtpSecurityName(SmtpSecurity security);

struct MailServer {
    QString host;
    int port = 587;
    SmtpSecurity security = SmtpSecurity::StartTls;
    QString user; // empty: no AUTH
    QString password;
    QString caFile;          // certificates to trust besides the system's, for a private server
    int timeoutSeconds = 60; // to connect, and for a transfer that stalls
};

struct MailMessage {
    QString from;
    QStringList to;
    QString subject;
    QString body; // plain text
    QDateTime date;
    QString attachmentPath; // empty: none
    QString attachmentName; // ASCII
};

// Whether a host name or address is this machine: what may go without TLS.
bool IsLoopbackHost(const QString& host);

// Why the server settings may not be used as they are, or empty: no plain connection and no
// password in clear to another machine.
QString MailServerRefusal(const MailServer& server);

// The message's headers with the subject encoded for mail (RFC 2047 where it is not ASCII).
QString EncodeHeaderText(const QString& text);

// Sends the message through the server with libcurl; blocks until the server has taken it or
// refused it. On false `reason` says why in words the user can act on: the server's own reply
// ("535 Authentication failed"), "Connection refused", a certificate that is not trusted.
// Once `stop` (when given) is set, the transfer gives up soon.
bool SendMail(const MailServer& server, const MailMessage& message, QString* reason,
              const std::atomic_bool* stop = nullptr);
