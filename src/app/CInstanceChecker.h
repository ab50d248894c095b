#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One instance per user: the first instance listens on a local socket in the user's
// runtime folder; a later start connects, says "IS_ANOTHER_INSTANCE" and ends.
class CInstanceChecker : public QObject {
    Q_OBJECT
public:
    explicit CInstanceChecker(const QString& uniqueName, QObject* parent = nullptr);
    ~CInstanceChecker() override;

    // The socket's full path, "<runtime dir>/CInstanceChecker_MMF_<name>".
    QString MappingName() const;

    // True when a running first instance answers.
    bool FindFirstInstance() const;
    // Asks the first instance to show its window; true when the message was delivered.
    bool WakeFirstInstance() const;
    // Starts listening as the first instance; false when another instance already runs
    // or the socket cannot be created. A socket left behind by a crashed instance is removed.
    bool RecordFirstInstance();

signals:
    // A later start asked this instance to come to the front.
    void anotherInstanceStarted();

private:
    QString m_strUniqueName;
    QLocalServer* m_pServer = nullptr;
};
