// Editions across runs against a loopback server: each brings only what no earlier one
// carried or passed over, within its limits; nothing new makes no book; the keep count
// touches only our own editions; a damaged history is set aside and never stops a run.
#include "EpubTestUtil.h"
#include "TestHttpServer.h"
#include "base/AppPaths.h"
#include "edition/ArticleHistory.h"
#include "edition/EditionChoice.h"
#include "testsupport.h"
#include "update/EBookEdition.h"
#include "update/NewsFeedOutput.h"
#include "update/UpdateEngine.h"

#include <QDir>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

using namespace pellavo::test;

namespace {

// An item: its title, how long before the run it came out (negative: undated), and whether
// it has a guid (else its link is what it is known by).
struct Item {
    QByteArray title;
    qint64 hoursOld = -1;
    bool guid = false;
};

QByteArray rss(const QDateTime& now, const QList<Item>& items) {
    QByteArray out = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Feed</title>";
    for (const Item& item : items) {
        out += "<item><title>" + item.title + "</title><link>http://example.org/" + item.title + "</link>";
        if (item.guid)
            out += "<guid isPermaLink=\"false\">tag:example.org," + item.title + "</guid>";
        if (item.hoursOld >= 0)
            out +=
                "<pubDate>" +
                QLocale::c()
                    .toString(now.toUTC().addSecs(-item.hoursOld * 3600), "ddd, dd MMM yyyy HH:mm:ss 'GMT'")
                    .toLatin1() +
                "</pubDate>";
        out += "<description>Words</description></item>";
    }
    return out + "</channel></rss>";
}

QStringList titlesIn(const Epub& book) {
    static const QRegularExpression article(QStringLiteral("#a\\d+\">([^<]*)</a>"));
    QStringList titles;
    for (const QRegularExpressionMatch& match :
         article.globalMatch(QString::fromUtf8(book.files.value(QStringLiteral("EPUB/nav.xhtml")))))
        titles << match.captured(1);
    return titles;
}

} // namespace

class TestEditions : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    TestHttpServer m_server;
    QString m_output;
    QString m_history;
    QDateTime m_now{QDate(2026, 12, 8), QTime(6, 30)};

    void serve(const char* path, const QList<Item>& items) {
        m_server.setRoute(path, HttpResponse::ok(rss(m_now, items)));
    }

    // One run over the feeds at `m_now`; its outcome.
    UpdateEngine::Outcome run(const QStringList& paths, const edition::Limits& limits = {}, int keep = 7,
                              const QStringList& spare = {}) {
        UpdateJob job;
        for (const QString& path : paths)
            job.urls << m_server.url(path);
        job.tempFolder = AppPaths::PrivateTempFolder();
        job.edition = EditionJob{m_history, limits, keep, [spare] { return spare; }};
        job.runTime = m_now;
        UpdateEngine engine(job, NewsFeedOutput::Open(m_output, nullptr));
        ThreadSignal finished(&engine, &UpdateEngine::finished);
        engine.Start();
        if (!finished.wait())
            qWarning("the run did not end");
        return engine.GetOutcome();
    }

    QStringList editions() const {
        return QDir(m_dir.path()).entryList({QStringLiteral("*.epub")}, QDir::Files, QDir::Name);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        m_output = m_dir.filePath(QStringLiteral("news.nff"));
        m_history = m_dir.filePath(QStringLiteral("data/history.sqlite"));
    }

    void init() {
        for (const QString& name : QDir(m_dir.path()).entryList({QStringLiteral("*.epub")}, QDir::Files))
            QFile::remove(m_dir.filePath(name));
        QDir(m_dir.filePath(QStringLiteral("data"))).removeRecursively();
        m_now = QDateTime(QDate(2026, 12, 8), QTime(6, 30));
    }

    // Only what is new, numbered, named and described as an edition; a feed with nothing
    // new has no chapter; nothing new at all makes no book and says so.
    void onlyNewAcrossRuns() {
        serve("/a", {{"a2", 2, true}, {"a1", 3, true}});
        serve("/b", {{"b1", 1}});
        UpdateEngine::Outcome outcome = run({"/a", "/b"});
        QVERIFY2(outcome.bookError.isEmpty(), qPrintable(outcome.bookError));
        QCOMPARE(outcome.bookPath, m_dir.filePath(QStringLiteral("news-2026-12-08-0630.epub")));
        QCOMPARE(titlesIn(readEpub(outcome.bookPath)), (QStringList{"a2", "a1", "b1"}));

        m_now = m_now.addSecs(3600);
        serve("/a", {{"a3", 0, true}, {"a2", 3, true}, {"a1", 4, true}});
        outcome = run({"/a", "/b"});
        QCOMPARE(outcome.bookPath, m_dir.filePath(QStringLiteral("news-2026-12-08-0730.epub")));
        QCOMPARE(EBookOfSameRun(m_output), outcome.bookPath);
        const Epub book = readEpub(outcome.bookPath);
        QCOMPARE(titlesIn(book), QStringList{"a3"});
        QCOMPARE(book.names.filter(QStringLiteral("EPUB/feed")).size(), 1);
        const QString package = QString::fromUtf8(book.files.value(QStringLiteral("EPUB/package.opf")));
        QVERIFY(package.contains(
            QStringLiteral("<dc:title>Pellavo News \u2013 ") +
            QLocale().toString(m_now.date(), QLocale::LongFormat) + QStringLiteral(", ") +
            QLocale().toString(m_now.time(), QLocale::ShortFormat) + QStringLiteral("</dc:title>")));
        QVERIFY(package.contains(QStringLiteral("property=\"group-position\">2</meta>")));
        QVERIFY(package.contains(QStringLiteral("<meta name=\"calibre:series_index\" content=\"2\"/>")));
        const QByteArray cover = book.files.value(QStringLiteral("EPUB/cover.xhtml"));
        QVERIFY(cover.contains("<p>Edition 2</p>") && cover.contains("1 new article from 1 feed"));
        if (hasEpubCheck())
            QCOMPARE(epubCheckProblem(outcome.bookPath), QString());

        m_now = m_now.addSecs(3600);
        const QStringList before = editions();
        outcome = run({"/a", "/b"});
        QVERIFY(outcome.bookError.isEmpty());
        QCOMPARE(outcome.bookNotes, QStringList{QStringLiteral("Nothing new for the e-book.")});
        QCOMPARE(editions(), before);
        QVERIFY(EBookOfSameRun(m_output).isEmpty());

        // Forgotten, everything comes again, and the numbers go on.
        QVERIFY(edition::ArticleHistory(m_history).Forget());
        outcome = run({"/a", "/b"});
        QCOMPARE(titlesIn(readEpub(outcome.bookPath)), (QStringList{"a3", "a2", "a1", "b1"}));
        QVERIFY(
            readEpub(outcome.bookPath).files.value(QStringLiteral("EPUB/cover.xhtml")).contains("Edition 3"));
    }

    // Newest first, the undated after the dated in document order; what a limit passes over
    // never comes in a later edition, and every article the feed still carries is seen again.
    void limits_data() {
        QTest::addColumn<int>("maxArticles");
        QTest::addColumn<int>("maxAgeDays");
        QTest::addColumn<bool>("onlyNew");
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<QStringList>("second");
        QTest::newRow("no limits") << 0 << 0 << true << QStringList{"d1", "d2", "old", "u1", "u2"}
                                   << QStringList{"new"};
        QTest::newRow("at most 2") << 2 << 0 << true << QStringList{"d1", "d2"} << QStringList{"new"};
        QTest::newRow("7 days") << 0 << 7 << true << QStringList{"d1", "d2", "u1", "u2"}
                                << QStringList{"new"};
        QTest::newRow("3 within 7 days")
            << 3 << 7 << true << QStringList{"d1", "d2", "u1"} << QStringList{"new"};
        QTest::newRow("not only new") << 0 << 7 << false << QStringList{"d1", "d2", "u1", "u2"}
                                      << QStringList{"new", "d1", "d2", "u1", "u2"};
    }

    void limits() {
        QFETCH(int, maxArticles);
        QFETCH(int, maxAgeDays);
        QFETCH(bool, onlyNew);
        const edition::Limits limits{onlyNew, maxArticles, maxAgeDays};
        const QList<Item> items = {
            {"u1", -1, true}, {"d2", 5}, {"old", 24 * 10, true}, {"u2"}, {"d1", 1, true}};
        serve("/limits", items);
        QTEST(titlesIn(readEpub(run({"/limits"}, limits).bookPath)), "first");
        m_now = m_now.addDays(1);
        serve("/limits", QList<Item>{{"new", 1, true}} + items);
        QTEST(titlesIn(readEpub(run({"/limits"}, limits).bookPath)), "second");
        // A day later what the history knows keeps its day; once that is old, it is written again.
        const QString address = m_server.url("/limits");
        const QHash<QByteArray, qint64> known = edition::KnownArticles(m_history).Of(address);
        QCOMPARE(known.size(), items.size() + 1);
        const qint64 today = m_now.date().toJulianDay();
        QCOMPARE(QSet<qint64>(known.cbegin(), known.cend()), (QSet<qint64>{today - 1, today}));
        m_now = m_now.addDays(edition::ArticleHistory::kSeenRefreshDays);
        QVERIFY(run({"/limits"}, limits).bookError.isEmpty());
        for (const qint64 day : edition::KnownArticles(m_history).Of(address))
            QCOMPARE(day, m_now.date().toJulianDay());
    }

    // Two editions in one minute; the keep count removes older editions of this news feed
    // file but those still waiting to be delivered, and nothing else.
    void keepRemovesOnlyOurEditions() {
        const QStringList others = {"news.epub", "news-mine.epub", "other-2026-12-01-0630.epub",
                                    "news-2026-12-01-0630-x.epub", "news-2026-12-01-630.epub"};
        for (const QString& name : others)
            writeFile(m_dir.filePath(name), "the user's own");
        writeFile(m_dir.filePath(QStringLiteral("news-2026-12-01-0630.epub")), "an old edition");
        writeFile(m_dir.filePath(QStringLiteral("news-2026-12-02-0630.epub")), "an edition still to deliver");
        for (int i = 1; i <= 3; ++i) {
            serve("/keep", {{"k" + QByteArray::number(i), 0}});
            QVERIFY(run({"/keep"}, {}, 2, {m_dir.filePath(QStringLiteral("news-2026-12-02-0630.epub"))})
                        .bookError.isEmpty());
        }
        QStringList expected =
            others + QStringList{"news-2026-12-02-0630.epub", "news-2026-12-08-0630-2.epub",
                                 "news-2026-12-08-0630-3.epub"};
        expected.sort();
        QCOMPARE(editions(), expected);
    }

    // The keys in users' histories never change: a guid, else the link, else title and date.
    void keysStayAsStored_data() {
        QTest::addColumn<QByteArray>("id");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QByteArray>("key");
        QTest::newRow("guid") << QByteArray("tag:example.org,2026:1") << "https://example.org/a"
                              << QByteArray("62f1be9c3f70ba6925a65903ef548b5f");
        QTest::newRow("link") << QByteArray() << "https://example.org/story?id=1"
                              << QByteArray("27009098ad01b33f41d4607d956641d2");
        QTest::newRow("title and date")
            << QByteArray() << QString() << QByteArray("914e2b0b55db12e88db721699b8eb01d");
    }

    void keysStayAsStored() {
        QFETCH(QByteArray, id);
        QFETCH(QString, link);
        QFETCH(QByteArray, key);
        ebook::Article article;
        article.id = id;
        article.link = QUrl(link);
        article.title.value = "Council &amp; budget";
        article.title.kind = ebook::FeedText::Kind::Entities;
        article.date = "Tue, 08 Dec 2026 06:30:00 GMT";
        QCOMPARE(edition::ArticleKey(article).toHex(), key);
        if (!id.isEmpty())
            QCOMPARE(edition::IdKey(id).toHex(), key);
    }

    // A book that cannot be made records none of its articles, though they are recorded while
    // it is being finished: the next edition brings them.
    void failedBookRecordsNothing() {
        serve("/fails", {{"f1", 1, true}});
        const QString unfinished = m_dir.filePath(QStringLiteral(".news-2026-12-08-0630.epub.part"));
        QVERIFY(QDir().mkpath(unfinished));
        UpdateEngine::Outcome outcome = run({"/fails"});
        QVERIFY(QDir().rmdir(unfinished));
        QVERIFY2(outcome.bookError.contains(QStringLiteral("news-2026-12-08-0630.epub:")),
                 qPrintable(outcome.bookError));
        QVERIFY(editions().isEmpty());
        QVERIFY(edition::KnownArticles(m_history).Of(m_server.url("/fails")).isEmpty());
        outcome = run({"/fails"});
        QCOMPARE(titlesIn(readEpub(outcome.bookPath)), QStringList{"f1"});
        QVERIFY(
            readEpub(outcome.bookPath).files.value(QStringLiteral("EPUB/cover.xhtml")).contains("Edition 1"));
    }

    // A history that is no database, or one with a damaged page (found by the reading of the
    // whole file, or by the count of its editions), is kept aside once; the edition brings
    // everything and the next run finds the new history whole.
    void damagedHistorySetAside_data() {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QByteArray>("number");
        QTest::newRow("no database") << QString() << QByteArray("Edition 1");
        // The editions that could still be counted go on being counted.
        QTest::newRow("damaged articles") << QStringLiteral("articles") << QByteArray("Edition 2");
        QTest::newRow("damaged editions") << QStringLiteral("editions") << QByteArray("Edition 1");
    }

    void damagedHistorySetAside() {
        QFETCH(QString, table);
        QFETCH(QByteArray, number);
        serve("/damaged", {{"x1", 1}});
        QVERIFY(QDir().mkpath(QFileInfo(m_history).path()));
        QByteArray damaged(8192, 'x');
        if (!table.isEmpty()) {
            QVERIFY(run({"/damaged"}).bookError.isEmpty());
            m_now = m_now.addSecs(60);
            damaged = readFile(m_history);
            // The page that holds the table: the file's header and table list stay sound.
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
            db.setDatabaseName(m_history);
            QVERIFY(db.open());
            QSqlQuery query(QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name = '%1'").arg(table),
                            db);
            QVERIFY(query.next());
            const qsizetype pageBytes = qsizetype(quint8(damaged[16])) << 8 | quint8(damaged[17]);
            const qsizetype at = (query.value(0).toInt() - 1) * pageBytes;
            query.finish();
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("peek"));
            QVERIFY(at > 0 && at + pageBytes <= damaged.size());
            damaged.replace(at, pageBytes, QByteArray(pageBytes, char(0xA5)));
        }
        writeFile(m_history, damaged);
        UpdateEngine::Outcome outcome = run({"/damaged"});
        QVERIFY(outcome.bookError.isEmpty());
        QCOMPARE(outcome.bookNotes.size(), 1);
        QVERIFY2(outcome.bookNotes[0].startsWith(QStringLiteral("The article history could not be read")),
                 qPrintable(outcome.bookNotes[0]));
        const Epub book = readEpub(outcome.bookPath);
        QCOMPARE(titlesIn(book), QStringList{"x1"});
        QVERIFY(book.files.value(QStringLiteral("EPUB/cover.xhtml")).contains(number));
        const QStringList kept = QDir(QFileInfo(m_history).path()).entryList({QStringLiteral("*.damaged-*")});
        QCOMPARE(kept.size(), 1);
        QCOMPARE(readFile(QFileInfo(m_history).dir().filePath(kept[0])), damaged);
        m_now = m_now.addSecs(60);
        outcome = run({"/damaged"});
        QCOMPARE(outcome.bookNotes, QStringList{QStringLiteral("Nothing new for the e-book.")});
    }
};

PELLAVO_TEST_MAIN(TestEditions)
#include "tst_Editions.moc"
