// kescopy --archive: folders with their contents and directory entries,
// names relative to each path's parent, passwords from the environment or
// standard input, split parts, the check of what it wrote, and failures
// that leave no archive behind (a missing path, a full disk).
#include "EngineTestSupport.h"
#include "fileengine/ZipWrite.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using enginetest::Kescopy;
using enginetest::KescopyResult;
using enginetest::MixedData;
using kestest::ReadBytes;
using kestest::WriteBytes;

namespace {

class KescopyArchiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteBytes(Path("work/tree/a.txt"), "alpha\n");
        WriteBytes(Path("work/tree/sub/b.bin"), MixedData(250000, 4));
        QDir().mkpath(Path("work/tree/empty"));
        WriteBytes(Path("other/single.txt"), "single file\n");
    }
    QString Path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(KescopyArchiveTest, FoldersAndFilesWithNamesBelowTheirParents)
{
    REQUIRE_TOOL("unzip");
    REQUIRE_TOOL("7z");
    const KescopyResult r
        = Kescopy({"--archive", Path("a.zip"), "-V", Path("work/tree/"), Path("other/single.txt")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto list = kestest::Run("unzip", {"-Z1", Path("a.zip")});
    EXPECT_EQ(list.out, "tree/\ntree/empty/\ntree/sub/\ntree/sub/b.bin\ntree/a.txt\nsingle.txt\n");
    EXPECT_EQ(kestest::Run("unzip", {"-tq", Path("a.zip")}).exitCode, 0);
    EXPECT_EQ(kestest::Run("unzip", {"-p", Path("a.zip"), "tree/sub/b.bin"}).out,
        ReadBytes(Path("work/tree/sub/b.bin")));
    EXPECT_EQ(Kescopy({"--check", Path("a.zip")}).exitCode, 0);

    // Stored with -l 0.
    ASSERT_EQ(Kescopy({"--archive", Path("s.zip"), "-l", "0", Path("other/single.txt")}).exitCode, 0);
    EXPECT_TRUE(kestest::Run("unzip", {"-v", Path("s.zip")}).out.contains("Stored"));
}

TEST_F(KescopyArchiveTest, EncryptedAndSplitArchivesOpenWith7z)
{
    REQUIRE_TOOL("7z");
    struct Case {
        QStringList options;
        QByteArray input;
        QStringList env;
    } cases[] = {
        {{"-e", "-k", "1"}, "from stdin\n", {}},
        {{"-e", "-k", "3", "--encrypt-names", "--password-env", "ZIPPW"}, {}, {"ZIPPW=from env"}},
        {{"--split", "64k"}, {}, {}},
        {{"-e", "--split", "100000"}, "split secret\n", {}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.join(' ').toStdString());
        const QString zip = Path(QStringLiteral("c%1.zip").arg(++n));
        const KescopyResult r = Kescopy(
            QStringList {"--archive", zip} + c.options + QStringList {Path("work/tree")}, c.input, c.env);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        QString password = QString::fromUtf8(c.input).trimmed();
        if (!c.env.isEmpty())
            password = c.env[0].section('=', 1);
        const QString out = Path(QStringLiteral("x%1").arg(n));
        QStringList args {"x", "-y", "-o" + out};
        if (!password.isEmpty())
            args << "-p" + password;
        args << zip;
        const auto x = kestest::Run("7z", args);
        ASSERT_EQ(x.exitCode, 0) << x.out.toStdString();
        if (c.options.contains("--encrypt-names")) {
            EXPECT_FALSE(ReadBytes(zip).contains("b.bin"));
        } else {
            EXPECT_EQ(ReadBytes(out + "/tree/sub/b.bin"), ReadBytes(Path("work/tree/sub/b.bin")));
            EXPECT_TRUE(QDir(out + "/tree/empty").exists());
        }
        if (c.options.contains("--split")) {
            EXPECT_TRUE(QFile::exists(kes::ZipSegmentName(zip, 1)));
        }
        EXPECT_EQ(
            Kescopy({"--check", "-e", zip}, {}, {"KESCOPY_PASSWORD=" + (password.isEmpty() ? "x" : password)})
                .exitCode,
            0);
    }
}

TEST_F(KescopyArchiveTest, FailuresRemoveTheArchiveAndWrongUsageIsStatusThree)
{
    // A path that is not there: the archive begun is removed again.
    const KescopyResult gone
        = Kescopy({"--archive", Path("g.zip"), "--split", "64k", Path("work/tree"), Path("nothing")});
    EXPECT_EQ(gone.exitCode, 1);
    EXPECT_TRUE(gone.err.startsWith("Error - File not found: \"" + Path("nothing").toUtf8() + "\""))
        << gone.err.toStdString();
    EXPECT_TRUE(gone.err.trimmed().endsWith("(-> Zip)")) << gone.err.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList({"g.*"}, QDir::Files), QStringList());

    const KescopyResult tiny = Kescopy({"--archive", Path("t.zip"), "--split", "1000", Path("work/tree")});
    EXPECT_EQ(tiny.exitCode, 1);
    EXPECT_TRUE(tiny.err.startsWith("Error - Could not create file")) << tiny.err.toStdString();
    EXPECT_FALSE(QFile::exists(Path("t.zip")));

    struct Usage {
        QStringList args;
    } usages[] = {
        {{"--archive", Path("u.zip")}}, {{"--archive", Path("u.zip"), "--split", "12q", Path("work/tree")}},
        {{"--archive", Path("u.zip"), "--encrypt-names", Path("work/tree")}},
        {{"--split", "64k", Path("other/single.txt"), Path("copy.txt")}},
        {{"--archive", Path("u.zip"), "-e", Path("work/tree")}}, // no password anywhere
    };
    for (const Usage& u : usages) {
        SCOPED_TRACE(u.args.join(' ').toStdString());
        EXPECT_EQ(Kescopy(u.args).exitCode, 3);
    }
    EXPECT_FALSE(QFile::exists(Path("u.zip")));
}

TEST_F(KescopyArchiveTest, FullDiskIsLowDiskSpaceAndLeavesNothing)
{
    REQUIRE_TOOL("unshare");
    if (kestest::Run("unshare", {"-rm", "true"}).exitCode != 0)
        KESTEST_SKIP_OR_FAIL("no private mount namespaces here");
    WriteBytes(Path("work/tree/big.bin"), MixedData(2000000, 8));
    QDir().mkdir(Path("small"));
    for (const QStringList& options : {QStringList {}, QStringList {"--split", "64k"}, QStringList {"-e"}}) {
        SCOPED_TRACE(options.join(' ').toStdString());
        const QString script = "mount -t tmpfs -o size=256k tmpfs \"$1\" && d=$1 && shift && \"$@\"; rc=$?; "
                               "ls -A \"$d\"; exit $rc";
        QStringList args {"-rm", "sh", "-c", script, "sh", Path("small"), kestest::BuiltProgram("kescopy"),
            "--archive", Path("small/out.zip")};
        args += options;
        args << Path("work/tree");
        const auto r = kestest::Run("unshare", args, {"KESCOPY_PASSWORD=pw"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.startsWith("Error - Low disk space: \"" + Path("small/out.zip").toUtf8() + "\""))
            << r.err.toStdString();
        EXPECT_EQ(r.out, QByteArray()); // no part of an archive left
    }
}

// Killed after its first entry, kescopy leaves an archive without a
// central directory: no reader takes it for a complete one.
TEST_F(KescopyArchiveTest, KilledArchiveNeverLooksComplete)
{
    REQUIRE_TOOL("unzip");
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert("KES_TEST_PAUSE_AT", "zip-entry-added");
    p.setProcessEnvironment(e);
    p.start(kestest::BuiltProgram("kescopy"), {"--archive", Path("k.zip"), Path("work/tree")});
    ASSERT_TRUE(p.waitForStarted());
    QByteArray err;
    ASSERT_TRUE(kestest::WaitUntil(
        [&] {
            err += p.readAllStandardError();
            return err.contains("paused at zip-entry-added") || p.state() == QProcess::NotRunning;
        },
        std::chrono::seconds(60)))
        << err.toStdString();
    ASSERT_TRUE(err.contains("paused at zip-entry-added")) << err.toStdString();
    p.kill();
    ASSERT_TRUE(p.waitForFinished(30000));
    ASSERT_TRUE(QFile::exists(Path("k.zip")));
    EXPECT_NE(kestest::Run("unzip", {"-tq", Path("k.zip")}).exitCode, 0);
    EXPECT_NE(Kescopy({"--check", Path("k.zip")}).exitCode, 0);
}

TEST_F(KescopyArchiveTest, CheckNamesWhatIsDamaged)
{
    ASSERT_EQ(Kescopy({"--archive", Path("ok.zip"), "-l", "0", Path("work/tree")}).exitCode, 0);
    const QByteArray good = ReadBytes(Path("ok.zip"));
    // b.bin is stored: its data lie as they are in the archive.
    const QByteArray marker = ReadBytes(Path("work/tree/sub/b.bin")).mid(1000, 32);
    const qsizetype inData = good.indexOf(marker);
    ASSERT_GT(inData, 0);
    QByteArray flipped = good;
    flipped[inData] = char(~flipped[inData]);
    struct Case {
        const char* file;
        QByteArray bytes;
        QByteArray text; // %1: the archive
    } cases[] = {
        {"flipped.zip", flipped,
            "Error - Verification failed: \"tree/sub/b.bin\" (CRC or size of the data differ) (-> Zip)"},
        {"cut.zip", good.left(good.size() - 10),
            "Error - Invalid zip format: \"%1\" (The end record is missing) (-> Zip)"},
        {"nodir.zip", good.left(inData + 100),
            "Error - Invalid zip format: \"%1\" (The end record is missing) (-> Zip)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        WriteBytes(Path(c.file), c.bytes);
        const KescopyResult r = Kescopy({"--check", Path(c.file)});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err.trimmed(), QByteArray(c.text).replace("%1", Path(c.file).toUtf8()));
    }
}

} // namespace
