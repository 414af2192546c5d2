// Task definitions and their XML form: every value round-trips, elements
// the reader does not know are kept, bad texts are refused with the place.
#include "platform/TaskDefinition.h"

#include "common/TestSupport.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <gtest/gtest.h>

using namespace kes::platform;

namespace {

TTaskTrigger Trigger(int type)
{
    TTaskTrigger t;
    t.Type = type;
    t.StartBoundary = QStringLiteral("2025-03-01T20:00:00");
    return t;
}

// A definition with a value other than the default in every field.
TTaskDefinition FullDefinition()
{
    TTaskDefinition d;
    d.RegistrationInfo.Description = QStringLiteral("Sicherung <täglich> & \"mehr\"");
    d.RegistrationInfo.Author = QStringLiteral("host\\jörg");
    d.RegistrationInfo.Documentation = QStringLiteral("doc");
    d.RegistrationInfo.Date = QStringLiteral("2025-02-28T10:11:12");
    d.RegistrationInfo.Uri = QStringLiteral("\\Schedule-Weekly Full");
    d.RegistrationInfo.Version = QStringLiteral("1.0.2");
    d.RegistrationInfo.Source = QStringLiteral("Kestrup");
    d.RegistrationInfo.SecurityDescriptor = QStringLiteral("D:(A;;FA;;;BA)");
    d.Principal.Id = QStringLiteral("Author");
    d.Principal.UserId = QStringLiteral("host\\jörg");
    d.Principal.GroupId = QStringLiteral("users");
    d.Principal.DisplayName = QStringLiteral("Jörg");
    d.Principal.LogonType = lkPassword;
    d.Principal.RunLevel = 1;
    TTaskSettings& s = d.Settings;
    s.AllowDemandStart = false;
    s.AllowHardTerminate = false;
    s.Enabled = false;
    s.Hidden = true;
    s.RunOnlyIfIdle = true;
    s.DisallowStartIfOnBatteries = false;
    s.StopIfGoingOnBatteries = false;
    s.StartWhenAvailable = true;
    s.RunOnlyIfNetworkAvailable = true;
    s.WakeToRun = true;
    s.Compatibility = 4;
    s.MultipleInstances = ipStopExisting;
    s.Priority = 3;
    s.ExecutionTimeLimit = QStringLiteral("PT2H");
    s.DeleteExpiredTaskAfter = QStringLiteral("P30D");
    s.RestartInterval = QStringLiteral("PT5M");
    s.RestartCount = 3;
    s.IdleSettings.IdleDuration = QStringLiteral("PT20M");
    s.IdleSettings.WaitTimeout = QStringLiteral("PT2H");
    s.IdleSettings.StopOnIdleEnd = false;
    s.IdleSettings.RestartOnIdle = true;
    d.Data = QStringLiteral("Schedule-Weekly Full");
    d.ActionsContext = QStringLiteral("Author");

    TTaskTrigger time = Trigger(tkTime);
    time.Id = QStringLiteral("t1");
    time.EndBoundary = QStringLiteral("2026-03-01T20:00:00+01:00");
    time.ExecutionTimeLimit = QStringLiteral("PT1H");
    time.RepetitionInterval = QStringLiteral("PT15M");
    time.RepetitionDuration = QStringLiteral("PT2H");
    time.StopAtDurationEnd = true;
    time.RandomDelay = QStringLiteral("PT30S");
    time.Enabled = false;
    TTaskTrigger daily = Trigger(tkDaily);
    daily.DaysInterval = 3;
    daily.RandomDelay = QStringLiteral("PT1M");
    TTaskTrigger weekly = Trigger(tkWeekly);
    weekly.WeeksInterval = 2;
    weekly.DaysOfWeek = 2 | 32 | 64;
    TTaskTrigger monthly = Trigger(tkMonthly);
    monthly.DaysOfMonth = 1 | (1 << 14) | (1 << 30) | kLastDayOfMonthBit;
    monthly.MonthsOfYear = 0xFFF;
    TTaskTrigger dow = Trigger(tkMonthlyDow);
    dow.WeeksOfMonth = 1 | 4 | kLastWeekOfMonthBit;
    dow.DaysOfWeek = 1 | 64;
    dow.MonthsOfYear = 1 | 2048;
    TTaskTrigger event = Trigger(tkEvent);
    event.Subscription = QStringLiteral(
        "<QueryList><Query Id=\"0\" Path=\"System\"><Select Path=\"System\">*</Select></Query></QueryList>");
    event.Delay = QStringLiteral("PT30S");
    TTaskTrigger logon = Trigger(tkLogon);
    logon.UserId = QStringLiteral("host\\jörg");
    logon.Delay = QStringLiteral("PT1M");
    logon.StartBoundary.clear();
    TTaskTrigger boot = Trigger(tkBoot);
    boot.Delay = QStringLiteral("PT2M");
    TTaskTrigger idle = Trigger(tkIdle);
    TTaskTrigger registration = Trigger(tkRegistration);
    registration.Delay = QStringLiteral("PT10S");
    TTaskTrigger session = Trigger(tkSessionStateChange);
    session.StateChange = 7;
    session.UserId = QStringLiteral("jörg");
    d.Triggers = {time, daily, weekly, monthly, dow, event, logon, boot, idle, registration, session};

    TTaskAction exec;
    exec.Id = QStringLiteral("a1");
    exec.Path = QStringLiteral("\"/opt/Kestrup Tools/Marvick\"");
    exec.Arguments = QStringLiteral("\"Weekly Full\"  /hide \"/ini:/home/u/my dir/M.ini\" /logmode:1");
    exec.WorkingDirectory = QStringLiteral("/home/u");
    TTaskAction com;
    com.Type = akComHandler;
    com.ClassId = QStringLiteral("{00000000-0000-0000-0000-000000000001}");
    com.Data = QStringLiteral("data");
    d.Actions = {exec, com};
    return d;
}

} // namespace

TEST(TaskXml, EveryValueRoundTrips)
{
    const TTaskDefinition d = FullDefinition();
    const QString xml = WriteTaskXml(d);
    TTaskDefinition back;
    TTaskXmlError error;
    ASSERT_TRUE(ReadTaskXml(xml, back, error))
        << error.Element.toStdString() << error.ParserMessage.toStdString();
    EXPECT_EQ(back, d) << xml.toStdString();
    EXPECT_EQ(WriteTaskXml(back), xml) << "the text is stable";

    TTaskDefinition fromFile;
    const QByteArray bytes = WriteTaskXmlFile(d);
    EXPECT_TRUE(bytes.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"))
        << bytes.left(60).toStdString();
    ASSERT_TRUE(ReadTaskXml(bytes, fromFile, error));
    EXPECT_EQ(fromFile, d);

    const TTaskDefinition empty;
    ASSERT_TRUE(ReadTaskXml(WriteTaskXml(empty), back, error));
    EXPECT_EQ(back, empty);
}

TEST(TaskXml, MissingElementsReadAsTheServiceDefaults)
{
    TTaskDefinition d;
    TTaskXmlError error;
    ASSERT_TRUE(ReadTaskXml(
        QStringLiteral("<Task><Actions><Exec><Command>/bin/true</Command></Exec></Actions></Task>"), d,
        error));
    EXPECT_EQ(d.Settings, TTaskSettings());
    ASSERT_EQ(d.Actions.size(), 1);
    EXPECT_EQ(d.Actions[0].Path, QStringLiteral("/bin/true"));
    EXPECT_TRUE(d.Triggers.isEmpty());
}

// A task as another writer exports it: UTF-16 with byte-order mark,
// elements of later schema versions, a trigger kind this service does not
// know, another namespace, comments and a second principal.
TEST(TaskXml, ElementsItDoesNotKnowAreKept)
{
    const QString text = QStringLiteral(R"(<?xml version="1.0" encoding="UTF-16"?>
<Task version="1.4" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task" xmlns:x="urn:example:extra" x:origin="export">
  <RegistrationInfo>
    <Date>2025-01-05T08:00:00.1234567</Date>
    <Author>PC\Jörg</Author>
    <URI>\Backup-Büro</URI>
    <x:Note lang="de">Hinweis <x:b>fett</x:b> Ende</x:Note>
  </RegistrationInfo>
  <Triggers>
    <CalendarTrigger id="first">
      <StartBoundary>2025-01-06T20:00:00</StartBoundary>
      <Enabled>true</Enabled>
      <ScheduleByWeek>
        <DaysOfWeek><Monday /><Friday /></DaysOfWeek>
        <WeeksInterval>1</WeeksInterval>
        <FutureOption>1</FutureOption>
      </ScheduleByWeek>
      <Later>yes</Later>
    </CalendarTrigger>
    <WnfStateChangeTrigger>
      <Enabled>true</Enabled>
      <StateName>7508BCA3</StateName>
    </WnfStateChangeTrigger>
    <LogonTrigger><Enabled>false</Enabled><UserId>PC\Jörg</UserId></LogonTrigger>
  </Triggers>
  <Principals>
    <Principal id="Author"><UserId>S-1-5-21</UserId><LogonType>InteractiveToken</LogonType><RunLevel>HighestAvailable</RunLevel></Principal>
    <Principal id="Other"><GroupId>Users</GroupId></Principal>
  </Principals>
  <Settings>
    <MultipleInstancesPolicy>Queue</MultipleInstancesPolicy>
    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>
    <IdleSettings><StopOnIdleEnd>true</StopOnIdleEnd><RestartOnIdle>false</RestartOnIdle><Extra/></IdleSettings>
    <UseUnifiedSchedulingEngine>true</UseUnifiedSchedulingEngine>
    <!-- a comment -->
    <Priority>7</Priority>
  </Settings>
  <Actions Context="Author">
    <Exec><Command>"C:\Program Files\Kestrup\Marvick.exe"</Command><Arguments>"Büro" /hide</Arguments></Exec>
    <ShowMessage><Title>T</Title><Body>B</Body></ShowMessage>
  </Actions>
</Task>
)");
    QStringEncoder toUtf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
    const QByteArray bytes = toUtf16(text);

    TTaskDefinition d;
    TTaskXmlError error;
    ASSERT_TRUE(ReadTaskXml(bytes, d, error)) << TaskXmlErrorDetail(error).toStdString();
    EXPECT_EQ(d.RegistrationInfo.Author, QStringLiteral("PC\\Jörg"));
    EXPECT_EQ(d.Settings.Compatibility, 4);
    EXPECT_EQ(d.Settings.MultipleInstances, ipQueue);
    EXPECT_FALSE(d.Settings.DisallowStartIfOnBatteries);
    EXPECT_EQ(d.Principal.LogonType, lkInteractiveToken);
    EXPECT_EQ(d.Principal.RunLevel, 1);
    ASSERT_EQ(d.Triggers.size(), 3);
    EXPECT_EQ(d.Triggers[0].Type, tkWeekly);
    EXPECT_EQ(d.Triggers[0].Id, QStringLiteral("first"));
    EXPECT_EQ(d.Triggers[0].DaysOfWeek, 2 | 32);
    EXPECT_EQ(d.Triggers[1].Type, tkCustom) << "keeps its place between the others";
    EXPECT_EQ(d.Triggers[2].Type, tkLogon);
    EXPECT_FALSE(d.Triggers[2].Enabled);
    ASSERT_EQ(d.Actions.size(), 2);
    EXPECT_EQ(d.Actions[0].Path, QStringLiteral("\"C:\\Program Files\\Kestrup\\Marvick.exe\""));
    EXPECT_EQ(d.Actions[1].Type, akShowMessage);

    // Written and read again: the same record, and the unknown parts are in
    // the text where they were found.
    const QString written = WriteTaskXml(d);
    TTaskDefinition again;
    ASSERT_TRUE(ReadTaskXml(written, again, error)) << written.toStdString();
    EXPECT_EQ(again, d);
    for (const char* part : {"UseUnifiedSchedulingEngine", "WnfStateChangeTrigger",
             "<StateName>7508BCA3</StateName>", "FutureOption", "<Later>yes</Later>", "urn:example:extra",
             "origin=\"export\"", "Hinweis ", "fett</", " Ende</", "lang=\"de\"", "id=\"Other\"",
             "<GroupId>Users</GroupId>", "<Extra/>", "<Title>T</Title>", "<Body>B</Body>"}) {
        SCOPED_TRACE(part);
        EXPECT_TRUE(written.contains(QString::fromUtf8(part))) << written.toStdString();
    }
    EXPECT_LT(written.indexOf(QStringLiteral("ScheduleByWeek")),
        written.indexOf(QStringLiteral("WnfStateChangeTrigger")));
    EXPECT_LT(written.indexOf(QStringLiteral("WnfStateChangeTrigger")),
        written.indexOf(QStringLiteral("LogonTrigger")));
}

TEST(TaskXml, BadTextsAreRefusedWithThePlace)
{
    const QString good = WriteTaskXml(FullDefinition());
    const struct {
        const char* name;
        QString text;
        quint32 code;
        const char* element;
        const char* value;
    } cases[] = {
        {"truncated", good.left(good.size() / 2), kTaskXmlMalformed, "", ""},
        {"cut after the root", good.left(good.lastIndexOf(QStringLiteral("</Task>"))), kTaskXmlMalformed, "",
            ""},
        {"no XML", QStringLiteral("just text"), kTaskXmlMalformed, "", ""},
        {"empty", QString(), kTaskXmlMalformed, "", ""},
        {"other root", QStringLiteral("<Job><Actions/></Job>"), kTaskXmlUnexpectedNode, "Job", ""},
        {"boolean", QStringLiteral("<Task><Settings><Enabled>maybe</Enabled></Settings></Task>"),
            kTaskXmlInvalidValue, "Enabled", "maybe"},
        {"number", QStringLiteral("<Task><Settings><Priority>high</Priority></Settings></Task>"),
            kTaskXmlInvalidValue, "Priority", "high"},
        {"logon type",
            QStringLiteral(
                "<Task><Principals><Principal><LogonType>Magic</LogonType></Principal></Principals></Task>"),
            kTaskXmlInvalidValue, "LogonType", "Magic"},
        {"day",
            QStringLiteral(
                "<Task><Triggers><CalendarTrigger><ScheduleByMonth><DaysOfMonth><Day>32</Day></DaysOfMonth>"
                "</ScheduleByMonth></CalendarTrigger></Triggers></Task>"),
            kTaskXmlInvalidValue, "Day", "32"},
        {"weekday",
            QStringLiteral(
                "<Task><Triggers><CalendarTrigger><ScheduleByWeek><DaysOfWeek><Funday/></DaysOfWeek>"
                "</ScheduleByWeek></CalendarTrigger></Triggers></Task>"),
            kTaskXmlUnexpectedNode, "Funday", ""},
        {"no schedule",
            QStringLiteral("<Task><Triggers><CalendarTrigger><Enabled>true</Enabled></CalendarTrigger></"
                           "Triggers></Task>"),
            kTaskXmlMissingNode, "CalendarTrigger", ""},
        {"version", QStringLiteral("<Task version=\"x\"/>"), kTaskXmlInvalidValue, "version", "x"},
        {"trailing junk", QStringLiteral("<Task/><Task/>"), kTaskXmlMalformed, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTaskDefinition d = FullDefinition();
        TTaskXmlError error;
        EXPECT_FALSE(ReadTaskXml(c.text, d, error));
        EXPECT_EQ(error.Code, c.code);
        EXPECT_EQ(error.Element, QString::fromUtf8(c.element));
        EXPECT_EQ(error.Value, QString::fromUtf8(c.value));
        EXPECT_EQ(d, FullDefinition()) << "a failed read leaves the record alone";
        if (c.code == kTaskXmlMalformed && !c.text.isEmpty()) {
            EXPECT_GT(error.Line, 0);
        }
        EXPECT_TRUE(TaskXmlErrorDetail(error).startsWith(
            QStringLiteral("(%1,%2):").arg(error.Line).arg(error.Column)));
    }
}
