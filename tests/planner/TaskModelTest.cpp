// The task model over the real task service and a fake user manager: a
// task for a schedule created, listed, run, shown with its last run,
// disabled and deleted through the model's API; the registration rules and
// the stored error of a failing call.
#include "planner/TaskCommandLine.h"
#include "planner/WinTask.h"

#include "common/FakeSystemd.h"
#include "common/TestSupport.h"
#include "frame/WinExecute.h"
#include "platform/Paths.h"
#include "platform/TaskUnits.h"

#include <QDir>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kes;

namespace {

class TaskModel : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!kestest::HaveTool(QStringLiteral("dbus-daemon")))
            KESTEST_SKIP_OR_FAIL("dbus-daemon is not installed");
        fake = std::make_unique<kestest::FakeSystemd>(dir.filePath(QStringLiteral("units")));
        ASSERT_TRUE(fake->Start());
        service = Service(fake->Address());
        ASSERT_EQ(StartTaskScheduler(scheduler, service, clock), 0u);
        ASSERT_TRUE(scheduler);
    }

    std::shared_ptr<platform::ITaskService> Service(const QString& bus)
    {
        platform::TSystemdTaskServiceOptions o;
        o.TaskFolder = dir.filePath(QStringLiteral("Tasks"));
        o.UnitFolder = dir.filePath(QStringLiteral("units"));
        o.CheckProgram = kestest::BuiltProgram(QStringLiteral("kestask"));
        o.BusAddress = bus;
        o.SystemBusAddress = bus;
        o.SplitArguments = [](const QString& s) { return SplitCommandLine(s); };
        o.Now = [this] { return clock->CurrentDateTime(); };
        return platform::CreateSystemdTaskService(o);
    }

    // A task for a schedule as the wizard makes one.
    std::unique_ptr<TWinTask> ScheduleTask(const QString& schedule)
    {
        std::unique_ptr<TWinTask> task = scheduler->NewTask();
        task->SetDescription(QStringLiteral("This task was created by Kestrup"));
        task->SetAuthor(platform::UserName());
        task->SetDate(clock->CurrentDateTime());
        task->SetUserData(QStringLiteral("Schedule-") + schedule);
        task->SetLogonType(TLogonType::ltToken);
        TWinTaskAction& action = task->NewAction(TWinTaskActionType::taExec);
        action.SetPath(QuoteIfNeeded(kestest::BuiltProgram(QStringLiteral("Marvick"))));
        action.SetArguments(QuoteTaskEntry(schedule) + BuildTaskOptions(TTaskCommandValues(), true));
        TWinTaskTrigger& trigger = task->NewTrigger(TWinTaskTriggerType::ttWeekly);
        trigger.SetStartTime(QDateTime(QDate(2025, 1, 6), QTime(20, 0)));
        trigger.SetDaysOfWeek(2 | 32);
        trigger.SetWeeksInterval(1);
        return task;
    }

    TWinTaskFolder& Folder() { return *scheduler->TaskFolder(); }

    QTemporaryDir dir;
    std::shared_ptr<TSettableClock> clock
        = std::make_shared<TSettableClock>(QDateTime(QDate(2025, 6, 1), QTime(12, 0)));
    std::unique_ptr<kestest::FakeSystemd> fake;
    std::shared_ptr<platform::ITaskService> service;
    std::unique_ptr<TWinTaskScheduler> scheduler;
};

const QString kTask = QStringLiteral("Schedule-Weekly Full");
const QString kService = QStringLiteral("kestask-Schedule\\x2dWeekly\\x20Full.service");
const QString kTimer = QStringLiteral("kestask-Schedule\\x2dWeekly\\x20Full-1.timer");

} // namespace

TEST(TaskModelStart, NoUserManagerMakesNoScheduler)
{
    if (!kestest::HaveTool(QStringLiteral("dbus-daemon")))
        KESTEST_SKIP_OR_FAIL("dbus-daemon is not installed");
    QTemporaryDir dir;
    kestest::FakeSystemd bus(dir.path());
    ASSERT_TRUE(bus.Start());
    bus.GoAway();
    platform::TSystemdTaskServiceOptions o;
    o.TaskFolder = dir.filePath(QStringLiteral("Tasks"));
    o.UnitFolder = dir.filePath(QStringLiteral("units"));
    o.BusAddress = bus.Address();
    o.SplitArguments = [](const QString& s) { return SplitCommandLine(s); };
    std::unique_ptr<TWinTaskScheduler> scheduler;
    const quint32 status = StartTaskScheduler(scheduler, platform::CreateSystemdTaskService(o));
    EXPECT_EQ(status, 0x80041315u);
    EXPECT_FALSE(scheduler);
    EXPECT_TRUE(TaskSchedulerStartText(status).startsWith(
        QStringLiteral("Error on connecting to Windows Task Scheduler:\n")));
}

TEST_F(TaskModel, ATaskIsCreatedRunShownDisabledAndDeleted)
{
    EXPECT_EQ(Folder().TaskCount(), 0);
    std::unique_ptr<TWinTask> task = ScheduleTask(QStringLiteral("Weekly Full"));
    EXPECT_EQ(task->Settings().Compatibility(), TWinTaskCompatibility::tcWin10);
    const int index = Folder().RegisterTask(kTask, *task, platform::UserName(), QStringLiteral("unused"));
    ASSERT_EQ(index, 0) << Folder().ErrorMessage().toStdString();
    EXPECT_EQ(Folder().ErrorCode(), 0u);
    ASSERT_EQ(Folder().TaskCount(), 1);
    TWinRegisteredTask& registered = Folder().Tasks(index);
    EXPECT_EQ(registered.TaskName(), kTask);
    EXPECT_EQ(registered.TaskIndex(), 0);
    EXPECT_EQ(registered.Path(), QStringLiteral("\\") + kTask);
    EXPECT_EQ(registered.Status(), TWinTaskStatus::tsReady);
    EXPECT_EQ(registered.StatusAsString(), QStringLiteral("Ready"));
    EXPECT_TRUE(registered.Enabled());
    EXPECT_EQ(registered.LastRunTimeAsString(), QString()) << "not yet run";
    EXPECT_EQ(registered.LastResult(), int(platform::kTaskHasNotRun));

    // The stored definition, as the folder's own wrapper reads it.
    TWinTask& stored = registered.Definition();
    EXPECT_EQ(stored.UserData(), QStringLiteral("Schedule-Weekly Full"));
    EXPECT_EQ(stored.LogonType(), TLogonType::ltToken);
    ASSERT_EQ(stored.TriggerCount(), 1);
    EXPECT_EQ(stored.Triggers(0).TriggerType(), TWinTaskTriggerType::ttWeekly);
    EXPECT_EQ(stored.Triggers(0).DaysOfWeek(), 2 | 32);
    EXPECT_EQ(registered.IndexOfApp(QStringLiteral("Marvick")), 0);
    EXPECT_EQ(stored.Actions(0).Arguments(), QStringLiteral("\"Weekly Full\"  /hide /prompt:delay /wait:3"));
    EXPECT_EQ(stored.Definition()->RegistrationInfo.Uri, QStringLiteral("\\") + kTask);

    // Its timer: when the manager says it elapses next.
    const QDateTime next(QDate(2025, 6, 2), QTime(20, 0));
    fake->Manager().SetNextElapse(kTimer, next);
    EXPECT_EQ(registered.NextRunTime(), next);
    EXPECT_FALSE(registered.NextRunTimeAsString().isEmpty());

    registered.Run();
    EXPECT_EQ(registered.Status(), TWinTaskStatus::tsRunning);
    fake->Manager().FinishRun(kService, 0);
    EXPECT_EQ(registered.Status(), TWinTaskStatus::tsReady);
    EXPECT_EQ(registered.LastResult(), 0);
    EXPECT_FALSE(registered.LastRunTimeAsString().isEmpty());

    registered.SetEnabled(false);
    EXPECT_EQ(registered.Status(), TWinTaskStatus::tsDisabled);
    EXPECT_FALSE(registered.NextRunTime().isValid());
    registered.SetEnabled(true);
    EXPECT_EQ(registered.Status(), TWinTaskStatus::tsReady);

    EXPECT_TRUE(Folder().DeleteTask(kTask));
    EXPECT_EQ(Folder().TaskCount(), 0);
    EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("units"))).entryList(QDir::Files).isEmpty());
    EXPECT_FALSE(Folder().DeleteTask(kTask));
    EXPECT_EQ(Folder().ErrorCode(), platform::kTaskNotFound);
    EXPECT_TRUE(Folder().ErrorMessage().contains(kTask)) << Folder().ErrorMessage().toStdString();
}

TEST_F(TaskModel, RegistrationRulesAndTheStoredError)
{
    std::unique_ptr<TWinTask> task = ScheduleTask(QStringLiteral("Daily"));
    // As logged-on user the account given is not used.
    EXPECT_EQ(Folder().RegisterTask(QStringLiteral("Schedule-Daily"), *task, QStringLiteral("nobody-here"),
                  QStringLiteral("pw")),
        0);
    // With a password the account must be this user's.
    task->SetLogonType(TLogonType::ltPassword);
    EXPECT_EQ(Folder().RegisterTask(QStringLiteral("Schedule-Other"), *task, QStringLiteral("nobody-here"),
                  QStringLiteral("pw")),
        -1);
    EXPECT_EQ(Folder().ErrorCode(), platform::kTaskUnknownAccount);
    EXPECT_EQ(Folder().ErrorCode() & 0xFFFF, 1332u) << "a logon failure the user can mend";
    EXPECT_FALSE(Folder().ErrorMessage().isEmpty());
    EXPECT_EQ(Folder().TaskCount(), 1);

    task->SetLogonType(TLogonType::ltToken);
    EXPECT_EQ(Folder().RegisterTask(QStringLiteral("Bad/Name"), *task, QString(), QString()), -1);
    EXPECT_EQ(Folder().ErrorCode(), platform::kTaskInvalidName);
    // A second registration in other case updates the task; the index is found without regard to case.
    EXPECT_EQ(Folder().RegisterTask(QStringLiteral("SCHEDULE-DAILY"), *task, QString(), QString()), 0);
    EXPECT_EQ(Folder().ErrorCode(), 0u) << "cleared by a call that succeeds";
    EXPECT_EQ(Folder().TaskCount(), 1);
    EXPECT_EQ(Folder().IndexOfTask(QStringLiteral("schedule-daily")), 0);
    EXPECT_EQ(Folder().IndexOfTask(QStringLiteral("nope")), -1);
    EXPECT_EQ(Folder().CreateFolder(QStringLiteral("Sub")), -1);
    EXPECT_EQ(Folder().ErrorCode(), platform::kTaskNotSupported);
    EXPECT_EQ(Folder().FolderCount(), 0);
    EXPECT_EQ(Folder().FolderName(), QStringLiteral("\\"));
}

TEST_F(TaskModel, AnUnreadableDefinitionDoesNotEndTheListing)
{
    std::unique_ptr<TWinTask> task = ScheduleTask(QStringLiteral("B"));
    ASSERT_EQ(Folder().RegisterTask(QStringLiteral("A"), *task, QString(), QString()), 0);
    ASSERT_EQ(Folder().RegisterTask(QStringLiteral("B"), *task, QString(), QString()), 1);
    kestest::WriteBytes(dir.filePath(QStringLiteral("Tasks/A.xml")), "<Task><Settings><Enabled>perhaps");
    EXPECT_EQ(scheduler->Refresh(), 0u);
    ASSERT_EQ(Folder().TaskCount(), 2);
    EXPECT_EQ(Folder().ErrorCode(), platform::kTaskXmlMalformed);
    EXPECT_EQ(Folder().Tasks(0).Definition().TriggerCount(), 0);
    EXPECT_EQ(Folder().Tasks(0).Status(), TWinTaskStatus::tsUnknown);
    EXPECT_EQ(Folder().Tasks(1).Definition().TriggerCount(), 1);
    EXPECT_EQ(Folder().Tasks(0).IndexOfApp(QStringLiteral("Marvick")), -1) << "not one of Marvick's";
}

TEST_F(TaskModel, ImportingATaskXml)
{
    std::unique_ptr<TWinTask> task = scheduler->NewTask();
    const QString file = dir.filePath(QStringLiteral("export.xml"));
    QStringEncoder toUtf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
    kestest::WriteBytes(file, toUtf16(QStringLiteral(R"(<?xml version="1.0" encoding="UTF-16"?>
<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">
  <Triggers><CalendarTrigger><StartBoundary>2025-01-06T08:00:00</StartBoundary>
    <ScheduleByDay><DaysInterval>2</DaysInterval></ScheduleByDay></CalendarTrigger></Triggers>
  <Actions><Exec><Command>/bin/true</Command></Exec></Actions>
  <Settings><NewerSetting>1</NewerSetting></Settings>
</Task>)")));
    task->ImportXmlFile(file);
    ASSERT_EQ(task->TriggerCount(), 1);
    EXPECT_EQ(task->Triggers(0).DaysInterval(), 2);
    EXPECT_EQ(Folder().RegisterTask(QStringLiteral("Imported"), *task, QString(), QString()), 0);
    EXPECT_TRUE(Folder().Tasks(0).Xml().contains(QStringLiteral("<NewerSetting>1</NewerSetting>")));

    // A file cut short, or none at all: an error, and the definition stays.
    kestest::WriteBytes(file, "<Task><Triggers><CalendarTrigger>");
    for (const QString& bad : {file, dir.filePath(QStringLiteral("missing.xml"))}) {
        try {
            task->ImportXmlFile(bad);
            ADD_FAILURE() << "no error for " << bad.toStdString();
        } catch (const platform::ETaskServiceError& e) {
            EXPECT_TRUE(e.Detail().startsWith(bad)) << e.Detail().toStdString();
        }
        EXPECT_EQ(task->TriggerCount(), 1);
    }
}
