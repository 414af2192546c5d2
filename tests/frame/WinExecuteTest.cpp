// Process launching and the main program's command line, with real
// processes: the stand-in for the main program records what it received.
#include "frame/WinExecute.h"
#include "frame/MainProgram.h"

#include "common/StandinLog.h"
#include "common/TestSupport.h"
#include "platform/FileName.h"
#include "platform/Process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace kes;

namespace {

QString Standin()
{
    return kestest::StandinProgram();
}

// Ends a child the test left running (the launcher itself never kills).
void EndChild(qint64 pid)
{
    if (pid > 0)
        ::kill(pid_t(pid), SIGKILL);
}

QStringList FdTargets(qint64 pid)
{
    QStringList out;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& name : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files))
        out.append(name + QLatin1Char('=') + QFileInfo(fds.filePath(name)).symLinkTarget());
    return out;
}

} // namespace

TEST(QuoteIfNeeded, EnclosesTextsThatNeedIt)
{
    struct Case {
        QString text, characters, expected;
    } cases[] = {
        {"", " ", ""},
        {"", "", ""},
        {"plain", " ", "plain"},
        {"C:\\Program Files\\Kesmo.exe", " ", "\"C:\\Program Files\\Kesmo.exe\""},
        {"a \"b\" c", " ", "\"a \"\"b\"\" c\""},
        {"plain", "", "\"plain\""},
        {"a;b", ";", "\"a;b\""},
        {"a b", ";", "a b"},
        // A bare quote would open a quoted part when the line is split.
        {"a\"b", " ", "\"a\"\"b\""},
        {"\"", " ", "\"\"\"\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString() + " / " + c.characters.toStdString());
        EXPECT_EQ(QuoteIfNeeded(c.text, c.characters), c.expected);
    }
}

TEST(SplitCommandLine, WordsAndQuotedParts)
{
    struct Case {
        QString line;
        QStringList words;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"prog", {"prog"}},
        {"  prog   a  b ", {"prog", "a", "b"}},
        {"\"C:\\Program Files\\K.exe\" /hide", {"C:\\Program Files\\K.exe", "/hide"}},
        {"\"a \"\"b\"\" c\"", {"a \"b\" c"}},
        {"x \"\" y", {"x", "", "y"}},
        {"ab\"c d\"e f", {"abc de", "f"}},
        {"\"/ini:my file.ini\"", {"/ini:my file.ini"}},
        {"tab\there", {"tab\there"}},
        {"\"open to the end", {"open to the end"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        EXPECT_EQ(SplitCommandLine(c.line), c.words);
    }
}

TEST(MainProgramCommandLine, SwitchBuilders)
{
    EXPECT_EQ(OptFlag("hide"), " /hide");
    EXPECT_EQ(OptValue("mode", "full"), " /mode:full");
    EXPECT_EQ(OptValue("backupdir", "/media/b d"), " \"/backupdir:/media/b d\"");
    EXPECT_EQ(OptInt("erractions", 12), " /erractions:12");
    EXPECT_EQ(OptInt("wait", -5), " /wait:-5");
    EXPECT_EQ(DefaultRunOptions(), " /hide /logmode:1");
    EXPECT_EQ(DefaultRunOptions("/home/u/my.ini"), " /hide /logmode:1 /ini:/home/u/my.ini");
    EXPECT_EQ(MainProgramCommandLine("/opt/k k/Kesmo", "t.buj", " /edit"), "\"/opt/k k/Kesmo\" t.buj /edit");
}

// Every argument a command line can carry reaches the started program
// exactly, and the working folder is the one given.
TEST(ProcessLaunch, NastyArgumentsRoundTripThroughARealProcess)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString work = dir.filePath("work folder \"q\"");
    ASSERT_TRUE(QDir().mkpath(work));
    kestest::StandinEnvironment env(dir.filePath("log"));

    const QStringList args = {
        "/mode:full", "with blank", "  leading and trailing  ", "a \"b\" c", "\"", "\"\"", "a\"b", "end\"",
        " ", "back\\slash\\", "tab\tand\nnewline\r", "%TEMP%", "-x",
        QString::fromUtf8("\xC3\xA4\xC3\xB6\xC3\xBC \xE2\x82\xAC \xF0\x9F\x98\x80"),
        kes::platform::DecodeName(QByteArray("raw\xFF\x80"
                                             "byte")), // bytes that are not UTF-8
    };
    QString line = QuoteIfNeeded(Standin());
    for (const QString& a : args)
        line += QLatin1Char(' ') + QuoteIfNeeded(a);
    EXPECT_EQ(SplitCommandLine(line), QStringList {Standin()} + args);

    ProcessHandle p = StartProgram(line, work);
    ASSERT_TRUE(p.IsValid());
    EXPECT_EQ(WaitForProgram(p, 0, true), 0u);
    EXPECT_FALSE(p.IsValid());
    const auto calls = env.Calls();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].workingFolder, work);
    EXPECT_EQ(calls[0].arguments, args);
}

TEST(ProcessLaunch, MainProgramCommandLineReachesTheProgram)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kestest::StandinEnvironment env(dir.filePath("log"));
    const QString task = dir.filePath("my task.buj");
    const QString options = DefaultRunOptions(dir.filePath("alt settings.ini"))
        + OptValue("backupdir", dir.filePath("Full 1")) + OptValue("mode", "full");
    ProcessHandle p = StartProgram(MainProgramCommandLine(Standin(), task, options));
    EXPECT_EQ(WaitForProgram(p, 0, true), 0u);
    const auto calls = env.Calls();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].arguments,
        (QStringList {task, "/hide", "/logmode:1", "/ini:" + dir.filePath("alt settings.ini"),
            "/backupdir:" + dir.filePath("Full 1"), "/mode:full"}));
    EXPECT_EQ(calls[0].workingFolder, QDir::currentPath());
}

TEST(ProcessLaunch, ExitCodesBecomeResultCodes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct {
        int exitCode;
        quint32 result;
    } cases[] = {{0, 0}, {3, 0x20000003}, {255, 0x200000FF}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exitCode);
        kestest::StandinEnvironment env(dir.filePath("log"), c.exitCode);
        ProcessHandle p = StartProgram(QuoteIfNeeded(Standin()));
        EXPECT_EQ(WaitForProgram(p, 0, true), c.result);
        EXPECT_EQ(WaitForProgram(p, 0, true), quint32(EBADF)) << "the handle was released";
        EXPECT_EQ(StartProgramAndWait(Standin(), "/force", true), c.result);
    }
}

TEST(ProcessLaunch, ProgramThatCannotBeStarted)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString notExecutable = dir.filePath("plain.txt");
    kestest::WriteBytes(notExecutable, "text");
    const struct {
        QString commandLine;
        quint32 code;
    } cases[] = {
        {dir.filePath("missing/Kesmo"), ENOENT},
        {"kes-no-such-program-anywhere /x", ENOENT},
        {"", ENOENT},
        {notExecutable, EACCES},
        {dir.path(), EACCES},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.commandLine.toStdString());
        try {
            StartProgram(c.commandLine);
            ADD_FAILURE() << "started";
        } catch (const EProcessError& e) {
            EXPECT_EQ(e.ErrorCode(), c.code);
            EXPECT_EQ(e.Message(), SysErrorMessage(c.code));
        }
    }
    EXPECT_EQ(StartProgramAndWait(dir.filePath("missing/Kesmo"), "", true), quint32(ENOENT));
    EXPECT_EQ(StartProgramAndWait(dir.filePath("missing/Kesmo"), "", false), quint32(ENOENT));
    EXPECT_EQ(SysErrorMessage(ENOENT), QStringLiteral("No such file or directory"));
    // A working folder that does not exist fails the start, too.
    EXPECT_THROW(StartProgram(QuoteIfNeeded(Standin()), dir.filePath("no folder")), EProcessError);
}

// Without a program path the first argument must never become the program:
// the start fails as "not found" and nothing runs.
TEST(ProcessLaunch, AnEmptyProgramLetsNoArgumentTakeItsPlace)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kestest::StandinEnvironment env(dir.filePath(QStringLiteral("log")));
    const QString runnable = QuoteIfNeeded(Standin()) + QStringLiteral(" /mode:full");
    for (const bool wait : {false, true}) {
        SCOPED_TRACE(wait);
        EXPECT_EQ(StartProgramAndWait(QString(), runnable, wait), quint32(ENOENT));
    }
    for (const QString& line :
        {QLatin1Char(' ') + runnable, QuoteIfNeeded(QString()) + QLatin1Char(' ') + runnable}) {
        SCOPED_TRACE(line.toStdString());
        try {
            StartProgram(line);
            ADD_FAILURE() << "started";
        } catch (const EProcessError& e) {
            EXPECT_EQ(e.ErrorCode(), quint32(ENOENT));
        }
    }
    EXPECT_TRUE(env.Calls().isEmpty());

    // A path is the program as a whole, whatever it holds.
    const QString odd = dir.filePath(QStringLiteral("a \"K\" b"));
    ASSERT_TRUE(QFile::link(Standin(), odd));
    EXPECT_EQ(StartProgramAndWait(odd, QStringLiteral("\"/backupdir:x y\" /force"), true), 0u);
    const auto calls = env.Calls();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].arguments, (QStringList {QStringLiteral("/backupdir:x y"), QStringLiteral("/force")}));
}

TEST(ProcessLaunch, TimeLimitLeavesTheProgramRunning)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kestest::StandinEnvironment env(dir.filePath("log"), 0, 60000);
    ProcessHandle p = StartProgram(QuoteIfNeeded(Standin()));
    const qint64 pid = p.Pid();
    ASSERT_GT(pid, 0);

    EXPECT_EQ(WaitForProgram(p, 1000, false), kWaitTimeout);
    EXPECT_TRUE(p.IsValid());
    EXPECT_TRUE(platform::ProcessExists(pid));

    // Asked to report a program still running: its still-active status.
    EXPECT_EQ(WaitForProgram(p, 1000, true), 259u | kExitCodeFlag);
    EXPECT_FALSE(p.IsValid());
    EXPECT_TRUE(platform::ProcessExists(pid)) << "the launcher never ends the program";

    // Released, it is collected when it ends: no zombie remains.
    EndChild(pid);
    EXPECT_TRUE(kestest::WaitUntil([&] { return !platform::ProcessExists(pid); }));
}

TEST(ProcessLaunch, ProgramsNotWaitedForLeaveNoZombie)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kestest::StandinEnvironment env(dir.filePath("log"), 0, 200);
    qint64 pid;
    {
        ProcessHandle p = StartProgram(QuoteIfNeeded(Standin()));
        pid = p.Pid();
    }
    ASSERT_TRUE(kestest::WaitForStandinCalls(env.LogFile(), 1));
    EXPECT_TRUE(kestest::WaitUntil([&] { return !platform::ProcessExists(pid); }));

    EXPECT_EQ(StartProgramAndWait(Standin(), "/second", false), 0u);
    ASSERT_TRUE(kestest::WaitForStandinCalls(env.LogFile(), 2));
    EXPECT_EQ(env.Calls()[1].arguments, QStringList {"/second"});
}

TEST(ProcessLaunch, WaitingWithoutLimitKeepsTheEventLoopRunning)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kestest::StandinEnvironment env(dir.filePath("log"), 4, 600);
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);

    ProcessHandle p = StartProgram(QuoteIfNeeded(Standin()));
    EXPECT_EQ(WaitForProgram(p, 0, true), 0x20000004u);
    EXPECT_GT(ticks, 0);

    ticks = 0;
    EXPECT_EQ(StartProgramAndWait(Standin(), "", true), 0x20000004u);
    EXPECT_GT(ticks, 0);
    EXPECT_EQ(env.Calls().size(), 2);
}

TEST(ProcessLaunch, ChildGetsNullStandardStreamsAndNoOtherDescriptors)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A descriptor this process leaves inheritable must not reach the child.
    const int leaked
        = ::open(QFile::encodeName(dir.filePath("open.txt")).constData(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(leaked, 0);
    kestest::StandinEnvironment env(dir.filePath("log"), 0, 60000);
    ProcessHandle p = StartProgram(QuoteIfNeeded(Standin()));
    ASSERT_TRUE(kestest::WaitForStandinCalls(env.LogFile(), 1)); // log written and closed
    EXPECT_EQ(FdTargets(p.Pid()), (QStringList {"0=/dev/null", "1=/dev/null", "2=/dev/null"}));
    EndChild(p.Pid());
    EXPECT_EQ(WaitForProgram(p, 0, true), quint32(128 + SIGKILL) | kExitCodeFlag);
    ::close(leaked);
}

TEST(ProcessLaunch, RelativeProgramPathIsTakenFromTheCallersFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kestest::StandinEnvironment env(dir.filePath("log"));
    const QString saved = QDir::currentPath();
    const QFileInfo standin(Standin());
    ASSERT_TRUE(QDir::setCurrent(standin.dir().absoluteFilePath("..")));
    quint32 result = 1;
    try {
        ProcessHandle p = StartProgram(standin.dir().dirName() + "/" + standin.fileName(), dir.path());
        result = WaitForProgram(p, 0, true);
    } catch (const EProcessError& e) {
        ADD_FAILURE() << e.what();
    }
    QDir::setCurrent(saved);
    EXPECT_EQ(result, 0u);
    ASSERT_EQ(env.Calls().size(), 1);
    EXPECT_EQ(env.Calls()[0].workingFolder, dir.path());
}
