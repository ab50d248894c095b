#include "shell/CTrayIcon.h"

#include "PrivateBus.h"
#include "testsupport.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMenu>
#include <QSignalSpy>

// The watcher of a notification area that hosts StatusNotifierItems, as a panel runs it.
class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems MEMBER m_lstItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)
public:
    QStringList m_lstItems;
    bool IsStatusNotifierHostRegistered() const { return true; }
    int ProtocolVersion() const { return 0; }
public slots:
    // An item names its service, or its object path on the caller's connection.
    void RegisterStatusNotifierItem(const QString& strItem, const QDBusMessage& message) {
        m_lstItems << (strItem.startsWith(u'/') ? message.service() : strItem);
    }
    void RegisterStatusNotifierHost(const QString&) {}
};

class TestTrayIcon : public QObject {
    Q_OBJECT
private slots:
    void menuAndTip();
    void menuCommandsSignal_data();
    void menuCommandsSignal();
    void mouseActions_data();
    void mouseActions();
    void tipFromString_data();
    void tipFromString();
    void showAndRemove();
    void hostActivationOpens_data();
    void hostActivationOpens();
};

void TestTrayIcon::menuAndTip() {
    CTrayIcon tray;
    QCOMPARE(tray.ToolTip(), QStringLiteral("Pellavo"));
    const QList<QAction*> actions = tray.Menu()->actions();
    QCOMPARE(actions.size(), 4);
    QCOMPARE(actions[0]->text(), QStringLiteral("&Open"));
    QCOMPARE(actions[1]->text(), QStringLiteral("&About"));
    QVERIFY(actions[2]->isSeparator());
    QCOMPARE(actions[3]->text(), QStringLiteral("E&xit"));
    QCOMPARE(tray.Menu()->defaultAction(), actions[0]);
    QVERIFY(actions[0]->font().bold());
    QVERIFY(!actions[1]->font().bold());
    QCOMPARE(tray.SystemTrayIcon()->contextMenu(), tray.Menu());
    const QIcon icon = tray.SystemTrayIcon()->icon();
    QVERIFY(!icon.isNull());
    for (int side : {16, 22, 24, 32, 48, 64, 128, 256})
        QCOMPARE(icon.pixmap(QSize(side, side), 1.0).size(), QSize(side, side));
}

void TestTrayIcon::menuCommandsSignal_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<QByteArray>("signal");
    QTest::newRow("Open") << 0 << QByteArray(SIGNAL(openRequested()));
    QTest::newRow("About") << 1 << QByteArray(SIGNAL(aboutRequested()));
    QTest::newRow("Exit") << 3 << QByteArray(SIGNAL(exitRequested()));
}

void TestTrayIcon::menuCommandsSignal() {
    QFETCH(int, position);
    QFETCH(QByteArray, signal);
    CTrayIcon tray;
    QSignalSpy open(&tray, &CTrayIcon::openRequested);
    QSignalSpy about(&tray, &CTrayIcon::aboutRequested);
    QSignalSpy exit(&tray, &CTrayIcon::exitRequested);
    QSignalSpy expected(&tray, signal.constData());
    tray.Menu()->actions()[position]->trigger();
    QCOMPARE(expected.size(), 1);
    QCOMPARE(open.size() + about.size() + exit.size(), 1);
}

void TestTrayIcon::mouseActions_data() {
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<bool>("opens");
    QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << true;
    QTest::newRow("single click") << QSystemTrayIcon::Trigger << false;
    QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << false;
    QTest::newRow("context menu") << QSystemTrayIcon::Context << false;
    QTest::newRow("unknown") << QSystemTrayIcon::Unknown << false;
}

void TestTrayIcon::mouseActions() {
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    QFETCH(bool, opens);
    CTrayIcon tray;
    QSignalSpy open(&tray, &CTrayIcon::openRequested);
    QSignalSpy about(&tray, &CTrayIcon::aboutRequested);
    QSignalSpy exit(&tray, &CTrayIcon::exitRequested);
    // The desktop reports clicks through the icon's activated() signal.
    emit tray.SystemTrayIcon()->activated(reason);
    QCOMPARE(open.size(), opens ? 1 : 0);
    QCOMPARE(tray.HandleTrayMessage(reason), opens);
    QCOMPARE(open.size(), opens ? 2 : 0);
    QCOMPARE(about.size() + exit.size(), 0);
}

void TestTrayIcon::tipFromString_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("tip");
    QTest::newRow("document string") << CTrayIcon::kDocumentString << QStringLiteral("Pellavo");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("one line") << QStringLiteral("Feeds") << QStringLiteral("Feeds");
    QTest::newRow("63") << QString(63, QLatin1Char('x')) << QString(63, QLatin1Char('x'));
    QTest::newRow("64 cut") << QString(64, QLatin1Char('y')) << QString(63, QLatin1Char('y'));
}

void TestTrayIcon::tipFromString() {
    QFETCH(QString, text);
    QFETCH(QString, tip);
    QCOMPARE(CTrayIcon::TipFromString(text), tip);
}

void TestTrayIcon::showAndRemove() {
    CTrayIcon tray;
    QVERIFY(!tray.IsShown());
    // Headless there is no notification area; the icon still keeps its state, so the
    // owner can tell whether to hide or minimise on Close.
    QCOMPARE(tray.ShowIcon(), QSystemTrayIcon::isSystemTrayAvailable());
    QVERIFY(tray.IsShown());
    tray.RemoveIcon();
    QVERIFY(!tray.IsShown());
}

namespace {

// Starts a display server of the test's own for the platform, and points `env` at it.
bool StartDisplay(const QString& strPlatform, QProcess& server, QProcessEnvironment& env) {
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), strPlatform);
    if (strPlatform == QLatin1String("xcb")) {
        server.start(QStringLiteral("Xvfb"),
                     {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24"});
        if (!server.waitForReadyRead(10000))
            return false;
        env.insert(QStringLiteral("DISPLAY"), u':' + QString::fromLatin1(server.readLine().trimmed()));
        return true;
    }
    // A compositor without a screen, in the test's own runtime folder.
    const QString strSocket = QStringLiteral("pellavo-tray-test");
    server.start(QStringLiteral("weston"),
                 {"--backend=headless-backend.so", "--use-pixman", "--socket=" + strSocket, "--idle-time=0"});
    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), strSocket);
    const QString strPath = qEnvironmentVariable("XDG_RUNTIME_DIR") + u'/' + strSocket;
    QElapsedTimer timer;
    timer.start();
    while (!QFileInfo::exists(strPath) && server.state() != QProcess::NotRunning && timer.elapsed() < 10000)
        QTest::qWait(20);
    return QFileInfo::exists(strPath);
}

} // namespace

void TestTrayIcon::hostActivationOpens_data() {
    QTest::addColumn<QString>("platform");
    QTest::newRow("X11") << QStringLiteral("xcb");
    QTest::newRow("Wayland") << QStringLiteral("wayland");
}

// On a StatusNotifierItem host a click on the icon reaches the program as the item's
// Activate call, which Qt reports as a Trigger: that opens the window. So it is on X11 and
// on Wayland alike.
void TestTrayIcon::hostActivationOpens() {
    QFETCH(QString, platform);
    // Qt puts its icon on such a host only on a real display: a display server of the test's own.
    QProcess display;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QVERIFY2(StartDisplay(platform, display, env), "the display server did not start");
    const QString strAddress =
        QStringLiteral("unix:path=") + QDir::temp().filePath(QStringLiteral("tray_bus"));
    std::optional<PrivateBus> bus(std::in_place, strAddress);
    QVERIFY(bus->IsRunning());
    FakeWatcher watcher;
    {
        QDBusConnection host = QDBusConnection::connectToBus(strAddress, QStringLiteral("host"));
        QVERIFY(host.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                    QDBusConnection::ExportAllContents));
        QVERIFY(host.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));

        QProcess program;
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), strAddress);
        // libxkbcommon-x11 reads X11 strings that are not NUL-terminated with strndup, which
        // AddressSanitizer's strict string checks take for an overflow in the system library.
        if (env.contains(QStringLiteral("ASAN_OPTIONS")))
            env.insert(QStringLiteral("ASAN_OPTIONS"),
                       env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":strict_string_checks=0"));
        program.setProcessEnvironment(env);
        QByteArray output;
        connect(&program, &QProcess::readyReadStandardOutput,
                [&] { output += program.readAllStandardOutput(); });
        program.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tray_probe"));
        QTRY_VERIFY_WITH_TIMEOUT(output.contains("STATUS-NOTIFIER\n"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(watcher.m_lstItems.size(), 1, 30000);
        QVERIFY(!output.contains("OPENED"));

        QDBusMessage activate = QDBusMessage::createMethodCall(
            watcher.m_lstItems.first(), QStringLiteral("/StatusNotifierItem"),
            QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"));
        activate << 0 << 0;
        const QDBusPendingReply<> reply = host.asyncCall(activate);
        QTRY_VERIFY_WITH_TIMEOUT(reply.isFinished(), 10000);
        QVERIFY2(!reply.isError(), qPrintable(reply.error().message()));
        QTRY_VERIFY_WITH_TIMEOUT(output.contains("OPENED\n"), 10000);
        program.kill();
        program.waitForFinished();
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("host"));
    bus.reset();
    display.terminate();
    display.waitForFinished();
}

PELLAVO_TEST_MAIN(TestTrayIcon)
#include "tst_TrayIcon.moc"
