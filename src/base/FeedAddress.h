#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// How a feed address from the subscriptions is understood, in one place: what goes out on
// the wire, what the e-book resolves the feed's links against, what the feed cache files a
// document under, and which server the limit per host counts it against.
namespace FeedAddress {

// "http://" and "https://" in any letter case, "feed://" (http), "feed:http://",
// "feed:https://", and no scheme at all (http). The host is the text up to the first
// slash (with its port, if any); the object is the rest.
struct SplitAddress {
    QString scheme; // "http" or "https"
    QString host;
    QString object; // without the leading slash
};
SplitAddress SplitUrl(const QString& url);

// The address as libcurl gets it, or an empty array when it has no host. Blanks and
// non-ASCII characters in the object are percent-encoded, as libcurl refuses them raw.
QByteArray RequestUrl(const QString& url);

// The document the address is fetched as, for resolving the feed's relative links; an
// empty address when it has no host.
QUrl DocumentUrl(const QString& url);

// The address as it goes out on the wire without what follows a '#', which the client
// never sends: addresses that differ only there are one document.
QByteArray CacheKey(const QString& url);

// The server a download talks to: the host without user name and port, in lower case.
QString HostKey(const QString& url);

} // namespace FeedAddress
