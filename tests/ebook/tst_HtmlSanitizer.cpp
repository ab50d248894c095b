// Article HTML made safe and well-formed: what attacks a reader goes, what reads stays.
#include "FeedSamples.h"
#include "FuzzChecks.h"
#include "ebook/HtmlSanitizer.h"
#include "testsupport.h"

using namespace ebook;

namespace {

const QUrl kBase(QStringLiteral("https://blog.example/2024/post/"));

QByteArray Sanitized(const QByteArray& html, const QUrl& base = kBase) {
    HtmlOptions options;
    options.base = base;
    return SanitizeHtml(html, options).xhtml;
}

QString FragmentProblem(const QByteArray& xhtml) {
    return pellavo::fuzz::XhtmlProblem("<div xmlns=\"http://www.w3.org/1999/xhtml\">" + xhtml + "</div>");
}

} // namespace

class TestHtmlSanitizer : public QObject {
    Q_OBJECT

private slots:
    void hostile_data() {
        QTest::addColumn<QByteArray>("html");
        for (int i = 0; i < samples::kHostileHtmlCount; ++i) {
            const samples::HtmlSample& sample = samples::kHostileHtml[i];
            QTest::newRow(sample.name) << (sample.html ? QByteArray(sample.html)
                                                       : QByteArray("<div><span>").repeated(20000) + "deep");
        }
    }

    // Whatever comes in, what goes out passes the same check the fuzzer makes.
    void hostile() {
        QFETCH(QByteArray, html);
        const QByteArray xhtml = Sanitized(html);
        const QString problem = FragmentProblem(xhtml);
        QVERIFY2(problem.isEmpty(), qPrintable(problem + QLatin1Char('\n') + QString::fromUtf8(xhtml)));
        QVERIFY(!xhtml.toLower().contains("evil.example"));
    }

    void kept_data() {
        QTest::addColumn<QByteArray>("html");
        QTest::addColumn<QByteArray>("xhtml");
        QTest::newRow("paragraphs and emphasis")
            << QByteArray("<P>One <EM>two</EM><br>three</P><p>caf&eacute; &hellip;")
            << QByteArray("<p>One <em>two</em><br/>three</p><p>caf\xC3\xA9 \xE2\x80\xA6</p>");
        QTest::newRow("a link keeps its address and title only")
            << QByteArray("<a href=\"https://ok.example/?a=1&amp;b=2\" target=_blank rel=noopener title=t "
                          "class=c>ok</a>")
            << QByteArray("<a href=\"https://ok.example/?a=1&amp;b=2\" title=\"t\">ok</a>");
        QTest::newRow("relative links resolved")
            << QByteArray("<a href=\"../other\">o</a><a href=\"//cdn.example/x\">c</a>"
                          "<a href=\"#fn1\">f</a><a href=\"mailto:jo@example.com\">m</a>")
            << QByteArray("<a href=\"https://blog.example/2024/other\">o</a>"
                          "<a href=\"https://cdn.example/x\">c</a>"
                          "<a href=\"https://blog.example/2024/post/#fn1\">f</a>"
                          "<a href=\"mailto:jo@example.com\">m</a>");
        QTest::newRow("images become their alternative text")
            << QByteArray("<p>See <img src=\"a.png\" alt=\"a &lt;chart&gt;\"> and <img src=b.png></p>")
            << QByteArray("<p>See a &lt;chart&gt; and </p>");
        QTest::newRow("quotes, code, tables, figures")
            << QByteArray(
                   "<blockquote cite=\"/src\"><p>q</p></blockquote><pre><code>x &lt; y</code></pre>"
                   "<table><tr><th colspan=2>h</th></tr><tr><td rowspan=\"3\">d</td></tr></table>"
                   "<figure><img alt=\"pic\"><figcaption>cap</figcaption></figure><ol start=3><li>x</ol>")
            << QByteArray("<blockquote cite=\"https://blog.example/src\"><p>q</p></blockquote>"
                          "<pre><code>x &lt; y</code></pre><table><tbody><tr><th colspan=\"2\">h</th></tr>"
                          "<tr><td rowspan=\"3\">d</td></tr></tbody></table>"
                          "<figure>pic<figcaption>cap</figcaption></figure><ol start=\"3\"><li>x</li></ol>");
        QTest::newRow("right-to-left text")
            << QByteArray("<p dir=RTL>\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D</p>")
            << QByteArray("<p dir=\"rtl\">\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D</p>");
        QTest::newRow("escaped twice")
            << QByteArray("&lt;p&gt;Hi &amp;amp; bye&lt;/p&gt;") << QByteArray("<p>Hi &amp; bye</p>");
        QTest::newRow("plain text stays text")
            << QByteArray("5 &lt; 6 & 7 > 3") << QByteArray("5 &lt; 6 &amp; 7 &gt; 3");
        QTest::newRow("no base: relative links go, the text stays")
            << QByteArray("<a href=\"/x\">x</a>") << QByteArray("x");
    }

    void kept() {
        QFETCH(QByteArray, html);
        const QUrl base = QByteArray(QTest::currentDataTag()).startsWith("no base") ? QUrl() : kBase;
        QTEST(Sanitized(html, base), "xhtml");
    }

    // A later book carries the pictures: the hook decides what an image becomes.
    void imageHook() {
        HtmlOptions options;
        options.base = kBase;
        QList<ImageInfo> seen;
        options.image = [&](const ImageInfo& image) {
            seen.append(image);
            return QByteArray("<img src=\"images/1.png\" alt=\"") + image.alt + "\"/>";
        };
        const QByteArray xhtml =
            SanitizeHtml("<ul><img src=\"../pic.jpg\" alt=\"x\"></ul><img src=\"javascript:x\">", options)
                .xhtml;
        QCOMPARE(xhtml, QByteArray("<ul><li><img src=\"images/1.png\" alt=\"x\"/></li></ul>"
                                   "<img src=\"images/1.png\" alt=\"\"/>"));
        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen[0].source, QUrl("https://blog.example/2024/pic.jpg"));
        QVERIFY(seen[1].source.isEmpty());
    }

    void text() {
        QCOMPARE(
            HtmlToText("<p>A <b>bold</b>\n move<script>x()</script></p><style>p{}</style><p>B&amp;C</p>"),
            QByteArray("A bold moveB&C"));
        QCOMPARE(DecodeCharacterReferences("caf&eacute; &amp;amp; <b> &#x263A; &bogus;"),
                 QByteArray("caf\xC3\xA9 &amp; <b> \xE2\x98\xBA &bogus;"));
        HtmlOptions options;
        options.textLimit = 10;
        QCOMPARE(SanitizeHtml("<p>one two three four</p>", options).text, QByteArray("one two th"));
    }

    // Past 20,000 tags an article is cut, so that a hostile one cannot stall the run.
    void huge() {
        const SanitizedHtml result = SanitizeHtml(QByteArray("<div>").repeated(30000), HtmlOptions());
        QVERIFY(result.shortened);
        QVERIFY(FragmentProblem(result.xhtml).isEmpty());
        QVERIFY(!SanitizeHtml(QByteArray("<p>x</p>").repeated(5000), HtmlOptions()).shortened);
    }
};

PELLAVO_TEST_MAIN(TestHtmlSanitizer)
#include "tst_HtmlSanitizer.moc"
