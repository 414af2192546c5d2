// The user units of a task: names in systemd's escaping (systemd-escape as
// the oracle), and unit files that systemd-analyze verify accepts without
// a word on standard error, whatever the task's names and arguments hold.
#include "platform/TaskUnits.h"

#include "common/TestSupport.h"
#include "frame/WinExecute.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kes::platform;

namespace {

const QTimeZone kBerlin("Europe/Berlin");
const QDateTime kNow(QDate(2025, 6, 1), QTime(12, 0), kBerlin);

TTaskTrigger Calendar(int type, const char* start = "2025-01-06T20:00:00")
{
    TTaskTrigger t;
    t.Type = type;
    t.StartBoundary = QString::fromUtf8(start);
    return t;
}

TTaskAction Exec(const QString& program, const QString& arguments, const QString& dir = QString())
{
    TTaskAction a;
    a.Path = program;
    a.Arguments = arguments;
    a.WorkingDirectory = dir;
    return a;
}

TTaskUnitContext Context(const QString& name)
{
    TTaskUnitContext c;
    c.TaskName = name;
    c.DefinitionFile
        = QStringLiteral("/home/u/.local/share/Kesmo6/Tasks/") + TaskUnitBase(name) + QStringLiteral(".xml");
    c.CheckProgram = kestest::BuiltProgram(QStringLiteral("kestask"));
    c.UserName = QStringLiteral("u");
    c.Now = kNow;
    c.Zone = kBerlin;
    c.SplitArguments = [](const QString& s) { return kes::SplitCommandLine(s); };
    return c;
}

QString Marvick()
{
    return kestest::BuiltProgram(QStringLiteral("Marvick"));
}

// The zone the calendar expressions name (none when it is the system's).
QString Zone()
{
    return kBerlin == QTimeZone::systemTimeZone() ? QString() : QStringLiteral(" Europe/Berlin");
}

QString Quoted(const QString& path)
{
    return QLatin1Char('"') + path + QLatin1Char('"');
}

struct UnitCase {
    const char* Name;
    QString TaskName;
    TTaskDefinition Definition;
    bool CanWake = false;
};

QList<UnitCase> UnitCases()
{
    QList<UnitCase> cases;
    {
        TTaskDefinition d;
        TTaskTrigger t = Calendar(tkWeekly);
        t.DaysOfWeek = 2 | 32;
        t.RandomDelay = QStringLiteral("PT30S");
        d.Triggers = {t};
        d.Settings.StartWhenAvailable = true;
        d.Actions = {Exec(Quoted(Marvick()),
            QStringLiteral(
                "\"Weekly Full\"  /hide /prompt:delay /wait:3 \"/ini:/home/u/my dir/M.ini\" /logmode:1"),
            QStringLiteral("\"/tmp/a dir\""))};
        cases << UnitCase {"weekly schedule", QStringLiteral("Schedule-Weekly Full"), d};
    }
    {
        TTaskDefinition d;
        TTaskTrigger t = Calendar(tkDaily);
        t.DaysInterval = 3;
        t.EndBoundary = QStringLiteral("2026-01-01T00:00:00");
        d.Triggers = {t};
        d.Settings.DisallowStartIfOnBatteries = false;
        d.Actions = {Exec(Marvick(), QStringLiteral("Daily"))};
        cases << UnitCase {"every third day with an end", QStringLiteral("Schedule-Daily"), d};
    }
    {
        TTaskDefinition d;
        TTaskTrigger m = Calendar(tkMonthly);
        m.DaysOfMonth = 1 | kLastDayOfMonthBit;
        m.MonthsOfYear = 0xFFF;
        TTaskTrigger w = Calendar(tkMonthlyDow);
        w.WeeksOfMonth = 2 | kLastWeekOfMonthBit;
        w.DaysOfWeek = 1 | 64;
        w.MonthsOfYear = 1 | 64;
        TTaskTrigger r = Calendar(tkTime, "2025-07-01T08:00:00");
        r.RepetitionInterval = QStringLiteral("PT10M");
        r.RepetitionDuration = QStringLiteral("PT1H");
        r.ExecutionTimeLimit = QStringLiteral("PT30M");
        d.Triggers = {m, w, r};
        d.Actions = {Exec(Marvick(), QStringLiteral("Monthly"))};
        cases << UnitCase {"monthly, by weekday and repeating", QStringLiteral("Monthly"), d};
    }
    {
        TTaskDefinition d;
        TTaskTrigger logon;
        logon.Type = tkLogon;
        logon.Delay = QStringLiteral("PT1M");
        TTaskTrigger other = logon;
        other.UserId = QStringLiteral("host\\someone");
        TTaskTrigger boot;
        boot.Type = tkBoot;
        TTaskTrigger registration;
        registration.Type = tkRegistration;
        registration.Delay = QStringLiteral("PT10S");
        TTaskTrigger event;
        event.Type = tkEvent;
        event.Subscription = QStringLiteral("<QueryList/>");
        d.Triggers = {logon, other, boot, registration, event};
        d.Settings.WakeToRun = true;
        d.Actions = {Exec(Marvick(), QString())};
        cases << UnitCase {"logon, boot, registration and event", QStringLiteral("At logon"), d, true};
    }
    {
        TTaskDefinition d;
        d.Triggers = {Calendar(tkDaily)};
        d.Settings.RunOnlyIfNetworkAvailable = true;
        d.Settings.ExecutionTimeLimit.clear();
        d.Actions
            = {Exec(Marvick(),
                   QStringLiteral("\"100% $HOME\" \"a;b\" ; \"back\\slash\" \"say \"\"hi\"\"\" Büro\tTab")),
                Exec(QStringLiteral("/bin/true"), QString())};
        d.Actions[1].Arguments = QStringLiteral("line\nbreak");
        cases << UnitCase {
            "odd arguments, two actions, network", QStringLiteral("Sicherung \"Büro\" 100% $HOME'"), d};
    }
    {
        TTaskDefinition d;
        d.Triggers = {Calendar(tkDaily)};
        d.Settings.Enabled = false;
        d.Actions = {Exec(Marvick(), QString())};
        cases << UnitCase {"disabled", QStringLiteral("Disabled"), d};
    }
    return cases;
}

QString UnitText(const TTaskUnits& units, const QString& suffix)
{
    for (const TTaskUnitFile& f : units.Files)
        if (f.Name.endsWith(suffix))
            return QString::fromUtf8(f.Text);
    return QString();
}

} // namespace

TEST(TaskUnits, NamesAreEscapedAsSystemdDoes)
{
    if (!kestest::HaveTool(QStringLiteral("systemd-escape")))
        KESTEST_SKIP_OR_FAIL("systemd-escape is not installed");
    for (const char* name : {"Schedule-Weekly Full", "a/b", ".hidden", "Sicherung Büro", "100% $HOME",
             "quote\"d", "back\\slash", "tab\there", "x:y_z.w", "Ω"}) {
        SCOPED_TRACE(name);
        const QString n = QString::fromUtf8(name);
        const kestest::ProcessResult r
            = kestest::Run(QStringLiteral("systemd-escape"), {QStringLiteral("--"), n});
        ASSERT_EQ(r.exitCode, 0);
        EXPECT_EQ(SystemdEscape(n), QString::fromUtf8(r.out).trimmed());
        EXPECT_EQ(SystemdUnescape(SystemdEscape(n)), n);
    }
}

TEST(TaskUnits, LongNamesFitAUnitNameAndStayApart)
{
    const QString longA = QString(200, QChar(0xE4)) + QStringLiteral("A");
    const QString longB = QString(200, QChar(0xE4)) + QStringLiteral("B");
    const QString a = TaskUnitBase(longA);
    EXPECT_LE(kTaskUnitPrefix.size() + a.size() + QStringLiteral("-1000.service").size(), 255);
    EXPECT_NE(a, TaskUnitBase(longB));
    EXPECT_EQ(a, TaskUnitBase(longA));
    EXPECT_FALSE(a.contains(QRegularExpression(QStringLiteral("\\\\x?[0-9a-f]?_"))))
        << "not cut inside an escape";
    EXPECT_EQ(TaskUnitBase(QStringLiteral("Short")), QStringLiteral("Short"));
}

TEST(TaskUnits, ExecArgumentsAreQuotedForTheUnitSyntax)
{
    const struct {
        const char16_t* in;
        const char16_t* out;
    } cases[] = {
        {u"plain", u"\"plain\""},
        {u"", u"\"\""},
        {u"a b", u"\"a b\""},
        {u"say \"hi\"", u"\"say \\\"hi\\\"\""},
        {u"back\\slash", u"\"back\\\\slash\""},
        {u"100%", u"\"100%%\""},
        {u"$HOME", u"\"$$HOME\""},
        {u"line\nbreak", u"\"line\\x0abreak\""},
        {u";", u"\";\""},
        {u"Büro", u"\"Büro\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QuoteUnitArgument(QString::fromUtf16(c.in)), QString::fromUtf16(c.out));
}

TEST(TaskUnits, WhatTheUnitsSay)
{
    const QList<UnitCase> cases = UnitCases();

    const TTaskUnits weekly = GenerateTaskUnits(cases[0].Definition, Context(cases[0].TaskName));
    EXPECT_TRUE(weekly.Error.isEmpty());
    EXPECT_EQ(weekly.Service, QStringLiteral("kestask-Schedule\\x2dWeekly\\x20Full.service"));
    ASSERT_EQ(weekly.Files.size(), 2);
    EXPECT_EQ(weekly.Files[1].Name, QStringLiteral("kestask-Schedule\\x2dWeekly\\x20Full-1.timer"));
    EXPECT_FALSE(weekly.NeedsCheck);
    const QString service = UnitText(weekly, QStringLiteral(".service"));
    EXPECT_TRUE(service.contains(QStringLiteral("\nExecStart=") + Quoted(Marvick())
        + QStringLiteral(" \"Weekly Full\" \"/hide\" \"/prompt:delay\" \"/wait:3\" \"/ini:/home/u/my "
                         "dir/M.ini\" \"/logmode:1\"\n")))
        << service.toStdString();
    for (const char* line : {"\nType=oneshot\n", "\nWorkingDirectory=/tmp/a dir\n",
             "\nConditionACPower=true\n", "\nUnsetEnvironment=DISPLAY WAYLAND_DISPLAY\n",
             "\nKillMode=process\n", "\nTimeoutStartSec=259200\n"})
        EXPECT_TRUE(service.contains(QString::fromUtf8(line))) << line;
    EXPECT_FALSE(service.contains(QStringLiteral("ExecCondition")));
    const QString timer = UnitText(weekly, QStringLiteral(".timer"));
    EXPECT_TRUE(
        timer.contains(QStringLiteral("\nOnCalendar=Mon,Fri *-*-* 20:00:00") + Zone() + QLatin1Char('\n')))
        << timer.toStdString();
    for (const char* line :
        {"\nUnit=kestask-Schedule\\x2dWeekly\\x20Full.service\n", "\nRandomizedDelaySec=30\n",
            "\nPersistent=true\n", "\nAccuracySec=1s\n", "\nWantedBy=timers.target\n"})
        EXPECT_TRUE(timer.contains(QString::fromUtf8(line))) << line << timer.toStdString();
    EXPECT_TRUE(weekly.Files[1].Enable && weekly.Files[1].StartNow);

    const TTaskUnits daily = GenerateTaskUnits(cases[1].Definition, Context(cases[1].TaskName));
    EXPECT_TRUE(daily.NeedsCheck) << "every third day is the start check's";
    EXPECT_TRUE(UnitText(daily, QStringLiteral(".service"))
                    .contains(QStringLiteral("\nExecCondition=")
                        + Quoted(kestest::BuiltProgram(QStringLiteral("kestask")))
                        + QStringLiteral(
                            " \"check\" \"/home/u/.local/share/Kesmo6/Tasks/Schedule\\\\x2dDaily.xml\"\n")));
    EXPECT_FALSE(UnitText(daily, QStringLiteral(".service")).contains(QStringLiteral("ConditionACPower")));

    const TTaskUnits repeating = GenerateTaskUnits(cases[2].Definition, Context(cases[2].TaskName));
    ASSERT_EQ(repeating.Files.size(), 4);
    EXPECT_TRUE(UnitText(repeating, QStringLiteral("-1.timer"))
                    .contains(QStringLiteral("\nOnCalendar=*-*~01 20:00:00") + Zone() + QLatin1Char('\n')));
    EXPECT_TRUE(UnitText(repeating, QStringLiteral("-2.timer"))
                    .contains(QStringLiteral("\nOnCalendar=Sun,Sat *-01,07~07/1 20:00:00") + Zone()
                        + QLatin1Char('\n')));
    EXPECT_TRUE(UnitText(repeating, QStringLiteral(".service"))
                    .contains(QStringLiteral("\nTimeoutStartSec=259200\n")))
        << "only one trigger has a limit of its own";

    TTaskUnitContext wake = Context(cases[3].TaskName);
    wake.CanWakeSystem = true;
    const TTaskUnits monotonic = GenerateTaskUnits(cases[3].Definition, wake);
    ASSERT_EQ(monotonic.Files.size(), 4)
        << "service, own logon, boot, registration; not another user's logon nor the event";
    EXPECT_EQ(monotonic.Files[1].Name, QStringLiteral("kestask-At\\x20logon-1.timer"));
    EXPECT_TRUE(
        UnitText(monotonic, QStringLiteral("-1.timer")).contains(QStringLiteral("\nOnStartupSec=60\n")));
    EXPECT_TRUE(monotonic.Files[1].Enable && !monotonic.Files[1].StartNow)
        << "runs at the next session, not now";
    EXPECT_EQ(monotonic.Files[2].Name, QStringLiteral("kestask-At\\x20logon-3.timer"));
    EXPECT_EQ(monotonic.Files[3].Name, QStringLiteral("kestask-At\\x20logon-4.timer"));
    EXPECT_TRUE(
        UnitText(monotonic, QStringLiteral("-4.timer")).contains(QStringLiteral("\nOnActiveSec=10\n")));
    EXPECT_TRUE(!monotonic.Files[3].Enable && monotonic.Files[3].StartNow) << "once, at registration";
    EXPECT_TRUE(
        UnitText(monotonic, QStringLiteral("-1.timer")).contains(QStringLiteral("\nWakeSystem=true\n")));
    EXPECT_FALSE(GenerateTaskUnits(cases[3].Definition, Context(cases[3].TaskName))
                     .Files[1]
                     .Text.contains("WakeSystem"))
        << "an ordinary user manager cannot wake the computer";

    const TTaskUnits odd = GenerateTaskUnits(cases[4].Definition, Context(cases[4].TaskName));
    const QString oddService = UnitText(odd, QStringLiteral(".service"));
    EXPECT_TRUE(odd.NeedsCheck);
    EXPECT_TRUE(oddService.contains(QStringLiteral("\nExecStart=") + Quoted(Marvick())
        + QStringLiteral(
            " \"100%% $$HOME\" \"a;b\" \";\" \"back\\\\slash\" \"say \\\"hi\\\"\" \"Büro\\x09Tab\"\n")))
        << oddService.toStdString();
    EXPECT_TRUE(oddService.contains(QStringLiteral("\nExecStart=\"/bin/true\" \"line\\x0abreak\"\n")));
    EXPECT_TRUE(oddService.contains(QStringLiteral("\nTimeoutStartSec=infinity\n")));
    EXPECT_TRUE(oddService.contains(
        QStringLiteral("Description=Kestrup scheduled task \"Sicherung \"Büro\" 100%% $HOME'\"")));

    const TTaskUnits disabled = GenerateTaskUnits(cases[5].Definition, Context(cases[5].TaskName));
    ASSERT_EQ(disabled.Files.size(), 1) << "a disabled task keeps its service and no timer";

    TTaskDefinition none = cases[0].Definition;
    none.Actions = {};
    EXPECT_TRUE(GenerateTaskUnits(none, Context(QStringLiteral("x"))).Files.isEmpty());
    for (const char* bad : {"-rf", "relative/path", "C:\\Programs\\Marvick.exe", "/opt/it's", ""}) {
        TTaskDefinition d = cases[0].Definition;
        d.Actions[0].Path = QString::fromUtf8(bad);
        EXPECT_EQ(GenerateTaskUnits(d, Context(QStringLiteral("x"))).Error, QString::fromUtf8(bad)) << bad;
    }
}

TEST(TaskUnits, EveryUnitPassesSystemdAnalyzeVerify)
{
    if (!kestest::HaveTool(QStringLiteral("systemd-analyze")))
        KESTEST_SKIP_OR_FAIL("systemd-analyze is not installed");
    ASSERT_TRUE(QFile::exists(kestest::BuiltProgram(QStringLiteral("kestask"))));
    for (const UnitCase& c : UnitCases()) {
        SCOPED_TRACE(c.Name);
        QTemporaryDir runtime;
        QTemporaryDir units;
        QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        TTaskUnitContext context = Context(c.TaskName);
        context.CanWakeSystem = c.CanWake;
        const TTaskUnits generated = GenerateTaskUnits(c.Definition, context);
        ASSERT_TRUE(generated.Error.isEmpty());
        ASSERT_FALSE(generated.Files.isEmpty());
        QStringList files;
        for (const TTaskUnitFile& f : generated.Files) {
            EXPECT_TRUE(f.Text.endsWith('\n'));
            for (char ch : f.Text)
                EXPECT_FALSE(uchar(ch) < 0x20 && ch != '\n')
                    << "a raw control character in " << f.Name.toStdString();
            const QString path = units.filePath(f.Name);
            kestest::WriteBytes(path, f.Text);
            files << path;
        }
        const kestest::ProcessResult r = kestest::Run(QStringLiteral("systemd-analyze"),
            QStringList {QStringLiteral("verify"), QStringLiteral("--user")} + files,
            {QStringLiteral("XDG_RUNTIME_DIR=") + runtime.path(), QStringLiteral("HOME=") + runtime.path()});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    }
}
