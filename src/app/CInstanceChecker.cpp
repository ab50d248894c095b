#include "app/CInstanceChecker.h"

#include <QDir>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {
const QByteArray kWakeMessage = "IS_ANOTHER_INSTANCE";
const QByteArray kActivationKey = "XDG_ACTIVATION_TOKEN";
const QByteArray kStartupIdKey = "DESKTOP_STARTUP_ID";
constexpr int kConnectTimeoutMs = 1000;
// Long enough for any start-up's check and listen, short enough not to be noticed when
// something is wrong with the lock file.
constexpr int kLockTimeoutMs = 5000;
// A wake-up message is a few short lines; more is not from Pellavo.
constexpr qsizetype kMaxMessage = 4096;

struct LaunchTokens {
    QByteArray activationToken;
    QByteArray startupId;
};

// A token goes into window properties and messages to the window manager: printable,
// without blanks, quotes or backslashes, and short.
QByteArray SaneToken(const QByteArray& token) {
    if (token.size() > 512)
        return {};
    for (char c : token) {
        if (c <= ' ' || c > '~' || c == '"' || c == '\\')
            return {};
    }
    return token;
}

const LaunchTokens& KeptTokens() {
    static const LaunchTokens tokens{SaneToken(qgetenv(kActivationKey.constData())),
                                     SaneToken(qgetenv(kStartupIdKey.constData()))};
    return tokens;
}

enum class Answer { Answered, Refused, Silent };

Answer AskSocket(const QString& strName) {
    QLocalSocket socket;
    socket.connectToServer(strName);
    if (socket.waitForConnected(kConnectTimeoutMs)) {
        socket.abort();
        return Answer::Answered;
    }
    return socket.error() == QLocalSocket::ConnectionRefusedError ? Answer::Refused : Answer::Silent;
}

xcb_atom_t Atom(xcb_connection_t* connection, const char* pName) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, uint16_t(std::strlen(pName)), pName);
    xcb_intern_atom_reply_t* pReply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!pReply)
        return XCB_ATOM_NONE;
    const xcb_atom_t atom = pReply->atom;
    std::free(pReply);
    return atom;
}

// On X11 the window manager's focus-stealing prevention lets the window come to the front
// when the request carries the time of the user's action that launched the later start,
// which the launcher put into the start-up id ("..._TIME<time>"). The launcher's busy
// feedback for that start ends here too, since the later start never shows a window.
void ActivateOnX11(QWidget* pWindow, const QByteArray& startupId) {
    auto* pX11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!pX11 || !pWindow || startupId.isEmpty())
        return;
    xcb_connection_t* connection = pX11->connection();
    const auto window = xcb_window_t(pWindow->winId());
    const xcb_screen_t* pScreen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!pScreen)
        return;
    const xcb_window_t root = pScreen->root;

    const qsizetype nTime = startupId.lastIndexOf("_TIME");
    bool bTime = false;
    const uint32_t time = nTime < 0 ? 0 : startupId.mid(nTime + 5).toUInt(&bTime);

    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, Atom(connection, "_NET_STARTUP_ID"),
                        Atom(connection, "UTF8_STRING"), 8, uint32_t(startupId.size()),
                        startupId.constData());

    xcb_client_message_event_t activate{};
    activate.response_type = XCB_CLIENT_MESSAGE;
    activate.format = 32;
    activate.window = window;
    activate.type = Atom(connection, "_NET_ACTIVE_WINDOW");
    activate.data.data32[0] = 1; // from an application
    activate.data.data32[1] = bTime ? time : XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&activate));

    // Start-up notification messages go in pieces of 20 bytes, ending with a NUL.
    QByteArray message = "remove: ID=\"" + startupId + "\"";
    message.append('\0');
    const xcb_atom_t begin = Atom(connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = Atom(connection, "_NET_STARTUP_INFO");
    for (qsizetype nAt = 0; nAt < message.size(); nAt += 20) {
        xcb_client_message_event_t piece{};
        piece.response_type = XCB_CLIENT_MESSAGE;
        piece.format = 8;
        piece.window = window;
        piece.type = nAt == 0 ? begin : more;
        std::memcpy(piece.data.data8, message.constData() + nAt,
                    size_t(qMin<qsizetype>(20, message.size() - nAt)));
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE,
                       reinterpret_cast<const char*>(&piece));
    }
    xcb_flush(connection);
}

} // namespace

CInstanceChecker::CInstanceChecker(const QString& uniqueName, QObject* parent)
    : QObject(parent), m_strUniqueName(uniqueName) {}

CInstanceChecker::~CInstanceChecker() = default;

void CInstanceChecker::KeepLaunchToken() {
    KeptTokens();
}

QString CInstanceChecker::MappingName() const {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + QStringLiteral("/CInstanceChecker_MMF_") + m_strUniqueName;
}

bool CInstanceChecker::FindFirstInstance() const {
    return AskSocket(MappingName()) == Answer::Answered;
}

bool CInstanceChecker::WakeFirstInstance() const {
    QLocalSocket socket;
    socket.connectToServer(MappingName());
    if (!socket.waitForConnected(kConnectTimeoutMs))
        return false;
    QByteArray message = kWakeMessage + '\n';
    const LaunchTokens& tokens = KeptTokens();
    if (!tokens.activationToken.isEmpty())
        message += kActivationKey + '=' + tokens.activationToken + '\n';
    if (!tokens.startupId.isEmpty())
        message += kStartupIdKey + '=' + tokens.startupId + '\n';
    socket.write(message);
    const bool sent = socket.waitForBytesWritten(kConnectTimeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(kConnectTimeoutMs);
    return sent;
}

bool CInstanceChecker::RecordFirstInstance() {
    if (m_pServer)
        return false;
    const QString strName = MappingName();
    QLockFile lock(strName + QStringLiteral(".lock"));
    // A lock that cannot be had at all does not keep Pellavo from starting.
    lock.tryLock(kLockTimeoutMs);
    if (FindFirstInstance())
        return false;
    auto server = std::make_unique<QLocalServer>(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(strName)) {
        // Only a socket that refuses connections was left by a crashed instance.
        if (server->serverError() != QAbstractSocket::AddressInUseError ||
            AskSocket(strName) != Answer::Refused || !QLocalServer::removeServer(strName) ||
            !server->listen(strName))
            return false;
    }
    m_pServer = server.release();
    connect(m_pServer, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_pServer->nextPendingConnection()) {
            auto message = std::make_shared<QByteArray>();
            connect(client, &QLocalSocket::readyRead, client, [client, message] {
                *message += client->readAll();
                if (message->size() > kMaxMessage)
                    client->abort();
            });
            // A later start says everything, then hangs up.
            connect(client, &QLocalSocket::disconnected, this, [this, client, message] {
                *message += client->readAll();
                client->deleteLater();
                if (message->size() <= kMaxMessage)
                    OnWakeMessage(*message);
            });
        }
    });
    return true;
}

bool CInstanceChecker::StartOrWake() {
    if (RecordFirstInstance())
        return true;
    if (FindFirstInstance()) {
        WakeFirstInstance();
        return false;
    }
    // No socket could be made and nobody answers: this instance runs unrecorded.
    return true;
}

void CInstanceChecker::OnWakeMessage(const QByteArray& message) {
    const QList<QByteArray> lines = message.split('\n');
    // Only the wake-up word counts; nothing else a later start sends does anything but
    // bring the window to the front.
    if (lines.isEmpty() || !lines.first().startsWith(kWakeMessage))
        return;
    QByteArray activationToken;
    QByteArray startupId;
    for (const QByteArray& line : lines.mid(1)) {
        if (line.startsWith(kActivationKey + '='))
            activationToken = SaneToken(line.mid(kActivationKey.size() + 1));
        else if (line.startsWith(kStartupIdKey + '='))
            startupId = SaneToken(line.mid(kStartupIdKey.size() + 1));
    }
    // Qt on Wayland activates the window with the token it finds here.
    if (!activationToken.isEmpty() && QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        qputenv(kActivationKey.constData(), activationToken);
    emit anotherInstanceStarted(activationToken, startupId);
    if (m_pWindow && m_pWindow->isVisible() && QGuiApplication::platformName() == QLatin1String("xcb"))
        ActivateOnX11(m_pWindow, startupId);
}
