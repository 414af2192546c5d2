// The command-line front end: formats, passwords, exit status and texts,
// and a real full disk (a small tmpfs in a private mount namespace).
#include "EngineTestSupport.h"

#include "platform/FileSystem.h"

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

class KescopyTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(KescopyTest, CopiesInEveryFormatAndChecksTheResult)
{
    REQUIRE_TOOL("gzip");
    REQUIRE_TOOL("unzip");
    const QByteArray data = MixedData(300000);
    WriteBytes(Path("src.txt"), data);
    EXPECT_EQ(Kescopy({Path("src.txt"), Path("plain.txt"), "--verify"}).exitCode, 0);
    EXPECT_EQ(ReadBytes(Path("plain.txt")), data);
    EXPECT_EQ(Kescopy({"-z", "-l", "9", Path("src.txt"), Path("a.gz")}).exitCode, 0);
    EXPECT_EQ(kestest::Run("gzip", {"-dc", Path("a.gz")}).out, data);
    EXPECT_EQ(Kescopy({"--zip", "--store", "--verify", Path("src.txt"), Path("a.zip")}).exitCode, 0);
    EXPECT_EQ(kestest::Run("unzip", {"-p", Path("a.zip")}).out, data);
    EXPECT_EQ(Kescopy({"--check", Path("a.gz")}).exitCode, 0);
    EXPECT_EQ(Kescopy({"--check", Path("a.zip")}).exitCode, 0);

    // Passwords: from the environment or from standard input.
    EXPECT_EQ(
        Kescopy({"-Z", "-e", "-k", "3", Path("src.txt"), Path("e.zip")}, {}, {"KESCOPY_PASSWORD=pw one"})
            .exitCode,
        0);
    EXPECT_EQ(Kescopy({"--check", "-e", Path("e.zip")}, "pw one\n").exitCode, 0);
    EXPECT_EQ(
        Kescopy({"-e", "--password-env", "MY_PW", Path("src.txt"), Path("e.bin")}, {}, {"MY_PW=x"}).exitCode,
        0);
    const KescopyResult wrong = Kescopy({"--check", "-e", Path("e.bin")}, "y\n");
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_TRUE(wrong.err.startsWith("Error - Verification failed: \"" + Path("e.bin").toUtf8() + "\""))
        << wrong.err.toStdString();
    const KescopyResult none = Kescopy({"-e", Path("src.txt"), Path("e2.bin")});
    EXPECT_EQ(none.exitCode, 3);
    EXPECT_EQ(none.err.trimmed(), "No password given.");
}

TEST_F(KescopyTest, FailuresNameTheirFileAndExitNonZero)
{
    WriteBytes(Path("src"), "x");
    WriteBytes(Path("exists"), "y");
    const KescopyResult missing = Kescopy({Path("nope"), Path("dst")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err.trimmed(), "Error - File not found: \"" + Path("nope").toUtf8() + "\" (-> Copy)");
    const KescopyResult exists = Kescopy({"-z", Path("src"), Path("exists")});
    EXPECT_EQ(exists.exitCode, 1);
    EXPECT_TRUE(exists.err.startsWith(
        "Error - Could not create file: \"" + Path("exists").toUtf8() + "\" (System error: "))
        << exists.err.toStdString();
    EXPECT_TRUE(exists.err.trimmed().endsWith("(-> gzip)"));
    EXPECT_EQ(Kescopy({Path("src")}).exitCode, 3);
}

TEST_F(KescopyTest, CopiesKeepTheSourceModeAndNeverOverwriteTheSource)
{
    const QByteArray data = MixedData(70000);
    WriteBytes(Path("src"), data);
    ASSERT_TRUE(QFile::setPermissions(Path("src"), QFile::ReadOwner | QFile::WriteOwner));
    for (const QStringList& options : {QStringList(), QStringList {"-z"}, QStringList {"-Z"}}) {
        SCOPED_TRACE(options.join(' ').toStdString());
        QFile::remove(Path("copy"));
        EXPECT_EQ(Kescopy(options + QStringList {Path("src"), Path("copy")}).exitCode, 0);
        kes::platform::FileStatus st;
        ASSERT_EQ(kes::platform::GetFileStatus(Path("copy"), false, st), 0);
        EXPECT_EQ(st.mode, 0600u);
    }
    ASSERT_TRUE(QFile::link(Path("src"), Path("soft")));
    ASSERT_EQ(kestest::Run("ln", {Path("src"), Path("hard")}).exitCode, 0);
    for (const char* name : {"src", "soft", "hard"}) {
        SCOPED_TRACE(name);
        const KescopyResult r = Kescopy({"-f", Path("src"), Path(name)});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err.trimmed(),
            "Error - Could not create file: \"" + Path(name).toUtf8()
                + "\" (The destination is the source itself) (-> Copy)");
        EXPECT_EQ(ReadBytes(Path("src")), data);
    }
}

TEST_F(KescopyTest, WrongUsageExitsThreeAndChecksNameTheReadersOwnError)
{
    WriteBytes(Path("src"), "x");
    EXPECT_EQ(Kescopy({"--no-such-option", Path("src"), Path("dst")}).exitCode, 3);
    EXPECT_EQ(Kescopy({"-x", Path("src"), Path("dst")}).exitCode, 3);
    EXPECT_FALSE(QFile::exists(Path("dst")));
    EXPECT_EQ(Kescopy({"--help"}).exitCode, 0);

    WriteBytes(Path("damaged.gz"), "this is no gzip member");
    WriteBytes(Path("empty.gz"), QByteArray());
    WriteBytes(Path("damaged.zip"), "nor is this a zip archive, though it is long enough");
    WriteBytes(Path("data.bin"), MixedData(1000));
    WriteBytes(Path("locked.bin"), QByteArray("VLE\x5B", 4) + MixedData(100));
    struct Case {
        const char* file;
        QByteArray text; // %1: the file
    } cases[] = {
        {"damaged.gz", "Illegal file header: \"%1\" (No gzip signature) (-> gzip)"},
        {"empty.gz", "Could not read from file: \"%1\" (The file is shorter than a gzip header) (-> gzip)"},
        {"damaged.zip", "Illegal file header: \"%1\" (No zip signature) (-> Zip)"},
        {"data.bin",
            "Unsupported file format: \"%1\" (The file is neither a gzip member nor a zip archive nor an "
            "encrypted copy)"},
        {"locked.bin",
            "Illegal file header: \"%1\" (The data are encrypted and no password was given) (-> "
            "Encrypt)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const KescopyResult r = Kescopy({"--check", Path(c.file)});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err.trimmed(), QByteArray(c.text).replace("%1", Path(c.file).toUtf8()));
    }
}

TEST_F(KescopyTest, KilledEncryptedCopiesLeaveNoReadableIntermediate)
{
    // Above 50 MiB the deflate data of an encrypted copy wait in a
    // temporary file; kescopy is killed right after they are complete.
    const QByteArray marker = "a sentence that must never be found in plain text\n";
    QByteArray data;
    while (data.size() <= 0x3200000)
        data += marker;
    WriteBytes(Path("src"), data);
    QDir().mkdir(Path("tmp"));
    for (const char* format : {"-z", "-Z"}) {
        SCOPED_TRACE(format);
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("KESCOPY_PASSWORD", "pw");
        e.insert("KES_TEST_PAUSE_AT", "deflated");
        e.insert("TMPDIR", Path("tmp"));
        p.setProcessEnvironment(e);
        p.start(kestest::BuiltProgram("kescopy"), {format, "-e", "-f", Path("src"), Path("out")});
        ASSERT_TRUE(p.waitForStarted());
        QByteArray err;
        ASSERT_TRUE(kestest::WaitUntil(
            [&] {
                err += p.readAllStandardError();
                return err.contains("paused at deflated") || p.state() == QProcess::NotRunning;
            },
            std::chrono::seconds(120)))
            << err.toStdString();
        ASSERT_TRUE(err.contains("paused at deflated")) << err.toStdString();
        p.kill(); // SIGKILL
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(QDir(Path("tmp")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList());
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList {"out", "src"}));
        EXPECT_FALSE(ReadBytes(Path("out")).contains(marker.left(20)));
        QFile::remove(Path("out"));
    }
}

TEST_F(KescopyTest, FullDiskIsLowDiskSpace)
{
    REQUIRE_TOOL("unshare");
    if (kestest::Run("unshare", {"-rm", "true"}).exitCode != 0)
        KESTEST_SKIP_OR_FAIL("no private mount namespaces here");
    WriteBytes(Path("big"), MixedData(2000000));
    QDir().mkdir(Path("small"));
    struct Case {
        QStringList options;
        const char* operation;
    } cases[] = {{{}, "Copy"}, {{"-z"}, "gzip"}, {{"-Z", "--store"}, "Zip"}, {{"-Z"}, "Zip"},
        {{"-e"}, "Encrypt"}, {{"-z", "-e"}, "gzip"}, {{"-Z", "-e"}, "Zip"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.operation);
        // kescopy runs on a small tmpfs of its own; what it leaves there is
        // listed on standard output before the mount goes.
        const QString script = "mount -t tmpfs -o size=256k tmpfs \"$1\" && d=$1 && shift && \"$@\"; rc=$?; "
                               "ls -A \"$d\"; exit $rc";
        QStringList args {"-rm", "sh", "-c", script, "sh", Path("small"), kestest::BuiltProgram("kescopy")};
        args += c.options;
        args += {Path("big"), Path("small/out")};
        const auto r = kestest::Run("unshare", args, {"KESCOPY_PASSWORD=pw"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.startsWith("Error - Low disk space: \"" + Path("small/out").toUtf8()
            + "\" (System error: No space left on device"))
            << r.err.toStdString();
        EXPECT_TRUE(r.err.trimmed().endsWith(QByteArray("(-> ") + c.operation + ")")) << r.err.toStdString();
        EXPECT_EQ(r.out, QByteArray()); // no cut-off copy under the destination name
    }
}

} // namespace
