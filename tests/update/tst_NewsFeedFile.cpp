#include "testsupport.h"
#include "update/NewsFeedFile.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

using namespace pellavo::test;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

QByteArray utf16le(const QString& text) {
    QByteArray out;
    for (const QChar c : text) {
        out.append(char(c.unicode() & 0xFF));
        out.append(char(c.unicode() >> 8));
    }
    return out;
}

// A file that accepts only so many bytes, as a full disk does.
class FailingFile : public QFile {
public:
    FailingFile(const QString& path, qint64 capacity) : QFile(path), m_capacity(capacity) {}

protected:
    qint64 writeData(const char* data, qint64 size) override {
        if (m_written + size > m_capacity) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        m_written += size;
        return QFile::writeData(data, size);
    }

private:
    qint64 m_capacity;
    qint64 m_written = 0;
};

} // namespace

class TestNewsFeedFile : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString writeTemp(const QString& name, const QByteArray& bytes) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            return QString();
        return path;
    }

private slots:
    void cleaning_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QByteArray>("content");
        const QByteArray xml = "<?xml version=\"1.0\"?>\n";
        QTest::newRow("nothing to clean") << xml + "<rss version=\"2.0\"/>" << xml + "<rss version=\"2.0\"/>";
        QTest::newRow("doctype at the start stays")
            << QByteArray("<!DOCTYPE rss><rss/>") << QByteArray("<!DOCTYPE rss><rss/>");
        QTest::newRow("doctype removed")
            << xml + "<!DOCTYPE rss PUBLIC \"-//N//DTD RSS 0.91//EN\" \"x.dtd\">\n<rss/>" << xml + "\n<rss/>";
        QTest::newRow("internal subset with entities")
            << xml + "<!DOCTYPE rss [<!ENTITY a \"b\"><!ENTITY c \"<d>\">]><rss>&a;</rss>"
            << xml + "<rss>&a;</rss>";
        QTest::newRow("unterminated doctype stays")
            << xml + "<!DOCTYPE rss [<!ENTITY a \"b\"" << xml + "<!DOCTYPE rss [<!ENTITY a \"b\"";
        QTest::newRow("quotes are not recognised")
            << QByteArray("<x><!DOCTYPE a \"b>c\"><y/>") << QByteArray("<x>c\"><y/>");
        QTest::newRow("default namespace removed")
            << xml + "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>T</title></feed>"
            << xml + "<feed ><title>T</title></feed>";
        QTest::newRow("version, blank, namespace") << QByteArray("<x><rss version=\"2.0\" xmlns=\"urn:a\">")
                                                   << QByteArray("<x><rss version=\"2.0\" >");
        QTest::newRow("only the first of two namespaces")
            << QByteArray("<a xmlns=\"urn:1\"><b xmlns=\"urn:2\"/></a>")
            << QByteArray("<a ><b xmlns=\"urn:2\"/></a>");
        QTest::newRow("prefixed namespace stays")
            << QByteArray("<a xmlns:atom=\"urn:1\"/>") << QByteArray("<a xmlns:atom=\"urn:1\"/>");
        QTest::newRow("namespace at the start stays")
            << QByteArray("xmlns=\"urn:1\" <a/>") << QByteArray("xmlns=\"urn:1\" <a/>");
        QTest::newRow("empty namespace") << QByteArray("<rss xmlns=\"\" version=\"2.0\"><t>\"q\"</t></rss>")
                                         << QByteArray("<rss  version=\"2.0\"><t>\"q\"</t></rss>");
        QTest::newRow("doctype and namespace")
            << xml + "<!DOCTYPE feed>\n<feed xmlns=\"urn:a\"/>" << xml + "\n<feed />";
        QTest::newRow("unterminated doctype, namespace")
            << QByteArray("<?x?><!DOCTYPE [ <a xmlns=\"u\">") << QByteArray("<?x?><!DOCTYPE [ <a >");
        QTest::newRow("zero byte after the namespace is cut")
            << QByteArray("<a><feed xmlns=\"x\">\0tail", 24) << QByteArray("<a><feed >");
        QTest::newRow("unclosed namespace, zero byte")
            << QByteArray("<a xmlns=\"abc\0zz", 16) << QByteArray("<a xmlns=\"abc");
        QTest::newRow("zero byte, nothing found: whole file")
            << QByteArray("<a>\0<b xmlns=\"x\"/>", 18) << QByteArray("<a>\0<b xmlns=\"x\"/>", 18);
        const QByteArray utf16 =
            "\xFF\xFE" +
            utf16le(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?><!DOCTYPE rss><rss "
                                   "xmlns=\"urn:a\"/>"));
        QTest::newRow("UTF-16 passes through") << utf16 << utf16;
    }

    void cleaning() {
        QFETCH(QByteArray, document);
        QFETCH(QByteArray, content);
        QCOMPARE(NewsFeedFile::CleanFeedDocument(document), content);
    }

    void layout_data() {
        QTest::addColumn<bool>("sync");
        QTest::addColumn<QByteArray>("channel");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("the 24-byte example") << false << QByteArray() << "a/b" << QByteArray("xy")
                                             << hex("09560100 00000000 06000000 61002F006200 02000000 7879");
        QTest::newRow("channel block")
            << true << QByteArray("<o/>") << "a" << QByteArray("z")
            << hex("09560100 01000000 04000000 3C6F2F3E 02000000 6100 01000000 7A");
        QTest::newRow("switch on, no channel file") << true << QByteArray() << "a" << QByteArray("z")
                                                    << hex("09560100 00000000 02000000 6100 01000000 7A");
        QTest::newRow("switch off, channel ignored") << false << QByteArray("<o/>") << "a" << QByteArray("z")
                                                     << hex("09560100 00000000 02000000 6100 01000000 7A");
        QTest::newRow("ten ASCII characters")
            << false << QByteArray() << "http://a/b" << QByteArray("c")
            << hex("09560100 00000000 14000000 68007400740070003A002F002F0061002F006200 01000000 63");
        QTest::newRow("non-ASCII address as UTF-16")
            << false << QByteArray() << QString::fromUtf8("\xC3\xA4\xE2\x82\xAC\xF0\x9F\x93\xB0")
            << QByteArray("c") << hex("09560100 00000000 08000000 E400 AC20 3DD8 F0DC 01000000 63");
    }

    void layout() {
        QFETCH(bool, sync);
        QFETCH(QByteArray, channel);
        QFETCH(QString, url);
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, bytes);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        NewsFeedWriter writer(buffer);
        QVERIFY(writer.WriteHeader(sync, channel));
        QVERIFY(writer.AppendRecord(url, content));
        QCOMPARE(buffer.data().toHex(' '), bytes.toHex(' '));
    }

    void headerFromChannelFile_data() {
        QTest::addColumn<bool>("sync");
        QTest::addColumn<QString>("channelFile");
        QTest::addColumn<QByteArray>("header");
        QTest::newRow("present") << true << "present.cha" << hex("09560100 01000000 03000000 616263");
        QTest::newRow("missing") << true << "missing.cha" << hex("09560100 00000000");
        QTest::newRow("empty") << true << "empty.cha" << hex("09560100 00000000");
        QTest::newRow("switch off") << false << "present.cha" << hex("09560100 00000000");
    }

    void headerFromChannelFile() {
        QFETCH(bool, sync);
        QFETCH(QString, channelFile);
        QFETCH(QByteArray, header);
        QVERIFY(!writeTemp(QStringLiteral("present.cha"), "abc").isEmpty());
        QVERIFY(!writeTemp(QStringLiteral("empty.cha"), "").isEmpty());
        const QString out = m_dir.filePath(QStringLiteral("header.nff"));
        const int fd = ::open(QFile::encodeName(out).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        QVERIFY(fd >= 0);
        NewsFeedWriter writer(fd);
        QVERIFY(writer.WriteHeaderFromChannelFile(sync, m_dir.filePath(channelFile)));
        ::close(fd);
        QCOMPARE(readFile(out), header);
    }

    void appendFeedContent() {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        NewsFeedWriter writer(buffer);
        const QString feed = writeTemp(QStringLiteral("NEW1.tmp"), "<?xml?><rss xmlns=\"u\"/>");
        QCOMPARE(AppendFeedContent(writer, QStringLiteral("a"), feed), AppendResult::Written);
        QCOMPARE(buffer.data(), hex("02000000 6100 0E000000") + "<?xml?><rss />");

        buffer.buffer().clear();
        buffer.seek(0);
        const QString empty = writeTemp(QStringLiteral("NEW2.tmp"), "");
        QCOMPARE(AppendFeedContent(writer, QStringLiteral("a"), empty), AppendResult::NoContent);
        QCOMPARE(AppendFeedContent(writer, QStringLiteral("a"), m_dir.filePath(QStringLiteral("gone.tmp"))),
                 AppendResult::NoContent);
        QCOMPARE(AppendFeedContent(writer, QStringLiteral("a"), m_dir.path()), AppendResult::NoContent);
        QVERIFY(buffer.data().isEmpty());
    }

    // A failed write leaves the file as it was before the record, so it stays well framed.
    void writeErrors() {
        const QString path = m_dir.filePath(QStringLiteral("full.nff"));
        FailingFile file(path, 8 + 20);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        NewsFeedWriter writer(file);
        QVERIFY(writer.WriteHeader(false, QByteArray()));
        QVERIFY(writer.AppendRecord(QStringLiteral("a"), "0123456789"));
        QVERIFY(!writer.AppendRecord(QStringLiteral("b"), "0123456789"));
        QVERIFY(writer.ErrorString().contains(QLatin1String("No space")));
        file.close();
        QCOMPARE(readFile(path), hex("09560100 00000000 02000000 6100 0A000000") + "0123456789");

        const QString feed = writeTemp(QStringLiteral("NEW3.tmp"), "<rss/>");
        const int fd = ::open("/dev/full", O_WRONLY);
        QVERIFY(fd >= 0);
        NewsFeedWriter full(fd);
        QVERIFY(!full.WriteHeader(true, "abc"));
        QVERIFY(!full.ErrorString().isEmpty());
        QCOMPARE(AppendFeedContent(full, QStringLiteral("a"), feed), AppendResult::WriteError);
        ::close(fd);
    }

    void roundTrip() {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        NewsFeedWriter writer(buffer);
        const QByteArray channel = "<?xml version=\"1.0\"?><opml><body><outline/></body></opml>";
        const QList<QPair<QString, QByteArray>> records = {
            {QStringLiteral("https://example.com/rss"), "<rss/>"},
            {QString::fromUtf8("http://b\xC3\xBC\x63her.example/\xF0\x9F\x93\xB0"), QByteArray("\0\1\2", 3)},
            {QStringLiteral("c"), QByteArray(100000, 'x')},
        };
        QVERIFY(writer.WriteHeader(true, channel));
        for (const auto& [url, content] : records)
            QVERIFY(writer.AppendRecord(url, content));
        buffer.close();

        buffer.open(QIODevice::ReadOnly);
        NewsFeedReader reader(buffer);
        QVERIFY(reader.ReadHeader());
        QVERIFY(reader.SyncFlag());
        QCOMPARE(reader.ChannelFile(), channel);
        NewsFeedReader::Record record;
        for (const auto& [url, content] : records) {
            QVERIFY2(reader.ReadNext(record), qPrintable(reader.ErrorString()));
            QCOMPARE(record.url, url);
            QCOMPARE(record.content, content);
        }
        QVERIFY(!reader.ReadNext(record));
        QVERIFY(reader.AtEnd());
        QVERIFY(!reader.HasError());
    }

    void malformed_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << QByteArray() << qint64(0) << "the signature";
        QTest::newRow("wrong signature") << hex("0A560100 00000000") << qint64(0) << "the signature 87561";
        QTest::newRow("no flag") << hex("09560100 0000") << qint64(4) << "the synchronize flag";
        QTest::newRow("flag 2") << hex("09560100 02000000") << qint64(4) << "0 or 1";
        QTest::newRow("short channel block") << hex("09560100 01000000 64000000 616263") << qint64(12)
                                             << "the channel block (100 bytes), but the file ends after 3";
        QTest::newRow("short URL length") << hex("09560100 00000000 0600") << qint64(8) << "URL length";
        QTest::newRow("odd URL length")
            << hex("09560100 00000000 03000000 610062") << qint64(8) << "even URL length";
        QTest::newRow("short URL") << hex("09560100 00000000 06000000 6100") << qint64(12)
                                   << "the record's URL";
        QTest::newRow("no content length")
            << hex("09560100 00000000 02000000 6100") << qint64(14) << "content length";
        QTest::newRow("short content") << hex("09560100 00000000 02000000 6100 FFFFFFFF 7879") << qint64(18)
                                       << "the record's content (4294967295 bytes)";
    }

    void malformed() {
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, offset);
        QFETCH(QString, expected);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        NewsFeedReader reader(buffer);
        NewsFeedReader::Record record;
        const bool headerRead = reader.ReadHeader();
        if (headerRead)
            QVERIFY(!reader.ReadNext(record));
        QVERIFY(reader.HasError());
        QVERIFY(!reader.AtEnd());
        QCOMPARE(reader.ErrorOffset(), offset);
        QVERIFY2(reader.ErrorString().contains(expected), qPrintable(reader.ErrorString()));
        QVERIFY(reader.ErrorString().startsWith(QStringLiteral("offset %1: expected ").arg(offset)));
    }

    // A file cut anywhere but between records is reported; cut between records it is a
    // shorter well-formed file.
    void everyTruncation() {
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        NewsFeedWriter writer(out);
        QVERIFY(writer.WriteHeader(true, "<opml/>"));
        QList<qint64> boundaries = {out.size()};
        for (int i = 0; i < 3; ++i) {
            QVERIFY(writer.AppendRecord(QStringLiteral("u%1").arg(i), QByteArray(i * 3 + 1, 'c')));
            boundaries << out.size();
        }
        const QByteArray whole = out.data();
        for (qint64 cut = 0; cut <= whole.size(); ++cut) {
            QByteArray bytes = whole.left(cut);
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::ReadOnly);
            NewsFeedReader reader(buffer);
            int records = 0;
            if (reader.ReadHeader()) {
                NewsFeedReader::Record record;
                while (reader.ReadNext(record))
                    ++records;
            }
            const qsizetype boundary = boundaries.indexOf(cut);
            QCOMPARE(reader.HasError(), boundary < 0);
            if (boundary >= 0)
                QCOMPARE(records, int(boundary));
        }
    }
};

PELLAVO_TEST_MAIN(TestNewsFeedFile)
#include "tst_NewsFeedFile.moc"
