// Destinations: a copy never grants more than its source (owner-only while
// it is written, the source's permission bits at the end, an ACL that a
// file system cannot hold never widens the mode), it is created
// exclusively, never written through a symbolic link, and never written
// onto its own source.
#include "EngineTestSupport.h"
#include "fileengine/CopyErrors.h"
#include "fileengine/CopyThread.h"
#include "fileengine/FileUtils.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace kes;
using enginetest::Finish;
using enginetest::MixedData;
using enginetest::RunCopy;
using kestest::ReadBytes;
using kestest::WriteBytes;

namespace {

const TCopyOptions kSelwandPlain {coOverwrite, coAttributes, coTimeStamp};

unsigned ModeOf(const QString& name)
{
    platform::FileStatus st;
    EXPECT_EQ(platform::GetFileStatus(name, false, st), 0) << name.toStdString();
    return st.mode;
}

bool IsLink(const QString& name)
{
    return QFileInfo(name).isSymLink();
}

// A worker that runs a step of the test between the destination's checks
// and its creation.
class TPlantingCopy : public TWinCopyThread {
public:
    TPlantingCopy(const QString& source, const QString& dest, TEncryption* encryption, TCopyOptions options,
        std::function<void()> plant)
        : TWinCopyThread(source, dest, encryption, options, true, 0x10000)
        , FPlant(std::move(plant))
    {
    }
    ~TPlantingCopy() override { StopAndWait(); }

protected:
    void DestinationChecked() override
    {
        if (FPlant)
            FPlant();
    }

private:
    std::function<void()> FPlant;
};

// The output kinds of the engine.
struct TKind {
    const char* what;
    TCopyOptions options;
    bool encrypted = false;
    bool shell = false;
};
const TKind kKinds[] = {
    {"plain", {}},
    {"plain, verified", {coVerify}},
    {"gzip", {coCompress}},
    {"zip", {coZipCompress, coCompress}},
    {"zip, stored", {coZipCompress}},
    {"encrypted", {}, true},
    {"encrypted gzip", {coCompress}, true},
    {"encrypted zip", {coZipCompress, coCompress}, true},
    {"shell copy", {}, false, true},
};

class DestinationTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return dir.filePath(name); }

    // Runs one copy of the kind; atData is called at every progress call
    // of the writing phases that carries data.
    enginetest::Outcome Copy(const TKind& kind, const QString& source, const QString& dest,
        TCopyOptions options, const std::function<void()>& atData = {},
        const std::function<void()>& plant = {})
    {
        for (int i = 0; i < 13; ++i) {
            if (kind.options.Contains(TCopyOption(i)))
                options.Include(TCopyOption(i));
        }
        TEncryption enc("pass word", 2, 0x10000);
        TPlantingCopy worker(source, dest, kind.encrypted ? &enc : nullptr, options, plant);
        if (kind.shell)
            worker.SetShellCopy({scmCopy});
        if (atData) {
            worker.SetOnProgress([&](TFileAction action, bool, qint64 count) {
                if (count > 0 && (action == acCopy || action == acCompress || action == acEncrypt))
                    atData();
            });
        }
        worker.Start();
        return Finish(worker);
    }

    QTemporaryDir dir;
};

TEST_F(DestinationTest, CopiesTakeTheSourceModeAndAreOwnerOnlyWhileWritten)
{
    const QByteArray data = MixedData(3 * 0x10000 + 11);
    for (const unsigned mode : {0600u, 0640u, 0755u}) {
        const QString src = Path(QStringLiteral("src-%1").arg(mode, 0, 8));
        WriteBytes(src, data);
        ASSERT_EQ(platform::SetFileMode(src, mode), 0);
        for (const TKind& kind : kKinds) {
            for (const bool existing : {false, true}) {
                SCOPED_TRACE(QStringLiteral("%1, mode %2%3")
                                 .arg(QLatin1String(kind.what))
                                 .arg(mode, 0, 8)
                                 .arg(existing ? QStringLiteral(", over a file of mode 666") : QString())
                                 .toStdString());
                const QString dst = Path(QStringLiteral("dst"));
                QFile::remove(dst);
                if (existing) {
                    WriteBytes(dst, "an older copy that everybody could read");
                    ASSERT_EQ(platform::SetFileMode(dst, 0666), 0);
                }
                bool sawData = false;
                unsigned widest = 0;
                const auto o = Copy(kind, src, dst, kSelwandPlain, [&] {
                    sawData = true;
                    platform::FileStatus st;
                    if (platform::GetFileStatus(dst, false, st) == 0)
                        widest |= st.mode;
                });
                EXPECT_EQ(o.error, 0) << o.message.toStdString();
                EXPECT_EQ(ModeOf(dst), mode);
                if (sawData) {
                    EXPECT_EQ(widest & 077, 0u)
                        << "mode while written: " << QString::number(widest, 8).toStdString();
                }
            }
        }
    }
}

TEST_F(DestinationTest, WithoutTheAttributeOptionTheOwnerMayWriteButNobodyElseGainsAnything)
{
    WriteBytes(Path("src"), "read-only for everybody");
    ASSERT_EQ(platform::SetFileMode(Path("src"), 0444), 0);
    ASSERT_EQ(RunCopy(Path("src"), Path("dst"), TCopyOptions {coOverwrite}).error, 0);
    EXPECT_EQ(ModeOf(Path("dst")), 0644u);
    ASSERT_EQ(RunCopy(Path("src"), Path("dst2"), kSelwandPlain).error, 0);
    EXPECT_EQ(ModeOf(Path("dst2")), 0444u);
}

TEST_F(DestinationTest, AnAclNeverWidensTheModeOfACopy)
{
    REQUIRE_TOOL("setfacl");
    REQUIRE_TOOL("mount");
    // The owning group may read; a named user may also write, so the mask
    // (shown as the group bits of the mode) says read and write.
    WriteBytes(Path("src"), "shared");
    ASSERT_EQ(platform::SetFileMode(Path("src"), 0640), 0);
    if (kestest::Run("setfacl", {"-m", "u:nobody:rw-", Path("src")}).exitCode != 0)
        KESTEST_SKIP_OR_FAIL("no ACLs on the temporary folder");
    ASSERT_EQ(ModeOf(Path("src")), 0660u);

    // Without the ACL the owning group keeps what it had: read.
    ASSERT_EQ(RunCopy(Path("src"), Path("plain"), kSelwandPlain).error, 0);
    EXPECT_EQ(ModeOf(Path("plain")), 0640u);
    // With it, the list travels as it is.
    ASSERT_EQ(RunCopy(Path("src"), Path("acl"), TCopyOptions(kSelwandPlain).Include(coPermissions)).error, 0);
    EXPECT_EQ(ModeOf(Path("acl")), 0660u);
    EXPECT_TRUE(kestest::Run("getfacl", {"-cp", Path("acl")}).out.contains("user:nobody:rw-"));

    // A file system without ACLs (ramfs) cannot hold the named user: a
    // warning, and a mode that grants nobody more than the list did.
    if (!enginetest::RunningAsRoot())
        KESTEST_SKIP_OR_FAIL("mounting a ramfs needs root");
    QDir().mkdir(Path("ramfs"));
    ASSERT_EQ(kestest::Run("mount", {"-t", "ramfs", "ramfs", Path("ramfs")}).exitCode, 0);
    struct Unmount {
        QString dir;
        ~Unmount() { kestest::Run("umount", {"-l", dir}); }
    } unmount {Path("ramfs")};
    const auto o
        = RunCopy(Path("src"), Path("ramfs/copy"), TCopyOptions(kSelwandPlain).Include(coPermissions));
    EXPECT_EQ(o.error, 0x1213) << o.message.toStdString();
    EXPECT_EQ(CopyErrorText(o.error), "Warning - Permissions could not be copied (-> Copy)");
    EXPECT_EQ(ModeOf(Path("ramfs/copy")), 0640u);
    WriteBytes(Path("ramfs/direct"), "x");
    ASSERT_EQ(platform::SetFileMode(Path("ramfs/direct"), 0666), 0);
    EXPECT_NE(CopyFileSecurity(Path("src"), Path("ramfs/direct")), 0);
    EXPECT_EQ(ModeOf(Path("ramfs/direct")), 0640u);
}

TEST_F(DestinationTest, PlantedLinksAreNeverWrittenThrough)
{
    QTemporaryDir elsewhere;
    const QString outside = elsewhere.filePath("precious");
    const QByteArray data = MixedData(100000, 2);
    WriteBytes(Path("src"), data);
    for (const TKind& kind : kKinds) {
        for (const bool overwrite : {false, true}) {
            for (const bool early : {false, true}) {
                if (kind.shell && !overwrite)
                    continue; // the shell's copy always replaces
                SCOPED_TRACE(QStringLiteral("%1%2, link %3")
                                 .arg(QLatin1String(kind.what))
                                 .arg(overwrite ? QStringLiteral(", overwrite") : QString())
                                 .arg(early ? QStringLiteral("there before the copy")
                                            : QStringLiteral("planted after the checks"))
                                 .toStdString());
                WriteBytes(outside, "keep me");
                const QString dst = Path("dst");
                QFile::remove(dst);
                auto plant = [&] { ASSERT_TRUE(QFile::link(outside, dst)); };
                if (early)
                    plant();
                const auto o = Copy(kind, Path("src"), dst,
                    overwrite ? TCopyOptions {coOverwrite, coAttributes} : TCopyOptions {coAttributes}, {},
                    early ? std::function<void()>() : plant);
                EXPECT_EQ(ReadBytes(outside), "keep me");
                if (overwrite) {
                    EXPECT_EQ(o.error, 0) << o.message.toStdString();
                    EXPECT_FALSE(IsLink(dst));
                } else {
                    EXPECT_EQ(o.error & 0xFFF, ceCreateFile) << o.message.toStdString();
                    EXPECT_TRUE(IsLink(dst)); // not ours to remove
                }
            }
        }
    }
}

TEST_F(DestinationTest, WholeFileCopiesAndRenamesReplaceNoLinkTarget)
{
    QTemporaryDir elsewhere;
    const QString outside = elsewhere.filePath("precious");
    WriteBytes(outside, "keep me");
    WriteBytes(Path("src"), "new data");
    ASSERT_TRUE(QFile::link(outside, Path("ext")));
    CopyFileExt(Path("src"), Path("ext"));
    EXPECT_FALSE(IsLink(Path("ext")));
    EXPECT_EQ(ReadBytes(Path("ext")), "new data");

    ASSERT_TRUE(QFile::link(outside, Path("content")));
    EXPECT_EQ(CopyFileContent(Path("src"), Path("content")), 0);
    EXPECT_FALSE(IsLink(Path("content")));
    EXPECT_EQ(ReadBytes(Path("content")), "new data");

    ASSERT_TRUE(QFile::link(outside, Path("renamed")));
    EXPECT_EQ(RenameFileXL(Path("src"), Path("renamed")), platform::kErrExists);
    EXPECT_TRUE(IsLink(Path("renamed")));
    EXPECT_EQ(ReadBytes(outside), "keep me");
}

TEST_F(DestinationTest, AFullDiskIsLowDiskSpaceAndLeavesNoCutOffCopy)
{
    kestest::SmallTmpfs disk(256 * 1024);
    if (!disk.IsMounted())
        KESTEST_SKIP_OR_FAIL(disk.Error().toStdString());
    WriteBytes(Path("src"), MixedData(2000000, 4));
    for (const TKind& kind : kKinds) {
        if (kind.shell)
            continue;
        for (const bool overwrite : {false, true}) {
            SCOPED_TRACE(QStringLiteral("%1%2")
                             .arg(QLatin1String(kind.what),
                                 overwrite ? QStringLiteral(", over an older copy") : QString())
                             .toStdString());
            const QString dst = disk.Path() + QStringLiteral("/copy");
            if (overwrite)
                WriteBytes(dst, "older");
            const auto o = Copy(kind, Path("src"), dst, TCopyOptions {coOverwrite, coAttributes});
            EXPECT_EQ(o.error & 0xFFF, ceLowDiskSpace) << CopyErrorText(o.error).toStdString();
            EXPECT_TRUE(o.message.startsWith("System error: No space left on device"))
                << o.message.toStdString();
            EXPECT_EQ(QDir(disk.Path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                QStringList());
        }
    }
}

TEST_F(DestinationTest, ACopyOntoItsOwnSourceIsRefusedBeforeWriting)
{
    const QByteArray data = MixedData(50000, 3);
    WriteBytes(Path("src"), data);
    ASSERT_TRUE(QFile::link(Path("src"), Path("soft")));
    ASSERT_EQ(kestest::Run("ln", {Path("src"), Path("hard")}).exitCode, 0);
    for (const TKind& kind : kKinds) {
        for (const char* name : {"src", "soft", "hard"}) {
            SCOPED_TRACE(QStringLiteral("%1 onto %2")
                             .arg(QLatin1String(kind.what), QLatin1String(name))
                             .toStdString());
            const auto o = Copy(kind, Path("src"), Path(name), kSelwandPlain);
            EXPECT_EQ(o.error & 0xFFF, ceCreateFile);
            EXPECT_EQ(o.message, "The destination is the source itself");
            EXPECT_EQ(ReadBytes(Path("src")), data);
        }
    }
    EXPECT_TRUE(IsLink(Path("soft")));
}

} // namespace
