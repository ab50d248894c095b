// The XML text helpers that OPML and the e-book share.
#include "base/XmlText.h"
#include "testsupport.h"

class TestXmlText : public QObject {
    Q_OBJECT

private slots:
    void escaping_data() {
        QTest::addColumn<int>("how");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("escaped");
        QTest::newRow("plain") << int(XmlEscaping::ExactAttribute) << QByteArray("News 24")
                               << QByteArray("News 24");
        QTest::newRow("markup") << int(XmlEscaping::ExactAttribute) << QByteArray("a&b\"c'd<e>f")
                                << QByteArray("a&amp;b&quot;c&apos;d&lt;e&gt;f");
        QTest::newRow("entity kept literal")
            << int(XmlEscaping::ExactAttribute) << QByteArray("&amp;") << QByteArray("&amp;amp;");
        QTest::newRow("line breaks") << int(XmlEscaping::ExactAttribute) << QByteArray("a\tb\nc\r\n")
                                     << QByteArray("a&#9;b&#10;c&#13;&#10;");
        QTest::newRow("forbidden controls") << int(XmlEscaping::ExactAttribute)
                                            << QByteArray("a\x01\x08\x0B\x0C\x1F"
                                                          "b\x7F")
                                            << QByteArray("ab\x7F");
        QTest::newRow("non-ascii") << int(XmlEscaping::ExactAttribute)
                                   << QByteArray("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80")
                                   << QByteArray("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
        QTest::newRow("broken utf-8")
            << int(XmlEscaping::ExactAttribute) << QByteArray("a\xC3(\xFF\xED\xA0\x80z")
            << QByteArray("a\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz");
        QTest::newRow("truncated sequence") << int(XmlEscaping::ExactAttribute) << QByteArray("a\xE2\x82")
                                            << QByteArray("a\xEF\xBF\xBD\xEF\xBF\xBD");
        QTest::newRow("non-characters")
            << int(XmlEscaping::ExactAttribute) << QByteArray("a\xEF\xBF\xBE\xEF\xBF\xBF\xEF\xBF\xBD")
            << QByteArray("a\xEF\xBF\xBD");
        QTest::newRow("text: blanks and apostrophe stay")
            << int(XmlEscaping::Text) << QByteArray("a\tb\nc\r 'd' \"e\" <f> & \x01")
            << QByteArray("a\tb\nc\r 'd' &quot;e&quot; &lt;f&gt; &amp; ");
        QTest::newRow("text: broken utf-8")
            << int(XmlEscaping::Text) << QByteArray("a\xC3(\xEF\xBF\xBE") << QByteArray("a\xEF\xBF\xBD(");
    }
    void escaping() {
        QFETCH(int, how);
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, escaped);
        QCOMPARE(XmlEscaped(value, XmlEscaping(how)), escaped);
        QByteArray buffer(value.size() * kXmlEscapedGrowth, '\0');
        const char* end =
            EscapeXmlInto(buffer.data(), std::string_view(value.constData(), value.size()), XmlEscaping(how));
        QCOMPARE(QByteArray(buffer.constData(), end - buffer.constData()), escaped);
    }

    void bareAmpersands_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<bool>("decodeNamed");
        QTest::addColumn<QByteArray>("mended");
        QTest::newRow("bare") << QByteArray("<a href=\"?x=1&y=2\">R&D &</a>") << false
                              << QByteArray("<a href=\"?x=1&amp;y=2\">R&amp;D &amp;</a>");
        QTest::newRow("references kept") << QByteArray("<a>&amp; &#233; &#xE9; &eacute;</a>") << false
                                         << QByteArray("<a>&amp; &#233; &#xE9; &eacute;</a>");
        QTest::newRow("broken references") << QByteArray("<a>&#; &#x; &#12 &;</a>") << false
                                           << QByteArray("<a>&amp;#; &amp;#x; &amp;#12 &amp;;</a>");
        QTest::newRow("cdata, comment, instruction")
            << QByteArray("<?p a&b?><a><![CDATA[a&b]]><!-- a&b -->a&b</a>") << false
            << QByteArray("<?p a&b?><a><![CDATA[a&b]]><!-- a&b -->a&amp;b</a>");
        QTest::newRow("unclosed cdata")
            << QByteArray("<a><![CDATA[a&b") << false << QByteArray("<a><![CDATA[a&b");
        QTest::newRow("named, decoded") << QByteArray("<a>&amp;&eacute;&nosuch;</a>") << true
                                        << QByteArray("<a>&amp;&#233;&amp;nosuch;</a>");
        const QString utf16 = QStringLiteral("<a>R&D &amp; &eacute;</a>");
        QTest::newRow("utf-16le, named kept")
            << QByteArray("\xFF\xFE") +
                   QByteArray(reinterpret_cast<const char*>(utf16.utf16()), utf16.size() * 2)
            << true
            << QByteArray("\xFF\xFE") +
                   QByteArray(reinterpret_cast<const char*>(u"<a>R&amp;D &amp; &eacute;</a>"), 29 * 2);
    }
    void bareAmpersands() {
        QFETCH(QByteArray, document);
        QFETCH(bool, decodeNamed);
        QFETCH(QByteArray, mended);
        std::function<std::optional<QByteArray>(QByteArrayView)> named;
        if (decodeNamed) {
            named = [](QByteArrayView reference) -> std::optional<QByteArray> {
                if (reference == "&amp;")
                    return reference.toByteArray();
                if (reference == "&eacute;")
                    return QByteArray("&#233;");
                return std::nullopt;
            };
        }
        QByteArray text = document;
        QCOMPARE(MendBareAmpersands(text, named), mended != document);
        QCOMPARE(text, mended);
    }
};

PELLAVO_TEST_MAIN(TestXmlText)
#include "tst_XmlText.moc"
