#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

struct sockaddr;

// Where an address lies, as far as a feed's say-so goes. The feeds are the user's own choice,
// but the pictures and pages a book takes come from a feed's author: from a server on the
// internet he may not make Pellavo reach into the user's own machine or network.
enum class NetworkKind {
    Public,
    Loopback,  // 127/8, ::1, and 0/8 and ::, which reach this machine too
    Private,   // 10/8, 172.16/12, 192.168/16, fc00::/7
    LinkLocal, // 169.254/16, fe80::/10
};

// What a download may connect to, checked on every address it actually connects to (after
// the name look-up and after every redirect), and what a secure download may be sent to.
struct NetworkReach {
    // Off for what the user chose; on for what a feed names.
    bool confined = false;
    // The kind of the server the feed came from: a feed from the user's own network may name
    // addresses of its own kind.
    NetworkKind origin = NetworkKind::Public;
    // Numeric addresses taken as public whatever they are: how tests on loopback stand in a
    // server on the internet. Only code sets them; nothing a user or a feed says reaches them.
    QList<QByteArray> publicStandIns;

    NetworkKind KindOf(const sockaddr* address) const;
    // Of an address as text ("192.0.2.1", "fe80::1%eth0"); none when it is no address.
    std::optional<NetworkKind> KindOf(QByteArrayView numeric) const;
    bool Allows(NetworkKind kind) const { return !confined || kind == NetworkKind::Public || kind == origin; }
};
