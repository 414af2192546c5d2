// The task service over a fake user manager on a private bus: registering,
// listing, running, enabling and deleting tasks with real files, and what
// is left when a name is bad, a folder cannot be written or the manager
// goes away.
#include "platform/TaskService.h"

#include "common/FakeSystemd.h"
#include "common/TestSupport.h"
#include "frame/WinExecute.h"
#include "platform/Paths.h"
#include "platform/TaskUnits.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kes::platform;

namespace {

class TaskService : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!kestest::HaveTool(QStringLiteral("dbus-daemon")))
            KESTEST_SKIP_OR_FAIL("dbus-daemon is not installed");
        fake = std::make_unique<kestest::FakeSystemd>(UnitFolder());
        ASSERT_TRUE(fake->Start());
        service = Create(fake->Address());
    }

    std::shared_ptr<ITaskService> Create(const QString& bus)
    {
        TSystemdTaskServiceOptions o;
        o.TaskFolder = TaskFolder();
        o.UnitFolder = UnitFolder();
        o.CheckProgram = kestest::BuiltProgram(QStringLiteral("kestask"));
        o.BusAddress = bus;
        o.SystemBusAddress = bus;
        o.SplitArguments = [](const QString& s) { return kes::SplitCommandLine(s); };
        o.Now = [this] { return now; };
        return CreateSystemdTaskService(o);
    }

    QString TaskFolder() const { return dir.filePath(QStringLiteral("Tasks")); }
    QString UnitFolder() const { return dir.filePath(QStringLiteral("units")); }
    QStringList Files(const QString& folder) const
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden);
    }
    kestest::FakeSystemdObject& Manager() { return fake->Manager(); }

    static TTaskDefinition Daily(
        const QString& arguments = QStringLiteral("\"Weekly Full\" /hide"), int interval = 1)
    {
        TTaskDefinition d;
        TTaskTrigger t;
        t.Type = tkDaily;
        t.StartBoundary = QStringLiteral("2025-01-06T20:00:00");
        t.DaysInterval = interval;
        d.Triggers = {t};
        TTaskAction a;
        a.Path = kestest::BuiltProgram(QStringLiteral("Marvick"));
        a.Arguments = arguments;
        d.Actions = {a};
        d.RegistrationInfo.Description = QStringLiteral("first");
        return d;
    }

    static quint32 CodeOf(const std::function<void()>& call)
    {
        try {
            call();
        } catch (const ETaskServiceError& e) {
            return e.ErrorCode();
        }
        return 0;
    }

    QTemporaryDir dir;
    QDateTime now = QDateTime(QDate(2025, 6, 1), QTime(12, 0));
    std::unique_ptr<kestest::FakeSystemd> fake;
    std::shared_ptr<ITaskService> service;
};

const QString kName = QStringLiteral("Schedule-Weekly Full");
const QString kBase = QStringLiteral("Schedule\\x2dWeekly\\x20Full");
const QString kService = QStringLiteral("kestask-Schedule\\x2dWeekly\\x20Full.service");
const QString kTimer = QStringLiteral("kestask-Schedule\\x2dWeekly\\x20Full-1.timer");

} // namespace

TEST(TaskServiceBus, NoManagerIsTheServiceNotRunning)
{
    if (!kestest::HaveTool(QStringLiteral("dbus-daemon")))
        KESTEST_SKIP_OR_FAIL("dbus-daemon is not installed");
    QTemporaryDir dir;
    kestest::FakeSystemd emptyBus(dir.path());
    ASSERT_TRUE(emptyBus.Start());
    emptyBus.GoAway(); // a bus without a manager on it
    for (const QString& bus : {emptyBus.Address(), QStringLiteral("unix:path=/nonexistent/kes-bus")}) {
        SCOPED_TRACE(bus.toStdString());
        TSystemdTaskServiceOptions o;
        o.TaskFolder = dir.filePath(QStringLiteral("Tasks"));
        o.UnitFolder = dir.filePath(QStringLiteral("units"));
        o.BusAddress = bus;
        o.SplitArguments = [](const QString& s) { return kes::SplitCommandLine(s); };
        const auto s = CreateSystemdTaskService(o);
        EXPECT_FALSE(s->IsRunning());
        EXPECT_EQ(s->Connect(), kTaskServiceNotRunning);
    }
}

TEST_F(TaskService, RegisterStoresTheDefinitionAndStartsItsTimer)
{
    ASSERT_EQ(service->Connect(), 0u);
    EXPECT_TRUE(service->ListTasks().isEmpty());
    EXPECT_EQ(
        service->Register(kName, Daily(), QString(), QStringLiteral("secret"), lkInteractiveToken), kName);

    const QString file = TaskFolder() + QLatin1Char('/') + kBase + QStringLiteral(".xml");
    ASSERT_TRUE(QFile::exists(file));
    EXPECT_EQ(QFileInfo(file).permissions(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    EXPECT_FALSE(kestest::ReadBytes(file).contains("secret")) << "no password is written";
    EXPECT_EQ(Files(UnitFolder()), (QStringList {kTimer, kService}));
    for (const QString& f : Files(UnitFolder()))
        EXPECT_EQ(QFileInfo(UnitFolder() + QLatin1Char('/') + f).permissions(),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    EXPECT_TRUE(QFileInfo(UnitFolder() + QStringLiteral("/timers.target.wants/") + kTimer).isSymLink());
    EXPECT_EQ(Manager().Unit(kTimer).ActiveState, QStringLiteral("active"));
    EXPECT_TRUE(Manager().Calls().contains(QStringLiteral("Reload ")));

    EXPECT_EQ(service->ListTasks(), QStringList {kName});
    const TTaskDefinition d = service->Definition(kName);
    EXPECT_EQ(d.RegistrationInfo.Uri, QStringLiteral("\\") + kName);
    EXPECT_EQ(d.Principal.LogonType, lkInteractiveToken);
    EXPECT_EQ(d.Principal.UserId, UserName());
    EXPECT_EQ(d.Triggers, Daily().Triggers);
    EXPECT_EQ(service->Path(kName), QStringLiteral("\\") + kName);
    EXPECT_EQ(service->State(kName), skReady);
    EXPECT_TRUE(service->Enabled(kName));
    TTaskDefinition fromXml;
    TTaskXmlError error;
    EXPECT_TRUE(ReadTaskXml(service->Xml(kName), fromXml, error));
    EXPECT_EQ(fromXml, d);
    EXPECT_EQ(service->LastTaskResult(kName), qint32(kTaskHasNotRun));
    EXPECT_FALSE(service->LastRunTime(kName).isValid());
}

TEST_F(TaskService, NamesDifferingOnlyInCaseAreOneTask)
{
    service->Register(QStringLiteral("Backup-Büro"), Daily(), QString(), QString(), lkInteractiveToken);
    TTaskDefinition second = Daily();
    second.RegistrationInfo.Description = QStringLiteral("second");
    EXPECT_EQ(
        service->Register(QStringLiteral("BACKUP-büro"), second, QString(), QString(), lkInteractiveToken),
        QStringLiteral("Backup-Büro"));
    EXPECT_EQ(service->ListTasks(), QStringList {QStringLiteral("Backup-Büro")});
    EXPECT_EQ(service->Definition(QStringLiteral("backup-BÜRO")).RegistrationInfo.Description,
        QStringLiteral("second"));
    EXPECT_EQ(Files(TaskFolder()).size(), 1);
}

TEST_F(TaskService, BadNamesAndAccountsChangeNothing)
{
    const struct {
        QString name;
        QString user;
        quint32 code;
    } cases[] = {
        {QStringLiteral("a/b"), QString(), kTaskInvalidName},
        {QStringLiteral("a\\b"), QString(), kTaskInvalidName},
        {QStringLiteral("say \"hi\""), QString(), kTaskInvalidName},
        {QStringLiteral("line\nbreak"), QString(), kTaskInvalidName},
        {QStringLiteral("  "), QString(), kTaskInvalidName},
        {QStringLiteral("fine"), QStringLiteral("someone-else"), kTaskUnknownAccount},
        {QStringLiteral("fine"), QStringLiteral("otherhost\\") + UserName(), kTaskUnknownAccount},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        EXPECT_EQ(CodeOf([&] { service->Register(c.name, Daily(), c.user, QString(), lkPassword); }), c.code);
        EXPECT_TRUE(Files(TaskFolder()).isEmpty());
        EXPECT_TRUE(Files(UnitFolder()).isEmpty());
    }
    EXPECT_EQ(kTaskUnknownAccount & 0xFFFF, 1332u) << "the wizard offers to retry";
    // Names with blanks, quotes of the other kind and letters beyond ASCII are fine.
    for (const QString& good : QStringList {
             QStringLiteral("Sicherung Büro 100% $HOME it's"), ComputerName() + QStringLiteral(" ok")})
        EXPECT_EQ(service->Register(good, Daily(), ComputerName() + QLatin1Char('\\') + UserName(), QString(),
                      lkInteractiveToken),
            good);
    EXPECT_EQ(service->ListTasks().size(), 2);
}

TEST_F(TaskService, BadDefinitionsAreRefused)
{
    TTaskDefinition noActions = Daily();
    noActions.Actions.clear();
    TTaskDefinition badStart = Daily();
    badStart.Triggers[0].StartBoundary = QStringLiteral("tomorrow");
    TTaskDefinition badDuration = Daily();
    badDuration.Triggers[0].RepetitionInterval = QStringLiteral("every hour");
    TTaskDefinition badProgram = Daily();
    badProgram.Actions[0].Path = QStringLiteral("C:\\Programs\\Marvick.exe");
    const struct {
        const char* name;
        TTaskDefinition definition;
        quint32 code;
    } cases[] = {{"no actions", noActions, kTaskXmlMissingNode}, {"start", badStart, kTaskXmlInvalidValue},
        {"duration", badDuration, kTaskXmlInvalidValue}, {"program", badProgram, kTaskInvalidArgument}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(
            CodeOf([&] { service->Register(kName, c.definition, QString(), QString(), lkInteractiveToken); }),
            c.code);
        EXPECT_TRUE(Files(TaskFolder()).isEmpty());
        EXPECT_TRUE(Files(UnitFolder()).isEmpty());
    }
}

TEST_F(TaskService, AMissingStartCheckProgramRefusesTasksThatNeedIt)
{
    TSystemdTaskServiceOptions o;
    o.TaskFolder = TaskFolder();
    o.UnitFolder = UnitFolder();
    o.CheckProgram = dir.filePath(QStringLiteral("no/kestask"));
    o.BusAddress = fake->Address();
    o.SplitArguments = [](const QString& s) { return kes::SplitCommandLine(s); };
    o.Now = [this] { return now; };
    const auto missing = CreateSystemdTaskService(o);
    EXPECT_EQ(CodeOf([&] {
        missing->Register(kName, Daily(QStringLiteral("x"), 3), QString(), QString(), lkInteractiveToken);
    }),
        kTaskNotFound);
    EXPECT_TRUE(Files(TaskFolder()).isEmpty());
    EXPECT_EQ(missing->Register(kName, Daily(), QString(), QString(), lkInteractiveToken), kName)
        << "a daily task needs no check";
}

TEST_F(TaskService, AUnitFolderThatCannotBeWrittenLeavesNoHalfTask)
{
    // A file where the folder should be: nothing can be created below it,
    // not even by root.
    kestest::WriteBytes(dir.filePath(QStringLiteral("blocked")), "x");
    TSystemdTaskServiceOptions o;
    o.TaskFolder = TaskFolder();
    o.UnitFolder = dir.filePath(QStringLiteral("blocked/units"));
    o.BusAddress = fake->Address();
    o.SplitArguments = [](const QString& s) { return kes::SplitCommandLine(s); };
    const auto blocked = CreateSystemdTaskService(o);
    EXPECT_EQ(CodeOf([&] { blocked->Register(kName, Daily(), QString(), QString(), lkInteractiveToken); })
            & 0xFFFF0000,
        kTaskSystemErrorBase);
    EXPECT_TRUE(Files(TaskFolder()).isEmpty());
    EXPECT_TRUE(blocked->ListTasks().isEmpty());

    // An update that fails half-way (the timer's place is taken by a
    // folder) puts the definition and the service unit back as they were.
    service->Register(kName, Daily(), QString(), QString(), lkInteractiveToken);
    const QByteArray definitionBefore
        = kestest::ReadBytes(TaskFolder() + QLatin1Char('/') + kBase + QStringLiteral(".xml"));
    const QByteArray serviceBefore = kestest::ReadBytes(UnitFolder() + QLatin1Char('/') + kService);
    TTaskDefinition changed = Daily(QStringLiteral("Changed"));
    changed.Triggers << changed.Triggers[0];
    const QString second = QStringLiteral("kestask-Schedule\\x2dWeekly\\x20Full-2.timer");
    ASSERT_TRUE(QDir().mkpath(UnitFolder() + QLatin1Char('/') + second + QStringLiteral("/inside")));
    EXPECT_NE(
        CodeOf([&] { service->Register(kName, changed, QString(), QString(), lkInteractiveToken); }), 0u);
    EXPECT_EQ(kestest::ReadBytes(TaskFolder() + QLatin1Char('/') + kBase + QStringLiteral(".xml")),
        definitionBefore);
    EXPECT_EQ(kestest::ReadBytes(UnitFolder() + QLatin1Char('/') + kService), serviceBefore);
    EXPECT_EQ(service->Definition(kName).Actions[0].Arguments, Daily().Actions[0].Arguments);
    EXPECT_EQ(Files(TaskFolder()).size(), 1) << "no temporary file left";
}

TEST_F(TaskService, AManagerThatGoesAwayBetweenCalls)
{
    service->Register(kName, Daily(), QString(), QString(), lkInteractiveToken);
    const QByteArray before
        = kestest::ReadBytes(TaskFolder() + QLatin1Char('/') + kBase + QStringLiteral(".xml"));
    fake->GoAway();
    EXPECT_EQ(service->Connect(), kTaskServiceNotRunning);
    EXPECT_EQ(CodeOf([&] {
        service->Register(QStringLiteral("Other"), Daily(), QString(), QString(), lkInteractiveToken);
    }),
        kTaskServiceNotRunning);
    EXPECT_EQ(CodeOf([&] {
        service->Register(kName, Daily(QStringLiteral("Changed")), QString(), QString(), lkInteractiveToken);
    }),
        kTaskServiceNotRunning);
    EXPECT_EQ(CodeOf([&] { service->Delete(kName); }), kTaskServiceNotRunning);
    EXPECT_EQ(CodeOf([&] { service->Run(kName); }), kTaskServiceNotRunning);
    EXPECT_EQ(CodeOf([&] { service->State(kName); }), kTaskServiceNotRunning);
    EXPECT_EQ(Files(TaskFolder()), QStringList {kBase + QStringLiteral(".xml")});
    EXPECT_EQ(kestest::ReadBytes(TaskFolder() + QLatin1Char('/') + kBase + QStringLiteral(".xml")), before);
    EXPECT_EQ(Files(UnitFolder()), (QStringList {kTimer, kService}));
}

TEST_F(TaskService, AManagerThatFailsDuringRegistrationLeavesNothingBehind)
{
    Manager().Fail(QStringLiteral("EnableUnitFiles"));
    EXPECT_EQ(CodeOf([&] { service->Register(kName, Daily(), QString(), QString(), lkInteractiveToken); }),
        kTaskFailed);
    EXPECT_TRUE(Files(TaskFolder()).isEmpty());
    EXPECT_TRUE(Files(UnitFolder()).isEmpty()) << "no unit that no definition describes";
}

TEST_F(TaskService, RunStopAndTheLastResult)
{
    service->Register(kName, Daily(), QString(), QString(), lkInteractiveToken);
    service->Run(kName);
    EXPECT_EQ(Manager().Unit(kService).Starts, 1);
    EXPECT_EQ(service->State(kName), skRunning);
    EXPECT_EQ(service->LastTaskResult(kName), qint32(kTaskIsRunning));
    const QDateTime started = service->LastRunTime(kName);
    EXPECT_LE(qAbs(started.secsTo(QDateTime::currentDateTime())), 5);
    Manager().FinishRun(kService, 3);
    EXPECT_EQ(service->State(kName), skReady);
    EXPECT_EQ(service->LastTaskResult(kName), 3);
    EXPECT_EQ(service->LastRunTime(kName), started);

    service->Run(kName);
    service->Stop(kName);
    EXPECT_EQ(service->LastTaskResult(kName), qint32(kTaskTerminated));
    Manager().SetUnitState(kService, QStringLiteral("activating"), QStringLiteral("condition"));
    EXPECT_EQ(service->State(kName), skQueued) << "waiting for the start check";

    service->SetEnabled(kName, false);
    EXPECT_EQ(CodeOf([&] { service->Run(kName); }), kTaskDisabled);
    TTaskDefinition noDemand = Daily();
    noDemand.Settings.AllowDemandStart = false;
    service->Register(kName, noDemand, QString(), QString(), lkInteractiveToken);
    EXPECT_EQ(CodeOf([&] { service->Run(kName); }), kTaskNoDemandStart);
    EXPECT_EQ(CodeOf([&] { service->Run(QStringLiteral("missing")); }), kTaskNotFound);
}

TEST_F(TaskService, RunWithTheStartCheckLeavesARequest)
{
    service->Register(kName, Daily(QStringLiteral("x"), 3), QString(), QString(), lkInteractiveToken);
    EXPECT_TRUE(kestest::ReadBytes(UnitFolder() + QLatin1Char('/') + kService).contains("ExecCondition="));
    service->Run(kName);
    const QString request = TaskFolder() + QStringLiteral("/state/") + kBase + QStringLiteral(".run");
    EXPECT_TRUE(QFile::exists(request));
    QFile::remove(request);
    service->Run(kName);
    EXPECT_FALSE(QFile::exists(request)) << "a running task is not started again";
    EXPECT_EQ(Manager().Unit(kService).Starts, 1);
    Manager().FinishRun(kService, 0);
    service->Run(kName);
    EXPECT_TRUE(QFile::exists(request));
    const TTaskStartCheck check
        = RunTaskStartCheck(TaskFolder() + QLatin1Char('/') + kBase + QStringLiteral(".xml"), QString(), now);
    EXPECT_TRUE(check.Run);
    EXPECT_EQ(check.Reason, srRequested);
    EXPECT_FALSE(QFile::exists(request)) << "a request runs once";
}

TEST_F(TaskService, DisablingRemovesTheTimersAndEnablingBringsThemBack)
{
    service->Register(kName, Daily(), QString(), QString(), lkInteractiveToken);
    service->SetEnabled(kName, false);
    EXPECT_FALSE(service->Enabled(kName));
    EXPECT_EQ(service->State(kName), skDisabled);
    EXPECT_EQ(Files(UnitFolder()), QStringList {kService});
    EXPECT_EQ(Manager().Unit(kTimer).ActiveState, QStringLiteral("inactive"));
    EXPECT_FALSE(QFileInfo(UnitFolder() + QStringLiteral("/timers.target.wants/") + kTimer).exists());
    service->SetEnabled(kName, true);
    EXPECT_EQ(service->State(kName), skReady);
    EXPECT_EQ(Files(UnitFolder()), (QStringList {kTimer, kService}));
    EXPECT_EQ(Manager().Unit(kTimer).ActiveState, QStringLiteral("active"));
}

TEST_F(TaskService, DeleteRemovesEverything)
{
    service->Register(kName, Daily(QStringLiteral("x"), 3), QString(), QString(), lkInteractiveToken);
    service->Run(kName);
    service->Delete(kName);
    EXPECT_TRUE(service->ListTasks().isEmpty());
    EXPECT_TRUE(Files(TaskFolder()).isEmpty());
    EXPECT_TRUE(Files(TaskFolder() + QStringLiteral("/state")).isEmpty());
    EXPECT_TRUE(Files(UnitFolder()).isEmpty());
    EXPECT_TRUE(QDir(UnitFolder() + QStringLiteral("/timers.target.wants"))
                    .entryList(QDir::System | QDir::Files)
                    .isEmpty());
    EXPECT_EQ(Manager().Unit(kTimer).ActiveState, QStringLiteral("inactive"));
    EXPECT_EQ(CodeOf([&] { service->Delete(kName); }), kTaskNotFound);
}

TEST_F(TaskService, ConnectBringsTheUnitsInLineWithTheDefinitions)
{
    service->Register(kName, Daily(), QString(), QString(), lkInteractiveToken);
    // Units without a definition, a link to a unit that is gone, and a
    // definition whose units were lost.
    kestest::WriteBytes(
        UnitFolder() + QStringLiteral("/kestask-Ghost.service"), "[Service]\nExecStart=/bin/true\n");
    kestest::WriteBytes(
        UnitFolder() + QStringLiteral("/kestask-Ghost-1.timer"), "[Timer]\nOnCalendar=daily\n");
    QFile::link(UnitFolder() + QStringLiteral("/kestask-Gone-1.timer"),
        UnitFolder() + QStringLiteral("/timers.target.wants/kestask-Gone-1.timer"));
    kestest::WriteBytes(UnitFolder() + QStringLiteral("/other.service"), "[Service]\nExecStart=/bin/true\n");
    QFile::remove(UnitFolder() + QLatin1Char('/') + kTimer);
    ASSERT_EQ(service->Connect(), 0u);
    EXPECT_EQ(Files(UnitFolder()), (QStringList {kTimer, kService, QStringLiteral("other.service")}));
    EXPECT_FALSE(
        QFileInfo(UnitFolder() + QStringLiteral("/timers.target.wants/kestask-Gone-1.timer")).isSymLink());
    EXPECT_TRUE(QFileInfo(UnitFolder() + QStringLiteral("/timers.target.wants/") + kTimer).isSymLink());
}

TEST_F(TaskService, AHandEditedOrTruncatedDefinition)
{
    service->Register(kName, Daily(), QString(), QString(), lkInteractiveToken);
    const QString file = TaskFolder() + QLatin1Char('/') + kBase + QStringLiteral(".xml");
    const QByteArray good = kestest::ReadBytes(file);
    kestest::WriteBytes(file, good.left(good.size() / 2));
    EXPECT_EQ(service->ListTasks(), QStringList {kName}) << "listed under the name of its file";
    EXPECT_EQ(service->State(kName), skUnknown);
    EXPECT_FALSE(service->Enabled(kName));
    EXPECT_EQ(service->Xml(kName).toUtf8(), good.left(good.size() / 2));
    try {
        service->Definition(kName);
        ADD_FAILURE() << "no error";
    } catch (const ETaskServiceError& e) {
        EXPECT_EQ(e.ErrorCode(), kTaskXmlMalformed);
        EXPECT_TRUE(e.Detail().startsWith(file + QStringLiteral(" ("))) << e.Detail().toStdString();
    }
    EXPECT_EQ(CodeOf([&] { service->Run(kName); }), kTaskXmlMalformed);
    ASSERT_EQ(service->Connect(), 0u);
    EXPECT_TRUE(Files(UnitFolder()).isEmpty()) << "no definition describes them any more";
    service->Delete(kName);
    EXPECT_TRUE(Files(TaskFolder()).isEmpty());
}

TEST_F(TaskService, HiddenTasksAreNotListed)
{
    TTaskDefinition hidden = Daily();
    hidden.Settings.Hidden = true;
    service->Register(QStringLiteral("Hidden"), hidden, QString(), QString(), lkInteractiveToken);
    service->Register(QStringLiteral("b"), Daily(), QString(), QString(), lkInteractiveToken);
    service->Register(QStringLiteral("A"), Daily(), QString(), QString(), lkInteractiveToken);
    EXPECT_EQ(service->ListTasks(), (QStringList {QStringLiteral("A"), QStringLiteral("b")}));
    EXPECT_TRUE(service->ListFolders().isEmpty());
    EXPECT_TRUE(service->Enabled(QStringLiteral("Hidden")));
}

TEST_F(TaskService, NextRunTimeFromTheManagerAndTheTriggerRules)
{
    service->Register(kName, Daily(), QString(), QString(), lkInteractiveToken);
    const QDateTime elapse(QDate(2025, 6, 1), QTime(20, 0));
    Manager().SetNextElapse(kTimer, elapse);
    EXPECT_EQ(service->NextRunTime(kName), elapse) << "an exact calendar: the manager's time";

    // Every third day from 6 January: the calendar wakes the check daily,
    // the trigger's next day is 2 June.
    service->Register(kName, Daily(QStringLiteral("x"), 3), QString(), QString(), lkInteractiveToken);
    Manager().SetNextElapse(kTimer, elapse);
    EXPECT_EQ(service->NextRunTime(kName), QDateTime(QDate(2025, 6, 2), QTime(20, 0)));
    service->SetEnabled(kName, false);
    EXPECT_FALSE(service->NextRunTime(kName).isValid());
}

TEST_F(TaskService, LogonTypesWithoutSessionSwitchOnLingering)
{
    if (QFile::exists(QStringLiteral("/var/lib/systemd/linger/") + UserName()))
        GTEST_SKIP() << "lingering is on for this user already";
    service->Register(QStringLiteral("token"), Daily(), QString(), QString(), lkInteractiveToken);
    EXPECT_TRUE(Manager().Lingering().isEmpty());
    service->Register(QStringLiteral("password"), Daily(), UserName(), QStringLiteral("pw"), lkPassword);
    EXPECT_EQ(Manager().Lingering(), QList<uint> {uint(::getuid())});
    Manager().Fail(QStringLiteral("SetUserLinger"));
    EXPECT_EQ(CodeOf([&] { service->Register(QStringLiteral("s4u"), Daily(), QString(), QString(), lkS4U); }),
        kTaskAccessDenied);
    EXPECT_FALSE(service->ListTasks().contains(QStringLiteral("s4u")));
}

TEST(TaskStartCheck, DecidesByTheTriggerTimesSinceTheLastCheck)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Every\\x20third.xml"));
    TTaskDefinition d;
    TTaskTrigger t;
    t.Type = tkDaily;
    t.DaysInterval = 3;
    t.StartBoundary = QStringLiteral("2025-06-01T20:00:00");
    t.RandomDelay = QStringLiteral("PT10M");
    d.Triggers = {t};
    kestest::WriteBytes(file, WriteTaskXmlFile(d));
    const auto at
        = [](int day, int hour, int minute) { return QDateTime(QDate(2025, 6, day), QTime(hour, minute)); };
    const auto check = [&](const QDateTime& when, const QString& trigger = QString()) {
        return RunTaskStartCheck(file, trigger, when);
    };
    // The stamp starts at the definition's modification: now, a moment
    // after which 1 June lies in the past, so begin with a stamp.
    kestest::WriteBytes(dir.filePath(QStringLiteral("state/Every\\x20third.check")),
        QByteArray::number(at(1, 0, 0).toMSecsSinceEpoch()));
    EXPECT_EQ(check(at(1, 20, 0)).Reason, srTriggerDue);
    EXPECT_EQ(check(at(1, 20, 3)).Reason, srNotDue) << "once per time";
    EXPECT_EQ(check(at(2, 20, 0)).Reason, srNotDue) << "not a day of the trigger";
    EXPECT_EQ(check(at(4, 20, 14)).Reason, srTriggerDue) << "late within the random delay and the slack";
    EXPECT_EQ(check(at(8, 20, 0)).Reason, srNotDue) << "7 June was missed: not run a day late";
    EXPECT_EQ(check(at(9, 3, 0), QStringLiteral("kestask-Every\\x20third-1.timer")).Reason, srNotDue)
        << "a calendar timer is no start timer";

    d.Settings.StartWhenAvailable = true;
    kestest::WriteBytes(file, WriteTaskXmlFile(d));
    EXPECT_EQ(check(at(11, 8, 0)).Reason, srTriggerDue) << "a missed start runs as soon as possible";

    TTaskTrigger logon;
    logon.Type = tkLogon;
    d.Triggers << logon;
    kestest::WriteBytes(file, WriteTaskXmlFile(d));
    EXPECT_EQ(check(at(11, 9, 0), QStringLiteral("kestask-Every\\x20third-2.timer")).Reason, srStartTimer);

    kestest::WriteBytes(file, "<Task><Triggers>");
    const TTaskStartCheck broken = check(at(12, 0, 0));
    EXPECT_FALSE(broken.Run);
    EXPECT_EQ(broken.Reason, srUnreadable);
    EXPECT_TRUE(broken.Detail.startsWith(file)) << broken.Detail.toStdString();
}

TEST(TaskStartCheck, TheProgramAnswersTheManager)
{
    QTemporaryDir dir;
    const QString kestask = kestest::BuiltProgram(QStringLiteral("kestask"));
    TTaskDefinition d;
    TTaskTrigger t;
    t.Type = tkTime;
    t.StartBoundary
        = QDateTime::currentDateTime().addSecs(-30).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    d.Triggers = {t};
    const QString due = dir.filePath(QStringLiteral("due.xml"));
    kestest::WriteBytes(due, WriteTaskXmlFile(d));
    kestest::WriteBytes(dir.filePath(QStringLiteral("state/due.check")), "0");
    EXPECT_EQ(kestest::Run(kestask, {QStringLiteral("check"), due}).exitCode, 0);
    const kestest::ProcessResult again = kestest::Run(kestask, {QStringLiteral("check"), due});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(again.err.contains("skipped")) << again.err.toStdString();
    EXPECT_EQ(kestest::Run(kestask, {QStringLiteral("check"), dir.filePath(QStringLiteral("missing.xml"))})
                  .exitCode,
        1);
    EXPECT_EQ(kestest::Run(kestask, {QStringLiteral("run")}).exitCode, 2);
}
