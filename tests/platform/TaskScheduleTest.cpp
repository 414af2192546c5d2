// The times of triggers: our own rules and the user manager's calendar
// (systemd-analyze calendar as the oracle) both give the times a trigger
// means, over a month end, a leap day and daylight-saving changes.
#include "platform/TaskSchedule.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>
#include <vector>

using namespace kes::platform;

namespace {

const QTimeZone kBerlin("Europe/Berlin");

QDateTime Local(const char* text)
{
    return QDateTime(
        QDateTime::fromString(QString::fromUtf8(text), QStringLiteral("yyyy-MM-dd HH:mm:ss")).date(),
        QDateTime::fromString(QString::fromUtf8(text), QStringLiteral("yyyy-MM-dd HH:mm:ss")).time(),
        kBerlin);
}

QDateTime Instant(const QString& isoWithOffset)
{
    return QDateTime::fromString(isoWithOffset, Qt::ISODate);
}

struct TriggerCase {
    const char* Name;
    TTaskTrigger Trigger;
    const char* Base; // local time in Europe/Berlin
    int Count; // times asked for
    std::vector<const char*> Expected; // ISO 8601 with offset
    int Candidates = 0; // calendar elapses to ask systemd for (default Count)
};

TTaskTrigger Make(int type, const char* start, std::function<void(TTaskTrigger&)> more = {})
{
    TTaskTrigger t;
    t.Type = type;
    t.StartBoundary = QString::fromUtf8(start);
    if (more)
        more(t);
    return t;
}

QList<TriggerCase> Cases()
{
    return {
        {"one time", Make(tkTime, "2025-03-01T20:00:00"), "2025-02-01 00:00:00", 2,
            {"2025-03-01T20:00:00+01:00"}},
        {"daily over the leap day", Make(tkDaily, "2024-02-27T20:00:00"), "2024-02-27 12:00:00", 4,
            {"2024-02-27T20:00:00+01:00", "2024-02-28T20:00:00+01:00", "2024-02-29T20:00:00+01:00",
                "2024-03-01T20:00:00+01:00"}},
        {"every third day over a month end",
            Make(tkDaily, "2024-02-26T08:15:00", [](TTaskTrigger& t) { t.DaysInterval = 3; }),
            "2024-02-26 00:00:00", 4,
            {"2024-02-26T08:15:00+01:00", "2024-02-29T08:15:00+01:00", "2024-03-03T08:15:00+01:00",
                "2024-03-06T08:15:00+01:00"},
            20},
        {"daily at a time the spring change skips", Make(tkDaily, "2025-03-01T02:30:00"),
            "2025-03-29 00:00:00", 3,
            {"2025-03-29T02:30:00+01:00", "2025-03-31T02:30:00+02:00", "2025-04-01T02:30:00+02:00"}},
        {"daily at a time the autumn change repeats", Make(tkDaily, "2025-10-01T02:30:00"),
            "2025-10-25 00:00:00", 3,
            {"2025-10-25T02:30:00+02:00", "2025-10-26T02:30:00+02:00", "2025-10-27T02:30:00+01:00"}},
        {"weekly on Monday and Friday",
            Make(tkWeekly, "2024-02-26T20:00:00", [](TTaskTrigger& t) { t.DaysOfWeek = 2 | 32; }),
            "2024-02-26 00:00:00", 4,
            {"2024-02-26T20:00:00+01:00", "2024-03-01T20:00:00+01:00", "2024-03-04T20:00:00+01:00",
                "2024-03-08T20:00:00+01:00"}},
        {"every second week on Sunday and Wednesday",
            Make(tkWeekly, "2024-02-28T09:00:00",
                [](TTaskTrigger& t) {
                    t.DaysOfWeek = 1 | 8;
                    t.WeeksInterval = 2;
                }),
            "2024-02-20 00:00:00", 4,
            {"2024-02-28T09:00:00+01:00", "2024-03-10T09:00:00+01:00", "2024-03-13T09:00:00+01:00",
                "2024-03-24T09:00:00+01:00"},
            40},
        {"monthly on the 1st, the 31st and the last day",
            Make(tkMonthly, "2024-01-01T12:00:00",
                [](TTaskTrigger& t) {
                    t.DaysOfMonth = 1 | (1 << 30) | kLastDayOfMonthBit;
                    t.MonthsOfYear = 1 | 2 | 4 | 8;
                }),
            "2023-12-31 00:00:00", 8,
            {"2024-01-01T12:00:00+01:00", "2024-01-31T12:00:00+01:00", "2024-02-01T12:00:00+01:00",
                "2024-02-29T12:00:00+01:00", "2024-03-01T12:00:00+01:00", "2024-03-31T12:00:00+02:00",
                "2024-04-01T12:00:00+02:00", "2024-04-30T12:00:00+02:00"}},
        {"monthly on the 29th of February and March",
            Make(tkMonthly, "2025-01-01T07:00:00",
                [](TTaskTrigger& t) {
                    t.DaysOfMonth = 1 << 28;
                    t.MonthsOfYear = 2 | 4;
                }),
            "2025-01-01 00:00:00", 4,
            {"2025-03-29T07:00:00+01:00", "2026-03-29T07:00:00+02:00", "2027-03-29T07:00:00+02:00",
                "2028-02-29T07:00:00+01:00"}},
        {"first and last Monday",
            Make(tkMonthlyDow, "2024-01-01T20:00:00",
                [](TTaskTrigger& t) {
                    t.WeeksOfMonth = 1 | kLastWeekOfMonthBit;
                    t.DaysOfWeek = 2;
                    t.MonthsOfYear = 0xFFF;
                }),
            "2023-12-31 00:00:00", 6,
            {"2024-01-01T20:00:00+01:00", "2024-01-29T20:00:00+01:00", "2024-02-05T20:00:00+01:00",
                "2024-02-26T20:00:00+01:00", "2024-03-04T20:00:00+01:00", "2024-03-25T20:00:00+01:00"}},
        {"fourth and last Thursday of November and December",
            Make(tkMonthlyDow, "2024-01-01T10:00:00",
                [](TTaskTrigger& t) {
                    t.WeeksOfMonth = 8 | kLastWeekOfMonthBit;
                    t.DaysOfWeek = 16;
                    t.MonthsOfYear = 1024 | 2048;
                }),
            "2024-01-01 00:00:00", 4,
            {"2024-11-28T10:00:00+01:00", "2024-12-26T10:00:00+01:00", "2025-11-27T10:00:00+01:00",
                "2025-12-25T10:00:00+01:00"}},
        {"start in the future", Make(tkDaily, "2025-06-10T20:00:00"), "2025-06-01 00:00:00", 3,
            {"2025-06-10T20:00:00+02:00", "2025-06-11T20:00:00+02:00", "2025-06-12T20:00:00+02:00"}, 20},
        {"end boundary",
            Make(tkDaily, "2025-06-01T20:00:00",
                [](TTaskTrigger& t) { t.EndBoundary = QStringLiteral("2025-06-03T20:00:00"); }),
            "2025-06-01 00:00:00", 4,
            {"2025-06-01T20:00:00+02:00", "2025-06-02T20:00:00+02:00", "2025-06-03T20:00:00+02:00"}, 10},
        {"every 90 minutes for four hours",
            Make(tkDaily, "2025-01-10T08:00:00",
                [](TTaskTrigger& t) {
                    t.RepetitionInterval = QStringLiteral("PT1H30M");
                    t.RepetitionDuration = QStringLiteral("PT4H");
                }),
            "2025-01-10 00:00:00", 4,
            {"2025-01-10T08:00:00+01:00", "2025-01-10T09:30:00+01:00", "2025-01-10T11:00:00+01:00",
                "2025-01-11T08:00:00+01:00"},
            80},
        {"hourly over the spring change",
            Make(tkTime, "2025-03-30T00:30:00",
                [](TTaskTrigger& t) {
                    t.RepetitionInterval = QStringLiteral("PT1H");
                    t.RepetitionDuration = QStringLiteral("PT4H");
                }),
            "2025-03-29 00:00:00", 5,
            {"2025-03-30T00:30:00+01:00", "2025-03-30T01:30:00+01:00", "2025-03-30T03:30:00+02:00",
                "2025-03-30T04:30:00+02:00"},
            40},
        {"every two hours until the next day",
            Make(tkDaily, "2025-03-01T23:00:00",
                [](TTaskTrigger& t) { t.RepetitionInterval = QStringLiteral("PT2H"); }),
            "2025-03-29 22:00:00", 4,
            {"2025-03-29T23:00:00+01:00", "2025-03-30T01:00:00+01:00", "2025-03-30T04:00:00+02:00",
                "2025-03-30T06:00:00+02:00"},
            40},
        {"start written with a zone", Make(tkDaily, "2025-01-10T20:00:00+01:00"), "2025-03-29 00:00:00", 3,
            {"2025-03-29T20:00:00+01:00", "2025-03-30T21:00:00+02:00", "2025-03-31T21:00:00+02:00"}},
    };
}

// The elapses systemd-analyze gives for the expressions, all together.
QList<QDateTime> CalendarElapses(const QStringList& expressions, const QDateTime& base, int iterations)
{
    QStringList args {QStringLiteral("calendar"), QStringLiteral("--iterations=%1").arg(iterations),
        QStringLiteral("--base-time=") + base.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
            + QStringLiteral(" UTC")};
    args += expressions;
    const kestest::ProcessResult r
        = kestest::Run(QStringLiteral("systemd-analyze"), args, {QStringLiteral("TZ=Europe/Berlin")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    QList<QDateTime> times;
    for (const QByteArray& line : r.out.split('\n')) {
        const qsizetype at = line.indexOf("(in UTC): ");
        if (at < 0)
            continue;
        const QList<QByteArray> parts = line.mid(at + 10).trimmed().split(' ');
        if (parts.size() < 3)
            continue;
        QDateTime t = QDateTime::fromString(QString::fromLatin1(parts[1] + 'T' + parts[2]), Qt::ISODate);
        t.setTimeZone(QTimeZone::utc());
        if (!times.contains(t))
            times << t;
    }
    std::sort(times.begin(), times.end());
    return times;
}

std::string Texts(const QList<QDateTime>& times)
{
    QStringList out;
    for (const QDateTime& t : times)
        out << t.toTimeZone(kBerlin).toString(Qt::ISODate);
    return out.join(QStringLiteral(", ")).toStdString();
}

} // namespace

TEST(TriggerTimes, OwnRulesGiveTheTimesTheTriggerMeans)
{
    for (const TriggerCase& c : Cases()) {
        SCOPED_TRACE(c.Name);
        const TTriggerTimes times(c.Trigger, kBerlin);
        ASSERT_TRUE(times.IsTimeBased());
        QList<QDateTime> got;
        QDateTime from = Local(c.Base);
        for (int i = 0; i < c.Count; ++i) {
            const QDateTime t = times.NextAtOrAfter(from);
            if (!t.isValid())
                break;
            got << t;
            from = t.addSecs(1);
        }
        QList<QDateTime> expected;
        for (const char* e : c.Expected)
            expected << Instant(QString::fromUtf8(e));
        EXPECT_EQ(Texts(got), Texts(expected));
        // The start check looks backwards: each time is the last one at or
        // before itself, and a second earlier the one before it.
        for (qsizetype i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(times.LastAtOrBefore(expected[i]), expected[i]) << c.Expected[std::size_t(i)];
            if (i > 0) {
                EXPECT_EQ(times.LastAtOrBefore(expected[i].addSecs(-1)), expected[i - 1])
                    << c.Expected[std::size_t(i)];
            }
        }
    }
}

TEST(TriggerTimes, UserManagerCalendarWithTheStartCheckGivesTheSameTimes)
{
    if (!kestest::HaveTool(QStringLiteral("systemd-analyze")))
        KESTEST_SKIP_OR_FAIL("systemd-analyze is not installed");
    for (const TriggerCase& c : Cases()) {
        SCOPED_TRACE(c.Name);
        const TTriggerTimes times(c.Trigger, kBerlin);
        const QDateTime base = Local(c.Base);
        const QStringList expressions = times.CalendarExpressions();
        ASSERT_FALSE(expressions.isEmpty());
        QList<QDateTime> elapses
            = CalendarElapses(expressions, base.addSecs(-1), c.Candidates > 0 ? c.Candidates : c.Count);
        if (!times.CalendarIsExact(base)) {
            // The start check keeps the elapses that are times of the trigger.
            QList<QDateTime> kept;
            for (const QDateTime& t : elapses)
                if (times.LastAtOrBefore(t) == t)
                    kept << t;
            elapses = kept;
        } else {
            EXPECT_EQ(c.Candidates, 0) << "an exact calendar needs no start check";
        }
        QList<QDateTime> expected;
        for (const char* e : c.Expected)
            expected << Instant(QString::fromUtf8(e));
        EXPECT_EQ(Texts(elapses.mid(0, expected.size())), Texts(expected))
            << expressions.join(QStringLiteral(" | ")).toStdString();
        if (elapses.size() > expected.size() && expected.size() < c.Count)
            ADD_FAILURE() << "a time after the last one: " << Texts(elapses);
    }
}

TEST(TriggerTimes, ExactnessOfTheCalendar)
{
    const QDateTime now = Local("2025-06-01 12:00:00");
    const struct {
        const char* name;
        TTaskTrigger trigger;
        bool exact;
    } cases[] = {
        {"daily", Make(tkDaily, "2025-01-01T08:00:00"), true},
        {"daily, start ahead", Make(tkDaily, "2025-07-01T08:00:00"), false},
        {"daily with end",
            Make(tkDaily, "2025-01-01T08:00:00",
                [](TTaskTrigger& t) { t.EndBoundary = QStringLiteral("2026-01-01T00:00:00"); }),
            false},
        {"every other day", Make(tkDaily, "2025-01-01T08:00:00", [](TTaskTrigger& t) { t.DaysInterval = 2; }),
            false},
        {"weekly", Make(tkWeekly, "2025-01-01T08:00:00", [](TTaskTrigger& t) { t.DaysOfWeek = 2; }), true},
        {"every third week",
            Make(tkWeekly, "2025-01-01T08:00:00",
                [](TTaskTrigger& t) {
                    t.DaysOfWeek = 2;
                    t.WeeksInterval = 3;
                }),
            false},
        {"one time ahead", Make(tkTime, "2025-07-01T08:00:00"), true},
        {"repeating",
            Make(tkDaily, "2025-01-01T08:00:00",
                [](TTaskTrigger& t) { t.RepetitionInterval = QStringLiteral("PT1H"); }),
            false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TTriggerTimes(c.trigger, kBerlin).CalendarIsExact(now), c.exact);
    }
}

TEST(TriggerTimes, TriggersThatCannotFire)
{
    const struct {
        const char* name;
        TTaskTrigger trigger;
    } cases[] = {
        {"no start", Make(tkDaily, "")},
        {"bad start", Make(tkDaily, "2025-02-30T08:00:00")},
        {"weekly without days", Make(tkWeekly, "2025-01-01T08:00:00")},
        {"monthly without months",
            Make(tkMonthly, "2025-01-01T08:00:00", [](TTaskTrigger& t) { t.DaysOfMonth = 1; })},
        {"by weekday without weeks",
            Make(tkMonthlyDow, "2025-01-01T08:00:00",
                [](TTaskTrigger& t) {
                    t.DaysOfWeek = 2;
                    t.MonthsOfYear = 1;
                })},
        {"end before start",
            Make(tkDaily, "2025-01-01T08:00:00",
                [](TTaskTrigger& t) { t.EndBoundary = QStringLiteral("2024-01-01T08:00:00"); })},
        {"a time the clock skips", Make(tkTime, "2025-03-30T02:30:00")},
        {"monthly on the 31st of June",
            Make(tkMonthly, "2025-01-01T08:00:00",
                [](TTaskTrigger& t) {
                    t.DaysOfMonth = 1 << 30;
                    t.MonthsOfYear = 32;
                })},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TTriggerTimes times(c.trigger, kBerlin);
        EXPECT_FALSE(times.NextAtOrAfter(Local("2024-06-01 00:00:00")).isValid());
        EXPECT_FALSE(times.LastAtOrBefore(Local("2030-06-01 00:00:00")).isValid());
    }
    EXPECT_FALSE(TTriggerTimes(Make(tkLogon, ""), kBerlin).IsTimeBased());
}

TEST(TaskTexts, DurationsOfTheService)
{
    const struct {
        const char* text;
        std::optional<qint64> seconds;
    } cases[] = {
        {"", 0},
        {"PT0S", 0},
        {"PT1H30M", 5400},
        {"P1DT2H", 93600},
        {"P2W", 14 * 86400},
        {"P1Y", 365 * 86400},
        {"pt90s", 90},
        {"PT1.5S", 1},
        {"P", std::nullopt},
        {"PT", std::nullopt},
        {"1H", std::nullopt},
        {"PT-5M", std::nullopt},
        {"P1H", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ServiceDurationSeconds(QString::fromUtf8(c.text)), c.seconds);
    }
}

TEST(TaskTexts, BoundariesOfTheService)
{
    const TTaskBoundary plain = ParseTaskBoundary(u"2025-03-01T20:00:00");
    EXPECT_EQ(plain.Date, QDate(2025, 3, 1));
    EXPECT_EQ(plain.Time, QTime(20, 0));
    EXPECT_FALSE(plain.OffsetSeconds);
    EXPECT_EQ(ParseTaskBoundary(u"2025-03-01T20:00:00+01:00").OffsetSeconds, 3600);
    EXPECT_EQ(ParseTaskBoundary(u"2025-03-01T20:00:00-05:30").OffsetSeconds, -(5 * 3600 + 1800));
    EXPECT_EQ(ParseTaskBoundary(u"2025-03-01T20:00:00.1234567Z").OffsetSeconds, 0);
    for (const char16_t* bad : {u"", u"2025-03-01", u"2025-13-01T00:00:00", u"2025-03-01T24:00:00",
             u"2025-03-01 20:00:00", u"2025-03-01T20:00:00+15:00"})
        EXPECT_FALSE(ParseTaskBoundary(bad).IsValid()) << QString::fromUtf16(bad).toStdString();
}

TEST(TaskTexts, WallTimesAcrossDaylightSavingChanges)
{
    EXPECT_FALSE(WallTimeInstant(QDate(2025, 3, 30), QTime(2, 30), kBerlin).isValid()) << "skipped";
    EXPECT_EQ(WallTimeInstant(QDate(2025, 10, 26), QTime(2, 30), kBerlin),
        Instant(QStringLiteral("2025-10-26T02:30:00+02:00")))
        << "the first of the two";
    EXPECT_EQ(WallTimeInstant(QDate(2025, 10, 26), QTime(3, 30), kBerlin),
        Instant(QStringLiteral("2025-10-26T03:30:00+01:00")));
    EXPECT_EQ(WallTimeInstant(QDate(2025, 7, 1), QTime(12, 0), kBerlin),
        Instant(QStringLiteral("2025-07-01T12:00:00+02:00")));
}
