#include "base/FeedAddress.h"

namespace {

bool StripPrefix(QString& text, QLatin1StringView prefix) {
    if (!text.startsWith(prefix, Qt::CaseInsensitive))
        return false;
    text.remove(0, prefix.size());
    return true;
}

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

namespace FeedAddress {

SplitAddress SplitUrl(const QString& url) {
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

QByteArray RequestUrl(const QString& url) {
    const SplitAddress split = SplitUrl(url);
    if (split.host.isEmpty())
        return QByteArray();
    return split.scheme.toLatin1() + "://" + split.host.toUtf8() + '/' + EncodeObject(split.object);
}

QUrl DocumentUrl(const QString& url) {
    const QByteArray wire = RequestUrl(url);
    return wire.isEmpty() ? QUrl() : QUrl::fromEncoded(wire, QUrl::TolerantMode);
}

QByteArray CacheKey(const QString& url) {
    QByteArray wire = RequestUrl(url);
    const qsizetype fragment = wire.indexOf('#');
    if (fragment >= 0)
        wire.truncate(fragment);
    return wire;
}

QString HostKey(const QString& url) {
    QString host = SplitUrl(url).host.toLower();
    host = host.mid(host.lastIndexOf(QLatin1Char('@')) + 1);
    if (host.startsWith(QLatin1Char('[')))
        return host.left(host.indexOf(QLatin1Char(']')) + 1);
    return host.left(host.indexOf(QLatin1Char(':')));
}

} // namespace FeedAddress
