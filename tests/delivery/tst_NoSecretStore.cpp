// A session bus where no secret store serves nor can be started: mail with a password cannot
// be set up, a delivery that needs one says why and waits, and no password lands in a file.
#include "base/Settings.h"
#include "delivery/Deliverer.h"
#include "delivery/SecretStore.h"
#include "delivery/ui/CDlgDelivery.h"
#include "delivery/ui/DeliveryController.h"
#include "testsupport.h"
#include "update/ui/UpdateController.h"

#include <QApplication>
#include <QDBusConnection>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

class tst_NoSecretStore : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_bus;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // The standard session configuration would start GNOME Keyring on demand; this bus
        // knows no services at all, like a desktop without any secret store.
        const QString config = m_dir.filePath("bus.conf");
        pellavo::test::writeFile(
            config, "<busconfig><type>session</type><listen>" + qgetenv("DBUS_SESSION_BUS_ADDRESS") +
                        "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow "
                        "send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow "
                        "own=\"*\"/></policy></busconfig>");
        m_bus.start("dbus-daemon", {"--nofork", "--print-address", "--config-file=" + config});
        QVERIFY(m_bus.waitForReadyRead(10000));
        QVERIFY(QDBusConnection::sessionBus().isConnected());
    }

    void cleanupTestCase() {
        m_bus.terminate();
        m_bus.waitForFinished(5000);
    }

    void noSecretStore() {
        QString reason;
        QVERIFY(!SecretStore::IsAvailable(&reason));
        QVERIFY2(reason.startsWith("No secret store answers"), qPrintable(reason));
        QVERIFY(!SecretStore::StorePassword("127.0.0.1:587", "reader", "secret", &reason));

        // The dialog says so and takes no user name nor password; one set earlier stays.
        const QString ini = m_dir.filePath("settings.ini");
        Settings settings(ini);
        Settings::Delivery earlier;
        earlier.smtpUser = "reader";
        settings.SetDeliverySettings(earlier);
        Clock clock;
        UpdateController update(settings, clock);
        DeliveryController delivery(settings, update);
        bool seen = false;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<CDlgDelivery*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            seen = true;
            auto* user = dialog->findChild<QLineEdit*>("smtpUser");
            QVERIFY(!user->isEnabled() && !dialog->findChild<QLineEdit*>("password")->isEnabled());
            QCOMPARE(user->text(), QStringLiteral("reader"));
            bool told = false;
            for (const QLabel* label : dialog->findChildren<QLabel*>())
                told = told || (label->isVisible() && label->text().startsWith("No secret store answers") &&
                                label->text().contains("without a user name"));
            QVERIFY(told);
            dialog->findChild<QLineEdit*>("folder")->setText(m_dir.filePath("Sync"));
            QTest::keyClick(dialog, Qt::Key_Return);
        });
        delivery.OnDelivery(nullptr);
        QVERIFY(seen);
        QCOMPARE(settings.DeliverySettings().smtpUser, QStringLiteral("reader"));
        QCOMPARE(settings.DeliverySettings().folder, m_dir.filePath("Sync"));

        // A mail that needs the password waits in the outbox and says why.
        Deliverer::Options options;
        options.outboxPath = m_dir.filePath("outbox.sqlite");
        options.settings.smtpHost = "127.0.0.1";
        options.settings.smtpUser = "reader";
        options.settings.mailTo = "kindle@example.com";
        options.settings.mailFrom = "me@example.org";
        const QString edition = m_dir.filePath("news.epub");
        pellavo::test::writeFile(edition, "book");
        const QList<DeliveryReport> reports =
            Deliverer(options).Run(edition, {1, 1}, QDateTime::currentDateTime());
        QCOMPARE(reports.size(), 1);
        QCOMPARE(reports.first().line,
                 QStringLiteral("Mail failed: No secret store answers (GNOME Keyring or KWallet)"));
        QCOMPARE(Deliverer(options).FilesStillWaiting(QDateTime::currentDateTime()), QStringList{edition});
    }
};

PELLAVO_TEST_MAIN(tst_NoSecretStore)
#include "tst_NoSecretStore.moc"
