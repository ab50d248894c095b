#include "edition/ArticleHistory.h"

#include "base/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>
#include <memory>

namespace edition {

namespace {

constexpr int kSchemaVersion = 1;

const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS editions (number INTEGER PRIMARY KEY, file TEXT NOT NULL, "
    "made INTEGER NOT NULL, articles INTEGER NOT NULL, feeds INTEGER NOT NULL, "
    "finished INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS feeds (id INTEGER PRIMARY KEY, address TEXT NOT NULL UNIQUE)",
    // edition: the edition whose run recorded the article (NULL: a run without a book);
    // delivered: whether that edition carries it or a limit left it out; seen: the Julian
    // day a run last found it in its feed.
    ("CREATE TABLE IF NOT EXISTS articles (feed INTEGER NOT NULL, key BLOB NOT NULL, edition INTEGER, "
     "delivered INTEGER NOT NULL, seen INTEGER NOT NULL, PRIMARY KEY (feed, key)) WITHOUT ROWID"),
};

// A connection of its own to the history at `path`, not yet open.
QSqlDatabase AddConnection(QString& name, const QString& path) {
    static std::atomic_int counter{0};
    name = QStringLiteral("pellavo-history-%1").arg(++counter);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    // A run that meets the Options dialog's Forget waits for it rather than failing.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    return db;
}

} // namespace

ArticleHistory::ArticleHistory(const QString& path, Check check)
    : m_path(path), m_checkLater(check == Check::Later) {
    if (!Open(path))
        StartAfresh(m_error);
}

void ArticleHistory::StartAfresh(const QString& why) {
    m_checkLater = false;
    if (!QFileInfo::exists(m_path) || !SetAside(why) || !Open(m_path))
        m_note = QStringLiteral("The article history %1 cannot be used (%2), so this edition brings every "
                                "article the limits allow.")
                     .arg(QDir::toNativeSeparators(m_path), m_error.isEmpty() ? why : m_error);
}

bool ArticleHistory::IsWhole() {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!query.exec(QStringLiteral("PRAGMA quick_check")) || !query.next())
        return Fail(query.lastError().text());
    return query.value(0).toString() == QLatin1String("ok") || Fail(query.value(0).toString());
}

void ArticleHistory::CheckWhole() {
    if (!IsOpen() || !m_checkLater)
        return;
    m_checkLater = false;
    if (!IsWhole())
        StartAfresh(m_error);
}

ArticleHistory::~ArticleHistory() {
    Close();
}

void ArticleHistory::Close() {
    if (m_connection.isEmpty())
        return;
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
    m_connection.clear();
    m_feedIds.clear();
    m_feedsRead = false;
}

bool ArticleHistory::Fail(const QString& why) {
    m_error = why;
    return false;
}

bool ArticleHistory::Exec(const QString& statement) {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    return query.exec(statement) || Fail(query.lastError().text());
}

bool ArticleHistory::Open(const QString& path) {
    Close();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return Fail(QStringLiteral("cannot create the folder %1").arg(QFileInfo(path).absolutePath()));
    m_error.clear();
    // The handles go before the connection is closed on failure.
    const bool ok = [&] {
        QSqlDatabase db = AddConnection(m_connection, path);
        if (!db.open())
            return Fail(db.lastError().text());
        if (!Exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
            !Exec(QStringLiteral("PRAGMA synchronous=FULL")))
            return false;
        if (!m_checkLater && !IsWhole())
            return false;
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
            return Fail(query.lastError().text());
        const int version = query.value(0).toInt();
        if (version > kSchemaVersion)
            return Fail(QStringLiteral("made by a later version of Pellavo"));
        query.finish();
        // Every run opens the history: one whose tables are there is not written to here.
        if (version == kSchemaVersion)
            return true;
        for (const char* statement : kSchema) {
            if (!Exec(QString::fromLatin1(statement)))
                return false;
        }
        return Exec(QStringLiteral("PRAGMA user_version=%1").arg(kSchemaVersion));
    }();
    if (!ok) {
        const QString why = m_error;
        Close();
        return Fail(why);
    }
    Settle();
    return true;
}

// The damaged file is kept as it was, with its journal, under a name of its own.
bool ArticleHistory::SetAside(const QString& why) {
    Close();
    const QString stem = m_path + QStringLiteral(".damaged-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString copy = stem;
    for (int n = 2; QFileInfo::exists(copy); ++n)
        copy = stem + QLatin1Char('-') + QString::number(n);
    QString error;
    if (!RenameDurably(m_path, copy, &error))
        return Fail(error);
    for (const char* suffix : {"-wal", "-shm"}) {
        if (QFileInfo::exists(m_path + QLatin1String(suffix)))
            RenameDurably(m_path + QLatin1String(suffix), copy + QLatin1String(suffix));
    }
    m_note = QStringLiteral("The article history could not be read (%1). It is kept as %2, and a new one "
                            "is started: this edition brings every article the limits allow.")
                 .arg(why, QDir::toNativeSeparators(copy));
    return true;
}

void ArticleHistory::Settle() {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT number, file FROM editions WHERE finished = 0")))
        return;
    std::vector<std::pair<int, QString>> unfinished;
    while (query.next())
        unfinished.emplace_back(query.value(0).toInt(), query.value(1).toString());
    query.finish();
    for (const auto& [number, file] : unfinished) {
        if (QFileInfo::exists(file))
            MarkFinished(number);
        else
            WithdrawEdition(number);
    }
}

int ArticleHistory::FeedId(const QString& feed, bool create) {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    // A run asks for every feed: one query reads them all.
    if (!m_feedsRead && query.exec(QStringLiteral("SELECT id, address FROM feeds"))) {
        while (query.next())
            m_feedIds.insert(query.value(1).toString(), query.value(0).toInt());
        m_feedsRead = true;
    }
    if (const auto it = m_feedIds.constFind(feed); it != m_feedIds.constEnd())
        return it.value();
    int id = 0;
    if (create) {
        query.prepare(QStringLiteral("INSERT INTO feeds (address) VALUES (?)"));
        query.addBindValue(feed);
        if (query.exec())
            id = query.lastInsertId().toInt();
    }
    if (id)
        m_feedIds.insert(feed, id);
    return id;
}

int ArticleHistory::NextEditionNumber() {
    const auto next = [this] {
        QSqlQuery query(QSqlDatabase::database(m_connection, false));
        if (query.exec(QStringLiteral("SELECT MAX(number) FROM editions")) && query.next())
            return query.value(0).toInt() + 1;
        Fail(query.lastError().text());
        return 0;
    };
    if (!IsOpen())
        return 0;
    if (const int number = next())
        return number;
    // Editions that cannot be counted are a damaged history, found now rather than once the
    // book is made: the fresh one counts from 1, as its records will.
    StartAfresh(m_error);
    return IsOpen() ? next() : 0;
}

bool ArticleHistory::WriteChanges(const Changes& changes, int edition) {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT OR REPLACE INTO articles (feed, key, edition, delivered, seen) "
                                  "VALUES (?, ?, ?, ?, ?)"));
    for (const Entry& entry : changes.added) {
        const int feed = FeedId(entry.feed, true);
        if (!feed)
            return Fail(db.lastError().text());
        insert.bindValue(0, feed);
        insert.bindValue(1, entry.key);
        insert.bindValue(2, edition > 0 ? QVariant(edition) : QVariant(QMetaType(QMetaType::Int)));
        insert.bindValue(3, entry.delivered ? 1 : 0);
        insert.bindValue(4, changes.day);
        if (!insert.exec())
            return Fail(insert.lastError().text());
    }
    QSqlQuery seen(db);
    seen.prepare(QStringLiteral("UPDATE articles SET seen = ? WHERE feed = ? AND key = ?"));
    for (const auto& [feed, key] : changes.seenAgain) {
        seen.bindValue(0, changes.day);
        seen.bindValue(1, FeedId(feed, false));
        seen.bindValue(2, key);
        if (!seen.exec())
            return Fail(seen.lastError().text());
    }
    QSqlQuery prune(db);
    prune.prepare(QStringLiteral("DELETE FROM articles WHERE seen < ?"));
    prune.addBindValue(changes.day - kPruneDays - kSeenRefreshDays);
    if (!prune.exec())
        return Fail(prune.lastError().text());
    if (prune.numRowsAffected() > 0) {
        if (!prune.exec(QStringLiteral("DELETE FROM feeds WHERE id NOT IN (SELECT feed FROM articles)")))
            return Fail(prune.lastError().text());
        // Ids of pruned feeds may be given again.
        m_feedIds.clear();
        m_feedsRead = false;
    }
    return true;
}

bool ArticleHistory::Record(const Changes& changes) {
    if (!IsOpen())
        return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return Fail(db.lastError().text());
    return (WriteChanges(changes, 0) && db.commit()) || RollBack();
}

bool ArticleHistory::RollBack() {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    const QString why = m_error.isEmpty() ? db.lastError().text() : m_error;
    db.rollback();
    // Ids of feeds added in the transaction are gone with it.
    m_feedIds.clear();
    m_feedsRead = false;
    return Fail(why);
}

void ArticleHistory::MarkFinished(int number) {
    QSqlQuery finish(QSqlDatabase::database(m_connection, false));
    finish.prepare(QStringLiteral("UPDATE editions SET finished = 1 WHERE number = ?"));
    finish.addBindValue(number);
    finish.exec();
}

bool ArticleHistory::RecordEdition(const Edition& edition, const Changes& changes) {
    if (!IsOpen())
        return Fail(QString());
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return Fail(db.lastError().text());
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO editions (number, file, made, articles, feeds, finished) "
                                  "VALUES (?, ?, ?, ?, ?, 0)"));
    insert.addBindValue(edition.number);
    insert.addBindValue(edition.path);
    insert.addBindValue(edition.made.toSecsSinceEpoch());
    insert.addBindValue(edition.articles);
    insert.addBindValue(edition.feeds);
    if (insert.exec() && WriteChanges(changes, edition.number) && db.commit()) {
        // The journal goes into the database now, while the book is still being finished,
        // rather than when the history is closed after it.
        Exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
        return true;
    }
    return RollBack();
}

bool ArticleHistory::PlaceEdition(const Edition& edition, const QString& unfinished, bool recorded) {
    QString error;
    if (!RenameDurably(unfinished, edition.path, &error)) {
        QFile::remove(unfinished);
        if (recorded)
            WithdrawEdition(edition.number);
        return Fail(error);
    }
    // An edition is never lost for want of its record: its articles come again next time.
    if (!recorded) {
        if (IsOpen())
            m_note = QStringLiteral("The articles of this edition could not be recorded in the article "
                                    "history (%1), so the next edition brings them again.")
                         .arg(m_error);
        return true;
    }
    // Should this not reach the disk, the next opening finishes the edition: so it need not
    // wait for the disk.
    Exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    MarkFinished(edition.number);
    Exec(QStringLiteral("PRAGMA synchronous=FULL"));
    return true;
}

void ArticleHistory::WithdrawEdition(int number) {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    db.transaction();
    QSqlQuery withdraw(db);
    withdraw.prepare(QStringLiteral("DELETE FROM articles WHERE edition = ?"));
    withdraw.addBindValue(number);
    bool ok = withdraw.exec();
    withdraw.prepare(QStringLiteral("DELETE FROM editions WHERE number = ?"));
    withdraw.addBindValue(number);
    ok = ok && withdraw.exec();
    ok ? db.commit() : db.rollback();
}

bool ArticleHistory::PublishEdition(const Edition& edition, const QString& unfinished,
                                    const Changes& changes) {
    QString error;
    if (!SyncFile(unfinished, &error)) {
        QFile::remove(unfinished);
        return Fail(error);
    }
    return PlaceEdition(edition, unfinished, RecordEdition(edition, changes));
}

bool ArticleHistory::Forget() {
    if (!IsOpen())
        return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    const bool ok = db.transaction() && Exec(QStringLiteral("DELETE FROM articles")) &&
                    Exec(QStringLiteral("DELETE FROM feeds")) && db.commit();
    if (!ok)
        db.rollback();
    m_feedIds.clear();
    m_feedsRead = false;
    return ok;
}

bool ArticleHistory::FindEdition(const QString& historyPath, const QString& file, Edition* edition) {
    if (!QFileInfo::exists(historyPath))
        return false;
    QString connection;
    bool found = false;
    {
        QSqlDatabase db = AddConnection(connection, historyPath);
        if (db.open()) {
            QSqlQuery query(db);
            query.prepare(QStringLiteral("SELECT number, made, articles, feeds FROM editions WHERE file = ? "
                                         "ORDER BY number DESC LIMIT 1"));
            query.addBindValue(file);
            if (query.exec() && query.next()) {
                found = true;
                *edition = {query.value(0).toInt(), file,
                            QDateTime::fromSecsSinceEpoch(query.value(1).toLongLong()),
                            query.value(2).toInt(), query.value(3).toInt()};
            }
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return found;
}

KnownArticles::KnownArticles(const QString& historyPath) {
    // Looking up never makes a history where there is none.
    if (!QFileInfo::exists(historyPath))
        return;
    QSqlDatabase db = AddConnection(m_connection, historyPath);
    if (!db.open())
        return;
    m_query = std::make_unique<QSqlQuery>(db);
    m_query->setForwardOnly(true);
    // Prepared once: a run asks for every feed.
    if (!m_query->prepare(QStringLiteral("SELECT articles.key, articles.seen FROM articles "
                                         "JOIN feeds ON articles.feed = feeds.id "
                                         "WHERE feeds.address = ?")))
        m_query.reset();
}

KnownArticles::~KnownArticles() {
    if (m_connection.isEmpty())
        return;
    m_query.reset();
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
}

QHash<QByteArray, qint64> KnownArticles::Of(const QString& feed) {
    QHash<QByteArray, qint64> known;
    if (!m_query)
        return known;
    m_query->bindValue(0, feed);
    if (!m_query->exec())
        return known;
    while (m_query->next())
        known.insert(m_query->value(0).toByteArray(), m_query->value(1).toLongLong());
    m_query->finish();
    return known;
}

} // namespace edition
