#include "TestClock.h"
#include "testsupport.h"
#include "update/Schedule.h"

using namespace pellavo::test;

namespace {

QDateTime at(int hour, int minute, int second, int ms = 0, int day = 10) {
    return QDateTime(QDate(2024, 5, day), QTime(hour, minute, second, ms));
}

} // namespace

class TestSchedule : public QObject {
    Q_OBJECT

private slots:
    void dueMinutesOfADay_data() {
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("hour");
        QTest::addColumn<int>("minute");
        QTest::addColumn<QStringList>("expected");
        QStringList everyHour;
        for (int h = 0; h < 24; ++h)
            everyHour << QStringLiteral("%1:00").arg(h);
        QTest::newRow("1 hour (default)") << 1 << 6 << 0 << everyHour;
        QTest::newRow("2 hours") << 2 << 6 << 0
                                 << QStringList{"0:00",  "2:00",  "4:00",  "6:00",  "8:00",  "10:00",
                                                "12:00", "14:00", "16:00", "18:00", "20:00", "22:00"};
        QTest::newRow("4 hours") << 4 << 6 << 0
                                 << QStringList{"0:00", "4:00", "8:00", "12:00", "16:00", "20:00"};
        QTest::newRow("8 hours") << 8 << 6 << 0 << QStringList{"0:00", "8:00", "16:00"};
        QTest::newRow("daily 6:00") << 0 << 6 << 0 << QStringList{"6:00"};
        QTest::newRow("daily 21:45") << 0 << 21 << 45 << QStringList{"21:45"};
        QTest::newRow("daily at an impossible time") << 0 << 25 << 0 << QStringList{};
        QTest::newRow("3 means never") << 3 << 6 << 0 << QStringList{};
        QTest::newRow("-1 means never") << -1 << 6 << 0 << QStringList{};
        QTest::newRow("16 means never") << 16 << 6 << 0 << QStringList{};
    }

    // Drives the check through a whole day and lists the minutes that start a run.
    void dueMinutesOfADay() {
        QFETCH(int, interval);
        QFETCH(int, hour);
        QFETCH(int, minute);
        QFETCH(QStringList, expected);
        TestClock clock;
        clock.now = at(23, 59, 59, 0, 9);
        ScheduleCheck check(clock);
        check.Start();
        QStringList due;
        // Ticks 7 s apart: several per minute, and most minutes' first tick is not at second 0.
        for (int second = 0; second < 24 * 3600; second += 7) {
            clock.now = at(0, 0, 0).addSecs(second);
            if (check.Tick(interval, hour, minute))
                due << QStringLiteral("%1:%2")
                           .arg(clock.now.time().hour())
                           .arg(clock.now.time().minute(), 2, 10, QLatin1Char('0'));
        }
        QCOMPARE(due, expected);
    }

    void firstTickOfANewMinute_data() {
        QTest::addColumn<QDateTime>("previous");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<bool>("due");
        QTest::newRow("second 0") << at(5, 59, 59, 400) << at(6, 0, 0, 400) << true;
        QTest::newRow("drifted past second 0") << at(5, 59, 59, 950) << at(6, 0, 1, 20) << true;
        QTest::newRow("second tick of the minute") << at(6, 0, 0, 400) << at(6, 0, 1, 400) << false;
        QTest::newRow("a late tick, same minute") << at(6, 0, 0, 10) << at(6, 0, 59, 990) << false;
        QTest::newRow("woke after the due minute") << at(5, 40, 0) << at(6, 1, 0) << false;
        QTest::newRow("woke in the due minute") << at(5, 40, 0) << at(6, 0, 30) << true;
        QTest::newRow("same time, next day") << at(6, 0, 10, 0, 9) << at(6, 0, 11) << true;
        QTest::newRow("clock set back into the due minute") << at(6, 5, 0) << at(6, 0, 0) << true;
        QTest::newRow("no tick before") << QDateTime() << at(6, 0, 30) << true;
        QTest::newRow("not a due minute") << at(6, 59, 59) << at(7, 0, 0) << false;
    }

    // Daily at 6:00: only the first tick of the minute 6:00 starts a run, whatever its second.
    void firstTickOfANewMinute() {
        QFETCH(QDateTime, previous);
        QFETCH(QDateTime, now);
        QFETCH(bool, due);
        QCOMPARE(Schedule::IsUpdateDue(previous, now, 0, 6, 0), due);
    }

    // A timer that starts inside a due minute does not catch it up, and a drifting one that
    // skips second 0 still starts the run, once.
    void checkWithAMovedClock() {
        TestClock clock;
        clock.now = at(6, 0, 12);
        ScheduleCheck check(clock);
        check.Start();
        clock.now = at(6, 0, 13);
        QVERIFY(!check.Tick(1, 6, 0));
        clock.now = at(6, 59, 59, 900);
        QVERIFY(!check.Tick(1, 6, 0));
        clock.now = at(7, 0, 1, 100); // second 0 was stepped over
        QVERIFY(check.Tick(1, 6, 0));
        clock.now = at(7, 0, 2, 100);
        QVERIFY(!check.Tick(1, 6, 0));
    }

    void intervalAndChoice_data() {
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("choice");
        QTest::addColumn<int>("back");
        QTest::newRow("1 hour") << 1 << 0 << 1;
        QTest::newRow("2 hours") << 2 << 1 << 2;
        QTest::newRow("4 hours") << 4 << 2 << 4;
        QTest::newRow("8 hours") << 8 << 3 << 8;
        QTest::newRow("daily") << 0 << 4 << 0;
        QTest::newRow("3 shows as 1 hour") << 3 << 0 << 1;
        QTest::newRow("-5 shows as 1 hour") << -5 << 0 << 1;
    }

    void intervalAndChoice() {
        QFETCH(int, interval);
        QFETCH(int, choice);
        QFETCH(int, back);
        QCOMPARE(Schedule::IntervalToChoice(interval), choice);
        QCOMPARE(Schedule::ChoiceToInterval(choice, 99), back);
        QCOMPARE(Schedule::ChoiceToInterval(5, interval), interval);
        QCOMPARE(Schedule::ChoiceToInterval(-1, interval), interval);
    }
};

PELLAVO_TEST_MAIN(TestSchedule)
#include "tst_Schedule.moc"
