#include "testsupport.h"
#include "update/EBookEdition.h"
#include "update/NewsFeedFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run nff(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(PELLAVO_NFF), arguments);
    Run run;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

} // namespace

class TestNffTool : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_file;
    QByteArray m_bytes;
    const QByteArray m_channel =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head/><body>"
        "<outline text=\"News\"><outline text=\"A\" xmlUrl=\"https://a.example/rss\"/>"
        "<outline text=\"B\" xmlUrl=\"feed://b.example/atom\"/></outline></body></opml>\n";
    const QByteArray m_atom =
        "<?xml version=\"1.0\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\">"
        "<title type=\"text\">Caf\xC3\xA9 &amp; News</title><entry><title>E</title></entry></feed>";

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_file = m_dir.filePath(QStringLiteral("news.nff"));
        QFile file(m_file);
        QVERIFY(file.open(QIODevice::WriteOnly));
        NewsFeedWriter writer(file);
        QVERIFY(writer.WriteHeader(true, m_channel));
        QVERIFY(
            writer.AppendRecord(QStringLiteral("https://a.example/rss"),
                                NewsFeedFile::CleanFeedDocument(
                                    "<?xml version=\"1.0\"?>\n<!DOCTYPE rss>\n<rss version=\"2.0\"><channel>"
                                    "<title><![CDATA[Alpha\n  Feed]]></title></channel></rss>")));
        QVERIFY(writer.AppendRecord(QString::fromUtf8("feed://b.example/\xC3\xA4tom"),
                                    NewsFeedFile::CleanFeedDocument(m_atom)));
        QVERIFY(writer.AppendRecord(QStringLiteral("http://c.example/"), "not xml at all"));
        file.close();
        QFile written(m_file);
        QVERIFY(written.open(QIODevice::ReadOnly));
        m_bytes = written.readAll();
    }

    void list() {
        const Run run = nff({m_file});
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = QString::fromUtf8(run.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines[0], m_file + QStringLiteral(": news feed file, signature 87561"));
        QCOMPARE(lines[1], QStringLiteral("synchronize flag: 1"));
        QCOMPARE(lines[2], QStringLiteral("channel block: %1 bytes, 3 outlines").arg(m_channel.size()));
        QVERIFY(lines[3].startsWith(QStringLiteral("1\thttps://a.example/rss\t")));
        QVERIFY(lines[3].endsWith(QStringLiteral(" bytes\t\"Alpha Feed\"")));
        const QByteArray atom = NewsFeedFile::CleanFeedDocument(m_atom);
        QCOMPARE(lines[4],
                 QString::fromUtf8("2\tfeed://b.example/\xC3\xA4tom\t%1 bytes\t\"Caf\xC3\xA9 & News\"")
                     .arg(atom.size()));
        QCOMPARE(lines[5], QStringLiteral("3\thttp://c.example/\t14 bytes"));
        QCOMPARE(lines[6], QStringLiteral("3 records"));
    }

    void extract() {
        const Run channel = nff({QStringLiteral("--channel"), m_file});
        QCOMPARE(channel.exitCode, 0);
        QCOMPARE(channel.out, m_channel);
        const Run record = nff({QStringLiteral("--record"), QStringLiteral("2"), m_file});
        QCOMPARE(record.exitCode, 0);
        QCOMPARE(record.out, NewsFeedFile::CleanFeedDocument(m_atom));
        const Run missing = nff({QStringLiteral("--record"), QStringLiteral("4"), m_file});
        QCOMPARE(missing.exitCode, 1);
        QVERIFY(missing.err.contains("no record 4"));
    }

    void truncated() {
        const QString cut = m_dir.filePath(QStringLiteral("cut.nff"));
        QFile file(cut);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(m_bytes.left(m_bytes.size() - 3));
        file.close();
        const Run run = nff({cut});
        QCOMPARE(run.exitCode, 1);
        // The third record's 14 content bytes are the last of the file.
        QVERIFY2(run.err.contains("offset " + QByteArray::number(m_bytes.size() - 14) +
                                  ": expected the record's content (14 bytes)"),
                 run.err.constData());
        QVERIFY(run.out.contains("2\tfeed://"));
    }

    void usage_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("nothing") << QStringList() << 2;
        QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0;
        QTest::newRow("unknown option")
            << QStringList{QStringLiteral("--frobnicate"), QStringLiteral("x")} << 2;
        QTest::newRow("record without number")
            << QStringList{QStringLiteral("--record"), QStringLiteral("x.nff")} << 2;
        QTest::newRow("record zero") << QStringList{QStringLiteral("--record"), QStringLiteral("0"),
                                                    QStringLiteral("x.nff")}
                                     << 2;
        QTest::newRow("two files") << QStringList{QStringLiteral("a.nff"), QStringLiteral("b.nff")} << 2;
        QTest::newRow("no such file") << QStringList{QStringLiteral("/nonexistent/news.nff")} << 1;
        QTest::newRow("epub without a file")
            << QStringList{QStringLiteral("--epub"), QStringLiteral("x.epub")} << 2;
        QTest::newRow("epub over its own news feed file")
            << QStringList{QStringLiteral("--epub"), QStringLiteral("news.nff"), QStringLiteral("./news.nff")}
            << 2;
        QTest::newRow("epub of no such file")
            << QStringList{QStringLiteral("--epub"), QStringLiteral("x.epub"),
                           QStringLiteral("/nonexistent/n.nff")}
            << 1;
    }

    void usage() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        const Run run = nff(arguments);
        QCOMPARE(run.exitCode, exitCode);
        if (exitCode == 0)
            QVERIFY(run.out.contains("Usage: pellavo-nff FILE") && run.out.contains("--epub BOOK FILE"));
        else
            QVERIFY(!run.err.isEmpty());
    }

    void epub() {
        const QString book = m_dir.filePath(QStringLiteral("news.epub"));
        const Run run = nff({QStringLiteral("--epub"), book, m_file});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.isEmpty(), run.err.constData());
        QVERIFY2(run.out.isEmpty(), run.out.constData()); // the channel block is read without a trace
        const QByteArray bytes = pellavo::test::readFile(book);
        QCOMPARE(bytes.mid(30, 28), QByteArray("mimetypeapplication/epub+zip"));
        QVERIFY(bytes.contains("EPUB/feed0003.xhtml") && !bytes.contains("EPUB/feed0004.xhtml"));

        // A damaged file: the reason and the offset, and the book stays as it was.
        const QString cut =
            pellavo::test::writeFile(m_dir.filePath(QStringLiteral("cut.nff")), m_bytes.chopped(3));
        const QStringList before = QDir(m_dir.path()).entryList(QDir::Files);
        for (const QString& target : {book, m_dir.filePath(QStringLiteral("new.epub"))}) {
            const Run failed = nff({QStringLiteral("--epub"), target, cut});
            QCOMPARE(failed.exitCode, 1);
            QVERIFY2(failed.err.contains("malformed news feed file: offset " +
                                         QByteArray::number(m_bytes.size() - 14) +
                                         ": expected the record's content (14 bytes)"),
                     failed.err.constData());
            QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), before);
        }
        QCOMPARE(pellavo::test::readFile(book), bytes);
    }

    void ebookPath_data() {
        QTest::addColumn<QString>("newsFeedFile");
        QTest::addColumn<QString>("book");
        QTest::newRow("suffix replaced") << "/home/u/Documents/news.nff"
                                         << "/home/u/Documents/news.epub";
        QTest::newRow("only the last suffix") << "/srv/a.b/news.d.nff"
                                              << "/srv/a.b/news.d.epub";
        QTest::newRow("no suffix") << "/srv/a.b/news"
                                   << "/srv/a.b/news.epub";
        QTest::newRow("hidden name") << "/srv/.news"
                                     << "/srv/.news.epub";
        QTest::newRow("never the file itself") << "news.epub"
                                               << "news.epub.epub";
    }

    void ebookPath() {
        QFETCH(QString, newsFeedFile);
        QTEST(EBookPathFor(newsFeedFile), "book");
    }

    void noChannel() {
        const QString path = m_dir.filePath(QStringLiteral("plain.nff"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        NewsFeedWriter writer(file);
        QVERIFY(writer.WriteHeader(false, m_channel));
        file.close();
        const Run list = nff({path});
        QCOMPARE(list.exitCode, 0);
        QVERIFY(list.out.contains("channel block: none\n0 records\n"));
        QCOMPARE(nff({QStringLiteral("--channel"), path}).exitCode, 1);
    }
};

PELLAVO_TEST_MAIN(TestNffTool)
#include "tst_NffTool.moc"
