// Books as a phone's reader gets them: the container, the table of contents that follows the
// subscriptions, chapters for what is no feed, and a book that is replaced whole or not at all.
#include "EpubTestUtil.h"
#include "FeedSamples.h"
#include "FuzzChecks.h"
#include "ebook/EBookWriter.h"
#include "ebook/PictureFreeCopy.h"
#include "testsupport.h"
#include "update/NewsFeedFile.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
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

// What EPUBCheck and mutool, those installed, find wrong with the book; empty when nothing.
QString ReadersProblem(const QString& path) {
    const QString problem = hasEpubCheck() ? epubCheckProblem(path) : QString();
    return problem.isEmpty() && hasMutool() ? mutoolProblem(path) : problem;
}

QString Url(char feed) {
    return QStringLiteral("https://%1.example/feed").arg(QLatin1Char(feed));
}

// What links of the contents, the navigation document and the NCX lead nowhere: each must
// name a document of the book and, with a fragment, an id in it.
QStringList BrokenTargets(const Epub& book) {
    QStringList broken;
    const QRegularExpression link(QStringLiteral("(?:href|src)=\"([^\"#:]+)(?:#([^\"]*))?\""));
    for (const char* name : {"EPUB/nav.xhtml", "EPUB/contents.xhtml", "EPUB/toc.ncx"}) {
        const QString text = QString::fromUtf8(book.files.value(QLatin1String(name)));
        for (auto it = link.globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            const QByteArray target = book.files.value(QStringLiteral("EPUB/") + match.captured(1));
            if (target.isEmpty() || (!match.captured(2).isEmpty() &&
                                     !target.contains("id=\"" + match.captured(2).toUtf8() + '"')))
                broken << match.captured(0);
        }
    }
    return broken;
}

// The documents of the spine, in its order.
QStringList Spine(const Epub& book) {
    const QString opf = QString::fromUtf8(book.files.value(QStringLiteral("EPUB/package.opf")));
    QStringList names;
    for (auto it = QRegularExpression(QStringLiteral("<itemref idref=\"([^\"]+)\"")).globalMatch(opf);
         it.hasNext();)
        names << it.next().captured(1);
    return names;
}

// The NCX's navigation points as "label>target", nested ones indented, and its deepest level.
QStringList NcxPoints(const QByteArray& ncx, int& depth) {
    QXmlStreamReader xml(ncx);
    QStringList points;
    int level = 0;
    depth = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("navPoint")) {
            depth = qMax(depth, ++level);
            points << QString(level - 1, QLatin1Char(' '));
        } else if (xml.isEndElement() && xml.name() == QLatin1String("navPoint")) {
            --level;
        } else if (xml.isStartElement() && xml.name() == QLatin1String("text") && level > 0) {
            points.last() += xml.readElementText();
        } else if (xml.isStartElement() && xml.name() == QLatin1String("content")) {
            points.last() += QLatin1Char('>') + xml.attributes().value(QLatin1String("src")).toString();
        }
    }
    return points;
}

QByteArray Item(const QByteArray& title, const QByteArray& description) {
    return "<item><title>" + title + "</title><description>" + description + "</description></item>";
}

QByteArray Channel(const QByteArray& title, const QByteArray& items) {
    return "<rss version=\"2.0\"><channel><title>" + title + "</title><language>us</language>" + items +
           "</channel></rss>";
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
                  const QHash<QString, QByteArray>* pictures = nullptr, bool grey = false) {
        const QString path = m_dir.filePath(name);
        EBookWriter writer(path, m_runTime, locale);
        writer.SetChannelFile(channel);
        if (pictures)
            writer.EnablePictures(grey);
        for (const auto& [url, document] : records)
            if (!writer.AddRecord(url, NewsFeedFile::CleanFeedDocument(document)))
                return QString();
        if (pictures) {
            for (const QString& address : writer.Pictures()) {
                if (pictures->contains(address))
                    writer.AddPicture(address, pictures->value(address));
            }
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
        QTest::newRow("a feed in two groups stands in the first, in the reading order")
            << Opml("<outline text=\"One\">" + Outline("a", "https://a.example/feed") +
                    "</outline><outline text=\"Two\">" + Outline("a", "https://a.example/feed") +
                    "</outline><outline text=\"Three\">" + Outline("b", "https://b.example/feed") +
                    Outline("a", "https://a.example/feed") + "</outline>")
            << QStringLiteral("ab") << QStringLiteral("One[A] Three[B]");
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

    // Pictures go in in the articles' order until they hold 64 MiB as the book stores them.
    void pictureBudget() {
        const QByteArray large = noisyPhoto(1600, 1200);
        const qint64 stored = PreparePicture(large, false).bytes.size();
        QVERIFY(large.size() <= kMaxPictureBytes && stored > kMaxPictureBytes / 2);
        const int fit = int(kMaxBookPictureBytes / stored);
        QByteArray body;
        QHash<QString, QByteArray> server;
        for (int i = 0; i <= fit + 1; ++i) {
            const QString address = QStringLiteral("https://b.example/%1.jpg").arg(i);
            server.insert(address, i <= fit ? large : tinyPicture("png"));
            body += "&lt;img src=\"" + address.toUtf8() + "\" alt=\"#" + QByteArray::number(i) + "\"&gt;";
        }
        const QString path =
            Write(QStringLiteral("budget.epub"), QByteArray(),
                  {{QStringLiteral("https://b.example/feed"),
                    "<rss><channel><item><description>" + body + "</description></item></channel></rss>"}},
                  QLocale(), &server);
        const Epub book = readEpub(path);
        // The cover, the pictures that fit, and the small one after the first that did not.
        QCOMPARE(book.names.filter(QStringLiteral("EPUB/images/")).size(), 1 + fit + 1);
        QVERIFY(book.files.value(QStringLiteral("EPUB/feed0001.xhtml"))
                    .contains("\"/>#" + QByteArray::number(fit) + "<img"));
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
        // The drawn cover is a picture too; what shows no picture stays as it was.
        QVERIFY(!copy.files.value(QStringLiteral("EPUB/cover.xhtml")).contains("<img"));
        QCOMPARE(copy.files.value(QStringLiteral("EPUB/nav.xhtml")),
                 original.files.value(QStringLiteral("EPUB/nav.xhtml")));
        const QString problem = ReadersProblem(copyPath);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));

        // What is no book gives no copy.
        writeFile(m_dir.filePath(QStringLiteral("not-a-book.epub")), "plain text");
        QVERIFY(!WritePictureFreeCopy(m_dir.filePath(QStringLiteral("not-a-book.epub")), copyPath, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFile::exists(copyPath));
    }

    // The reading order follows the contents; the NCX has the feeds, labelled with their
    // groups, and their articles; what a reader pages through first is short; titles are
    // text; the cover is a picture as well as a page. EPUBCheck takes the book without a word.
    void structure() {
        const QByteArray channel =
            Opml(Outline("X", "https://x.example/feed") + "<outline text=\"Two\">" +
                 Outline("B", "https://b.example/feed") + Outline("C", "https://c.example/feed") +
                 "</outline><outline text=\"One\">" + Outline("A", "https://a.example/feed") +
                 "<outline text=\"Inner\">" + Outline("D", "https://d.example/feed") +
                 "</outline></outline><outline text=\"Again\">" + Outline("B", "https://b.example/feed") +
                 "</outline>");
        const QByteArray marked = Channel("Feed &lt;b&gt;A&lt;/b&gt;",
                                          Item("1 bd 750ft&lt;sup&gt;2&lt;/sup&gt; &amp;amp; more", "x") +
                                              Item("Two", "y") + Item("Three", "z"));
        QList<QPair<QString, QByteArray>> records = {{Url('a'), marked}};
        for (const char c : QByteArray("bcdx"))
            records.append({Url(c), Rss(QByteArray(1, char(c - 32)), "us", 2)});
        const QString path = Write(QStringLiteral("structure.epub"), channel, records);
        const Epub book = readEpub(path);
        QCOMPARE(Contents(book.files.value(QStringLiteral("EPUB/nav.xhtml"))),
                 QStringLiteral("Two[B C] One[Feed A Inner[D]] X"));
        QCOMPARE(Spine(book).join(QLatin1Char(' ')),
                 QStringLiteral("cover contents feed0001 feed0002 feed0003 feed0004 feed0005"));
        int depth = 0;
        QCOMPARE(
            NcxPoints(book.files.value(QStringLiteral("EPUB/toc.ncx")), depth),
            (QStringList{"Two \u2014 B>feed0001.xhtml", " B 1>feed0001.xhtml#a1", " B 2>feed0001.xhtml#a2",
                         "Two \u2014 C>feed0002.xhtml", " C 1>feed0002.xhtml#a1", " C 2>feed0002.xhtml#a2",
                         "One \u2014 Feed A>feed0003.xhtml", " 1 bd 750ft2 & more>feed0003.xhtml#a1",
                         " Two>feed0003.xhtml#a2", " Three>feed0003.xhtml#a3",
                         "One / Inner \u2014 D>feed0004.xhtml", " D 1>feed0004.xhtml#a1",
                         " D 2>feed0004.xhtml#a2", "X>feed0005.xhtml", " X 1>feed0005.xhtml#a1",
                         " X 2>feed0005.xhtml#a2"}));
        QCOMPARE(depth, 2);
        QCOMPARE(BrokenTargets(book), QStringList());

        const QByteArray contents = book.files.value(QStringLiteral("EPUB/contents.xhtml"));
        QVERIFY(!contents.contains("#a"));
        QCOMPARE(contents.count("href=\"feed0001.xhtml\""), 2); // in both its groups
        QVERIFY(contents.contains(">Feed A</a> <span class=\"meta\">3 articles</span>"));
        const QByteArray chapter = book.files.value(QStringLiteral("EPUB/feed0003.xhtml"));
        QVERIFY(chapter.contains("<title>Feed A</title>"));
        QVERIFY(chapter.contains(
            "<ol class=\"articles\">\n<li><a href=\"feed0003.xhtml#a1\">1 bd 750ft2 &amp; more"));
        QVERIFY(chapter.contains("<h2>1 bd 750ft2 &amp; more</h2>"));

        const QByteArray opf = book.files.value(QStringLiteral("EPUB/package.opf"));
        QVERIFY(opf.contains("<meta name=\"cover\" content=\"cover-image\"/>"));
        QVERIFY(opf.contains("<item id=\"cover-image\" href=\"images/cover.jpg\" media-type=\"image/jpeg\" "
                             "properties=\"cover-image\"/>"));
        QVERIFY(opf.contains("<spine toc=\"ncx\">"));
        // "us" is no language: the book takes the locale's.
        QVERIFY(opf.contains("<dc:language>en</dc:language>"));
        QCOMPARE(QImage::fromData(book.files.value(QStringLiteral("EPUB/images/cover.jpg")), "jpeg").size(),
                 QSize(1600, 2560));
        QVERIFY(book.files.value(QStringLiteral("EPUB/cover.xhtml")).contains("<p>Tuesday, 5 March 2024"));
        for (const QString& name : book.names)
            QVERIFY2(QRegularExpression(QStringLiteral("^[A-Za-z0-9/._-]+$")).match(name).hasMatch(),
                     qPrintable(name));

        if (hasEpubCheck()) {
            const QString problem = epubCheckProblem(path);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
    }

    // No document is larger than older reading engines open: a feed of 500 long articles is
    // cut between them, an article larger than that on its own between its blocks, and a
    // paragraph that large in its text; nothing is lost and every link finds its article.
    void documentSize() {
        QByteArray items;
        for (int i = 0; i < 500; ++i)
            items +=
                Item("Article " + QByteArray::number(i),
                     QByteArray("&lt;p&gt;Long words about the town and its river. &lt;/p&gt;").repeated(40));
        QByteArray huge;
        for (int i = 0; i < 2000; ++i)
            huge += "&lt;p&gt;para" + QByteArray::number(i) + " " +
                    QByteArray("the harbour in winter ").repeated(16) + "&lt;/p&gt;";
        const QByteArray paragraph = "&lt;p&gt;start " +
                                     QByteArray("one long paragraph &amp;amp; more ").repeated(20000) +
                                     "end&lt;/p&gt;";
        const QString path =
            Write(QStringLiteral("sizes.epub"), QByteArray(),
                  {{Url('a'), Channel("Many", items)},
                   {Url('b'), Channel("Huge", Item("Huge", huge) + Item("Paragraph", paragraph))}});
        const Epub book = readEpub(path);
        QByteArray text;
        for (const QString& name : Spine(book)) {
            const QByteArray document = book.files.value(QStringLiteral("EPUB/%1.xhtml").arg(name));
            QVERIFY2(document.size() <= kMaxDocumentBytes, qPrintable(name));
            if (!name.startsWith(QLatin1String("feed")))
                continue;
            const QString problem = pellavo::fuzz::XhtmlProblem(document);
            QVERIFY2(problem.isEmpty(), qPrintable(name + QLatin1String(": ") + problem));
            text += document;
        }
        QVERIFY(Spine(book).size() > 10);
        QCOMPARE(text.count("<article id="), 502);
        QCOMPARE(text.count("<p>para"), 2000);
        QCOMPARE(text.count("paragraph"), 20000); // words stay whole
        QVERIFY(text.contains("para1999") && text.contains("more end</p>"));
        QCOMPARE(BrokenTargets(book), QStringList());
    }

    // Short contents of thousands of feeds take as many documents as they need, in the spine
    // after the cover.
    void contentsPages() {
        QList<QPair<QString, QByteArray>> records;
        for (int i = 0; i < 2000; ++i)
            records.append(
                {QStringLiteral("https://f%1.example/feed").arg(i),
                 Channel(QByteArray("A feed with a long name, ").repeated(8) + QByteArray::number(i), "")});
        const Epub book = readEpub(Write(QStringLiteral("contents.epub"), QByteArray(), records));
        const QStringList spine = Spine(book);
        QCOMPARE(spine.mid(0, 4), (QStringList{"cover", "contents", "contents-2", "feed0001"}));
        for (const QString& name : book.names)
            QVERIFY2(book.files.value(name).size() <= kMaxDocumentBytes ||
                         !name.endsWith(QLatin1String(".xhtml")) || name == QLatin1String("EPUB/nav.xhtml"),
                     qPrintable(name));
        QCOMPARE(BrokenTargets(book), QStringList());
    }

    void preparePicture_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("grey");
        QTest::addColumn<int>("format");
        QTest::addColumn<QSize>("size");
        QImage transparent(300, 200, QImage::Format_ARGB32);
        transparent.fill(Qt::transparent);
        QPainter(&transparent).fillRect(150, 0, 150, 200, Qt::red);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        transparent.save(&buffer, "png");
        const QByteArray gif = tinyPicture("gif");
        const qsizetype frame = gif.indexOf("\x21\xf9");
        const QByteArray animated = gif.chopped(1) + gif.mid(frame);
        QByteArray corrupt = tinyPicture("png");
        corrupt.replace(33, corrupt.size() - 33, QByteArray(64, 'x'));
        QByteArray vast = tinyPicture("png");
        vast.replace(16, 8, QByteArray::fromHex("00004e2000004e20"));

        QTest::newRow("a 12-megapixel photo")
            << noisyPhoto(4000, 3000) << false << int(PictureFormat::Jpeg) << QSize(1600, 1200);
        QTest::newRow("transparency onto white")
            << png << false << int(PictureFormat::Png) << QSize(300, 200);
        QTest::newRow("an animation's first frame")
            << animated << false << int(PictureFormat::Png) << QSize(3, 3);
        QTest::newRow("a GIF smaller as it is") << gif << false << int(PictureFormat::Gif) << QSize(3, 3);
        QTest::newRow("WebP") << tinyPicture("webp") << false << int(PictureFormat::Png) << QSize(2, 2);
        QTest::newRow("grey") << noisyPhoto(800, 600) << true << int(PictureFormat::Jpeg) << QSize(800, 600);
        QTest::newRow("never scaled up")
            << tinyPicture("jpg") << false << int(PictureFormat::Png) << QSize(4, 3);
        QTest::newRow("corrupt") << corrupt << false << int(PictureFormat::None) << QSize();
        QTest::newRow("20000 x 20000 pixels") << vast << false << int(PictureFormat::None) << QSize();
    }

    // Every picture is decoded and made for reading devices, or left out.
    void preparePicture() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, grey);
        QFETCH(QSize, size);
        const PreparedPicture prepared = PreparePicture(bytes, grey);
        QTEST(int(prepared.format), "format");
        if (prepared.format == PictureFormat::None)
            return;
        QCOMPARE(RecognisePicture(prepared.bytes), prepared.format);
        const QImage image = QImage::fromData(prepared.bytes);
        QCOMPARE(image.size(), size);
        QVERIFY(!image.hasAlphaChannel());
        if (grey)
            QVERIFY(image.isGrayscale());
        if (QTest::currentDataTag() == QLatin1String("transparency onto white"))
            QCOMPARE(image.pixel(10, 10), qRgb(255, 255, 255));
    }

    // A book of such pictures holds JPEG, PNG and GIF only, the words of what did not decode,
    // and passes EPUBCheck and a second reading engine.
    void pictureBook() {
        QHash<QString, QByteArray> server;
        QByteArray body;
        const QList<QByteArray> pictures = {noisyPhoto(2000, 1500), tinyPicture("webp"), tinyPicture("gif"),
                                            tinyPicture("png", 3), "\x89PNG\r\n\x1a\nbroken"};
        for (int i = 0; i < pictures.size(); ++i) {
            const QString address = QStringLiteral("https://p.example/%1").arg(i);
            server.insert(address, pictures[i]);
            body += "&lt;img src=\"" + address.toUtf8() + "\" alt=\"pic" + QByteArray::number(i) + "\"&gt;";
        }
        const auto write = [&](const QString& name, bool grey) {
            return Write(name, QByteArray(), {{Url('p'), Channel("Pictures", Item("Pictures", body))}},
                         QLocale(QLocale::English, QLocale::UnitedKingdom), &server, grey);
        };
        const QString path = write(QStringLiteral("pictures.epub"), false);
        const Epub book = readEpub(path);
        QCOMPARE(book.names.filter(QStringLiteral("EPUB/images/")),
                 (QStringList{"EPUB/images/cover.jpg", "EPUB/images/img0001.jpg", "EPUB/images/img0002.png",
                              "EPUB/images/img0003.gif", "EPUB/images/img0004.png"}));
        QVERIFY(book.files.value(QStringLiteral("EPUB/feed0001.xhtml")).contains("/>pic4</div>"));
        // In shades of grey the photograph is, and takes less room.
        const QByteArray colour = book.files.value(QStringLiteral("EPUB/images/img0001.jpg"));
        const QByteArray grey = readEpub(write(QStringLiteral("grey.epub"), true))
                                    .files.value(QStringLiteral("EPUB/images/img0001.jpg"));
        QVERIFY(QImage::fromData(grey).isGrayscale());
        QVERIFY(grey.size() < colour.size());
        const QString problem = ReadersProblem(path);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
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
