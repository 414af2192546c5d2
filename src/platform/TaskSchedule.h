// The times of a trigger, as the task service carries them out.
//
// A time-based trigger (one-time, daily, weekly, monthly, monthly by
// weekday) fires at wall-clock times of its zone: the local time zone, or
// the fixed offset written after its start boundary. Its rules:
// - the start boundary gives the first day and the time of day; a trigger
//   without a valid start boundary never fires;
// - daily: every DaysInterval-th day from the start day;
// - weekly: the days of DaysOfWeek in every WeeksInterval-th week, weeks
//   beginning on Sunday and counted from the week of the start day;
// - monthly: the days of DaysOfMonth ("Last" = the month's last day) in the
//   months of MonthsOfYear; a day the month does not have is skipped;
// - monthly by weekday: the weekdays of DaysOfWeek in the weeks of
//   WeeksOfMonth (first = days 1-7, second 8-14, third 15-21, fourth
//   22-28, last = the last seven days) in the months of MonthsOfYear;
// - a wall time that a daylight-saving change skips does not happen; a
//   wall time it repeats happens once, at its first occurrence (the user
//   manager's calendar does the same);
// - repetition: after each of those times, every RepetitionInterval for
//   RepetitionDuration (times strictly inside the duration); without a
//   duration until the trigger's next time; repetitions are exact
//   durations, independent of daylight saving;
// - no time after the end boundary.
//
// The user manager's calendar expressions (OnCalendar=) cannot say every
// rule. CalendarExpressions gives expressions whose elapses contain every
// time of the trigger; CalendarIsExact tells whether they hold no other
// time (from a given moment on). When they do, the task's start check
// (TaskService.h) decides at start time with the rules above.
#pragma once

#include "platform/TaskDefinition.h"

#include <QDateTime>
#include <QStringList>
#include <QTimeZone>
#include <optional>

namespace kes::platform {

// A duration text of the XML (ISO 8601, "P1DT2H30M", "PT90S", "P2W"; years
// count 365 days, months 30) in seconds. Empty text: 0. Not a duration:
// nullopt.
std::optional<qint64> ServiceDurationSeconds(QStringView text);

// A time bound of the XML ("2025-03-01T20:00:00", optionally with
// fractions of seconds and a zone: "Z", "+01:00", "-05:30").
struct TTaskBoundary {
    QDate Date;
    QTime Time;
    std::optional<int> OffsetSeconds; // the zone written after the time
    bool IsValid() const { return Date.isValid() && Time.isValid(); }
};
// An invalid boundary for an empty or malformed text.
TTaskBoundary ParseTaskBoundary(QStringView text);

// The instant of a wall-clock time in a zone: the first one when the time
// happens twice, invalid when it does not happen.
QDateTime WallTimeInstant(QDate date, QTime time, const QTimeZone& zone);

class TTriggerTimes {
public:
    // localZone: the zone of boundaries written without zone.
    TTriggerTimes(const TTaskTrigger& trigger, const QTimeZone& localZone);

    // One-time, daily, weekly, monthly or monthly by weekday.
    bool IsTimeBased() const { return FTimeBased; }
    // A time-based trigger that can fire at all.
    bool CanFire() const { return FCanFire; }
    // The zone its wall times are in.
    const QTimeZone& Zone() const { return FZone; }

    // The first time at or after the instant; invalid when there is none.
    QDateTime NextAtOrAfter(const QDateTime& from) const;
    // The last time at or before the instant; invalid when there is none.
    QDateTime LastAtOrBefore(const QDateTime& at) const;

    // Calendar expressions of the user manager whose elapses contain every
    // time of the trigger (empty when it cannot fire).
    QStringList CalendarExpressions() const;
    // True when those elapses, from the moment now on, are exactly the
    // trigger's times.
    bool CalendarIsExact(const QDateTime& now) const;

private:
    bool IsBaseDate(QDate d) const;
    std::optional<QDate> NextBaseDate(QDate from) const;
    std::optional<QDate> PreviousBaseDate(QDate from) const;
    QDateTime BaseInstant(QDate d) const;
    QDateTime NextBase(const QDateTime& from) const; // first base time >= from
    QDateTime PreviousBase(const QDateTime& at) const; // last base time <= at
    QString CalendarZoneSuffix() const;
    QString TimeOfDay() const;

    const TTaskTrigger FTrigger;
    QTimeZone FZone;
    bool FTimeBased = false;
    bool FCanFire = false;
    QDate FStartDate;
    QTime FStartTime;
    QDateTime FStart;
    QDateTime FEnd; // invalid: none
    qint64 FInterval = 0; // repetition, seconds
    qint64 FDuration = 0; // 0: until the next time
};

} // namespace kes::platform
