#include "app/CInstanceChecker.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace {
const QByteArray kWakeMessage = "IS_ANOTHER_INSTANCE";
constexpr int kConnectTimeoutMs = 1000;
} // namespace

CInstanceChecker::CInstanceChecker(const QString& uniqueName, QObject* parent)
    : QObject(parent), m_strUniqueName(uniqueName) {}

CInstanceChecker::~CInstanceChecker() = default;

QString CInstanceChecker::MappingName() const {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + QStringLiteral("/CInstanceChecker_MMF_") + m_strUniqueName;
}

bool CInstanceChecker::FindFirstInstance() const {
    QLocalSocket socket;
    socket.connectToServer(MappingName());
    const bool found = socket.waitForConnected(kConnectTimeoutMs);
    socket.abort();
    return found;
}

bool CInstanceChecker::WakeFirstInstance() const {
    QLocalSocket socket;
    socket.connectToServer(MappingName());
    if (!socket.waitForConnected(kConnectTimeoutMs))
        return false;
    socket.write(kWakeMessage);
    const bool sent = socket.waitForBytesWritten(kConnectTimeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(kConnectTimeoutMs);
    return sent;
}

bool CInstanceChecker::RecordFirstInstance() {
    if (m_pServer || FindFirstInstance())
        return false;
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(MappingName())) {
        // Nobody answered, so a socket file that is still there was left by a crashed instance.
        if (server->serverError() != QAbstractSocket::AddressInUseError ||
            !QLocalServer::removeServer(MappingName()) || !server->listen(MappingName())) {
            delete server;
            return false;
        }
    }
    m_pServer = server;
    connect(m_pServer, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_pServer->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                // Only the wake-up word counts; nothing else a later start sends reaches us.
                if (client->readAll().startsWith(kWakeMessage))
                    emit anotherInstanceStarted();
                client->disconnectFromServer();
            });
        }
    });
    return true;
}
