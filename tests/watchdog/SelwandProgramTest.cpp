// The Selwand program itself, headless: refusing to start without
// "force", monitoring in a console event loop with the log on standard
// output, stopping on SIGTERM with a final pass and saved settings, and
// destinations that are full or read-only (small file systems in a private
// mount namespace).
#include "SelwandTestSupport.h"

#include <QProcess>
#include <csignal>

using kestest::ReadBytes;
using kestest::WaitUntil;
using kestest::WriteBytes;
using selwandtest::ReadIniText;
using selwandtest::WriteTaskFile;

namespace {

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
        process.setProcessEnvironment(Environment());
        process.start(program, args);
        ASSERT_TRUE(process.waitForStarted());
        ASSERT_TRUE(WaitUntil([&] {
            out += process.readAllStandardOutput();
            return out.contains("monitoring runs") || process.state() == QProcess::NotRunning;
        })) << out.toStdString();
        ASSERT_EQ(process.state(), QProcess::Running) << process.readAllStandardError().toStdString();
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
        {true, {"/hide"}, 2, "the main window is not part of this version"},
        // With force but no task to monitor.
        {false, {"/force"}, 1, "Please specify at least one directory to be monitored!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        QProcess p;
        p.setProcessEnvironment(Environment(c.display));
        p.start(kestest::BuiltProgram(QStringLiteral("Selwand")), c.args);
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), c.exitCode);
        const QByteArray e = p.readAllStandardError();
        EXPECT_TRUE(e.contains(c.text)) << e.toStdString();
    }
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
        GTEST_SKIP() << "no private mount namespaces here";
    QByteArray big(300000, Qt::Uninitialized);
    for (int i = 0; i < big.size(); ++i)
        big[i] = char((i * 7919 + i / 13) & 0xFF);
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

} // namespace
