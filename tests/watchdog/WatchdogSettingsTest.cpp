// Selwand.ini and Kesmo.ini, the switches and the interval editor.
#include "watchdog/WatchdogSettings.h"
#include "SelwandTestSupport.h"
#include "frame/UnicodeIniFile.h"
#include "platform/FileName.h"
#include "watchdog/MonTask.h"

#include <QLocale>

using namespace kes;
using kestest::Utf16LeWithBom;
using kestest::WriteBytes;
using selwandtest::ReadIniText;

namespace {

class WatchdogSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }
    QString Path(const QString& rel) const { return tmp.filePath(rel); }
    // An existing (empty) task file.
    QString Task(const QString& name)
    {
        const QString path = Path(name);
        WriteBytes(path, "[Global]\n");
        return path;
    }
    void WriteIni(const QString& text) { WriteBytes(Path("Selwand.ini"), Utf16LeWithBom(text)); }
    TWatchdogSettings Load()
    {
        log.clear();
        TWatchdogConfig defaults;
        defaults.JobDir = QStringLiteral("/jobs/");
        return LoadWatchdogSettings(Path("Selwand.ini"), defaults, [this](const QString& t) { log << t; });
    }
    void Save(const std::vector<std::unique_ptr<TMonTask>>& tasks, const TWatchdogConfig& config = {})
    {
        SaveWatchdogSettings(
            Path("Selwand.ini"), config, tasks, QStringLiteral("Selwand"), QStringLiteral("1.1.0.0"));
    }

    QTemporaryDir tmp;
    QStringList log;
};

TEST(IntervalEditorTest, LoadingFollowsTheUnitRules)
{
    struct Case {
        int interval;
        bool periodic;
        TIntervalUnit unit;
        int value, min, max, step, seconds;
    } cases[] = {
        {3600, true, iuHours, 1, 1, 12, 1, 3600},
        {5400, true, iuMinutes, 90, 1, 360, 1, 5400},
        {7300, true, iuHours, 2, 1, 12, 1, 7200}, // cut to whole hours
        {330, true, iuMinutes, 5, 1, 360, 1, 300}, // cut to whole minutes
        {45, true, iuSeconds, 45, 5, 295, 5, 45},
        {299, true, iuSeconds, 295, 5, 295, 5, 295}, // beyond the seconds range
        {1800, true, iuMinutes, 30, 1, 360, 1, 1800},
        {86400, true, iuHours, 12, 1, 12, 1, 43200}, // beyond the hours range
        {0, false, iuMinutes, 10, 1, 360, 1, -1},
        {-1, false, iuMinutes, 10, 1, 360, 1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.interval);
        TIntervalEditor e;
        e.Load(c.interval);
        EXPECT_EQ(e.Periodic(), c.periodic);
        EXPECT_EQ(e.Unit(), c.unit);
        EXPECT_EQ(e.Value(), c.value);
        EXPECT_EQ(e.Min(), c.min);
        EXPECT_EQ(e.Max(), c.max);
        EXPECT_EQ(e.Step(), c.step);
        EXPECT_EQ(e.GetIntervalSeconds(), c.seconds);
    }

    // Choosing a unit sets its range and starting value; switching periodic
    // backups on gives the editor's value.
    TIntervalEditor e;
    e.Load(-1);
    e.SetUnit(iuSeconds);
    EXPECT_EQ(e.Value(), 30);
    EXPECT_EQ(e.GetIntervalSeconds(), -1);
    e.SetPeriodic(true);
    EXPECT_EQ(e.GetIntervalSeconds(), 30);
    e.SetUnit(iuHours);
    e.SetValue(40);
    EXPECT_EQ(e.GetIntervalSeconds(), 12 * 3600);
    EXPECT_EQ(e.Hint(), QStringLiteral("Number of hours"));
}

TEST(SelwandOptionsTest, SwitchesSelectTheFirstMatchingWord)
{
    struct Case {
        QStringList args;
        bool hide, dark, force;
    } cases[] = {
        {{"/h"}, true, false, false},
        {{"-HID"}, true, false, false},
        {{"/"}, true, false, false}, // the empty word is a leading part of "hide"
        {{"-d", "/FORCE"}, false, true, true},
        {{"/f"}, false, false, true},
        {{"/hides", "/forcex"}, false, false, false}, // longer than the word
        {{"force", "/lang:de", "/ini:x.ini", "/portable"}, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const TSelwandOptions o = ParseSelwandOptions(c.args);
        EXPECT_EQ(o.Hide, c.hide);
        EXPECT_EQ(o.Dark, c.dark);
        EXPECT_EQ(o.Force, c.force);
    }
}

TEST(PendingNameTest, StoredFormsRoundTrip)
{
    const QString invalidUtf8 = platform::DecodeName(QByteArray("bad\xff\xfe-name.txt"));
    struct Case {
        QString name;
        QString stored;
    } cases[] = {
        {"sub/a.txt", "sub/a.txt"},
        {" a.txt", "\" a.txt\""},
        {"a.txt ", "\"a.txt \""},
        {"\"quoted\"", "\"\"quoted\"\""},
        {"two\nlines\r.txt", "\"two\\nlines\\r.txt\""},
        {" back\\slash", "\" back\\\\slash\""},
        {"back\\slash", "back\\slash"}, // only quoted values are unescaped
        {"in \"middle\".txt", "in \"middle\".txt"},
        // Raw bytes of a name that is not UTF-8 are written as escapes, so the
        // file stays valid UTF-16; a literal "\x" of a quoted name is not one.
        {invalidUtf8, "\"bad\\xff\\xfe-name.txt\""},
        {invalidUtf8 + QStringLiteral(" \\x41"), "\"bad\\xff\\xfe-name.txt \\\\x41\""},
        {QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b"), "\"a\\ud800b\""},
        {QString::fromUtf8("\xF0\x9F\x98\x80 pair.txt"), QString::fromUtf8("\xF0\x9F\x98\x80 pair.txt")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        EXPECT_EQ(EncodePendingName(c.name), c.stored);
        EXPECT_EQ(DecodePendingName(c.stored), c.name);
        // What the INI file gives back is what was stored.
        EXPECT_EQ(EncodePendingName(c.name).trimmed(), EncodePendingName(c.name));
    }
}

TEST(PendingNameTest, NamesOutsideTheDirectoryAreUnsafe)
{
    for (const char* name : {"a.txt", "sub/b.txt", "..a", "a..", "sub/.hidden", "a\\..\\b"})
        EXPECT_TRUE(IsSafeRelativeName(QString::fromUtf8(name))) << name;
    for (const char* name : {"", "/etc/passwd", "../x", "sub/../../x", "sub/..", ".", "./a"})
        EXPECT_FALSE(IsSafeRelativeName(QString::fromUtf8(name))) << name;
    EXPECT_FALSE(IsSafeRelativeName(QStringLiteral("a") + QChar(0) + QStringLiteral("b")));
}

TEST_F(WatchdogSettingsTest, TasksAndPendingFilesSurviveSaveAndLoad)
{
    const QString invalidUtf8 = platform::DecodeName(QByteArray("raw\xe9.txt"));
    const QStringList names = {" lead.txt", "Makefile", "makefile", "new\nline.txt", "\"q.txt", invalidUtf8,
        "sub/deep/x.txt", "trail.txt "};
    std::vector<std::unique_ptr<TMonTask>> tasks;
    tasks.push_back(std::make_unique<TMonTask>(Task("one.buj"), QStringLiteral("/data/one")));
    tasks.back()->RetainBak = 3;
    for (const QString& n : names)
        tasks.back()->FileList.Add(n);
    tasks.push_back(std::make_unique<TMonTask>(Task("two.buj"), QStringLiteral("/data/two")));
    tasks.back()->MonStatus = mtInvalid;
    tasks.back()->FileList.Add(QStringLiteral("x"));
    tasks.push_back(std::make_unique<TMonTask>(Task("three.buj"), QStringLiteral("/data/three")));
    tasks.back()->MonStatus = mtDisabled;
    TWatchdogConfig config;
    config.Top = 10;
    config.Left = 20;
    config.Height = 700;
    config.Width = 800;
    config.JobDir = QStringLiteral("/home/u/jobs/");
    config.Interval = 90;
    config.SysTray = true;
    config.WriteLog = true;
    // A section "Global" is erased, other sections stay.
    WriteIni(QStringLiteral("[Global]\nold=1\n[Printer]\nName=P\n"));
    Save(tasks, config);

    const QString text = ReadIniText(Path("Selwand.ini"));
    EXPECT_FALSE(text.contains(QStringLiteral("[Global]")));
    EXPECT_TRUE(text.contains(QStringLiteral("[Printer]\nName=P\n")));
    EXPECT_TRUE(
        text.contains(QStringLiteral("[Unicode]\nEncoding=UTF-16LE\nProgram=Selwand\nVersion=1.1.0.0\n")))
        << text.toStdString();
    // File000... in the list's sorted order.
    EXPECT_TRUE(text.contains(QStringLiteral("Count=8\nFile000=\" lead.txt\"\nFile001=\"\"q.txt\"\n")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("[Monitor01]\nBackupTask=") + Path("two.buj")
        + QStringLiteral("\nDirectory=/data/two\nRetainBak=0\nEnabled=0\nCount=1\nFile000=x\n")))
        << text.toStdString();

    const TWatchdogSettings s = Load();
    EXPECT_TRUE(log.isEmpty()) << log.join(u'\n').toStdString();
    EXPECT_EQ(s.Config.Top, 10);
    EXPECT_EQ(s.Config.Left, 20);
    EXPECT_EQ(s.Config.Height, 700);
    EXPECT_EQ(s.Config.Width, 800);
    EXPECT_EQ(s.Config.JobDir, QStringLiteral("/home/u/jobs/"));
    EXPECT_EQ(s.Config.Interval, 90);
    EXPECT_TRUE(s.Config.SysTray);
    EXPECT_TRUE(s.Config.WriteLog);
    ASSERT_EQ(s.Tasks.size(), 3u);
    EXPECT_EQ(s.Tasks[0]->FileList.ToStringList(), tasks[0]->FileList.ToStringList());
    EXPECT_EQ(s.Tasks[0]->FileList.Count(), names.size()); // Makefile and makefile are two files
    EXPECT_EQ(s.Tasks[0]->RetainBak, 3);
    EXPECT_EQ(s.Tasks[0]->MonStatus, mtEnabled);
    EXPECT_EQ(s.Tasks[1]->MonStatus, mtDisabled); // saved as invalid: comes back unchecked
    EXPECT_EQ(s.Tasks[2]->MonStatus, mtDisabled);
    EXPECT_EQ(s.Tasks[2]->Dir, QStringLiteral("/data/three"));
    EXPECT_EQ(s.FileCount, int(names.size()) + 1);
}

TEST_F(WatchdogSettingsTest, FilesInFlightAndTheRecoveryKeysAreSaved)
{
    // A pass is running: two files are handed to its thread, one more
    // changed meanwhile. All three are pending in the saved file.
    const QString raw = platform::DecodeName(QByteArray("in-flight-\xff.txt"));
    std::vector<std::unique_ptr<TMonTask>> tasks;
    tasks.push_back(std::make_unique<TMonTask>(Task("one.buj"), QStringLiteral("/data/one")));
    TMonTask& t = *tasks.back();
    t.FileList.Add(QStringLiteral("b.txt"));
    t.InFlight.Add(QStringLiteral("a.txt"));
    t.InFlight.Add(QStringLiteral("b.txt")); // changed again while in flight: saved once
    t.InFlight.Add(raw);
    t.CheckedUntil = QDateTime(QDate(2026, 3, 29), QTime(1, 30, 5, 250), Qt::UTC);
    t.DestMount = QStringLiteral("/media/usb disk");
    Save(tasks);

    const TWatchdogSettings s = Load();
    ASSERT_EQ(s.Tasks.size(), 1u);
    EXPECT_EQ(s.Tasks[0]->FileList.ToStringList(), (QStringList {"a.txt", "b.txt", raw}));
    EXPECT_EQ(s.FileCount, 3);
    EXPECT_TRUE(s.Tasks[0]->InFlight.IsEmpty());
    EXPECT_EQ(s.Tasks[0]->CheckedUntil, t.CheckedUntil);
    EXPECT_EQ(s.Tasks[0]->DestMount, t.DestMount);

    // Other tools read the file: it is valid UTF-16 (no lone surrogates).
    if (!kestest::HaveTool(QStringLiteral("python3")))
        KESTEST_SKIP_OR_FAIL("python3 is not installed");
    const kestest::ProcessResult py = kestest::Run(QStringLiteral("python3"),
        {QStringLiteral("-c"),
            QStringLiteral("import sys; open(sys.argv[1], encoding='utf-16', errors='strict').read()"),
            Path("Selwand.ini")});
    EXPECT_EQ(py.exitCode, 0) << py.err.toStdString();
}

TEST_F(WatchdogSettingsTest, AtMostTwentyFiveTasksAreReadAndWritten)
{
    QString text = QStringLiteral("[Config]\nCount=30\n");
    for (int i = 0; i < 30; ++i)
        text += QStringLiteral("[Monitor%1]\nBackupTask=%2\nDirectory=/d%3\n")
                    .arg(i, 2, 10, QChar(u'0'))
                    .arg(Task(QStringLiteral("t%1.buj").arg(i)))
                    .arg(i);
    WriteIni(text);
    TWatchdogSettings s = Load();
    ASSERT_EQ(s.Tasks.size(), 25u);
    EXPECT_EQ(s.Tasks[24]->Dir, QStringLiteral("/d24"));

    // A list of 30 tasks: Count=30, but only Monitor00..Monitor24; sections
    // beyond the list are erased.
    for (int i = 25; i < 30; ++i)
        s.Tasks.push_back(std::make_unique<TMonTask>(Task("x.buj"), QStringLiteral("/x%1").arg(i)));
    WriteIni(QStringLiteral("[Monitor25]\nBackupTask=old\n"));
    Save(s.Tasks);
    const QString saved = ReadIniText(Path("Selwand.ini"));
    EXPECT_TRUE(saved.contains(QStringLiteral("Count=30\n")));
    EXPECT_TRUE(saved.contains(QStringLiteral("[Monitor24]")));
    EXPECT_TRUE(saved.contains(QStringLiteral("[Monitor25]"))); // not ours to erase: beyond 24
    EXPECT_FALSE(saved.contains(QStringLiteral("/x25")));

    // Fewer tasks than sections: the surplus sections go.
    s.Tasks.resize(2);
    Save(s.Tasks);
    const QString fewer = ReadIniText(Path("Selwand.ini"));
    EXPECT_TRUE(fewer.contains(QStringLiteral("[Monitor01]")));
    EXPECT_FALSE(fewer.contains(QStringLiteral("[Monitor02]")));
    EXPECT_FALSE(fewer.contains(QStringLiteral("[Monitor24]")));
}

TEST_F(WatchdogSettingsTest, SkippedTasksCloseUp)
{
    WriteIni(QStringLiteral("[Config]\nCount=4\n"
                            "[Monitor00]\nBackupTask=%1\nDirectory=/a\n"
                            "[Monitor01]\nBackupTask=%2\nDirectory=/b\n"
                            "[Monitor02]\nBackupTask=\nDirectory=/c\n"
                            "[Monitor03]\nBackupTask=%3\nDirectory=/d\nEnabled=0\n")
                 .arg(Task("a.buj"), Path("missing.buj"), Task("d.buj")));
    const TWatchdogSettings s = Load();
    ASSERT_EQ(s.Tasks.size(), 2u);
    EXPECT_EQ(s.Tasks[0]->Dir, QStringLiteral("/a"));
    EXPECT_EQ(s.Tasks[1]->Dir, QStringLiteral("/d"));
    EXPECT_EQ(s.Tasks[1]->MonStatus, mtDisabled);
}

TEST_F(WatchdogSettingsTest, HostileValuesAreBounded)
{
    // Counts of a million, keys beyond the count, names that would leave the
    // directory, a version count beyond nine, a height below the design.
    WriteIni(QStringLiteral(
        "[Config]\nCount=1000000\nHeight=100\nInterval=abc\n"
        "[Monitor00]\nBackupTask=%1\nDirectory=/d\nRetainBak=1000\nCount=1000000\n"
        "File000=ok.txt\nFile001=../../etc/passwd\nFile002=/etc/shadow\nFile003=sub/../../x\n"
        "File999999=last.txt\nFile1000000=beyond.txt\nFile0004=not-a-key.txt\nFile005=\n"
        "[Monitor01]\nBackupTask=%1\nDirectory=/e\nCount=2\nFile000=a\nFile002=b\nRetainBak=-4\n")
                 .arg(Task("t.buj")));
    const TWatchdogSettings s = Load();
    EXPECT_EQ(s.Config.Height, kDesignHeight);
    EXPECT_EQ(s.Config.Interval, kDefaultInterval);
    ASSERT_EQ(s.Tasks.size(), 2u);
    EXPECT_EQ(s.Tasks[0]->FileList.ToStringList(), (QStringList {"last.txt", "ok.txt"}));
    EXPECT_EQ(s.Tasks[0]->RetainBak, 9);
    EXPECT_EQ(s.Tasks[1]->FileList.ToStringList(), (QStringList {"a"}));
    EXPECT_EQ(s.Tasks[1]->RetainBak, 0);
    EXPECT_EQ(s.FileCount, 3);
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0],
        QStringLiteral(
            "3 pending files of the directory \"/d\" do not lie inside it and are dropped, the first: "
            "\"../../etc/passwd\"."));

    // A settings file that cannot be read: the defaults, and a log line.
    QDir().mkpath(Path("dir.ini"));
    TWatchdogConfig defaults;
    defaults.Interval = 77;
    log.clear();
    const TWatchdogSettings d
        = LoadWatchdogSettings(Path("dir.ini"), defaults, [this](const QString& t) { log << t; });
    EXPECT_EQ(d.Config.Interval, 77);
    EXPECT_TRUE(d.Tasks.empty());
    EXPECT_EQ(log.size(), 1);
}

TEST_F(WatchdogSettingsTest, KesmoIniGivesDriveIdUncompressedTypesAndLogFolder)
{
    // Without the file: the language's template, no uncompressed types.
    TKesmoDefaults k = ReadKesmoSettings(Path("Kesmo.ini"), QStringLiteral("de"), {});
    EXPECT_EQ(k.DriveId, QStringLiteral("Lw?"));
    EXPECT_TRUE(k.NoCompress.isEmpty());
    EXPECT_EQ(ReadKesmoSettings(Path("Kesmo.ini"), QStringLiteral("fr"), {}).DriveId, QStringLiteral("Drv?"));

    WriteBytes(Path("Kesmo.ini"),
        Utf16LeWithBom(
            QStringLiteral("[Config]\r\nNoCompress=PDF,abc, Zip ,aaa,ABC\r\nProtDir=/var/log/kes\r\n")));
    k = ReadKesmoSettings(Path("Kesmo.ini"), QStringLiteral("de"), {});
    EXPECT_EQ(k.DriveId, QStringLiteral("Lw?"));
    EXPECT_EQ(k.ProtDir, QStringLiteral("/var/log/kes"));
    const QStringList types = k.NoCompress.split(u',');
    EXPECT_EQ(types.size(), 38); // 36 built in, and aaa and abc (once); pdf and zip were there
    EXPECT_EQ(types.first(), QStringLiteral("7z"));
    EXPECT_TRUE(types.contains(QStringLiteral("aaa")));
    EXPECT_EQ(types.filter(QStringLiteral("abc"), Qt::CaseInsensitive).size(), 1);
    EXPECT_EQ(types.filter(QStringLiteral("pdf"), Qt::CaseInsensitive).size(), 1);
    QStringList sorted = types;
    std::sort(sorted.begin(), sorted.end(),
        [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    EXPECT_EQ(types, sorted);

    WriteBytes(Path("Kesmo.ini"), "[Config]\nDriveId=Disk?\n");
    k = ReadKesmoSettings(Path("Kesmo.ini"), QStringLiteral("de"), {});
    EXPECT_EQ(k.DriveId, QStringLiteral("Disk?"));
    EXPECT_EQ(k.NoCompress, BuiltinNoCompress());
}

} // namespace
