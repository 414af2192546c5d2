// Reading settings files without waiting on what is not a file, and
// replacing them in one step with the owner and mode kept.
#include "platform/SettingsFile.h"

#include "common/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <gtest/gtest.h>

using namespace kes::platform;

namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString Path(const char* name) const { return dir.filePath(QLatin1String(name)); }
    QTemporaryDir dir;
};

} // namespace

TEST_F(SettingsFileTest, OnlyRegularFilesWithinTheLimitAreRead)
{
    kestest::WriteBytes(Path("ten.ini"), "0123456789");
    kestest::WriteBytes(Path("eleven.ini"), "0123456789A");
    ASSERT_TRUE(QDir().mkpath(Path("folder")));
    ASSERT_TRUE(QFile::link(Path("gone"), Path("dangling")));
    ASSERT_TRUE(QFile::link(Path("ten.ini"), Path("link.ini")));
    ASSERT_EQ(kestest::Run(QStringLiteral("mkfifo"), {Path("fifo")}).exitCode, 0);
    const struct {
        QString name;
        TSettingsReadResult result;
        QByteArray bytes;
    } cases[] = {
        {Path("ten.ini"), TSettingsReadResult::srOk, "0123456789"},
        {Path("link.ini"), TSettingsReadResult::srOk, "0123456789"},
        {Path("eleven.ini"), TSettingsReadResult::srTooLarge, {}},
        {Path("missing"), TSettingsReadResult::srMissing, {}},
        {Path("dangling"), TSettingsReadResult::srMissing, {}},
        {Path("ten.ini/below"), TSettingsReadResult::srMissing, {}},
        {Path("folder"), TSettingsReadResult::srFolder, {}},
        // Would wait for a writer if it were opened.
        {Path("fifo"), TSettingsReadResult::srNotRegular, {}},
        {QStringLiteral("/dev/zero"), TSettingsReadResult::srNotRegular, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const TSettingsRead r = ReadSettingsFile(c.name, 10);
        EXPECT_EQ(r.Result, c.result);
        EXPECT_EQ(r.Bytes, c.bytes);
    }
}

TEST_F(SettingsFileTest, ReplacingRefusesWhatIsNoPlainWritableFile)
{
    kestest::WriteBytes(Path("locked.ini"), "old");
    ASSERT_TRUE(QFile::setPermissions(Path("locked.ini"), QFile::ReadOwner | QFile::ReadGroup));
    ASSERT_TRUE(QDir().mkpath(Path("folder")));
    ASSERT_EQ(kestest::Run(QStringLiteral("mkfifo"), {Path("fifo")}).exitCode, 0);
    const struct {
        QString name;
        int error;
    } cases[] = {
        // Left alone even by root, who could write it.
        {Path("locked.ini"), EACCES},
        {Path("folder"), EISDIR},
        {Path("fifo"), EINVAL},
        {Path("no/such/folder.ini"), ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        EXPECT_EQ(ReplaceSettingsFile(c.name, "new"), c.error);
    }
    EXPECT_EQ(kestest::ReadBytes(Path("locked.ini")), "old");
    EXPECT_EQ(
        QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name),
        (QStringList {QStringLiteral("fifo"), QStringLiteral("folder"), QStringLiteral("locked.ini")}));
}

TEST_F(SettingsFileTest, ReplacingFollowsLinksAndKeepsModeAndOwner)
{
    kestest::WriteBytes(Path("real.ini"), "old");
    ASSERT_TRUE(
        QFile::setPermissions(Path("real.ini"), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    ASSERT_TRUE(QFile::link(Path("real.ini"), Path("link.ini")));
    // Another owner is kept when we may give the file away (root).
    const bool root
        = kestest::Run(QStringLiteral("chown"), {QStringLiteral("4242:4343"), Path("real.ini")}).exitCode
        == 0;
    ASSERT_EQ(ReplaceSettingsFile(Path("link.ini"), "new content"), 0);
    EXPECT_TRUE(QFileInfo(Path("link.ini")).isSymLink());
    EXPECT_EQ(kestest::ReadBytes(Path("real.ini")), "new content");
    EXPECT_EQ(QFile::permissions(Path("real.ini")) & 0x7077,
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    if (root) {
        EXPECT_EQ(QFileInfo(Path("real.ini")).ownerId(), 4242u);
        EXPECT_EQ(QFileInfo(Path("real.ini")).groupId(), 4343u);
    }
    ASSERT_EQ(ReplaceSettingsFile(Path("fresh.ini"), "x"), 0);
    EXPECT_EQ(QFile::permissions(Path("fresh.ini")) & 0x7077, QFile::ReadOwner | QFile::WriteOwner);
}
