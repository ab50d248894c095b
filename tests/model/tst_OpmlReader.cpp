#include "ModelTestUtil.h"
#include "model/PellavoDoc.h"
#include "testsupport.h"

#include <QTemporaryDir>

using namespace pellavo::test;

class TestOpmlReader : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

private slots:
    void missingFileGivesEmptyRoot() {
        Model model = loadQuietly(path("does-not-exist.opml"));
        QVERIFY(!model.ok);
        QCOMPARE(model.root->m_pszTitle, "My Subscriptions");
        QVERIFY(!model.root->m_pFirstChild);
        QVERIFY(model.head);
        QCOMPARE(model.error.line, 0);
        QVERIFY(!model.error.reason.isEmpty());
    }

    void attributeNames_data() {
        QTest::addColumn<QByteArray>("outline");
        QTest::addColumn<QByteArray>("title");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("xmlUrl");
        QTest::addColumn<QByteArray>("htmlUrl");

        QTest::newRow("lower") << QByteArray(R"(<outline title="T" xmlurl="x" htmlurl="h"/>)")
                               << QByteArray("T") << QByteArray() << QByteArray("x") << QByteArray("h");
        QTest::newRow("camel") << QByteArray(R"(<outline text="T" xmlUrl="x" htmlUrl="h"/>)") << QByteArray()
                               << QByteArray("T") << QByteArray("x") << QByteArray("h");
        QTest::newRow("upper") << QByteArray(R"(<OUTLINE TEXT="T" XMLURL="x"/>)") << QByteArray()
                               << QByteArray("T") << QByteArray("x") << QByteArray();
        QTest::newRow("mixed") << QByteArray(R"(<Outline tItLe="T" XmLuRl="x" hTMLurl="h"/>)")
                               << QByteArray("T") << QByteArray() << QByteArray("x") << QByteArray("h");
        QTest::newRow("later wins") << QByteArray(R"(<outline title="a" Title="b" xmlUrl="x"/>)")
                                    << QByteArray("b") << QByteArray() << QByteArray("x") << QByteArray();
        QTest::newRow("empty address is a feed")
            << QByteArray(R"(<outline title="" xmlUrl=""/>)") << QByteArray("") << QByteArray()
            << QByteArray("") << QByteArray();
        QTest::newRow("no address is a group")
            << QByteArray(R"(<outline title="G" type="rss"/>)") << QByteArray("G") << QByteArray()
            << QByteArray() << QByteArray();
        QTest::newRow("entities expanded")
            << QByteArray("<outline title=\"a &amp; &#xE9;&lt;\" xmlUrl=\"x\"/>")
            << QByteArray("a & \xC3\xA9<") << QByteArray() << QByteArray("x") << QByteArray();
    }
    void attributeNames() {
        QFETCH(QByteArray, outline);
        Model model = loadQuietly(writeFile(path("names.opml"), opml(outline)));
        QVERIFY(model.ok);
        const COutlineItem* item = model.root->m_pFirstChild;
        QVERIFY(item && !item->m_pNext);
        // Present-but-empty and absent must stay apart, so null-ness is compared too.
        const auto same = [](const char* value, const QByteArray& expected) {
            return value ? !expected.isNull() && expected == value : expected.isNull();
        };
        QFETCH(QByteArray, title);
        QVERIFY(same(item->m_pszTitle, title));
        QFETCH(QByteArray, text);
        QVERIFY(same(item->m_pszText, text));
        QFETCH(QByteArray, xmlUrl);
        QVERIFY(same(item->m_pszXmlUrl, xmlUrl));
        QFETCH(QByteArray, htmlUrl);
        QVERIFY(same(item->m_pszHtmlUrl, htmlUrl));
    }

    void everyFieldAndTheHead() {
        Model model = loadQuietly(writeFile(
            path("fields.opml"),
            "<opml><head><title>Mine</title><dateCreated>Mon</dateCreated><DATEMODIFIED>Tue</DATEMODIFIED>"
            "<ownerName>Ann</ownerName><ownerEmail>a@b</ownerEmail></head><body>"
            R"(<outline title="t" type="rss" htmlUrl="h" xmlUrl="x" text="tx" version="RSS2" description="d"/>)"
            "</body></opml>"));
        QVERIFY(model.ok);
        const COutlineItem* item = model.root->m_pFirstChild;
        QCOMPARE(item->m_pszTitle, "t");
        QCOMPARE(item->m_pszType, "rss");
        QCOMPARE(item->m_pszHtmlUrl, "h");
        QCOMPARE(item->m_pszXmlUrl, "x");
        QCOMPARE(item->m_pszText, "tx");
        QCOMPARE(item->m_pszVersion, "RSS2");
        QCOMPARE(item->m_pszDescription, "d");
        QCOMPARE(model.head->m_pszTitle, "Mine");
        QCOMPARE(model.head->m_pszDateCreated, "Mon");
        QCOMPARE(model.head->m_pszDateModified, "Tue");
        QCOMPARE(model.head->m_pszOwnerName, "Ann");
        QCOMPARE(model.head->m_pszOwnerEmail, "a@b");
        QCOMPARE(model.root->m_pszTitle, "My Subscriptions");
    }

    void structure_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("expectedShape");

        QTest::newRow("nested")
            << opml(R"(<outline title="G"><outline title="A" xmlUrl="a"/>)"
                    R"(<outline title="H"><outline title="B" xmlUrl="b"/></outline></outline>)"
                    R"(<outline title="C" xmlUrl="c"/>)")
            << QStringLiteral("G(A*,H(B*)),C*");
        QTest::newRow("groups only")
            << opml(R"(<outline title="G"/><outline title="H"><outline title="I"/></outline>)")
            << QStringLiteral("G,H(I)");
        QTest::newRow("foreign element inside an outline")
            << opml(R"(<outline title="G"><category>news</category><x:y xmlns:x="u"/>)"
                    R"(<outline title="A" xmlUrl="a"/></outline><outline title="C" xmlUrl="c"/>)")
            << QStringLiteral("G(A*),C*");
        QTest::newRow("outline inside a foreign element")
            << opml(R"(<div><outline title="G"><span><outline title="A" xmlUrl="a"/></span></outline></div>)")
            << QStringLiteral("G(A*)");
        QTest::newRow("outside the body")
            << QByteArray(R"(<outline title="G"><outline title="A" xmlUrl="a"/></outline>)")
            << QStringLiteral("G(A*)");
    }
    void structure() {
        QFETCH(QByteArray, document);
        Model model = loadQuietly(writeFile(path("structure.opml"), document));
        QVERIFY2(model.ok, qPrintable(model.error.reason));
        QFETCH(QString, expectedShape);
        QCOMPARE(shape(model.root->m_pFirstChild), expectedShape);
        for (const COutlineItem* item = model.root->m_pFirstChild; item; item = item->m_pNext)
            QCOMPARE(item->m_pParent, model.root.get());
    }

    void brokenDocuments_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("expectedShape");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("reason");

        QTest::newRow("truncated") << QByteArray(
                                          "<opml>\n<body>\n<outline title=\"G\">\n<outline title=\"A\" "
                                          "xmlUrl=\"a\"/>\n<outline title=\"B\" xmlU")
                                   << QStringLiteral("G(A*)") << 5 << QStringLiteral("unclosed token");
        QTest::newRow("mismatched tag")
            << opml("<outline title=\"A\" xmlUrl=\"a\"/>\n<outline title=\"B\">\n</body>")
            << QStringLiteral("A*,B") << 7 << QStringLiteral("mismatched tag");
        QTest::newRow("empty file") << QByteArray() << QString() << 1 << QStringLiteral("no element found");
        QTest::newRow("unknown multi-byte encoding")
            << opml(R"(<outline title="A" xmlUrl="a"/>)", R"(<?xml version="1.0" encoding="Shift_JIS"?>)")
            << QString() << 1 << QStringLiteral("unknown encoding");
        QTest::newRow("unknown name") << opml(R"(<outline title="A" xmlUrl="a"/>)",
                                              R"(<?xml version="1.0" encoding="no-such-charset"?>)")
                                      << QString() << 1 << QStringLiteral("unknown encoding");
        QTest::newRow("control character")
            << opml("<outline title=\"A\" xmlUrl=\"a\"/>\n<outline title=\"\x01\" xmlUrl=\"b\"/>")
            << QStringLiteral("A*") << 6 << QStringLiteral("not well-formed (invalid token)");
    }
    void brokenDocuments() {
        QFETCH(QByteArray, document);
        Model model = loadQuietly(writeFile(path("broken.opml"), document));
        QVERIFY(!model.ok);
        QFETCH(QString, expectedShape);
        QCOMPARE(shape(model.root->m_pFirstChild), expectedShape);
        QFETCH(int, line);
        QCOMPARE(model.error.line, line);
        QFETCH(QString, reason);
        QCOMPARE(model.error.reason, reason);
    }

    void bareAmpersands_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("expectedShape");

        const QByteArray body = R"(<outline title="A" xmlUrl="http://e.org/?a=1&b=2"/>)"
                                "<outline title=\"B &amp; C &#38; &#x26;\" xmlUrl=\"http://e.org/&\"/>"
                                "<outline title=\"&amp\" xmlUrl=\"http://e.org/&#;&#x;&b c;\"/>";
        QTest::newRow("utf-8") << opml(body) << true << QStringLiteral("A*,B & C & &*,&amp*");
        const QString utf16 = QString::fromUtf8(opml(body, R"(<?xml version="1.0" encoding="UTF-16"?>)"));
        QTest::newRow("utf-16le") << (QByteArray("\xFF\xFE") +
                                      QByteArray(reinterpret_cast<const char*>(utf16.utf16()),
                                                 utf16.size() * 2))
                                  << true << QStringLiteral("A*,B & C & &*,&amp*");
        QTest::newRow("and truncated")
            << QByteArray(R"(<opml><outline title="A" xmlUrl="?a&b"/><outline title="B"/><outline title="C")")
            << false << QStringLiteral("A*,B");
    }
    void bareAmpersands() {
        QFETCH(QByteArray, document);
        Model model = loadQuietly(writeFile(path("amp.opml"), document));
        QFETCH(bool, ok);
        QCOMPARE(model.ok, ok);
        QFETCH(QString, expectedShape);
        QCOMPARE(shape(model.root->m_pFirstChild), expectedShape);
        if (model.ok) {
            const COutlineItem* a = model.root->m_pFirstChild;
            QCOMPARE(a->m_pszXmlUrl, "http://e.org/?a=1&b=2");
            QCOMPARE(a->m_pNext->m_pszXmlUrl, "http://e.org/&");
            QCOMPARE(a->m_pNext->m_pNext->m_pszXmlUrl, "http://e.org/&#;&#x;&b c;");
        }
    }

    void singleByteEncodings_data() {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("title");

        QTest::newRow("windows-1252")
            << QByteArray("windows-1252") << QByteArray("Caf\xE9 \x80") << QStringLiteral(u"Café €");
        QTest::newRow("ISO-8859-2") << QByteArray("ISO-8859-2")
                                    << QByteArray("\xB3\xF3"
                                                  "d\xBC")
                                    << QStringLiteral(u"łódź");
        QTest::newRow("KOI8-R") << QByteArray("koi8-r") << QByteArray("\xF0\xD2\xC9\xD7\xC5\xD4")
                                << QStringLiteral(u"Привет");
        QTest::newRow("ISO-8859-1, known to expat")
            << QByteArray("ISO-8859-1") << QByteArray("\xE9t\xE9") << QStringLiteral(u"été");
    }
    void singleByteEncodings() {
        QFETCH(QByteArray, encoding);
        QFETCH(QByteArray, raw);
        const QByteArray document = opml("<outline title=\"" + raw + "\" xmlUrl=\"x\"/>",
                                         "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>");
        Model model = loadQuietly(writeFile(path("legacy.opml"), document));
        QVERIFY2(model.ok, qPrintable(model.error.reason));
        QVERIFY(model.root->m_pFirstChild);
        QFETCH(QString, title);
        QCOMPARE(QString::fromUtf8(model.root->m_pFirstChild->m_pszTitle), title);
    }

    void utf16() {
        const QString text = QString::fromUtf8(opml(R"(<outline title="日本語 😀" xmlUrl="http://e.org/"/>)",
                                                    R"(<?xml version="1.0" encoding="UTF-16"?>)"));
        for (bool bigEndian : {false, true}) {
            QByteArray bytes = bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
            for (QChar c : text) {
                const char high = char(c.unicode() >> 8), low = char(c.unicode() & 0xFF);
                bytes.append(bigEndian ? high : low).append(bigEndian ? low : high);
            }
            Model model = loadQuietly(writeFile(path("utf16.opml"), bytes));
            QVERIFY2(model.ok, qPrintable(model.error.reason));
            QCOMPARE(QString::fromUtf8(model.root->m_pFirstChild->m_pszTitle), QStringLiteral(u"日本語 😀"));
        }
    }

    // The file is read in fixed chunks; no value may depend on where a chunk ends.
    void chunkBoundaries() {
        const QByteArray title = "\xF0\x9F\x98\x80\xC3\xA9\xE2\x82\xAC"; // 😀é€
        for (int pad = 0; pad < 12; ++pad) {
            const QByteArray head = "<opml><!--" + QByteArray(240 + pad, 'x') + "-->";
            const QByteArray document =
                head + "<outline title=\"" + title + "\" xmlUrl=\"" + title + "\"/></opml>";
            Model model = loadQuietly(writeFile(path("chunks.opml"), document));
            QVERIFY2(model.ok, qPrintable(QString::number(pad) + model.error.reason));
            QCOMPARE(QByteArray(model.root->m_pFirstChild->m_pszTitle), title);
            QCOMPARE(QByteArray(model.root->m_pFirstChild->m_pszXmlUrl), title);
        }
    }

    void billionLaughs() {
        QByteArray dtd = "<!DOCTYPE opml [\n<!ENTITY l0 \"lol\">\n";
        for (int i = 1; i <= 10; ++i)
            dtd += "<!ENTITY l" + QByteArray::number(i) + " \"" +
                   QByteArray("&l" + QByteArray::number(i - 1) + ";").repeated(10) + "\">\n";
        dtd += "]>\n";
        const QByteArray document = "<?xml version=\"1.0\"?>\n" + dtd +
                                    "<opml><body><outline title=\"A\" xmlUrl=\"a\"/>"
                                    "<outline title=\"&l10;\" xmlUrl=\"b\"/></body></opml>";
        Model model = loadQuietly(writeFile(path("laughs.opml"), document));
        QVERIFY(!model.ok);
        QCOMPARE(shape(model.root->m_pFirstChild), QStringLiteral("A*"));
        QVERIFY2(model.error.reason.contains(QStringLiteral("amplification")),
                 qPrintable(model.error.reason));
    }

    void externalEntitiesAreNeverLoaded() {
        writeFile(path("secret.txt"), "SECRET");
        writeFile(path("evil.dtd"), "<!ENTITY leak SYSTEM \"secret.txt\">");
        const QByteArray document = "<?xml version=\"1.0\"?>\n"
                                    "<!DOCTYPE opml SYSTEM \"evil.dtd\" [\n"
                                    "<!ENTITY ext SYSTEM \"secret.txt\">\n"
                                    "<!ENTITY % pe SYSTEM \"evil.dtd\"> %pe;\n]>\n"
                                    "<opml><head><title>&ext;</title><ownerName>&leak;</ownerName></head>"
                                    "<body><outline title=\"A\" xmlUrl=\"a\"/></body></opml>";
        Model model = loadQuietly(writeFile(path("external.opml"), document));
        QCOMPARE(shape(model.root->m_pFirstChild), QStringLiteral("A*"));
        for (const char* value : {model.head->m_pszTitle, model.head->m_pszOwnerName})
            QVERIFY(!value || !QByteArray(value).contains("SECRET"));
    }

    void traceLines() {
        const QString trace = path("trace.txt");
        {
            StdoutRedirect redirect(trace);
            std::unique_ptr<COutlineHead> head;
            std::unique_ptr<COutlineItem> root;
            ParseOutlineFile(
                writeFile(path("trace.opml"), opml(R"(<outline title="A" xmlUrl="a" foo="b"/>)")), head,
                root);
        }
        QCOMPARE(readFile(trace),
                 QByteArray("We got an OPML document.\nAttribute title: A\nAttribute xmlUrl: a\n"
                            "Attribute foo: b\n"));
    }

    void documentLoadsAndReplaces() {
        CPellavoDoc doc;
        QCOMPARE(doc.GetTitle(), QStringLiteral("Corvantis"));
        QVERIFY(doc.m_pRoot && !doc.m_pRoot->m_pszTitle && doc.m_pHead);
        const QString file = writeFile(path("doc.opml"), opml(R"(<outline title="A" xmlUrl="a"/>)"));
        {
            StdoutRedirect quiet;
            QVERIFY(doc.LoadOutline(file));
        }
        QCOMPARE(doc.m_pRoot->m_pszTitle, "My Subscriptions");
        QCOMPARE(shape(doc.m_pRoot->m_pFirstChild), QStringLiteral("A*"));
        OpmlParseError error;
        {
            StdoutRedirect quiet;
            QVERIFY(!doc.LoadOutline(path("missing.opml"), &error));
        }
        QVERIFY(!doc.m_pRoot->m_pFirstChild);
        QVERIFY(!error.reason.isEmpty());
        Model other = loadQuietly(file);
        doc.SetModel(std::move(other.head), std::move(other.root));
        QCOMPARE(shape(doc.m_pRoot->m_pFirstChild), QStringLiteral("A*"));
    }
};

PELLAVO_TEST_MAIN(TestOpmlReader)
#include "tst_OpmlReader.moc"
