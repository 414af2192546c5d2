// Scheduled runs over many simulated days: the settings file is real, the
// day comes from the clock seam, the launcher records the command lines.
#include "planner/ScheduleRun.h"

#include "TestRun.h"
#include "common/TestSupport.h"
#include "frame/WinExecute.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace kes;
using kestest::Launch;

namespace {

const QString kKesmo = QStringLiteral("/opt/kestrup/Kesmo");

class ScheduleRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        task = dir.filePath(QStringLiteral("My Task.buj"));
        kestest::WriteBytes(task, "[Job]\r\n");
    }

    QString Ini() const { return dir.filePath(QStringLiteral("Marvick.ini")); }

    TSchedTask Schedule(const QString& name, int cycles, int steps, bool diff = true, int firstDay = 1) const
    {
        TSchedTask s;
        s.SName = name;
        s.Task = task;
        s.Cycles = cycles;
        s.Steps = steps;
        s.Diff = diff;
        s.FirstDay = firstDay;
        return s;
    }

    void Save(const TSchedules& list)
    {
        TMarvickSettings settings;
        settings.Schedules = list;
        SaveSchedules(Ini(), settings, QStringLiteral("Marvick"), QStringLiteral("1.1"));
    }

    static TMarvickCommandLine Named(const QString& name)
    {
        TMarvickCommandLine cmd;
        cmd.SchedName = name;
        return cmd;
    }

    // One start of Marvick on `day`, from loading the settings to the end.
    bool RunOn(const QDate& day, const TMarvickCommandLine& cmd, bool batch = false)
    {
        TMarvickContext c;
        c.KesPath = kesPath;
        c.IniName = Ini();
        c.IsBatch = batch;
        c.LanguageCode = language;
        c.CommandLine = cmd;
        TScheduleRun run(c, rec, std::make_shared<kes::TSettableClock>(QDateTime(day, QTime(12, 0))),
            [this](const QString& program, const QString& arguments, bool wait) {
                launches.append(Launch {program, arguments, wait});
                return results.isEmpty() ? 0u : results.takeFirst();
            });
        const bool done = run.CheckSchedule();
        hadError = run.HadError();
        return done;
    }

    TSchedTask Stored(int index = 0) const { return LoadSchedules(Ini(), {}).Schedules.value(index); }

    // "folder mode" per launch, " wait" when waited for.
    QStringList LaunchList() const
    {
        QStringList out;
        for (const Launch& l : launches)
            out.append(
                l.Folder() + QLatin1Char(' ') + l.Mode() + (l.wait ? QStringLiteral(" wait") : QString()));
        return out;
    }

    QString Started(const QString& name, const QString& kind, int step) const
    {
        return QStringLiteral("Backup started for schedule: %1\nBackup task: %2\nMode: %3 / Step: %4")
            .arg(name, task, kind)
            .arg(step);
    }

    QTemporaryDir dir;
    QString task;
    QString kesPath = kKesmo;
    QString language = QStringLiteral("en");
    kestest::Recorder rec;
    QList<Launch> launches;
    QList<quint32> results;
    bool hadError = false;
};

// Expected outcome of one day of a rotation.
struct Day {
    QDate date;
    QStringList launches; // "folder mode [wait]"
    int nextCycle; // stored afterwards
    int lastFull;
};

} // namespace

TEST_F(ScheduleRunTest, DailyRotationOfTwoCyclesOfFiveIncrementalSteps)
{
    Save({Schedule(QStringLiteral("Nightly"), 2, 5, false)});
    const char* folders[]
        = {"Bu01F", "Bu02I", "Bu03I", "Bu04I", "Bu05I", "Bu06F", "Bu07I", "Bu08I", "Bu09I", "Bu10I", "Bu01F"};
    const QDate first(2025, 3, 1);
    for (int i = 0; i < 11; ++i) {
        SCOPED_TRACE(i + 1);
        launches.clear();
        rec.Clear();
        const QDate day = first.addDays(i);
        ASSERT_TRUE(RunOn(day, Named(QStringLiteral("nightly"))));
        ASSERT_EQ(launches.size(), 1);
        const bool full = i % 5 == 0;
        EXPECT_EQ(launches[0].Folder(), QLatin1String(folders[i]));
        EXPECT_EQ(launches[0].Mode(), full ? QStringLiteral("full") : QStringLiteral("incremental"));
        EXPECT_FALSE(launches[0].wait);
        EXPECT_EQ(rec.infos,
            QStringList {Started(QStringLiteral("Nightly"),
                full ? QStringLiteral("Full") : QStringLiteral("Incremental"), i % 10 + 1)});
        EXPECT_EQ(rec.waits, QList<int> {5});
        const TSchedTask s = Stored();
        EXPECT_EQ(s.NextCyc, (i + 1) % 10 + 1);
        EXPECT_EQ(s.LastFull, 0);
        EXPECT_EQ(s.LastDay, DayNumber(day));
    }
}

TEST_F(ScheduleRunTest, CommandLineOfADayStep)
{
    Save({Schedule(QStringLiteral("Nightly"), 2, 5, false)});
    ASSERT_TRUE(RunOn(QDate(2025, 3, 1), Named(QStringLiteral("Nightly"))));
    ASSERT_EQ(launches.size(), 1);
    EXPECT_EQ(launches[0].program, kKesmo);
    EXPECT_EQ(launches[0].arguments,
        QStringLiteral("\"") + task
            + QStringLiteral("\" /startapp:marvick /mode:full /backupdir:Bu01F /force"
                             " /hide /logmode:1"));
    EXPECT_EQ(SplitCommandLine(launches[0].arguments).value(0), task);
}

TEST_F(ScheduleRunTest, OwnSwitchesReplaceTheDefaultOptions)
{
    Save({Schedule(QStringLiteral("Nightly"), 2, 5)});
    TMarvickCommandLine cmd = Named(QStringLiteral("Nightly"));
    cmd.OtherOptions = QStringLiteral(" /prompt:quiet -speed:slow");
    ASSERT_TRUE(RunOn(QDate(2025, 3, 1), cmd));
    ASSERT_EQ(launches.size(), 1);
    EXPECT_TRUE(launches[0].arguments.endsWith(QStringLiteral(" /force /prompt:quiet -speed:slow")));

    // With an alternative settings file the defaults name it.
    launches.clear();
    cmd.OtherOptions.clear();
    cmd.UseAltIni = true;
    ASSERT_TRUE(RunOn(QDate(2025, 3, 2), cmd));
    ASSERT_EQ(launches.size(), 1);
    EXPECT_TRUE(launches[0].arguments.endsWith(QStringLiteral(" /force /hide /logmode:1 /ini:") + Ini()));
    EXPECT_EQ(DefOptions(QStringLiteral("/a b/M.ini"), true),
        QStringLiteral(" /hide /logmode:1 \"/ini:/a b/M.ini\""));
    EXPECT_EQ(DefOptions(QStringLiteral("/a b/M.ini"), false), QStringLiteral(" /hide /logmode:1"));
}

TEST_F(ScheduleRunTest, WeeklyRotationDayByDay)
{
    // Monday full, differential steps, two cycles (14 runs). Wednesday
    // 1 January 2025 is the first start.
    Save({Schedule(QStringLiteral("Weekly"), 2, 7, true, 1)});
    const QDate wed(2025, 1, 1);
    ASSERT_TRUE(RunOn(wed, Named(QStringLiteral("Weekly"))));
    EXPECT_TRUE(launches.isEmpty());
    EXPECT_EQ(rec.infos,
        QStringList {QStringLiteral("First full backup on next \"Monday\"!\nSchedule: Weekly\n"
                                    "Backup task: ")
            + task});
    EXPECT_EQ(Stored().NextCyc, 0);
    EXPECT_EQ(Stored().LastDay, 0);

    const Day days[] = {
        {QDate(2025, 1, 6), {"BuMo1F full"}, 2, 1},
        {QDate(2025, 1, 7), {"BuTu1D differential"}, 3, 1},
        {QDate(2025, 1, 8), {"BuWe1D differential"}, 4, 1},
        {QDate(2025, 1, 9), {"BuTh1D differential"}, 5, 1},
        {QDate(2025, 1, 10), {"BuFr1D differential"}, 6, 1},
        {QDate(2025, 1, 11), {"BuSa1D differential"}, 7, 1},
        {QDate(2025, 1, 12), {"BuSu1D differential"}, 8, 1},
        // The Monday of cycle 2 is missed: Tuesday makes the full backup up.
        {QDate(2025, 1, 14), {"BuMo2F full wait", "BuTu2D differential"}, 9, 8},
        {QDate(2025, 1, 15), {"BuWe2D differential"}, 10, 8},
        {QDate(2025, 1, 19), {"BuSu2D differential"}, 11, 8},
        {QDate(2025, 1, 20), {"BuMo2F full"}, 12, 11},
        {QDate(2025, 1, 21), {"BuTu2D differential"}, 13, 11},
        {QDate(2025, 1, 22), {"BuWe2D differential"}, 14, 11},
        {QDate(2025, 1, 23), {"BuTh2D differential"}, 1, 11},
        // Back in cycle 1, whose full backup is older than the last one.
        {QDate(2025, 1, 24), {"BuMo1F full wait", "BuFr1D differential"}, 2, 1},
        // Every Monday makes a full backup, also inside a cycle.
        {QDate(2025, 1, 27), {"BuMo1F full"}, 3, 2},
    };
    for (const Day& d : days) {
        SCOPED_TRACE(d.date.toString(Qt::ISODate).toStdString());
        launches.clear();
        ASSERT_TRUE(RunOn(d.date, Named(QStringLiteral("Weekly"))));
        EXPECT_EQ(LaunchList(), d.launches);
        const TSchedTask s = Stored();
        EXPECT_EQ(s.NextCyc, d.nextCycle);
        EXPECT_EQ(s.LastFull, d.lastFull);
        EXPECT_EQ(s.LastDay, DayNumber(d.date));
    }
}

TEST_F(ScheduleRunTest, WeeklyCyclesCountRunsNotWeeks)
{
    // Runs Monday to Friday only: the eighth run (a Wednesday) is in cycle 2.
    Save({Schedule(QStringLiteral("Office"), 2, 7, true, 1)});
    QStringList all;
    QDate day(2025, 1, 6);
    for (int run = 1; run <= 8; ++run) {
        while (day.dayOfWeek() > 5)
            day = day.addDays(1);
        launches.clear();
        ASSERT_TRUE(RunOn(day, Named(QStringLiteral("Office"))));
        all.append(LaunchList().join(QStringLiteral(" + ")));
        day = day.addDays(1);
    }
    EXPECT_EQ(all,
        (QStringList {"BuMo1F full", "BuTu1D differential", "BuWe1D differential", "BuTh1D differential",
            "BuFr1D differential", "BuMo1F full", "BuTu1D differential",
            "BuMo2F full wait + BuWe2D differential"}));
    EXPECT_EQ(Stored().NextCyc, 9);
    EXPECT_EQ(Stored().LastFull, 8);
}

TEST_F(ScheduleRunTest, FirstDayOfANewCycleRunsOneFullBackup)
{
    Save({Schedule(QStringLiteral("Weekly"), 2, 7, false, 3)});
    // Every day from Wednesday 1 January: run 8 is the Wednesday of cycle 2.
    for (int i = 0; i < 8; ++i) {
        launches.clear();
        ASSERT_TRUE(RunOn(QDate(2025, 1, 1).addDays(i), Named(QStringLiteral("Weekly"))));
    }
    EXPECT_EQ(LaunchList(), QStringList {"BuWe2F full"});
    EXPECT_EQ(Stored().NextCyc, 9);
    EXPECT_EQ(Stored().LastFull, 8);
}

TEST_F(ScheduleRunTest, StepFoldersHaveTwoOrThreeDigits)
{
    Save({Schedule(QStringLiteral("Hundred"), 10, 10)});
    for (int i = 0; i < 101; ++i) {
        SCOPED_TRACE(i);
        launches.clear();
        ASSERT_TRUE(RunOn(QDate(2025, 1, 1).addDays(i), Named(QStringLiteral("Hundred"))));
        const int step = i % 100 + 1;
        const QString expected
            = QStringLiteral("Bu%1%2").arg(step, 3, 10, QLatin1Char('0')).arg(step % 10 == 1 ? 'F' : 'D');
        ASSERT_EQ(launches.size(), 1);
        EXPECT_EQ(launches[0].Folder(), expected);
    }
    EXPECT_EQ(Stored().NextCyc, 2);

    const struct {
        int cycles, steps, next;
        const char* folder;
    } cases[] = {
        {2, 5, 1, "Bu01F"},
        {1, 99, 99, "Bu99D"},
        {9, 11, 12, "Bu12F"},
        {1, 100, 100, "Bu100D"},
        {3, 333, 999, "Bu999D"},
        {1, 2000, 1500, "Bu1500D"},
        {3, 1, 2, "Bu02F"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        TSchedTask s = Schedule(QStringLiteral("S"), c.cycles, c.steps);
        s.NextCyc = c.next;
        Save({s});
        launches.clear();
        ASSERT_TRUE(RunOn(QDate(2025, 1, 1), Named(QStringLiteral("S"))));
        ASSERT_EQ(launches.size(), 1);
        EXPECT_EQ(launches[0].Folder(), QLatin1String(c.folder));
    }
}

TEST_F(ScheduleRunTest, SecondStartOnTheSameDay)
{
    const QDate today(2025, 5, 7);
    const struct {
        const char* name;
        int nextCycle; // after the day's earlier run
        bool silent;
        bool batch;
        bool interactive;
        bool answer;
        const char* launch; // repeated step, or nothing
        int storedNext;
    } cases[] = {
        {"information", 4, false, false, false, false, nullptr, 4},
        {"silent schedule", 4, true, false, true, true, nullptr, 4},
        {"batch session", 4, false, true, true, true, nullptr, 4},
        {"interactive, No", 4, false, false, true, false, nullptr, 4},
        {"interactive, Yes", 4, false, false, true, true, "Bu03I incremental", 4},
        {"interactive, Yes after the last step", 1, false, false, true, true, "Bu10I incremental", 1},
        {"interactive, Yes after the first step", 2, false, false, true, true, "Bu01F full", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSchedTask s = Schedule(QStringLiteral("Nightly"), 2, 5, false);
        s.Silent = c.silent;
        s.NextCyc = c.nextCycle;
        s.LastDay = DayNumber(today);
        Save({s});
        const QByteArray before = kestest::ReadBytes(Ini());
        launches.clear();
        rec.Clear();
        rec.answer = c.answer;
        TMarvickCommandLine cmd = Named(QStringLiteral("Nightly"));
        cmd.IntAct = c.interactive;
        ASSERT_TRUE(RunOn(today, cmd, c.batch));

        const QString done
            = QStringLiteral("Backup already done for this day!\nSchedule: Nightly\nBackup task: ") + task;
        if (c.silent || c.batch) {
            ASSERT_EQ(rec.events.size(), 1);
            EXPECT_EQ(rec.events[0],
                (TScheduleEvent {evAlreadyDone, TEventType::etInformation, {"Nightly", task}}));
            EXPECT_TRUE(rec.questions.isEmpty());
        } else if (c.interactive) {
            EXPECT_EQ(rec.questions, QStringList {done + QStringLiteral("\nRun again?")});
        } else {
            EXPECT_EQ(rec.infos, QStringList {done});
        }
        if (c.launch) {
            EXPECT_EQ(LaunchList(), QStringList {QLatin1String(c.launch)});
            EXPECT_EQ(Stored().NextCyc, c.storedNext);
        } else {
            EXPECT_TRUE(launches.isEmpty());
            EXPECT_EQ(kestest::ReadBytes(Ini()), before);
        }
        EXPECT_FALSE(hadError);
    }
}

TEST_F(ScheduleRunTest, StartResultsAreReportedAndOnlySuccessIsStored)
{
    const QString tail = QStringLiteral("\nSchedule: Nightly\nBackup task: ") + task;
    const struct {
        const char* name;
        quint32 result;
        bool quiet;
        QString error; // dialog mode
        TScheduleEvent event; // quiet mode
    } cases[] = {
        {"started", 0, false, {}, {}},
        {"started, quiet", 0, true, {},
            {evBackupStarted, TEventType::etInformation, {"Nightly", task, "Full", "1"}}},
        {"exit code", 0x20000103, false, QStringLiteral("\"Kesmo\" returned exit code: 3") + tail, {}},
        {"exit code, quiet", 0x20000103, true, {},
            {evStartResult, TEventType::etInformation, {"ExitCode = 3", "Nightly", task}}},
        {"no program", 2, false,
            QStringLiteral("Error ") + SysErrorMessage(2) + QStringLiteral(" on starting \"Kesmo\"!") + tail,
            {}},
        {"no program, quiet", 2, true, {},
            {evStartResult, TEventType::etError, {SysErrorMessage(2), "Nightly", task}}},
        {"access denied, quiet", 13, true, {},
            {evStartResult, TEventType::etError, {SysErrorMessage(13), "Nightly", task}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSchedTask s = Schedule(QStringLiteral("Nightly"), 2, 5, false);
        s.Silent = c.quiet;
        Save({s});
        const QByteArray before = kestest::ReadBytes(Ini());
        rec.Clear();
        results = {c.result};
        ASSERT_TRUE(RunOn(QDate(2025, 1, 1), Named(QStringLiteral("Nightly"))));
        EXPECT_TRUE(results.isEmpty());
        if (c.quiet) {
            EXPECT_EQ(rec.events, QList<TScheduleEvent> {c.event});
            EXPECT_TRUE(rec.infos.isEmpty());
        } else if (c.result == 0) {
            EXPECT_EQ(rec.infos, QStringList {Started(QStringLiteral("Nightly"), QStringLiteral("Full"), 1)});
        } else {
            EXPECT_EQ(rec.errors, QStringList {c.error});
        }
        EXPECT_EQ(hadError, c.result != 0);
        if (c.result == 0) {
            EXPECT_EQ(Stored().NextCyc, 2);
        } else {
            EXPECT_EQ(kestest::ReadBytes(Ini()), before);
        }
    }
}

TEST_F(ScheduleRunTest, FailedCatchUpIsReportedAndTheDayStepFollows)
{
    TSchedTask s = Schedule(QStringLiteral("Weekly"), 2, 7, true, 1);
    s.NextCyc = 8;
    s.LastFull = 1;
    for (bool quiet : {false, true}) {
        SCOPED_TRACE(quiet);
        s.Silent = quiet;
        Save({s});
        launches.clear();
        rec.Clear();
        results = {0x20000001, 0};
        ASSERT_TRUE(RunOn(QDate(2025, 1, 14), Named(QStringLiteral("Weekly"))));
        EXPECT_EQ(LaunchList(), (QStringList {"BuMo2F full wait", "BuTu2D differential"}));
        if (quiet) {
            ASSERT_EQ(rec.events.size(), 2);
            EXPECT_EQ(rec.events[0].Strings.value(0), QStringLiteral("ExitCode = 1"));
            EXPECT_EQ(rec.events[1],
                (TScheduleEvent {
                    evBackupStarted, TEventType::etInformation, {"Weekly", task, "Differential", "8"}}));
        } else {
            EXPECT_EQ(rec.errors,
                QStringList {
                    QStringLiteral("\"Kesmo\" returned exit code: 1\nSchedule: Weekly\nBackup task: ")
                    + task});
            EXPECT_EQ(rec.infos,
                QStringList {Started(QStringLiteral("Weekly"), QStringLiteral("Differential"), 8)});
        }
        EXPECT_EQ(Stored().NextCyc, 9);
        EXPECT_EQ(Stored().LastFull, 8);
    }
}

TEST_F(ScheduleRunTest, CheckScheduleDecidesWhetherTheWindowWouldShow)
{
    const QString ini = Ini();
    const struct {
        const char* name;
        bool haveKesmo;
        bool haveIni;
        const char* sched;
        bool batch;
        bool done;
        QStringList errors;
        QList<TScheduleEvent> events;
        int launches;
    } cases[] = {
        {"found", true, true, "Nightly", false, true, {}, {}, 1},
        {"main program missing", false, true, "Nightly", false, true,
            {QStringLiteral("\"Kesmo\" not found on this system!"),
                QStringLiteral("Error ") + SysErrorMessage(2)
                    + QStringLiteral(" on starting \"Kesmo\"!\nSchedule: Nightly\nBackup task: ") + task},
            {}, 1},
        {"main program missing, batch, no name", false, true, "", true, true, {},
            {{evMainProgramNotFound, TEventType::etError, {}},
                {evScheduleNotFound, TEventType::etError, {"", ini}}},
            0},
        {"settings missing", true, false, "Nightly", false, false,
            {QStringLiteral("Kestrup\nFile\n\"") + ini + QStringLiteral("\"\nnot found!")}, {}, 0},
        {"settings missing, batch", true, false, "Nightly", true, true, {},
            {{evScheduleNotFound, TEventType::etError, {"Nightly", ini}}}, 0},
        {"no name", true, true, "", false, false, {}, {}, 0},
        {"no name, batch", true, true, "", true, true, {},
            {{evScheduleNotFound, TEventType::etError, {"", ini}}}, 0},
        {"not found", true, true, "Weekly", false, false, {QStringLiteral("Schedule \"Weekly\" not found!")},
            {}, 0},
        {"not found, batch", true, true, "Weekly", true, true, {},
            {{evScheduleNotFound, TEventType::etError, {"Weekly", ini}}}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(ini);
        if (c.haveIni)
            Save({Schedule(QStringLiteral("Nightly"), 2, 5)});
        kesPath = c.haveKesmo ? kKesmo : QString();
        results = {c.haveKesmo ? 0u : 2u};
        launches.clear();
        rec.Clear();
        EXPECT_EQ(RunOn(QDate(2025, 1, 1), Named(QString::fromUtf8(c.sched)), c.batch), c.done);
        EXPECT_EQ(rec.errors, c.errors);
        EXPECT_EQ(rec.events, c.events);
        EXPECT_EQ(launches.size(), c.launches);
        EXPECT_EQ(hadError, !c.errors.isEmpty() || !c.events.isEmpty());
    }
}

TEST_F(ScheduleRunTest, UnreadableSettingsFileEndsTheRun)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Marvick.ini")));
    for (bool batch : {false, true}) {
        SCOPED_TRACE(batch);
        rec.Clear();
        EXPECT_TRUE(RunOn(QDate(2025, 1, 1), Named(QStringLiteral("Nightly")), batch));
        EXPECT_TRUE(launches.isEmpty());
        const QString reason = batch ? rec.events.value(0).Strings.value(2) : rec.errors.value(0);
        EXPECT_TRUE(reason.contains(Ini())) << reason.toStdString();
        EXPECT_TRUE(reason.contains(QStringLiteral("folder"))) << reason.toStdString();
    }
}

TEST_F(ScheduleRunTest, HandEditedValuesNeitherCrashNorCorruptTheRotation)
{
    const QDate wed(2025, 1, 1);
    enum Outcome { Refused, Runs, Waits };
    const struct {
        const char* name;
        int cycles, steps, firstDay, next, lastDay;
        bool taskMissing;
        Outcome outcome;
        const char* text; // error (Refused), folder (Runs)
        int storedNext;
    } cases[] = {
        {"Cycles=0", 0, 5, 1, 1, 0, false, Refused,
            "The rotation of schedule \"S\" is not valid (Cycles = 0, Steps = 5)!", 0},
        {"Steps=0", 2, 0, 1, 1, 0, false, Refused,
            "The rotation of schedule \"S\" is not valid (Cycles = 2, Steps = 0)!", 0},
        {"Steps<0", 2, -3, 1, 1, 0, false, Refused,
            "The rotation of schedule \"S\" is not valid (Cycles = 2, Steps = -3)!", 0},
        {"Cycles x Steps too large", 1 << 30, 7, 1, 1, 0, false, Refused,
            "The rotation of schedule \"S\" is not valid (Cycles = 1073741824, Steps = 7)!", 0},
        {"weekly, FirstDay=9", 2, 7, 9, 3, 0, false, Refused,
            "The first day of schedule \"S\" is not valid (FirstDay = 9, 1 = Monday ... 7 = Sunday)!", 0},
        {"weekly, FirstDay=0", 2, 7, 0, 0, 0, false, Refused,
            "The first day of schedule \"S\" is not valid (FirstDay = 0, 1 = Monday ... 7 = Sunday)!", 0},
        {"task missing", 2, 5, 1, 3, 0, true, Refused, "Backup task \"%TASK%\" not found!\nSchedule: S", 0},
        {"daily, FirstDay=9 is not used", 2, 5, 9, 1, 0, false, Runs, "Bu01F", 2},
        {"NextCycle beyond the rotation", 2, 5, 1, 50, 0, false, Runs, "Bu01F", 2},
        {"NextCycle negative", 2, 5, 1, -4, 0, false, Runs, "Bu01F", 2},
        {"weekly NextCycle beyond the rotation", 2, 7, 1, 99, 0, false, Waits, nullptr, 0},
        {"LastDay in the future", 2, 5, 1, 3, DayNumber(wed) + 30, false, Runs, "Bu03I", 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSchedTask s = Schedule(QStringLiteral("S"), c.cycles, c.steps, false, c.firstDay);
        s.NextCyc = c.next;
        s.LastDay = c.lastDay;
        if (c.taskMissing)
            s.Task = dir.filePath(QStringLiteral("gone.buj"));
        Save({s});
        const QByteArray before = kestest::ReadBytes(Ini());
        launches.clear();
        rec.Clear();
        ASSERT_TRUE(RunOn(wed, Named(QStringLiteral("S"))));
        switch (c.outcome) {
        case Refused:
            EXPECT_EQ(rec.errors,
                QStringList {QString::fromUtf8(c.text).replace(QStringLiteral("%TASK%"), s.Task)});
            EXPECT_TRUE(launches.isEmpty());
            EXPECT_EQ(kestest::ReadBytes(Ini()), before);
            break;
        case Runs:
            ASSERT_EQ(launches.size(), 1);
            EXPECT_EQ(launches[0].Folder(), QLatin1String(c.text));
            EXPECT_EQ(Stored().NextCyc, c.storedNext);
            EXPECT_EQ(Stored().LastDay, DayNumber(wed));
            break;
        case Waits:
            EXPECT_TRUE(launches.isEmpty());
            EXPECT_EQ(rec.infos.size(), 1);
            EXPECT_EQ(kestest::ReadBytes(Ini()), before);
            break;
        }
    }

    // Reporting quietly, a refused schedule writes an error event.
    TSchedTask s = Schedule(QStringLiteral("S"), 2, 0);
    s.Silent = true;
    Save({s});
    rec.Clear();
    ASSERT_TRUE(RunOn(wed, Named(QStringLiteral("S"))));
    ASSERT_EQ(rec.events.size(), 1);
    EXPECT_EQ(rec.events[0].Id, quint32(evScheduleNotFound));
    EXPECT_EQ(rec.events[0].Type, TEventType::etError);
    EXPECT_EQ(rec.events[0].Strings.value(2),
        QStringLiteral("The rotation of schedule \"S\" is not valid (Cycles = 2, Steps = 0)!"));
    EXPECT_TRUE(hadError);
}

TEST_F(ScheduleRunTest, ReadOnlySettingsFileStartsTheBackupAndReportsTheWriteError)
{
    for (bool silent : {false, true}) {
        SCOPED_TRACE(silent);
        QFile::remove(Ini());
        TSchedTask s = Schedule(QStringLiteral("Nightly"), 2, 5);
        s.Silent = silent;
        Save({s});
        QFile::setPermissions(Ini(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        const QByteArray before = kestest::ReadBytes(Ini());
        launches.clear();
        rec.Clear();
        ASSERT_TRUE(RunOn(QDate(2025, 1, 1), Named(QStringLiteral("Nightly"))));
        EXPECT_EQ(launches.size(), 1);
        // Shown even when the schedule reports quietly.
        EXPECT_EQ(
            rec.errors, QStringList {QStringLiteral("Error writing to \"") + Ini() + QStringLiteral("\"")});
        EXPECT_EQ(kestest::ReadBytes(Ini()), before);
        QFile::setPermissions(Ini(), QFile::ReadOwner | QFile::WriteOwner);
    }
}

TEST_F(ScheduleRunTest, WaitingMessageNamesTheDayInTheUserLanguageAndUsesTheDelay)
{
    Save({Schedule(QStringLiteral("Weekly"), 2, 7, true, 7)});
    const struct {
        const char* language;
        int delay;
        const char* day;
        int wait;
    } cases[] = {{"en", 5, "Sunday", 5}, {"de", 12, "Sonntag", 12}, {"fr", -3, "dimanche", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language);
        language = QLatin1String(c.language);
        rec.Clear();
        TMarvickCommandLine cmd = Named(QStringLiteral("Weekly"));
        cmd.Wait = c.delay;
        ASSERT_TRUE(RunOn(QDate(2025, 1, 1), cmd));
        ASSERT_EQ(rec.infos.size(), 1);
        EXPECT_TRUE(rec.infos[0].startsWith(QStringLiteral("First full backup on next \"")
            + QString::fromUtf8(c.day) + QStringLiteral("\"!")))
            << rec.infos[0].toStdString();
        EXPECT_EQ(rec.waits, QList<int> {c.wait});
    }
    // Quietly: the event carries the day name.
    rec.Clear();
    language = QStringLiteral("en");
    ASSERT_TRUE(RunOn(QDate(2025, 1, 1), Named(QStringLiteral("Weekly")), true));
    EXPECT_EQ(rec.events,
        (QList<TScheduleEvent> {
            {evWaitingForFirstDay, TEventType::etInformation, {"Sunday", "Weekly", task}}}));
}

TEST(ScheduleEvents, EventTextsNameTheIdentifierAndTheStrings)
{
    const struct {
        TScheduleEvent event;
        const char* text;
    } cases[] = {
        {{evBackupStarted, TEventType::etInformation, {"N", "/t.buj", "Full", "1"}},
            "[0x40000017] Backup started for schedule: N\nBackup task: /t.buj\nMode: Full / Step: 1"},
        {{evAlreadyDone, TEventType::etInformation, {"N", "/t.buj"}},
            "[0x40000018] Backup already done for this day!\nSchedule: N\nBackup task: /t.buj"},
        {{evWaitingForFirstDay, TEventType::etInformation, {"Monday", "N", "/t.buj"}},
            "[0x40000019] First full backup on next \"Monday\"!\nSchedule: N\nBackup task: /t.buj"},
        {{evStartResult, TEventType::etInformation, {"ExitCode = 3", "N", "/t.buj"}},
            "[0xC0000015] \"Kesmo\" ended with ExitCode = 3\nSchedule: N\nBackup task: /t.buj"},
        {{evStartResult, TEventType::etError, {"No such file or directory", "N", "/t.buj"}},
            "[0xC0000015] Error No such file or directory on starting \"Kesmo\"!\nSchedule: N\nBackup task: "
            "/t.buj"},
        {{evMainProgramNotFound, TEventType::etError, {}},
            "[0xC0000016] \"Kesmo\" not found on this system!"},
        {{evScheduleNotFound, TEventType::etError, {"N", "/c/Marvick.ini"}},
            "[0xC000001A] Schedule \"N\" not found!\nSettings file: /c/Marvick.ini"},
        {{evScheduleNotFound, TEventType::etError, {"", "/c/Marvick.ini"}},
            "[0xC000001A] No schedule named on the command line.\nSettings file: /c/Marvick.ini"},
        {{evScheduleNotFound, TEventType::etError, {"N", "/c/Marvick.ini", "Why."}},
            "[0xC000001A] Schedule \"N\" cannot be run: Why.\nSettings file: /c/Marvick.ini"},
        // Missing strings never break the text.
        {{evBackupStarted, TEventType::etInformation, {}},
            "[0x40000017] Backup started for schedule: \nBackup task: \nMode:  / Step: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(EventText(c.event), QString::fromUtf8(c.text));
    }
}

// The decision alone: schedule, state and day in, the day's step and the
// new state out.
TEST(DecideStep, TheStepOfEachKindOfScheduleAndState)
{
    const QDate mon(2025, 1, 6), tue(2025, 1, 7), wed(2025, 1, 8);
    const struct {
        const char* name;
        int cycles, steps;
        bool diff;
        int firstDay, nextCyc, lastFull;
        QDate day;
        bool runAgain;
        // expected
        TStepAction action;
        const char* catchUp; // folder of the catch-up full backup, or nullptr
        const char* kind;
        const char* folder;
        const char* kindText;
        int step, nextAfter, lastFullAfter;
    } cases[] = {
        {"daily, begins", 2, 5, false, 1, 0, 0, wed, false, TStepAction::saRun, nullptr, "full", "Bu01F",
            "Full", 1, 2, 0},
        {"daily, incremental step", 2, 5, false, 1, 3, 0, wed, false, TStepAction::saRun, nullptr,
            "incremental", "Bu03I", "Incremental", 3, 4, 0},
        {"daily, differential step", 2, 5, true, 1, 4, 0, wed, false, TStepAction::saRun, nullptr,
            "differential", "Bu04D", "Differential", 4, 5, 0},
        {"daily, second cycle's full backup", 2, 5, true, 1, 6, 0, wed, false, TStepAction::saRun, nullptr,
            "full", "Bu06F", "Full", 6, 7, 0},
        {"daily, last step wraps", 2, 5, false, 1, 10, 0, wed, false, TStepAction::saRun, nullptr,
            "incremental", "Bu10I", "Incremental", 10, 1, 0},
        {"three digits from 100 steps", 10, 10, true, 1, 100, 0, wed, false, TStepAction::saRun, nullptr,
            "differential", "Bu100D", "Differential", 100, 1, 0},
        {"run again repeats the step before", 2, 5, false, 1, 3, 0, wed, true, TStepAction::saRun, nullptr,
            "incremental", "Bu02I", "Incremental", 2, 3, 0},
        {"run again after the last step", 2, 5, false, 1, 1, 0, wed, true, TStepAction::saRun, nullptr,
            "incremental", "Bu10I", "Incremental", 10, 1, 0},
        {"run again of a rotation not begun", 2, 5, false, 1, 0, 0, wed, true, TStepAction::saRun, nullptr,
            "full", "Bu01F", "Full", 1, 2, 0},
        {"state beyond the rotation begins anew", 2, 5, false, 1, 50, 7, wed, false, TStepAction::saRun,
            nullptr, "full", "Bu01F", "Full", 1, 2, 0},
        {"negative state begins anew", 2, 5, false, 1, -4, 0, wed, false, TStepAction::saRun, nullptr, "full",
            "Bu01F", "Full", 1, 2, 0},
        {"weekly waits for its first day", 2, 7, true, 1, 0, 0, wed, false, TStepAction::saWaitForFirstDay,
            nullptr, "", "", nullptr, 0, 0, 0},
        {"weekly beyond the rotation waits", 2, 7, true, 1, 99, 5, wed, false, TStepAction::saWaitForFirstDay,
            nullptr, "", "", nullptr, 0, 0, 0},
        {"weekly begins on its first day", 2, 7, true, 1, 0, 0, mon, false, TStepAction::saRun, nullptr,
            "full", "BuMo1F", "Full", 1, 2, 1},
        {"weekly, day of the first cycle", 2, 7, true, 1, 3, 1, wed, false, TStepAction::saRun, nullptr,
            "differential", "BuWe1D", "Differential", 3, 4, 1},
        {"weekly, first day missed: catch-up", 2, 7, true, 1, 8, 1, tue, false, TStepAction::saRun, "BuMo2F",
            "differential", "BuTu2D", "Differential", 8, 9, 8},
        {"weekly, incremental after the catch-up", 2, 7, false, 1, 10, 1, wed, false, TStepAction::saRun,
            "BuMo2F", "incremental", "BuWe2I", "Incremental", 10, 11, 8},
        {"weekly, first day of a new cycle: no catch-up", 2, 7, true, 3, 8, 1, wed, false, TStepAction::saRun,
            nullptr, "full", "BuWe2F", "Full", 8, 9, 8},
        {"weekly, last step wraps", 2, 7, true, 1, 14, 8, tue, false, TStepAction::saRun, nullptr,
            "differential", "BuTu2D", "Differential", 14, 1, 8},
        {"weekly, back in cycle 1", 2, 7, true, 1, 1, 8, wed, false, TStepAction::saRun, "BuMo1F",
            "differential", "BuWe1D", "Differential", 1, 2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSchedTask s;
        s.SName = QStringLiteral("S");
        s.Cycles = c.cycles;
        s.Steps = c.steps;
        s.Diff = c.diff;
        s.FirstDay = c.firstDay;
        s.NextCyc = c.nextCyc;
        s.LastFull = c.lastFull;
        const TStepPlan plan = DecideStep(s, c.day, c.runAgain);
        EXPECT_EQ(plan.Action, c.action);
        EXPECT_EQ(plan.CatchUp, c.catchUp != nullptr);
        EXPECT_EQ(plan.CatchUpFolder, QString::fromUtf8(c.catchUp ? c.catchUp : ""));
        EXPECT_EQ(plan.Kind, QString::fromUtf8(c.kind));
        EXPECT_EQ(plan.Folder, QString::fromUtf8(c.folder));
        EXPECT_STREQ(plan.KindText, c.kindText);
        EXPECT_EQ(plan.Step, c.step);
        if (c.action == TStepAction::saRun) {
            EXPECT_EQ(plan.NextCyc, c.nextAfter);
            EXPECT_EQ(plan.LastFull, c.lastFullAfter);
        }
    }
}

// Messages wait until the settings lock is released (a dialog must not keep
// another run from its turn); only a question is asked while it is held.
TEST_F(ScheduleRunTest, MessagesWaitUntilTheSettingsLockIsReleased)
{
    struct LockWatcher : kestest::Recorder {
        QString lockFile;
        QList<bool> heldAtMessage;
        QList<bool> heldAtQuestion;
        void ShowInformation(const QString& text, int waitSeconds) override
        {
            heldAtMessage.append(QFile::exists(lockFile));
            Recorder::ShowInformation(text, waitSeconds);
        }
        void ShowError(const QString& text) override
        {
            heldAtMessage.append(QFile::exists(lockFile));
            Recorder::ShowError(text);
        }
        bool ConfirmYesNo(const QString& text) override
        {
            heldAtQuestion.append(QFile::exists(lockFile));
            return Recorder::ConfirmYesNo(text);
        }
    } watcher;
    watcher.lockFile = Ini() + QStringLiteral(".lock");
    TSchedTask s = Schedule(QStringLiteral("Weekly"), 2, 7, true, 1);
    s.NextCyc = 8;
    s.LastFull = 1;
    Save({s});
    const QDate tue(2025, 1, 14);
    TMarvickContext c;
    c.KesPath = kesPath;
    c.IniName = Ini();
    c.LanguageCode = language;
    c.CommandLine = Named(QStringLiteral("Weekly"));
    c.CommandLine.IntAct = true;
    QList<bool> heldAtStart;
    const auto start = [&] {
        TScheduleRun run(c, watcher, std::make_shared<TSettableClock>(QDateTime(tue, QTime(12, 0))),
            [&](const QString&, const QString&, bool wait) {
                heldAtStart.append(QFile::exists(watcher.lockFile));
                return wait ? 0x20000002u : 0u; // the catch-up ends with exit code 2
            });
        EXPECT_TRUE(run.CheckSchedule());
    };

    // The catch-up (waited for) and the day's step start under the lock;
    // its error and the day's report come after, in their order.
    start();
    EXPECT_EQ(heldAtStart, (QList<bool> {true, true}));
    EXPECT_EQ(watcher.heldAtMessage, (QList<bool> {false, false}));
    ASSERT_EQ(watcher.errors.size(), 1);
    EXPECT_TRUE(watcher.errors[0].startsWith(QStringLiteral("\"Kesmo\" returned exit code: 2")));
    EXPECT_EQ(
        watcher.infos, QStringList {Started(QStringLiteral("Weekly"), QStringLiteral("Differential"), 8)});
    EXPECT_EQ(Stored().NextCyc, 9);

    // Done for the day: "Run again?" is asked while the lock is held.
    watcher.answer = false;
    watcher.heldAtMessage.clear();
    start();
    EXPECT_EQ(watcher.heldAtQuestion, QList<bool> {true});
    EXPECT_TRUE(watcher.heldAtMessage.isEmpty());
    EXPECT_EQ(heldAtStart.size(), 2);
    EXPECT_FALSE(QFile::exists(watcher.lockFile));
}
