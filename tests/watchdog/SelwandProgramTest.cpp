// The Selwand program itself, headless: refusing to start without
// "force", monitoring in a console event loop with the log on standard
// output, stopping on SIGTERM with a final pass and saved settings, and
// what real machines do to it: destinations that are full, read-only or
// whose medium goes away (small file systems in a private mount
// namespace), kill -9 in the middle of a pass (held at a chosen step
// through a FIFO), a second instance, a closed output pipe, settings that
// cannot be saved.
#include "SelwandTestSupport.h"

#include <QProcess>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

using kestest::ReadBytes;
using kestest::WaitUntil;
using kestest::WriteBytes;
using selwandtest::ReadIniText;
using selwandtest::WriteTaskFile;

namespace {

// The other end of the program's step hook (KES_SELWAND_STEP_FIFO): the
// program writes "<step> <name>" for each step of a pass and waits for one
// byte before it goes on.
class TStepFifo {
public:
    explicit TStepFifo(const QString& path)
        : FPath(path)
    {
        EXPECT_EQ(::mkfifo(QFile::encodeName(FPath).constData(), 0600), 0);
        EXPECT_EQ(::mkfifo(QFile::encodeName(FPath + QStringLiteral(".go")).constData(), 0600), 0);
    }
    QString Path() const { return FPath; }
    // The next step the program stands at; empty when none comes in time.
    QString Next(int timeoutMs = 30000) const
    {
        const int fd = ::open(QFile::encodeName(FPath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return QString();
        QByteArray line;
        pollfd p {fd, POLLIN, 0};
        while (::poll(&p, 1, timeoutMs) > 0) {
            char buffer[512];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break; // the writer closed: the line is complete
            line.append(buffer, n);
        }
        ::close(fd);
        return QString::fromUtf8(line).trimmed();
    }
    // Lets the program go on.
    bool Release() const
    {
        int fd = -1;
        const QByteArray go = QFile::encodeName(FPath + QStringLiteral(".go"));
        // The program opens its end right after writing its step.
        if (!WaitUntil([&] { return (fd = ::open(go.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0; }))
            return false;
        const bool ok = ::write(fd, "g", 1) == 1;
        ::close(fd);
        return ok;
    }

private:
    QString FPath;
};

class SelwandProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        data = tmp.path() + QStringLiteral("/data");
        dest = tmp.path() + QStringLiteral("/dest");
        settings = tmp.path() + QStringLiteral("/cfg/Kesmo6");
        ASSERT_TRUE(QDir().mkpath(data));
        ASSERT_TRUE(QDir().mkpath(settings));
        taskFile = tmp.path() + QStringLiteral("/task.buj");
    }
    void TearDown() override
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    QString Backup(const QString& rel) const { return dest + data + u'/' + rel; }
    void WriteSettings(const QString& config, const QString& monitorKeys = {})
    {
        const QString text = QStringLiteral("[Config]\n") + config
            + QStringLiteral("\nCount=1\n[Monitor00]\nBackupTask=") + taskFile
            + QStringLiteral("\nDirectory=") + data + QStringLiteral("\nRetainBak=1\nEnabled=1\n")
            + monitorKeys;
        WriteBytes(settings + QStringLiteral("/Selwand.ini"), text.toUtf8());
    }
    QProcessEnvironment Environment(bool display = false) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] : extraEnv)
            env.insert(name, value);
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        if (display)
            env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":99"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), tmp.path() + QStringLiteral("/cfg"));
        env.insert(QStringLiteral("LANGUAGE"), QString());
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        return env;
    }
    // Starts Selwand (or program with Selwand's path as an argument at the
    // end) and waits until monitoring runs.
    void Start(const QString& program, QStringList args)
    {
        out.clear();
        err.clear();
        process.setProcessEnvironment(Environment());
        process.start(program, args);
        ASSERT_TRUE(process.waitForStarted());
        ASSERT_TRUE(WaitFor("monitoring runs")) << out.toStdString();
        ASSERT_EQ(process.state(), QProcess::Running) << process.readAllStandardError().toStdString();
    }
    // Waits until standard output holds text (or the program ended).
    bool WaitFor(const QByteArray& text, std::chrono::milliseconds timeout = std::chrono::seconds(30))
    {
        WaitUntil(
            [&] {
                out += process.readAllStandardOutput();
                return out.contains(text) || process.state() == QProcess::NotRunning;
            },
            timeout);
        out += process.readAllStandardOutput();
        return out.contains(text);
    }
    // The process id Selwand itself has (a script prints "pid=N").
    pid_t ScriptChild()
    {
        if (!WaitFor("pid="))
            return 0;
        const qsizetype at = out.indexOf("pid=") + 4;
        return pid_t(out.mid(at, out.indexOf('\n', at) - at).toInt());
    }
    void Signal(int signal, pid_t pid = 0) { ::kill(pid ? pid : pid_t(process.processId()), signal); }
    void WritePending(const QStringList& names)
    {
        QString keys = QStringLiteral("Count=%1\n").arg(names.size());
        for (int i = 0; i < names.size(); ++i)
            keys += QStringLiteral("File%1=%2\n").arg(i, 3, 10, QChar(u'0')).arg(names[i]);
        WriteSettings(QStringLiteral("Interval=-1\n"), keys);
    }
    QStringList SavedPending() const
    {
        QStringList names;
        const QString ini = ReadIniText(settings + QStringLiteral("/Selwand.ini"));
        for (const QString& line : ini.split(u'\n')) {
            if (line.startsWith(QStringLiteral("File")) && line.contains(u'='))
                names << line.mid(line.indexOf(u'=') + 1);
        }
        return names;
    }
    static bool HavePrivateMounts()
    {
        return kestest::HaveTool(QStringLiteral("unshare"))
            && kestest::Run(QStringLiteral("unshare"), {"-rm", "true"}).exitCode == 0;
    }
    // SIGTERM, then the end of the program; its exit code.
    int Terminate()
    {
        ::kill(pid_t(process.processId()), SIGTERM);
        EXPECT_TRUE(process.waitForFinished(60000));
        out += process.readAllStandardOutput();
        err += process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QTemporaryDir tmp;
    QString data, dest, settings, taskFile;
    QProcess process;
    QByteArray out, err;
    std::vector<std::pair<QString, QString>> extraEnv;
};

TEST_F(SelwandProgramTest, WithoutForceItSaysWhyItCannotStart)
{
    struct Case {
        bool display;
        QStringList args;
        int exitCode;
        const char* text;
    } cases[] = {
        {false, {}, 2, "no graphical display is available (neither DISPLAY nor WAYLAND_DISPLAY is set)"},
        // A display variable whose server is gone: no window, and no crash.
        {true, {"/hide"}, 2, "the graphical display \":99\" cannot be reached"},
        // With force but no task to monitor.
        {false, {"/force"}, 1, "Please specify at least one directory to be monitored!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        QProcess p;
        QProcessEnvironment env = Environment(c.display);
        env.remove(QStringLiteral("QT_QPA_PLATFORM")); // the program chooses, as on a desktop
        p.setProcessEnvironment(env);
        p.start(kestest::BuiltProgram(QStringLiteral("Selwand")), c.args);
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), c.exitCode);
        const QByteArray e = p.readAllStandardError();
        EXPECT_TRUE(e.contains(c.text)) << e.toStdString();
    }
}

TEST_F(SelwandProgramTest, ASettingsFileThatIsAFifoIsRefusedAtOnce)
{
    // Opening a FIFO would wait for a writer forever (and the program would
    // not even answer SIGTERM).
    ASSERT_EQ(::mkfifo(QFile::encodeName(settings + QStringLiteral("/Selwand.ini")).constData(), 0600), 0);
    QProcess p;
    p.setProcessEnvironment(Environment());
    p.start(kestest::BuiltProgram(QStringLiteral("Selwand")), {QStringLiteral("/force")});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(p.readAllStandardOutput().contains("It is not a regular file."));
    EXPECT_TRUE(p.readAllStandardError().contains("Please specify at least one directory to be monitored!"));
}

TEST_F(SelwandProgramTest, MonitorsHeadlessAndStopsOnSigterm)
{
    WriteTaskFile(taskFile, dest, data, 1);
    WriteSettings(QStringLiteral("Interval=5\nWriteLog=1\n"));
    Start(kestest::BuiltProgram(QStringLiteral("Selwand")), {QStringLiteral("-f")});

    // A periodic pass.
    WriteBytes(data + QStringLiteral("/a.txt"), "first");
    // Changed again, and a new file, right before the stop: the final pass
    // copies them.
    ASSERT_TRUE(WaitUntil([&] {
        out += process.readAllStandardOutput();
        return out.contains("/a.txt => "); // the report comes when the copy is done
    }));
    WriteBytes(data + QStringLiteral("/a.txt"), "second");
    WriteBytes(data + QStringLiteral("/b.txt"), "b");
    EXPECT_EQ(Terminate(), 0) << err.toStdString();

    EXPECT_TRUE(out.contains("SIGTERM received")) << out.toStdString();
    EXPECT_EQ(kestest::Run("gzip", {"-dc", Backup("a.txt.gz")}).out, QByteArray("second"));
    EXPECT_EQ(kestest::Run("gzip", {"-dc", Backup("a.bak-1.txt.gz")}).out, QByteArray("first"));
    EXPECT_TRUE(QFile::exists(Backup("b.txt.gz")));
    // Every log text went to standard output, one line each, LF ended.
    const QByteArray report = ": " + (data + QStringLiteral("/a.txt => ") + dest + u'/').toUtf8();
    EXPECT_EQ(out.count(report), 2) << out.toStdString();
    EXPECT_FALSE(out.contains('\r'));
    // The settings were saved: nothing pending, the program's name.
    const QString ini = ReadIniText(settings + QStringLiteral("/Selwand.ini"));
    EXPECT_TRUE(ini.contains(QStringLiteral("Enabled=1\nCount=0\n"))) << ini.toStdString();
    EXPECT_TRUE(ini.contains(QStringLiteral("Program=Selwand\n")));
    EXPECT_TRUE(ini.contains(QStringLiteral("Interval=5\n")));
    // And the daily log file has the same report lines.
    const QStringList logs = QDir(settings).entryList({QStringLiteral("Selwand *.log")});
    ASSERT_EQ(logs.size(), 1);
    const QByteArray logFile = ReadBytes(settings + u'/' + logs[0]);
    EXPECT_EQ(logFile.count(report), 2);
    EXPECT_EQ(logFile.count("\r\n"), logFile.count("\n"));
}

TEST_F(SelwandProgramTest, FullAndReadOnlyDestinations)
{
    if (!kestest::HaveTool(QStringLiteral("unshare"))
        || kestest::Run(QStringLiteral("unshare"), {"-rm", "true"}).exitCode != 0)
        KESTEST_SKIP_OR_FAIL("no private mount namespaces here");
    QByteArray big(300000, Qt::Uninitialized);
    for (int i = 0; i < big.size(); ++i)
        big[i] = char((unsigned(i) * 7919u + unsigned(i) / 13u) & 0xFFu);
    WriteBytes(data + QStringLiteral("/big.bin"), big);
    WriteBytes(data + QStringLiteral("/small.txt"), "small");
    WriteTaskFile(taskFile, dest, data);
    struct Case {
        const char* options;
        const char* error;
        int errors;
        const char* pending; // what stays pending in Selwand.ini
    } cases[] = {
        // The cut-off copy of big.bin is removed, so small.txt still fits;
        // big.bin stays pending for a destination with room.
        {"size=128k", "  *** Error - Low disk space (-> Copy): System error: No space left on device", 1,
            "Enabled=1\nCount=1\nFile000=big.bin\n"},
        {"ro", "  *** Error - Could not create directory: \"", 2,
            "Enabled=1\nCount=2\nFile000=big.bin\nFile001=small.txt\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        QDir(dest).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(dest));
        out.clear();
        err.clear();
        // Both files are pending from the settings; stopping copies them.
        WriteSettings(
            QStringLiteral("Interval=-1\n"), QStringLiteral("Count=2\nFile000=big.bin\nFile001=small.txt\n"));
        const QString script = QStringLiteral("mount -t tmpfs -o %1 tmpfs \"$1\" && shift && exec \"$@\"")
                                   .arg(QString::fromUtf8(c.options));
        Start(QStringLiteral("unshare"),
            {"-rm", "sh", "-c", script, "sh", dest, kestest::BuiltProgram(QStringLiteral("Selwand")),
                "/force"});
        EXPECT_EQ(Terminate(), 0) << err.toStdString();
        EXPECT_TRUE(out.contains(c.error)) << out.toStdString();
        EXPECT_EQ(out.count("  *** "), c.errors) << out.toStdString();
        EXPECT_EQ(out.count("The file stays pending and is copied at the next backup."), c.errors)
            << out.toStdString();
        const QString ini = ReadIniText(settings + QStringLiteral("/Selwand.ini"));
        EXPECT_TRUE(ini.contains(QString::fromUtf8(c.pending))) << ini.toStdString();
    }
}

TEST_F(SelwandProgramTest, KilledInTheMiddleOfAPassItLosesNothing)
{
    // Twelve files are pending; the pass is held before the sixth copy takes
    // its name, and the program is killed there.
    QStringList names;
    for (int i = 0; i < 12; ++i) {
        names << QStringLiteral("f%1.txt").arg(i, 2, 10, QChar(u'0'));
        WriteBytes(data + u'/' + names.last(), QByteArray("content of ") + names.last().toUtf8());
    }
    WriteTaskFile(taskFile, dest, data);
    WritePending(names);
    TStepFifo fifo(tmp.path() + QStringLiteral("/steps"));
    extraEnv = {{QStringLiteral("KES_SELWAND_STEP_FIFO"), fifo.Path()}};
    Start(kestest::BuiltProgram(QStringLiteral("Selwand")), {QStringLiteral("/force")});
    EXPECT_TRUE(out.contains("01: " + data.toUtf8() + " - monitored, 12 files pending")) << out.toStdString();
    Signal(SIGUSR1);
    const QString killAt = QStringLiteral("1 f05.txt"); // before placing f05.txt
    for (;;) {
        const QString step = fifo.Next();
        ASSERT_FALSE(step.isEmpty()) << out.toStdString();
        if (step == killAt)
            break;
        ASSERT_TRUE(fifo.Release());
    }
    Signal(SIGKILL);
    ASSERT_TRUE(process.waitForFinished(30000));

    // Whatever is not at its place yet is still in the saved pending list,
    // and nothing cut off lies under a final name.
    const QStringList saved = SavedPending();
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        if (!QFile::exists(Backup(name)))
            EXPECT_TRUE(saved.contains(name)) << saved.join(u' ').toStdString();
        else
            EXPECT_EQ(ReadBytes(Backup(name)), QByteArray("content of ") + name.toUtf8());
    }
    EXPECT_FALSE(QFile::exists(Backup(QStringLiteral("f05.txt"))));
    EXPECT_TRUE(QFile::exists(Backup(QStringLiteral("f05.txt.tmp"))));

    // The next start copies them, and the leftover goes.
    extraEnv.clear();
    Start(kestest::BuiltProgram(QStringLiteral("Selwand")), {QStringLiteral("/force")});
    EXPECT_EQ(Terminate(), 0) << err.toStdString();
    for (const QString& name : names)
        EXPECT_EQ(ReadBytes(Backup(name)), QByteArray("content of ") + name.toUtf8()) << name.toStdString();
    EXPECT_EQ(QDir(Backup(QString())).entryList({QStringLiteral("*.tmp")}, QDir::Files), QStringList());
    EXPECT_TRUE(SavedPending().isEmpty()) << SavedPending().join(u' ').toStdString();
}

TEST_F(SelwandProgramTest, OneInstancePerSettingsFile)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings(QStringLiteral("Interval=-1\n"));
    Start(kestest::BuiltProgram(QStringLiteral("Selwand")), {QStringLiteral("/force")});
    QProcess second;
    second.setProcessEnvironment(Environment());
    second.start(kestest::BuiltProgram(QStringLiteral("Selwand")), {QStringLiteral("/force")});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitCode(), 4);
    const QByteArray e = second.readAllStandardError();
    EXPECT_TRUE(e.contains("Selwand is already running with the settings file")) << e.toStdString();
    EXPECT_TRUE(e.contains("(process " + QByteArray::number(process.processId()) + ' ')) << e.toStdString();
    EXPECT_EQ(Terminate(), 0);

    // A lock left by a killed instance does not keep the next one out.
    Start(kestest::BuiltProgram(QStringLiteral("Selwand")), {QStringLiteral("/force")});
    Signal(SIGKILL);
    ASSERT_TRUE(process.waitForFinished(30000));
    Start(kestest::BuiltProgram(QStringLiteral("Selwand")), {QStringLiteral("/force")});
    EXPECT_EQ(Terminate(), 0);
}

TEST_F(SelwandProgramTest, AClosedOutputPipeDoesNotStopIt)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings(QStringLiteral("Interval=-1\n"));
    Start(kestest::BuiltProgram(QStringLiteral("Selwand")), {QStringLiteral("/force")});
    // The reader of standard output goes away (as "| head" does).
    process.closeReadChannel(QProcess::StandardOutput);
    for (int i = 0; i < 50; ++i)
        WriteBytes(data + QStringLiteral("/p%1.txt").arg(i), "x");
    ASSERT_TRUE(WaitUntil([&] {
        Signal(SIGUSR1);
        return QFile::exists(Backup(QStringLiteral("p49.txt")));
    }));
    EXPECT_EQ(process.state(), QProcess::Running);
    EXPECT_EQ(Terminate(), 0) << err.toStdString();
    for (int i = 0; i < 50; ++i)
        EXPECT_TRUE(QFile::exists(Backup(QStringLiteral("p%1.txt").arg(i)))) << i;
    EXPECT_TRUE(SavedPending().isEmpty());
}

TEST_F(SelwandProgramTest, SettingsThatCannotBeSavedAreReportedAtTheEnd)
{
    if (!HavePrivateMounts())
        KESTEST_SKIP_OR_FAIL("no private mount namespaces here");
    // The destination cannot be reached (a file is in its way), so the file
    // stays pending; the settings folder fills up while it runs.
    WriteBytes(tmp.path() + QStringLiteral("/afile"), "x");
    WriteTaskFile(taskFile, tmp.path() + QStringLiteral("/afile/dest"), data);
    WriteBytes(data + QStringLiteral("/kept.txt"), "k");
    WritePending({QStringLiteral("kept.txt")});
    const QString staged = tmp.path() + QStringLiteral("/Selwand.ini.staged");
    ASSERT_TRUE(QFile::rename(settings + QStringLiteral("/Selwand.ini"), staged));
    const QString gate = tmp.path() + QStringLiteral("/gate");
    ASSERT_EQ(::mkfifo(QFile::encodeName(gate).constData(), 0600), 0);
    const QString script = QStringLiteral(
        "mount -t tmpfs -o size=256k tmpfs \"$1\" && cp \"$2\" \"$1/Selwand.ini\" && shift 3 && { \"$@\" & } "
        "&& "
        "echo pid=$! && read x < \"$gate\" && { dd if=/dev/zero of=\"$cfg/fill\" bs=4k 2>/dev/null; "
        "echo filled; } && wait $!");
    extraEnv = {{QStringLiteral("gate"), gate}, {QStringLiteral("cfg"), settings}};
    Start(QStringLiteral("unshare"),
        {"-rm", "sh", "-c", script, "sh", settings, staged, "x",
            kestest::BuiltProgram(QStringLiteral("Selwand")), "/force"});
    const pid_t selwand = ScriptChild();
    ASSERT_GT(selwand, 0);
    QFile g(gate);
    ASSERT_TRUE(g.open(QIODevice::WriteOnly));
    g.write("x\n");
    g.close();
    ASSERT_TRUE(WaitFor("filled"));
    Signal(SIGTERM, selwand);
    ASSERT_TRUE(process.waitForFinished(30000));
    err = process.readAllStandardError();
    EXPECT_EQ(process.exitCode(), 3) << err.toStdString() << out.toStdString();
    EXPECT_TRUE(err.contains("The settings could not be saved to")) << err.toStdString();
    EXPECT_TRUE(err.contains("\n01: kept.txt\n")) << err.toStdString();
}

TEST_F(SelwandProgramTest, ADestinationWhoseMediumGoesAwayIsNotWrittenBeneath)
{
    if (!HavePrivateMounts())
        KESTEST_SKIP_OR_FAIL("no private mount namespaces here");
    // The destination is a mounted medium. It is unmounted while the pass
    // holds before placing a.txt: neither a.txt nor b.txt may land on the
    // disk beneath, both stay pending, and the final pass at the stop knows
    // the medium is gone.
    ASSERT_TRUE(QDir().mkpath(dest));
    WriteTaskFile(taskFile, dest, data);
    WriteBytes(data + QStringLiteral("/a.txt"), "a");
    WriteBytes(data + QStringLiteral("/b.txt"), "b");
    WritePending({QStringLiteral("a.txt"), QStringLiteral("b.txt")});
    TStepFifo fifo(tmp.path() + QStringLiteral("/steps"));
    const QString gate = tmp.path() + QStringLiteral("/gate");
    ASSERT_EQ(::mkfifo(QFile::encodeName(gate).constData(), 0600), 0);
    const QString script
        = QStringLiteral("mount -t tmpfs tmpfs \"$1\" && shift && { \"$@\" & } && echo pid=$! && "
                         "read x < \"$gate\" && umount -l \"$dest\" && echo unmounted && wait $!");
    extraEnv = {{QStringLiteral("gate"), gate}, {QStringLiteral("dest"), dest},
        {QStringLiteral("KES_SELWAND_STEP_FIFO"), fifo.Path()}};
    Start(QStringLiteral("unshare"),
        {"-rm", "sh", "-c", script, "sh", dest, kestest::BuiltProgram(QStringLiteral("Selwand")), "/force"});
    const pid_t selwand = ScriptChild();
    ASSERT_GT(selwand, 0);
    Signal(SIGUSR1, selwand);
    ASSERT_EQ(fifo.Next(), QStringLiteral("0 a.txt"));
    ASSERT_TRUE(fifo.Release());
    ASSERT_EQ(fifo.Next(), QStringLiteral("1 a.txt"));
    QFile g(gate);
    ASSERT_TRUE(g.open(QIODevice::WriteOnly));
    g.write("x\n");
    g.close();
    ASSERT_TRUE(WaitFor("unmounted"));
    ASSERT_TRUE(fifo.Release());
    ASSERT_TRUE(WaitFor("b.txt => ")) << out.toStdString();
    Signal(SIGTERM, selwand);
    ASSERT_TRUE(process.waitForFinished(30000));
    out += process.readAllStandardOutput();
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_TRUE(out.contains("no longer lies on the file system it was on")) << out.toStdString();
    EXPECT_TRUE(out.contains("is not mounted now; nothing is written to the disk beneath."))
        << out.toStdString();
    EXPECT_EQ(QDir(dest).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    EXPECT_EQ(SavedPending(), (QStringList {"a.txt", "b.txt"}));
}

} // namespace
