// The article of a web page: its encoding, what stays and what goes, and the bounds.
#include "FuzzChecks.h"
#include "extract/ArticleFinder.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QRegularExpression>

using namespace extract;

namespace {

const QUrl kAddress(QStringLiteral("https://news.example/2024/05/story.html"));

// Enough sentences, with commas, to make an article of.
QByteArray Paragraphs(const QByteArray& first, int count = 4) {
    QByteArray html = "<p>" + first + "</p>";
    for (int i = 0; i < count; ++i)
        html += "<p>The council met on Tuesday, and after a long debate, it agreed to keep the library open "
                "for another year, with shorter hours and more volunteers.</p>";
    return html;
}

std::optional<Article> Find(const QByteArray& page, const QByteArray& contentType = {}) {
    return FindArticle({page, kAddress, contentType, {}});
}

// What is wrong with the article as the book without pictures would carry it.
QString Problem(const QByteArray& page) {
    const std::optional<Article> article = FindArticle({page, kAddress, {}, ebook::ImageAltText});
    if (!article)
        return QStringLiteral("no article");
    return pellavo::fuzz::XhtmlProblem("<div xmlns=\"http://www.w3.org/1999/xhtml\">" + article->xhtml +
                                       "</div>");
}

} // namespace

class TestArticleFinder : public QObject {
    Q_OBJECT

private slots:
    void encoding_data() {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QString>("expected");
        const QByteArray body =
            "<html><head>%1</head><body><article>" + Paragraphs("%2") + "</article></body></html>";
        const auto page = [&](const QByteArray& head, const QByteArray& text) {
            return QByteArray(body).replace("%1", head).replace("%2", text);
        };
        QTest::newRow("header latin1")
            << page("", "Caf\xe9 cr\xe8me") << QByteArray("text/html; charset=ISO-8859-1")
            << QStringLiteral("Café crème");
        QTest::newRow("header over meta")
            << page("<meta charset=\"utf-8\">", "Caf\xe9") << QByteArray("text/html;charset=\"windows-1252\"")
            << QStringLiteral("Café");
        QTest::newRow("meta charset") << page("<meta charset=windows-1251>", "\xcf\xf0\xe8\xe2\xe5\xf2")
                                      << QByteArray("text/html") << QStringLiteral("Привет");
        QTest::newRow("meta http-equiv")
            << page("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">",
                    "\x93\xfa\x96\x7b")
            << QByteArray() << QStringLiteral("日本");
        QTest::newRow("bom over header")
            << "\xEF\xBB\xBF" + page("", "Stra\xc3\x9f"
                                         "e")
            << QByteArray("text/html; charset=iso-8859-1") << QStringLiteral("Straße");
        const QString wide = QString::fromUtf8(page("<meta charset=utf-16>", "\xc3\xa9t\xc3\xa9"));
        QByteArray utf16("\xFF\xFE", 2);
        utf16.append(reinterpret_cast<const char*>(wide.utf16()), wide.size() * 2);
        QTest::newRow("utf-16 bom") << utf16 << QByteArray() << QStringLiteral("été");
        QTest::newRow("utf-8 undeclared")
            << page("", "na\xc3\xafve") << QByteArray() << QStringLiteral("naïve");
        QTest::newRow("stray windows-1252")
            << page("", "\x93quoted\x94") << QByteArray() << QStringLiteral("“quoted”");
    }

    void encoding() {
        QFETCH(QByteArray, page);
        QFETCH(QByteArray, contentType);
        QFETCH(QString, expected);
        const std::optional<Article> article = Find(page, contentType);
        QVERIFY(article);
        QVERIFY2(QString::fromUtf8(article->xhtml).contains(expected), article->xhtml.left(300).constData());
    }

    // A page of the usual kind: what the reader came for stays, the site around it goes.
    void furniture() {
        const QByteArray page =
            "<html><head><title>Library stays open | Town News</title><base "
            "href=\"https://news.example/base/\">"
            "<meta property=\"og:title\" content=\"Library stays open\"></head><body>"
            "<header class=\"site-header\"><a href=\"/\">Town News</a><nav><a href=\"/a\">Politics</a>"
            "<a href=\"/b\">Sport</a></nav></header>"
            "<div class=\"cookie-notice\">We use cookies to improve your experience on this site, please "
            "accept.</div>"
            "<main><article><h1>Library stays open</h1><div class=\"byline\">By A. Writer, 3 May</div>"
            "<div class=\"entry-content\">" +
            Paragraphs("The library keeps its doors open, the council decided.") +
            "<h2>What changes</h2><ul><li>Shorter hours on Mondays</li><li>More volunteers at "
            "weekends</li></ul>"
            "<blockquote><p>We are relieved, said the librarian.</p></blockquote><pre>open 9-17</pre>"
            "<table><tr><th>Day</th><td>Hours</td></tr></table>"
            "<figure><img data-src=\"pics/lib.jpg\" src=\"data:image/gif;base64,R0lGOD\" alt=\"The library\">"
            "<figcaption>The library on Main Street (Photo: J. Doe / Agency)</figcaption></figure>"
            "<p>Read the <a href=\"minutes.pdf\">minutes of the meeting</a> for the details of the "
            "decision.</p>"
            "<div class=\"share-buttons\"><a href=\"https://social.example/share\">Share this story</a></div>"
            "<div><div><a href=\"/e\"><h3>Harbour opens</h3></a><p>Boats return to the old harbour.</p></div>"
            "<div><a href=\"/f\"><img src=\"f.jpg\" alt=\"\"></a><a href=\"/f\">Schools close</a><p>Early, "
            "for "
            "the summer.</p></div>"
            "<div><h3><a href=\"/g\">Market moves</a></h3><p>The Saturday market finds a new "
            "square.</p></div>"
            "</div>"
            "</div><section class=\"related-posts\"><h3>More stories</h3><ul><li><a href=\"/c\">Bridge "
            "repaired "
            "after a long wait</a></li><li><a href=\"/d\">New mayor sworn in</a></li></ul></section>"
            "<div id=\"comments\" class=\"comments-area\"><p>First comment here, I think this is great news, "
            "really great.</p></div></article><aside class=\"sidebar\"><p>Subscribe to our newsletter, it is "
            "free "
            "and comes every morning with all the news.</p></aside></main>"
            "<footer><p>Copyright Town News, all rights reserved, imprint and privacy policy.</p></footer>"
            "</body></html>";
        const std::optional<Article> article = Find(page);
        QVERIFY(article);
        const QByteArray xhtml = article->xhtml;
        QCOMPARE(article->title, QByteArray("Library stays open"));
        for (const char* kept : {"The library keeps its doors open", "<h2>What changes</h2>",
                                 "<li>Shorter hours", "<blockquote>", "<pre>open 9-17</pre>", "<table>",
                                 "<figure>", "<figcaption>The library on Main Street</figcaption>",
                                 "src=\"https://news.example/base/pics/lib.jpg\"",
                                 "href=\"https://news.example/base/minutes.pdf\""})
            QVERIFY2(xhtml.contains(kept), kept);
        for (const char* gone : {"Politics", "cookies", "<h1>", "By A. Writer", "Share this", "More stories",
                                 "Bridge repaired", "First comment", "newsletter", "Copyright", "Agency",
                                 "Harbour", "Schools close", "Saturday market"})
            QVERIFY2(!xhtml.contains(gone), gone);
        QVERIFY(article->textLength > 400);
        QCOMPARE(Problem(page), QString());
    }

    // What the names, shapes and places of boxes say about them.
    void boxes_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArrayList>("kept");
        QTest::addColumn<QByteArrayList>("gone");
        const QByteArray article = "<article>" + Paragraphs("The harbour opens again.");
        const QByteArray card =
            "<div><h3>Another story</h3><p>A teaser of another story.</p><a href=\"/s\">Read "
            "it</a></div>";
        QTest::newRow("related box holding a body")
            << article + "<div class=\"story-recommendations\"><div class=\"story_text\"><p>A long teaser of "
                         "another story, with a comma, and one more, and more.</p></div></div></article>"
            << QByteArrayList{"The harbour"} << QByteArrayList{"teaser"};
        QTest::newRow("teasers with titles beside their links")
            << article + "<div>" + card.repeated(3) + "</div></article>" << QByteArrayList{"The harbour"}
            << QByteArrayList{"Another story", "Read it"};
        QTest::newRow("teaser box beside the article")
            << "<main><div>" + Paragraphs("The harbour opens again.") + "</div><div>" +
                   QByteArray("<div><h3><a href=\"/s\">Another story</a></h3><p>A teaser of another story, "
                              "with a comma, long enough.</p></div>")
                       .repeated(3) +
                   "</div></main>"
            << QByteArrayList{"The harbour"} << QByteArrayList{"teaser"};
        QTest::newRow("hidden by class")
            << article +
                   "<div class=\"hide-for-print\"><p>Printed pages lack this, a box of the site.</p></div>"
            << QByteArrayList{"The harbour"} << QByteArrayList{"Printed"};
        QTest::newRow("comments and disclosures named in other languages")
            << article + "<div class=\"kommentarModul\"><p>Ein Kommentar, lang genug, mit Komma.</p></div>"
                         "<section class=\"editorial-disclosure\"><p>We may earn money, when you buy, "
                         "from links.</p></section></article>"
            << QByteArrayList{"The harbour"} << QByteArrayList{"Kommentar", "earn"};
        QTest::newRow("variant of an element is no furniture")
            << "<article><section class=\"report__section--ads\">" + Paragraphs("The harbour opens again.") +
                   "</section><section class=\"report__section--ads\">" + Paragraphs("Boats return.") +
                   "</section></article>"
            << QByteArrayList{"The harbour", "Boats return."} << QByteArrayList{};
        QTest::newRow("read also")
            << article + "<p><strong>Read also:</strong> <a href=\"/s\">Another story of the town</a></p>"
            << QByteArrayList{"The harbour"} << QByteArrayList{"Read also", "Another story"};
        QTest::newRow("source of a picture")
            << article +
                   "<figure><img src=\"a.jpg\" alt=\"\"><figcaption>The harbour at dusk. Quelle: A. Doe / "
                   "Agency</figcaption></figure><figure><img src=\"b.jpg\" alt=\"\"><figcaption>Boats in May "
                   "\xc2\xa9 "
                   "B. Roe</figcaption></figure><p>Funding source: the town and its port, for now.</p>"
            << QByteArrayList{"The harbour at dusk.", "Boats in May", "Funding source: the town"}
            << QByteArrayList{"Quelle", "Agency", "B. Roe"};
        QTest::newRow("short part with the class of the best")
            << "<div><div class=\"text\">" + Paragraphs("The harbour opens again.") +
                   "</div></div><aside><p>Boxes of the site, that say, what it is.</p></aside><div><div "
                   "class=\"text text--last\"><p>Boats return in the spring, in May, the harbour master "
                   "said.</p></div></div>"
            << QByteArrayList{"The harbour", "Boats return"} << QByteArrayList{"Boxes"};
        QByteArray links;
        for (int i = 0; i < 4; ++i)
            links +=
                "<li><a href=\"/s\">A long title of a story that someone else wrote on the web</a><p>via "
                "a news site, that wrote it</p></li>";
        QTest::newRow("article of links")
            << "<article class=\"post\"><ul>" + links + "</ul></article>"
            << QByteArrayList{"A long title of a story", "via a news site"} << QByteArrayList{};
    }

    void boxes() {
        QFETCH(QByteArray, body);
        QFETCH(QByteArrayList, kept);
        QFETCH(QByteArrayList, gone);
        const QByteArray page = "<html><body>" + body + "</body></html>";
        const std::optional<Article> article = Find(page);
        QVERIFY(article);
        for (const QByteArray& text : kept)
            QVERIFY2(article->xhtml.contains(text), text.constData());
        for (const QByteArray& text : gone)
            QVERIFY2(!article->xhtml.contains(text), text.constData());
    }

    // Whatever the page hides in its article, nothing that runs reaches the book.
    void hostile_data() {
        QTest::addColumn<QByteArray>("inside");
        QTest::newRow("script") << QByteArray("<script>alert(1)</script><p onclick=\"alert(2)\">x</p>");
        QTest::newRow("frames") << QByteArray(
            "<iframe src=\"https://evil.example/\"></iframe><frameset><frame "
            "src=\"https://evil.example/\"></frameset>");
        QTest::newRow("handlers") << QByteArray(
            "<img src=x onerror=\"alert(3)\"><a href=\"javascript:alert(4)\" "
            "onmouseover=\"alert(5)\">link</a>");
        QTest::newRow("objects") << QByteArray(
            "<object data=\"evil.swf\"></object><embed src=\"evil.swf\">"
            "<svg onload=\"alert(6)\"></svg><form action=\"/steal\"><input>"
            "</form><style>p{}</style><base href=\"javascript:alert(7)\">");
    }

    void hostile() {
        QFETCH(QByteArray, inside);
        const QByteArray page = "<html><body><article>" + Paragraphs("Hostile page.") + inside +
                                Paragraphs("More of it.", 2) + "</article></body></html>";
        const std::optional<Article> article = Find(page);
        QVERIFY(article);
        const QByteArray lower = article->xhtml.toLower();
        for (const char* gone : {"<script", "alert", "<iframe", "<frame", "javascript:", "<object", "<embed",
                                 "<svg", "<form", "<input", "<style", "<base"})
            QVERIFY2(!lower.contains(gone), gone);
        QVERIFY(!QString::fromUtf8(lower).contains(QRegularExpression(QStringLiteral(" on[a-z]+="))));
        QVERIFY(article->xhtml.contains("Hostile page."));
        QCOMPARE(Problem(page), QString());
    }

    void noArticle_data() {
        QTest::addColumn<QByteArray>("page");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 11);
        QTest::newRow("furniture only")
            << QByteArray("<html><body><nav><a href=/>Home</a> <a href=/a>News</a></nav><footer>Imprint and "
                          "privacy policy of this small site.</footer></body></html>");
        QByteArray links = "<html><body><ul>";
        for (int i = 0; i < 40; ++i)
            links += "<li><a href=\"/story/" + QByteArray::number(i) + "\">A story about the town, number " +
                     QByteArray::number(i) + "</a></li>";
        QTest::newRow("list of links") << links + "</ul></body></html>";
        QTest::newRow("script only") << QByteArray("<html><body><script>document.write('<p>' + 'text, "
                                                   "text, text, text and more text')</script></body></html>");
    }

    void noArticle() {
        QFETCH(QByteArray, page);
        QVERIFY(!Find(page));
    }

    // Past 5 MiB a page is not read; up to it, it is.
    void limit() {
        const QByteArray article = "<html><body><article>" + Paragraphs("At the limit.") + "</article>";
        QByteArray page = article + QByteArray(kMaxPageBytes - article.size(), ' ');
        QCOMPARE(page.size(), kMaxPageBytes);
        QVERIFY(Find(page));
        page.append(' ');
        QVERIFY(!Find(page));
    }

    // Nesting that makes the tree builder take the square of the time is cut, not waited for.
    void deepNesting() {
        const QByteArray page = "<html><body><article>" + Paragraphs("Before the nesting.") +
                                QByteArray("<div>").repeated(200000) + Paragraphs("Inside it.") +
                                "</article>";
        QElapsedTimer timer;
        timer.start();
        const std::optional<Article> article = Find(page);
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(article);
        QVERIFY(article->xhtml.contains("Before the nesting."));
        QCOMPARE(Problem(page), QString());
    }

    // Text the page builds with scripts is still found in its structured data.
    void structuredData() {
        const QByteArray page =
            "<html><head><script "
            "type=\"application/ld+json\">{\"@context\":\"https://schema.org\",\"@graph\":["
            "{\"@type\":\"NewsArticle\",\"articleBody\":\"The bridge reopens on Monday, after two years of "
            "works, the city said.\\nTraffic will be limited to cars, bicycles and buses, for "
            "now.\"}]}</script>"
            "</head><body><div id=\"app\"></div></body></html>";
        const std::optional<Article> article = Find(page);
        QVERIFY(article);
        QVERIFY(article->xhtml.contains("<p>The bridge reopens on Monday"));
        QVERIFY(article->xhtml.contains("<p>Traffic will be limited"));
    }
};

PELLAVO_TEST_MAIN(TestArticleFinder)
#include "tst_ArticleFinder.moc"
