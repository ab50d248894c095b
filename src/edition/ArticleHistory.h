#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <memory>

#include <vector>

class QSqlQuery;

namespace edition {

// What Pellavo remembers of the articles its editions carried, and of those the limits left
// out, in a SQLite database (WAL journal). An article is known by its feed's address and its
// key (ArticleKey); an entry that no run has seen for kPruneDays days is dropped (at most
// kSeenRefreshDays later).
//
// An edition's articles are recorded in the step that puts its book in place
// (PublishEdition): they are written as belonging to an unfinished edition, the book is
// renamed into place, and the edition is marked finished. Whoever opens the history next
// settles an edition left unfinished by a process that died in between: its book in place
// finishes it; without the book its articles are forgotten, so the next edition brings them.
//
// The history is used from one thread, the one that made it.
class ArticleHistory {
public:
    static constexpr int kPruneDays = 90;
    // A known article the feed still carries has its day of sighting written again only once
    // that day is this old (or, after a clock set wrong, in the future): a daily run would
    // otherwise rewrite every article it knows. Pruning waits as much longer, so an entry still
    // outlives kPruneDays days without a sighting.
    static constexpr int kSeenRefreshDays = 30;
    static bool SeenIsStale(qint64 seen, qint64 day) { return seen > day || day - seen >= kSeenRefreshDays; }

    // Opens the history at `path`, creating it and its folder. A file that cannot be opened or
    // is damaged is set aside beside it ("history.sqlite.damaged-20261208-063000") and a new
    // history started; Note() says so. When even that fails, IsOpen() is false. Reading the
    // whole file for damage takes a while: with Check::Later it waits for CheckWhole, which
    // must come before anything is written.
    enum class Check { AtOnce, Later };
    explicit ArticleHistory(const QString& path, Check check = Check::AtOnce);
    void CheckWhole();
    ~ArticleHistory();

    ArticleHistory(const ArticleHistory&) = delete;
    ArticleHistory& operator=(const ArticleHistory&) = delete;

    bool IsOpen() const { return !m_connection.isEmpty(); }
    // A line for the run's end text when the history was set aside or cannot be used.
    QString Note() const { return m_note; }
    QString ErrorString() const { return m_error; }

    // The number the next edition gets: one more than the last one's, from 1.
    int NextEditionNumber();

    // What a run learnt: articles new to the history, with whether its edition carries them,
    // and known articles seen again on `day`.
    struct Entry {
        QString feed;
        QByteArray key;
        bool delivered = false;
    };
    struct Changes {
        qint64 day = 0;
        std::vector<Entry> added;
        std::vector<std::pair<QString, QByteArray>> seenAgain;
    };
    struct Edition {
        int number = 0;
        QString path;
        QDateTime made;
        int articles = 0;
        int feeds = 0;
    };

    // Puts the finished book at `unfinished` in place at `edition.path` and records the
    // changes with it, so that the articles are recorded if and only if the book is in place.
    // False, with nothing recorded and the unfinished book removed, when the book could not
    // be put in place. A book whose articles cannot be recorded still goes in place; Note()
    // then says that the next edition brings them again.
    bool PublishEdition(const Edition& edition, const QString& unfinished, const Changes& changes);
    // The same in steps, so that the changes may be recorded while the book is being finished:
    // RecordEdition records them as belonging to the edition, not yet finished (false, with
    // nothing recorded, when it cannot; ErrorString says why). Once the book's bytes are on
    // the disk (SyncFile), PlaceEdition puts it in place as PublishEdition does, with
    // `recorded` what RecordEdition gave. A recorded edition whose book was not made is
    // withdrawn: its articles are forgotten.
    bool RecordEdition(const Edition& edition, const Changes& changes);
    bool PlaceEdition(const Edition& edition, const QString& unfinished, bool recorded);
    void WithdrawEdition(int number);
    // Records changes that go with no book.
    bool Record(const Changes& changes);
    // Forgets every article, so the next edition brings all that the limits allow; the
    // editions keep their numbers.
    bool Forget();

    // The record of the edition whose book is `file`, read without settling or setting anything
    // aside, so that it may be asked while a run writes the history; false when the history
    // has none or cannot be read.
    static bool FindEdition(const QString& historyPath, const QString& file, Edition* edition);

private:
    bool Open(const QString& path);
    bool IsWhole();
    void StartAfresh(const QString& why);
    void Close();
    bool SetAside(const QString& why);
    bool Exec(const QString& statement);
    bool Fail(const QString& why);
    int FeedId(const QString& feed, bool create);
    bool WriteChanges(const Changes& changes, int edition);
    // Rolls the open transaction back; false, with ErrorString saying why.
    bool RollBack();
    void MarkFinished(int number);
    void Settle();

    QString m_path;
    QString m_connection;
    QString m_note;
    QString m_error;
    QHash<QString, int> m_feedIds;
    bool m_feedsRead = false; // m_feedIds holds every feed of the history
    bool m_checkLater = false;
};

// What the history at a path knows, read through a connection of its own, so that a thread
// other than the history's may look articles up while that one makes the book. Used from one
// thread, the one that made it. A history that cannot be read knows nothing.
class KnownArticles {
public:
    explicit KnownArticles(const QString& historyPath);
    ~KnownArticles();

    KnownArticles(const KnownArticles&) = delete;
    KnownArticles& operator=(const KnownArticles&) = delete;

    // The keys of the articles of `feed` that the history knows, with the day (Julian day
    // number) a run last recorded seeing each.
    QHash<QByteArray, qint64> Of(const QString& feed);

private:
    QString m_connection;
    std::unique_ptr<QSqlQuery> m_query;
};

} // namespace edition
