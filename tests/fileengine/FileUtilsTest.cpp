// The engine's bottom layer: the long-path rule, the XL wrappers and the
// attribute mapping, times and their conversions, whole-file operations
// and system texts.
#include "fileengine/FileUtils.h"
#include "EngineTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kes;
using kestest::ReadBytes;
using kestest::WriteBytes;

namespace {

// Sets TZ for the lifetime of the object.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone)
        : FOld(qgetenv("TZ"))
        , FHad(qEnvironmentVariableIsSet("TZ"))
    {
        qputenv("TZ", zone);
    }
    ~ZoneGuard()
    {
        if (FHad)
            qputenv("TZ", FOld);
        else
            qunsetenv("TZ");
    }

private:
    QByteArray FOld;
    bool FHad;
};

qint64 ModSecs(const QString& path)
{
    return QFileInfo(path).lastModified().toSecsSinceEpoch();
}

TEST(PathRule, MakeExtendedPath)
{
    const QString drive247 = "C:\\" + QString(244, 'a');
    const QString drive248 = drive247 + "b";
    const QString relativeLong = QString(400, 'r');
    struct Case {
        QString in, out;
    } cases[] = {
        {"\\\\server\\share\\file.txt", "\\\\?\\UNC\\server\\share\\file.txt"},
        {"\\\\?\\C:\\already", "\\\\?\\C:\\already"},
        {drive247, drive247},
        {drive248, "\\\\?\\" + drive248},
        {relativeLong, relativeLong},
        {"x", "x"},
        {"", ""},
        {"/home/user/file", "/home/user/file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in.left(40).toStdString());
        EXPECT_EQ(MakeExtendedPath(c.in), c.out);
    }
    EXPECT_EQ(drive247.size(), 247);
    // Linux hands names to the system unchanged.
    EXPECT_EQ(SystemPathXL(drive248), drive248);
}

class FileUtilsTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(FileUtilsTest, WrappersDeleteRenameAndCreateFolders)
{
    EXPECT_EQ(DeleteExistingFileXL(Path("missing"), true), 0);
    EXPECT_EQ(DeleteFileXL(Path("missing"), true), 2);

    WriteBytes(Path("ro"), "x");
    ASSERT_EQ(FileSetAttrXL(Path("ro"), faReadOnly), 0);
    EXPECT_EQ(DeleteFileXL(Path("ro"), true), 0);
    EXPECT_FALSE(FileExistsXL(Path("ro")));

    WriteBytes(Path("a"), "a");
    WriteBytes(Path("b"), "b");
    EXPECT_NE(RenameFileXL(Path("a"), Path("b")), 0); // never replaces
    EXPECT_EQ(ReadBytes(Path("b")), "b");
    EXPECT_EQ(RenameFileXL(Path("a"), Path("c")), 0);
    EXPECT_EQ(ReadBytes(Path("c")), "a");

    EXPECT_TRUE(ForceDirectoriesXL(Path("x/y/z/")));
    EXPECT_TRUE(DirectoryExistsXL(Path("x/y/z")));
    EXPECT_FALSE(FileExistsXL(Path("x/y")));
    EXPECT_TRUE(ForceDirectoriesXL(Path("x/y/z")));
    EXPECT_FALSE(ForceDirectoriesXL(Path("c/sub"))); // c is a file

    // A dangling link is a file when the link itself is examined.
    ASSERT_TRUE(QFile::link(Path("nowhere"), Path("dangling")));
    EXPECT_FALSE(FileExistsXL(Path("dangling")));
    EXPECT_TRUE(FileExistsXL(Path("dangling"), false));
    EXPECT_EQ(DeleteExistingFileXL(Path("dangling")), 0);
    EXPECT_FALSE(QFileInfo(Path("dangling")).isSymLink());
}

TEST_F(FileUtilsTest, AttributesMapToPermissionBits)
{
    WriteBytes(Path("f"), "x");
    QDir().mkdir(Path("d"));
    EXPECT_EQ(FileGetAttrXL(Path("f")), faArchive);
    EXPECT_EQ(FileGetAttrXL(Path("d")), faDirectory);
    EXPECT_EQ(FileGetAttrXL(Path("none")), -1);

    // The directory bit (and every bit outside $31A7) is never passed on.
    EXPECT_EQ(FileSetAttrXL(Path("f"), faDirectory | faReadOnly | faHidden), 0);
    EXPECT_EQ(FileGetAttrXL(Path("f")), faArchive | faReadOnly);
    EXPECT_EQ(
        QFileInfo(Path("f")).permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther),
        QFile::Permissions());
    EXPECT_EQ(ChangeAttributesXL(Path("f"), faReadOnly, true), 0);
    EXPECT_EQ(FileGetAttrXL(Path("f")), faArchive);
    EXPECT_TRUE(QFileInfo(Path("f")).permissions() & QFile::WriteOwner);
    EXPECT_EQ(ChangeAttributesXL(Path("none"), faReadOnly, true), 2);

    ASSERT_TRUE(QFile::link(Path("f"), Path("link")));
    EXPECT_EQ(FileGetAttrXL(Path("link"), false), faArchive | faReparsePoint);
    EXPECT_EQ(FileGetAttrXL(Path("link"), true), faArchive);
}

TEST_F(FileUtilsTest, CheckedTimesAndTimestampRecords)
{
    ZoneGuard utc("UTC");
    WriteBytes(Path("f"), "x");
    const TFileTime now = CurrentFileTime();
    const TFileTime hour = kFileTimeTicksPerDay / 24;
    ASSERT_EQ(SetFileModTime(Path("f"), now + 30 * hour, true), 0);
    EXPECT_LE(qAbs(ModSecs(Path("f")) - FileTimeToUnixTime(now)), 5);
    auto modMs = [&] { return QFileInfo(Path("f")).lastModified().toMSecsSinceEpoch(); };
    ASSERT_EQ(SetFileModTime(Path("f"), now + 20 * hour, true), 0);
    EXPECT_EQ(modMs(), FileTimeToUnixNs(now + 20 * hour) / 1000000);
    ASSERT_EQ(SetFileModTime(Path("f"), now + 30 * hour, false), 0);
    EXPECT_EQ(modMs(), FileTimeToUnixNs(now + 30 * hour) / 1000000);

    // An invalid record writes the current time: access and modification
    // time with CopyCreationTime, the modification time alone otherwise.
    const QDateTime old = QDateTime::fromSecsSinceEpoch(1000000000, Qt::UTC);
    auto reset = [&] {
        QFile f(Path("f"));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(old, QFileDevice::FileModificationTime));
        ASSERT_TRUE(f.setFileTime(old, QFileDevice::FileAccessTime));
    };
    TFileTimestamps invalid;
    reset();
    ASSERT_EQ(SetFileTimestamps(Path("f"), invalid, true, false, true), 0);
    EXPECT_GT(ModSecs(Path("f")), 1000000000 + 1000);
    EXPECT_GT(QFileInfo(Path("f")).lastRead().toSecsSinceEpoch(), 1000000000 + 1000);
    reset();
    ASSERT_EQ(SetFileTimestamps(Path("f"), invalid, true, false, false), 0);
    EXPECT_GT(ModSecs(Path("f")), 1000000000 + 1000);
    EXPECT_EQ(QFileInfo(Path("f")).lastRead().toSecsSinceEpoch(), 1000000000);

    TFileTimestamps ts;
    ts.SetTimeStamps(QDateTime::fromSecsSinceEpoch(900000000), QDateTime::fromSecsSinceEpoch(1100000000));
    EXPECT_TRUE(ts.Valid);
    EXPECT_EQ(FileTimeToUnixTime(ts.CreationTime), 900000000);
    EXPECT_EQ(ts.LastAccessTime, ts.LastWriteTime);
    ASSERT_EQ(SetFileTimestamps(Path("f"), ts, true, false, false), 0);
    EXPECT_EQ(ModSecs(Path("f")), 1100000000);
    ts.Reset();
    EXPECT_FALSE(ts.Valid);
    EXPECT_EQ(ts.LastWriteTime, 0);
}

TEST(TimeConversion, UnixSecondsRoundHalfToEven)
{
    const TFileTime second = 10000000;
    struct Case {
        TFileTime ft;
        qint64 unix;
    } cases[] = {
        {kUnixEpochFileTime, 0},
        {kUnixEpochFileTime + 4999999, 0},
        {kUnixEpochFileTime + 5000000, 0}, // tie: to even
        {kUnixEpochFileTime + second + 5000000, 2}, // tie: to even
        {kUnixEpochFileTime + 5000001, 1},
        {kUnixEpochFileTime - 5000000, 0}, // tie below 1970
        {kUnixEpochFileTime - 15000000, -2},
        {kUnixEpochFileTime + 1700000000 * second, 1700000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ft);
        EXPECT_EQ(FileTimeToUnixTime(c.ft), c.unix);
    }
}

TEST(TimeConversion, DosTimesAreLocalTime)
{
    ZoneGuard berlin("Europe/Berlin");
    const qint64 times[] = {1689424496, 1704067199, 315532800, 4354819199, 946684800};
    for (qint64 t : times) {
        SCOPED_TRACE(t);
        const auto r = enginetest::Python(
            "import sys, time\n"
            "t = time.localtime(int(sys.argv[1]))\n"
            "print(-1 if not 1980 <= t.tm_year <= 2107 else ((t.tm_year - 1980) << 25 | t.tm_mon << 21 | "
            "t.tm_mday << 16 | t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec // 2))\n",
            {QString::number(t)});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const qint64 expected = r.out.trimmed().toLongLong();
        EXPECT_EQ(FileTimeToDosTime(kUnixEpochFileTime + t * 10000000), qint32(quint32(expected)));
    }
    EXPECT_EQ(FileTimeToDosTime(kUnixEpochFileTime), -1); // 1970: before DOS times
    EXPECT_EQ(FileTimeToDosTime(-5), -1);
}

TEST_F(FileUtilsTest, DirectoryDosTimeOnlyForDirectories)
{
    WriteBytes(Path("f"), "x");
    EXPECT_EQ(GetDirDosTime(Path("f")), -1);
    EXPECT_EQ(GetDirDosTime(Path("none")), -1);
    EXPECT_NE(GetDirDosTime(dir.path()), -1);
}

TEST_F(FileUtilsTest, CopyFileExtCopiesAndReportsWithMessages)
{
    WriteBytes(Path("src"), enginetest::MixedData(700000));
    {
        QFile f(Path("src"));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(
            QDateTime::fromSecsSinceEpoch(1500000000, Qt::UTC), QFileDevice::FileModificationTime));
    }
    WriteBytes(Path("dst"), "old");
    ASSERT_EQ(FileSetAttrXL(Path("dst"), faReadOnly), 0);
    CopyFileExt(Path("src"), Path("dst"), -1, 0x10000);
    EXPECT_EQ(ReadBytes(Path("dst")), ReadBytes(Path("src")));
    EXPECT_EQ(ModSecs(Path("dst")), 1500000000);
    EXPECT_EQ(FileGetAttrXL(Path("dst")), faArchive);

    // The same file under another name (a link to it) is left alone.
    ASSERT_EQ(QFile::link(Path("src"), Path("soft")), true);
    CopyFileExt(Path("src"), Path("soft"));
    EXPECT_TRUE(QFileInfo(Path("soft")).isSymLink());

    try {
        CopyFileExt(Path("missing"), Path("dst2"));
        FAIL() << "no exception";
    } catch (const ECopyError& e) {
        EXPECT_EQ(e.ErrorCode(), 2);
        EXPECT_EQ(e.Message(), "File not found: \"" + Path("missing") + "\"");
    }
    try {
        CopyFileExt(Path("src"), Path("nodir/dst"));
        FAIL() << "no exception";
    } catch (const ECopyError& e) {
        EXPECT_EQ(e.ErrorCode(), 2);
        EXPECT_EQ(e.Message(), "Error creating \"" + Path("nodir/dst") + "\"");
    }
}

TEST_F(FileUtilsTest, CopyFileContentAndUtf8TextFiles)
{
    const QByteArray data = enginetest::MixedData(300001);
    WriteBytes(Path("src"), data);
    EXPECT_EQ(CopyFileContent(Path("src"), Path("dst"), 4096), 0);
    EXPECT_EQ(ReadBytes(Path("dst")), data);
    EXPECT_EQ(CopyFileContent(Path("missing"), Path("dst2")), 2);
    EXPECT_FALSE(QFile::exists(Path("dst2")));

    EXPECT_EQ(CreateUtf8TextFile(Path("log.txt")), 0);
    EXPECT_EQ(ReadBytes(Path("log.txt")), "\xEF\xBB\xBF");
    WriteBytes(Path("log.txt"), "old text");
    EXPECT_EQ(CreateUtf8TextFile(Path("log.txt")), 0);
    EXPECT_EQ(ReadBytes(Path("log.txt")), "\xEF\xBB\xBF");
    EXPECT_NE(CreateUtf8TextFile(Path("no/such/log.txt")), 0);
}

TEST_F(FileUtilsTest, StreamsReportSystemCodes)
{
    try {
        TExtFileStream s(Path("missing"), fmOpenRead);
        FAIL() << "no exception";
    } catch (const EExtFileStreamError& e) {
        EXPECT_EQ(e.ErrorCode(), 2);
        EXPECT_EQ(e.Message(), "Cannot open file \"" + Path("missing") + "\". No such file or directory");
    }
    WriteBytes(Path("f"), "abc");
    TExtFileStream readOnly(Path("f"), fmOpenRead);
    qint64 done = 0;
    EXPECT_NE(readOnly.Write("x", 1, done), 0);
    EXPECT_EQ(done, -1);
    char buf[10];
    EXPECT_EQ(readOnly.Read(buf, 10, done), 0);
    EXPECT_EQ(done, 3);
    EXPECT_EQ(readOnly.Size(), 3);

    QString final;
    EXPECT_TRUE(GetFinalFileName(readOnly.Handle(), final));
    EXPECT_EQ(final, QFileInfo(Path("f")).canonicalFilePath());
    ASSERT_TRUE(QFile::link(Path("f"), Path("l")));
    QString target;
    EXPECT_TRUE(GetReparseTarget(Path("l"), target));
    EXPECT_EQ(target, QFileInfo(Path("f")).canonicalFilePath());
    EXPECT_FALSE(GetReparseTarget(Path("f"), target));
}

TEST(SystemTexts, CodesWithTheirHexValue)
{
    EXPECT_EQ(SysErrorText(2), "No such file or directory (0x00000002)");
    EXPECT_EQ(SysErrorText(28), "No space left on device (0x0000001C)");
    EXPECT_EQ(SysErrorText(9999), "Error code = 0x0000270F");
    EXPECT_EQ(SystemErrorText(13), "System error: Permission denied (0x0000000D)");
}

} // namespace
