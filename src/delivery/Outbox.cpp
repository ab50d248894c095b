#include "delivery/Outbox.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

namespace {

Outbox::State StateFromText(const QString& text) {
    if (text == QLatin1String("attempting"))
        return Outbox::State::Attempting;
    if (text == QLatin1String("delivered"))
        return Outbox::State::Delivered;
    if (text == QLatin1String("failed"))
        return Outbox::State::Failed;
    if (text == QLatin1String("expired"))
        return Outbox::State::Expired;
    return Outbox::State::Waiting;
}

const QString kColumns = QStringLiteral(
    "id, target, edition, feeds, articles, queued, updated, state, reason, attempts, delivered_path");

Outbox::Entry EntryOf(const QSqlQuery& query) {
    Outbox::Entry entry;
    entry.id = query.value(0).toLongLong();
    entry.target = query.value(1).toString();
    entry.edition = query.value(2).toString();
    entry.feeds = query.value(3).toInt();
    entry.articles = query.value(4).toInt();
    entry.queued = QDateTime::fromMSecsSinceEpoch(query.value(5).toLongLong());
    entry.updated = QDateTime::fromMSecsSinceEpoch(query.value(6).toLongLong());
    entry.state = StateFromText(query.value(7).toString());
    entry.reason = query.value(8).toString();
    entry.attempts = query.value(9).toInt();
    entry.deliveredPath = query.value(10).toString();
    return entry;
}

// Qt binds a null string as NULL, which the text columns refuse.
QString NotNull(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

qint64 Cutoff(const QDateTime& now) {
    return now.addDays(-Outbox::kRetryDays).toMSecsSinceEpoch();
}

} // namespace

QString Outbox::StateName(State state) {
    switch (state) {
    case State::Attempting:
        return QStringLiteral("attempting");
    case State::Delivered:
        return QStringLiteral("delivered");
    case State::Failed:
        return QStringLiteral("failed");
    case State::Expired:
        return QStringLiteral("expired");
    case State::Waiting:
        break;
    }
    return QStringLiteral("waiting");
}

Outbox::Outbox(const QString& path)
    : m_strConnection(QStringLiteral("pellavo-outbox-") +
                      QUuid::createUuid().toString(QUuid::WithoutBraces)) {
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_strConnection);
    m_db.setDatabaseName(path);
    // The article history may be writing the same file at this moment: wait for it.
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    if (!m_db.open()) {
        m_strError = m_db.lastError().text();
        return;
    }
    QSqlQuery query(m_db);
    const char* const statements[] = {
        "PRAGMA journal_mode=WAL",
        "CREATE TABLE IF NOT EXISTS delivery ("
        " id INTEGER PRIMARY KEY, target TEXT NOT NULL, edition TEXT NOT NULL,"
        " feeds INTEGER NOT NULL DEFAULT 0, articles INTEGER NOT NULL DEFAULT -1,"
        " queued INTEGER NOT NULL, updated INTEGER NOT NULL, state TEXT NOT NULL,"
        " reason TEXT NOT NULL DEFAULT '', attempts INTEGER NOT NULL DEFAULT 0,"
        " delivered_path TEXT NOT NULL DEFAULT '', number INTEGER NOT NULL DEFAULT 0)",
        "CREATE INDEX IF NOT EXISTS delivery_by_edition ON delivery (edition, target)",
        "CREATE INDEX IF NOT EXISTS delivery_by_state ON delivery (state, queued)",
        "CREATE TABLE IF NOT EXISTS delivery_target (target TEXT PRIMARY KEY, failing INTEGER NOT NULL)",
    };
    for (const char* statement : statements) {
        if (!query.exec(QString::fromLatin1(statement))) {
            m_strError = query.lastError().text();
            return;
        }
    }
    m_bOpen = true;
}

Outbox::~Outbox() {
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_strConnection);
}

int Outbox::Enqueue(const QString& edition, int number, const QStringList& targets, int feeds, int articles,
                    const QDateTime& now) {
    if (!m_bOpen)
        return 0;
    int added = 0;
    m_db.transaction();
    QSqlQuery query(m_db);
    // A name comes again only once its edition is gone: what still waited for that one has
    // nothing left to carry, and must not carry the new one in its place.
    query.prepare(QStringLiteral(
        "UPDATE delivery SET state = 'failed', reason = 'Replaced by a newer edition',"
        " updated = ? WHERE edition = ? AND number <> ? AND state IN ('waiting', 'attempting')"));
    query.addBindValue(now.toMSecsSinceEpoch());
    query.addBindValue(edition);
    query.addBindValue(number);
    query.exec();
    query.prepare(QStringLiteral(
        "INSERT INTO delivery (target, edition, feeds, articles, queued, updated, state, number)"
        " SELECT ?, ?, ?, ?, ?, ?, 'waiting', ? WHERE NOT EXISTS (SELECT 1 FROM delivery"
        " WHERE target = ? AND edition = ? AND number = ?)"));
    for (const QString& target : targets) {
        for (const QVariant& value :
             {QVariant(target), QVariant(edition), QVariant(feeds), QVariant(articles),
              QVariant(now.toMSecsSinceEpoch()), QVariant(now.toMSecsSinceEpoch()), QVariant(number),
              QVariant(target), QVariant(edition), QVariant(number)})
            query.addBindValue(value);
        if (query.exec())
            added += query.numRowsAffected();
    }
    m_db.commit();
    return added;
}

QList<Outbox::Entry> Outbox::Due(const QDateTime& now) {
    QList<Entry> due;
    if (!m_bOpen)
        return due;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE delivery SET state = 'expired', updated = ?,"
                                 " reason = 'Given up after 3 days: ' || reason"
                                 " WHERE state IN ('waiting', 'attempting') AND queued < ?"));
    query.addBindValue(now.toMSecsSinceEpoch());
    query.addBindValue(Cutoff(now));
    query.exec();
    query.prepare(
        QStringLiteral("SELECT ") + kColumns +
        QStringLiteral(" FROM delivery WHERE state IN ('waiting', 'attempting') ORDER BY queued, id"));
    if (query.exec()) {
        while (query.next())
            due << EntryOf(query);
    }
    return due;
}

bool Outbox::MarkAttempting(qint64 id, const QDateTime& now) {
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral(
        "UPDATE delivery SET state = 'attempting', attempts = attempts + 1, updated = ? WHERE id = ?"));
    query.addBindValue(now.toMSecsSinceEpoch());
    query.addBindValue(id);
    return m_bOpen && query.exec();
}

bool Outbox::MarkResult(qint64 id, bool ok, const QString& reason, const QString& deliveredPath,
                        const QDateTime& now, bool permanent) {
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral(
        "UPDATE delivery SET state = ?, reason = ?, delivered_path = ?, updated = ? WHERE id = ?"));
    query.addBindValue(ok          ? QStringLiteral("delivered")
                       : permanent ? QStringLiteral("failed")
                                   : QStringLiteral("waiting"));
    query.addBindValue(NotNull(ok ? QString() : reason));
    query.addBindValue(NotNull(deliveredPath));
    query.addBindValue(now.toMSecsSinceEpoch());
    query.addBindValue(id);
    return m_bOpen && query.exec();
}

void Outbox::RecordFailure(const QString& target, const QString& reason, const QDateTime& now) {
    if (!m_bOpen)
        return;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("INSERT INTO delivery (target, edition, queued, updated, state, reason)"
                                 " VALUES (?, '', ?, ?, 'failed', ?)"));
    query.addBindValue(target);
    query.addBindValue(now.toMSecsSinceEpoch());
    query.addBindValue(now.toMSecsSinceEpoch());
    query.addBindValue(NotNull(reason));
    query.exec();
}

void Outbox::DropTargetsOtherThan(const QStringList& targets, const QDateTime& now) {
    if (!m_bOpen)
        return;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT id, target FROM delivery WHERE state IN ('waiting', 'attempting')"));
    QList<qint64> dropped;
    if (query.exec()) {
        while (query.next()) {
            if (!targets.contains(query.value(1).toString()))
                dropped << query.value(0).toLongLong();
        }
    }
    for (qint64 id : dropped)
        MarkResult(id, false, QStringLiteral("No longer a delivery target"), QString(), now, true);
}

QStringList Outbox::FilesStillWaiting(const QDateTime& now) const {
    QStringList files;
    if (!m_bOpen)
        return files;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT DISTINCT edition FROM delivery"
                                 " WHERE state IN ('waiting', 'attempting') AND queued >= ?"));
    query.addBindValue(Cutoff(now));
    if (query.exec()) {
        while (query.next())
            files << query.value(0).toString();
    }
    return files;
}

QList<Outbox::Entry> Outbox::Recent(int count) const {
    QList<Entry> recent;
    if (!m_bOpen)
        return recent;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT ") + kColumns +
                  QStringLiteral(" FROM delivery ORDER BY updated DESC, id DESC LIMIT ?"));
    query.addBindValue(count);
    if (query.exec()) {
        while (query.next())
            recent << EntryOf(query);
    }
    return recent;
}

QStringList Outbox::DeliveredPaths(const QString& target) const {
    QStringList paths;
    if (!m_bOpen)
        return paths;
    QSqlQuery query(m_db);
    query.prepare(
        QStringLiteral("SELECT delivered_path FROM delivery WHERE target = ? AND state = 'delivered'"
                       " AND delivered_path <> '' ORDER BY updated, id"));
    query.addBindValue(target);
    if (query.exec()) {
        while (query.next())
            paths << query.value(0).toString();
    }
    return paths;
}

bool Outbox::NoteFailure(const QString& target) {
    if (!m_bOpen)
        return true;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT failing FROM delivery_target WHERE target = ?"));
    query.addBindValue(target);
    const bool wasFailing = query.exec() && query.next() && query.value(0).toInt() != 0;
    query.prepare(QStringLiteral("INSERT OR REPLACE INTO delivery_target (target, failing) VALUES (?, 1)"));
    query.addBindValue(target);
    query.exec();
    return !wasFailing;
}

void Outbox::NoteSuccess(const QString& target) {
    if (!m_bOpen)
        return;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("INSERT OR REPLACE INTO delivery_target (target, failing) VALUES (?, 0)"));
    query.addBindValue(target);
    query.exec();
}
