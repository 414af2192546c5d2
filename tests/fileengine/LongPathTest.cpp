// The engine on names beyond the system's path limit: the XL wrappers and
// the copy workers reach a tree of 60 levels of 100-byte names; gzip,
// unzip and cat read the results in place (find -execdir).
#include "EngineTestSupport.h"
#include "common/DeepTree.h"
#include "fileengine/CopyThread.h"
#include "fileengine/FileUtils.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kes;
using enginetest::MixedData;
using enginetest::RunCopy;
using kestest::TDeepTree;

namespace {

// Runs a command on the file called name below root, in the file's own
// folder, and returns what it writes.
QByteArray InPlace(const QString& root, const QString& name, const QStringList& command)
{
    QStringList args {root, QStringLiteral("-name"), name, QStringLiteral("-execdir")};
    args += command;
    args << QStringLiteral("./") + name << QStringLiteral(";");
    return kestest::Run(QStringLiteral("find"), args).out;
}

class LongPathTest : public ::testing::Test {
protected:
    QString Deep(const QString& name) const { return tree.Deepest() + QLatin1Char('/') + name; }
    TDeepTree tree;
};

TEST_F(LongPathTest, WrappersReachDeepTrees)
{
    ASSERT_TRUE(ForceDirectoriesXL(tree.Deepest()));
    EXPECT_TRUE(DirectoryExistsXL(tree.Deepest()));
    EXPECT_TRUE(ForceDirectoriesXL(tree.Deepest() + QStringLiteral("/")));
    EXPECT_NE(GetDirDosTime(tree.Deepest()), -1);
    EXPECT_EQ(CreateUtf8TextFile(Deep("f.txt")), 0);
    EXPECT_TRUE(FileExistsXL(Deep("f.txt")));
    EXPECT_FALSE(ForceDirectoriesXL(Deep("f.txt") + QStringLiteral("/sub")));

    TFileAttributeData data;
    EXPECT_TRUE(FindFileXL(Deep("f.txt"), data));
    EXPECT_EQ(data.FileSize, 3);
    EXPECT_EQ(FileSetAttrXL(Deep("f.txt"), faReadOnly), 0);
    EXPECT_EQ(FileGetAttrXL(Deep("f.txt")), faArchive | faReadOnly);
    EXPECT_EQ(InPlace(tree.Root(), "f.txt", {"stat", "-c", "%a"}).trimmed(), "444");

    TFileTimestamps ts;
    ts.SetTimeStamps(QDateTime::fromSecsSinceEpoch(1300000000), QDateTime::fromSecsSinceEpoch(1300000000));
    EXPECT_EQ(SetFileTimestamps(Deep("f.txt"), ts, false, false, true), 0);
    EXPECT_EQ(FileTimeToUnixTime(GetFileModTime(Deep("f.txt"))), 1300000000);

    EXPECT_EQ(RenameFileXL(Deep("f.txt"), Deep("g.txt")), 0);
    EXPECT_FALSE(FileExistsXL(Deep("f.txt")));
    EXPECT_EQ(DeleteFileXL(Deep("g.txt"), true), 0);
    EXPECT_FALSE(FileExistsXL(Deep("g.txt")));
    EXPECT_EQ(DeleteExistingFileXL(Deep("g.txt")), 0);
}

TEST_F(LongPathTest, CopiesLeaveAndEnterDeepTrees)
{
    REQUIRE_TOOL("gzip");
    REQUIRE_TOOL("unzip");
    ASSERT_TRUE(ForceDirectoriesXL(tree.Deepest()));
    QTemporaryDir near;
    const QByteArray data = MixedData(300000, 5);
    kestest::WriteBytes(near.filePath("src.bin"), data);
    const TCopyOptions base {coOverwrite, coAttributes, coTimeStamp, coVerify};
    // Into the deep folder, then from there to a deep copy of itself.
    ASSERT_EQ(RunCopy(near.filePath("src.bin"), Deep("src.bin"), base).error, 0);
    struct Case {
        const char* name;
        TCopyOptions options;
        QStringList reader;
    } cases[] = {
        {"plain.bin", base, {"cat"}},
        {"member.gz", TCopyOptions(base).Include(coCompress), {"gzip", "-dc"}},
        {"entry.zip", TCopyOptions(base).Include(coZipCompress).Include(coCompress), {"unzip", "-p"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto o = RunCopy(Deep("src.bin"), Deep(c.name), c.options);
        EXPECT_EQ(o.error, 0) << o.message.toStdString();
        EXPECT_EQ(InPlace(tree.Root(), c.name, c.reader), data);
        if (c.options.Contains(coCompress)) {
            EXPECT_EQ(enginetest::RunVerify(Deep(c.name), ckAuto).error, 0);
        }
    }
    // And back out of it.
    ASSERT_EQ(RunCopy(Deep("entry.zip"), near.filePath("out.zip"), base).error, 0);
    EXPECT_EQ(kestest::Run("unzip", {"-p", near.filePath("out.zip")}).out, data);
}

} // namespace
