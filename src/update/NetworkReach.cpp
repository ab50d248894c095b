#include "update/NetworkReach.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace {

NetworkKind KindOfIpv4(const unsigned char* a) {
    if (a[0] == 127 || a[0] == 0)
        return NetworkKind::Loopback;
    if (a[0] == 10 || (a[0] == 172 && (a[1] & 0xf0) == 16) || (a[0] == 192 && a[1] == 168))
        return NetworkKind::Private;
    if (a[0] == 169 && a[1] == 254)
        return NetworkKind::LinkLocal;
    return NetworkKind::Public;
}

NetworkKind KindOfIpv6(const unsigned char* a) {
    static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    static const unsigned char zeros[15] = {};
    if (std::memcmp(a, mapped, sizeof mapped) == 0)
        return KindOfIpv4(a + 12);
    if (std::memcmp(a, zeros, sizeof zeros) == 0 && (a[15] == 0 || a[15] == 1))
        return NetworkKind::Loopback;
    if ((a[0] & 0xfe) == 0xfc)
        return NetworkKind::Private;
    if (a[0] == 0xfe && (a[1] & 0xc0) == 0x80)
        return NetworkKind::LinkLocal;
    return NetworkKind::Public;
}

// The address as inet_ntop writes it, an IPv4-mapped one as its IPv4.
QByteArray Numeric(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    } else if (address->sa_family == AF_INET6) {
        const in6_addr& a6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&a6))
            inet_ntop(AF_INET, &a6.s6_addr[12], text, sizeof text);
        else
            inet_ntop(AF_INET6, &a6, text, sizeof text);
    }
    return QByteArray(text);
}

} // namespace

NetworkKind NetworkReach::KindOf(const sockaddr* address) const {
    if (!publicStandIns.isEmpty() && publicStandIns.contains(Numeric(address)))
        return NetworkKind::Public;
    if (address->sa_family == AF_INET)
        return KindOfIpv4(
            reinterpret_cast<const unsigned char*>(&reinterpret_cast<const sockaddr_in*>(address)->sin_addr));
    if (address->sa_family == AF_INET6)
        return KindOfIpv6(reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr.s6_addr);
    // Not an internet address at all: nothing a feed may send us to.
    return NetworkKind::Loopback;
}

std::optional<NetworkKind> NetworkReach::KindOf(QByteArrayView numeric) const {
    const qsizetype scope = numeric.indexOf('%');
    const QByteArray text = (scope >= 0 ? numeric.first(scope) : numeric).toByteArray();
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    if (inet_pton(AF_INET, text.constData(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        return KindOf(reinterpret_cast<const sockaddr*>(&v4));
    }
    if (inet_pton(AF_INET6, text.constData(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        return KindOf(reinterpret_cast<const sockaddr*>(&v6));
    }
    return std::nullopt;
}
