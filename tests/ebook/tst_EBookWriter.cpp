// Books as a phone's reader gets them: the container, the table of contents that follows the
// subscriptions, chapters for what is no feed, and a book that is replaced whole or not at all.
#include "EpubTestUtil.h"
#include "FeedSamples.h"
#include "FuzzChecks.h"
#include "ebook/EBookWriter.h"
#include "ebook/PictureFreeCopy.h"
#include "testsupport.h"
#include "update/NewsFeedFile.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <zip.h>

using namespace ebook;
using namespace pellavo::test;

namespace {

// The table of contents in short: "Group[Feed Feed] Feed", one word per entry.
QString Contents(const QByteArray& nav) {
    QXmlStreamReader xml(nav);
    QStringList words;
    bool inToc = false;
    int depth = 0;
    std::vector<bool> groups; // per open list item: whether it is a group
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("nav"))
            inToc = xml.attributes().value(QLatin1String("epub:type")) == QLatin1String("toc");
        if (!inToc)
            continue;
        if (xml.isStartElement() && xml.name() == QLatin1String("li")) {
            ++depth;
            groups.push_back(false);
        } else if (xml.isStartElement() && xml.name() == QLatin1String("span")) {
            words << xml.readElementText() + QLatin1Char('[');
            groups.back() = true;
        } else if (xml.isStartElement() && xml.name() == QLatin1String("a")) {
            const QString href = xml.attributes().value(QLatin1String("href")).toString();
            const QString title = xml.readElementText();
            if (!href.contains(QLatin1Char('#')))
                words << title;
        } else if (xml.isEndElement() && xml.name() == QLatin1String("li")) {
            if (groups.back())
                words << QStringLiteral("]");
            groups.pop_back();
            --depth;
        } else if (xml.isEndElement() && xml.name() == QLatin1String("nav")) {
            inToc = false;
        }
    }
    return words.join(QLatin1Char(' '))
        .replace(QLatin1String("[ "), QLatin1String("["))
        .replace(QLatin1String(" ]"), QLatin1String("]"));
}

QByteArray Rss(const QByteArray& title, const QByteArray& language = "en", int items = 1) {
    QByteArray document = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + title +
                          "</title><language>" + language + "</language>";
    for (int i = 1; i <= items; ++i)
        document += "<item><title>" + title + " " + QByteArray::number(i) + "</title></item>";
    return document + "</channel></rss>";
}

QByteArray Opml(const QByteArray& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml "
           "version=\"1.0\"><head><title>s</title></head><body>" +
           body + "</body></opml>\n";
}

QByteArray Outline(const char* title, const char* url) {
    return "<outline text=\"" + QByteArray(title) + "\" type=\"rss\" xmlUrl=\"" + QByteArray(url) + "\"/>";
}

QString Url(char feed) {
    return QStringLiteral("https://%1.example/feed").arg(QLatin1Char(feed));
}

} // namespace

class TestEBookWriter : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    const QDateTime m_runTime = QDateTime(QDate(2024, 3, 5), QTime(7, 30), QTimeZone::utc());

    // With `pictures` (address: bytes), the pictures the book asks for are fetched from
    // there; an address it lacks failed.
    QString Write(const QString& name, const QByteArray& channel,
                  const QList<QPair<QString, QByteArray>>& records,
                  const QLocale& locale = QLocale(QLocale::English, QLocale::UnitedKingdom),
                  const QHash<QString, QByteArray>* pictures = nullptr) {
        const QString path = m_dir.filePath(name);
        EBookWriter writer(path, m_runTime, locale);
        writer.SetChannelFile(channel);
        if (pictures)
            writer.EnablePictures();
        for (const auto& [url, document] : records)
            if (!writer.AddRecord(url, NewsFeedFile::CleanFeedDocument(document)))
                return QString();
        if (pictures) {
            QHash<QString, QString> files;
            for (const QString& address : writer.Pictures()) {
                if (pictures->contains(address))
                    files.insert(address,
                                 writeFile(m_dir.filePath(QStringLiteral("picture%1").arg(files.size())),
                                           pictures->value(address)));
            }
            writer.SetPictureFiles(files);
        }
        return writer.Finish() ? path : QString();
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void contents_data() {
        QTest::addColumn<QByteArray>("channel");
        QTest::addColumn<QString>("records"); // letters of the feeds, in the file's order
        QTest::addColumn<QString>("contents");
        const QByteArray tree = Opml("<outline text=\"News\"><outline title=\"World\" text=\"W\">" +
                                     Outline("a", "https://a.example/feed") +
                                     "</outline><outline text=\"Empty\"/><outline text=\"Failed\">" +
                                     Outline("f", "https://f.example/feed") + "</outline></outline>" +
                                     Outline("b", "https://b.example/feed"));
        QTest::newRow("groups nest, empty and failed ones go, ungrouped feeds follow")
            << tree << QStringLiteral("abx") << QStringLiteral("News[World[A]] B X");
        QTest::newRow("no channel block: a flat list")
            << QByteArray() << QStringLiteral("ab") << QStringLiteral("A B");
        QTest::newRow("a channel block that is no OPML")
            << QByteArray("not <xml") << QStringLiteral("ab") << QStringLiteral("A B");
        QTest::newRow("the tree's order, not the file's")
            << Opml("<outline text=\"One\">" + Outline("b", "https://b.example/feed") +
                    "</outline><outline text=\"Two\">" + Outline("a", "https://a.example/feed") +
                    "</outline>")
            << QStringLiteral("ab") << QStringLiteral("One[B] Two[A]");
        QTest::newRow("a feed in two groups stands in both")
            << Opml("<outline text=\"One\">" + Outline("a", "https://a.example/feed") +
                    "</outline><outline text=\"Two\">" + Outline("a", "https://a.example/feed") +
                    "</outline>")
            << QStringLiteral("a") << QStringLiteral("One[A] Two[A]");
        QTest::newRow("deep groups") << Opml(QByteArray("<outline text=\"g\">").repeated(40) +
                                             Outline("a", "https://a.example/feed") +
                                             QByteArray("</outline>").repeated(40))
                                     << QStringLiteral("a")
                                     << QStringLiteral("g[").repeated(40) + QStringLiteral("A") +
                                            QStringLiteral("]").repeated(40);
        QTest::newRow("no records") << tree << QString()
                                    << QStringLiteral("Pellavo News \u2013 Tuesday 5 March 2024");
    }

    void contents() {
        QFETCH(QByteArray, channel);
        QFETCH(QString, records);
        QList<QPair<QString, QByteArray>> list;
        for (const QChar c : records)
            list.append({Url(c.toLatin1()), Rss(QByteArray(1, char(c.toUpper().toLatin1())))});
        const QString path = Write(QStringLiteral("contents.epub"), channel, list);
        QVERIFY(!path.isEmpty());
        const Epub book = readEpub(path);
        QTEST(
            Contents(book.files.value(QStringLiteral("EPUB/nav.xhtml"))).replace(QLatin1Char(','), QString()),
            "contents");
    }

    // What a chapter is titled when the document has no title, and what one that is no feed says.
    void chapters() {
        const QByteArray channel = Opml(Outline("Subscribed", "https://s.example/feed"));
        const QString path =
            Write(QStringLiteral("chapters.epub"), channel,
                  {{QStringLiteral("https://s.example/feed"),
                    "<rss><channel><item><title>i</title></item></channel></rss>"},
                   {QStringLiteral("https://s.example/feed"), "<html><body>Gone</body></html>"},
                   {QStringLiteral("https://n.example/feed"), QByteArray()}});
        QVERIFY(!path.isEmpty());
        const Epub book = readEpub(path);
        QCOMPARE(Contents(book.files.value(QStringLiteral("EPUB/nav.xhtml"))),
                 QStringLiteral("Subscribed Subscribed https://n.example/feed"));
        const QByteArray notFeed = book.files.value(QStringLiteral("EPUB/feed0003.xhtml"));
        QVERIFY(notFeed.contains("The document from https://n.example/feed could not be read as a feed."));
        for (const QString& name : book.names) {
            if (name.startsWith(QLatin1String("EPUB/feed"))) {
                const QString problem = pellavo::fuzz::XhtmlProblem(book.files.value(name));
                QVERIFY2(problem.isEmpty(), qPrintable(name + QLatin1String(": ") + problem));
            }
        }
    }

    void package() {
        const QString path =
            Write(QStringLiteral("package.epub"), QByteArray(),
                  {{Url('a'), Rss("A", "de-DE")}, {Url('b'), Rss("B", "en")}, {Url('c'), Rss("C", "de_at")}},
                  QLocale(QLocale::German, QLocale::Germany));
        const Epub book = readEpub(path);
        QCOMPARE(book.names.value(0), QStringLiteral("mimetype"));
        QCOMPARE(book.files.value(QStringLiteral("mimetype")), QByteArray("application/epub+zip"));
        QCOMPARE(book.firstMethod, ZIP_CM_STORE);
        QCOMPARE(book.firstExtraFields, 0);
        const QByteArray opf = book.files.value(QStringLiteral("EPUB/package.opf"));
        QVERIFY(opf.contains("<dc:language>de</dc:language>"));
        QVERIFY(opf.contains("<meta property=\"dcterms:modified\">2024-03-05T07:30:00Z</meta>"));
        QVERIFY(QRegularExpression(QStringLiteral("urn:uuid:[0-9a-f-]{36}<"))
                    .match(QString::fromUtf8(opf))
                    .hasMatch());
        const QString date = QLocale(QLocale::German, QLocale::Germany)
                                 .toString(m_runTime.toLocalTime().date(), QLocale::LongFormat);
        QVERIFY(QString::fromUtf8(opf).contains(QStringLiteral("<dc:title>Pellavo News \u2013 ") + date));
        QVERIFY(
            book.files.value(QStringLiteral("EPUB/feed0002.xhtml")).contains("xml:lang=\"en\" lang=\"en\""));
        QVERIFY(book.files.value(QStringLiteral("EPUB/cover.xhtml")).contains("3 feeds \xC2\xB7 3 articles"));

        const QString plain =
            Write(QStringLiteral("plain.epub"), QByteArray(), {{Url('a'), "<rss><channel/></rss>"}});
        QVERIFY(readEpub(plain)
                    .files.value(QStringLiteral("EPUB/package.opf"))
                    .contains("<dc:language>en</dc:language>"));
    }

    // A book that cannot be written leaves the earlier one as it was, and nothing beside it.
    void wholeOrNothing() {
        const QString path = Write(QStringLiteral("news.epub"), QByteArray(), {{Url('a'), Rss("A")}});
        QVERIFY(!path.isEmpty());
        const QByteArray before = readFile(path);
        const QStringList folder = QDir(m_dir.path()).entryList(QDir::Files);
        const QStringList temporary = QDir::temp().entryList(QDir::Files);

        {
            EBookWriter abandoned(path, m_runTime);
            QVERIFY(abandoned.AddRecord(Url('b'), Rss("B")));
        }
        QCOMPARE(readFile(path), before);

        // The folder of the book cannot be written: libzip cannot make its file beside it.
        const QString blocked = m_dir.filePath(QStringLiteral("blocked"));
        writeFile(blocked, "a file, not a folder");
        EBookWriter failing(blocked + QStringLiteral("/news.epub"), m_runTime);
        QVERIFY(failing.AddRecord(Url('b'), Rss("B")));
        QVERIFY(!failing.Finish());
        QVERIFY2(failing.ErrorString().contains(blocked), qPrintable(failing.ErrorString()));
        QVERIFY(!failing.Finish());
        QFile::remove(blocked);

        QCOMPARE(readFile(path), before);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), folder);
        QCOMPARE(QDir::temp().entryList(QDir::Files), temporary);

        // Replaced by a whole new book, with the permissions files get here.
        QVERIFY(!Write(QStringLiteral("news.epub"), QByteArray(), {{Url('c'), Rss("C")}}).isEmpty());
        QVERIFY(readEpub(path).files.value(QStringLiteral("EPUB/feed0001.xhtml")).contains("<h1>C</h1>"));
        QVERIFY(QFileInfo(path).permissions() & QFileDevice::ReadOther);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), folder);
    }

    // What a reading system could not decode is no picture, whatever it begins with.
    void recognise_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("format");
        const QByteArray jpeg = tinyPicture("jpg"), png = tinyPicture("png"), gif = tinyPicture("gif"),
                         webp = tinyPicture("webp");
        QTest::newRow("JPEG") << jpeg << int(PictureFormat::Jpeg);
        QTest::newRow("PNG") << png << int(PictureFormat::Png);
        QTest::newRow("GIF") << gif << int(PictureFormat::Gif);
        QTest::newRow("WebP") << webp << int(PictureFormat::WebP);
        QTest::newRow("JPEG cut before its scan") << jpeg.left(jpeg.indexOf("\xFF\xDA") + 3) << 0;
        QTest::newRow("PNG of a depth its colours cannot have") << png.left(24) + "\x03" + png.mid(25) << 0;
        QTest::newRow("GIF cut in its first image") << gif.left(gif.indexOf(',') + 6) << 0;
        QTest::newRow("WebP shorter than it says") << webp.chopped(2) << 0;
        QTest::newRow("SVG") << QByteArray(
                                    "<?xml version=\"1.0\"?><svg xmlns=\"http://www.w3.org/2000/svg\"/>")
                             << 0;
        QTest::newRow("nothing") << QByteArray() << 0;
    }

    void recognise() {
        QFETCH(QByteArray, bytes);
        QTEST(int(RecognisePicture(bytes)), "format");
    }

    // Pictures go in in the articles' order until they hold 64 MiB.
    void pictureBudget() {
        QByteArray large = tinyPicture("png");
        large.append(kMaxPictureBytes - large.size(), '\0');
        QByteArray body;
        QHash<QString, QByteArray> server;
        const int count = int(kMaxBookPictureBytes / kMaxPictureBytes) + 1;
        for (int i = 0; i < count; ++i) {
            const QString address = QStringLiteral("https://b.example/%1.png").arg(i);
            server.insert(address, i + 1 < count ? large : tinyPicture("png"));
            body += "&lt;img src=\"" + address.toUtf8() + "\" alt=\"#" + QByteArray::number(i) + "\"&gt;";
        }
        const QString path =
            Write(QStringLiteral("budget.epub"), QByteArray(),
                  {{QStringLiteral("https://b.example/feed"),
                    "<rss><channel><item><description>" + body + "</description></item></channel></rss>"}},
                  QLocale(), &server);
        const Epub book = readEpub(path);
        QCOMPARE(book.names.filter(QStringLiteral("EPUB/images/")).size(), count - 1);
        QVERIFY(book.files.value(QStringLiteral("EPUB/feed0001.xhtml"))
                    .endsWith("alt=\"#" + QByteArray::number(count - 2) + "\"/>#" +
                              QByteArray::number(count - 1) + "</div>\n</article>\n</body>\n</html>\n"));
        QFile::remove(path);
    }

    // A book too big to mail goes as a copy of itself without pictures: each picture becomes
    // its alternative text, and the copy is a book that both reading engines open.
    void pictureFreeCopy() {
        const QHash<QString, QByteArray> server{
            {QStringLiteral("https://p.example/a.jpg"), tinyPicture("jpg")},
            {QStringLiteral("https://p.example/b.webp"), tinyPicture("webp")},
            {QStringLiteral("https://p.example/c.png"), tinyPicture("png", 1)}};
        const QByteArray body =
            "&lt;p&gt;Before &lt;img src=\"https://p.example/a.jpg\" alt=\"Tom &amp;amp;  Jerry "
            "&amp;lt;3\"&gt; "
            "after&lt;/p&gt;&lt;p&gt;&lt;a href=\"https://p.example/\"&gt;&lt;img "
            "src=\"https://p.example/b.webp\" "
            "alt=\"linked\"&gt;&lt;/a&gt;&lt;/p&gt;&lt;figure&gt;&lt;img src=\"https://p.example/c.png\"&gt;"
            "&lt;figcaption&gt;Caption&lt;/figcaption&gt;&lt;/figure&gt;";
        const QString path =
            Write(QStringLiteral("pictures.epub"), QByteArray(),
                  {{QStringLiteral("https://p.example/feed"),
                    "<rss><channel><title>P</title><item><title>Pictured</title><description>" + body +
                        "</description></item></channel></rss>"}},
                  QLocale(), &server);
        QVERIFY(!path.isEmpty());
        const QString copyPath = m_dir.filePath(QStringLiteral("pictures-copy.epub"));
        QString error;
        QVERIFY2(WritePictureFreeCopy(path, copyPath, &error), qPrintable(error));

        const Epub original = readEpub(path), copy = readEpub(copyPath);
        QVERIFY(original.names.filter(QStringLiteral("EPUB/images/")).size() >= 3);
        QStringList expected = original.names;
        expected.removeIf([](const QString& name) { return name.startsWith(QLatin1String("EPUB/images/")); });
        QCOMPARE(copy.names, expected);
        QCOMPARE(copy.firstMethod, int(ZIP_CM_STORE));
        const QByteArray chapter = copy.files.value(QStringLiteral("EPUB/feed0001.xhtml"));
        QVERIFY2(!chapter.contains("<img") && chapter.contains("Before Tom &amp; Jerry &lt;3 after") &&
                     chapter.contains(">linked</a>") && chapter.contains("<figcaption>Caption</figcaption>"),
                 chapter.constData());
        QVERIFY(!copy.files.value(QStringLiteral("EPUB/package.opf")).contains("image/"));
        for (const QString& name : {QStringLiteral("EPUB/nav.xhtml"), QStringLiteral("EPUB/cover.xhtml")})
            QCOMPARE(copy.files.value(name), original.files.value(name));
        if (hasEpubCheck()) {
            const QString problem = epubCheckProblem(copyPath);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
        QProcess mutool;
        mutool.start(QStringLiteral("mutool"),
                     {QStringLiteral("draw"), QStringLiteral("-F"), QStringLiteral("png"),
                      QStringLiteral("-o"), m_dir.filePath(QStringLiteral("copy%d.png")), copyPath});
        if (mutool.waitForStarted()) {
            QVERIFY(mutool.waitForFinished(60000));
            const QByteArray said = mutool.readAllStandardError();
            QVERIFY2(mutool.exitCode() == 0 && !said.contains("error"), said.constData());
        }

        // What is no book gives no copy.
        writeFile(m_dir.filePath(QStringLiteral("not-a-book.epub")), "plain text");
        QVERIFY(!WritePictureFreeCopy(m_dir.filePath(QStringLiteral("not-a-book.epub")), copyPath, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFile::exists(copyPath));
    }

    // One EPUBCheck run per book, over books with every sample feed, hostile HTML, what is
    // no feed, nested groups, and no records at all.
    void epubCheck() {
        if (!hasEpubCheck())
            QSKIP("EPUBCheck (java, /usr/share/java/epubcheck.jar) is not installed");
        const char* const kSamples[] = {samples::kWordPress, samples::kBlogger,   samples::kPodcast,
                                        samples::kRdf,       samples::kRss091,    samples::kAtom03,
                                        samples::kNewsSite,  samples::kUndeclared};
        QList<QPair<QString, QByteArray>> records;
        QByteArray outlines;
        int n = 0;
        for (const char* sample : kSamples) {
            const QString url = QStringLiteral("https://s%1.example/feed").arg(++n);
            records.append({url, QByteArray(sample)});
            outlines += "<outline text=\"G" + QByteArray::number(n % 3) + "\">" +
                        Outline("s", url.toUtf8().constData()) + "</outline>";
        }
        records.append({QStringLiteral("https://hostile.example/feed"), samples::HostileFeed()});
        records.append(
            {QStringLiteral("https://html.example/"), "<!DOCTYPE html><html><body>Not a feed</body></html>"});
        records.append({QStringLiteral("https://empty.example/"), QByteArray()});
        const QStringList books = {
            Write(QStringLiteral("check-all.epub"), Opml("<outline text=\"Top\">" + outlines + "</outline>"),
                  records),
            Write(QStringLiteral("check-flat.epub"), QByteArray(), records.mid(0, 2)),
            Write(QStringLiteral("check-empty.epub"), Opml(outlines), {}),
        };
        for (const QString& book : books) {
            QVERIFY(!book.isEmpty());
            const QString problem = epubCheckProblem(book);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
    }
};

PELLAVO_TEST_MAIN(TestEBookWriter)
#include "tst_EBookWriter.moc"
