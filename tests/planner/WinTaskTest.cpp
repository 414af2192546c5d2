// The task model's conversions and wrappers over a definition: duration and
// date texts, enumerations, the kind-bound trigger properties and their
// guards, trigger descriptions, action search and trigger lists.
#include "planner/WinTask.h"

#include <QLocale>
#include <QTimeZone>
#include <gtest/gtest.h>

using namespace kes;
using platform::TTaskDefinition;

namespace {

// Trigger descriptions use the locale's names and short date.
class TaskModelDescriptions : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = QLocale();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    void TearDown() override { QLocale::setDefault(saved); }

    QLocale saved;
};

std::shared_ptr<TTaskDefinition> Definition()
{
    return std::make_shared<TTaskDefinition>();
}

std::string Text(const QString& s)
{
    return s.toStdString();
}

} // namespace

TEST(TaskModelTexts, DurationsToSecondsAndBack)
{
    const struct {
        const char* text;
        quint32 seconds;
    } reads[] = {{"PT0S", 0}, {"", 0}, {"PT1H30M", 5400}, {"P1D", 86400}, {"P1DT2H", 86400}, {"P2W", 0},
        {"pt5m", 300}, {"PT72H", 259200}, {"PT90000S", 90000 & 0xFFFF}, {"1H", 0}, {"PT5", 0}, {"PTXS", 0},
        {"P1Y", 0}};
    for (const auto& r : reads)
        EXPECT_EQ(DurationToSeconds(QString::fromUtf8(r.text)), r.seconds) << r.text;
    const struct {
        quint32 seconds;
        const char* text;
    } writes[] = {{0, ""}, {5400, "PT1H30M"}, {90000, "P1D"}, {86400, "P1D"}, {3661, "PT1H1M1S"},
        {59, "PT59S"}, {3600, "PT1H"}};
    for (const auto& w : writes)
        EXPECT_EQ(SecondsToDuration(w.seconds), QString::fromUtf8(w.text)) << w.seconds;
    EXPECT_EQ(DurationToSeconds(SecondsToDuration(90000)), 86400u) << "the part below a day is dropped";
}

TEST(TaskModelTexts, DateTexts)
{
    bool zone = false;
    EXPECT_EQ(DateTextToDateTime(QStringLiteral("2025-03-01T20:00:00+01:00"), &zone),
        QDateTime(QDate(2025, 3, 1), QTime(20, 0)))
        << "the zone is not applied";
    EXPECT_TRUE(zone);
    EXPECT_EQ(DateTextToDateTime(QStringLiteral("2025-03-01T20:00:00"), &zone),
        QDateTime(QDate(2025, 3, 1), QTime(20, 0)));
    EXPECT_FALSE(zone);
    EXPECT_EQ(DateTextToDateTime(QStringLiteral("2025-01-05T08:00:00.1234567"), &zone),
        QDateTime(QDate(2025, 1, 5), QTime(8, 0)));
    EXPECT_FALSE(zone) << "a fraction of the seconds is no zone";
    EXPECT_TRUE(DateTextToDateTime(QStringLiteral("2025-03-01T20:00:00Z"), &zone).isValid());
    EXPECT_TRUE(zone);
    for (const char* bad : {"", "2025-02-30T00:00:00", "2025-03-01", "garbage"})
        EXPECT_FALSE(DateTextToDateTime(QString::fromUtf8(bad)).isValid()) << bad;

    const QDateTime t(QDate(2025, 3, 1), QTime(20, 0));
    EXPECT_EQ(DateTimeToDateText(t, false, t), QStringLiteral("2025-03-01T20:00:00"));
    EXPECT_EQ(DateTimeToDateText(QDateTime(), true, t), QString());
    // With the zone: the offset of the moment of writing.
    const QDateTime summer(QDate(2025, 7, 1), QTime(12, 0));
    const int offset = summer.offsetFromUtc();
    const QString suffix = offset == 0 ? QStringLiteral("Z")
                                       : QString(QLatin1Char(offset < 0 ? '-' : '+'))
            + QTime(0, 0).addSecs(std::abs(offset)).toString(QStringLiteral("HH:mm"));
    EXPECT_EQ(DateTimeToDateText(t, true, summer), QStringLiteral("2025-03-01T20:00:00") + suffix);

    EXPECT_EQ(DateDisplayText(QDateTime(QDate(1999, 12, 31), QTime(23, 0))), QString());
    EXPECT_EQ(DateDisplayText(QDateTime()), QString());
    EXPECT_TRUE(
        DateDisplayText(QDateTime(QDate(2025, 3, 1), QTime(20, 0, 5))).contains(QStringLiteral(":05")))
        << "date and time with seconds";
}

TEST(TaskModelTexts, EnumerationsOfServiceValues)
{
    EXPECT_EQ(TriggerTypeOfService(10), TWinTaskTriggerType::ttCustom);
    EXPECT_EQ(TriggerTypeOfService(11), TWinTaskTriggerType::ttSessionStateChange);
    EXPECT_EQ(ActionTypeOfService(3), TWinTaskActionType::taExec);
    EXPECT_EQ(ActionTypeOfService(7), TWinTaskActionType::taMessage);
    EXPECT_EQ(StatusOfService(9), TWinTaskStatus::tsUnknown);
    EXPECT_EQ(StatusOfService(1), TWinTaskStatus::tsDisabled);
    EXPECT_EQ(CompatibilityOfService(6), TWinTaskCompatibility::tcWin10);
    EXPECT_EQ(MultipleInstancesOfService(7), TMultipleInstances::miParallel);
    EXPECT_EQ(LogonTypeOfService(9), TLogonType::ltNone);
    const struct {
        int service;
        TThreadPriority priority;
    } reads[] = {{0, TThreadPriority::tpTimeCritical}, {1, TThreadPriority::tpHighest},
        {2, TThreadPriority::tpHigher}, {3, TThreadPriority::tpHigher}, {4, TThreadPriority::tpNormal},
        {5, TThreadPriority::tpNormal}, {6, TThreadPriority::tpNormal}, {7, TThreadPriority::tpLower},
        {8, TThreadPriority::tpLower}, {9, TThreadPriority::tpLowest}, {10, TThreadPriority::tpIdle},
        {11, TThreadPriority::tpNormal}};
    for (const auto& r : reads)
        EXPECT_EQ(PriorityOfService(r.service), r.priority) << r.service;
    const struct {
        TThreadPriority priority;
        int service;
    } writes[] = {{TThreadPriority::tpIdle, 10}, {TThreadPriority::tpLowest, 9},
        {TThreadPriority::tpLower, 7}, {TThreadPriority::tpNormal, 5}, {TThreadPriority::tpHigher, 3},
        {TThreadPriority::tpHighest, 1}, {TThreadPriority::tpTimeCritical, 0}};
    for (const auto& w : writes)
        EXPECT_EQ(ServicePriority(w.priority), w.service);
    EXPECT_EQ(StatusText(TWinTaskStatus::tsQueued), QStringLiteral("Queued"));
    EXPECT_EQ(StatusText(TWinTaskStatus::tsDisabled), QStringLiteral("Disabled"));
    EXPECT_EQ(ActionTypeText(TWinTaskActionType::taMail), QStringLiteral("Send an email"));
    EXPECT_EQ(TriggerTypeText(TWinTaskTriggerType::ttMonthlyDow), QStringLiteral("Monthly"));
    EXPECT_EQ(TriggerTypeText(TWinTaskTriggerType::ttLogon), QStringLiteral("At log on"));
    EXPECT_EQ(TriggerTypeText(TWinTaskTriggerType::ttCustom), QStringLiteral("Custom trigger"));
    EXPECT_EQ(CompatibilityText(TWinTaskCompatibility::tcAT), QStringLiteral("deprecated"));
}

TEST(TaskModelTexts, StatusTextsOfTheStart)
{
    EXPECT_EQ(TaskSchedulerStartText(kTaskSchedulerNotAvailable),
        QStringLiteral("Windows Task Scheduler 2.0 is not available on Windows XP"));
    EXPECT_EQ(TaskSchedulerStartText(platform::kTaskServiceNotRunning),
        QStringLiteral("Error on connecting to Windows Task Scheduler:\nThe service manager of the user "
                       "(systemd) is not running. (0x80041315)"));
    EXPECT_TRUE(TaskErrorText(platform::TaskSystemError(13)).contains(QStringLiteral("denied"))) << "EACCES";
}

TEST(TaskModelSettings, UnitsOfTheSettings)
{
    auto d = Definition();
    TWinTask task(d);
    TWinTaskSettings& s = task.Settings();
    EXPECT_EQ(s.ExecutionTimeLimit(), 72u) << "PT72H in hours";
    s.SetExecutionTimeLimit(2);
    EXPECT_EQ(d->Settings.ExecutionTimeLimit, QStringLiteral("PT2H"));
    EXPECT_EQ(s.DeleteExpiredTaskAfter(), -1);
    s.SetDeleteExpiredTaskAfter(0);
    EXPECT_EQ(d->Settings.DeleteExpiredTaskAfter, QStringLiteral("PT0S"));
    EXPECT_EQ(s.DeleteExpiredTaskAfter(), 0);
    s.SetDeleteExpiredTaskAfter(48);
    EXPECT_EQ(d->Settings.DeleteExpiredTaskAfter, QStringLiteral("P2D"));
    s.SetDeleteExpiredTaskAfter(-5);
    EXPECT_TRUE(d->Settings.DeleteExpiredTaskAfter.isEmpty());
    s.SetRestartInterval(90);
    EXPECT_EQ(d->Settings.RestartInterval, QStringLiteral("PT1H30M"));
    EXPECT_EQ(s.RestartInterval(), 90u);
    s.SetRunIfMissed(true);
    s.SetDisallowOnBatteries(false);
    s.SetRunOnlyIfNetwork(true);
    EXPECT_TRUE(d->Settings.StartWhenAvailable);
    EXPECT_FALSE(d->Settings.DisallowStartIfOnBatteries);
    EXPECT_TRUE(d->Settings.RunOnlyIfNetworkAvailable);
    s.SetPriority(TThreadPriority::tpLowest);
    EXPECT_EQ(d->Settings.Priority, 9);
    s.IdleSettings().SetWaitTimeout(7200);
    EXPECT_EQ(d->Settings.IdleSettings.WaitTimeout, QStringLiteral("PT2H"));

    task.SetHighestRunLevel(true);
    EXPECT_EQ(d->Principal.RunLevel, 1);
    task.SetHighestRunLevel(false);
    EXPECT_EQ(d->Principal.RunLevel, 0);
    task.SetDate(QDateTime(QDate(2025, 3, 1), QTime(20, 0, 7), QTimeZone(3600)));
    EXPECT_FALSE(d->RegistrationInfo.Date.contains(QLatin1Char('+'))) << "written without zone";
    task.SetLogonType(TLogonType::ltToken);
    EXPECT_EQ(d->Principal.LogonType, platform::lkInteractiveToken);
    task.SetUserData(QStringLiteral("Schedule-Weekly Full"));
    EXPECT_EQ(d->Data, QStringLiteral("Schedule-Weekly Full"));
}

TEST(TaskModelTriggers, KindBoundPropertiesAndTheirGuards)
{
    auto d = Definition();
    TWinTask task(d);
    TWinTaskTrigger& daily = task.NewTrigger(TWinTaskTriggerType::ttDaily);
    TWinTaskTrigger& weekly = task.NewTrigger(TWinTaskTriggerType::ttWeekly);
    TWinTaskTrigger& monthly = task.NewTrigger(TWinTaskTriggerType::ttMonthly);
    TWinTaskTrigger& dow = task.NewTrigger(TWinTaskTriggerType::ttMonthlyDow);
    TWinTaskTrigger& logon = task.NewTrigger(TWinTaskTriggerType::ttLogon);

    weekly.SetDaysOfWeek(2);
    for (int bad : {0, 128, -1})
        weekly.SetDaysOfWeek(bad);
    EXPECT_EQ(weekly.DaysOfWeek(), 2);
    dow.SetWeeksOfMonth(1 | 16);
    dow.SetWeeksOfMonth(32);
    EXPECT_EQ(dow.WeeksOfMonth(), 17) << "the last week counts once";
    EXPECT_TRUE(dow.RunOnLastWeekOfMonth());
    dow.SetRunOnLastWeekOfMonth(false);
    EXPECT_EQ(dow.WeeksOfMonth(), 1);
    monthly.SetMonthsOfYear(4095);
    monthly.SetMonthsOfYear(4096);
    monthly.SetMonthsOfYear(0);
    EXPECT_EQ(monthly.MonthsOfYear(), 4095);
    monthly.SetDaysOfMonth(int(0x80000000u));
    EXPECT_EQ(d->Triggers[2].DaysOfMonth, int(0x80000000u)) << "the last-day bit alone is written";
    EXPECT_TRUE(monthly.RunOnLastDayOfMonth());
    monthly.SetDaysOfMonth(0);
    EXPECT_EQ(monthly.DaysOfMonth(), int(0x80000000u));
    monthly.SetRunOnLastDayOfMonth(false);
    monthly.SetDaysOfMonth(1);
    EXPECT_FALSE(monthly.RunOnLastDayOfMonth());
    daily.SetDaysInterval(0);
    EXPECT_EQ(daily.DaysInterval(), 1);
    daily.SetDaysInterval(5);
    EXPECT_EQ(daily.DaysInterval(), 5);

    // Kind-bound properties of other kinds read as nothing and cannot be set.
    const TTaskDefinition before = *d;
    daily.SetDaysOfWeek(4);
    daily.SetWeeksInterval(3);
    daily.SetMonthsOfYear(1);
    daily.SetDelay(30);
    daily.SetLogonUserId(QStringLiteral("x"));
    weekly.SetDaysInterval(2);
    weekly.SetDaysOfMonth(1);
    weekly.SetRunOnLastDayOfMonth(true);
    logon.SetRandomDelay(30);
    logon.SetSubscription(QStringLiteral("<QueryList/>"));
    EXPECT_EQ(*d, before);
    EXPECT_EQ(daily.DaysOfWeek(), 0);
    EXPECT_EQ(daily.WeeksInterval(), 0);
    EXPECT_EQ(weekly.DaysInterval(), 0);
    EXPECT_FALSE(weekly.RunOnLastDayOfMonth());
    EXPECT_EQ(logon.RandomDelay(), 0u);
    EXPECT_EQ(logon.Subscription(), QString());
    logon.SetDelay(30);
    EXPECT_EQ(d->Triggers[4].Delay, QStringLiteral("PT30S"));
    weekly.SetRandomDelay(90);
    EXPECT_EQ(weekly.RandomDelay(), 90u);
}

TEST(TaskModelTriggers, StartTimesAndTheirZone)
{
    auto clock = std::make_shared<TSettableClock>(QDateTime(QDate(2025, 7, 1), QTime(12, 0)));
    auto d = Definition();
    d->Principal.UserId = QStringLiteral("host\\me");
    TWinTask task(d, clock);
    TWinTaskTrigger& logon = task.NewTrigger(TWinTaskTriggerType::ttLogon);
    EXPECT_EQ(logon.StartTime(), QDateTime(QDate(2025, 7, 1), QTime(12, 0))) << "a new trigger starts now";
    EXPECT_EQ(logon.LogonUserId(), QStringLiteral("host\\me"));

    d->Triggers[0].StartBoundary = QStringLiteral("2025-03-01T20:00:00+05:00");
    task.Refresh();
    TWinTaskTrigger& read = task.Triggers(0);
    EXPECT_TRUE(read.UseTimeZone());
    EXPECT_EQ(read.StartTime(), QDateTime(QDate(2025, 3, 1), QTime(20, 0)));
    read.SetStartTime(read.StartTime());
    EXPECT_EQ(d->Triggers[0].StartBoundary,
        DateTimeToDateText(QDateTime(QDate(2025, 3, 1), QTime(20, 0)), true, clock->CurrentDateTime()))
        << "the offset of the moment of writing, not the one read";
    read.SetUseTimeZone(false);
    read.SetEndTime(QDateTime(QDate(2026, 1, 1), QTime(0, 0)));
    EXPECT_EQ(d->Triggers[0].EndBoundary, QStringLiteral("2026-01-01T00:00:00"));
    read.SetEndTime(QDateTime());
    EXPECT_TRUE(d->Triggers[0].EndBoundary.isEmpty()) << "no date clears the boundary";
    read.SetInterval(3600);
    read.SetDuration(8 * 3600);
    read.SetExecutionTimeLimit(4320 * 60);
    EXPECT_EQ(d->Triggers[0].RepetitionInterval, QStringLiteral("PT1H"));
    EXPECT_EQ(d->Triggers[0].RepetitionDuration, QStringLiteral("PT8H"));
    EXPECT_EQ(d->Triggers[0].ExecutionTimeLimit, QStringLiteral("P3D"));
}

TEST_F(TaskModelDescriptions, InTheLocalesWords)
{
    auto d = Definition();
    TWinTask task(d);
    const QString start = QStringLiteral("2025-03-01T20:00:00");
    auto add = [&](TWinTaskTriggerType type, const std::function<void(TWinTaskTrigger&)>& set) {
        TWinTaskTrigger& t = task.NewTrigger(type);
        d->Triggers.last().StartBoundary = start;
        if (set)
            set(t);
        return task.Triggers(task.TriggerCount() - 1).TriggerString();
    };
    const struct {
        QString got;
        const char* expected;
    } cases[] = {
        {add(TWinTaskTriggerType::ttTime, {}), "At 20:00 on 3/1/25"},
        {add(TWinTaskTriggerType::ttDaily, {}), "At 20:00 every day"},
        {add(TWinTaskTriggerType::ttDaily,
             [](TWinTaskTrigger& t) {
                 t.SetInterval(3600);
                 t.SetDuration(8 * 3600);
             }),
            "At 20:00 every day"},
        {add(TWinTaskTriggerType::ttDaily,
             [](TWinTaskTrigger& t) {
                 t.SetDaysInterval(3);
                 t.SetInterval(2 * 3600);
                 t.SetDuration(8 * 3600);
             }),
            "At 20:00 every 3 days - After triggered, repeat every 2 hours for a duration of 8 hours"},
        {add(TWinTaskTriggerType::ttDaily,
             [](TWinTaskTrigger& t) {
                 t.SetDaysInterval(2);
                 t.SetInterval(60);
             }),
            "At 20:00 every 2 days - After triggered, repeat every minute for a duration of unlimited time"},
        {add(TWinTaskTriggerType::ttWeekly, [](TWinTaskTrigger& t) { t.SetDaysOfWeek(2 | 32); }),
            "At 20:00 every Monday, Friday of every week, starting 3/1/25"},
        {add(TWinTaskTriggerType::ttWeekly,
             [](TWinTaskTrigger& t) {
                 t.SetDaysOfWeek(1);
                 t.SetWeeksInterval(2);
             }),
            "At 20:00 every Sunday of every 2 weeks, starting 3/1/25"},
        {add(TWinTaskTriggerType::ttMonthly,
             [](TWinTaskTrigger& t) {
                 t.SetDaysOfMonth(1 | (1 << 14) | int(0x80000000u));
                 t.SetMonthsOfYear(1 | 2048);
             }),
            "At 20:00 on 1, 15, Last of January, December, starting 3/1/25"},
        {add(TWinTaskTriggerType::ttMonthly,
             [](TWinTaskTrigger& t) {
                 t.SetDaysOfMonth(int(0x80000000u));
                 t.SetMonthsOfYear(2);
             }),
            "At 20:00 on Last of February, starting 3/1/25"},
        {add(TWinTaskTriggerType::ttMonthlyDow,
             [](TWinTaskTrigger& t) {
                 t.SetWeeksOfMonth(1 | 16);
                 t.SetDaysOfWeek(2);
                 t.SetMonthsOfYear(4);
             }),
            "Runs on the First, Last Monday, each March starting 3/1/25"},
        {add(TWinTaskTriggerType::ttEvent, {}), "On an event, starting at 20:00 on 3/1/25"},
        {add(TWinTaskTriggerType::ttBoot, {}), "At system startup, starting at 20:00 on 3/1/25"},
        {add(TWinTaskTriggerType::ttLogon, [](TWinTaskTrigger& t) { t.SetLogonUserId(QString()); }),
            "At logon of any user, starting at 20:00 on 3/1/25"},
        {add(TWinTaskTriggerType::ttIdle, {}), "When computer is idle"},
        {add(TWinTaskTriggerType::ttRegistration, {}), "When task is created or modified"},
        {add(TWinTaskTriggerType::ttSessionStateChange, {}), "Unknown"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Text(c.got), c.expected);

    // Without a start boundary the starting part is left out.
    for (TWinTaskTriggerType type :
        {TWinTaskTriggerType::ttEvent, TWinTaskTriggerType::ttBoot, TWinTaskTriggerType::ttLogon}) {
        TWinTaskTrigger& t = task.NewTrigger(type);
        d->Triggers.last().StartBoundary.clear();
        t.SetLogonUserId(QStringLiteral("host\\me"));
        const QString s = task.Triggers(task.TriggerCount() - 1).TriggerString();
        EXPECT_FALSE(s.contains(QStringLiteral("starting"))) << Text(s);
    }
    EXPECT_EQ(Text(task.Triggers(task.TriggerCount() - 1).TriggerString()), "At logon of host\\me");
}

TEST(TaskModelActions, FindingTheProgram)
{
    auto d = Definition();
    TWinTask task(d);
    task.NewAction(TWinTaskActionType::taExec)
        .SetPath(QStringLiteral("C:\\Programs\\Kestrup\\Marvick.exe.bak"));
    task.NewAction(TWinTaskActionType::taCom);
    TWinTaskAction& exec = task.NewAction(TWinTaskActionType::taExec);
    exec.SetPath(QStringLiteral("\"C:\\Programs\\Kestrup\\Marvick.exe\""));
    EXPECT_EQ(task.SelectedAction(), 2);
    EXPECT_EQ(exec.Path(), QStringLiteral("C:\\Programs\\Kestrup\\Marvick.exe"))
        << "one level of quotes removed";
    EXPECT_EQ(d->Actions[2].Path, QStringLiteral("\"C:\\Programs\\Kestrup\\Marvick.exe\""));
    EXPECT_EQ(task.IndexOfApp(QStringLiteral("Marvick.exe")), 2);
    EXPECT_EQ(task.IndexOfApp(QStringLiteral("MARVICK.exe")), 2);
    EXPECT_EQ(task.SelectedAction(), 2);
    EXPECT_EQ(task.IndexOfApp(QStringLiteral("Selwand")), -1);
    EXPECT_EQ(task.SelectedAction(), -1);
    EXPECT_EQ(task.IndexOfNextExecAction(1), 2);
    EXPECT_EQ(task.IndexOfNextExecAction(3), -1);
    EXPECT_EQ(task.Actions(1).Path(), QString()) << "no program path for a COM action";
    task.Actions(1).SetArguments(QStringLiteral("x"));
    EXPECT_TRUE(d->Actions[1].Arguments.isEmpty());
    EXPECT_EQ(task.Actions(0).ActionTypeAsString(), QStringLiteral("Start a program"));
}

TEST(TaskModelTriggers, DeletingTriggersKeepsTheWrappersInStep)
{
    auto d = Definition();
    TWinTask task(d);
    task.NewTrigger(TWinTaskTriggerType::ttDaily);
    task.NewTrigger(TWinTaskTriggerType::ttWeekly);
    task.NewTrigger(TWinTaskTriggerType::ttLogon);
    EXPECT_TRUE(task.DeleteTrigger(-1));
    EXPECT_TRUE(task.DeleteTrigger(3));
    EXPECT_EQ(task.TriggerCount(), 3);
    EXPECT_TRUE(task.DeleteTrigger(0));
    ASSERT_EQ(task.TriggerCount(), 2);
    EXPECT_EQ(task.Triggers(0).TriggerType(), TWinTaskTriggerType::ttWeekly);
    task.Triggers(1).SetLogonUserId(QStringLiteral("u"));
    EXPECT_EQ(d->Triggers[1].UserId, QStringLiteral("u")) << "the wrapper follows its trigger";
    task.TriggerList().ClearAll();
    EXPECT_TRUE(d->Triggers.isEmpty());
}

TEST(TaskModelDefinition, XmlTextReplacesTheDefinition)
{
    auto d = Definition();
    TWinTask task(d);
    task.NewTrigger(TWinTaskTriggerType::ttDaily);
    const QString xml = task.XmlText();
    const TTaskDefinition before = *d;
    try {
        task.SetXmlText(QStringLiteral("<Task><Triggers>"));
        ADD_FAILURE() << "no error";
    } catch (const platform::ETaskServiceError& e) {
        EXPECT_EQ(e.ErrorCode(), platform::kTaskXmlMalformed);
    }
    EXPECT_EQ(*d, before) << "a bad text changes nothing";
    TTaskDefinition other;
    other.Triggers.append(platform::TTaskTrigger());
    other.Triggers.append(platform::TTaskTrigger());
    task.SetXmlText(platform::WriteTaskXml(other));
    EXPECT_EQ(task.TriggerCount(), 2);
    EXPECT_EQ(*d, other);
}
