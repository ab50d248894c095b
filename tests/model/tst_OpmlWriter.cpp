#include "ModelTestUtil.h"
#include "model/OpmlWriter.h"
#include "testsupport.h"

#include <QBuffer>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace pellavo::test;

namespace {

const QByteArray kPrologue =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<opml version=\"1.0\">\r\n<head>\r\n"
    "<title>News Subscriptions</title>\r\n</head>\r\n<body>\r\n";
const QByteArray kEpilogue = "</body>\r\n</opml>\r\n";

QByteArray write(const COutlineItem* root, OpmlForm form) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!WriteOpml(buffer, ModelOutlineTree(root), form))
        qFatal("writing to memory failed");
    return buffer.data();
}

// A tree with every case that the two forms write differently.
std::unique_ptr<COutlineItem> sampleTree() {
    std::unique_ptr<COutlineItem> root(makeItem("My Subscriptions"));
    COutlineItem* group = makeItem("Group");
    COutlineItem::SetString(group->m_pszDescription, "d");
    COutlineItem::SetString(group->m_pszText, "gt");
    COutlineItem::SetString(group->m_pszType, "folder");
    root->AppendChild(group);
    COutlineItem* feed = makeItem("F1", "x");
    COutlineItem::SetString(feed->m_pszType, "rss");
    COutlineItem::SetString(feed->m_pszHtmlUrl, "h");
    COutlineItem::SetString(feed->m_pszDescription, "fd");
    COutlineItem::SetString(feed->m_pszText, "ft");
    COutlineItem::SetString(feed->m_pszVersion, "RSS2");
    group->AppendChild(feed);
    group->AppendChild(makeItem("Empty group"));
    COutlineItem* textOnly = new COutlineItem;
    COutlineItem::SetString(textOnly->m_pszText, "OnlyText");
    textOnly->AppendChild(makeItem(nullptr, "u2"));
    root->AppendChild(textOnly);
    COutlineItem* feedWithChildren = makeItem("H", "lost");
    feedWithChildren->AppendChild(makeItem("F3", ""));
    root->AppendChild(feedWithChildren);
    root->AppendChild(makeItem("", "u"));
    return root;
}

} // namespace

class TestOpmlWriter : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

private slots:
    void emptyTree() {
        COutlineItem root;
        QCOMPARE(write(&root, OpmlForm::Channel), kPrologue + kEpilogue);
        QCOMPARE(write(nullptr, OpmlForm::Export), kPrologue + kEpilogue);
    }

    void forms_data() {
        QTest::addColumn<int>("form");
        QTest::addColumn<QByteArray>("outlines");
        QTest::newRow("channel") << int(OpmlForm::Channel)
                                 << QByteArray(
                                        "<outline title=\"Group\" description=\"d\" text=\"gt\">\r\n"
                                        "<outline title=\"F1\" type=\"rss\" htmlurl=\"h\" xmlurl=\"x\" "
                                        "description=\"fd\" text=\"ft\"/>\r\n"
                                        "</outline>\r\n"
                                        "<outline text=\"OnlyText\">\r\n"
                                        "<outline xmlurl=\"u2\"/>\r\n"
                                        "</outline>\r\n"
                                        "<outline title=\"H\">\r\n"
                                        "<outline title=\"F3\" xmlurl=\"\"/>\r\n"
                                        "</outline>\r\n"
                                        "<outline title=\"\" xmlurl=\"u\"/>\r\n");
        QTest::newRow("export") << int(OpmlForm::Export)
                                << QByteArray("<outline title=\"Group\" description=\"d\" text=\"gt\">\r\n"
                                              "<outline title=\"F1\" type=\"rss\" htmlUrl=\"h\" xmlUrl=\"x\" "
                                              "description=\"fd\" text=\"ft\"/>\r\n"
                                              "</outline>\r\n"
                                              "<outline text=\"OnlyText\">\r\n"
                                              "<outline xmlUrl=\"u2\"/>\r\n"
                                              "</outline>\r\n"
                                              "<outline title=\"H\" text=\"H\">\r\n"
                                              "<outline title=\"F3\" xmlUrl=\"\" text=\"F3\"/>\r\n"
                                              "</outline>\r\n"
                                              "<outline title=\"\" xmlUrl=\"u\" text=\"\"/>\r\n");
    }
    void forms() {
        QFETCH(int, form);
        auto root = sampleTree();
        QFETCH(QByteArray, outlines);
        QCOMPARE(write(root.get(), OpmlForm(form)), kPrologue + outlines + kEpilogue);

        QBuffer one;
        one.open(QIODevice::WriteOnly);
        QVERIFY(
            WriteOutline(one, ModelOutlineTree(root.get()), root->m_pFirstChild->m_pNext, OpmlForm(form)));
        QVERIFY(one.data().startsWith("<outline text=\"OnlyText\">\r\n"));
        QVERIFY(one.data().endsWith("/>\r\n</outline>\r\n"));
    }

    // Whatever the writer accepts must come back unchanged from the reader.
    void awkwardValuesSurviveAReload() {
        std::unique_ptr<COutlineItem> root(makeItem("My Subscriptions"));
        const QByteArray title = "tab\there\nnew\r\nline \"q\" 'a' <b> & &amp; \xC3\xA9";
        root->AppendChild(makeItem(title.constData(), "x"));
        root->AppendChild(makeItem("bad\x01\x02", "y"));
        const QString file = path("awkward.opml");
        QVERIFY(WriteOpmlFile(file, ModelOutlineTree(root.get())));
        Model model = loadQuietly(file);
        QVERIFY2(model.ok, qPrintable(model.error.reason));
        QCOMPARE(QByteArray(model.root->m_pFirstChild->m_pszTitle), title);
        QCOMPARE(QByteArray(model.root->m_pFirstChild->m_pNext->m_pszTitle), QByteArray("bad"));
    }

    void roundTripIsStable_data() {
        QTest::addColumn<int>("formIndex");
        QTest::newRow("channel") << int(OpmlForm::Channel);
        QTest::newRow("export") << int(OpmlForm::Export);
    }
    void roundTripIsStable() {
        QFETCH(int, formIndex);
        const OpmlForm form = OpmlForm(formIndex);
        const QString fixture = dataDir() + QStringLiteral("/roundtrip.opml");
        Model first = loadQuietly(fixture);
        QVERIFY2(first.ok, qPrintable(first.error.reason));
        const QString once = path("once.opml");
        QVERIFY(WriteOpmlFile(once, ModelOutlineTree(first.root.get()), form));
        if (form == OpmlForm::Channel)
            QCOMPARE(readFile(once), readFile(fixture));

        Model second = loadQuietly(once);
        QVERIFY(second.ok);
        QCOMPARE(shape(second.root->m_pFirstChild), shape(first.root->m_pFirstChild));
        QCOMPARE(write(second.root.get(), form), readFile(once));

        const COutlineItem* ars = second.root->m_pFirstChild->m_pFirstChild;
        QCOMPARE(ars->m_pszDescription, "Line one\nLine two\r\n\tindented");
        QCOMPARE(ars->m_pszXmlUrl, "https://feeds.arstechnica.com/arstechnica/index?format=xml&x=1");
        const COutlineItem* textOnly = second.root->m_pFirstChild->m_pNext;
        QCOMPARE(textOnly->m_pszText, "Ryhmä vain tekstinä");
        QCOMPARE(textOnly->m_pFirstChild->m_pNext->m_pszDescription, "NHK 😀");
    }

    void failingDevice_data() {
        QTest::addColumn<qint64>("limit");
        QTest::newRow("nothing") << qint64(0);
        QTest::newRow("within the first block") << qint64(100);
        QTest::newRow("after the first block") << qint64(600000);
        QTest::newRow("one byte short") << qint64(-1);
    }
    void failingDevice() {
        QFETCH(qint64, limit);
        std::unique_ptr<COutlineItem> root(makeItem("My Subscriptions"));
        const QByteArray title = "A feed with a fairly long title, number ";
        COutlineItem* last = makeItem(title + "0", "https://example.org/feed/0");
        root->AppendChild(last);
        for (int i = 1; i < 10000; ++i) {
            const QByteArray n = QByteArray::number(i);
            COutlineItem* next = makeItem(title + n, "https://example.org/feed/" + n);
            root->InsertChildAfter(next, last);
            last = next;
        }
        const qint64 size = write(root.get(), OpmlForm::Channel).size();
        QVERIFY(size > 1000000);
        FailingBuffer device(limit < 0 ? size + limit : limit);
        device.open(QIODevice::WriteOnly);
        QVERIFY(!WriteOpml(device, ModelOutlineTree(root.get())));
    }

    void writeOpmlFile() {
        auto root = sampleTree();
        const QString file = path("subscriptions.opml");
        writeFile(file, "previous");
        QString error;
        QVERIFY(WriteOpmlFile(file, ModelOutlineTree(root.get()), OpmlForm::Channel, &error));
        QCOMPARE(readFile(file), write(root.get(), OpmlForm::Channel));

        QVERIFY(!WriteOpmlFile(path("no-such-folder/x.opml"), ModelOutlineTree(root.get()), OpmlForm::Channel,
                               &error));
        QVERIFY(!error.isEmpty());

        // A folder in the way cannot be replaced; nothing beside it may be left behind.
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("taken/in-the-way")));
        error.clear();
        QVERIFY(!WriteOpmlFile(path("taken/in-the-way"), ModelOutlineTree(root.get()), OpmlForm::Channel,
                               &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(QDir(path("taken")).entryList(QDir::Files | QDir::Hidden).size(), 0);
    }

    void largeFiles_data() {
        QTest::addColumn<bool>("deep");
        QTest::addColumn<int>("count");
        QTest::newRow("100,000 siblings") << false << 100000;
        QTest::newRow("10,000 levels") << true << 10000;
    }
    void largeFiles() {
        QFETCH(bool, deep);
        QFETCH(int, count);
        QByteArray body;
        for (int i = 0; i < count; ++i)
            body += deep ? "<outline title=\"g\">\n" : "<outline title=\"f\" xmlUrl=\"https://e.org/\"/>\n";
        if (deep)
            body += "<outline title=\"f\" xmlUrl=\"https://e.org/\"/>\n" +
                    QByteArray("</outline>\n").repeated(count);
        Model model = loadQuietly(writeFile(path("large.opml"), opml(body)));
        QVERIFY2(model.ok, qPrintable(model.error.reason));

        int found = 0;
        for (const COutlineItem* item = model.root->m_pFirstChild; item;
             item = deep ? item->m_pFirstChild : item->m_pNext)
            ++found;
        QCOMPARE(found, deep ? count + 1 : count);

        const QString saved = path("large-saved.opml");
        QVERIFY(WriteOpmlFile(saved, ModelOutlineTree(model.root.get())));
        Model again = loadQuietly(saved);
        QVERIFY(again.ok);
        QCOMPARE(write(again.root.get(), OpmlForm::Channel), readFile(saved));
        model.root.reset();
        again.root.reset();
    }

    // Another program must find every feed of an export, with its folders, through nothing
    // but a conforming XML parser: Python's, walking the outlines as readers do.
    void xmlParserFindsEveryFeedOfTheExport() {
        const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
        if (python.isEmpty())
            QSKIP("python3 is not installed");
        Model model = loadQuietly(dataDir() + QStringLiteral("/roundtrip.opml"));
        QVERIFY(model.ok);
        QTemporaryDir home;
        const QString file = home.filePath(QStringLiteral("export.opml"));
        QVERIFY(WriteOpmlFile(file, ModelOutlineTree(model.root.get()), OpmlForm::Export));

        const char* walk = R"(import sys, xml.etree.ElementTree as ET
def walk(node, path):
    for child in node.findall('outline'):
        url = child.get('xmlUrl')
        if url:
            print(url + (' "' + '/'.join(path) + '"' if path else ''))
        else:
            walk(child, path + [child.get('text') or child.get('title') or ''])
walk(ET.parse(sys.argv[1]).getroot().find('body'), [])
)";
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PYTHONIOENCODING"), QStringLiteral("utf-8"));
        process.setProcessEnvironment(environment);
        process.start(python, {QStringLiteral("-c"), QString::fromUtf8(walk), file});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 0);
        const QByteArray urls = process.readAllStandardOutput();
        const QList<QByteArray> expected = {
            R"(https://feeds.arstechnica.com/arstechnica/index?format=xml&x=1 "Technology & Science")",
            R"(https://www.heise.de/rss/heise-atom.xml "Technology & Science")",
            R"(https://example.org/feed?a=1&b=<2> "Technology & Science/Programming")",
            R"(https://feeds.yle.fi/uutiset/v1/majorHeadlines/YLE_UUTISET.rss "Ryhmä vain tekstinä")",
            R"(https://www3.nhk.or.jp/rss/news/cat0.xml "Ryhmä vain tekstinä")",
            R"(https://lenta.ru/rss "Новости")",
            "https://www.aljazeera.net/rss",
        };
        const QList<QByteArray> lines = urls.trimmed().split('\n');
        for (const QByteArray& line : expected)
            QVERIFY2(lines.contains(line), line.constData());
    }
};

PELLAVO_TEST_MAIN(TestOpmlWriter)
#include "tst_OpmlWriter.moc"
