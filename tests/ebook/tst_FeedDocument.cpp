// Feed documents as publishers write them, read the way the news feed file stores them.
#include "FeedSamples.h"
#include "base/FeedAddress.h"
#include "ebook/Chapter.h"
#include "ebook/FeedDates.h"
#include "ebook/FeedDocument.h"
#include "testsupport.h"
#include "update/NewsFeedFile.h"

#include <QStringEncoder>

using namespace ebook;
using namespace samples;

namespace {

Feed Read(const QByteArray& document, const char* address = "https://example.com/feed") {
    return ReadFeedDocument(NewsFeedFile::CleanFeedDocument(document),
                            FeedAddress::DocumentUrl(QString::fromUtf8(address)));
}

QByteArray Encoded(const char* encoding, const QString& text) {
    QStringEncoder encoder(encoding);
    return encoder(text);
}

QByteArray Rss(const char* items, const char* declaration = "<?xml version=\"1.0\"?>") {
    return QByteArray(declaration) + "<rss version=\"2.0\"><channel><title>News</title>" + items +
           "</channel></rss>";
}

} // namespace

class TestFeedDocument : public QObject {
    Q_OBJECT

private slots:
    void formats_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("feedTitle");
        QTest::addColumn<QByteArray>("language");
        QTest::addColumn<int>("articles");
        QTest::addColumn<QByteArray>("title");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QByteArray>("author");
        QTest::addColumn<QString>("date"); // ISO 8601, UTC
        QTest::addColumn<QByteArray>("bodyText");

        QTest::newRow("WordPress RSS 2.0")
            << QByteArray(kWordPress) << int(FeedFormat::Rss) << QByteArray("Kitchen & Garden")
            << QByteArray("en-US") << 1 << QByteArray("Tomatoes \xE2\x80\x93 the early ones")
            << "https://blog.example/2024/03/04/tomatoes/" << QByteArray("Ann Gardener")
            << "2024-03-04T18:22:11Z" << QByteArray("Sow now, see our seeds.");
        QTest::newRow("Blogger Atom 1.0")
            << QByteArray(kBlogger) << int(FeedFormat::Atom10) << QByteArray("Rail & Sail") << QByteArray()
            << 1 << QByteArray("Night train") << "https://rail.example/2024/03/night.html" << QByteArray("Bo")
            << "2024-03-05T07:30:00Z" << QByteArray("Sleeper cabins & more");
        QTest::newRow("podcast host")
            << QByteArray(kPodcast) << int(FeedFormat::Rss) << QByteArray("The Long Walk") << QByteArray("fr")
            << 1 << QByteArray("Episode 12: Fog") << "https://walk.example/episodes/12"
            << QByteArray("Cat Walker") << "2024-03-05T14:00:00Z" << QByteArray("Show noteswith links");
        QTest::newRow("RSS 1.0 in ISO-8859-1 with windows-1252 quotes")
            << QByteArray(kRdf) << int(FeedFormat::Rdf) << QByteArray("Slash") << QByteArray("en-us") << 1
            << QByteArray("Caf\xC3\xA9 opens") << "https://slash.example/1" << QByteArray("timothy")
            << "2024-03-05T12:00:00Z"
            << QByteArray("It has \xE2\x80\x9C"
                          "coffee\xE2\x80\x9D.");
        QTest::newRow("RSS 0.91 with the entities of its lost DTD")
            << QByteArray(kRss091) << int(FeedFormat::Rss)
            << QByteArray("Old \xC3\xA9"
                          "cole")
            << QByteArray("fr-fr") << 1 << QByteArray("Un & deux") << "http://old.example/1.html?a=1&b=2"
            << QByteArray() << QString() << QByteArray("Caf\xC3\xA9 \xC2\xA9");
        QTest::newRow("Atom 0.3") << QByteArray(kAtom03) << int(FeedFormat::Atom03) << QByteArray("Oud")
                                  << QByteArray("nl") << 2 << QByteArray("Eerste & laatste")
                                  << "http://oud.example/1" << QByteArray("Piet") << "2004-03-05T09:00:00Z"
                                  << QByteArray("Lang meer");
        QTest::newRow("news site with FeedBurner, escaped twice")
            << QByteArray(kNewsSite) << int(FeedFormat::Rss) << QByteArray("Daily") << QByteArray() << 1
            << QByteArray("Election night") << "https://daily.example/politics/election"
            << QByteArray("Desk A, Desk B") << "2024-03-06T03:00:00Z" << QByteArray("Polls close at eight");
        QTest::newRow("undeclared prefixes")
            << QByteArray(kUndeclared) << int(FeedFormat::Rss) << QByteArray("Loose") << QByteArray() << 1
            << QByteArray("T") << "https://loose.example/t" << QByteArray() << "2024-03-05T00:00:00Z"
            << QByteArray("Body");
    }

    void formats() {
        QFETCH(QByteArray, document);
        QFETCH(int, format);
        QFETCH(int, articles);
        const Feed feed = Read(document);
        QCOMPARE(int(feed.format), format);
        QVERIFY(feed.complete);
        QTEST(PlainText(feed.title), "feedTitle");
        QTEST(feed.language, "language");
        QCOMPARE(int(feed.articles.size()), articles);
        const Article& article = feed.articles.front();
        QTEST(PlainText(article.title), "title");
        QTEST(article.link.toString(), "link");
        QTEST(article.author, "author");
        QTEST(ParseFeedDate(article.date).toString(Qt::ISODate), "date");
        QTEST(PlainText(article.body), "bodyText");
    }

    // An item's own picture: an image enclosure, else a media:content of an image type,
    // else a media:thumbnail; resolved like its links.
    void pictures_data() {
        QTest::addColumn<QByteArray>("item");
        QTest::addColumn<QString>("picture");
        const QString lead = QStringLiteral("https://p.example/lead.jpg");
        QTest::newRow("image enclosure")
            << QByteArray("<enclosure url=\"https://p.example/lead.jpg\" type=\"image/jpeg\" length=\"9\"/>")
            << lead;
        QTest::newRow("audio enclosure")
            << QByteArray("<enclosure url=\"https://p.example/a.mp3\" type=\"audio/mpeg\"/>") << QString();
        QTest::newRow("media:content of the image kind, relative")
            << QByteArray("<media:content url=\"lead.jpg\" medium=\"image\"/>") << lead;
        QTest::newRow("a video's thumbnail in a group")
            << QByteArray(
                   "<media:group><media:content url=\"https://p.example/v.mp4\" type=\"video/mp4\">"
                   "<media:thumbnail url=\"https://p.example/lead.jpg\"/></media:content></media:group>")
            << lead;
        QTest::newRow("the enclosure before the thumbnail")
            << QByteArray("<media:thumbnail url=\"https://p.example/small.jpg\"/>"
                          "<enclosure url=\"https://p.example/lead.jpg\" type=\"image/jpeg\"/>")
            << lead;
        QTest::newRow("no web address")
            << QByteArray("<enclosure url=\"file:///etc/passwd\" type=\"image/png\"/>") << QString();
    }

    void pictures() {
        QFETCH(QByteArray, item);
        const Feed feed = Read("<rss version=\"2.0\" xmlns:media=\"http://search.yahoo.com/mrss/\"><channel>"
                               "<item xml:base=\"https://p.example/\">"
                               "<title>t</title>" +
                               item + "</item></channel></rss>");
        QCOMPARE(int(feed.articles.size()), 1);
        QTEST(feed.articles[0].picture.toString(), "picture");
    }

    // A feed's relative links resolve against the address it is fetched from, however the
    // subscription spells it.
    void relativeLinks_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("link");
        QTest::newRow("no scheme") << "example.com/news/rss"
                                   << "http://example.com/news/story.html";
        QTest::newRow("feed://") << "feed://example.com/news/rss"
                                 << "http://example.com/news/story.html";
        QTest::newRow("feed:https://") << "feed:https://example.com/news/rss"
                                       << "https://example.com/news/story.html";
        QTest::newRow("upper-case scheme") << "HTTPS://example.com/news/rss"
                                           << "https://example.com/news/story.html";
    }
    void relativeLinks() {
        QFETCH(QString, address);
        const Feed feed = Read("<rss version=\"2.0\"><channel><item><title>t</title><link>story.html</link>"
                               "</item></channel></rss>",
                               address.toUtf8().constData());
        QCOMPARE(int(feed.articles.size()), 1);
        QTEST(feed.articles[0].link.toString(), "link");
    }

    // The first body in this order wins: content:encoded, Atom content, description, summary.
    void bodies() {
        const Feed wordpress = Read(kWordPress);
        QVERIFY(wordpress.articles[0].body.value.contains("<strong>now</strong>"));
        QCOMPARE(wordpress.articles[0].body.base, QUrl("https://blog.example/2024/03/04/tomatoes/"));
        const Feed atom = Read(kAtom03);
        QCOMPARE(atom.articles[0].body.kind, FeedText::Kind::Html);
        QCOMPARE(atom.articles[0].body.base, QUrl("http://oud.example/posts/"));
        QVERIFY(atom.articles[1].body.value.contains("<p>In <b>xml</b></p>"));
        QCOMPARE(PlainText(atom.description), QByteArray("Een blog"));
    }

    void encodings_data() {
        QTest::addColumn<QByteArray>("document");
        const QString text =
            QString::fromUtf8("<?xml version=\"1.0\" encoding=\"%1\"?>\n<rss version=\"2.0\"><channel>"
                              "<title>%2</title><item><title>%2</title></item></channel></rss>");
        const QString words = QString::fromUtf8("Žluťoučký kůň – 日本語 ニュース");
        QTest::newRow("UTF-8") << text.arg(QStringLiteral("UTF-8"), words).toUtf8();
        QTest::newRow("UTF-8 with BOM") << "\xEF\xBB\xBF" + text.arg(QStringLiteral("utf-8"), words).toUtf8();
        QTest::newRow("UTF-16LE with BOM") << Encoded("UTF-16LE", QChar(0xFEFF) + text.arg("UTF-16", words));
        QTest::newRow("UTF-16BE with BOM") << Encoded("UTF-16BE", QChar(0xFEFF) + text.arg("utf-16", words));
        QTest::newRow("UTF-16LE without BOM") << Encoded("UTF-16LE", text.arg("UTF-16", words));
    }

    void encodings() {
        QFETCH(QByteArray, document);
        const Feed feed = Read(document);
        QCOMPARE(feed.format, FeedFormat::Rss);
        QVERIFY(PlainText(feed.title).contains("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E")); // 日本語
        QCOMPARE(feed.articles.size(), size_t(1));
    }

    void declaredEncodings_data() {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("windows-1252")
            << QByteArray("windows-1252") << QByteArray("\x80 \x85") << QString::fromUtf8("€ …");
        QTest::newRow("ISO-8859-2") << QByteArray("ISO-8859-2") << QByteArray("\xB1\xE6")
                                    << QString::fromUtf8("ąć");
        QTest::newRow("KOI8-R") << QByteArray("KOI8-R") << QByteArray("\xED\xCF\xD3\xCB\xD7\xC1")
                                << QString::fromUtf8("Москва");
        // Multi-byte encodings go through iconv as well.
        QTest::newRow("Shift_JIS") << QByteArray("Shift_JIS") << QByteArray("\x93\xFA\x96\x7B\x8C\xEA")
                                   << QString::fromUtf8("日本語");
        QTest::newRow("GB18030") << QByteArray("GB18030") << QByteArray("\xC8\xD5\xB1\xBE\xD3\xEF")
                                 << QString::fromUtf8("日本语");
        QTest::newRow("EUC-KR") << QByteArray("euc-kr") << QByteArray("\xB4\xBA\xBD\xBA")
                                << QString::fromUtf8("뉴스");
        QTest::newRow("unknown to iconv, read as UTF-8")
            << QByteArray("x-no-such") << QByteArray("\xC3\xA9") << QString::fromUtf8("é");
        QTest::newRow("UTF-8 declared, windows-1252 bytes")
            << QByteArray("UTF-8") << QByteArray("caf\xE9 \xC3\xA9") << QString::fromUtf8("café é");
    }

    void declaredEncodings() {
        QFETCH(QByteArray, encoding);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        const QByteArray document = "<?xml version=\"1.0\" encoding=\"" + encoding +
                                    "\"?><rss><channel><title>" + bytes + "</title></channel></rss>";
        QCOMPARE(QString::fromUtf8(PlainText(Read(document).title)), text);
    }

    // Windows-1252 quotes and dashes taken for ISO-8859-1 on the way become what they stand
    // for, however the feed writes them; the five positions windows-1252 leaves empty stay.
    void c1Characters_data() {
        QTest::addColumn<QByteArray>("title");
        QTest::addColumn<QByteArray>("description");
        QTest::newRow("characters")
            << QByteArray("\xC2\x93Quoted\xC2\x94 \xC2\x96 \xC2\x80\xC2\x81")
            << QByteArray("&lt;p&gt;\xC2\x93Quoted\xC2\x94 \xC2\x96 \xC2\x80\xC2\x81&lt;/p&gt;");
        QTest::newRow("references") << QByteArray("&#147;Quoted&#x94; &#150; &#128;&#129;")
                                    << QByteArray("&amp;#147;Quoted&amp;#x94; &amp;#150; &amp;#128;&#129;");
        QTest::newRow("CDATA") << QByteArray("&#147;Quoted&#148; &#150; &#128;&#129;")
                               << QByteArray(
                                      "<![CDATA[<p>\xC2\x93Quoted\xC2\x94 \xC2\x96 \xC2\x80\xC2\x81</p>]]>");
    }
    void c1Characters() {
        QFETCH(QByteArray, title);
        QFETCH(QByteArray, description);
        const Feed feed =
            Read("<rss version=\"2.0\"><channel><title>" + title + "</title><item><title>" + title +
                 "</title><description>" + description + "</description></item></channel></rss>");
        QCOMPARE(feed.articles.size(), size_t(1));
        const QString expected =
            QString::fromUtf8("\xE2\x80\x9CQuoted\xE2\x80\x9D \xE2\x80\x93 \xE2\x82\xAC\xC2\x81");
        QCOMPARE(QString::fromUtf8(PlainText(feed.title)), expected);
        QCOMPARE(QString::fromUtf8(PlainText(feed.articles[0].title)), expected);
        // HTML has its own word for the empty positions.
        QVERIFY(QString::fromUtf8(PlainText(feed.articles[0].body)).startsWith(expected.chopped(1)));
    }

    void notFeeds_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("HTML page") << QByteArray(
            "<!DOCTYPE html><html><head><title>Home</title></head><body><p>Hi "
            "&amp; welcome<br></body></html>");
        QTest::newRow("error page") << QByteArray(
            "<html><body><h1>502 Bad Gateway</h1><hr><center>nginx</center>"
            "</body></html>\r\n");
        QTest::newRow("JSON") << QByteArray("{\"version\": \"https://jsonfeed.org/version/1\"}");
        QTest::newRow("garbage") << QByteArray("\x00\xFF\xFE\x01garbage\x89PNG", 16);
        QTest::newRow("OPML") << QByteArray("<opml><body><outline text=\"x\"/></body></opml>");
    }

    void notFeeds() {
        QFETCH(QByteArray, document);
        QCOMPARE(Read(document).format, FeedFormat::NotAFeed);
    }

    // A download cut off keeps the articles that came whole, and says it broke off.
    void truncated() {
        QByteArray document(kWordPress);
        document.replace("</channel>", "<item><title>Second</title></item><item><title>Cut");
        document.chop(document.size() - document.indexOf("<title>Cut") - 8);
        const Feed feed = Read(document);
        QCOMPARE(feed.format, FeedFormat::Rss);
        QVERIFY(!feed.complete);
        QCOMPARE(feed.articles.size(), size_t(2));
    }

    // The quick reading of items' ids gives what the parser gives, or leaves the item out; what
    // it leaves of a document without the items it found reads as the rest of the document.
    void itemScan_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QByteArrayList>("ids"); // {null}: every id the parser reads
        const QByteArrayList all{QByteArray()};
        for (const auto& [name, sample] : {std::pair{"WordPress", kWordPress},
                                           {"Blogger", kBlogger},
                                           {"podcast", kPodcast},
                                           {"RDF", kRdf},
                                           {"Atom 0.3", kAtom03},
                                           {"news site", kNewsSite},
                                           {"undeclared prefixes", kUndeclared}})
            QTest::newRow(name) << QByteArray(sample) << all;
        QTest::newRow("hostile HTML") << HostileFeed() << all;
        QTest::newRow("references and CDATA")
            << Rss("<item><guid> a&amp;b </guid></item><item><guid><![CDATA[c<d>]]></guid></item>"
                   "<item><guid isPermaLink=\"false\">e&#38;&#x41;<!-- note --></guid></item>")
            << QByteArrayList{"a&b", "c<d>", "e&A"};
        QTest::newRow("the last guid counts, even an empty one")
            << Rss("<item><guid>x</guid><guid>y</guid></item><item><guid>z</guid><guid/>"
                   "<title>T</title></item>")
            << QByteArrayList{"y"};
        QTest::newRow("no guid, or one it cannot vouch for")
            << Rss("<item><title>T</title><link>https://e.example/1</link></item><item><guid>caf&#233;</guid>"
                   "</item><item><guid>\xC3\xBC</guid></item><item><guid>a&nbsp;b</guid></"
                   "item><item><guid>&#x+41;</guid></item>"
                   "<item><guid>a\r\nb</guid></item><item><guid>k</guid></item>")
            << QByteArrayList{"k"};
        QTest::newRow("markup that only looks like items")
            << Rss("<!-- <item><guid>no</guid></item> --><?pi <item>?><item><guid>one</guid><description>"
                   "<![CDATA[</item><item><guid>no</guid>]]></description><category "
                   "domain=\"a>b\">c</category>"
                   "<enclosure url=\"https://e.example/a.mp3\" type='audio/mpeg'/></item>"
                   "<item><title>x</title><guid>two</guid></item>")
            << QByteArrayList{"one", "two"};
        QTest::newRow("Atom with XHTML content")
            << QByteArray("<feed xmlns=\"http://www.w3.org/2005/Atom\"><id>feed</id><entry><id>e1</id>"
                          "<content type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\"><p>x<br/>"
                          "<id>no</id></p></div></content></entry><entry><title>t</title><id>e2</id></entry>"
                          "</feed>")
            << QByteArrayList{"e1", "e2"};
        QTest::newRow("RSS has no id elements") << Rss("<item><id>i</id></item>") << QByteArrayList{};
        QTest::newRow("an item outside the channel")
            << QByteArray(
                   "<rss><item><guid>x</guid></item><channel><item><guid>y</guid></item></channel></rss>")
            << QByteArrayList{"y"};
        QTest::newRow("windows-1252") << Rss("<item><guid>w</guid><title>\x93Q\x94</title></item>",
                                             "<?xml version=\"1.0\" encoding=\"windows-1252\"?>")
                                      << QByteArrayList{"w"};
        // Documents it leaves to the parser whole.
        QTest::newRow("document type") << QByteArray("<!DOCTYPE rss [<!ENTITY g \"x\">]><rss><channel><item>"
                                                     "<guid>&g;</guid></item></channel></rss>")
                                       << QByteArrayList{};
        // The news feed file keeps no first default namespace; a second one counts.
        QTest::newRow("another vocabulary by default")
            << QByteArray(
                   "<rss xmlns=\"http://backend.userland.com/rss2\"><channel><item><guid>y</guid></item>"
                   "<item xmlns=\"http://purl.org/dc/elements/1.1/\"><guid>x</guid></item></channel></rss>")
            << QByteArrayList{};
        QTest::newRow("prefixed entries")
            << QByteArray(
                   "<feed xmlns=\"http://www.w3.org/2005/Atom\" xmlns:a=\"http://www.w3.org/2005/Atom\">"
                   "<a:entry><a:id>p</a:id></a:entry></feed>")
            << QByteArrayList{};
        QTest::newRow("markup in a guid") << Rss("<item><guid>a<b>c</b></guid></item>") << QByteArrayList{};
        QTest::newRow("broken off") << QByteArray("<rss><channel><item><guid>a</guid></item><item><guid>b")
                                    << QByteArrayList{};
        QTest::newRow("multi-byte encoding")
            << Rss("<item><guid>s</guid></item>", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>")
            << QByteArrayList{};
        QTest::newRow("UTF-16") << Encoded("UTF-16LE",
                                           QString::fromLatin1(Rss("<item><guid>u</guid></item>", "")))
                                << QByteArrayList{};
    }

    void itemScan() {
        QFETCH(QByteArray, document);
        QFETCH(QByteArrayList, ids);
        const QByteArray stored = NewsFeedFile::CleanFeedDocument(document);
        const QUrl url(QStringLiteral("https://example.com/feed"));
        const Feed whole = ReadFeedDocument(stored, url);
        if (ids == QByteArrayList{QByteArray()}) {
            ids.clear();
            for (const Article& article : whole.articles) {
                if (!article.id.isEmpty())
                    ids << article.id;
            }
        }
        const std::vector<ItemSpan> spans = ScanFeedItems(stored);
        QByteArrayList found;
        for (const ItemSpan& span : spans)
            found << span.id;
        QCOMPARE(found, ids);

        const Feed rest = ReadFeedDocument(WithoutItems(stored, spans), url);
        QCOMPARE(rest.format, whole.format);
        QCOMPARE(rest.complete, whole.complete);
        QCOMPARE(rest.title.value, whole.title.value);
        size_t cut = 0, kept = 0;
        for (const Article& article : whole.articles) {
            if (cut < spans.size() && article.id == spans[cut].id) {
                ++cut;
                continue;
            }
            QVERIFY(kept < rest.articles.size());
            const Article& left = rest.articles[kept++];
            QCOMPARE(left.id, article.id);
            QCOMPARE(left.title.value, article.title.value);
            QCOMPARE(left.link, article.link);
            QCOMPARE(left.body.value, article.body.value);
        }
        QCOMPARE(cut, spans.size());
        QCOMPARE(kept, rest.articles.size());
    }

    void dates_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("utc");
        QTest::newRow("RFC 822") << QByteArray("Tue, 05 Mar 2024 10:00:00 GMT") << "2024-03-05T10:00:00Z";
        QTest::newRow("offset") << QByteArray("Tue, 05 Mar 2024 10:00:00 +0130") << "2024-03-05T08:30:00Z";
        QTest::newRow("no weekday, no seconds")
            << QByteArray("5 Mar 2024 10:00 EDT") << "2024-03-05T14:00:00Z";
        QTest::newRow("two-digit year") << QByteArray("Tue, 5 Mar 24 10:00:00 Z") << "2024-03-05T10:00:00Z";
        QTest::newRow("ISO with fraction")
            << QByteArray("2024-03-05T10:00:00.123-02:00") << "2024-03-05T12:00:00Z";
        QTest::newRow("ISO with a space, no zone")
            << QByteArray("2024-03-05 10:00:00") << "2024-03-05T10:00:00Z";
        QTest::newRow("nonsense") << QByteArray("yesterday") << QString();
        QTest::newRow("bad day") << QByteArray("Tue, 35 Feb 2024 10:00:00 GMT") << QString();
    }

    void dates() {
        QFETCH(QByteArray, text);
        QTEST(ParseFeedDate(text).toString(Qt::ISODate), "utc");
    }
};

PELLAVO_TEST_MAIN(TestFeedDocument)
#include "tst_FeedDocument.moc"
