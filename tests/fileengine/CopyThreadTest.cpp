// Copy workers: the plain copy with metadata, error words, cancellation,
// pause, progress and verification.
#include "fileengine/CopyThread.h"
#include "EngineTestSupport.h"
#include "fileengine/CopyErrors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace kes;
using enginetest::Finish;
using enginetest::MixedData;
using enginetest::RunCopy;
using kestest::ReadBytes;
using kestest::WriteBytes;

namespace {

const TCopyOptions kSelwandPlain {coOverwrite, coAttributes, coTimeStamp};

class CopyThreadTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(CopyThreadTest, PlainCopyCarriesDataTimeAndReadOnly)
{
    const QByteArray data = MixedData(3 * 0x80000 + 123);
    const QString src = Path("src.bin");
    WriteBytes(src, data);
    const QDateTime mtime = QDateTime::fromString("2021-03-04T05:06:07.891Z", Qt::ISODateWithMs);
    {
        QFile f(src);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(mtime, QFileDevice::FileModificationTime));
    }
    ASSERT_TRUE(QFile::setPermissions(src, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

    const auto o = RunCopy(src, Path("dst.bin"), kSelwandPlain);
    EXPECT_EQ(o.error, 0) << o.message.toStdString();
    EXPECT_EQ(o.ratio, 1000);
    EXPECT_EQ(ReadBytes(Path("dst.bin")), data);
    QFileInfo fi(Path("dst.bin"));
    EXPECT_EQ(fi.lastModified().toUTC(), mtime);
    EXPECT_EQ(FileGetAttrXL(Path("dst.bin")), faArchive | faReadOnly);

    // Copying again over the read-only copy works with coOverwrite.
    WriteBytes(Path("src2.bin"), "new");
    const auto again = RunCopy(Path("src2.bin"), Path("dst.bin"), kSelwandPlain);
    EXPECT_EQ(again.error, 0) << again.message.toStdString();
    EXPECT_EQ(ReadBytes(Path("dst.bin")), "new");
    EXPECT_EQ(FileGetAttrXL(Path("dst.bin")), faArchive);
}

TEST_F(CopyThreadTest, FailuresEndInTheirErrorWords)
{
    WriteBytes(Path("src.txt"), "source");
    WriteBytes(Path("exists.txt"), "keep me");
    QDir().mkdir(Path("folder"));
    struct Case {
        const char* what;
        QString source, dest;
        TCopyOptions options;
        int word;
        QString text;
    } cases[] = {
        {"missing source", Path("nope.txt"), Path("d1.txt"), kSelwandPlain, 0x110E,
            "Error - File not found (-> Copy)"},
        {"existing destination without overwrite", Path("src.txt"), Path("exists.txt"),
            TCopyOptions {coAttributes, coTimeStamp}, 0x1101, "Error - Could not create file (-> Copy)"},
        {"destination folder missing", Path("src.txt"), Path("no/such/dir/d.txt"), kSelwandPlain, 0x1101,
            "Error - Could not create file (-> Copy)"},
        {"source is a folder", Path("folder"), Path("d2.txt"), kSelwandPlain, 0x1102,
            "Error - Could not open file (-> Copy)"},
        {"missing source, gzip", Path("nope.txt"), Path("d3.gz"), TCopyOptions {coCompress, coOverwrite},
            0x210E, "Error - File not found (-> gzip)"},
        {"missing source, zip", Path("nope.txt"), Path("d4.zip"), TCopyOptions {coZipCompress}, 0x410E,
            "Error - File not found (-> Zip)"},
        {"empty destination name", Path("src.txt"), QString(), kSelwandPlain, 0x1101,
            "Error - Could not create file (-> Copy)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto o = RunCopy(c.source, c.dest, c.options);
        EXPECT_EQ(o.error, c.word);
        EXPECT_EQ(CopyErrorText(o.error), c.text);
    }
    EXPECT_EQ(ReadBytes(Path("exists.txt")), "keep me");
}

TEST_F(CopyThreadTest, LostTimeStampIsAWarningAfterTheData)
{
    // The copy is moved away before its time stamp is set (by another
    // program, here by the progress handler): the data arrived, the time
    // stamp step fails.
    const QByteArray data = MixedData(200000);
    WriteBytes(Path("src.bin"), data);
    TWinCopyThread worker(Path("src.bin"), Path("dst.bin"), nullptr, kSelwandPlain, true, 0x10000);
    worker.SetOnProgress([&](TFileAction a, bool, qint64 count) {
        if (a == acCopy && count == qint64(data.size()))
            QFile::rename(Path("dst.bin"), Path("moved.bin"));
    });
    worker.Start();
    const auto o = Finish(worker);
    EXPECT_EQ(o.error, 0x120F);
    EXPECT_EQ(CopyErrorText(o.error), "Warning - Timestamp could not be set (-> Copy)");
    EXPECT_EQ(ReadBytes(Path("moved.bin")), data);
}

TEST_F(CopyThreadTest, ProgressRunsOnTheCreatingThreadAnnouncingFirst)
{
    const QByteArray data = MixedData(5 * 0x10000 + 7);
    WriteBytes(Path("src.bin"), data);
    TWinCopyThread worker(Path("src.bin"), Path("dst.bin"), nullptr, kSelwandPlain, true, 0x10000);
    std::vector<std::pair<TFileAction, qint64>> calls;
    bool allOnMainThread = true;
    worker.SetOnProgress([&](TFileAction a, bool, qint64 count) {
        calls.emplace_back(a, count);
        allOnMainThread = allOnMainThread && QThread::currentThread() == qApp->thread();
    });
    worker.Start();
    EXPECT_EQ(Finish(worker).error, 0);
    EXPECT_TRUE(allOnMainThread);
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls.front(), std::make_pair(acCopy, -qint64(data.size())));
    EXPECT_EQ(calls.back(), std::make_pair(acCopy, qint64(data.size())));
    for (size_t i = 2; i < calls.size(); ++i)
        EXPECT_GT(calls[i].second, calls[i - 1].second);
}

TEST_F(CopyThreadTest, WithoutProgressTheSystemCopiesInGrowingSteps)
{
    // Nobody follows the progress: the system's steps grow beyond the
    // buffer, and every byte still lands in its place.
    const QByteArray data = MixedData(3 * 1024 * 1024 + 4097);
    WriteBytes(Path("src.bin"), data);
    TWinCopyThread worker(Path("src.bin"), Path("dst.bin"), nullptr, kSelwandPlain, true, 0x10000);
    worker.Start();
    EXPECT_EQ(Finish(worker).error, 0);
    EXPECT_EQ(ReadBytes(Path("dst.bin")), data);
}

TEST_F(CopyThreadTest, PollingDoneWithoutEventLoopStillDeliversProgress)
{
    // A creator that only sleeps and looks at Done (as a backup thread
    // does) must not leave its worker blocked in a progress call.
    WriteBytes(Path("src.bin"), MixedData(4 * 0x10000));
    TWinCopyThread worker(Path("src.bin"), Path("dst.bin"), nullptr, kSelwandPlain, true, 0x10000);
    int calls = 0;
    worker.SetOnProgress([&](TFileAction, bool, qint64) { ++calls; });
    worker.Start();
    QDeadlineTimer deadline(std::chrono::seconds(30));
    while (!worker.Done() && !deadline.hasExpired())
        QThread::msleep(1);
    ASSERT_TRUE(worker.Done());
    EXPECT_EQ(worker.ErrorCode(), 0);
    EXPECT_EQ(calls, 5);
}

TEST_F(CopyThreadTest, CancelEndsWithTerminatedByUser)
{
    WriteBytes(Path("src.bin"), MixedData(8 * 0x10000));
    struct Case {
        TCopyOptions options;
        int word;
        const char* text;
    } cases[] = {
        {kSelwandPlain, 0x1080, "Terminated by user (-> Copy)"},
        {TCopyOptions {coOverwrite, coCompress}, 0x2080, "Terminated by user (-> gzip)"},
        {TCopyOptions {coOverwrite, coZipCompress, coCompress}, 0x4080, "Terminated by user (-> Zip)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TWinCopyThread worker(Path("src.bin"), Path("dst"), nullptr, c.options, true, 0x10000);
        int dataCalls = 0;
        worker.SetOnProgress([&](TFileAction, bool, qint64 count) {
            if (count > 0 && ++dataCalls == 2)
                worker.CancelThread();
        });
        worker.Start();
        const auto o = Finish(worker);
        EXPECT_EQ(o.error, c.word);
        EXPECT_EQ(CopyErrorText(o.error), c.text);
        EXPECT_EQ(dataCalls, 2); // the loop stops after the buffer that saw the request
    }
}

TEST_F(CopyThreadTest, PausedWorkerHoldsUntilResumed)
{
    const QByteArray data = MixedData(4 * 0x10000);
    WriteBytes(Path("src.bin"), data);
    TWinCopyThread worker(Path("src.bin"), Path("dst.bin"), nullptr, kSelwandPlain, true, 0x10000);
    qint64 lastCount = 0;
    worker.SetOnProgress([&](TFileAction, bool, qint64 count) {
        lastCount = count;
        if (count == 0x10000)
            worker.SetPaused(true);
    });
    worker.Start();
    // Paused after the first buffer: no further progress and no Done.
    EXPECT_FALSE(kestest::WaitUntil(
        [&] { return worker.Done() || lastCount > 0x10000; }, std::chrono::milliseconds(300)));
    EXPECT_TRUE(worker.Paused());
    worker.SetPaused(false);
    const auto o = Finish(worker);
    EXPECT_EQ(o.error, 0);
    EXPECT_EQ(ReadBytes(Path("dst.bin")), data);
}

TEST_F(CopyThreadTest, WorkerFreedWhilePausedStopsCleanly)
{
    WriteBytes(Path("src.bin"), MixedData(4 * 0x10000));
    auto worker = std::make_unique<TWinCopyThread>(
        Path("src.bin"), Path("dst.bin"), nullptr, kSelwandPlain, true, 0x10000);
    bool paused = false;
    worker->SetOnProgress([&](TFileAction, bool, qint64 count) {
        if (count > 0 && !paused) {
            worker->SetPaused(true);
            paused = true;
        }
    });
    worker->Start();
    ASSERT_TRUE(kestest::WaitUntil([&] { return paused; }));
    worker.reset(); // must neither hang nor crash
}

TEST_F(CopyThreadTest, VerifiedCopiesPassAndALostDestinationGivesUp)
{
    const QByteArray data = MixedData(300000);
    WriteBytes(Path("src.bin"), data);
    const auto ok = RunCopy(Path("src.bin"), Path("dst.bin"), TCopyOptions {coOverwrite, coVerify});
    EXPECT_EQ(ok.error, 0) << ok.message.toStdString();
    EXPECT_EQ(ReadBytes(Path("dst.bin")), data);

    // The destination vanishes before it can be read back: 26 attempts,
    // 25 waits of VerifyDelay * 1000 / 25 ms are reported.
    TWinCopyThread worker(
        Path("src.bin"), Path("gone.bin"), nullptr, TCopyOptions {coOverwrite, coVerify}, true, 0x10000);
    worker.SetVerifyDelay(1);
    worker.SetOnProgress([&](TFileAction a, bool, qint64 count) {
        if (a == acCopy && count == qint64(data.size()))
            QFile::remove(Path("gone.bin"));
    });
    worker.Start();
    const auto o = Finish(worker);
    EXPECT_EQ(o.error, 0x1116);
    EXPECT_EQ(CopyErrorText(o.error), "Error - Could not open destination file for verification (-> Copy)");
    EXPECT_TRUE(o.message.endsWith(" (1000ms)")) << o.message.toStdString();
}

TEST_F(CopyThreadTest, RatioIsOneThousandWithoutCompression)
{
    WriteBytes(Path("empty"), QByteArray());
    WriteBytes(Path("text"), QByteArray(100000, 'a'));
    EXPECT_EQ(RunCopy(Path("text"), Path("c1"), kSelwandPlain).ratio, 1000);
    EXPECT_EQ(RunCopy(Path("empty"), Path("c2"), kSelwandPlain).ratio, 1000);
    EXPECT_EQ(RunCopy(Path("empty"), Path("c3.gz"), TCopyOptions {coCompress}).ratio, 1000);
    const int gz = RunCopy(Path("text"), Path("c4.gz"), TCopyOptions {coCompress}).ratio;
    EXPECT_GT(gz, 0);
    EXPECT_LT(gz, 20);
    EXPECT_EQ(gz, qRound(1000.0 * (QFileInfo(Path("c4.gz")).size() - 32 - 5 - 8) / 100000));
}

TEST_F(CopyThreadTest, MetadataOptionsCarryAttributesAndAcl)
{
    REQUIRE_TOOL("setfattr");
    REQUIRE_TOOL("setfacl");
    REQUIRE_TOOL("getfacl");
    WriteBytes(Path("src"), "data");
    auto set = kestest::Run("setfattr", {"-n", "user.note", "-v", "kept", Path("src")});
    if (set.exitCode != 0)
        KESTEST_SKIP_OR_FAIL("no user extended attributes here");
    ASSERT_EQ(kestest::Run("setfacl", {"-m", "u:nobody:r--", Path("src")}).exitCode, 0);
    const auto o = RunCopy(Path("src"), Path("dst"),
        TCopyOptions {coOverwrite, coAltStreams, coPermissions, coAttributes, coTimeStamp});
    EXPECT_EQ(o.error, 0) << o.message.toStdString();
    const auto got = kestest::Run("getfattr", {"--only-values", "-n", "user.note", Path("dst")});
    EXPECT_EQ(got.out, "kept");
    const auto acl = kestest::Run("getfacl", {"-cp", Path("dst")});
    EXPECT_TRUE(acl.out.contains("user:nobody:r--")) << acl.out.toStdString();

    // Without the options neither travels.
    EXPECT_EQ(RunCopy(Path("src"), Path("bare"), kSelwandPlain).error, 0);
    EXPECT_NE(kestest::Run("getfattr", {"-n", "user.note", Path("bare")}).exitCode, 0);
    EXPECT_FALSE(kestest::Run("getfacl", {"-cp", Path("bare")}).out.contains("nobody"));
}

} // namespace

namespace {

TEST_F(CopyThreadTest, ShellCopyModeIsAPlainCopyWithVerificationAndTimes)
{
    const QByteArray data = MixedData(200000);
    WriteBytes(Path("src"), data);
    {
        QFile f(Path("src"));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(
            QDateTime::fromSecsSinceEpoch(1400000000, Qt::UTC), QFileDevice::FileModificationTime));
    }
    TWinCopyThread worker(Path("src"), Path("dst"), nullptr,
        TCopyOptions {coVerify, coTimeStamp, coCreationTime}, true, 0x10000);
    worker.SetShellCopy({scmCopy});
    worker.Start();
    const auto o = Finish(worker);
    EXPECT_EQ(o.error, 0) << o.message.toStdString();
    EXPECT_EQ(ReadBytes(Path("dst")), data);
    EXPECT_EQ(QFileInfo(Path("dst")).lastModified().toSecsSinceEpoch(), 1400000000);
}

TEST(CopyStreamThread, CopiesALengthAndReportsShortSources)
{
    const QByteArray data = MixedData(3 * 4096 + 100);
    {
        TMemoryStream src(data), dst;
        TCopyStreamThread worker(&src, &dst, data.size() - 50, true, true, 4096);
        std::vector<qint64> counts;
        worker.SetOnProgress([&](TFileAction a, bool speedLimit, qint64 count) {
            EXPECT_EQ(a, acCopy);
            EXPECT_TRUE(speedLimit);
            counts.push_back(count);
        });
        worker.Start();
        EXPECT_EQ(Finish(worker).error, 0);
        EXPECT_EQ(dst.Data(), data.left(data.size() - 50));
        EXPECT_EQ(counts, (std::vector<qint64> {4096, 8192, 12288, qint64(data.size() - 50)}));
    }
    {
        TMemoryStream src(data), dst;
        TCopyStreamThread worker(&src, &dst, data.size() + 1, false, false, 4096);
        const auto o = Finish(worker);
        EXPECT_EQ(o.error, 0x1004);
        EXPECT_EQ(dst.Size(), 3 * 4096);
    }
}

} // namespace
