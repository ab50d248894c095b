#include "update/Schedule.h"

#include <iterator>

namespace {
constexpr int kIntervals[] = {1, 2, 4, 8, 0};
constexpr int kChoices = static_cast<int>(std::size(kIntervals));

bool SameLocalMinute(const QDateTime& a, const QDateTime& b) {
    return a.date() == b.date() && a.time().hour() == b.time().hour() &&
           a.time().minute() == b.time().minute();
}
} // namespace

namespace Schedule {

bool IsDueAt(int hour, int minute, int interval, int dailyHour, int dailyMinute) {
    switch (interval) {
    case 0:
        return hour == dailyHour && minute == dailyMinute;
    case 1:
    case 2:
    case 4:
    case 8:
        return minute == 0 && hour % interval == 0;
    default:
        return false;
    }
}

bool IsUpdateDue(const QDateTime& previous, const QDateTime& now, int interval, int dailyHour,
                 int dailyMinute) {
    if (previous.isValid() && SameLocalMinute(previous, now))
        return false;
    return IsDueAt(now.time().hour(), now.time().minute(), interval, dailyHour, dailyMinute);
}

int IntervalToChoice(int interval) {
    for (int choice = 0; choice < kChoices; ++choice) {
        if (kIntervals[choice] == interval)
            return choice;
    }
    return 0;
}

int ChoiceToInterval(int choice, int current) {
    return choice >= 0 && choice < kChoices ? kIntervals[choice] : current;
}

} // namespace Schedule

QDateTime Clock::LocalNow() const {
    return QDateTime::currentDateTime();
}

void ScheduleCheck::Start() {
    m_lastTick = m_clock.LocalNow();
}

bool ScheduleCheck::Tick(int interval, int dailyHour, int dailyMinute) {
    const QDateTime now = m_clock.LocalNow();
    const bool due = Schedule::IsUpdateDue(m_lastTick, now, interval, dailyHour, dailyMinute);
    m_lastTick = now;
    return due;
}
