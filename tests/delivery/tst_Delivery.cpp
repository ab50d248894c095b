// Delivery against real servers on loopback: aiosmtpd with STARTTLS, TLS and AUTH, GNOME
// Keyring and a KDE Connect of the test's own, both on a private session bus.
#include "PrivateBus.h"
#include "TestHttpServer.h"
#include "base/AppPaths.h"
#include "base/Settings.h"
#include "delivery/Deliverer.h"
#include "delivery/Outbox.h"
#include "delivery/SecretStore.h"
#include "delivery/ui/CDlgDelivery.h"
#include "delivery/ui/DeliveryController.h"
#include "desktop/KdeConnect.h"
#include "edition/ArticleHistory.h"
#include "testsupport.h"
#include "update/ui/CDlgProgress.h"
#include "update/ui/UpdateController.h"

#include <QApplication>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <zip.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <memory>
#include <thread>

namespace {

const QString kScripts = QStringLiteral(PELLAVO_DELIVERY_TESTS);
const QString kUser = QStringLiteral("reader");
const QString kPassword = QStringLiteral("s3cret pass");

int FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// A book of the size asked for: a mimetype entry first, then incompressible padding; as a
// `book`, the padding is the picture of a chapter that the package lists.
QString MakeEdition(const QString& path, qint64 padding = 1000, bool book = false) {
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    const auto add = [archive](const char* name, const char* text) {
        zip_file_add(archive, name, zip_source_buffer(archive, text, strlen(text), 0), 0);
    };
    add("mimetype", "application/epub+zip");
    if (book) {
        add("META-INF/container.xml",
            "<?xml version=\"1.0\"?><container version=\"1.0\" "
            "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles><rootfile "
            "full-path=\"EPUB/package.opf\" "
            "media-type=\"application/oebps-package+xml\"/></rootfiles></container>");
        add("EPUB/package.opf",
            "<?xml version=\"1.0\"?><package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" "
            "unique-identifier=\"id\"><metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:identifier "
            "id=\"id\">x</dc:identifier><dc:title>T</dc:title><dc:language>en</dc:language></"
            "metadata><manifest>"
            "<item id=\"a\" href=\"a.xhtml\" media-type=\"application/xhtml+xml\"/><item id=\"p\" "
            "href=\"images/p.jpg\" media-type=\"image/jpeg\"/></manifest><spine><itemref "
            "idref=\"a\"/></spine>"
            "</package>");
        add("EPUB/a.xhtml",
            "<?xml version=\"1.0\"?><html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>A"
            "</title></head><body><p>See <img src=\"images/p.jpg\" alt=\"the harbour\"/></p></body>"
            "</html>");
    }
    auto* bytes = static_cast<char*>(malloc(size_t(padding)));
    for (qint64 i = 0; i < padding; ++i)
        bytes[i] = char(QRandomGenerator::global()->generate());
    const zip_int64_t index = zip_file_add(archive, book ? "EPUB/images/p.jpg" : "OEBPS/padding.bin",
                                           zip_source_buffer(archive, bytes, zip_uint64_t(padding), 1), 0);
    zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_STORE, 0);
    zip_close(archive);
    return path;
}

// Mail to kindle@example.com through a server on this machine, without TLS or AUTH.
Settings::Delivery LoopbackMail(int port) {
    Settings::Delivery delivery;
    delivery.mailTo = "kindle@example.com";
    delivery.mailFrom = "me@example.org";
    delivery.smtpHost = "127.0.0.1";
    delivery.smtpPort = port;
    delivery.smtpSecurity = "none";
    return delivery;
}

// aiosmtpd in a process of its own; every message it takes lands in `folder`.
class SmtpServer {
public:
    SmtpServer(const QString& mode, int port, const QString& folder, const QString& cert, const QString& key)
        : m_folder(folder), m_port(port) {
        QDir().mkpath(folder);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        {kScripts + QStringLiteral("/smtp_server.py"), mode, QString::number(port), folder,
                         cert, key, kUser, kPassword});
        while (m_process.waitForReadyRead(10000)) {
            if (m_process.readAll().contains("READY"))
                return;
        }
        qWarning("mail server did not start");
    }
    ~SmtpServer() {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished();
    }
    int Port() const { return m_port; }
    QStringList Mails() const {
        QStringList mails;
        for (const QString& name :
             QDir(m_folder).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name))
            mails << QDir(m_folder).filePath(name);
        return mails;
    }

private:
    QString m_folder;
    int m_port;
    QProcess m_process;
};

QString Run(const QString& program, const QStringList& args, const QByteArray& input = {}) {
    QProcess process;
    process.start(program, args);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// KDE Connect's daemon with one paired phone, in reach or not.
class FakeDaemon : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.kdeconnect.daemon")
public:
    bool reachable = false;
public slots:
    QStringList devices(bool onlyReachable, bool) const {
        return !onlyReachable || reachable ? QStringList{QStringLiteral("phone1")} : QStringList();
    }
};
class FakeDevice : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.kdeconnect.device")
    Q_PROPERTY(QString name READ name)
public:
    QString name() const { return QStringLiteral("Pixel"); }
};
class FakeShare : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.kdeconnect.device.share")
public:
    QStringList shared;
public slots:
    void shareUrl(const QString& url) { shared << url; }
};

// The desktop's notification service, served on the session bus while it lives.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList told;
    bool Serve() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        return bus.registerObject("/org/freedesktop/Notifications", this, QDBusConnection::ExportAllSlots) &&
               bus.registerService("org.freedesktop.Notifications");
    }
    ~FakeNotifications() override {
        QDBusConnection::sessionBus().unregisterService("org.freedesktop.Notifications");
        QDBusConnection::sessionBus().unregisterObject("/org/freedesktop/Notifications");
    }
public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        told << summary + QLatin1Char('|') + body;
        return uint(told.size());
    }
};

} // namespace

class tst_Delivery : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<PrivateBus> m_bus;
    QProcess m_keyring;
    QString m_cert, m_key, m_otherCert, m_otherKey;

    QString Path(const QString& name) const { return m_dir.filePath(name); }

    Deliverer::Options MailOptions(int port, const QString& security, const QString& outbox) const {
        Deliverer::Options options;
        options.outboxPath = Path(outbox);
        options.tempFolder = m_dir.path();
        options.settings.smtpHost = QStringLiteral("127.0.0.1");
        options.settings.smtpPort = port;
        options.settings.smtpSecurity = security;
        options.settings.smtpUser = kUser;
        options.settings.smtpCaFile = m_cert;
        options.settings.mailTo = QStringLiteral("kindle@example.com");
        options.settings.mailFrom = QStringLiteral("Pellavo, Väinö <me@example.org>");
        options.timeoutSeconds = 10;
        return options;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        for (const QString& name : {QStringLiteral("server"), QStringLiteral("other")}) {
            QProcess openssl;
            openssl.start(QStringLiteral("openssl"),
                          {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                           "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost", "-keyout",
                           Path(name + ".key"), "-out", Path(name + ".pem")});
            QVERIFY(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
        }
        m_cert = Path("server.pem");
        m_key = Path("server.key");
        m_otherCert = Path("other.pem");
        m_otherKey = Path("other.key");

        // GNOME Keyring on a private bus, its keyring in the test's home.
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY(m_bus->IsRunning());
        m_keyring.start(QStringLiteral("gnome-keyring-daemon"),
                        {"--foreground", "--unlock", "--components=secrets"});
        QVERIFY(m_keyring.waitForStarted());
        m_keyring.write("keyring-password");
        m_keyring.closeWriteChannel();
        QTRY_VERIFY_WITH_TIMEOUT(
            QDBusConnection::sessionBus().interface()->isServiceRegistered("org.freedesktop.secrets"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(SecretStore::IsAvailable(), 10000);
    }

    void cleanupTestCase() {
        m_keyring.terminate();
        m_keyring.waitForFinished(5000);
        m_bus.reset();
    }

    // What secret-tool stores, the program finds, and what it stores, secret-tool finds.
    void secretStore() {
        const QString server = SecretStore::ServerKey("127.0.0.1", 2525);
        Run("secret-tool",
            {"store", "--label=Pellavo mail", "service", "pellavo-smtp", "server", server, "user", "alice"},
            "from secret-tool");
        QCOMPARE(SecretStore::LookupPassword(server, "alice"), QStringLiteral("from secret-tool"));
        QVERIFY(SecretStore::StorePassword(server, "bob", "from Pellavo"));
        QCOMPARE(Run("secret-tool", {"lookup", "service", "pellavo-smtp", "server", server, "user", "bob"}),
                 QStringLiteral("from Pellavo"));
        QVERIFY(SecretStore::LookupPassword(server, "nobody").isNull());
    }

    void mail_data() {
        QTest::addColumn<QString>("security");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QString>("expected"); // the end text's line
        QTest::newRow("starttls") << "starttls" << kPassword << true << "Mailed to kindle@example.com";
        QTest::newRow("tls") << "tls" << kPassword << true << "Mailed to kindle@example.com";
        QTest::newRow("none, loopback") << "none" << kPassword << true << "Mailed to kindle@example.com";
        QTest::newRow("wrong password") << "starttls"
                                        << "wrong" << true << "Mail failed: 535";
        QTest::newRow("untrusted certificate")
            << "tls" << kPassword << false << "Mail failed: The mail server's certificate is not trusted";
    }

    void mail() {
        QFETCH(QString, security);
        QFETCH(QString, password);
        QFETCH(bool, trusted);
        QFETCH(QString, expected);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_').remove(',');
        SmtpServer server(security, FreePort(), Path(tag + "-mails"), trusted ? m_cert : m_otherCert,
                          trusted ? m_key : m_otherKey);
        Deliverer::Options options = MailOptions(server.Port(), security, tag + ".sqlite");
        QVERIFY(
            SecretStore::StorePassword(SecretStore::ServerKey("127.0.0.1", server.Port()), kUser, password));
        // The edition as a run leaves it: in place, and recorded in the history with its time.
        const QString edition = Path(tag + "/news-2026-12-08-0630.epub");
        QVERIFY(QDir().mkpath(Path(tag)));
        const QDateTime made(QDate(2026, 12, 8), QTime(6, 30));
        QVERIFY(edition::ArticleHistory(options.outboxPath)
                    .PublishEdition({1, edition, made, 42, 3}, MakeEdition(edition + ".part"), {}));
        const QList<DeliveryReport> reports =
            Deliverer(options).Run(edition, {3, 42}, QDateTime::currentDateTime());
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports.first().line.startsWith(expected), qPrintable(reports.first().line));
        if (!reports.first().ok) {
            QVERIFY(server.Mails().isEmpty());
            // A failure waits in the outbox, and the user hears of it once.
            QCOMPARE(Outbox(options.outboxPath).FilesStillWaiting(QDateTime::currentDateTime()),
                     QStringList{edition});
            QVERIFY(reports.first().firstFailure);
            QVERIFY(
                !Deliverer(options).Run(QString(), {}, QDateTime::currentDateTime()).first().firstFailure);
            return;
        }
        QCOMPARE(server.Mails().size(), 1);
        const QString book = Path(tag + "-attachment.epub");
        const QString read =
            Run("/usr/bin/python3", {kScripts + "/read_mail.py", server.Mails().first(), book});
        QVERIFY2(read.contains("subject: Pellavo News – " +
                               QLocale().toString(made.date(), QLocale::LongFormat) + ", 06:30"),
                 qPrintable(read));
        QVERIFY2(read.contains("date: yes") && read.contains("message-id: yes"), qPrintable(read));
        QVERIFY2(read.contains("from: \"Pellavo, Väinö\" <me@example.org>"), qPrintable(read));
        QVERIFY2(read.contains("42 new articles from 3 feeds"), qPrintable(read));
        QVERIFY2(read.contains("attachment: application/epub+zip news-2026-12-08-0630.epub"),
                 qPrintable(read));
        QCOMPARE(Run("unzip", {"-p", book, "mimetype"}), QStringLiteral("application/epub+zip"));
        QCOMPARE(pellavo::test::readFile(book), pellavo::test::readFile(edition));
        QVERIFY(Outbox(options.outboxPath).FilesStillWaiting(QDateTime::currentDateTime()).isEmpty());
        // Each edition reaches each target once.
        QVERIFY(Deliverer(options).Run(edition, {3, 42}, QDateTime::currentDateTime()).isEmpty());
        QCOMPARE(server.Mails().size(), 1);
    }

    // The server is down: the edition waits in the outbox; once it is up, the outbox delivers;
    // three days later a waiting delivery is given up.
    void outboxRetries() {
        const int port = FreePort();
        Deliverer::Options options = MailOptions(port, "starttls", "retries.sqlite");
        options.password = [](const QString&, const QString&, QString*) { return kPassword; };
        const QString edition = MakeEdition(Path("news-retry.epub"));
        const QDateTime start = QDateTime::currentDateTime();
        QList<DeliveryReport> reports = Deliverer(options).Run(edition, {1, 2}, start);
        QCOMPARE(reports.size(), 1);
        QCOMPARE(reports.first().line, QStringLiteral("Mail failed: Connection refused"));
        QCOMPARE(Deliverer(options).FilesStillWaiting(start), QStringList{edition});

        SmtpServer server("starttls", port, Path("retry-mails"), m_cert, m_key);
        reports = Deliverer(options).Run(QString(), {}, start.addSecs(15 * 60));
        QCOMPARE(reports.size(), 1);
        QVERIFY(reports.first().ok);
        QCOMPARE(server.Mails().size(), 1);
        QVERIFY(Deliverer(options).FilesStillWaiting(start).isEmpty());

        // Never tried again after three days.
        const QString late = MakeEdition(Path("news-late.epub"));
        Deliverer::Options down = options;
        down.settings.smtpPort = FreePort();
        QVERIFY(!Deliverer(down).Run(late, {1, 2}, start).first().ok);
        QVERIFY(Deliverer(options).Run(QString(), {}, start.addDays(3).addSecs(60)).isEmpty());
        QCOMPARE(server.Mails().size(), 1);
        QCOMPARE(Outbox(options.outboxPath).Recent(1).first().state, Outbox::State::Expired);
    }

    // A kill -9 in the middle of a mail leaves it in the outbox; the next pass sends it.
    void killDuringDelivery() {
        QTcpServer silent; // takes the connection and never greets
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        const QString outbox = Path("killed.sqlite");
        const QString edition = MakeEdition(Path("news-killed.epub"));
        QProcess probe;
        probe.start(QStringLiteral(PELLAVO_DELIVERY_PROBE),
                    {outbox, edition, QString::number(silent.serverPort()), "kindle@example.com"});
        QVERIFY(probe.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(outbox) && !Outbox(outbox).Recent(1).isEmpty() &&
                                     Outbox(outbox).Recent(1).first().state == Outbox::State::Attempting,
                                 10000);
        ::kill(pid_t(probe.processId()), SIGKILL);
        QVERIFY(probe.waitForFinished());
        QCOMPARE(Outbox(outbox).FilesStillWaiting(QDateTime::currentDateTime()), QStringList{edition});

        SmtpServer server("none", FreePort(), Path("killed-mails"), m_cert, m_key);
        Deliverer::Options options = MailOptions(server.Port(), "none", "killed.sqlite");
        options.settings.smtpUser.clear();
        const QList<DeliveryReport> reports =
            Deliverer(options).Run(QString(), {}, QDateTime::currentDateTime());
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports.first().ok, qPrintable(reports.first().reason));
        QCOMPARE(server.Mails().size(), 1);
    }

    // Over the limit, a copy without pictures goes (the edition's own, however old it is);
    // still over, the delivery fails for good.
    void sizeLimit_data() {
        QTest::addColumn<qint64>("copySize"); // 0: the real copy of a book
        QTest::addColumn<bool>("delivered");
        QTest::newRow("copy fits") << qint64(200 * 1000) << true;
        QTest::newRow("copy too big") << qint64(1200 * 1000) << false;
        QTest::newRow("the book's own copy") << qint64(0) << true;
    }
    void sizeLimit() {
        QFETCH(qint64, copySize);
        QFETCH(bool, delivered);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_');
        SmtpServer server("none", FreePort(), Path(tag + "-mails"), m_cert, m_key);
        Deliverer::Options options = MailOptions(server.Port(), "none", tag + ".sqlite");
        options.settings.smtpUser.clear();
        options.settings.mailLimitMB = 1;
        if (copySize > 0)
            options.pictureFreeCopy = [copySize](const QString&, const QString& copy, QString*) {
                MakeEdition(copy, copySize);
                return true;
            };
        const QString edition = MakeEdition(Path(tag + ".epub"), 2 * 1000 * 1000, copySize == 0);
        const QList<DeliveryReport> reports =
            Deliverer(options).Run(edition, {1, 1}, QDateTime::currentDateTime());
        QCOMPARE(reports.size(), 1);
        QCOMPARE(reports.first().ok, delivered);
        if (delivered) {
            QCOMPARE(reports.first().line, QStringLiteral("Mailed to kindle@example.com (without pictures)"));
            QCOMPARE(server.Mails().size(), 1);
            QVERIFY(QFileInfo(server.Mails().first()).size() < 1000 * 1000);
            if (copySize == 0) {
                const QString book = Path(tag + "-attachment.epub");
                Run("/usr/bin/python3", {kScripts + "/read_mail.py", server.Mails().first(), book});
                QVERIFY(!Run("unzip", {"-l", book}).contains("images/"));
                QVERIFY(Run("unzip", {"-p", book, "EPUB/a.xhtml"}).contains("<p>See the harbour</p>"));
            }
        } else {
            QVERIFY2(reports.first().reason.contains("too big to mail even without pictures"),
                     qPrintable(reports.first().reason));
            QVERIFY(server.Mails().isEmpty());
            // Trying again cannot mend it.
            QVERIFY(Deliverer(options).FilesStillWaiting(QDateTime::currentDateTime()).isEmpty());
        }
        QCOMPARE(QDir(m_dir.path()).entryList({"mail-*.epub"}), QStringList());
    }

    // The folder gets whole files and keeps as many editions as asked, removing only its own.
    void folderKeepsItsOwn() {
        const QString folder = Path("Sync");
        QVERIFY(QDir().mkpath(folder));
        pellavo::test::writeFile(folder + "/news-mine.epub", "the user's own");
        Deliverer::Options options;
        options.outboxPath = Path("folder.sqlite");
        options.settings.folder = folder;
        options.keep = 2;
        QStringList editions;
        for (int i = 1; i <= 3; ++i) {
            editions << MakeEdition(Path(QStringLiteral("news-2026-12-0%1-0630.epub").arg(i)));
            const QList<DeliveryReport> reports =
                Deliverer(options).Run(editions.last(), {1, 1}, QDateTime::currentDateTime());
            QCOMPARE(reports.size(), 1);
            QCOMPARE(reports.first().line, "Copied to " + folder);
        }
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 QStringList({"news-2026-12-02-0630.epub", "news-2026-12-03-0630.epub", "news-mine.epub"}));
        QCOMPARE(pellavo::test::readFile(folder + "/news-2026-12-03-0630.epub"),
                 pellavo::test::readFile(editions.last()));

        // An edition is its file and its number in the history: touched, it is the same one;
        // a later edition under a name that came free again is a new one.
        QFile touched(editions.last());
        QVERIFY(
            touched.open(QIODevice::ReadWrite) &&
            touched.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
        touched.close();
        QVERIFY(Deliverer(options).Run(editions.last(), {1, 1}, QDateTime::currentDateTime()).isEmpty());
        QCOMPARE(Deliverer(options).Run(editions.last(), {1, 1, 9}, QDateTime::currentDateTime()).size(), 1);

        // A folder that is gone keeps the edition waiting.
        options.settings.folder = Path("Gone");
        const QList<DeliveryReport> reports =
            Deliverer(options).Run(editions.last(), {1, 1}, QDateTime::currentDateTime());
        QVERIFY(!reports.first().ok);
        QVERIFY2(reports.first().reason.contains("does not exist"), qPrintable(reports.first().reason));
        QCOMPARE(Deliverer(options).FilesStillWaiting(QDateTime::currentDateTime()),
                 QStringList{editions.last()});
    }

    // A phone out of reach keeps the edition in the outbox until it is back.
    void kdeConnect() {
        FakeDaemon daemon;
        FakeDevice device;
        FakeShare share;
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(bus.registerObject("/modules/kdeconnect", &daemon, QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerObject("/modules/kdeconnect/devices/phone1", &device,
                                   QDBusConnection::ExportAllProperties));
        QVERIFY(bus.registerObject("/modules/kdeconnect/devices/phone1/share", &share,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService("org.kde.kdeconnect"));
        // The fake answers from this thread's event loop, so the delivery runs on another.
        const auto deliver = [&](const QString& edition) {
            Deliverer::Options options;
            options.outboxPath = Path("kdeconnect.sqlite");
            options.settings.kdeConnectDevice = "phone1";
            QList<DeliveryReport> reports;
            std::atomic_bool done{false};
            std::thread worker([&] {
                reports = Deliverer(options).Run(edition, {1, 1}, QDateTime::currentDateTime());
                done = true;
            });
            QDeadlineTimer deadline(20000);
            while (!done.load() && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            worker.join();
            return reports;
        };
        const QString edition = MakeEdition(Path("news-phone.epub"));
        QList<DeliveryReport> reports = deliver(edition);
        QCOMPARE(reports.size(), 1);
        QCOMPARE(reports.first().line, QStringLiteral("KDE Connect to Pixel failed: Pixel is not in reach"));
        QVERIFY(share.shared.isEmpty());

        daemon.reachable = true;
        reports = deliver(QString());
        QCOMPARE(reports.size(), 1);
        QCOMPARE(reports.first().line, QStringLiteral("Sent to Pixel with KDE Connect"));
        QCOMPARE(share.shared, QStringList{QUrl::fromLocalFile(edition).toString()});
        bus.unregisterService("org.kde.kdeconnect");
    }

    // After a manual run (with "after every run"), its end text says what became of the mail,
    // which tells what the edition holds; a run with nothing new mails nothing. The editions'
    // history and the outbox share one database file, each through a connection of its own.
    void manualRunEndText() {
        pellavo::test::TestHttpServer http;
        QVERIFY2(http.start(), qPrintable(http.errorString()));
        const auto serve = [&http](const QByteArray& items) {
            http.setRoute("/feed",
                          pellavo::test::HttpResponse::ok(
                              "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>T</title>" +
                              items + "</channel></rss>"));
        };
        const QByteArray first =
            "<item><title>Morning</title><guid>a1</guid><description>News.</description></item>";
        serve(first);
        SmtpServer mail("none", FreePort(), Path("run-mails"), m_cert, m_key);
        Settings settings(Path("run.ini"));
        QVERIFY(QDir().mkpath(Path("run")));
        settings.SetFeedFile(Path("run/news.nff"));
        settings.SetEBook(true);
        Settings::Delivery chosen = LoopbackMail(mail.Port());
        chosen.after = 2;
        settings.SetDeliverySettings(chosen);
        Clock clock;
        UpdateController update(settings, clock);
        update.LoadSettings();
        DeliveryController delivery(settings, update);
        delivery.Start();
        const auto run = [&](const QString& endText) {
            update.OnUpdate([&] { return QStringList{http.url("/feed")}; });
            CDlgProgress* dialog = update.ProgressDialog();
            QVERIFY(dialog);
            QTRY_VERIFY_WITH_TIMEOUT(dialog->IsFinished(), 60000);
            QCOMPARE(dialog->m_ctlStatus->text(), endText);
            dialog->accept();
        };
        const auto mailed = [&](int number) {
            const QString edition = DeliveryController::NewestEdition(settings.FeedFile());
            edition::ArticleHistory::Edition recorded;
            QVERIFY(edition::ArticleHistory::FindEdition(AppPaths::HistoryFile(), edition, &recorded));
            QCOMPARE(recorded.number, number);
            const QList<Outbox::Entry> recent = Outbox(AppPaths::HistoryFile()).Recent(1);
            QCOMPARE(recent.size(), 1);
            QCOMPARE(recent.first().edition, edition);
            QCOMPARE(recent.first().state, Outbox::State::Delivered);
            QCOMPARE(mail.Mails().size(), number);
            const QString read = Run("/usr/bin/python3", {kScripts + "/read_mail.py", mail.Mails().last(),
                                                          Path(QStringLiteral("run-%1.epub").arg(number))});
            QVERIFY2(read.contains(": 1 new article from 1 feed."), qPrintable(read));
        };
        run(QStringLiteral("Finished.\nMailed to kindle@example.com"));
        mailed(1);
        run(QStringLiteral("Finished.\nNothing new for the e-book."));
        QCOMPARE(mail.Mails().size(), 1);
        serve(first + "<item><title>Noon</title><guid>a2</guid><description>More.</description></item>");
        run(QStringLiteral("Finished.\nMailed to kindle@example.com"));
        mailed(2);
    }

    // A scheduled run that cannot write its file is recorded and told once, until one succeeds.
    void scheduledRunFailure() {
        FakeNotifications notifications;
        QVERIFY(notifications.Serve());
        Settings settings(Path("failing.ini"));
        settings.SetFeedFile(Path("no-such-folder/news.nff"));
        Clock clock;
        UpdateController update(settings, clock);
        UpdateController::Sources sources;
        sources.collectAll = [] { return QStringList{"http://127.0.0.1:9/feed"}; };
        update.Attach(sources, nullptr);
        update.LoadSettings();
        DeliveryController delivery(settings, update);
        QVERIFY(!update.StartScheduledRun());
        QVERIFY(!update.StartScheduledRun());
        QCOMPARE(notifications.told.size(), 1);
        QVERIFY2(notifications.told.first().startsWith("The scheduled update failed|Failed to create"),
                 qPrintable(notifications.told.first()));
        const QList<Outbox::Entry> recent = Outbox(AppPaths::HistoryFile()).Recent(1);
        QCOMPARE(recent.size(), 1);
        QCOMPARE(recent.first().target, QStringLiteral("run:scheduled"));
        QCOMPARE(recent.first().state, Outbox::State::Failed);
    }

    // Deliver Now says what came of it: what must be mended at once in a "Warning" box, success
    // in a notification, a failure in an "Error" box; so does a cancelled run for its delivery.
    void deliverNowTells() {
        FakeNotifications notifications;
        QVERIFY(notifications.Serve());
        // Every modal box is answered with Return, its caption and text noted.
        QStringList boxes;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&boxes] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << box->windowTitle() + '|' + box->text();
                QTest::keyClick(box, Qt::Key_Return);
            }
        });
        answer.start(20);
        SmtpServer mail("none", FreePort(), Path("now-mails"), m_cert, m_key);
        QVERIFY(QDir().mkpath(Path("now")));
        Settings settings(Path("now.ini"));
        settings.SetFeedFile(Path("now/news.nff"));
        Clock clock;
        UpdateController update(settings, clock);
        update.LoadSettings();
        DeliveryController delivery(settings, update);
        QWidget window;
        delivery.OnDeliverNow(&window);
        QCOMPARE(boxes,
                 QStringList{"Warning|No delivery is set up. Choose where each new e-book goes in View > "
                             "Delivery."});
        Settings::Delivery chosen = LoopbackMail(mail.Port());
        settings.SetDeliverySettings(chosen);
        delivery.OnDeliverNow(&window);
        QVERIFY2(boxes.size() == 2 && boxes.last().startsWith("Warning|There is no e-book to deliver yet"),
                 qPrintable(boxes.join('\n')));

        MakeEdition(Path("now/news-2026-12-08-0630.epub"));
        delivery.OnDeliverNow(&window);
        QTRY_COMPARE_WITH_TIMEOUT(notifications.told,
                                  QStringList{"The news is delivered|Mailed to kindle@example.com"}, 20000);
        QCOMPARE(mail.Mails().size(), 1);

        chosen.mailTo = "kindle@example.com, other@example.com";
        chosen.smtpPort = FreePort();
        settings.SetDeliverySettings(chosen);
        delivery.OnDeliverNow(&window);
        QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 3, 20000);
        QCOMPARE(boxes.last(),
                 QStringLiteral("Error|Mail to other@example.com failed: Connection refused\nPellavo "
                                "tries again every 15 minutes."));

        // A manual run cancelled at once still tries what waits; its dialog is gone by then.
        update.OnUpdate([] { return QStringList{"http://127.0.0.1:9/feed"}; });
        QVERIFY(update.ProgressDialog());
        update.ProgressDialog()->reject();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 4, 20000);
        QCOMPARE(boxes.last(),
                 QStringLiteral("Error|Mail to other@example.com failed: Connection refused\nPellavo "
                                "tries again every 15 minutes."));
        QCOMPARE(notifications.told.size(), 1);

        // Deliver Now while the outbox is tried on its own follows that pass, and is told.
        QTcpServer silent; // takes the connection and never greets
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        chosen.smtpPort = silent.serverPort();
        settings.SetDeliverySettings(chosen);
        delivery.Start();
        QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), 20000);
        delivery.OnDeliverNow(&window);
        QCOMPARE(boxes.size(), 4);
        delete silent.nextPendingConnection();
        silent.close();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 5, 20000);
        QCOMPARE(boxes.last(),
                 QStringLiteral("Error|Mail to other@example.com failed: Connection refused\nPellavo "
                                "tries again every 15 minutes."));
    }

    // Send Test Mail tells its result, unless the dialog was closed while the server took its time.
    void testMailTells_data() {
        QTest::addColumn<bool>("closedWhileSending");
        QTest::newRow("answered") << false;
        QTest::newRow("closed while sending") << true;
    }
    void testMailTells() {
        QFETCH(bool, closedWhileSending);
        CDlgDelivery dialog;
        dialog.m_delivery.mailTo = QStringLiteral("kindle@example.com");
        dialog.m_delivery.mailFrom = QStringLiteral("me@example.org");
        dialog.m_delivery.smtpHost = QStringLiteral("127.0.0.1");
        std::atomic_bool answer{false};
        dialog.m_sendTestMail = [&](const Settings::Delivery&, const QString&) {
            while (!answer.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return QStringLiteral("535 Authentication failed");
        };
        dialog.TransferToControls();
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        auto* button = dialog.findChild<QPushButton*>(QStringLiteral("testMail"));
        QStringList boxes;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << box->windowTitle() + QLatin1Char('|') + box->text();
                box->done(QMessageBox::Ok);
            } else if (!button->isEnabled()) {
                if (closedWhileSending)
                    dialog.reject();
                answer.store(true);
            }
        });
        watch.start(20);
        QTest::keyClick(&dialog, Qt::Key_T, Qt::AltModifier);
        // The mnemonic clicks a moment later; the sending, the answer and the box all pass
        // while this waits.
        QTRY_VERIFY(answer.load());
        QTRY_VERIFY(button->isEnabled());
        QCOMPARE(boxes, closedWhileSending
                            ? QStringList()
                            : QStringList{"Error|The test mail failed: 535 Authentication failed"});
    }

    // Set up with the keyboard alone; the password goes to the secret store, never the file.
    void dialogKeepsNoPassword() {
        const QString ini = Path("settings.ini");
        Settings settings(ini);
        Clock clock;
        UpdateController update(settings, clock);
        DeliveryController delivery(settings, update);
        bool seen = false;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<CDlgDelivery*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QApplication::setActiveWindow(dialog);
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            seen = true;
            const auto type = [dialog](Qt::Key mnemonic, const QString& text) {
                QTest::keyClick(dialog, mnemonic, Qt::AltModifier);
                QWidget* field = QApplication::focusWidget();
                if (auto* edit = qobject_cast<QLineEdit*>(field))
                    edit->clear();
                QTest::keyClicks(field, text);
            };
            type(Qt::Key_M, "kindle@example.com");
            type(Qt::Key_N, "me@example.org");
            type(Qt::Key_V, "127.0.0.1");
            type(Qt::Key_C, m_cert);
            type(Qt::Key_S, kUser);
            type(Qt::Key_W, "never in a file");
            QTest::keyClick(dialog, Qt::Key_D, Qt::AltModifier);
            QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("after"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
            QTest::keyClick(dialog, Qt::Key_Return);
        });
        delivery.OnDelivery(nullptr);
        QVERIFY(seen);
        settings.Sync();
        const QByteArray file = pellavo::test::readFile(ini);
        QVERIFY2(file.contains("SmtpHost=127.0.0.1") && file.contains("After=2") &&
                     file.contains("MailTo=kindle@example.com") &&
                     file.contains("SmtpCaFile=" + QFile::encodeName(m_cert)),
                 file.constData());
        // Nor in any other file: the settings, the history, the caches (the keyring's own file
        // is encrypted).
        for (const QString& root : {QDir::homePath(), m_dir.path()}) {
            QDirIterator files(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (files.hasNext()) {
                const QString path = files.next();
                QVERIFY2(!pellavo::test::readFile(path).contains("never in a file"), qPrintable(path));
            }
        }
        QCOMPARE(SecretStore::LookupPassword(SecretStore::ServerKey("127.0.0.1", 587), kUser),
                 QStringLiteral("never in a file"));
    }
};

PELLAVO_TEST_MAIN(tst_Delivery)
#include "tst_Delivery.moc"
