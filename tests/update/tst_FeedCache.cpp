#include "base/FeedAddress.h"
#include "testsupport.h"
#include "update/FeedCache.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <thread>
#include <vector>

using namespace pellavo::test;

namespace {

QByteArray document(int bytes, char fill = 'a') {
    QByteArray body = "<?xml version=\"1.0\"?><rss><channel>";
    body += QByteArray(std::max<qsizetype>(0, bytes - body.size() - 16), fill);
    return (body + "</channel></rss>").left(bytes);
}

FeedCache::Record record(const QByteArray& etag, const QByteArray& lastModified = {}) {
    return {etag, lastModified, "http://example.com/feed", 1715337000000, "text/xml; charset=iso-8859-1"};
}

QStringList entryFiles(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*.feed")}, QDir::Files, QDir::Name);
}

} // namespace

class TestFeedCache : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_folder;
    QString m_body;
    QString m_target;
    int m_round = 0;

    // Stores `bytes` under `key` through a body file, as a download leaves it.
    bool store(FeedCache& cache, const QByteArray& key, const QByteArray& bytes,
               const FeedCache::Record& meta = record("\"v1\"")) {
        writeFile(m_body, bytes);
        return cache.Store(key, m_body, meta);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_body = m_dir.filePath(QStringLiteral("body"));
        m_target = m_dir.filePath(QStringLiteral("target"));
    }

    void init() { m_folder = m_dir.filePath(QStringLiteral("cache%1").arg(++m_round)); }

    void roundTrip_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("etag");
        QTest::addColumn<QByteArray>("lastModified");
        QTest::newRow("etag") << document(40 * 1024) << QByteArray("\"abc\"") << QByteArray();
        QTest::newRow("last-modified only")
            << document(100) << QByteArray() << QByteArray("Fri, 10 May 2024 10:30:00 GMT");
        QTest::newRow("empty document") << QByteArray() << QByteArray("W/\"0\"") << QByteArray();
        QTest::newRow("larger than a copy block")
            << document(700 * 1024, 'z') << QByteArray("\"big\"") << QByteArray("Thu, 09 May 2024 GMT");
        QTest::newRow("binary with zero bytes")
            << QByteArray("a\0b\0\xff\xfe", 6) << QByteArray("\"z\"") << QByteArray();
    }

    void roundTrip() {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, etag);
        QFETCH(QByteArray, lastModified);
        const QByteArray key = FeedAddress::CacheKey(QStringLiteral("http://example.com/feed"));
        {
            FeedCache cache(m_folder);
            QVERIFY(!cache.Find(key));
            QVERIFY(store(cache, key, body, record(etag, lastModified)));
        }
        // A new instance, as after a restart, finds it again.
        FeedCache cache(m_folder);
        auto entry = cache.Find(key);
        QVERIFY(entry);
        QCOMPARE(entry->GetRecord().etag, etag);
        QCOMPARE(entry->GetRecord().lastModified, lastModified);
        QCOMPARE(entry->GetRecord().effectiveUrl, QByteArray("http://example.com/feed"));
        QCOMPARE(entry->GetRecord().fetchedAtMs, Q_INT64_C(1715337000000));
        QCOMPARE(entry->GetRecord().contentType, QByteArray("text/xml; charset=iso-8859-1"));
        writeFile(m_target, "longer text that was there before");
        QCOMPARE(cache.Restore(*entry, m_target), FeedCache::RestoreResult::Restored);
        QCOMPARE(readFile(m_target), body);
        QVERIFY(!cache.Find(FeedAddress::CacheKey(QStringLiteral("http://example.com/other"))));
        // The copies may be of private feeds.
        QCOMPARE(QFile::permissions(m_folder) & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
    }

    void keys_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");
        QTest::newRow("fragments") << "http://h/f#one"
                                   << "http://h/f#two" << true;
        QTest::newRow("fragment and none") << "http://h/f?x=1#top"
                                           << "http://h/f?x=1" << true;
        QTest::newRow("feed scheme") << "feed://h/f"
                                     << "http://h/f" << true;
        QTest::newRow("no scheme") << "h/f"
                                   << "HTTP://h/f" << true;
        QTest::newRow("queries") << "http://h/f?a"
                                 << "http://h/f?b" << false;
        QTest::newRow("schemes") << "http://h/f"
                                 << "https://h/f" << false;
        QTest::newRow("ports") << "http://h:81/f"
                               << "http://h/f" << false;
    }

    void keys() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, same);
        QCOMPARE(FeedAddress::CacheKey(a) == FeedAddress::CacheKey(b), same);
        QVERIFY(!FeedAddress::CacheKey(a).contains('#'));
    }

    // Whatever is wrong with an entry, it is dropped and nothing of it reaches a target.
    void damagedEntries_data() {
        QTest::addColumn<QString>("damage");
        QTest::newRow("cut short") << "cut";
        QTest::newRow("cut in the header") << "header";
        QTest::newRow("empty file") << "empty";
        QTest::newRow("flipped document byte") << "body";
        QTest::newRow("flipped checksum byte") << "checksum";
        QTest::newRow("flipped validator byte") << "etag";
        QTest::newRow("another address's entry") << "other";
        QTest::newRow("not an entry at all") << "garbage";
        QTest::newRow("an entry of the earlier layout") << "layout";
        QTest::newRow("a length past the end") << "length";
        QTest::newRow("a line break in a validator") << "newline";
    }

    void damagedEntries() {
        QFETCH(QString, damage);
        const QByteArray key = FeedAddress::CacheKey(QStringLiteral("http://example.com/feed"));
        const QByteArray other = FeedAddress::CacheKey(QStringLiteral("http://example.com/other"));
        const QByteArray body = document(5000);
        FeedCache cache(m_folder);
        QVERIFY(store(cache, key, body, record("\"etag-value\"")));
        QVERIFY(store(cache, other, document(300), record("\"o\"")));
        const QStringList files = entryFiles(m_folder);
        QCOMPARE(files.size(), 2);
        QString path;
        for (const QString& name : files) {
            const QString candidate = QDir(m_folder).filePath(name);
            if (readFile(candidate).contains("etag-value"))
                path = candidate;
        }
        QVERIFY(!path.isEmpty());
        QByteArray bytes = readFile(path);
        const qsizetype etagAt = bytes.indexOf("etag-value");
        if (damage == "cut")
            bytes.chop(1);
        else if (damage == "header")
            bytes.truncate(30);
        else if (damage == "empty")
            bytes.clear();
        else if (damage == "body")
            bytes[bytes.size() - 20 - 100] ^= 0x01;
        else if (damage == "checksum")
            bytes[bytes.size() - 1] ^= 0x80;
        else if (damage == "etag")
            bytes[etagAt] = 'E';
        else if (damage == "other")
            bytes =
                readFile(QDir(m_folder).filePath(files.at(files.indexOf(QFileInfo(path).fileName()) ^ 1)));
        else if (damage == "layout")
            bytes[7] = '2';
        else if (damage == "garbage")
            bytes = QByteArray(bytes.size(), 'x');
        else if (damage == "length")
            bytes[32 + 3] = 0x7f;
        else if (damage == "newline")
            bytes[etagAt + 4] = '\n';
        writeFile(path, bytes);

        writeFile(m_target, "before");
        std::unique_ptr<FeedCache::Entry> entry = cache.Find(key);
        // A header that reads well gives the entry out; its document is checked on the way out.
        if (entry)
            QCOMPARE(cache.Restore(*entry, m_target), FeedCache::RestoreResult::Damaged);
        QVERIFY(readFile(m_target) != body);
        QVERIFY(!QFile::exists(path));
        QVERIFY(!cache.Find(key));
        QVERIFY(cache.Find(other));
        // The next good download makes a good entry again.
        QVERIFY(store(cache, key, body));
        entry = cache.Find(key);
        QVERIFY(entry);
        QCOMPARE(cache.Restore(*entry, m_target), FeedCache::RestoreResult::Restored);
        QCOMPARE(readFile(m_target), body);
    }

    // A document with nothing to ask its server about is not kept, and what was kept goes.
    void withoutValidators() {
        const QByteArray key = FeedAddress::CacheKey(QStringLiteral("http://example.com/feed"));
        FeedCache cache(m_folder);
        QVERIFY(store(cache, key, document(100)));
        QVERIFY(cache.Find(key));
        QVERIFY(!store(cache, key, document(200), record({}, {})));
        QVERIFY(!cache.Find(key));
        QVERIFY(entryFiles(m_folder).isEmpty());
    }

    void sizeBound() {
        const QByteArray body = document(10000);
        writeFile(m_body, body);
        // Room for three entries and a half.
        const qint64 bound = 35500;
        QList<QByteArray> keys;
        for (int i = 0; i < 5; ++i)
            keys << FeedAddress::CacheKey(QStringLiteral("http://example.com/%1").arg(i));
        {
            FeedCache cache(m_folder, bound);
            QVERIFY(store(cache, keys[0], body));
            QVERIFY(store(cache, keys[1], body));
            QVERIFY(store(cache, keys[2], body));
            // Using the oldest makes it the newest.
            auto used = cache.Find(keys[0]);
            QVERIFY(used);
            QCOMPARE(cache.Restore(*used, m_target), FeedCache::RestoreResult::Restored);
            QVERIFY(store(cache, keys[3], body));
            QVERIFY(!cache.Find(keys[1]));
            QVERIFY(cache.Find(keys[0]));
            QVERIFY(cache.Find(keys[2]));
            QVERIFY(cache.Find(keys[3]));
            QCOMPARE(entryFiles(m_folder).size(), 3);
            // A document larger than the whole bound is never kept, and pushes nothing out.
            QVERIFY(!store(cache, keys[4], document(40000)));
            QCOMPARE(entryFiles(m_folder).size(), 3);
        }
        // A smaller bound at the next start drops the least recently used (by file time).
        const QString oldest = QDir(m_folder).filePath(entryFiles(m_folder).first());
        for (const QString& name : entryFiles(m_folder)) {
            QFile file(QDir(m_folder).filePath(name));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(
                QDateTime::currentDateTime().addSecs(name == QFileInfo(oldest).fileName() ? -7200 : -60),
                QFileDevice::FileModificationTime));
        }
        FeedCache smaller(m_folder, 25000);
        QVERIFY(store(smaller, keys[4], document(100)));
        QVERIFY(!QFile::exists(oldest));
        QCOMPARE(entryFiles(m_folder).size(), 3);
    }

    // Writers that died left half-written files: old ones are swept, fresh ones are not.
    void leftoversOfDeadWriters() {
        QVERIFY(QDir().mkpath(m_folder));
        const QString stale = QDir(m_folder).filePath(QStringLiteral(".0123.feed.unfinished-abcdef"));
        const QString fresh = QDir(m_folder).filePath(QStringLiteral(".0123.feed.unfinished-123456"));
        writeFile(stale, "half");
        writeFile(fresh, "half");
        QFile old(stale);
        QVERIFY(old.open(QIODevice::ReadWrite));
        QVERIFY(old.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
        old.close();
        FeedCache cache(m_folder);
        QVERIFY(store(cache, FeedAddress::CacheKey(QStringLiteral("http://h/f")), document(10)));
        QVERIFY(!QFile::exists(stale));
        QVERIFY(QFile::exists(fresh));
    }

    // Threads storing and restoring one key at once: every restore is one whole document,
    // and a damaged copy seen by one thread never costs another thread's good one.
    void oneKeyFromManyThreads() {
        FeedCache cache(m_folder);
        const QByteArray key = FeedAddress::CacheKey(QStringLiteral("http://example.com/feed"));
        QList<QByteArray> bodies;
        for (int i = 0; i < 4; ++i)
            bodies << document(30000 + 7000 * i, char('a' + i));
        std::atomic_int torn{0};
        std::atomic_int restored{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&, t] {
                const QString body = m_dir.filePath(QStringLiteral("body%1-%2").arg(m_round).arg(t));
                const QString target = m_dir.filePath(QStringLiteral("target%1-%2").arg(m_round).arg(t));
                for (int i = 0; i < 40; ++i) {
                    if ((t + i) % 2) {
                        writeFile(body, bodies[(t + i) % 4]);
                        cache.Store(key, body, record(QByteArray::number(i)));
                        continue;
                    }
                    auto entry = cache.Find(key);
                    if (!entry)
                        continue;
                    if (cache.Restore(*entry, target) != FeedCache::RestoreResult::Restored ||
                        !bodies.contains(readFile(target)))
                        ++torn;
                    else
                        ++restored;
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        QCOMPARE(torn.load(), 0);
        QVERIFY(restored.load() > 0);
        QCOMPARE(entryFiles(m_folder).size(), 1);
        QCOMPARE(QDir(m_folder).entryList(QDir::Files).size(), 1);
    }
};

PELLAVO_TEST_MAIN(TestFeedCache)
#include "tst_FeedCache.moc"
