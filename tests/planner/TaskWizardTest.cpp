// The scheduled-task wizard's model against the real task service over a
// fake user manager: every trigger kind saved and read back, the tasks of
// each kind, the navigation and its messages, the retry rule, the import
// of a task file, and the faults of a save (a name that exists, a trigger
// the wizard cannot edit, a registration the service refuses).
#include "planner/TaskWizard.h"
#include "planner/AdvancedSettings.h"

#include "WizardFixture.h"
#include "frame/MainProgram.h"

#include <QDir>
#include <QFile>

using namespace kes;
using kestest::WizardService;

namespace {

using Pages = TTaskWizardPages;

struct TriggerCase {
    const char* Name;
    TWinTaskTriggerType Type;
    std::function<void(Pages&)> Set;
};

// Sets the start kind's values; the comparison below covers every field a
// kind saves.
const std::vector<TriggerCase>& TriggerCases()
{
    static const std::vector<TriggerCase> cases {
        {"daily every day", TWinTaskTriggerType::ttDaily,
            [](Pages& p) {
                p.StartKind = TStartKind::skDaily;
                p.EveryDay = true;
            }},
        {"daily every 3 days", TWinTaskTriggerType::ttDaily,
            [](Pages& p) {
                p.StartKind = TStartKind::skDaily;
                p.EveryDay = false;
                p.DaysInterval = 3;
            }},
        {"weekly Monday and Sunday every 2 weeks", TWinTaskTriggerType::ttWeekly,
            [](Pages& p) {
                p.StartKind = TStartKind::skWeekly;
                p.WeeksInterval = 2;
                p.WeekDays = 1 | 64;
            }},
        {"monthly days 1, 15 and last in January and July", TWinTaskTriggerType::ttMonthly,
            [](Pages& p) {
                p.StartKind = TStartKind::skMonthly;
                p.MonthlyOnDays = true;
                p.MonthDays = 1u | (1u << 14) | 0x80000000u;
                p.Months = 1 | 64;
            }},
        {"monthly second and last Tuesday and Sunday", TWinTaskTriggerType::ttMonthlyDow,
            [](Pages& p) {
                p.StartKind = TStartKind::skMonthly;
                p.MonthlyOnDays = false;
                p.MonthWeeks = 2 | 16;
                p.MonthWeekDays = 2 | 64;
                p.Months = 0xFFF;
            }},
        {"one time with a random delay of 90 seconds", TWinTaskTriggerType::ttTime,
            [](Pages& p) {
                p.StartKind = TStartKind::skOneTime;
                p.RandomDelay.Checked = true;
                p.RandomDelay.SetSeconds(90);
            }},
        {"on logon after 2 hours, not activated", TWinTaskTriggerType::ttLogon,
            [](Pages& p) {
                p.StartKind = TStartKind::skLogon;
                p.Activate = false;
                p.Delay.Checked = true;
                p.Delay.SetSeconds(7200);
                p.LogonAccount = platform::UserName();
            }},
        {"on waking up with an own query", TWinTaskTriggerType::ttEvent,
            [](Pages& p) {
                p.StartKind = TStartKind::skWakeUp;
                p.WakeUpQuery = QStringLiteral("<QueryList><Query Id=\"0\"/></QueryList>");
                p.Delay.Checked = false;
            }},
    };
    return cases;
}

void ExpectSameSchedule(const Pages& a, const Pages& b, const char* name)
{
    SCOPED_TRACE(name);
    EXPECT_EQ(a.StartKind, b.StartKind);
    EXPECT_EQ(a.ScheduleEnabled, b.ScheduleEnabled);
    const bool event = a.StartKind == TStartKind::skLogon || a.StartKind == TStartKind::skWakeUp;
    if (!event || a.Activate) {
        EXPECT_EQ(a.Start, b.Start);
    }
    switch (a.StartKind) {
    case TStartKind::skDaily:
        EXPECT_EQ(a.EveryDay, b.EveryDay);
        if (!a.EveryDay) {
            EXPECT_EQ(a.DaysInterval, b.DaysInterval);
        }
        break;
    case TStartKind::skWeekly:
        EXPECT_EQ(a.WeeksInterval, b.WeeksInterval);
        EXPECT_EQ(a.WeekDays, b.WeekDays);
        break;
    case TStartKind::skMonthly:
        EXPECT_EQ(a.MonthlyOnDays, b.MonthlyOnDays);
        if (a.MonthlyOnDays) {
            EXPECT_EQ(a.MonthDays, b.MonthDays);
        } else {
            EXPECT_EQ(a.MonthWeeks, b.MonthWeeks);
            EXPECT_EQ(a.MonthWeekDays, b.MonthWeekDays);
        }
        EXPECT_EQ(a.Months, b.Months);
        break;
    case TStartKind::skOneTime:
        EXPECT_EQ(a.RandomDelay.Seconds(), b.RandomDelay.Seconds());
        EXPECT_EQ(a.RandomDelay.Unit, b.RandomDelay.Unit);
        break;
    case TStartKind::skLogon:
    case TStartKind::skWakeUp:
        EXPECT_EQ(a.Activate, b.Activate);
        EXPECT_EQ(a.Delay.Seconds(), b.Delay.Seconds());
        if (a.StartKind == TStartKind::skWakeUp) {
            EXPECT_EQ(a.WakeUpQuery, b.WakeUpQuery);
        } else {
            EXPECT_EQ(a.LogonAccount, b.LogonAccount);
        }
        break;
    }
    EXPECT_EQ(a.AdvSet.UseEndDate, b.AdvSet.UseEndDate);
    EXPECT_EQ(a.AdvSet.RepeatTask, b.AdvSet.RepeatTask);
    EXPECT_EQ(a.AdvSet.MinutesInterval, b.AdvSet.MinutesInterval);
    EXPECT_EQ(a.AdvSet.MinutesDuration, b.AdvSet.MinutesDuration);
    EXPECT_EQ(a.AdvSet.UseLimit, b.AdvSet.UseLimit);
    EXPECT_EQ(a.AdvSet.MinutesLimit, b.AdvSet.MinutesLimit);
    EXPECT_EQ(a.AdvSet.ReRun, b.AdvSet.ReRun);
    EXPECT_EQ(a.AdvSet.PowerOnly, b.AdvSet.PowerOnly);
    EXPECT_EQ(a.AdvSet.StopBattery, b.AdvSet.StopBattery);
    EXPECT_EQ(a.AdvSet.WakeUp, b.AdvSet.WakeUp);
    EXPECT_EQ(a.AdvSet.NetworkOnly, b.AdvSet.NetworkOnly);
    EXPECT_EQ(a.Description, b.Description);
    EXPECT_EQ(a.AsLoggedOnUser, b.AsLoggedOnUser);
    EXPECT_EQ(a.HighestRunLevel, b.HighestRunLevel);
}

void MakeFile(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    kestest::WriteBytes(path, "[Task]\n");
}

} // namespace

TEST_F(WizardService, EveryTriggerKindIsSavedAndReadBack)
{
    int n = 0;
    for (const TriggerCase& c : TriggerCases()) {
        const QString schedule = QStringLiteral("S%1").arg(++n);
        Pages saved;
        ui.Wizard = [&](TTaskWizard& w) {
            Pages& p = w.Pages();
            c.Set(p);
            p.Start = QDateTime(QDate(2025, 7, 3), QTime(6, 30));
            p.ScheduleEnabled = n % 2 == 1;
            p.Description = QStringLiteral("Nightly ö run");
            p.HighestRunLevel = n % 3 == 0;
            p.AdvSet.UseEndDate = true;
            p.AdvSet.EndDate = QDateTime(QDate(2026, 1, 31), QTime(23, 59, 59));
            p.AdvSet.RepeatTask = true;
            p.AdvSet.MinutesInterval = 90;
            p.AdvSet.MinutesDuration = 600;
            p.AdvSet.UseLimit = true;
            p.AdvSet.MinutesLimit = 4320;
            p.AdvSet.ReRun = true;
            p.AdvSet.PowerOnly = false;
            p.AdvSet.StopBattery = false;
            p.AdvSet.NetworkOnly = true;
            saved = p;
            return true;
        };
        ASSERT_EQ(Run(-1, TKesAction::paSchedule, schedule, QStringLiteral(" /hide")), 1) << c.Name;
        TWinRegisteredTask& task = Folder().Tasks(taskNr);
        ASSERT_EQ(task.TaskName(), QStringLiteral("Schedule-") + schedule);
        ASSERT_EQ(trgNr, 0);
        EXPECT_EQ(task.Definition().Triggers(0).TriggerType(), c.Type) << c.Name;

        // Opened again: the pages as they were saved.
        Pages loaded;
        ui.Wizard = [&](TTaskWizard& w) {
            loaded = w.Pages();
            return false;
        };
        EXPECT_EQ(Run(taskNr + 1, TKesAction::paSchedule, QString(), QString()), 2);
        ExpectSameSchedule(saved, loaded, c.Name);
        EXPECT_EQ(loaded.Header, QStringLiteral("1st Schedule"));
        EXPECT_EQ(loaded.Command.TaskList, QuoteTaskEntry(schedule));
        EXPECT_TRUE(loaded.Command.NoSplash);
    }
    EXPECT_TRUE(ui.Messages.isEmpty()) << ui.Messages.join(QLatin1Char('|')).toStdString();
}

TEST_F(WizardService, TheScheduleTaskRunsTheProgramWithTheScheduleAndItsOptions)
{
    const QString ini = dir.filePath(QStringLiteral("my settings/Marvick.ini"));
    const QString options = DefaultRunOptions(ini);
    ASSERT_EQ(Run(-1, TKesAction::paSchedule, QStringLiteral("Weekly Full"), options), 1);
    EXPECT_EQ(ui.NameAsked, 0) << "a schedule's task is named after it";
    TWinTask& d = Folder().Tasks(taskNr).Definition();
    EXPECT_EQ(Folder().Tasks(taskNr).TaskName(), QStringLiteral("Schedule-Weekly Full"));
    EXPECT_EQ(d.UserData(), QStringLiteral("Schedule-Weekly Full"));
    EXPECT_EQ(d.Description(), QStringLiteral("This task was created by Kestrup"));
    EXPECT_EQ(d.LogonType(), TLogonType::ltToken);
    ASSERT_EQ(d.ActionCount(), 1);
    EXPECT_EQ(d.Actions(0).Path(), Program());
    // The schedule's kind has the single blank as its leading option.
    EXPECT_EQ(d.Actions(0).Arguments(),
        QStringLiteral("\"Weekly Full\"  /hide /prompt:delay /wait:3 \"/ini:") + ini
            + QStringLiteral("\" /logmode:1"));
}

TEST_F(WizardService, TheTasksOfEachKind)
{
    const QString jobs = TaskDir();
    MakeFile(jobs + QStringLiteral("Daily.buj"));
    MakeFile(jobs + QStringLiteral("My Files.buj"));
    MakeFile(jobs + QStringLiteral("Old.rsj"));
    struct Case {
        TKesAction Kind;
        QString Task;
        QString Name; // preset
        QString Arguments;
        QString Data;
    };
    const QString hide = QStringLiteral(" /hide /prompt:delay /wait:3");
    const std::vector<Case> cases {
        {TKesAction::paBackup,
            jobs + QStringLiteral("Daily.buj,\"") + jobs + QStringLiteral("My Files.buj\""),
            QStringLiteral("Backup-Daily"),
            QuoteTaskEntry(jobs + QStringLiteral("Daily.buj")) + QLatin1Char(' ')
                + QuoteTaskEntry(jobs + QStringLiteral("My Files.buj"))
                + QStringLiteral(" /force /startapp:scheduler") + hide,
            QStringLiteral("Backup")},
        {TKesAction::paRestore, jobs + QStringLiteral("Old.rsj"), QStringLiteral("Restore-Old"),
            jobs + QStringLiteral("Old.rsj /restore") + hide, QStringLiteral("Restore")},
        {TKesAction::paTavisk, QStringLiteral("default"), QStringLiteral("Tavisk-default"),
            QStringLiteral("/profile:default"), QStringLiteral("Tavisk-default")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name.toStdString());
        ui.Names = {QString()};
        QString presetSeen;
        ui.Wizard = [&](TTaskWizard& w) {
            presetSeen = w.Pages().TaskName;
            bool finished = false;
            if (w.ShowProgPage()) {
                EXPECT_TRUE(w.Next(ui, finished)) << ui.Messages.join(QLatin1Char('|')).toStdString();
            }
            EXPECT_TRUE(w.Next(ui, finished));
            EXPECT_FALSE(w.Next(ui, finished));
            return finished;
        };
        const QString options
            = c.Kind == TKesAction::paTavisk ? QStringLiteral("/profile:default") : QString();
        ASSERT_EQ(Run(-1, c.Kind, c.Task, options), 1);
        EXPECT_EQ(presetSeen, c.Name);
        TWinTask& d = Folder().Tasks(taskNr).Definition();
        EXPECT_EQ(d.UserData(), c.Data);
        // Task files below the task directory are kept relative in the
        // page and written in full.
        EXPECT_EQ(d.Actions(0).Arguments(), c.Arguments);
    }
}

TEST_F(WizardService, NavigationAndItsMessages)
{
    struct Case {
        TKesAction Kind;
        QString TaskField;
        QString Message; // empty: the schedule page opens
    };
    MakeFile(TaskDir() + QStringLiteral("Here.buj"));
    const std::vector<Case> cases {
        {TKesAction::paSchedule, QString(), QStringLiteral("No tasks specified!")},
        {TKesAction::paSchedule, QStringLiteral("Any name"), QString()},
        {TKesAction::paBackup, QStringLiteral("  "), QStringLiteral("No tasks specified!")},
        {TKesAction::paBackup, QStringLiteral("Here,Gone"),
            QStringLiteral("File not found:\r\n") + TaskDir() + QStringLiteral("Gone.buj")},
        {TKesAction::paBackup, QStringLiteral("Here"), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.TaskField.toStdString());
        ui.Messages.clear();
        ui.Names = {QString()};
        ui.Wizard = [&](TTaskWizard& w) {
            EXPECT_EQ(w.Step(), TWizardStep::wsSettings);
            EXPECT_FALSE(w.BackEnabled());
            w.Pages().Command.TaskList = c.TaskField;
            bool finished = false;
            const bool moved = w.Next(ui, finished);
            EXPECT_FALSE(finished);
            if (!c.Message.isEmpty()) {
                EXPECT_FALSE(moved);
                EXPECT_EQ(ui.Messages, QStringList {c.Message});
                EXPECT_EQ(w.Step(), TWizardStep::wsSettings);
                return false;
            }
            EXPECT_TRUE(moved);
            EXPECT_TRUE(ui.Messages.isEmpty());
            w.Pages().StartKind = TStartKind::skWakeUp;
            EXPECT_EQ(w.CurrentPage(), TSchedulePage::spEvent);
            EXPECT_EQ(w.EventCaption(), QStringLiteral("On waking up the computer:"));
            EXPECT_TRUE(w.BackEnabled());
            EXPECT_TRUE(w.Next(ui, finished));
            EXPECT_EQ(w.CurrentPage(), TSchedulePage::spAccount);
            EXPECT_TRUE(w.NextIsDone());
            w.Back();
            EXPECT_EQ(w.CurrentPage(), TSchedulePage::spEvent);
            EXPECT_FALSE(w.NextIsDone());
            w.Back();
            EXPECT_EQ(w.Step(), TWizardStep::wsSettings);
            return false;
        };
        EXPECT_EQ(Run(-1, c.Kind, QStringLiteral("X"), QString()), 2) << "cancelled: nothing saved";
    }
    EXPECT_EQ(Folder().TaskCount(), 0);

    // Without a settings page the wizard starts on the schedule, and Back
    // goes no further.
    ui.Wizard = [&](TTaskWizard& w) {
        EXPECT_EQ(w.Step(), TWizardStep::wsSchedule);
        EXPECT_FALSE(w.BackEnabled());
        bool finished = false;
        w.Next(ui, finished);
        EXPECT_TRUE(w.BackEnabled());
        w.Back();
        EXPECT_FALSE(w.BackEnabled());
        return false;
    };
    ui.Names = {QString()};
    EXPECT_EQ(Run(-1, TKesAction::paTavisk, QStringLiteral("p"), QString()), 2);
}

TEST(TaskWizardRules, RetryCodes)
{
    struct Case {
        quint32 Code;
        bool Retry;
    };
    for (const Case& c : std::vector<Case> {{0x80070534, true}, {0x8007052E, true}, {1326, true},
             {0x80070057, true}, {0x80070525, false}, {1333, false}, {0x80070005, false}, {0x80041315, false},
             {0x8007007B, false}}) {
        EXPECT_EQ(IsRetryCode(c.Code), c.Retry) << std::hex << c.Code;
    }
}

TEST(TaskWizardRules, TaskNamesDelaysAndDayChecks)
{
    for (const char* bad : {"a/b", "a\\b", "x:y", "q?", "st*r", "<", ">", "p|q", "say \"hi\"", "tab\t"})
        EXPECT_FALSE(IsValidTaskName(QString::fromUtf8(bad))) << bad;
    EXPECT_TRUE(IsValidTaskName(QStringLiteral("Backup-Müller Daten (neu)")));
    EXPECT_EQ(InvalidTaskNameMessage(QStringLiteral("a/b")),
        QStringLiteral("Task Scheduler\r\n\"a/b\" contains invalid characters (* ? < > : \" / \\ |)!"));

    struct DelayCase {
        quint32 Seconds;
        TDelayUnit Unit;
        int Value;
    };
    for (const DelayCase& c :
        std::vector<DelayCase> {{7200, TDelayUnit::duHours, 2}, {43260, TDelayUnit::duHours, 12},
            {90, TDelayUnit::duSeconds, 90}, {1830, TDelayUnit::duMinutes, 30},
            {600, TDelayUnit::duMinutes, 10}, {30, TDelayUnit::duSeconds, 30}}) {
        TDelayPair p;
        p.SetSeconds(c.Seconds);
        EXPECT_EQ(p.Unit, c.Unit) << c.Seconds;
        EXPECT_EQ(p.Value, c.Value) << c.Seconds;
    }
    TDelayPair p;
    p.ChooseUnit(TDelayUnit::duMinutes);
    EXPECT_EQ(p.Maximum, 719);
    EXPECT_EQ(p.Seconds(), 0u) << "unchecked";
    p.Checked = true;
    EXPECT_EQ(p.Seconds(), 60u);

    // The last checked day or month cannot be taken away.
    EXPECT_EQ(ToggleWeekDay(4, 2, false), 1);
    EXPECT_EQ(ToggleWeekDay(5, 2, false), 1);
    EXPECT_EQ(ToggleMonth(1 << 11, 11, false), 1);
    EXPECT_EQ(WeekDaysToTask(1), 2) << "Monday";
    EXPECT_EQ(WeekDaysToTask(64), 1) << "Sunday";
    EXPECT_EQ(WeekDaysFromTask(WeekDaysToTask(0x55)), 0x55);
    EXPECT_EQ(WakeUpQueryFromEditing(WakeUpQueryForEditing(DefaultWakeUpQuery())), DefaultWakeUpQuery());
    EXPECT_TRUE(WakeUpQueryForEditing(DefaultWakeUpQuery()).contains(QStringLiteral("<QueryList>\n<Query")));
}

TEST_F(WizardService, SavingRulesOfTheSchedule)
{
    // A start of 20:00:40 is written as 20:01; an expiry before the start
    // moves to one minute after it; empty day and week choices write their
    // defaults.
    ui.Wizard = [&](TTaskWizard& w) {
        Pages& p = w.Pages();
        p.StartKind = TStartKind::skMonthly;
        p.MonthlyOnDays = false;
        p.MonthWeeks = 0;
        p.MonthWeekDays = 0;
        p.Start = QDateTime(QDate(2025, 8, 1), QTime(20, 0, 40));
        p.AdvSet.UseEndDate = true;
        p.AdvSet.EndDate = QDateTime(QDate(2025, 7, 1), QTime(0, 0));
        return true;
    };
    ASSERT_EQ(Run(-1, TKesAction::paSchedule, QStringLiteral("M"), QString()), 1);
    TWinTaskTrigger& t = Folder().Tasks(taskNr).Definition().Triggers(0);
    EXPECT_EQ(t.StartTime(), QDateTime(QDate(2025, 8, 1), QTime(20, 1)));
    EXPECT_EQ(t.EndTime(), QDateTime(QDate(2025, 8, 1), QTime(20, 2)));
    EXPECT_EQ(t.WeeksOfMonth(), 1);
    EXPECT_EQ(t.DaysOfWeek(), 2) << "Monday";

    // Changing the daily trigger to a weekly one replaces it at the end.
    std::unique_ptr<TWinTask> two = scheduler->NewTask();
    two->NewAction(TWinTaskActionType::taExec).SetPath(Program());
    two->NewTrigger(TWinTaskTriggerType::ttDaily).SetDaysInterval(1);
    two->NewTrigger(TWinTaskTriggerType::ttTime);
    const int index = Folder().RegisterTask(QStringLiteral("Two"), *two, QString(), QString());
    ASSERT_GE(index, 0);
    ui.Wizard = [&](TTaskWizard& w) {
        EXPECT_EQ(w.Pages().StartKind, TStartKind::skDaily);
        w.Pages().StartKind = TStartKind::skWeekly;
        w.Pages().WeekDays = 0;
        return true;
    };
    ASSERT_EQ(Run(index + 1, TKesAction::paSchedule, QString(), QString(), 0), 1);
    TWinTask& d = Folder().Tasks(taskNr).Definition();
    ASSERT_EQ(d.TriggerCount(), 2);
    EXPECT_EQ(trgNr, 1);
    EXPECT_EQ(d.Triggers(0).TriggerType(), TWinTaskTriggerType::ttTime);
    EXPECT_EQ(d.Triggers(1).TriggerType(), TWinTaskTriggerType::ttWeekly);
    EXPECT_EQ(d.Triggers(1).DaysOfWeek(), 2) << "no day chosen: Monday";
}

TEST_F(WizardService, FaultsLeaveTheTasksAsTheyWere)
{
    ASSERT_EQ(Run(-1, TKesAction::paSchedule, QStringLiteral("Daily"), QString()), 1);
    const QString stored = Folder().Tasks(0).Xml();

    // The name exists: No saves nothing, Yes edits that task.
    ui.Answers = {false};
    EXPECT_EQ(Run(-1, TKesAction::paSchedule, QStringLiteral("DAILY"), QString()), 2);
    EXPECT_EQ(ui.Questions.last(), QStringLiteral("Task \"Schedule-DAILY\" already exists - edit?"));
    ui.Answers = {true};
    ui.Wizard = [&](TTaskWizard& w) {
        EXPECT_EQ(w.Pages().TaskName, QStringLiteral("Schedule-Daily"));
        return false;
    };
    EXPECT_EQ(Run(-1, TKesAction::paSchedule, QStringLiteral("Daily"), QString()), 2);

    // A password logon for another account: the service's message, Retry,
    // and the task unchanged.
    ui.Wizard = [&](TTaskWizard& w) {
        w.ChooseAccount(false);
        w.Pages().UserName = QStringLiteral("somebody-else");
        w.Pages().Password = QStringLiteral("secret");
        w.Pages().Description = QStringLiteral("changed");
        return true;
    };
    EXPECT_EQ(Run(1, TKesAction::paSchedule, QString(), QString()), 4);
    ASSERT_FALSE(ui.Messages.isEmpty());
    EXPECT_TRUE(
        ui.Messages.last().startsWith(QStringLiteral("Could not create or modify scheduled task!\r\n")))
        << ui.Messages.last().toStdString();
    EXPECT_EQ(Folder().Tasks(0).Xml(), stored);
    // The retry keeps what was entered.
    ui.Wizard = [&](TTaskWizard& w) {
        EXPECT_EQ(w.Pages().Description, QStringLiteral("changed"));
        w.ChooseAccount(true);
        return true;
    };
    EXPECT_EQ(Run(1, TKesAction::paSchedule, QString(), QString(), 0, true), 1);
    EXPECT_EQ(Folder().Tasks(0).Definition().Description(), QStringLiteral("changed"));

    // A new task's name with a slash is asked again.
    MakeFile(TaskDir() + QStringLiteral("A.cuj"));
    ui.Names = {QStringLiteral("bad/name"), QStringLiteral("Clean A")};
    ui.Wizard = nullptr;
    EXPECT_EQ(Run(-1, TKesAction::paCleanup, TaskDir() + QStringLiteral("A.cuj"), QString()), 1);
    EXPECT_EQ(ui.NameAsked, 2);
    EXPECT_TRUE(ui.Messages.last().contains(QStringLiteral("\"bad/name\" contains invalid characters")));
    EXPECT_EQ(Folder().Tasks(taskNr).TaskName(), QStringLiteral("Clean A"));
}

TEST_F(WizardService, AStartupTriggerIsNotEdited)
{
    std::unique_ptr<TWinTask> task = scheduler->NewTask();
    task->NewAction(TWinTaskActionType::taExec).SetPath(Program());
    task->NewTrigger(TWinTaskTriggerType::ttBoot);
    ASSERT_EQ(Folder().RegisterTask(QStringLiteral("Boot"), *task, QString(), QString()), 0);
    const QString stored = Folder().Tasks(0).Xml();
    EXPECT_EQ(Run(1, TKesAction::paSchedule, QString(), QString()), 2);
    EXPECT_EQ(ui.Shown, 0);
    ASSERT_EQ(ui.Messages.size(), 1);
    EXPECT_EQ(ui.Messages[0],
        QStringLiteral(
            "The trigger mode \"At startup\" is not supported by Kestrup.\r\nPlease use the Windows Task "
            "Scheduler for editing!"));
    EXPECT_EQ(Folder().Tasks(0).Xml(), stored);
}

TEST_F(WizardService, ImportOfATaskFile)
{
    // A good file: another task's XML becomes a new task with its trigger.
    std::unique_ptr<TWinTask> source = scheduler->NewTask();
    source->NewAction(TWinTaskActionType::taExec).SetPath(Program());
    TWinTaskTrigger& weekly = source->NewTrigger(TWinTaskTriggerType::ttWeekly);
    weekly.SetDaysOfWeek(8);
    weekly.SetStartTime(QDateTime(QDate(2025, 6, 3), QTime(5, 0)));
    const QString good = dir.filePath(QStringLiteral("exported.xml"));
    kestest::WriteBytes(good, source->XmlText().toUtf8());
    ui.Wizard = [&](TTaskWizard& w) {
        EXPECT_EQ(w.Pages().StartKind, TStartKind::skWeekly);
        EXPECT_EQ(w.Pages().WeekDays, 4) << "Wednesday";
        return true;
    };
    ui.Names = {QString()};
    ASSERT_EQ(Run(-2, TKesAction::paSchedule, good, QString()), 1);
    ASSERT_EQ(Folder().TaskCount(), 1);
    EXPECT_EQ(Folder().Tasks(0).TaskName(), QStringLiteral("Schedule-exported")) << "named after the file";

    // A missing and a malformed file: the message and no task.
    const QString bad = dir.filePath(QStringLiteral("broken.xml"));
    kestest::WriteBytes(bad, "<Task><Triggers>");
    for (const QString& file : {dir.filePath(QStringLiteral("gone.xml")), bad}) {
        ui.Messages.clear();
        EXPECT_EQ(Run(-2, TKesAction::paSchedule, file, QString()), 2);
        ASSERT_EQ(ui.Messages.size(), 1);
        EXPECT_TRUE(ui.Messages[0].startsWith(QStringLiteral("Error creating new scheduled task!\r\n- ")));
    }
    EXPECT_EQ(Folder().TaskCount(), 1);
}

TEST_F(WizardService, PickingATaskAndNothingToPick)
{
    ui.Select = [](TWinTaskScheduler&, int&, int&) { return 7; };
    ui.Answers = {false};
    EXPECT_EQ(Run(0, TKesAction::paSchedule, QStringLiteral("N"), QString()), 2);
    EXPECT_EQ(
        ui.Questions.last(), QStringLiteral("No scheduled tasks using Marvick found!\r\nCreate new task?"));
    EXPECT_EQ(ui.SelectFilter, QFileInfo(Program()).fileName());
    EXPECT_EQ(ui.SelectTitle, QStringLiteral("Alternating schedule"));
    EXPECT_EQ(Run(0, TKesAction::paStarter, QStringLiteral("N"), QString()), 7);
    EXPECT_EQ(ui.Messages.last(), QStringLiteral("No scheduled tasks using Brenlow found!"));
    ui.Answers = {true};
    EXPECT_EQ(Run(0, TKesAction::paSchedule, QStringLiteral("N"), QString()), 1) << "Yes creates";

    ui.Select = [](TWinTaskScheduler&, int& task, int& trigger) {
        task = 0;
        trigger = 0;
        return 1;
    };
    ui.Wizard = [](TTaskWizard& w) {
        w.Pages().Description = QStringLiteral("picked");
        return true;
    };
    EXPECT_EQ(Run(0, TKesAction::paSchedule, QString(), QString()), 1);
    EXPECT_EQ(Folder().Tasks(0).Definition().Description(), QStringLiteral("picked"));
    ui.Select = [](TWinTaskScheduler&, int&, int&) { return 6; };
    EXPECT_EQ(Run(0, TKesAction::paSchedule, QString(), QString()), 6);

    TTaskWizard none({Program(), platform::UserName(), clock});
    EXPECT_EQ(none.Execute(-1, 0, TKesAction::paSchedule, TaskDir(), QStringLiteral("x"), QString(), taskNr,
                  trgNr, false, ui),
        2);
    EXPECT_EQ(ui.Messages.last(), QStringLiteral("Scheduled tasks are not available on this computer!"));
}

TEST(AdvancedSettingsModel, UnitsOnFillingAndOk)
{
    const QDateTime now(QDate(2024, 3, 1), QTime(9, 15));
    struct Case {
        int Interval;
        TAdvUnit IntervalUnit;
        int IntervalValue;
        int Limit;
        TAdvUnit LimitUnit;
        int LimitValue;
        int LimitBack;
    };
    for (const Case& c : std::vector<Case> {{90, TAdvUnit::auMinutes, 90, 4320, TAdvUnit::auDays, 3, 4320},
             {120, TAdvUnit::auHours, 2, 10500, TAdvUnit::auDays, 7, 10080},
             {60, TAdvUnit::auHours, 1, 90, TAdvUnit::auMinutes, 90, 90},
             {1439, TAdvUnit::auMinutes, 1439, 1500, TAdvUnit::auHours, 25, 1500}}) {
        TAdvancedSettings s;
        s.MinutesInterval = c.Interval;
        s.MinutesLimit = c.Limit;
        TAdvancedScheduleModel m(s, now);
        EXPECT_EQ(m.Interval.Unit, c.IntervalUnit) << c.Interval;
        EXPECT_EQ(m.Interval.Value, c.IntervalValue) << c.Interval;
        EXPECT_EQ(m.Limit.Unit, c.LimitUnit) << c.Limit;
        EXPECT_EQ(m.Limit.Value, c.LimitValue) << c.Limit;
        TAdvancedSettings back = s;
        EXPECT_TRUE(FinishAdvancedSettings(m, true, back));
        EXPECT_EQ(back.MinutesInterval, c.Interval);
        EXPECT_EQ(back.MinutesLimit, c.LimitBack);
    }

    // Without expiry the date offered is a year on (366 days in a leap
    // year) at 12:00.
    TAdvancedSettings s;
    EXPECT_EQ(TAdvancedScheduleModel(s, now).ExpireAt, QDateTime(QDate(2025, 3, 2), QTime(12, 0)));
    EXPECT_EQ(TAdvancedScheduleModel(s, QDateTime(QDate(2025, 3, 1), QTime(8, 0))).ExpireAt,
        QDateTime(QDate(2026, 3, 1), QTime(12, 0)));

    // The battery check follows the power check; Cancel keeps the record.
    TAdvancedScheduleModel m(s, now);
    m.SetPowerOnly(false);
    EXPECT_FALSE(m.StopBatteryEnabled());
    m.Expire = true;
    m.ExpireAt = QDateTime(QDate(2025, 1, 1), QTime(10, 20, 55));
    m.Repeat = false;
    m.Interval.ChooseUnit(TAdvUnit::auMinutes, false);
    TAdvancedSettings kept = s;
    EXPECT_FALSE(FinishAdvancedSettings(m, false, kept));
    EXPECT_TRUE(kept.PowerOnly);
    TAdvancedSettings changed = s;
    EXPECT_TRUE(FinishAdvancedSettings(m, true, changed));
    EXPECT_FALSE(changed.PowerOnly);
    EXPECT_FALSE(changed.StopBattery);
    EXPECT_EQ(changed.EndDate, QDateTime(QDate(2025, 1, 1), QTime(10, 20)));
    EXPECT_EQ(changed.MinutesInterval, 30) << "kept although the group was off";
    TAdvPair limit;
    limit.ChooseUnit(TAdvUnit::auHours, true);
    EXPECT_EQ(limit.Value, 6);
    limit.ChooseUnit(TAdvUnit::auDays, true);
    EXPECT_EQ(limit.Maximum, 3650);
}

TEST_F(WizardService, AnUnreadableTaskIsNotOverwrittenAndAVanishedServiceSavesNothing)
{
    ASSERT_EQ(Run(-1, TKesAction::paSchedule, QStringLiteral("A"), QString()), 1);
    const QString file = dir.filePath(QStringLiteral("Tasks/Schedule\\x2dA.xml"));
    ASSERT_TRUE(QFile::exists(file)) << file.toStdString();
    kestest::WriteBytes(file, "<Task><Settings><Enabled>perhaps");
    ASSERT_EQ(scheduler->Refresh(), 0u);
    ui.Messages.clear();
    EXPECT_EQ(Run(1, TKesAction::paSchedule, QString(), QString()), 2);
    EXPECT_EQ(ui.Shown, 1) << "only the first run showed the wizard";
    ASSERT_EQ(ui.Messages.size(), 1);
    EXPECT_TRUE(
        ui.Messages[0].startsWith(QStringLiteral("The scheduled task \"Schedule-A\" cannot be read:")))
        << ui.Messages[0].toStdString();
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("<Task><Settings><Enabled>perhaps"));

    // The user manager leaves while the wizard is open: the message, and
    // no definition written.
    ui.Messages.clear();
    ui.Wizard = [&](TTaskWizard&) {
        fake->GoAway();
        return true;
    };
    EXPECT_EQ(Run(-1, TKesAction::paSchedule, QStringLiteral("B"), QString()), 2);
    ASSERT_EQ(ui.Messages.size(), 1);
    EXPECT_TRUE(ui.Messages[0].startsWith(QStringLiteral("Could not create or modify scheduled task!\r\n")));
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("Tasks"))).entryList({QStringLiteral("*B*")}, QDir::Files),
        QStringList());
}

TEST_F(WizardService, APasswordLogonAndTheTaskFilesPicked)
{
    // "As any user with password" with this user's account registers (the
    // service switches lingering on) and reads back as such.
    ui.Wizard = [&](TTaskWizard& w) {
        w.ChooseAccount(false);
        EXPECT_EQ(w.Pages().UserName, platform::UserName());
        w.Pages().Password = QStringLiteral("not stored");
        return true;
    };
    ASSERT_EQ(Run(-1, TKesAction::paSchedule, QStringLiteral("Away"), QString()), 1)
        << ui.Messages.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(Folder().Tasks(taskNr).Definition().LogonType(), TLogonType::ltPassword);
    EXPECT_FALSE(Folder().Tasks(taskNr).Xml().contains(QStringLiteral("not stored")));
    ui.Wizard = [&](TTaskWizard& w) {
        EXPECT_FALSE(w.Pages().AsLoggedOnUser);
        EXPECT_EQ(w.Pages().UserName, platform::UserName());
        EXPECT_TRUE(w.Pages().Password.isEmpty());
        // Files picked with "Add backup task": below the task directory
        // relative, elsewhere in full, quoted with a blank.
        w.AddTaskFiles(
            {TaskDir() + QStringLiteral("Daily.buj"), QStringLiteral("/srv/other jobs/Weekly.buj")});
        EXPECT_EQ(
            w.Pages().Command.TaskList, QStringLiteral("Away,Daily.buj,\"/srv/other jobs/Weekly.buj\""));
        w.Pages().Command.TaskList = QStringLiteral("/srv/jobs/A.buj");
        EXPECT_EQ(w.TaskFilesStartFolder(), QStringLiteral("/srv/jobs/"));
        w.Pages().Command.TaskList = QStringLiteral("A.buj");
        EXPECT_EQ(w.TaskFilesStartFolder(), TaskDir());
        return false;
    };
    EXPECT_EQ(Run(taskNr + 1, TKesAction::paSchedule, QString(), QString()), 2);
}
