#include "platform/TaskSchedule.h"

#include <QRegularExpression>
#include <algorithm>
#include <array>
#include <numeric>

namespace kes::platform {

namespace {

// How far the searches for a trigger's next or last day look: long enough
// for every combination of weekday, month day and leap year.
constexpr int kSearchDays = 366 * 30;

constexpr std::array<QStringView, 7> kCalendarDays {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};

// Sunday 0 ... Saturday 6.
int WeekdayIndex(QDate d)
{
    return d.dayOfWeek() % 7;
}

QString Two(int n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

// "1,2,5" as the calendar's list ("01,02,05"), "*" when the list is all.
QString NumberList(const QList<int>& values, int all)
{
    if (values.size() == all)
        return QStringLiteral("*");
    QStringList parts;
    for (int v : values)
        parts << Two(v);
    return parts.join(QLatin1Char(','));
}

QList<int> BitsOf(quint32 mask, int count)
{
    QList<int> bits;
    for (int i = 0; i < count; ++i)
        if (mask & (1u << i))
            bits << i;
    return bits;
}

QString WeekdayList(quint32 mask)
{
    QStringList days;
    for (int i : BitsOf(mask, 7))
        days << kCalendarDays[std::size_t(i)].toString();
    return days.join(QLatin1Char(','));
}

QString MonthList(quint32 mask)
{
    QList<int> months;
    for (int i : BitsOf(mask, 12))
        months << i + 1;
    return NumberList(months, 12);
}

} // namespace

std::optional<qint64> ServiceDurationSeconds(QStringView text)
{
    const QString t = text.trimmed().toString();
    if (t.isEmpty())
        return 0;
    static const QRegularExpression re(
        QStringLiteral("^P(?:(\\d+)Y)?(?:(\\d+)M)?(?:(\\d+)W)?(?:(\\d+)D)?"
                       "(?:T(?:(\\d+)H)?(?:(\\d+)M)?(?:(\\d+)(?:[.,]\\d*)?S)?)?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(t);
    if (!m.hasMatch() || t.size() < 2 || t.endsWith(QLatin1Char('T'), Qt::CaseInsensitive))
        return std::nullopt;
    constexpr std::array<qint64, 7> unit {365 * 86400LL, 30 * 86400LL, 7 * 86400LL, 86400, 3600, 60, 1};
    qint64 seconds = 0;
    for (int i = 0; i < 7; ++i) {
        const QString part = m.captured(i + 1);
        if (part.isEmpty())
            continue;
        bool ok = false;
        const qint64 n = part.toLongLong(&ok);
        if (!ok || n > (qint64(1) << 40))
            return std::nullopt;
        seconds += n * unit[std::size_t(i)];
    }
    return seconds;
}

TTaskBoundary ParseTaskBoundary(QStringView text)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}):(\\d{2}):(\\d{2})"
                                                      "(?:[.,]\\d+)?(Z|[+-]\\d{2}:\\d{2})?$"));
    TTaskBoundary b;
    const QRegularExpressionMatch m = re.match(text.trimmed());
    if (!m.hasMatch())
        return b;
    b.Date = QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    b.Time = QTime(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    const QString zone = m.captured(7);
    if (zone == u"Z") {
        b.OffsetSeconds = 0;
    } else if (!zone.isEmpty()) {
        const int hours = zone.mid(1, 2).toInt();
        const int minutes = zone.mid(4, 2).toInt();
        if (hours > 14 || minutes > 59)
            return TTaskBoundary();
        b.OffsetSeconds = (zone.startsWith(QLatin1Char('-')) ? -1 : 1) * (hours * 3600 + minutes * 60);
    }
    return b;
}

QDateTime WallTimeInstant(QDate date, QTime time, const QTimeZone& zone)
{
    const QDateTime t(date, time, zone);
    if (!t.isValid() || t.date() != date || t.time() != time)
        return QDateTime(); // a skipped wall time
    // A repeated wall time: Qt picks one of the two instants; the earlier
    // one lies one offset change before it.
    const QDateTime earlier = t.addSecs(-(zone.offsetFromUtc(t.addSecs(-3 * 3600)) - t.offsetFromUtc()));
    if (earlier < t) {
        const QDateTime wall = earlier.toTimeZone(zone);
        if (wall.date() == date && wall.time() == time)
            return earlier;
    }
    return t;
}

TTriggerTimes::TTriggerTimes(const TTaskTrigger& trigger, const QTimeZone& localZone)
    : FTrigger(trigger)
    , FZone(localZone)
{
    const int kind = trigger.Type;
    FTimeBased
        = kind == tkTime || kind == tkDaily || kind == tkWeekly || kind == tkMonthly || kind == tkMonthlyDow;
    if (!FTimeBased)
        return;
    const TTaskBoundary start = ParseTaskBoundary(trigger.StartBoundary);
    if (!start.IsValid())
        return;
    // A zone written with the start is a fixed offset; the calendar can say
    // it for whole hours only, other offsets are taken as local time.
    if (start.OffsetSeconds && *start.OffsetSeconds % 3600 == 0)
        FZone = QTimeZone(*start.OffsetSeconds);
    FStartDate = start.Date;
    FStartTime = start.Time;
    FStart = QDateTime(start.Date, start.Time, FZone);
    const TTaskBoundary end = ParseTaskBoundary(trigger.EndBoundary);
    if (end.IsValid())
        FEnd = end.OffsetSeconds ? QDateTime(end.Date, end.Time, QTimeZone(*end.OffsetSeconds))
                                 : QDateTime(end.Date, end.Time, FZone);
    FInterval = ServiceDurationSeconds(trigger.RepetitionInterval).value_or(0);
    FDuration = ServiceDurationSeconds(trigger.RepetitionDuration).value_or(0);
    if (FInterval < 0 || FDuration < 0)
        FInterval = FDuration = 0;

    const quint32 dows = quint32(trigger.DaysOfWeek) & 0x7F;
    const quint32 months = quint32(trigger.MonthsOfYear) & 0xFFF;
    switch (kind) {
    case tkWeekly:
        FCanFire = dows != 0;
        break;
    case tkMonthly:
        FCanFire = months != 0 && trigger.DaysOfMonth != 0;
        break;
    case tkMonthlyDow:
        FCanFire = months != 0 && dows != 0 && (trigger.WeeksOfMonth & 0x1F) != 0;
        break;
    default:
        FCanFire = true;
        break;
    }
    if (FCanFire && FEnd.isValid() && FEnd < FStart)
        FCanFire = false;
}

bool TTriggerTimes::IsBaseDate(QDate d) const
{
    if (d < FStartDate)
        return false;
    const TTaskTrigger& t = FTrigger;
    switch (t.Type) {
    case tkTime:
        return d == FStartDate;
    case tkDaily:
        return FStartDate.daysTo(d) % std::max(1, t.DaysInterval) == 0;
    case tkWeekly: {
        if (!(quint32(t.DaysOfWeek) & (1u << WeekdayIndex(d))))
            return false;
        const QDate firstSunday = FStartDate.addDays(-WeekdayIndex(FStartDate));
        return (firstSunday.daysTo(d) / 7) % std::max(1, t.WeeksInterval) == 0;
    }
    case tkMonthly: {
        if (!(quint32(t.MonthsOfYear) & (1u << (d.month() - 1))))
            return false;
        const quint32 days = quint32(t.DaysOfMonth);
        return (days & (1u << (d.day() - 1)))
            || ((days & quint32(kLastDayOfMonthBit)) && d.day() == d.daysInMonth());
    }
    case tkMonthlyDow: {
        if (!(quint32(t.MonthsOfYear) & (1u << (d.month() - 1)))
            || !(quint32(t.DaysOfWeek) & (1u << WeekdayIndex(d))))
            return false;
        const int week = (d.day() - 1) / 7;
        const quint32 weeks = quint32(t.WeeksOfMonth);
        return (week < 4 && (weeks & (1u << week)))
            || ((weeks & kLastWeekOfMonthBit) && d.day() + 7 > d.daysInMonth());
    }
    default:
        return false;
    }
}

std::optional<QDate> TTriggerTimes::NextBaseDate(QDate from) const
{
    QDate d = std::max(from, FStartDate);
    if (FTrigger.Type == tkTime)
        return d == FStartDate ? std::optional<QDate>(d) : std::nullopt;
    const QDate last = d.addDays(kSearchDays);
    const QDate endDate = FEnd.isValid() ? FEnd.toTimeZone(FZone).date().addDays(1) : last;
    for (; d <= last && d <= endDate; d = d.addDays(1))
        if (IsBaseDate(d))
            return d;
    return std::nullopt;
}

std::optional<QDate> TTriggerTimes::PreviousBaseDate(QDate from) const
{
    const QDate first = std::max(FStartDate, from.addDays(-kSearchDays));
    for (QDate d = from; d >= first; d = d.addDays(-1))
        if (IsBaseDate(d))
            return d;
    return std::nullopt;
}

QDateTime TTriggerTimes::BaseInstant(QDate d) const
{
    return WallTimeInstant(d, FStartTime, FZone);
}

QDateTime TTriggerTimes::NextBase(const QDateTime& from) const
{
    // Every wall time of an earlier day lies before `from`.
    QDate d = from.toTimeZone(FZone).date();
    const QDate stop = d.addDays(kSearchDays);
    while (d <= stop) {
        const std::optional<QDate> next = NextBaseDate(d);
        if (!next)
            return QDateTime();
        const QDateTime t = BaseInstant(*next);
        if (t.isValid() && t >= from)
            return t;
        d = next->addDays(1);
    }
    return QDateTime();
}

QDateTime TTriggerTimes::PreviousBase(const QDateTime& at) const
{
    QDate d = at.toTimeZone(FZone).date();
    const QDate stop = d.addDays(-kSearchDays);
    while (d >= FStartDate && d >= stop) {
        const std::optional<QDate> previous = PreviousBaseDate(d);
        if (!previous)
            return QDateTime();
        const QDateTime t = BaseInstant(*previous);
        if (t.isValid() && t <= at)
            return t;
        d = previous->addDays(-1);
    }
    return QDateTime();
}

QDateTime TTriggerTimes::NextAtOrAfter(const QDateTime& from) const
{
    if (!FCanFire)
        return QDateTime();
    QDateTime best = NextBase(from);
    if (FInterval > 0) {
        // Patterns that began before `from` and still run.
        for (QDateTime b = PreviousBase(from); b.isValid(); b = PreviousBase(b.addSecs(-1))) {
            qint64 span = FDuration;
            if (span == 0) {
                const QDateTime nb = NextBase(b.addSecs(1));
                span = nb.isValid() ? b.secsTo(nb) : std::numeric_limits<qint64>::max();
            }
            const qint64 past = b.secsTo(from);
            const qint64 steps = (past + FInterval - 1) / FInterval;
            if (steps * FInterval < span) {
                const QDateTime t = b.addSecs(steps * FInterval);
                if (!best.isValid() || t < best)
                    best = t;
            }
            if (FDuration == 0 || b.secsTo(from) >= FDuration)
                break;
        }
    }
    if (best.isValid() && FEnd.isValid() && best > FEnd)
        return QDateTime();
    return best;
}

QDateTime TTriggerTimes::LastAtOrBefore(const QDateTime& at) const
{
    if (!FCanFire)
        return QDateTime();
    const QDateTime limit = FEnd.isValid() && FEnd < at ? FEnd : at;
    QDateTime best;
    for (QDateTime b = PreviousBase(limit); b.isValid(); b = PreviousBase(b.addSecs(-1))) {
        QDateTime t = b;
        if (FInterval > 0) {
            qint64 span = FDuration;
            if (span == 0) {
                const QDateTime nb = NextBase(b.addSecs(1));
                span = nb.isValid() ? b.secsTo(nb) : std::numeric_limits<qint64>::max();
            }
            qint64 steps = b.secsTo(limit) / FInterval;
            if (steps * FInterval >= span)
                steps = (span - 1) / FInterval;
            t = b.addSecs(steps * FInterval);
        }
        if (!best.isValid() || t > best)
            best = t;
        // Older patterns end before this one unless the duration is longer
        // than the distance between the trigger's times.
        if (FInterval == 0 || FDuration == 0 || b.addSecs(FDuration) <= best)
            break;
    }
    return best;
}

QString TTriggerTimes::CalendarZoneSuffix() const
{
    if (FZone == QTimeZone::systemTimeZone() || FZone.id() == QTimeZone::systemTimeZoneId())
        return QString();
    if (!FZone.isValid())
        return QString();
    // A fixed offset from the start boundary, or a named zone.
    if (FZone.id().startsWith("UTC")) {
        const int offset = FZone.offsetFromUtc(FStart);
        if (offset == 0)
            return QStringLiteral(" UTC");
        // The IANA names of fixed offsets count the other way round.
        return QStringLiteral(" Etc/GMT%1%2")
            .arg(QLatin1Char(offset > 0 ? '-' : '+'))
            .arg(std::abs(offset) / 3600);
    }
    return QLatin1Char(' ') + QString::fromUtf8(FZone.id());
}

QString TTriggerTimes::TimeOfDay() const
{
    return FStartTime.toString(QStringLiteral("HH:mm:ss"));
}

QStringList TTriggerTimes::CalendarExpressions() const
{
    if (!FCanFire)
        return {};
    const QString zone = CalendarZoneSuffix();
    const QString at = QLatin1Char(' ') + TimeOfDay() + zone;
    const TTaskTrigger& t = FTrigger;
    if (FInterval > 0) {
        // Every wall time that a repetition can fall on: within the hour
        // the pattern's steps modulo the hour, and the hours the pattern
        // covers (one more on each side for a daylight-saving change).
        const qint64 step = std::gcd(FInterval, qint64(3600));
        const int base = FStartTime.minute() * 60 + FStartTime.second();
        QList<int> minutes;
        QList<int> seconds;
        for (qint64 s = base % step; s < 3600; s += step) {
            if (!minutes.contains(int(s / 60)))
                minutes << int(s / 60);
            if (!seconds.contains(int(s % 60)))
                seconds << int(s % 60);
        }
        std::sort(minutes.begin(), minutes.end());
        std::sort(seconds.begin(), seconds.end());
        QList<int> hours;
        if (FDuration > 0 && FDuration + 3 * 3600 < 86400) {
            const int first = FStartTime.hour() - 1;
            const int last = FStartTime.hour()
                + int((FStartTime.minute() * 60 + FStartTime.second() + FDuration) / 3600) + 1;
            for (int h = first; h <= last; ++h)
                if (!hours.contains((h + 24) % 24))
                    hours << (h + 24) % 24;
            std::sort(hours.begin(), hours.end());
        } else {
            for (int h = 0; h < 24; ++h)
                hours << h;
        }
        // The pattern may run past midnight and, without a duration, until
        // the trigger's next time: every day is a candidate.
        const QString datePart = QStringLiteral("*-*-*");
        return {datePart + QLatin1Char(' ') + NumberList(hours, 24) + QLatin1Char(':')
            + NumberList(minutes, 60) + QLatin1Char(':') + NumberList(seconds, 60) + zone};
    }
    switch (t.Type) {
    case tkTime:
        return {FStartDate.toString(QStringLiteral("yyyy-MM-dd")) + at};
    case tkDaily:
        return {QStringLiteral("*-*-*") + at};
    case tkWeekly:
        return {WeekdayList(quint32(t.DaysOfWeek)) + QStringLiteral(" *-*-*") + at};
    case tkMonthly: {
        QStringList out;
        const QString months = MonthList(quint32(t.MonthsOfYear));
        QList<int> days;
        for (int i : BitsOf(quint32(t.DaysOfMonth), 31))
            days << i + 1;
        if (!days.isEmpty())
            out << QStringLiteral("*-") + months + QLatin1Char('-') + NumberList(days, 31) + at;
        if (quint32(t.DaysOfMonth) & quint32(kLastDayOfMonthBit))
            out << QStringLiteral("*-") + months + QStringLiteral("~01") + at;
        return out;
    }
    case tkMonthlyDow: {
        QStringList out;
        const QString dows = WeekdayList(quint32(t.DaysOfWeek));
        const QString months = MonthList(quint32(t.MonthsOfYear));
        QStringList ranges;
        for (int w : BitsOf(quint32(t.WeeksOfMonth), 4))
            ranges << Two(w * 7 + 1) + QStringLiteral("..") + Two(w * 7 + 7);
        if (!ranges.isEmpty())
            out << dows + QStringLiteral(" *-") + months + QLatin1Char('-') + ranges.join(QLatin1Char(','))
                    + at;
        if (t.WeeksOfMonth & kLastWeekOfMonthBit)
            out << dows + QStringLiteral(" *-") + months + QStringLiteral("~07/1") + at;
        return out;
    }
    default:
        return {};
    }
}

bool TTriggerTimes::CalendarIsExact(const QDateTime& now) const
{
    if (!FCanFire || FInterval > 0)
        return false;
    const TTaskTrigger& t = FTrigger;
    if (t.Type == tkTime)
        return !FEnd.isValid() || FStart <= FEnd;
    if (FStart > now || FEnd.isValid())
        return false;
    if (t.Type == tkDaily)
        return t.DaysInterval <= 1;
    if (t.Type == tkWeekly)
        return t.WeeksInterval <= 1;
    return true;
}

} // namespace kes::platform
