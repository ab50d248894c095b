#pragma once

#include <QProcess>
#include <QString>

// A D-Bus daemon of the test's own. At the session bus address the test environment gives,
// the code under test finds it as its session bus.
class PrivateBus {
public:
    explicit PrivateBus(const QString& strAddress = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"));
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // True once the daemon listens.
    bool IsRunning() const { return m_bRunning; }
    QString Address() const { return m_strAddress; }

private:
    QString m_strAddress;
    QProcess m_daemon;
    bool m_bRunning = false;
};
