#include "shell/CTrayIcon.h"
#include "testsupport.h"

#include <QAction>
#include <QMenu>
#include <QSignalSpy>

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

PELLAVO_TEST_MAIN(TestTrayIcon)
#include "tst_TrayIcon.moc"
