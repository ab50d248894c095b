#include "PrivateBus.h"

PrivateBus::PrivateBus(const QString& strAddress) : m_strAddress(strAddress) {
    m_daemon.setStandardErrorFile(QProcess::nullDevice());
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--address=") + strAddress, QStringLiteral("--print-address")});
    // It prints its address once it listens.
    while (m_daemon.waitForReadyRead(10000)) {
        if (m_daemon.canReadLine()) {
            m_bRunning = true;
            break;
        }
    }
}

PrivateBus::~PrivateBus() {
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(3000))
        m_daemon.kill();
    m_daemon.waitForFinished();
}
