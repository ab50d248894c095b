#pragma once

#include <QDateTime>

// When the automatic update falls due. The settings' "Interval" is 0 for daily at
// Hour:Minute, 1, 2, 4 or 8 for every that many hours on the hour, anything else for never.
namespace Schedule {

// Whether the rule asks for an update in the local minute hour:minute.
bool IsDueAt(int hour, int minute, int interval, int dailyHour, int dailyMinute);

// Whether the tick at `now` starts an update: it must be the first tick of a new local minute
// after the tick at `previous`, and the rule must ask for that minute. Acting on the first
// tick of a minute, rather than on second 0 only, keeps a drifting timer from stepping over
// a due update, and still acts at most once per minute.
bool IsUpdateDue(const QDateTime& previous, const QDateTime& now, int interval, int dailyHour,
                 int dailyMinute);

// The options dialog's radio choice for a stored interval: 1, 2, 4, 8 and 0 give 0 to 4;
// anything else shows as "1 Hour".
int IntervalToChoice(int interval);
// The stored interval for a radio choice; a choice outside 0 to 4 keeps `current`.
int ChoiceToInterval(int choice, int current);

} // namespace Schedule

// The local time, swapped for a hand-moved clock in tests.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime LocalNow() const;
};

// The schedule check that runs on every timer tick; it remembers the minute it last saw.
class ScheduleCheck {
public:
    explicit ScheduleCheck(const Clock& clock) : m_clock(clock) {}

    // Takes the current minute as already seen: a due time that passed before the timer
    // started is not caught up.
    void Start();
    // True when this tick starts an update under the given settings.
    bool Tick(int interval, int dailyHour, int dailyMinute);

private:
    const Clock& m_clock;
    QDateTime m_lastTick;
};
