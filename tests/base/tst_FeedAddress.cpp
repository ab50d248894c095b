#include "base/FeedAddress.h"
#include "testsupport.h"

class TestFeedAddress : public QObject {
    Q_OBJECT

private slots:
    // What goes out on the wire, what the cache files it under and which host it counts against.
    void addresses_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("cacheKey");
        QTest::addColumn<QString>("hostKey");
        QTest::newRow("http") << "http://example.com/feed.xml" << QByteArray("http://example.com/feed.xml")
                              << QByteArray("http://example.com/feed.xml") << "example.com";
        QTest::newRow("upper-case scheme") << "HTTP://Example.com/a" << QByteArray("http://Example.com/a")
                                           << QByteArray("http://Example.com/a") << "example.com";
        QTest::newRow("https") << "https://example.com/rss" << QByteArray("https://example.com/rss")
                               << QByteArray("https://example.com/rss") << "example.com";
        QTest::newRow("mixed-case https")
            << "HtTpS://example.com/rss" << QByteArray("https://example.com/rss")
            << QByteArray("https://example.com/rss") << "example.com";
        QTest::newRow("no scheme") << "example.com/rss.xml" << QByteArray("http://example.com/rss.xml")
                                   << QByteArray("http://example.com/rss.xml") << "example.com";
        QTest::newRow("http later on")
            << "example.com/http/feed" << QByteArray("http://example.com/http/feed")
            << QByteArray("http://example.com/http/feed") << "example.com";
        QTest::newRow("no slash") << "http://example.com" << QByteArray("http://example.com/")
                                  << QByteArray("http://example.com/") << "example.com";
        QTest::newRow("port and query")
            << "example.com:8080/p?q=1#top" << QByteArray("http://example.com:8080/p?q=1#top")
            << QByteArray("http://example.com:8080/p?q=1") << "example.com";
        QTest::newRow("feed://") << "feed://example.com/rss" << QByteArray("http://example.com/rss")
                                 << QByteArray("http://example.com/rss") << "example.com";
        QTest::newRow("feed:https://")
            << "feed:https://example.com/rss" << QByteArray("https://example.com/rss")
            << QByteArray("https://example.com/rss") << "example.com";
        QTest::newRow("FEED:HTTP://") << "FEED:HTTP://example.com/rss" << QByteArray("http://example.com/rss")
                                      << QByteArray("http://example.com/rss") << "example.com";
        QTest::newRow("blanks around")
            << "  https://example.com/a \n"
            << QByteArray("https://example.com/a") << QByteArray("https://example.com/a") << "example.com";
        QTest::newRow("blank and non-ASCII in path")
            << QString::fromUtf8("http://example.com/a b/\xC3\xA4")
            << QByteArray("http://example.com/a%20b/%C3%A4") << QByteArray("http://example.com/a%20b/%C3%A4")
            << "example.com";
        QTest::newRow("user name and port")
            << "http://me@Feeds.Example:81/x" << QByteArray("http://me@Feeds.Example:81/x")
            << QByteArray("http://me@Feeds.Example:81/x") << "feeds.example";
        QTest::newRow("IPv6 literal") << "http://[::1]:8080/x" << QByteArray("http://[::1]:8080/x")
                                      << QByteArray("http://[::1]:8080/x") << "[::1]";
        QTest::newRow("empty host") << "https:///feed" << QByteArray() << QByteArray() << "";
        QTest::newRow("empty") << "" << QByteArray() << QByteArray() << "";
    }

    void addresses() {
        QFETCH(QString, address);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, cacheKey);
        QFETCH(QString, hostKey);
        QCOMPARE(FeedAddress::RequestUrl(address), request);
        QCOMPARE(FeedAddress::CacheKey(address), cacheKey);
        QCOMPARE(FeedAddress::HostKey(address), hostKey);
    }
};

PELLAVO_TEST_MAIN(TestFeedAddress)
#include "tst_FeedAddress.moc"
