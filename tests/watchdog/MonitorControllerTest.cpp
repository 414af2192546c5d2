// The monitoring road on real directories with real inotify: changes are
// collected through the task's filters, passes copy them in every layout
// and mode, unavailable destinations keep them pending and warn, pending
// lists survive a restart, the log file gets its lines, and the mends:
// lost changes found by a search, ended watchers restarted.
#include "SelwandTestSupport.h"
#include "common/ThreadGate.h"
#include "platform/FileName.h"
#include "platform/FileSystem.h"
#include "watchdog/DirectoryWatch.h"
#include "watchdog/MonTask.h"

#include <QLocale>
#include <QScopeGuard>

using namespace kes;
using kestest::ReadBytes;
using kestest::WaitUntil;
using kestest::WriteBytes;
using selwandtest::ReadIniText;
using selwandtest::WriteTaskFile;

namespace {

class MonitorControllerTest : public selwandtest::SelwandFixture { };

TEST(MonitorTextsTest, NextBackupAndFileCountTexts)
{
    struct Case {
        int interval, left;
        const char* text;
    } cases[] = {
        {7200, 5400, "1 h30 m"},
        {7200, 3600, "1 h0 m"},
        {7200, 3599, "59 m"},
        {7200, 600, "10 m"},
        {7200, 599, "9 m 59 s"},
        {7200, 60, "1 m 0 s"},
        {7200, 59, "59 s"},
        {7200, 0, "0 s"},
        {-1, -1, "on demand"},
        {0, 100, "on demand"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TMonitorController::NextBackupText(c.interval, c.left), QString::fromUtf8(c.text))
            << c.left;

    EXPECT_EQ(TMonitorController::FileCountText(0), QStringLiteral("No files"));
    EXPECT_EQ(TMonitorController::FileCountText(1), QStringLiteral("1 file"));
    EXPECT_EQ(TMonitorController::FileCountText(9999), QStringLiteral("9999 files"));
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(TMonitorController::FileCountText(9999), QStringLiteral("9999 files"));
    EXPECT_EQ(TMonitorController::FileCountText(12345), QStringLiteral("12.345 files"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(TMonitorController::FileCountText(1234567), QStringLiteral("1,234,567 files"));
    QLocale::setDefault(saved);
}

TEST_F(MonitorControllerTest, ChangedFilesReachTheDestinationInEveryLayoutAndMode)
{
    if (!kestest::HaveTool("gzip") || !kestest::HaveTool("unzip"))
        KESTEST_SKIP_OR_FAIL("gzip and unzip are the oracles of this test");
    for (int destMode : {0, 1}) {
        for (int compress : {0, 1, 2}) {
            SCOPED_TRACE(
                QStringLiteral("layout %1, compression %2").arg(destMode).arg(compress).toStdString());
            dest = Path(QStringLiteral("dest%1%2").arg(destMode).arg(compress));
            const QString suffix = compress == 1 ? QStringLiteral(".gz")
                : compress == 2                  ? QStringLiteral(".zip")
                                                 : QString();
            WriteTaskFile(taskFile, dest, data, compress, destMode);
            WriteSettings(QStringLiteral("Interval=-1\n"), 2);
            TMonitorController& m = Load();
            ASSERT_TRUE(m.StartMonitoring());
            WriteData("a.txt", "first");
            WriteData("sub/b.txt", "b");
            ASSERT_TRUE(WaitForPending({"a.txt", "sub/b.txt"})) << Log();
            EXPECT_EQ(m.FileCount(), 2);
            RunPass();
            EXPECT_EQ(m.FileCount(), 0);
            WriteData("a.txt", "second");
            ASSERT_TRUE(WaitForPending({"a.txt"})) << Log();
            RunPass();
            Stop();
            EXPECT_EQ(LogCount(QStringLiteral("***")), 0) << Log();
            EXPECT_EQ(LogCount(QStringLiteral(" (+1)")), 1) << Log();
            for (const QString& name :
                {QStringLiteral("a.txt"), QStringLiteral("a.bak-1.txt"), QStringLiteral("sub/b.txt")}) {
                const QString file = Backup(name + suffix);
                ASSERT_TRUE(QFile::exists(file)) << file.toStdString();
                if (compress == 1) {
                    EXPECT_EQ(kestest::Run("gzip", {"-t", file}).exitCode, 0);
                } else if (compress == 2) {
                    EXPECT_EQ(kestest::Run("unzip", {"-tq", file}).exitCode, 0);
                }
            }
            const QString current = Backup(QStringLiteral("a.txt") + suffix);
            const QByteArray text = compress == 0 ? ReadBytes(current)
                : compress == 1                   ? kestest::Run("gzip", {"-dc", current}).out
                                                  : kestest::Run("unzip", {"-p", current}).out;
            EXPECT_EQ(text, QByteArray("second"));
        }
    }
}

TEST_F(MonitorControllerTest, DeletionsRenamesAndFiltersUpdateThePendingList)
{
    WriteTaskFile(taskFile, dest, data, 0, 1, {}, QStringLiteral("BackupMode=1\nFilterMode=1\nFilter=*.txt"));
    WriteSettings();
    TMonitorController& m = Load();
    ASSERT_TRUE(m.StartMonitoring());
    WriteData("a.txt", "a");
    WriteData("b.txt", "b");
    WriteData("c.txt", "c");
    WriteData("skip.log", "l");
    ASSERT_TRUE(WaitForPending({"a.txt", "b.txt", "c.txt"})) << Log();

    ASSERT_TRUE(QFile::rename(Data("a.txt"), Data("d.txt")));
    ASSERT_TRUE(WaitForPending({"b.txt", "c.txt", "d.txt"}));
    ASSERT_TRUE(QFile::remove(Data("b.txt")));
    ASSERT_TRUE(WaitForPending({"c.txt", "d.txt"}));
    // Renamed to a name the filter does not select: gone from the list.
    ASSERT_TRUE(QFile::rename(Data("c.txt"), Data("c.log")));
    ASSERT_TRUE(WaitForPending({"d.txt"}));
    // Created and deleted before the pass; a directory whose name the
    // filter would select.
    WriteData("e.txt", "e");
    ASSERT_TRUE(QDir().mkpath(Data("dir.txt")));
    ASSERT_TRUE(WaitForPending({"d.txt", "e.txt"}));
    ASSERT_TRUE(QFile::remove(Data("e.txt")));
    ASSERT_TRUE(WaitForPending({"d.txt"}));
    EXPECT_EQ(m.FileCount(), 1);
    EXPECT_EQ(m.ShowFilesLines(), QStringList {"01: d.txt"});

    RunPass();
    EXPECT_TRUE(QFile::exists(Backup("d.txt")));
    EXPECT_EQ(QDir(Backup("")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList {"d.txt"});
    // Nothing is deleted at the destination when the source goes.
    ASSERT_TRUE(QFile::remove(Data("d.txt")));
    WriteData("f.txt", "f");
    ASSERT_TRUE(WaitForPending({"f.txt"}));
    EXPECT_TRUE(QFile::exists(Backup("d.txt")));
}

TEST_F(MonitorControllerTest, UnavailableDestinationKeepsFilesPendingAndWarns)
{
    // A destination below a file cannot be reached.
    WriteBytes(Path("blocker"), "x");
    dest = Path("blocker/dest");
    WriteTaskFile(taskFile, dest, data);
    WriteSettings(QStringLiteral("Interval=5\nWriteLog=1\n"));
    TMonitorController& m = Load();
    ASSERT_TRUE(m.StartMonitoring());
    EXPECT_EQ(m.BuInterval(), 5);
    WriteData("a.txt", "a");
    ASSERT_TRUE(WaitForPending({"a.txt"}));

    const QString notReady = QStringLiteral(" - 01: Drive \"") + dest + QStringLiteral("/\" not ready!");
    for (int pass = 1; pass <= 5; ++pass) {
        SCOPED_TRACE(pass);
        for (int t = 0; t < 4; ++t)
            m.Tick();
        EXPECT_EQ(LogCount(notReady), pass - 1);
        m.Tick(); // the fifth tick: a periodic pass
        EXPECT_EQ(LogCount(notReady), pass) << Log();
        EXPECT_TRUE(m.LogLines().last().startsWith(QStringLiteral(" *** ")));
        EXPECT_EQ(m.FileCount(), 1);
        EXPECT_EQ(m.Tasks()[0]->ErrCount, pass);
        // From the fourth failure in a row on, every periodic pass warns.
        EXPECT_EQ(messages.size(), std::max(0, pass - 3));
    }
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages[0],
        QStringLiteral("Backup destination \"") + dest
            + QStringLiteral("/\" not available!\r\nMonitored directory \"01: ") + data
            + QStringLiteral("\"\r\nThis was the case with the last 4 backups.\r\n")
            + QStringLiteral("Please check that the backup medium is connected correctly!"));
    EXPECT_TRUE(messages[1].contains(QStringLiteral("the last 5 backups.")));
    // An immediate backup warns at once, without the count.
    m.RequestInstantBackup();
    m.Tick();
    ASSERT_EQ(messages.size(), 3);
    EXPECT_FALSE(messages[2].contains(QStringLiteral("This was the case")));

    // The pending file is in the settings; the log file holds the lines and
    // is closed at the tick after the pass.
    EXPECT_TRUE(ReadIniText(iniName).contains(QStringLiteral("Count=1\nFile000=a.txt\n")));
    EXPECT_TRUE(m.WLog());
    m.Tick();
    EXPECT_FALSE(m.WLog());
    EXPECT_EQ(messages.size(), 3);
    const QString log = QString::fromUtf8(ReadBytes(Path("settings/Selwand ")
        + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".log")));
    EXPECT_EQ(log.count(notReady + QStringLiteral("\r\n")), 6);

    // The medium is back: the next pass copies and the count starts again.
    ASSERT_TRUE(QFile::remove(Path("blocker")));
    ASSERT_TRUE(QDir().mkpath(dest));
    m.RequestInstantBackup();
    m.Tick();
    EXPECT_EQ(m.Tasks()[0]->ErrCount, 0);
    EXPECT_EQ(m.FileCount(), 0);
    ASSERT_TRUE(WaitUntil([&] { return m.RunningBackups() == 0; }));
    EXPECT_TRUE(QFile::exists(Backup("a.txt")));
}

TEST_F(MonitorControllerTest, PendingListsSurviveARestartAndStoppingCopiesThem)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings();
    TMonitorController* m = &Load();
    ASSERT_TRUE(m->StartMonitoring());
    const QString lineBreak = QStringLiteral("new\nline.txt");
    const QString raw = platform::DecodeName(QByteArray("raw\xe9.txt"));
    for (const QString& name : {QStringLiteral(" lead.txt"), lineBreak, raw, QStringLiteral("sub/x.txt")}) {
        int fd = -1;
        QDir().mkpath(Data("sub"));
        ASSERT_EQ(platform::OpenFile(Data(name), platform::ofWrite | platform::ofCreate, 0644, fd), 0);
        platform::CloseFile(fd);
    }
    const QStringList pending = {QStringLiteral(" lead.txt"), lineBreak, raw, QStringLiteral("sub/x.txt")};
    ASSERT_TRUE(WaitForPending(pending)) << Log();
    m->SaveSettings();
    monitor.reset(); // ends without a pass, as a crash would

    m = &Load();
    EXPECT_EQ(m->Tasks()[0]->FileList.ToStringList(), pending);
    EXPECT_EQ(m->FileCount(), 4);
    ASSERT_TRUE(m->StartMonitoring());
    EXPECT_EQ(m->FileCount(), 4);
    Stop(); // a final pass, waited for
    EXPECT_EQ(m->FileCount(), 0);
    EXPECT_FALSE(m->Monitoring());
    EXPECT_EQ(m->TbStatus(), tbsOff);
    for (const QString& name : pending) {
        platform::FileStatus st;
        EXPECT_EQ(platform::GetFileStatus(Backup(name), false, st), 0)
            << platform::EncodeName(name).toStdString();
    }
    EXPECT_TRUE(ReadIniText(iniName).contains(QStringLiteral("Enabled=1\nCount=0\n")));
    monitor.reset();
    // Qt cannot remove names that are not UTF-8.
    kestest::Run(QStringLiteral("rm"), {QStringLiteral("-rf"), tmp.path()});
}

TEST_F(MonitorControllerTest, LogFileHasThePassLines)
{
    const QDateTime at(QDate(2025, 6, 1), QTime(10, 0, 5));
    clock = std::make_shared<kes::TSettableClock>(at);
    WriteTaskFile(taskFile, dest, data);
    // A pending file from the settings that is gone by now.
    WriteSettings(
        QStringLiteral("Interval=-1\nWriteLog=1\n"), 0, QStringLiteral("Count=1\nFile000=gone.txt\n"));
    TMonitorController& m = Load();
    ASSERT_TRUE(m.StartMonitoring());
    WriteData("a.txt", "a");
    ASSERT_TRUE(WaitForPending({"a.txt", "gone.txt"}));
    m.RequestInstantBackup();
    m.Tick();
    EXPECT_TRUE(m.WLog()); // open while the pass runs
    ASSERT_TRUE(WaitUntil([&] { return m.RunningBackups() == 0; }));
    m.Tick();
    EXPECT_FALSE(m.WLog());

    const QString file = Path("settings/Selwand 2025-06-01.log");
    const QByteArray bytes = ReadBytes(file);
    ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    const QString stamp = LogDateTime(at);
    const QString expected = stamp + QStringLiteral(" - 01: ") + Data("a.txt") + QStringLiteral(" => ") + dest
        + QStringLiteral("/\r\n") + stamp + QStringLiteral(" - 01: ") + Data("gone.txt")
        + QStringLiteral(" => ") + dest + QStringLiteral("/\r\n  *** Error - File not found (-> Copy)\r\n");
    EXPECT_EQ(QString::fromUtf8(bytes.mid(3)), expected);

    // A second pass the same day appends; the mark is written once.
    WriteData("b.txt", "b");
    ASSERT_TRUE(WaitForPending({"b.txt"}));
    RunPass();
    const QByteArray again = ReadBytes(file);
    EXPECT_TRUE(again.startsWith(bytes));
    EXPECT_EQ(again.count("\xEF\xBB\xBF"), 1);
    EXPECT_TRUE(
        again.endsWith((Data("b.txt") + QStringLiteral(" => ") + dest + QStringLiteral("/\r\n")).toUtf8()));
    Stop();

    // Without "Write log to file" no file is made; the window log has all.
    QFile::remove(file);
    WriteSettings(QStringLiteral("Interval=-1\nWriteLog=0\n"));
    TMonitorController& quiet = Load();
    ASSERT_TRUE(quiet.StartMonitoring());
    WriteData("c.txt", "c");
    ASSERT_TRUE(WaitForPending({"c.txt"}));
    RunPass();
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_EQ(LogCount(Data("c.txt")), 1);
}

TEST_F(MonitorControllerTest, LostChangesAreFoundByASearch)
{
    WriteTaskFile(taskFile, dest, data, 0, 1, {}, QStringLiteral("BackupMode=1\nFilterMode=2\nFilter=*.log"));
    WriteSettings();
    TMonitorController& m = Load();
    kestest::ThreadGate gate;
    // The watchers wait at the gate until they are gone: they go first,
    // however the test ends.
    const auto watchersFirst = qScopeGuard([&] {
        gate.Set(true);
        monitor.reset();
    });
    m.SetWatchThreadHook([&gate] { gate.Pass(); });
    // A watched directory, and far more changes in it than the kernel
    // queues while nobody reads them.
    QDir().mkpath(Data("many"));
    gate.Set(false);
    ASSERT_TRUE(m.StartMonitoring());
    const int kFiles = 20000;
    for (int i = 0; i < kFiles; ++i)
        WriteBytes(Data(QStringLiteral("many/f%1.txt").arg(i)), "x");
    for (int i = 0; i < 50; ++i)
        WriteBytes(Data(QStringLiteral("many/l%1.log").arg(i)), "x");
    gate.Set(true);
    ASSERT_TRUE(WaitUntil([&] { return LogCount(QStringLiteral("was searched for changed files")) > 0; },
        std::chrono::seconds(60)))
        << Log();
    EXPECT_EQ(LogCount(QStringLiteral("came faster than they could be recorded")), 1) << Log();
    ASSERT_TRUE(WaitUntil([&] { return m.FileCount() == kFiles; }, std::chrono::seconds(30)))
        << m.FileCount();
    EXPECT_EQ(m.Tasks()[0]->FileList.Count(), kFiles);
    EXPECT_FALSE(m.Tasks()[0]->FileList.Contains(QStringLiteral("many/l1.log")));
}

TEST_F(MonitorControllerTest, ChangesMadeWhileNotMonitoringAreFoundAtTheNextStart)
{
    WriteTaskFile(taskFile, dest, data, 0, 1, {}, QStringLiteral("BackupMode=1\nFilterMode=2\nFilter=*.log"));
    WriteData("old.txt", "old");
    // The saved moment keeps a margin of 2 s for changes still on their way.
    const QDateTime written = QDateTime::currentDateTimeUtc();
    ASSERT_TRUE(WaitUntil([&] { return QDateTime::currentDateTimeUtc() > written.addMSecs(2100); }));
    // Before monitoring ever ran there is no saved moment: nothing is
    // searched at the first start.
    WriteSettings();
    TMonitorController* m = &Load();
    ASSERT_TRUE(m->StartMonitoring());
    EXPECT_EQ(m->FileCount(), 0);
    Stop();
    EXPECT_TRUE(ReadIniText(iniName).contains(QStringLiteral("CheckedUntil=")));

    // While Selwand is not running: a change, a new file, one the filter
    // leaves out; old.txt stays as it was.
    WriteData("changed.txt", "c");
    WriteData("sub/new.txt", "n");
    WriteData("skip.log", "s");
    m = &Load();
    ASSERT_TRUE(m->StartMonitoring());
    EXPECT_EQ(m->Tasks()[0]->FileList.ToStringList(), (QStringList {"changed.txt", "sub/new.txt"}));
    EXPECT_EQ(m->FileCount(), 2);
    EXPECT_EQ(LogCount(QStringLiteral("was searched for changed files")), 1) << Log();
}

TEST_F(MonitorControllerTest, NamesBelowTheTasksOwnDestinationAreNeverCollected)
{
    // The destination lies inside the monitored directory: its copies would
    // be backed up again, one level deeper at every pass.
    const QString inside = data + QStringLiteral("/backup/");
    WriteTaskFile(taskFile, inside, data);
    WriteSettings();
    TMonitorController& m = Load();
    ASSERT_TRUE(m.StartMonitoring());
    EXPECT_EQ(LogCount(QStringLiteral("lies inside the monitored directory")), 1) << Log();
    WriteData("a.txt", "a");
    ASSERT_TRUE(WaitForPending({"a.txt"}));
    RunPass();
    ASSERT_TRUE(QFile::exists(inside + data.mid(1) + QStringLiteral("/a.txt")));
    // The copy's own notifications came before this marker's.
    WriteData("marker.txt", "m");
    ASSERT_TRUE(WaitForPending({"marker.txt"}));
    m.FileChanged(nullptr, 1, waAdded, QStringLiteral("backup/x.txt"));
    EXPECT_EQ(m.FileCount(), 1);
}

TEST_F(MonitorControllerTest, ARegularExpressionAtItsMatchLimitIsLoggedOncePerPass)
{
    WriteTaskFile(taskFile, dest, data, 0, 1, {},
        QStringLiteral("BackupMode=1\nFilterMode=1\nRegular=1\nFilter=^(a|aa)+$"));
    WriteSettings();
    TMonitorController& m = Load();
    ASSERT_TRUE(m.StartMonitoring());
    const QString hard = QString(60, u'a') + u'b';
    m.FileChanged(nullptr, 1, waAdded, hard);
    m.FileChanged(nullptr, 1, waAdded, hard + u'b');
    m.FileChanged(nullptr, 1, waAdded, QStringLiteral("aaaa"));
    EXPECT_EQ(m.FileCount(), 1);
    EXPECT_EQ(LogCount(QStringLiteral("reached its match limit")), 1) << Log();
    EXPECT_EQ(LogCount(QStringLiteral("\"^(a|aa)+$\"")), 1) << Log();
    // The next pass tells it again.
    RunPass();
    m.FileChanged(nullptr, 1, waAdded, hard);
    EXPECT_EQ(LogCount(QStringLiteral("reached its match limit")), 2) << Log();
}

TEST_F(MonitorControllerTest, OneControllerPerSettingsFile)
{
    WriteSettings();
    TMonitorController& m = Load();
    QString message;
    ASSERT_TRUE(m.LockSettings(message));
    TMonitorController second(Setup());
    EXPECT_FALSE(second.LockSettings(message));
    EXPECT_TRUE(
        message.contains(QStringLiteral("Selwand is already running with the settings file \"") + iniName))
        << message.toStdString();
    monitor.reset(); // the lock goes with the first
    EXPECT_TRUE(second.LockSettings(message));
}

TEST_F(MonitorControllerTest, FilesPastThePathLimitAreWatchedAndBackedUp)
{
    // 45 folders of 100-byte names: the file's path is far beyond the
    // system's limit of 4,096 bytes, at the source and at the destination.
    WriteTaskFile(taskFile, dest, data);
    WriteSettings();
    QString rel;
    for (int i = 0; i < 45; ++i) {
        rel += (rel.isEmpty() ? QString() : QStringLiteral("/"))
            + QStringLiteral("level%1-").arg(i, 2, 10, QChar(u'0')) + QString(92, QChar(u'a' + i % 26));
        ASSERT_EQ(platform::CreateDirectory(Data(rel)), 0) << i;
    }
    ASSERT_GT(Data(rel).size(), 4096);
    TMonitorController& m = Load();
    const auto cleanUp = qScopeGuard([&] {
        monitor.reset();
        kestest::Run(QStringLiteral("rm"), {QStringLiteral("-rf"), data, dest});
    });
    ASSERT_TRUE(m.StartMonitoring());
    const QString name = rel + QStringLiteral("/deep.txt");
    int fd = -1;
    ASSERT_EQ(platform::OpenFile(Data(name), platform::ofWrite | platform::ofCreate, 0600, fd), 0);
    qint64 done = 0;
    ASSERT_EQ(platform::WriteFile(fd, "deep", 4, done), 0);
    platform::CloseFile(fd);
    ASSERT_TRUE(WaitForPending({name})) << Log();
    RunPass();
    EXPECT_FALSE(Log().find("***") != std::string::npos) << Log();
    ASSERT_EQ(platform::OpenFile(Backup(name), platform::ofRead, 0, fd), 0);
    char buffer[8];
    ASSERT_EQ(platform::ReadFile(fd, buffer, sizeof buffer, done), 0);
    platform::CloseFile(fd);
    EXPECT_EQ(QByteArray(buffer, int(done)), QByteArray("deep"));
}

TEST_F(MonitorControllerTest, EndedWatcherIsStartedAgain)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings();
    TMonitorController& m = Load();
    ASSERT_TRUE(m.StartMonitoring());
    ASSERT_TRUE(QDir(data).removeRecursively());
    ASSERT_TRUE(WaitUntil([&] { return LogCount(QStringLiteral("was removed, moved or unmounted")) == 1; }))
        << Log();
    EXPECT_TRUE(m.Tasks()[0]->DirWatch->ThreadEnded());
    m.Tick();
    m.Tick();
    EXPECT_EQ(LogCount(QStringLiteral("not found! Watching it starts again when it is back.")), 1) << Log();

    // Back, with a file made while nobody watched.
    WriteData("while-away.txt", "w");
    m.Tick();
    EXPECT_EQ(LogCount(QStringLiteral("was started again.")), 1) << Log();
    EXPECT_TRUE(m.Tasks()[0]->FileList.Contains(QStringLiteral("while-away.txt")));
    WriteData("later.txt", "l");
    ASSERT_TRUE(WaitForPending({"later.txt", "while-away.txt"})) << Log();
}

TEST_F(MonitorControllerTest, APassSkipsATaskWhoseThreadStillRuns)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings();
    TMonitorController& m = Load();
    ASSERT_TRUE(m.StartMonitoring());
    WriteData("a.txt", "a");
    ASSERT_TRUE(WaitForPending({"a.txt"}));
    m.RequestInstantBackup();
    m.Tick();
    // The thread cannot end before its report is taken by this thread's
    // event loop, which does not run here.
    WriteData("b.txt", "b");
    m.FileChanged(nullptr, 1, waAdded, QStringLiteral("b.txt"));
    m.RequestInstantBackup();
    m.Tick();
    EXPECT_EQ(m.Tasks()[0]->FileList.ToStringList(), QStringList {"b.txt"});
    EXPECT_EQ(m.FileCount(), 1);
    // Stopping waits for it, then copies what stayed behind.
    Stop();
    EXPECT_EQ(m.FileCount(), 0);
    EXPECT_TRUE(QFile::exists(Backup("a.txt")));
    EXPECT_TRUE(QFile::exists(Backup("b.txt")));
}

TEST_F(MonitorControllerTest, TickCountsDownAndSetsTheIcon)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings(QStringLiteral("Interval=30\n"));
    TMonitorController& m = Load();
    std::vector<TTaskBarStatus> icons;
    QObject::connect(
        &m, &TMonitorController::TrayIconChanged, &m, [&](TTaskBarStatus s) { icons.push_back(s); });
    ASSERT_TRUE(m.StartMonitoring());
    EXPECT_EQ(m.TimeCount(), 30);
    EXPECT_EQ(m.View().NextBackup, QStringLiteral("30 s"));
    for (int t = 1; t < 30; ++t) {
        m.Tick();
        EXPECT_EQ(m.TimeCount(), 30 - t);
    }
    m.Tick(); // the thirtieth tick starts the pass and the count anew
    EXPECT_EQ(m.TimeCount(), 30);
    EXPECT_EQ(m.TbStatus(), tbsWait);
    EXPECT_FALSE(m.View().StartEnabled);

    WriteData("a.txt", "a");
    ASSERT_TRUE(WaitForPending({"a.txt"}));
    m.Tick();
    EXPECT_EQ(m.TbStatus(), tbsRun);
    EXPECT_TRUE(m.View().StartEnabled);
    EXPECT_TRUE(m.View().ShowFilesVisible);
    EXPECT_EQ(m.View().FileCountText, QStringLiteral("1 file"));
    EXPECT_TRUE(
        m.View().TipText.endsWith(QStringLiteral("\r\nNext backup: 29 s\r\n1 file recognized as changed")))
        << m.View().TipText.toStdString();
    Stop();
    EXPECT_EQ(icons, (std::vector<TTaskBarStatus> {tbsWait, tbsRun, tbsOff}));

    // Without periodic passes only an immediate backup starts one.
    WriteSettings(QStringLiteral("Interval=-1\n"));
    TMonitorController& demand = Load();
    ASSERT_TRUE(demand.StartMonitoring());
    for (int t = 0; t < 5; ++t)
        demand.Tick();
    EXPECT_EQ(demand.TimeCount(), -1);
    EXPECT_EQ(demand.View().NextBackup, QStringLiteral("on demand"));
}

TEST_F(MonitorControllerTest, TasksThatCannotRunAreRefused)
{
    // The monitored "directory" is a file; another task's file is unsuitable.
    WriteBytes(Path("afile"), "x");
    WriteTaskFile(taskFile, dest, Path("afile"));
    WriteTaskFile(Path("ftp.buj"), dest, data, 0, 1, QStringLiteral("FtpBackup=1"));
    const QString text = QStringLiteral("[Config]\nCount=2\n[Monitor00]\nBackupTask=") + taskFile
        + QStringLiteral("\nDirectory=") + Path("afile") + QStringLiteral("\n[Monitor01]\nBackupTask=")
        + Path("ftp.buj") + QStringLiteral("\nDirectory=") + data + u'\n';
    WriteBytes(iniName, kestest::Utf16LeWithBom(text));
    TMonitorController& m = Load();
    EXPECT_FALSE(m.StartMonitoring());
    EXPECT_FALSE(m.Monitoring());
    EXPECT_EQ(m.Tasks()[0]->MonStatus, mtInvalid);
    EXPECT_EQ(m.Tasks()[1]->MonStatus, mtInvalid);
    EXPECT_EQ(LogCount(QStringLiteral("Directory \"") + Path("afile") + QStringLiteral("\" not found!")), 1)
        << Log();
    EXPECT_EQ(LogCount(QStringLiteral("The backup task \"") + Path("ftp.buj")
                  + QStringLiteral("\" has invalid settings!")),
        1);
    EXPECT_EQ(messages, QStringList {"Please specify at least one directory to be monitored!"});
    // Saved as unchecked.
    m.SaveSettings();
    EXPECT_EQ(ReadIniText(iniName).count(QStringLiteral("Enabled=0")), 2);
}

TEST_F(MonitorControllerTest, StartUpReadsSwitchesKesmoIniAndTheLogFolder)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings(QStringLiteral("Interval=5400\nSysTray=0\n"));
    QDir().mkpath(Path("logs"));
    WriteBytes(Path("settings/Kesmo.ini"),
        QStringLiteral("[Config]\nProtDir=%1\nNoCompress=abc\n").arg(Path("logs")).toUtf8());
    TMonitorController& m = Load({"/h", "-DARK", "/lang:de"});
    EXPECT_TRUE(m.Config().SysTray);
    EXPECT_TRUE(m.UseDarkMode());
    EXPECT_FALSE(m.Force());
    EXPECT_EQ(m.LogDir(), Path("logs"));
    EXPECT_EQ(m.DriveId(), QStringLiteral("Drv?"));
    EXPECT_TRUE(m.NoCompress().startsWith(QStringLiteral("7z,abc,ace,")));
    EXPECT_EQ(m.IntervalEditor().Unit(), iuMinutes);
    EXPECT_EQ(m.IntervalEditor().Value(), 90);
    EXPECT_TRUE(m.Caption().startsWith(QStringLiteral("File change monitoring with direct backup (")));
    EXPECT_EQ(m.TbStatus(), tbsOff);
    ASSERT_EQ(m.Tasks().size(), 1u);
    EXPECT_EQ(m.TaskText(0), QStringLiteral("01: ") + data);
}

// 100,000 files changed at once: collected (through the search when the
// kernel's queue overflows), copied, none lost. Runs apart (ctest -L large).
class LargeSelwandTest : public selwandtest::SelwandFixture { };

TEST_F(LargeSelwandTest, HundredThousandFilesChangedAtOnce)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings();
    TMonitorController& m = Load();
    ASSERT_TRUE(m.StartMonitoring());
    const int kFiles = 100000;
    for (int d = 0; d < 100; ++d) {
        QDir().mkpath(Data(QStringLiteral("d%1").arg(d)));
        for (int i = 0; i < kFiles / 100; ++i)
            WriteBytes(Data(QStringLiteral("d%1/f%2.txt").arg(d).arg(i)), "x");
    }
    ASSERT_TRUE(WaitUntil([&] { return m.FileCount() == kFiles; }, std::chrono::seconds(300)))
        << m.FileCount();
    m.RequestInstantBackup();
    m.Tick();
    ASSERT_TRUE(WaitUntil([&] { return m.RunningBackups() == 0; }, std::chrono::seconds(1800)));
    EXPECT_EQ(LogCount(QStringLiteral("  *** ")), 0);
    int copied = 0;
    for (int d = 0; d < 100; ++d)
        copied += int(QDir(Backup(QStringLiteral("d%1").arg(d))).entryList(QDir::Files).size());
    EXPECT_EQ(copied, kFiles);
}

} // namespace
