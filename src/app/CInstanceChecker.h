#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

class QLocalServer;

// One instance per user: the first instance listens on a local socket in the user's
// runtime folder; a later start connects, says "IS_ANOTHER_INSTANCE", hands over the
// launcher's activation token and ends.
class CInstanceChecker : public QObject {
    Q_OBJECT
public:
    explicit CInstanceChecker(const QString& uniqueName, QObject* parent = nullptr);
    ~CInstanceChecker() override;

    // Keeps this start's activation tokens (XDG_ACTIVATION_TOKEN, DESKTOP_STARTUP_ID) for
    // WakeFirstInstance. Call it before the application object is made: on X11 that takes
    // DESKTOP_STARTUP_ID out of the environment.
    static void KeepLaunchToken();

    // The socket's full path, "<runtime dir>/CInstanceChecker_MMF_<name>".
    QString MappingName() const;

    // True when a running first instance answers.
    bool FindFirstInstance() const;
    // Asks the first instance to show its window, handing it this start's activation token;
    // true when the message was delivered.
    bool WakeFirstInstance() const;
    // Starts listening as the first instance; false when another instance already runs
    // or the socket cannot be created. The check and the listen are one step under a lock
    // file, so of two starts at the same moment one listens and the other finds it. A
    // socket left behind by a crashed instance is removed; one that answers never is.
    bool RecordFirstInstance();
    // The start-up's check: records this start as the first instance, or wakes the one
    // that runs. False when this start is to end.
    bool StartOrWake();

    // The window that a later start brings to the front with its token; the handlers of
    // anotherInstanceStarted show it.
    void SetWindowToRecord(QWidget* pWindow) { m_pWindow = pWindow; }

signals:
    // A later start asked this instance to come to the front, with the tokens its launcher
    // gave it (empty when it had none).
    void anotherInstanceStarted(const QByteArray& activationToken, const QByteArray& startupId);

private:
    void OnWakeMessage(const QByteArray& message);

    QString m_strUniqueName;
    QLocalServer* m_pServer = nullptr;
    QPointer<QWidget> m_pWindow;
};
