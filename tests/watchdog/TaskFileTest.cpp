#include "watchdog/TaskFile.h"

#include "common/TestSupport.h"
#include "watchdog/MonTask.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kes;

namespace {

class TaskFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        ASSERT_TRUE(QDir(m_tmp.path()).mkpath(QStringLiteral("data/one")));
        ASSERT_TRUE(QDir(m_tmp.path()).mkpath(QStringLiteral("data/two")));
    }

    QString Path(const QString& rel) const { return m_tmp.filePath(rel); }

    // A task file as the Windows program writes it: UTF-16LE, BOM, CR LF.
    QString Write(const QString& name, QString text) const
    {
        text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
        const QString path = Path(name);
        kestest::WriteBytes(path, kestest::Utf16LeWithBom(text));
        return path;
    }

    // [Global] with the given extra keys and one source section Dir000 for
    // data/one with the given keys.
    QString WriteSimple(const QString& global, const QString& dir000 = QString()) const
    {
        return Write(QStringLiteral("t.buj"),
            QStringLiteral("[Global]\nDestination=/backup\nDirCount=1\n") + global
                + QStringLiteral("\n[Dir000]\nSource=") + Path(QStringLiteral("data/one")) + u'\n' + dir000
                + u'\n');
    }

    QTemporaryDir m_tmp;
};

struct ReadResult {
    int code;
    QStringList log;
};

ReadResult Read(
    TMonTask& task, const TTaskDefaults& defaults = {QStringLiteral("Drv?"), QStringLiteral("zip,jpg")})
{
    ReadResult r;
    r.code = ReadTaskSettings(task, defaults, [&r](const QString& text) { r.log << text; });
    return r;
}

} // namespace

TEST_F(TaskFileTest, CheckTaskFileResultCodes)
{
    struct Case {
        const char* global;
        int expected;
    } cases[] = {
        {"", 0},
        {"FtpBackup=1", 1},
        {"FtpBackup=0\nEncrypt=0", 0},
        {"Encrypt=2", 1},
        {"DestMode=1", 0},
        {"DestMode=2", 1},
        {"DestMode=-1", 0},
        {"Destination=D:\\50%\\100%", 1},
        {"Destination=D:\\B\\%hour%", 0},
        {"Destination=D:\\B\\%HOUR%", 0},
        {"Destination=/b/%hour%/%day%", 1},
        {"Destination=/b/100%", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.global);
        // A later key does not override the first one, so the case's
        // Destination goes before the default one.
        const QString file = Write(QStringLiteral("c.buj"),
            QStringLiteral("[Global]\n") + QString::fromUtf8(c.global)
                + QStringLiteral("\nDestination=/backup\n"));
        EXPECT_EQ(CheckTaskFile(file), c.expected);
    }

    EXPECT_EQ(CheckTaskFile(Path(QStringLiteral("missing.buj"))), 2);
    EXPECT_EQ(CheckTaskFile(Path(QStringLiteral("data"))), 2); // a folder is no task file

    // Binary junk has no keys at all: nothing forbidden, but no sources.
    QByteArray junk;
    for (int i = 0; i < 4096; ++i)
        junk.append(char((i * 7919) & 0xFF));
    kestest::WriteBytes(Path(QStringLiteral("junk.buj")), junk);
    QList<TTaskSource> sources;
    EXPECT_EQ(CheckTaskFile(Path(QStringLiteral("junk.buj"))), 0);
    EXPECT_EQ(CheckTaskFile(Path(QStringLiteral("junk.buj")), &sources), 1);
    // Truncated in the middle of a UTF-16 code unit.
    QByteArray cut = kestest::Utf16LeWithBom(QStringLiteral("[Global]\r\nFtpBackup=1\r\nDirCou"));
    cut.chop(1);
    kestest::WriteBytes(Path(QStringLiteral("cut.buj")), cut);
    EXPECT_EQ(CheckTaskFile(Path(QStringLiteral("cut.buj"))), 1);
}

TEST_F(TaskFileTest, UnreadableTaskFile)
{
    // Larger than any task file may be: the reader refuses to load it.
    const QString big = Path(QStringLiteral("big.buj"));
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("\xFF\xFE", 2);
        ASSERT_TRUE(f.resize(300LL * 1024 * 1024)); // sparse
    }
    EXPECT_EQ(CheckTaskFile(big), 3);

    TMonTask task(big, Path(QStringLiteral("data/one")));
    const ReadResult r = Read(task);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(task.MonStatus, mtInvalid);
    ASSERT_EQ(r.log.size(), 1);
    EXPECT_TRUE(r.log[0].startsWith(big + QStringLiteral(": "))) << r.log[0].toStdString();
    EXPECT_GT(r.log[0].size(), big.size() + 2);
}

TEST_F(TaskFileTest, SourceList)
{
    const QString one = Path(QStringLiteral("data/one"));
    const QString two = Path(QStringLiteral("data/two"));
    QList<TTaskSource> sources;

    const QString none = Write(QStringLiteral("none.buj"), QStringLiteral("[Global]\nDirCount=0\n"));
    EXPECT_EQ(CheckTaskFile(none), 0);
    EXPECT_EQ(CheckTaskFile(none, &sources), 1);
    EXPECT_TRUE(sources.isEmpty());

    // Dir001 missing, Dir003 beyond DirCount, a missing directory, an empty
    // Source, and a section name that is not written as the program writes
    // it ("Dir0004").
    const QString gaps = Write(QStringLiteral("gaps.buj"),
        QStringLiteral("[Global]\nDirCount=5\n"
                       "[dir002]\nSource=%2\n"
                       "[Dir000]\nSource=%1\n"
                       "[Dir003]\nSource=%3\n"
                       "[Dir004]\nSource=\n"
                       "[Dir0004]\nSource=%1\n"
                       "[Dir005]\nSource=%1\n")
            .arg(one, two, Path(QStringLiteral("gone"))));
    EXPECT_EQ(CheckTaskFile(gaps, &sources), 0);
    ASSERT_EQ(sources.size(), 2);
    EXPECT_EQ(sources[0].Dir, one);
    EXPECT_EQ(sources[0].Index, 0);
    EXPECT_EQ(sources[1].Dir, two);
    EXPECT_EQ(sources[1].Index, 2);

    // Hostile counts: nothing is allocated or looped over by the count.
    struct Count {
        const char* text;
        int expected;
        int listed;
    } counts[] = {{"-5", 1, 0}, {"2147483647", 0, 2}, {"100000", 0, 2}, {"0x7FFFFFFF", 0, 2}, {"junk", 1, 0}};
    for (const Count& c : counts) {
        SCOPED_TRACE(c.text);
        const QString file = Write(QStringLiteral("count.buj"),
            QStringLiteral("[Global]\nDirCount=%1\n[Dir000]\nSource=%2\n[Dir99999]\nSource=%3\n")
                .arg(QString::fromUtf8(c.text), one, two));
        EXPECT_EQ(CheckTaskFile(file, &sources), c.expected);
        EXPECT_EQ(sources.size(), c.listed);
    }
    // A refused task lists nothing.
    const QString ftp = Write(QStringLiteral("ftp.buj"),
        QStringLiteral("[Global]\nFtpBackup=1\nDirCount=1\n[Dir000]\nSource=%1\n").arg(one));
    EXPECT_EQ(CheckTaskFile(ftp, &sources), 1);
    EXPECT_TRUE(sources.isEmpty());
}

TEST_F(TaskFileTest, ReadsTheSectionOfTheTasksDirectory)
{
    const QString one = Path(QStringLiteral("data/one"));
    const QString two = Path(QStringLiteral("data/two"));
    const QString file = Write(QStringLiteral("full.buj"),
        QStringLiteral("[Global]\n"
                       "Destination=/mnt/backup\n"
                       "DestMode=0\n"
                       "DriveId=Lw?\n"
                       "Compress=1\n"
                       "CompressAsZip=1\n"
                       "NoCompTypes=mp3,ogg\n"
                       "DirCount=3\n"
                       "[Dir000]\nSource=%1\nInclude=doc\n"
                       "[Dir002]\n"
                       "Source=%2\n"
                       "BackupMode=1\n"
                       "Include=doc\n"
                       "Exclude=tmp, BAK\n"
                       "FilterMode=2\n"
                       "Filter=~*|*.log\n"
                       "IncludeDirs=1\n"
                       "SubCount=2\n"
                       "SubDir000=docs\n"
                       "SubDir001=src\\lib\n"
                       "DirFilter=cache*\n")
            .arg(one, two));
    TMonTask task(file, two);
    task.MonStatus = mtDisabled;
    const ReadResult r = Read(task);
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.log.isEmpty());
    EXPECT_EQ(task.MonStatus, mtDisabled); // a good read does not change the state
    EXPECT_EQ(task.DestDir, QStringLiteral("/mnt/backup/"));
    EXPECT_EQ(task.DestMode, 0);
    EXPECT_EQ(task.DrvId, QStringLiteral("Lw?"));
    EXPECT_EQ(task.Compress, 2);
    EXPECT_EQ(task.NoCompCommaText, QStringLiteral("mp3,ogg"));

    const TMonFilter& f = task.MonFilter;
    EXPECT_FALSE(f.IncludeExts);
    EXPECT_EQ(f.ExtList.ToStringList(), (QStringList {"BAK", "tmp"}));
    EXPECT_EQ(f.FileFilter.Mode(), fmExclude);
    EXPECT_EQ(f.FileFilter.Filter(), QStringLiteral("~*.*|*.log"));
    EXPECT_TRUE(f.IncludeSubDirs);
    EXPECT_EQ(f.SubDirList.ToStringList(), (QStringList {"docs", "src/lib"}));
    EXPECT_EQ(f.SubDirFilter.Mode(), fmInclude);
    EXPECT_FALSE(f.SubDirFilter.Regular());
    EXPECT_EQ(f.SubDirFilter.Filter(), QStringLiteral("cache*"));

    // With IncludeDirs both the list and the directory filter must agree.
    EXPECT_TRUE(MatchesSelection(f, u"src/lib/cache1/a.c"));
    EXPECT_FALSE(MatchesSelection(f, u"src/lib/a.c"));
    EXPECT_FALSE(MatchesSelection(f, u"x/cache1/a.c"));
    EXPECT_FALSE(MatchesSelection(f, u"docs/a.tmp"));
    EXPECT_FALSE(MatchesSelection(f, u"docs/~a.doc"));
    EXPECT_FALSE(MatchesSelection(f, u"a.c"));

    // The source is found without regard to case; on Linux the directory
    // then exists only as written.
    TMonTask upper(file, one.toUpper());
    const ReadResult ru = Read(upper);
    EXPECT_EQ(ru.code, 2);
    EXPECT_EQ(ru.log, QStringList {QStringLiteral("Directory \"%1\" not found!").arg(one.toUpper())});
}

TEST_F(TaskFileTest, GlobalSettings)
{
    struct Case {
        const char* global;
        const char* destDir;
        int destMode;
        const char* drvId;
        int compress;
        const char* noComp;
    } cases[] = {
        {"", "/backup/", 0, "Drv?", 0, "zip,jpg"},
        {"DestMode=1\nDriveId=X?", "/backup/", 1, "", 0, "zip,jpg"},
        {"DestMode=-1", "/backup/", -1, "", 0, "zip,jpg"},
        {"DriveId=", "/backup/", 0, "", 0, "zip,jpg"},
        {"Compress=1", "/backup/", 0, "Drv?", 1, "zip,jpg"},
        {"Compress=0\nCompressAsZip=1", "/backup/", 0, "Drv?", 0, "zip,jpg"},
        {"NoCompTypes=#", "/backup/", 0, "Drv?", 0, ""},
        {"NoCompTypes=rar", "/backup/", 0, "Drv?", 0, "rar"},
        {"Destination=E:\\Backup", "E:\\Backup\\", 0, "Drv?", 0, "zip,jpg"},
        {"Destination=:USB:\\B\\", ":USB:\\B\\", 0, "Drv?", 0, "zip,jpg"},
        {"Destination=/b/", "/b/", 0, "Drv?", 0, "zip,jpg"},
        {"Destination=", "", 0, "Drv?", 0, "zip,jpg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.global);
        // Keys of the case first: of two equal keys the first counts.
        const QString file = Write(QStringLiteral("g.buj"),
            QStringLiteral("[Global]\n%1\nDestination=/backup\nDirCount=1\n[Dir000]\nSource=%2\n")
                .arg(QString::fromUtf8(c.global), Path(QStringLiteral("data/one"))));
        TMonTask task(file, Path(QStringLiteral("data/one")));
        ASSERT_EQ(Read(task).code, 0);
        EXPECT_EQ(task.DestDir, QString::fromUtf8(c.destDir));
        EXPECT_EQ(task.DestMode, c.destMode);
        EXPECT_EQ(task.DrvId, QString::fromUtf8(c.drvId));
        EXPECT_EQ(task.Compress, c.compress);
        EXPECT_EQ(task.NoCompCommaText, QString::fromUtf8(c.noComp));
    }
}

TEST_F(TaskFileTest, FileFilterSettings)
{
    struct Case {
        const char* keys;
        const char* filter;
        TFilterMode mode;
        bool regular;
        bool logged;
    } cases[] = {
        {"FilterMode=1", "*.*", fmInclude, false, false},
        {"FilterMode=1\nFilter=*.*", "*.*", fmInclude, false, false},
        {"FilterMode=1\nFilter=", "*", fmOff, false, false},
        {"FilterMode=1\nFilter=[ab", "*", fmOff, false, true},
        {"FilterMode=2\nFilter=*.tmp|~*", "*.tmp|~*.*", fmExclude, false, false},
        {"FilterMode=0\nFilter=*.doc", "*.doc", fmOff, false, false},
        {"FilterMode=7\nFilter=*.doc", "*.doc", fmOff, false, false},
        {"Regular=1\nFilterMode=1", ".", fmInclude, true, false},
        {"Regular=1\nFilterMode=1\nFilter=*.*", ".", fmInclude, true, false},
        {"Regular=1\nFilterMode=2\nFilter=\\.tmp$", "\\.tmp$", fmExclude, true, false},
        // A broken expression switches the filter off instead of excluding
        // every file.
        {"Regular=1\nFilterMode=2\nFilter=(", ".", fmOff, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        const QString file = WriteSimple(QString(), QString::fromUtf8(c.keys));
        TMonTask task(file, Path(QStringLiteral("data/one")));
        const ReadResult r = Read(task);
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(task.MonFilter.FileFilter.Filter(), QString::fromUtf8(c.filter));
        EXPECT_EQ(task.MonFilter.FileFilter.Mode(), c.mode);
        EXPECT_EQ(task.MonFilter.FileFilter.Regular(), c.regular);
        EXPECT_EQ(r.log.size(), c.logged ? 1 : 0);
        if (c.logged) {
            EXPECT_TRUE(r.log[0].startsWith(file + QStringLiteral(": Illegal")));
        }
    }
}

TEST_F(TaskFileTest, DirectoryFilterSettings)
{
    struct Case {
        const char* dirFilter;
        const char* filter;
        TFilterMode mode;
        bool regular;
    } cases[] = {
        {"", "*", fmOff, false},
        {"#temp,cache", "temp|cache", fmInclude, true},
        {"##x,y", "#x|y", fmInclude, false},
        {"old*,tmp", "old*|tmp", fmInclude, false},
        {"#(", ".", fmOff, true},
        {"[x", "*", fmOff, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dirFilter);
        const QString file
            = WriteSimple(QString(), QStringLiteral("DirFilter=") + QString::fromUtf8(c.dirFilter));
        TMonTask task(file, Path(QStringLiteral("data/one")));
        ASSERT_EQ(Read(task).code, 0);
        EXPECT_EQ(task.MonFilter.SubDirFilter.Filter(), QString::fromUtf8(c.filter));
        EXPECT_EQ(task.MonFilter.SubDirFilter.Mode(), c.mode);
        EXPECT_EQ(task.MonFilter.SubDirFilter.Regular(), c.regular);
    }
}

TEST_F(TaskFileTest, SubDirectoryEntries)
{
    const QString file = WriteSimple(QString(),
        QStringLiteral("SubCount=9\n"
                       "SubDir000=\"quoted dir\"\n"
                       "SubDir001=C:\\Other\n"
                       "SubDir002=\\rooted\n"
                       "SubDir003=/abs\n"
                       "SubDir004=win\\sub\\\n"
                       "SubDir005=\n"
                       "SubDir006=..\\up\n"
                       "SubDir007=\"\"\n"
                       "SubDir009=beyond\n"
                       "SubDir0008=badname\n"));
    TMonTask task(file, Path(QStringLiteral("data/one")));
    ASSERT_EQ(Read(task).code, 0);
    EXPECT_EQ(task.MonFilter.SubDirList.ToStringList(), (QStringList {"../up", "quoted dir", "win/sub/"}));

    // Read again after the entries are gone: the list is replaced.
    WriteSimple(QString(), QStringLiteral("SubCount=9\n"));
    ASSERT_EQ(Read(task).code, 0);
    EXPECT_TRUE(task.MonFilter.SubDirList.IsEmpty());
}

TEST_F(TaskFileTest, DirectoryNotUsable)
{
    const QString one = Path(QStringLiteral("data/one"));
    const QString gone = Path(QStringLiteral("data/gone"));
    const QString file = Write(QStringLiteral("d.buj"),
        QStringLiteral("[Global]\nDirCount=2\n[Dir000]\nSource=%1\n"
                       "[Dir001]\nSource=%2\n")
            .arg(one, gone));
    struct Case {
        QString dir;
        QString message;
    } cases[] = {
        {Path(QStringLiteral("data/two")),
            QStringLiteral("Directory \"%1\" not specified in %2!")
                .arg(Path(QStringLiteral("data/two")), file)},
        {QString(), QStringLiteral("Directory \"\" not specified in %1!").arg(file)},
        {gone, QStringLiteral("Directory \"%1\" not found!").arg(gone)},
        {one + u'/',
            QStringLiteral("Directory \"%1/\" not specified in %2!").arg(one, file)}, // compared as written
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir.toStdString());
        TMonTask task(file, c.dir);
        const ReadResult r = Read(task);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(task.MonStatus, mtInvalid);
        EXPECT_EQ(r.log, QStringList {c.message});
    }
    // A task file that vanished reads as empty: the directory is not in it.
    TMonTask task(Path(QStringLiteral("vanished.buj")), one);
    const ReadResult r = Read(task);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(
        r.log, QStringList {QStringLiteral("Directory \"%1\" not specified in %2!").arg(one, task.BuTask)});
}

TEST(TaskFileTexts, LayoutAndInvalidTaskText)
{
    EXPECT_EQ(LayoutText(0), QStringLiteral("Separate directories for drives"));
    EXPECT_EQ(LayoutText(1), QStringLiteral("Full original directory structure"));
    EXPECT_EQ(LayoutText(-1), QStringLiteral("Invalid task configuration"));
    EXPECT_EQ(LayoutText(2), QStringLiteral("Invalid task configuration"));
    EXPECT_EQ(InvalidTaskText(QStringLiteral("/j/a.buj")),
        QStringLiteral("The backup task \"/j/a.buj\" has invalid settings!\r\n"
                       "The following conditions must be met for Selwand:\r\n"
                       "Backup method: Separate files - Separate directories for drives\r\n"
                       "or Original full directory structure, no FTP, no encryption, no placeholders"));
}

TEST(TaskFileTexts, DriveDirName)
{
    struct Case {
        const char* driveId;
        const char* drive;
        const char* expected;
    } cases[] = {
        {"Drv?", "c:", "DrvC\\"}, {"Drv?", "C:", "DrvC\\"}, {"Lw", "d:", "LwD\\"}, {"?-?", "e:", "E-E\\"},
        {"", "f:", "F\\"}, {"Drv?", "\\\\nas\\data", "nas\\data\\"},
        {"Drv?", "\\\\nas\\data\\", "nas\\data\\"}, {"Drv?", "vol", "vol\\"}, {"Drv?", "", "\\"},
        {"Drv?", "1:", "Drv1\\"}, {"Drv?", "\u00e4:", "Drv\u00e4\\"}, // only a..z change case
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.drive);
        EXPECT_EQ(DriveDirName(QString::fromUtf8(c.driveId), QString::fromUtf8(c.drive)),
            QString::fromUtf8(c.expected));
    }
}

TEST(TaskFileTexts, PlaceholdersAndDelimiters)
{
    struct Case {
        const char* dest;
        bool placeholder;
        const char* withDelimiter;
    } cases[] = {
        {"D:\\50%\\100%", true, "D:\\50%\\100%\\"},
        {"D:\\B\\%hour%", false, "D:\\B\\%hour%\\"},
        {"/b/%HOUR%/x", false, "/b/%HOUR%/x/"},
        {"/b/%Hour%%hour%", false, "/b/%Hour%%hour%/"},
        {"/b/%hour%%", false, "/b/%hour%%/"},
        {"/b/%hour%hour%", false, "/b/%hour%hour%/"},
        {"/b/%date%", true, "/b/%date%/"},
        {"/b/%hour%/%x%", true, "/b/%hour%/%x%/"},
        {"/b/", false, "/b/"},
        {"", false, ""},
        {":USB:", false, ":USB:/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dest);
        EXPECT_EQ(DestinationHasPlaceholder(QString::fromUtf8(c.dest)), c.placeholder);
        EXPECT_EQ(IncludeTrailingDelimiter(QString::fromUtf8(c.dest)), QString::fromUtf8(c.withDelimiter));
    }
}

TEST(TaskFileTexts, VolumeLabelPart)
{
    struct Case {
        const char* dest;
        bool ok;
        const char* label;
    } cases[] = {
        {":USBDISK:\\Backup", true, "USBDISK"},
        {":USBDISK:/Backup", true, "USBDISK"},
        {":USBDISK:", true, "USBDISK"},
        {":My Disk:  \\B", true, "My Disk"},
        {":My Disk  :\\B", true, "My Disk  "}, // blanks inside the colons stay
        {":A::B:\\x", true, "A:B"},
        {":A::B\\:\\x", true, "A:B\\"}, // a backslash after an odd number of colons is part of the label
        {"::\\x", false, ""},
        {"E:\\Backup", false, ""},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dest);
        QString label = QStringLiteral("stale");
        EXPECT_EQ(GetVolumeLabelPart(QString::fromUtf8(c.dest), label), c.ok);
        EXPECT_EQ(label, QString::fromUtf8(c.label));
    }
}

TEST_F(TaskFileTest, ResolveVolumeName)
{
    // A mounted file system labelled "Backup Disk" and one labelled "OTHER"
    // that is not mounted.
    const QString dev = Path(QStringLiteral("dev"));
    ASSERT_TRUE(QDir().mkpath(dev + QStringLiteral("/disk/by-label")));
    ASSERT_TRUE(
        QFile::link(QStringLiteral("../../sdb1"), dev + QStringLiteral("/disk/by-label/Backup\\x20Disk")));
    ASSERT_TRUE(QFile::link(QStringLiteral("../../sdc1"), dev + QStringLiteral("/disk/by-label/OTHER")));
    const QString mount = Path(QStringLiteral("media/ann/Backup Disk"));
    QByteArray mountinfo = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                           "90 22 8:17 / "
        + QFile::encodeName(mount).replace(" ", "\\040")
        + " rw,nosuid,nodev shared:40 - vfat /dev/sdb1 rw,uid=1000\n";
    kestest::WriteBytes(Path(QStringLiteral("mountinfo")), mountinfo);
    const platform::TVolumeSources sources {Path(QStringLiteral("mountinfo")),
        dev + QStringLiteral("/disk/by-label"), dev, Path(QStringLiteral("fstab")),
        Path(QStringLiteral("sys"))};

    struct Case {
        const char* dest;
        int result;
        QString resolved;
        const char* label;
    } cases[] = {
        {":Backup Disk:\\Kestrup\\Docs\\", 1, mount + QStringLiteral("/Kestrup/Docs/"), "Backup Disk"},
        {":backup disk:/Kestrup/", 1, mount + QStringLiteral("/Kestrup/"), "backup disk"},
        {":BACKUP DISK:", 1, mount + u'/', "BACKUP DISK"},
        {":OTHER:\\x\\", 2, QStringLiteral(":OTHER:\\x\\"), "OTHER"},
        {":NONE:\\x\\", 2, QStringLiteral(":NONE:\\x\\"), "NONE"},
        {"/plain/dir/", 0, QStringLiteral("/plain/dir/"), ""},
        {"", 2, QString(), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dest);
        QString dest = QString::fromUtf8(c.dest);
        QString label;
        EXPECT_EQ(ResolveVolumeName(dest, label, sources), c.result);
        EXPECT_EQ(dest, c.resolved);
        EXPECT_EQ(label, QString::fromUtf8(c.label));
    }
    EXPECT_EQ(FindDriveByLabel(QStringLiteral("backup DISK"), sources), mount + u'/');
    EXPECT_EQ(FindDriveByLabel(QStringLiteral("OTHER"), sources), QString());
}
