#include "testsupport.h"

#include <QProcess>

#include <csignal>

class TestInstanceChecker : public QObject {
    Q_OBJECT

    static QString probe() {
        return QCoreApplication::applicationDirPath() + QStringLiteral("/instance_probe");
    }

    static bool waitForLine(QProcess& p, const QByteArray& line, int timeoutMs = 5000) {
        QElapsedTimer timer;
        timer.start();
        QByteArray seen;
        while (timer.elapsed() < timeoutMs) {
            if (p.canReadLine() || p.waitForReadyRead(100)) {
                while (p.canReadLine()) {
                    seen = p.readLine().trimmed();
                    if (seen == line)
                        return true;
                }
            }
            if (p.state() == QProcess::NotRunning && !p.canReadLine())
                break;
        }
        qWarning() << "expected" << line << "last seen" << seen;
        return false;
    }

    static void stop(QProcess& p) {
        p.kill();
        p.waitForFinished();
    }

private slots:
    void secondStartWakesFirstAndEnds() {
        QProcess first;
        first.start(probe());
        QVERIFY(waitForLine(first, "FIRST"));

        for (int round = 0; round < 2; ++round) {
            QProcess second;
            QElapsedTimer timer;
            timer.start();
            second.start(probe());
            QVERIFY(second.waitForFinished(5000));
            QCOMPARE(second.exitCode(), 3);
            QCOMPARE(second.readAll().trimmed(), QByteArray("WOKE"));
            QVERIFY2(timer.elapsed() < 1000, "a second start must end within a second");
            QVERIFY(waitForLine(first, "WOKEN"));
        }
        stop(first);
    }

    void startAfterCrashBecomesFirst() {
        QProcess crashed;
        crashed.start(probe());
        QVERIFY(waitForLine(crashed, "FIRST"));
        ::kill(pid_t(crashed.processId()), SIGKILL);
        QVERIFY(crashed.waitForFinished(5000));

        QProcess next;
        next.start(probe());
        QVERIFY(waitForLine(next, "FIRST"));
        stop(next);
    }
};

PELLAVO_TEST_MAIN(TestInstanceChecker)
#include "tst_InstanceChecker.moc"
