#include "shell/CDlgSplash.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSignalSpy>
#include <QThread>

class TestSplash : public QObject {
    Q_OBJECT
private slots:
    void showsPictureFramelessCentredOnTop();
    void goesAfterMinimumTimeNotBefore();
    void goesAtFirstIdleAfterBusyStartUp();
    void idleCheckBeforeShowAndAfterClose();
};

void TestSplash::showsPictureFramelessCentredOnTop() {
    CDlgSplash splash;
    splash.ShowSplash();
    QVERIFY(splash.isVisible());
    QCOMPARE(splash.size(), QSize(225, 277));
    const Qt::WindowFlags flags = splash.windowFlags();
    QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
    QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
    const QLabel* picture = splash.findChild<QLabel*>();
    QVERIFY(picture);
    QCOMPARE(picture->pixmap().size(), QSize(225, 277));
    QCOMPARE(splash.geometry().center(), QGuiApplication::primaryScreen()->geometry().center());
}

void TestSplash::goesAfterMinimumTimeNotBefore() {
    CDlgSplash splash;
    QSignalSpy dismissed(&splash, &CDlgSplash::dismissed);
    QElapsedTimer clock;
    clock.start();
    splash.ShowSplash();
    // A busy but responsive start-up: the loop turns over constantly, and still the
    // splash must not go early.
    while (dismissed.isEmpty() && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCOMPARE(dismissed.size(), 1);
    QVERIFY2(clock.elapsed() > CDlgSplash::kMinimumShowMs, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!splash.isVisible());
}

void TestSplash::goesAtFirstIdleAfterBusyStartUp() {
    CDlgSplash splash;
    QSignalSpy dismissed(&splash, &CDlgSplash::dismissed);
    splash.ShowSplash();
    // Start-up blocks the event loop for longer than the minimum time.
    QThread::msleep(CDlgSplash::kMinimumShowMs + 150);
    QVERIFY(splash.isVisible());
    QElapsedTimer clock;
    clock.start();
    QVERIFY(dismissed.wait(1000));
    QVERIFY2(clock.elapsed() < 200, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!splash.isVisible());
}

void TestSplash::idleCheckBeforeShowAndAfterClose() {
    CDlgSplash splash;
    QCOMPARE(splash.ShownForMs(), -1);
    QVERIFY(!splash.OnIdle());
    splash.ShowSplash();
    QVERIFY(splash.ShownForMs() >= 0);
    QVERIFY(splash.OnIdle()); // still within its time: asks for more idle checks
    QVERIFY(splash.isVisible());
    splash.close(); // closed early by someone else: nothing left to do
    QVERIFY(!splash.OnIdle());
}

PELLAVO_TEST_MAIN(TestSplash)
#include "tst_Splash.moc"
