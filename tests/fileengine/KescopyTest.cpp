// The command-line front end: formats, passwords, exit status and texts,
// and a real full disk (a small tmpfs in a private mount namespace).
#include "EngineTestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using enginetest::MixedData;
using kestest::ReadBytes;
using kestest::WriteBytes;

namespace {

struct Result {
    int exitCode = -1;
    QByteArray err;
};

Result Kescopy(const QStringList& args, const QByteArray& input = {}, const QStringList& env = {})
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.remove("KESCOPY_PASSWORD");
    for (const QString& kv : env)
        e.insert(kv.section('=', 0, 0), kv.section('=', 1));
    p.setProcessEnvironment(e);
    p.start(kestest::BuiltProgram("kescopy"), args);
    EXPECT_TRUE(p.waitForStarted());
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(120000));
    return {p.exitCode(), p.readAllStandardError()};
}

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
    const Result wrong = Kescopy({"--check", "-e", Path("e.bin")}, "y\n");
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_TRUE(wrong.err.startsWith("Error - Verification failed: \"" + Path("e.bin").toUtf8() + "\""))
        << wrong.err.toStdString();
    const Result none = Kescopy({"-e", Path("src.txt"), Path("e2.bin")});
    EXPECT_EQ(none.exitCode, 3);
    EXPECT_EQ(none.err.trimmed(), "No password given.");
}

TEST_F(KescopyTest, FailuresNameTheirFileAndExitNonZero)
{
    WriteBytes(Path("src"), "x");
    WriteBytes(Path("exists"), "y");
    const Result missing = Kescopy({Path("nope"), Path("dst")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err.trimmed(), "Error - File not found: \"" + Path("nope").toUtf8() + "\" (-> Copy)");
    const Result exists = Kescopy({"-z", Path("src"), Path("exists")});
    EXPECT_EQ(exists.exitCode, 1);
    EXPECT_TRUE(exists.err.startsWith(
        "Error - Could not create file: \"" + Path("exists").toUtf8() + "\" (System error: "))
        << exists.err.toStdString();
    EXPECT_TRUE(exists.err.trimmed().endsWith("(-> gzip)"));
    EXPECT_EQ(Kescopy({Path("src")}).exitCode, 3);
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
    } cases[] = {{{}, "Copy"}, {{"-z"}, "gzip"}, {{"-Z", "--store"}, "Zip"}, {{"-Z"}, "Zip"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.operation);
        const QString script = "mount -t tmpfs -o size=256k tmpfs \"$1\" && shift && exec \"$@\"";
        QStringList args {"-rm", "sh", "-c", script, "sh", Path("small"), kestest::BuiltProgram("kescopy")};
        args += c.options;
        args += {Path("big"), Path("small/out")};
        const auto r = kestest::Run("unshare", args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.startsWith("Error - Low disk space: \"" + Path("small/out").toUtf8()
            + "\" (System error: No space left on device"))
            << r.err.toStdString();
        EXPECT_TRUE(r.err.trimmed().endsWith(QByteArray("(-> ") + c.operation + ")")) << r.err.toStdString();
    }
}

} // namespace
