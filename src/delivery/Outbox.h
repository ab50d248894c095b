#pragma once

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// Every delivery of every edition to every target, in tables of its own in the history
// database (SQLite, WAL journal), which it may share with the article history. A delivery is
// queued when its edition is made, marked "attempting" before it is tried and given its
// result after, each in a step of its own: a crash at any moment leaves it due, never lost.
// A delivery that failed stays due until it succeeds or three days have passed.
//
// One object serves one thread (Qt SQL's rule); each opens a connection of its own.
class Outbox {
public:
    enum class State { Waiting, Attempting, Delivered, Failed, Expired };

    struct Entry {
        qint64 id = 0;
        QString target; // "mail:ADDRESS", "folder:PATH", "kdeconnect:DEVICE"
        QString edition;
        int feeds = 0;
        int articles = -1; // -1: not known
        QDateTime queued;
        QDateTime updated;
        State state = State::Waiting;
        QString reason; // why the last try failed
        int attempts = 0;
        QString deliveredPath; // where the edition landed, for a folder
    };

    static constexpr int kRetryDays = 3;

    // Opens (creating what is missing) the database at `path`.
    explicit Outbox(const QString& path);
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    bool IsOpen() const { return m_bOpen; }
    QString ErrorString() const { return m_strError; }

    // Queues the edition (its file, and its number in the article history; 0: not known) for
    // every target that has not had it queued yet; returns how many deliveries are new.
    int Enqueue(const QString& edition, int number, const QStringList& targets, int feeds, int articles,
                const QDateTime& now);
    // The deliveries to try now, oldest first: those waiting or caught by a crash while they
    // were tried. Those queued more than three days ago are given up first.
    QList<Entry> Due(const QDateTime& now);
    bool MarkAttempting(qint64 id, const QDateTime& now);
    // `permanent`: a failure that trying again cannot mend (the book is too big).
    bool MarkResult(qint64 id, bool ok, const QString& reason, const QString& deliveredPath,
                    const QDateTime& now, bool permanent = false);
    // Records a failure that is no delivery of an edition (a scheduled run that failed as a
    // whole), so the list of deliveries shows it.
    void RecordFailure(const QString& target, const QString& reason, const QDateTime& now);
    // Drops what waits for a target that is no longer set.
    void DropTargetsOtherThan(const QStringList& targets, const QDateTime& now);

    // The editions still waiting for a delivery: the keep count must not remove them.
    QStringList FilesStillWaiting(const QDateTime& now) const;
    // The latest `count` deliveries, newest first.
    QList<Entry> Recent(int count) const;
    // Where the target's delivered editions landed, oldest first.
    QStringList DeliveredPaths(const QString& target) const;

    // The failing flag of a target: true when this failure is the first since it last
    // succeeded (the one to tell the user of).
    bool NoteFailure(const QString& target);
    void NoteSuccess(const QString& target);

    static QString StateName(State state);

private:
    QSqlDatabase m_db;
    QString m_strConnection;
    bool m_bOpen = false;
    QString m_strError;
};
