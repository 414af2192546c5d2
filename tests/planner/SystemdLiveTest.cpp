// The task model against a real systemd user manager (label "systemd",
// opt-in: ctest -L systemd). The manager runs in private mount, PID and
// control-group namespaces below a control group of this test, so it sees
// and moves nothing of the machine; the test skips where that cannot be
// set up safely: without root, or on a machine whose own init is systemd.
//
// A task for a schedule is created through the model; its timer fires at
// the time the trigger means, Marvick runs without a display (its report
// reaches the system log socket of the test, the main program's stand-in
// is started), and the task is then run, stopped, disabled and deleted.
#include "planner/SchedTask.h"
#include "planner/TaskCommandLine.h"
#include "planner/WinTask.h"

#include "SysLogReceiver.h"
#include "common/StandinLog.h"
#include "common/TestSupport.h"
#include "frame/WinExecute.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace kes;

namespace {

const char* const kLauncher = R"(
W=$1; CG=$2
echo $$ > "$CG/cgroup.procs" || exit 3
# The manager's cgroup namespace is rooted where this process is.
grep -q "^0::.*/${CG##*/}$" /proc/self/cgroup || exit 7
exec unshare --mount --pid --fork --cgroup --mount-proc --propagation private sh -c '
  W=$1
  umount -R /sys/fs/cgroup 2>/dev/null || umount -l /sys/fs/cgroup
  mount -t cgroup2 cgroup2 /sys/fs/cgroup || exit 4
  mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/system || exit 5
  : > "$W/console" && mount --bind "$W/console" /dev/console || exit 6
  /lib/systemd/systemd --user --log-target=console &
  wait
' sh "$W"
)";

// The mount point of the cgroup2 hierarchy and this process's group in it.
QString OwnControlGroup()
{
    QString mount;
    for (const QByteArray& line : kestest::ReadBytes(QStringLiteral("/proc/self/mountinfo")).split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        const qsizetype dash = f.indexOf("-");
        if (dash > 0 && dash + 1 < f.size() && f[dash + 1] == "cgroup2" && f.size() > 4) {
            mount = QString::fromUtf8(f[4]);
            break;
        }
    }
    for (const QByteArray& line : kestest::ReadBytes(QStringLiteral("/proc/self/cgroup")).split('\n'))
        if (line.startsWith("0::") && !mount.isEmpty())
            return mount + QString::fromUtf8(line.mid(3)).replace(QStringLiteral("//"), QStringLiteral("/"));
    return QString();
}

class SystemdLive : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::getuid() != 0)
            GTEST_SKIP() << "a private control group needs root";
        if (QFile::exists(QStringLiteral("/run/systemd/system")))
            GTEST_SKIP()
                << "this machine runs systemd itself; a second user manager could disturb its control groups";
        if (!QFile::exists(QStringLiteral("/lib/systemd/systemd")))
            KESTEST_SKIP_OR_FAIL("/lib/systemd/systemd is not installed");
        if (!kestest::HaveTool(QStringLiteral("unshare")))
            KESTEST_SKIP_OR_FAIL("unshare is not installed");
        const QString own = OwnControlGroup();
        if (own.isEmpty())
            GTEST_SKIP() << "no cgroup2 hierarchy to run the manager in";
        group = QDir::cleanPath(own + QStringLiteral("/kes-live-%1").arg(::getpid()));
        if (!QDir().mkpath(group) || !QFile::exists(group + QStringLiteral("/cgroup.kill"))) {
            QDir().rmdir(group);
            group.clear();
            GTEST_SKIP() << "no control group of our own with cgroup.kill to run the manager in";
        }

        W = dir.path();
        for (const char* sub : {"run", "home", "config/systemd/user", "data", "xdg", "jobs", "work"})
            ASSERT_TRUE(QDir().mkpath(dir.filePath(QString::fromUtf8(sub))));
        QFile::setPermissions(
            dir.filePath(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        log = std::make_unique<kestest::SysLogReceiver>(dir.filePath(QStringLiteral("syslog")));
        ASSERT_TRUE(log->IsBound());
        ASSERT_TRUE(QFile::link(kestest::StandinProgram(), dir.filePath(QStringLiteral("work/Kesmo"))));

        // The manager's environment is the environment of its services. A
        // display is there on purpose: the task's service must remove it.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_DIRS"), dir.filePath(QStringLiteral("xdg")));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), Bus());
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
            QStringLiteral("unix:path=") + dir.filePath(QStringLiteral("nosystem")));
        env.insert(QStringLiteral("KES_SYSLOG_SOCKET"), log->Path());
        env.insert(QStringLiteral("KESMO_STANDIN_LOG"), dir.filePath(QStringLiteral("kesmo.log")));
        env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":99"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        env.insert(QStringLiteral("LANGUAGE"), QString());
        manager.setProcessEnvironment(env);
        manager.setProcessChannelMode(QProcess::MergedChannels);
        manager.start(QStringLiteral("sh"),
            {QStringLiteral("-c"), QString::fromUtf8(kLauncher), QStringLiteral("sh"), W, group});
        ASSERT_TRUE(manager.waitForStarted(10000));

        platform::TSystemdTaskServiceOptions o;
        o.TaskFolder = dir.filePath(QStringLiteral("data/Kesmo6/Tasks"));
        o.UnitFolder = dir.filePath(QStringLiteral("config/systemd/user"));
        o.CheckProgram = kestest::BuiltProgram(QStringLiteral("kestask"));
        o.BusAddress = Bus();
        o.SplitArguments = [](const QString& s) { return SplitCommandLine(s); };
        service = platform::CreateSystemdTaskService(o);
        ASSERT_TRUE(kestest::WaitUntil(
            [&] { return QFile::exists(dir.filePath(QStringLiteral("run/bus"))) && service->IsRunning(); },
            std::chrono::seconds(30)))
            << "the user manager did not come up: " << manager.readAll().toStdString()
            << kestest::ReadBytes(dir.filePath(QStringLiteral("console"))).toStdString();
        ASSERT_EQ(StartTaskScheduler(scheduler, service), 0u);
    }

    void TearDown() override
    {
        scheduler.reset();
        service.reset();
        if (!group.isEmpty()) {
            // Every process of the manager's namespaces goes at once.
            kestest::WriteBytes(group + QStringLiteral("/cgroup.kill"), "1");
            manager.waitForFinished(10000);
            RemoveGroup(group);
        }
    }

    static void RemoveGroup(const QString& path)
    {
        for (const QString& sub : QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            RemoveGroup(path + QLatin1Char('/') + sub);
        kestest::WaitUntil([&] { return QDir().rmdir(path); }, std::chrono::seconds(10));
    }

    QString Bus() const { return QStringLiteral("unix:path=") + dir.filePath(QStringLiteral("run/bus")); }

    // A schedule that Marvick runs: daily steps, never begun.
    void WriteSchedule(const QString& name)
    {
        const QString task = dir.filePath(QStringLiteral("jobs/Home Files.buj"));
        kestest::WriteBytes(task, "[Job]\r\n");
        TSchedTask s;
        s.SName = name;
        s.Task = task;
        s.Cycles = 2;
        s.Steps = 10;
        TMarvickSettings settings;
        settings.Schedules = {s};
        QDir().mkpath(dir.filePath(QStringLiteral("config/Kesmo6")));
        SaveSchedules(dir.filePath(QStringLiteral("config/Kesmo6/Marvick.ini")), settings,
            QStringLiteral("Marvick"), QStringLiteral("1.1"));
    }

    std::unique_ptr<TWinTask> ScheduleTask(const QString& schedule)
    {
        std::unique_ptr<TWinTask> task = scheduler->NewTask();
        task->SetDescription(QStringLiteral("This task was created by Kestrup"));
        task->SetUserData(QStringLiteral("Schedule-") + schedule);
        task->SetLogonType(TLogonType::ltToken);
        TWinTaskAction& action = task->NewAction(TWinTaskActionType::taExec);
        action.SetPath(QuoteIfNeeded(kestest::BuiltProgram(QStringLiteral("Marvick"))));
        action.SetArguments(QuoteTaskEntry(schedule) + BuildTaskOptions(TTaskCommandValues(), true));
        action.SetWorkingDirectory(dir.filePath(QStringLiteral("work")));
        task->Settings().SetDisallowOnBatteries(false);
        return task;
    }

    TWinTaskFolder& Folder() { return *scheduler->TaskFolder(); }

    QTemporaryDir dir;
    QString W;
    QString group;
    QProcess manager;
    std::unique_ptr<kestest::SysLogReceiver> log;
    std::shared_ptr<platform::ITaskService> service;
    std::unique_ptr<TWinTaskScheduler> scheduler;
};

} // namespace

TEST_F(SystemdLive, ATimerRunsMarvickWithoutADisplayAndTheTaskIsRunStoppedDisabledAndDeleted)
{
    WriteSchedule(QStringLiteral("Weekly Full"));
    std::unique_ptr<TWinTask> task = ScheduleTask(QStringLiteral("Weekly Full"));
    // Every other day from today, a few seconds from now: the start check
    // decides, so the manager's ExecCondition= takes part.
    const QDateTime at = QDateTime::currentDateTime().addSecs(6);
    TWinTaskTrigger& trigger = task->NewTrigger(TWinTaskTriggerType::ttDaily);
    trigger.SetStartTime(
        QDateTime(at.date(), QTime(at.time().hour(), at.time().minute(), at.time().second())));
    trigger.SetDaysInterval(2);
    const int index
        = Folder().RegisterTask(QStringLiteral("Schedule-Weekly Full"), *task, QString(), QString());
    ASSERT_EQ(index, 0) << Folder().ErrorMessage().toStdString();
    TWinRegisteredTask* registered = &Folder().Tasks(index);
    EXPECT_EQ(registered->Status(), TWinTaskStatus::tsReady);
    EXPECT_EQ(registered->NextRunTime().toSecsSinceEpoch(), at.toSecsSinceEpoch())
        << "the manager's next elapse";
    EXPECT_FALSE(registered->LastRunTime().isValid());

    // The timer fires: Marvick runs the schedule, starts the main program
    // and reports to the system log, as a start without a display does.
    ASSERT_TRUE(
        kestest::WaitForStandinCalls(dir.filePath(QStringLiteral("kesmo.log")), 1, std::chrono::seconds(40)))
        << kestest::ReadBytes(dir.filePath(QStringLiteral("console"))).toStdString();
    const QByteArray record = log->Next(10000);
    EXPECT_TRUE(record.contains("Kestrup[")) << record.toStdString();
    EXPECT_TRUE(record.contains("Weekly Full")) << record.toStdString();
    const QList<kestest::StandinCall> calls
        = kestest::ReadStandinLog(dir.filePath(QStringLiteral("kesmo.log")));
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].workingFolder, dir.filePath(QStringLiteral("work")));
    ASSERT_TRUE(kestest::WaitUntil(
        [&] { return registered->Status() == TWinTaskStatus::tsReady && registered->LastResult() == 0; }));
    EXPECT_LE(qAbs(registered->LastRunTime().secsTo(at)), 5);
    EXPECT_EQ(registered->NextRunTime(), QDateTime(at.date().addDays(2), trigger.StartTime().time()))
        << "the day after tomorrow: every other day";

    // Run by hand: the start check lets it through, Marvick runs again
    // (the schedule has run today: it reports and starts nothing).
    registered->Run();
    const QByteArray again = log->Next(20000);
    EXPECT_FALSE(again.isEmpty()) << "a second report";
    ASSERT_TRUE(kestest::WaitUntil([&] { return registered->Status() == TWinTaskStatus::tsReady; }));

    // A long run is stopped.
    std::unique_ptr<TWinTask> sleeper = scheduler->NewTask();
    TWinTaskAction& sleep = sleeper->NewAction(TWinTaskActionType::taExec);
    sleep.SetPath(QStringLiteral("/bin/sleep"));
    sleep.SetArguments(QStringLiteral("60"));
    sleeper->Settings().SetDisallowOnBatteries(false);
    const int sleeperIndex = Folder().RegisterTask(QStringLiteral("Sleeper"), *sleeper, QString(), QString());
    ASSERT_GE(sleeperIndex, 0) << Folder().ErrorMessage().toStdString();
    TWinRegisteredTask& long_ = Folder().Tasks(sleeperIndex);
    long_.Run();
    ASSERT_TRUE(kestest::WaitUntil([&] { return long_.Status() == TWinTaskStatus::tsRunning; }));
    long_.Stop();
    ASSERT_TRUE(kestest::WaitUntil([&] { return long_.Status() == TWinTaskStatus::tsReady; }));
    EXPECT_EQ(long_.LastResult(), int(platform::kTaskTerminated));

    // Disabled, enabled, deleted.
    registered = &Folder().Tasks(Folder().IndexOfTask(QStringLiteral("Schedule-Weekly Full")));
    registered->SetEnabled(false);
    EXPECT_EQ(registered->Status(), TWinTaskStatus::tsDisabled);
    EXPECT_FALSE(registered->NextRunTime().isValid());
    registered->SetEnabled(true);
    EXPECT_TRUE(registered->NextRunTime().isValid());
    EXPECT_TRUE(Folder().DeleteTask(QStringLiteral("Schedule-Weekly Full")))
        << Folder().ErrorMessage().toStdString();
    EXPECT_TRUE(Folder().DeleteTask(QStringLiteral("Sleeper")));
    EXPECT_EQ(Folder().TaskCount(), 0);
    EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("config/systemd/user"))).entryList(QDir::Files).isEmpty());
}

TEST_F(SystemdLive, ALogonTriggerWaitsForTheNextSession)
{
    std::unique_ptr<TWinTask> task = ScheduleTask(QStringLiteral("At logon"));
    task->NewTrigger(TWinTaskTriggerType::ttLogon).SetLogonUserId(QString());
    ASSERT_EQ(Folder().RegisterTask(QStringLiteral("Logon"), *task, QString(), QString()), 0)
        << Folder().ErrorMessage().toStdString();
    EXPECT_TRUE(QFileInfo(
        dir.filePath(QStringLiteral("config/systemd/user/timers.target.wants/kestask-Logon-1.timer")))
                    .isSymLink())
        << "started with the manager of the next session";
    EXPECT_EQ(Folder().Tasks(0).Status(), TWinTaskStatus::tsReady);
    EXPECT_FALSE(Folder().Tasks(0).LastRunTime().isValid()) << "not run at registration";
}

TEST_F(SystemdLive, ArgumentsReachTheProgramExactly)
{
    const QStringList words {QStringLiteral("Weekly Full"), QStringLiteral("100% $HOME ${HOME} %n"),
        QStringLiteral("a;b"), QStringLiteral(";"), QStringLiteral("back\\slash\\"),
        QStringLiteral("say \"hi\""), QStringLiteral("Büro\tTab"), QStringLiteral("line\nbreak"),
        QStringLiteral("-rf"), QStringLiteral("'single'")};
    QStringList quoted;
    for (const QString& w : words)
        quoted << QuoteIfNeeded(w);
    std::unique_ptr<TWinTask> task = scheduler->NewTask();
    TWinTaskAction& action = task->NewAction(TWinTaskActionType::taExec);
    action.SetPath(kestest::StandinProgram());
    action.SetArguments(quoted.join(QLatin1Char(' ')));
    action.SetWorkingDirectory(dir.filePath(QStringLiteral("work")));
    task->Settings().SetDisallowOnBatteries(false);
    const int index = Folder().RegisterTask(
        QStringLiteral("Odd 'arguments' 100% $HOME Büro"), *task, QString(), QString());
    ASSERT_GE(index, 0) << Folder().ErrorMessage().toStdString();
    Folder().Tasks(index).Run();
    ASSERT_TRUE(
        kestest::WaitForStandinCalls(dir.filePath(QStringLiteral("kesmo.log")), 1, std::chrono::seconds(20)));
    const QList<kestest::StandinCall> calls
        = kestest::ReadStandinLog(dir.filePath(QStringLiteral("kesmo.log")));
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].arguments, words);
    EXPECT_EQ(calls[0].workingFolder, dir.filePath(QStringLiteral("work")));
}
