#include "testsupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <csignal>

class TestInstanceChecker : public QObject {
    Q_OBJECT

    static QString probe() {
        return QCoreApplication::applicationDirPath() + QStringLiteral("/instance_probe");
    }

    static bool waitForLine(QProcess& p, const QByteArray& line, int timeoutMs = 20000) {
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
    // The second start hands over its launcher's tokens, so that the first can come to the front.
    void secondStartWakesFirstAndEnds() {
        QProcess first;
        first.start(probe());
        QVERIFY(waitForLine(first, "FIRST"));

        const QList<QPair<QStringList, QByteArray>> rounds{
            {{"XDG_ACTIVATION_TOKEN=wl-42", "DESKTOP_STARTUP_ID=launcher-7_TIME1234"},
             "WOKEN wl-42 launcher-7_TIME1234"},
            {{"DESKTOP_STARTUP_ID=has \"quotes\""}, "WOKEN"},
            {{}, "WOKEN"}};
        for (const auto& [environment, woken] : rounds) {
            QProcess second;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove("XDG_ACTIVATION_TOKEN");
            env.remove("DESKTOP_STARTUP_ID");
            for (const QString& variable : environment)
                env.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
            second.setProcessEnvironment(env);
            // It ends by itself, however slow a sanitised build starts.
            second.start(probe());
            QVERIFY(second.waitForFinished(30000));
            QCOMPARE(second.exitCode(), 3);
            QCOMPARE(second.readAll().trimmed(), QByteArray("SECOND"));
            QVERIFY(waitForLine(first, woken));
        }
        stop(first);
    }

    // Two starts of the program at the same moment, a crashed instance's socket still there:
    // one instance runs, the other start wakes it and ends.
    void simultaneousStartsGiveOneInstance() {
        QProcess crashed;
        crashed.start(QStringLiteral(PELLAVO_PROGRAM));
        const QString socket = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
                               QStringLiteral("/CInstanceChecker_MMF_Pellavo");
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 10000);
        ::kill(pid_t(crashed.processId()), SIGKILL);
        QVERIFY(crashed.waitForFinished(5000));

        QProcess starts[2];
        for (QProcess& start : starts)
            start.start(QStringLiteral(PELLAVO_PROGRAM));
        auto running = [&starts] {
            return std::count_if(std::begin(starts), std::end(starts),
                                 [](const QProcess& start) { return start.state() != QProcess::NotRunning; });
        };
        QTRY_COMPARE_WITH_TIMEOUT(running(), 1, 10000);
        QTest::qWait(1000);
        QCOMPARE(running(), 1);
        for (QProcess& start : starts) {
            if (start.state() == QProcess::NotRunning)
                QCOMPARE(start.exitCode(), 0);
            stop(start);
        }
    }
};

PELLAVO_TEST_MAIN(TestInstanceChecker)
#include "tst_InstanceChecker.moc"
