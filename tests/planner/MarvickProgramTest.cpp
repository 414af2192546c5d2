// The real Marvick program under faketime: each simulated day is one start
// with the schedule name, the Kesmo stand-in records every command line,
// and a datagram socket of the test plays the system log.
#include "planner/SchedTask.h"
#include "planner/SchedulePreview.h"

#include "SysLogReceiver.h"
#include "common/StandinLog.h"
#include "common/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace kes;

namespace {

class MarvickProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!kestest::HaveTool(QStringLiteral("faketime")))
            KESTEST_SKIP_OR_FAIL("faketime is not installed");
        ASSERT_TRUE(dir.isValid());
        runDir = dir.filePath(QStringLiteral("run"));
        ASSERT_TRUE(QDir().mkpath(runDir));
        // Found as "Kesmo" in the working folder.
        ASSERT_TRUE(QFile::link(QStringLiteral(KES_STANDIN_PATH), runDir + QStringLiteral("/Kesmo")));
        task = dir.filePath(QStringLiteral("jobs/Home Files.buj"));
        kestest::WriteBytes(task, "[Job]\r\n");
        standinLog = dir.filePath(QStringLiteral("kesmo.log"));
        log = std::make_unique<kestest::SysLogReceiver>(dir.filePath(QStringLiteral("log")));
        ASSERT_TRUE(log->IsBound());
        ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("config/Kesmo6"))));
    }

    QString Ini() const { return dir.filePath(QStringLiteral("config/Kesmo6/Marvick.ini")); }

    void Save(const TSchedules& list)
    {
        TMarvickSettings settings;
        settings.Schedules = list;
        SaveSchedules(Ini(), settings, QStringLiteral("Marvick"), QStringLiteral("1.1"));
    }

    TSchedTask Schedule(const QString& name, int cycles, int steps, bool diff) const
    {
        TSchedTask s;
        s.SName = name;
        s.Task = task;
        s.Cycles = cycles;
        s.Steps = steps;
        s.Diff = diff;
        return s;
    }

    // The environment of a start in a session without a display.
    QStringList Environment() const
    {
        return {QStringLiteral("HOME=") + dir.path(),
            QStringLiteral("XDG_CONFIG_HOME=") + dir.filePath(QStringLiteral("config")),
            QStringLiteral("XDG_CONFIG_DIRS=") + dir.filePath(QStringLiteral("xdg")),
            QStringLiteral("XDG_DATA_HOME=") + dir.filePath(QStringLiteral("data")),
            QStringLiteral("DISPLAY="), QStringLiteral("WAYLAND_DISPLAY="),
            QStringLiteral("KES_SYSLOG_SOCKET=") + log->Path(),
            QStringLiteral("KESMO_STANDIN_LOG=") + standinLog, QStringLiteral("LANGUAGE="),
            QStringLiteral("LC_ALL=C.UTF-8")};
    }

    static QStringList FakeTimeArguments(const QDate& day, const QStringList& args)
    {
        return QStringList {day.toString(QStringLiteral("yyyy-MM-dd 10:00:00")),
                   kestest::BuiltProgram(QStringLiteral("Marvick"))}
        + args;
    }

    // One start of Marvick at 10:00 on the day; extra environment entries
    // come last and win.
    kestest::ProcessResult Marvick(
        const QDate& day, const QStringList& args, const QStringList& extraEnv = {})
    {
        return kestest::Run(
            QStringLiteral("faketime"), FakeTimeArguments(day, args), Environment() + extraEnv, runDir);
    }

    // The arguments Kesmo gets for a step.
    QStringList Call(const QString& mode, const QString& folder, const QString& options = {}) const
    {
        QStringList args = {task, QStringLiteral("/startapp:marvick"), QStringLiteral("/mode:") + mode,
            QStringLiteral("/backupdir:") + folder, QStringLiteral("/force")};
        args += options.isEmpty() ? QStringList {QStringLiteral("/hide"), QStringLiteral("/logmode:1")}
                                  : options.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        return args;
    }

    // The calls recorded since `seen`, once `count` new ones are there.
    QList<QStringList> NewCalls(int& seen, int count)
    {
        EXPECT_TRUE(kestest::WaitForStandinCalls(standinLog, seen + count));
        const QList<kestest::StandinCall> all = kestest::ReadStandinLog(standinLog);
        QList<QStringList> out;
        for (qsizetype i = seen; i < all.size(); ++i) {
            EXPECT_EQ(all[i].workingFolder, runDir);
            out.append(all[i].arguments);
        }
        seen = int(all.size());
        return out;
    }

    // The message part of the next system-log record ("<PRI>" kept).
    QString NextEvent()
    {
        const QByteArray r = log->Next();
        const qsizetype colon = r.indexOf("]: ");
        if (r.isEmpty() || colon < 0)
            return QString();
        return QString::fromUtf8(r.left(r.indexOf('>') + 1) + r.mid(colon + 3));
    }

    QTemporaryDir dir;
    QString runDir;
    QString task;
    QString standinLog;
    std::unique_ptr<kestest::SysLogReceiver> log;
};

} // namespace

TEST_F(MarvickProgram, WeeklyExampleDayByDay)
{
    Save({Schedule(QStringLiteral("Weekly"), 2, 7, true)});
    int seen = 0;
    const QString tail = QStringLiteral(" Schedule: Weekly Backup task: ") + task;

    // Wednesday: waits for Monday, stores nothing.
    const QByteArray before = kestest::ReadBytes(Ini());
    auto r = Marvick(QDate(2025, 1, 1), {QStringLiteral("Weekly")});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(NextEvent(), QStringLiteral("<14>[0x40000019] First full backup on next \"Monday\"!") + tail);
    EXPECT_EQ(kestest::ReadBytes(Ini()), before);

    const struct {
        QDate day;
        QList<QStringList> calls;
        int next, lastFull;
    } days[] = {
        {QDate(2025, 1, 6), {Call("full", "BuMo1F")}, 2, 1},
        {QDate(2025, 1, 7), {Call("differential", "BuTu1D")}, 3, 1},
        {QDate(2025, 1, 8), {Call("differential", "BuWe1D")}, 4, 1},
        {QDate(2025, 1, 9), {Call("differential", "BuTh1D")}, 5, 1},
        {QDate(2025, 1, 10), {Call("differential", "BuFr1D")}, 6, 1},
        {QDate(2025, 1, 11), {Call("differential", "BuSa1D")}, 7, 1},
        {QDate(2025, 1, 12), {Call("differential", "BuSu1D")}, 8, 1},
        // Monday 13 is missed: Tuesday first makes up the full backup.
        {QDate(2025, 1, 14), {Call("full", "BuMo2F"), Call("differential", "BuTu2D")}, 9, 8},
    };
    for (const auto& d : days) {
        SCOPED_TRACE(d.day.toString(Qt::ISODate).toStdString());
        r = Marvick(d.day, {QStringLiteral("weekly")});
        EXPECT_EQ(r.exitCode, 0) << r.err.constData();
        EXPECT_EQ(NewCalls(seen, int(d.calls.size())), d.calls);
        const TSchedTask s = LoadSchedules(Ini(), {}).Schedules.value(0);
        EXPECT_EQ(s.NextCyc, d.next);
        EXPECT_EQ(s.LastFull, d.lastFull);
        EXPECT_EQ(s.LastDay, DayNumber(d.day));
        const QString step = QString::number(d.next == 1 ? 14 : d.next - 1);
        if (d.calls.size() == 2) {
            EXPECT_EQ(NextEvent(),
                QStringLiteral("<14>[0x40000017] Backup started for schedule: Weekly Backup task: ") + task
                    + QStringLiteral(" Mode: Full / Step: 8"));
        }
        EXPECT_EQ(NextEvent(),
            QStringLiteral("<14>[0x40000017] Backup started for schedule: Weekly Backup task: ") + task
                + QStringLiteral(" Mode: ")
                + (d.calls.last().contains(QStringLiteral("/mode:full")) ? QStringLiteral("Full")
                                                                         : QStringLiteral("Differential"))
                + QStringLiteral(" / Step: ") + step);
    }

    // A second start on the same day starts nothing.
    r = Marvick(QDate(2025, 1, 14), {QStringLiteral("Weekly")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(NextEvent(), QStringLiteral("<14>[0x40000018] Backup already done for this day!") + tail);
    EXPECT_EQ(kestest::ReadStandinLog(standinLog).size(), seen);
}

TEST_F(MarvickProgram, DailyExampleDayByDay)
{
    Save({Schedule(QStringLiteral("Nightly"), 2, 5, false)});
    const char* folders[]
        = {"Bu01F", "Bu02I", "Bu03I", "Bu04I", "Bu05I", "Bu06F", "Bu07I", "Bu08I", "Bu09I", "Bu10I", "Bu01F"};
    int seen = 0;
    for (int i = 0; i < 11; ++i) {
        SCOPED_TRACE(folders[i]);
        const QDate day = QDate(2025, 2, 27).addDays(i); // through the end of February
        const auto r = Marvick(day, {QStringLiteral("Nightly")});
        EXPECT_EQ(r.exitCode, 0) << r.err.constData();
        const QString mode = i % 5 == 0 ? QStringLiteral("full") : QStringLiteral("incremental");
        EXPECT_EQ(NewCalls(seen, 1), QList<QStringList> {Call(mode, QLatin1String(folders[i]))});
        const TSchedTask s = LoadSchedules(Ini(), {}).Schedules.value(0);
        EXPECT_EQ(s.NextCyc, (i + 1) % 10 + 1);
        EXPECT_EQ(s.LastFull, 0);
        EXPECT_EQ(s.LastDay, DayNumber(day));
        EXPECT_TRUE(NextEvent().startsWith(QStringLiteral("<14>[0x40000017] ")));
    }
}

TEST_F(MarvickProgram, ExitCodeOfTheCatchUpAndOwnSwitches)
{
    TSchedTask s = Schedule(QStringLiteral("Weekly"), 2, 7, true);
    s.NextCyc = 8;
    s.LastFull = 1;
    Save({s});
    const auto r = Marvick(QDate(2025, 1, 14), {QStringLiteral("/prompt:quiet"), QStringLiteral("Weekly")},
        {QStringLiteral("KESMO_STANDIN_EXIT=3")});
    EXPECT_EQ(r.exitCode, 1); // an error was reported
    int seen = 0;
    EXPECT_EQ(NewCalls(seen, 2),
        (QList<QStringList> {
            Call("full", "BuMo2F", "/prompt:quiet"), Call("differential", "BuTu2D", "/prompt:quiet")}));
    const QString tail = QStringLiteral(" Schedule: Weekly Backup task: ") + task;
    EXPECT_EQ(NextEvent(), QStringLiteral("<14>[0xC0000015] \"Kesmo\" ended with ExitCode = 3") + tail);
    EXPECT_EQ(NextEvent(),
        QStringLiteral("<14>[0x40000017] Backup started for schedule: Weekly Backup task: ") + task
            + QStringLiteral(" Mode: Differential / Step: 8"));
    // The day's step was started: the state moves on.
    EXPECT_EQ(LoadSchedules(Ini(), {}).Schedules.value(0).NextCyc, 9);
    EXPECT_EQ(LoadSchedules(Ini(), {}).Schedules.value(0).LastFull, 8);
}

TEST_F(MarvickProgram, MissingMainProgramIsReportedAndNothingStored)
{
    QFile::remove(runDir + QStringLiteral("/Kesmo"));
    Save({Schedule(QStringLiteral("Nightly"), 2, 5, false)});
    const QByteArray before = kestest::ReadBytes(Ini());
    const auto r = Marvick(QDate(2025, 1, 1), {QStringLiteral("Nightly")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(NextEvent(), QStringLiteral("<11>[0xC0000016] \"Kesmo\" not found on this system!"));
    const QString start = NextEvent();
    EXPECT_TRUE(start.startsWith(QStringLiteral("<11>[0xC0000015] Error "))) << start.toStdString();
    EXPECT_TRUE(
        start.endsWith(QStringLiteral(" on starting \"Kesmo\"! Schedule: Nightly Backup task: ") + task))
        << start.toStdString();
    EXPECT_EQ(kestest::ReadBytes(Ini()), before);
}

TEST_F(MarvickProgram, WithoutTheMainProgramTheTaskFileIsNeverStarted)
{
    // A task file that could run, as on a file system that marks every
    // file executable: it must not take the missing program's place.
    QFile::remove(runDir + QStringLiteral("/Kesmo"));
    const QString runnable = dir.filePath(QStringLiteral("jobs/Runnable.buj"));
    ASSERT_TRUE(QFile::link(QStringLiteral(KES_STANDIN_PATH), runnable));
    TSchedTask s = Schedule(QStringLiteral("Nightly"), 2, 5, false);
    s.Task = runnable;
    Save({s});
    const QByteArray before = kestest::ReadBytes(Ini());
    const auto r = Marvick(QDate(2025, 1, 1), {QStringLiteral("Nightly")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(NextEvent(), QStringLiteral("<11>[0xC0000016] \"Kesmo\" not found on this system!"));
    EXPECT_EQ(NextEvent(),
        QStringLiteral("<11>[0xC0000015] Error No such file or directory on starting \"Kesmo\"! "
                       "Schedule: Nightly Backup task: ")
            + runnable);
    EXPECT_TRUE(kestest::ReadStandinLog(standinLog).isEmpty());
    EXPECT_EQ(kestest::ReadBytes(Ini()), before);
}

TEST_F(MarvickProgram, PassedOnSwitchesArriveWhole)
{
    Save({Schedule(QStringLiteral("Nightly"), 2, 5, false)});
    const QStringList passedOn
        = {QStringLiteral("/wait:1 2"), QStringLiteral("-end:\"x\" y"), QStringLiteral("/prompt:quiet")};
    const auto r = Marvick(QDate(2025, 1, 1), passedOn + QStringList {QStringLiteral("Nightly")});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    int seen = 0;
    const QStringList expected
        = QStringList {task, QStringLiteral("/startapp:marvick"), QStringLiteral("/mode:full"),
              QStringLiteral("/backupdir:Bu01F"), QStringLiteral("/force")}
        + passedOn;
    EXPECT_EQ(NewCalls(seen, 1), QList<QStringList> {expected});
}

TEST_F(MarvickProgram, StartsWithoutAScheduleToRun)
{
    Save({Schedule(QStringLiteral("Nightly"), 2, 5, false)});
    // Batch session: an error event, and the program ends.
    auto r = Marvick(QDate(2025, 1, 1), {QStringLiteral("Unknown")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(NextEvent(),
        QStringLiteral("<11>[0xC000001A] Schedule \"Unknown\" not found! Settings file: ") + Ini());
    r = Marvick(QDate(2025, 1, 1), {});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(NextEvent(),
        QStringLiteral("<11>[0xC000001A] No schedule named on the command line. Settings file: ") + Ini());

    // With a display and no name the main window opens (tests/marvick).
    EXPECT_TRUE(kestest::ReadStandinLog(standinLog).isEmpty());
}

// The preview predicts what the day-by-day starts do: the same starts,
// modes and folders on the same days, and no start on a skipped day.
TEST_F(MarvickProgram, PreviewPredictsTheDayByDayRuns)
{
    TSchedTask waiting = Schedule(QStringLiteral("Weekly Wait"), 2, 7, true); // begins on a Monday
    TSchedTask catchUp = Schedule(QString::fromUtf8("Wöchentlich \"B\""), 2, 7, false);
    catchUp.FirstDay = 3; // Wednesday, missed in cycle 2
    catchUp.NextCyc = 8;
    catchUp.LastFull = 1;
    TSchedTask daily = Schedule(QStringLiteral("Daily"), 20, 5, true); // 100 steps: Bu001F ...
    daily.NextCyc = 99;
    const QDate first(2025, 1, 2); // a Thursday
    daily.LastDay = DayNumber(first); // done today already
    Save({waiting, catchUp, daily});
    const int days = 16;
    int seen = 0;
    for (const TSchedTask& s : LoadSchedules(Ini(), {}).Schedules) {
        SCOPED_TRACE(s.SName.toStdString());
        const QList<TPreviewRow> rows = PreviewSchedule(s, first, days, QStringLiteral("en"));
        // The command line prints the same table and starts nothing.
        const QByteArray before = kestest::ReadBytes(Ini());
        const auto p = Marvick(first, {s.SName, QStringLiteral("/preview:16")});
        EXPECT_EQ(p.exitCode, 0) << p.err.constData();
        EXPECT_TRUE(QString::fromLocal8Bit(p.out).endsWith(PreviewTable(rows, QStringLiteral("en"))))
            << p.out.constData();
        EXPECT_EQ(kestest::ReadBytes(Ini()), before);
        EXPECT_EQ(kestest::ReadStandinLog(standinLog).size(), seen);
        bool anySkipped = false;
        for (int i = 0; i < days; ++i) {
            const QDate day = first.addDays(i);
            QList<QStringList> predicted;
            for (const TPreviewRow& row : rows) {
                if (row.Day != day)
                    continue;
                if (row.Kind == TPreviewKind::pkRun || row.Kind == TPreviewKind::pkCatchUp)
                    predicted.append(Call(row.Mode, row.Folder));
                else
                    anySkipped = true;
            }
            const auto r = Marvick(day, {s.SName});
            EXPECT_EQ(r.exitCode, 0) << r.err.constData();
            if (predicted.isEmpty())
                EXPECT_EQ(kestest::ReadStandinLog(standinLog).size(), seen) << day.toString().toStdString();
            else
                EXPECT_EQ(NewCalls(seen, int(predicted.size())), predicted) << day.toString().toStdString();
        }
        EXPECT_EQ(anySkipped, s.SName != catchUp.SName);
    }
}

TEST_F(MarvickProgram, PreviewOfAnUnknownScheduleOrBadDayCount)
{
    Save({Schedule(QStringLiteral("Nightly"), 2, 5, false)});
    auto r = Marvick(QDate(2025, 1, 1), {QStringLiteral("Other"), QStringLiteral("/preview")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("Schedule \"Other\" not found!")) << r.err.constData();
    for (const char* bad : {"/preview:0", "/preview:x", "/PREVIEW:99999"}) {
        r = Marvick(QDate(2025, 1, 1), {QStringLiteral("Nightly"), QString::fromLatin1(bad)});
        EXPECT_EQ(r.exitCode, 2) << bad;
        EXPECT_TRUE(r.err.contains("The number of days to preview must be from 1 to 3660!")) << bad;
    }
    // The default is 30 days: a title line and 30 rows.
    r = Marvick(QDate(2025, 1, 1), {QStringLiteral("nightly"), QStringLiteral("-Preview")});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    EXPECT_TRUE(lines.last().startsWith("2025-01-30")) << r.out.constData();
    EXPECT_TRUE(lines.contains(QByteArray("2025-01-01 Wed Full 1 Bu01F")) || [&] {
        for (const QByteArray& line : lines) {
            if (line.simplified() == "2025-01-01 Wed Full 1 Bu01F")
                return true;
        }
        return false;
    }()) << r.out.constData();
    EXPECT_TRUE(kestest::ReadStandinLog(standinLog).isEmpty());
    EXPECT_TRUE(log->Pending().isEmpty());
}

TEST_F(MarvickProgram, DisplayWithoutServerReportsLikeABatchSession)
{
    // DISPLAY names a server that is not there: no abort, events instead.
    Save({Schedule(QStringLiteral("Nightly"), 2, 5, false)});
    const auto r = Marvick(QDate(2025, 1, 1), {QStringLiteral("Nightly")},
        {QStringLiteral("DISPLAY=:97"), QStringLiteral("QT_QPA_PLATFORM")});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    int seen = 0;
    EXPECT_EQ(NewCalls(seen, 1), QList<QStringList> {Call("full", "Bu01F")});
    EXPECT_TRUE(NextEvent().startsWith(QStringLiteral("<14>[0x40000017] ")));
}

TEST_F(MarvickProgram, DialogModeWithAnAlternativeSettingsFile)
{
    // The information message closes by itself (/delay:0) and the run ends.
    const QString other = dir.filePath(QStringLiteral("config/Kesmo6/Other.ini"));
    TMarvickSettings settings;
    settings.Schedules = {Schedule(QStringLiteral("Nightly"), 2, 5, false)};
    SaveSchedules(other, settings, QStringLiteral("Marvick"), QStringLiteral("1.1"));
    const auto r = Marvick(QDate(2025, 1, 1),
        {QStringLiteral("/delay:0"), QStringLiteral("/ini:Other"), QStringLiteral("Nightly")},
        {QStringLiteral("DISPLAY=:97"), QStringLiteral("QT_QPA_PLATFORM=offscreen")});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    int seen = 0;
    EXPECT_EQ(NewCalls(seen, 1),
        QList<QStringList> {Call("full", "Bu01F", QStringLiteral("/hide /logmode:1 /ini:") + other)});
    EXPECT_EQ(LoadSchedules(other, {}).Schedules.value(0).NextCyc, 2);
    EXPECT_TRUE(log->Pending().isEmpty()); // dialogs, no events
}

TEST_F(MarvickProgram, SchedulesStartedTogetherKeepEachOthersState)
{
    // Timers often fire together: every run stores its own state, none
    // writes back an older copy of another's.
    constexpr int kSchedules = 8;
    TSchedules list;
    for (int i = 0; i < kSchedules; ++i)
        list.append(Schedule(QStringLiteral("S%1").arg(i), 2, 5, false));
    Save(list);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& kv : Environment())
        env.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
    for (int day = 0; day < 3; ++day) {
        SCOPED_TRACE(day);
        const QDate date = QDate(2025, 1, 1).addDays(day);
        std::vector<std::unique_ptr<QProcess>> runs;
        for (int i = 0; i < kSchedules; ++i) {
            auto p = std::make_unique<QProcess>();
            p->setProcessEnvironment(env);
            p->setWorkingDirectory(runDir);
            p->start(QStringLiteral("faketime"), FakeTimeArguments(date, {QStringLiteral("S%1").arg(i)}));
            runs.push_back(std::move(p));
        }
        for (auto& p : runs) {
            ASSERT_TRUE(p->waitForFinished(60000));
            EXPECT_EQ(p->exitCode(), 0);
        }
        const TSchedules stored = LoadSchedules(Ini(), {}).Schedules;
        ASSERT_EQ(stored.size(), kSchedules);
        for (const TSchedTask& s : stored) {
            EXPECT_EQ(s.NextCyc, day + 2) << s.SName.toStdString();
            EXPECT_EQ(s.LastDay, DayNumber(date)) << s.SName.toStdString();
        }
    }
    EXPECT_FALSE(QFile::exists(Ini() + QStringLiteral(".lock")));
}

TEST_F(MarvickProgram, OneScheduleStartedSixTimesAtOnceRunsOnce)
{
    // The settings lock is held from reading the state to storing the new
    // one: one start wins, the others find the day's step done.
    Save({Schedule(QStringLiteral("Nightly"), 2, 5, false)});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& kv : Environment())
        env.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
    constexpr int kStarts = 6;
    std::vector<std::unique_ptr<QProcess>> runs;
    for (int i = 0; i < kStarts; ++i) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        p->setWorkingDirectory(runDir);
        runs.push_back(std::move(p));
    }
    for (auto& p : runs)
        p->start(
            QStringLiteral("faketime"), FakeTimeArguments(QDate(2025, 1, 1), {QStringLiteral("Nightly")}));
    for (auto& p : runs) {
        ASSERT_TRUE(p->waitForFinished(60000));
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().constData();
    }
    // The backup is started without waiting for it: its line may come late.
    EXPECT_TRUE(kestest::WaitForStandinCalls(standinLog, 1));
    EXPECT_EQ(kestest::ReadStandinLog(standinLog).size(), 1);
    int started = 0, done = 0;
    for (int i = 0; i < kStarts; ++i) {
        const QString event = NextEvent();
        started += event.startsWith(QStringLiteral("<14>[0x40000017] "));
        done += event.startsWith(QStringLiteral("<14>[0x40000018] Backup already done for this day!"));
    }
    EXPECT_EQ(started, 1);
    EXPECT_EQ(done, kStarts - 1);
    const TSchedTask s = LoadSchedules(Ini(), {}).Schedules.value(0);
    EXPECT_EQ(s.NextCyc, 2);
    EXPECT_EQ(s.LastDay, DayNumber(QDate(2025, 1, 1)));
    EXPECT_FALSE(QFile::exists(Ini() + QStringLiteral(".lock")));
}

TEST_F(MarvickProgram, FullDiskKeepsTheSettingsAndReportsTheFailure)
{
    kestest::SmallTmpfs disk(256 * 1024);
    if (!disk.IsMounted())
        KESTEST_SKIP_OR_FAIL(disk.Error().toStdString());
    const QString config = disk.Path() + QStringLiteral("/config");
    const QString ini = config + QStringLiteral("/Kesmo6/Marvick.ini");
    TMarvickSettings settings;
    for (int i = 0; i < 20; ++i)
        settings.Schedules.append(Schedule(QStringLiteral("S%1").arg(i), 2, 5, false));
    ASSERT_TRUE(QDir().mkpath(config + QStringLiteral("/Kesmo6")));
    SaveSchedules(ini, settings, QStringLiteral("Marvick"), QStringLiteral("1.1"));
    const QByteArray before = kestest::ReadBytes(ini);
    disk.FillUp();

    const auto r
        = Marvick(QDate(2025, 1, 1), {QStringLiteral("S7")}, {QStringLiteral("XDG_CONFIG_HOME=") + config});
    // The backup was started, but the run did not end well.
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(kestest::WaitForStandinCalls(standinLog, 1)); // started without waiting for it
    const QString failure = QStringLiteral("Error writing to \"") + ini + QStringLiteral("\"");
    EXPECT_TRUE(QString::fromLocal8Bit(r.err).contains(failure)) << r.err.constData();
    EXPECT_TRUE(NextEvent().startsWith(QStringLiteral("<14>[0x40000017] ")));
    EXPECT_EQ(NextEvent(), QStringLiteral("<11>") + failure);
    // The old settings, byte for byte, and nothing left behind.
    EXPECT_EQ(kestest::ReadBytes(ini), before);
    EXPECT_EQ(QDir(config + QStringLiteral("/Kesmo6"))
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
        QStringList {QStringLiteral("Marvick.ini")});
}

TEST_F(MarvickProgram, FifosInPlaceOfSettingsFilesAreNeitherWaitedForNorRead)
{
    const QString kesmo6 = dir.filePath(QStringLiteral("config/Kesmo6/"));
    const struct {
        const char* name;
        QString fifo;
        int exitCode;
        QString event; // the first event
    } cases[] = {
        {"settings file", kesmo6 + QStringLiteral("Marvick.ini"), 1,
            QStringLiteral("<11>[0xC000001A] Schedule \"Nightly\" cannot be run: Cannot open file \"")
                + kesmo6 + QStringLiteral("Marvick.ini\". It is not a regular file. Settings file: ") + kesmo6
                + QStringLiteral("Marvick.ini")},
        {"main program's configuration", kesmo6 + QStringLiteral("Kesmo.cfg"), 0,
            QStringLiteral("<14>[0x40000017] Backup started for schedule: Nightly Backup task: ") + task
                + QStringLiteral(" Mode: Full / Step: 1")},
        {"registry stand-in", dir.filePath(QStringLiteral("config/Kestrup6/registry.ini")), 0,
            QStringLiteral("<14>[0x40000017] Backup started for schedule: Nightly Backup task: ") + task
                + QStringLiteral(" Mode: Full / Step: 1")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(Ini());
        Save({Schedule(QStringLiteral("Nightly"), 2, 5, false)});
        QFile::remove(c.fifo);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(c.fifo).absolutePath()));
        ASSERT_EQ(kestest::Run(QStringLiteral("mkfifo"), {c.fifo}).exitCode, 0);
        // A reader that waited for a writer would not end by itself.
        const auto r = kestest::Run(QStringLiteral("faketime"),
            FakeTimeArguments(QDate(2025, 1, 1), {QStringLiteral("Nightly")}), Environment(), runDir, 20000);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.constData();
        EXPECT_EQ(NextEvent(), c.event);
        EXPECT_FALSE(QFileInfo(c.fifo).isFile());
        QFile::remove(c.fifo);
    }
}

TEST_F(MarvickProgram, RunKilledWhileHoldingTheLockLeavesTheStateForTheNextStart)
{
    // Killed while it waits for the catch-up backup: nothing was stored,
    // and its lock, whose process is gone, does not keep the next start out.
    TSchedTask s = Schedule(QStringLiteral("Weekly"), 2, 7, true);
    s.NextCyc = 8;
    s.LastFull = 1;
    Save({s});
    const QByteArray before = kestest::ReadBytes(Ini());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& kv : Environment() + QStringList {QStringLiteral("KESMO_STANDIN_SLEEP_MS=3000")})
        env.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
    QProcess killed;
    killed.setProcessEnvironment(env);
    killed.setWorkingDirectory(runDir);
    killed.start(
        QStringLiteral("faketime"), FakeTimeArguments(QDate(2025, 1, 14), {QStringLiteral("Weekly")}));
    ASSERT_TRUE(kestest::WaitForStandinCalls(standinLog, 1)); // the catch-up runs
    ASSERT_TRUE(QFile::exists(Ini() + QStringLiteral(".lock")));
    // faketime runs Marvick as its child: that child is killed.
    const QString pid = QString::fromLatin1(
        kestest::ReadBytes(QStringLiteral("/proc/%1/task/%1/children").arg(killed.processId())).trimmed());
    ASSERT_FALSE(pid.isEmpty());
    ASSERT_FALSE(pid.contains(QLatin1Char(' ')));
    ASSERT_EQ(kestest::Run(QStringLiteral("kill"), {QStringLiteral("-KILL"), pid}).exitCode, 0);
    ASSERT_TRUE(killed.waitForFinished(10000));
    EXPECT_TRUE(QFile::exists(Ini() + QStringLiteral(".lock")));
    EXPECT_EQ(kestest::ReadBytes(Ini()), before);

    const auto r = Marvick(QDate(2025, 1, 14), {QStringLiteral("Weekly")});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    int seen = 1;
    EXPECT_EQ(
        NewCalls(seen, 2), (QList<QStringList> {Call("full", "BuMo2F"), Call("differential", "BuTu2D")}));
    const TSchedTask stored = LoadSchedules(Ini(), {}).Schedules.value(0);
    EXPECT_EQ(stored.NextCyc, 9);
    EXPECT_EQ(stored.LastFull, 8);
    EXPECT_FALSE(QFile::exists(Ini() + QStringLiteral(".lock")));
}
