// File-system calls of the engine on names beyond the system's path limit:
// folders, files, status, times, modes, renames, removal, extended
// attributes, ACLs, canonical names and path kinds, checked with find.
#include "platform/FileSystem.h"

#include "common/DeepTree.h"
#include "common/TestSupport.h"
#include "platform/RealPath.h"
#include "platform/Volumes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <gtest/gtest.h>

using namespace kes::platform;
using kestest::TDeepTree;

namespace {

constexpr qint64 kSecond = 1000000000;

int WriteNew(const QString& name, const QByteArray& data, unsigned mode = 0600)
{
    int fd = -1;
    if (const int err = OpenFile(name, ofWrite | ofCreate | ofExclusive, mode, fd))
        return err;
    qint64 done = 0;
    const int err = WriteFile(fd, data.constData(), data.size(), done);
    const int closeErr = CloseFile(fd);
    return err ? err : closeErr;
}

QByteArray ReadAll(const QString& name)
{
    int fd = -1;
    if (OpenFile(name, ofRead, 0, fd))
        return "(cannot open)";
    QByteArray data(1 << 16, '\0');
    qint64 done = 0;
    ReadFile(fd, data.data(), data.size(), done);
    CloseFile(fd);
    return data.left(done);
}

// What find says about the entries called name below root: depth, mode,
// size and modification time, one line each.
QByteArray FindEntry(const QString& root, const QString& name)
{
    return kestest::Run(QStringLiteral("find"),
        {root, QStringLiteral("-name"), name, QStringLiteral("-printf"), QStringLiteral("%d %m %s %T@\\n")})
        .out.trimmed();
}

// The names find lists at depth or deeper below root.
QByteArray EntriesFrom(const QString& root, int depth)
{
    const auto r = kestest::Run(QStringLiteral("find"),
        {root, QStringLiteral("-mindepth"), QString::number(depth), QStringLiteral("-printf"),
            QStringLiteral("%f\\n")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return r.out;
}

class LongNames : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 1; i <= tree.Levels(); ++i)
            ASSERT_EQ(CreateDirectory(tree.Level(i)), 0) << "level " << i;
        ASSERT_GT(EncodeLength(tree.Deepest()), 6000);
    }
    static qsizetype EncodeLength(const QString& name) { return name.toUtf8().size(); }
    QString Deep(const QString& name) const { return tree.Deepest() + QLatin1Char('/') + name; }

    TDeepTree tree;
};

TEST_F(LongNames, FilesAreCreatedExaminedChangedAndRemoved)
{
    EXPECT_EQ(GetPathKind(tree.Deepest()), TPathKind::Directory);
    EXPECT_EQ(GetPathKind(Deep("none")), TPathKind::Missing);
    EXPECT_EQ(CreateDirectory(tree.Deepest()), kErrExists);

    ASSERT_EQ(WriteNew(Deep("f"), "hello"), 0);
    EXPECT_EQ(WriteNew(Deep("f"), "again"), kErrExists);
    EXPECT_EQ(GetPathKind(Deep("f")), TPathKind::Other);
    EXPECT_EQ(ReadAll(Deep("f")), "hello");
    FileStatus st;
    ASSERT_EQ(GetFileStatus(Deep("f"), true, st), 0);
    EXPECT_TRUE(st.isRegular);
    EXPECT_EQ(st.size, 5);

    ASSERT_EQ(SetFileMode(Deep("f"), 0640), 0);
    ASSERT_EQ(SetFileTimes(Deep("f"), 1500000000 * kSecond, 1400000000 * kSecond + 250000000, false), 0);
    ASSERT_EQ(GetFileStatus(Deep("f"), false, st), 0);
    EXPECT_EQ(st.mode, 0640u);
    EXPECT_EQ(st.accessTime, 1500000000 * kSecond);
    EXPECT_EQ(st.modificationTime, 1400000000 * kSecond + 250000000);
    EXPECT_EQ(
        FindEntry(tree.Root(), "f"), QByteArray::number(tree.Levels() + 1) + " 640 5 1400000000.2500000000");

    ASSERT_EQ(WriteNew(Deep("other"), "x"), 0);
    EXPECT_EQ(RenameNoReplace(Deep("f"), Deep("other")), kErrExists);
    ASSERT_EQ(RenameNoReplace(Deep("f"), tree.Level(1) + QStringLiteral("/moved")), 0);
    EXPECT_EQ(ReadAll(tree.Level(1) + QStringLiteral("/moved")), "hello");
    ASSERT_EQ(RenameNoReplace(tree.Level(1) + QStringLiteral("/moved"), Deep("g")), 0);
    EXPECT_EQ(ReadAll(Deep("g")), "hello");

    ASSERT_EQ(RemoveFile(Deep("g")), 0);
    EXPECT_EQ(GetFileStatus(Deep("g"), false, st), kErrNotFound);
    EXPECT_EQ(RemoveFile(Deep("g")), kErrNotFound);
    EXPECT_EQ(FindEntry(tree.Root(), "g"), QByteArray());
}

TEST_F(LongNames, LinksOnTheWayAreFollowedAsTheKernelFollowsThem)
{
    ASSERT_EQ(WriteNew(Deep("f"), "data"), 0);
    QString canonicalRoot;
    ASSERT_EQ(CanonicalPath(tree.Root(), canonicalRoot), 0);
    const QString canonicalDeep = tree.Below(canonicalRoot, 1, tree.Levels());

    // Level 30 holds a relative link to level 40: the long way through it
    // names the same file.
    const QString hop = tree.Level(30) + QStringLiteral("/hop");
    ASSERT_TRUE(QFile::link(tree.Below(QStringLiteral("."), 31, 40).mid(2), hop));
    const QString viaLink = tree.Below(hop, 41, tree.Levels()) + QStringLiteral("/f");
    FileStatus direct, linked;
    ASSERT_EQ(GetFileStatus(Deep("f"), true, direct), 0);
    ASSERT_EQ(GetFileStatus(viaLink, true, linked), 0);
    EXPECT_EQ(linked.inode, direct.inode);
    EXPECT_EQ(ReadAll(viaLink), "data");

    struct Case {
        const char* what;
        QString name;
        QString canonical;
    } cases[] = {
        {"plain", Deep("f"), canonicalDeep + QStringLiteral("/f")},
        {"through the link", viaLink, canonicalDeep + QStringLiteral("/f")},
        {"with . and ..",
            tree.Deepest() + QStringLiteral("/./../") + tree.Name(tree.Levels()) + QStringLiteral("//f"),
            canonicalDeep + QStringLiteral("/f")},
        {"the link itself", hop, tree.Below(canonicalRoot, 1, 40)},
        {"a folder", tree.Level(55), tree.Below(canonicalRoot, 1, 55)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QString result;
        EXPECT_EQ(CanonicalPath(c.name, result), 0);
        EXPECT_EQ(result, c.canonical);
    }
    QString result;
    EXPECT_EQ(CanonicalPath(Deep("none"), result), kErrNotFound);
    EXPECT_EQ(CanonicalPath(Deep("f") + QStringLiteral("/x"), result), ENOTDIR);

    QString target;
    ASSERT_EQ(ResolveLink(hop, target), 0);
    EXPECT_EQ(target, tree.Below(canonicalRoot, 1, 40));
    EXPECT_EQ(ResolveLink(Deep("f"), target), kErrInvalid);

    // A relative long name starts at the current folder.
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(tree.Root()));
    const QString relative = tree.Below(QStringLiteral("."), 1, tree.Levels()).mid(2) + QStringLiteral("/f");
    FileStatus rel;
    EXPECT_EQ(GetFileStatus(relative, true, rel), 0);
    EXPECT_EQ(rel.inode, direct.inode);
    EXPECT_EQ(CanonicalPath(relative, result), 0);
    EXPECT_EQ(result, canonicalDeep + QStringLiteral("/f"));
    EXPECT_EQ(GetPathKind(relative), TPathKind::Other);
    ASSERT_TRUE(QDir::setCurrent(saved));
}

TEST_F(LongNames, TemporaryFilesHaveNoNameAndBelongToTheOwnerOnly)
{
    QTemporaryDir near;
    struct Case {
        QString folder, root;
        int depth;
    } cases[] = {{near.path(), near.path(), 1}, {tree.Deepest(), tree.Root(), tree.Levels() + 1}};
    for (const Case& c : cases) {
        const QString& folder = c.folder;
        SCOPED_TRACE(folder.left(60).toStdString());
        int fd = -1;
        ASSERT_EQ(OpenTemporaryFile(folder, fd), 0);
        qint64 done = 0;
        EXPECT_EQ(WriteFile(fd, "plain text", 10, done), 0);
        FileStatus st;
        ASSERT_EQ(GetFileStatus(fd, st), 0);
        EXPECT_EQ(st.mode, 0600u);
        EXPECT_EQ(st.size, 10);
        char back[10];
        EXPECT_EQ(SeekFile(fd, 0), 0);
        EXPECT_EQ(ReadFile(fd, back, 10, done), 0);
        EXPECT_EQ(QByteArray(back, int(done)), "plain text");
        EXPECT_EQ(EntriesFrom(c.root, c.depth), QByteArray()); // nothing in the folder has a name
        EXPECT_EQ(CloseFile(fd), 0);
    }
    int fd = -1;
    EXPECT_EQ(OpenTemporaryFile(Deep("none"), fd), kErrNotFound);
}

TEST_F(LongNames, ExtendedAttributesAndAclsTravelBothWays)
{
    for (const char* tool : {"setfattr", "getfattr", "setfacl", "getfacl"}) {
        if (!kestest::HaveTool(QString::fromUtf8(tool)))
            KESTEST_SKIP_OR_FAIL(tool << " is not installed");
    }
    QTemporaryDir near;
    const QString src = near.filePath(QStringLiteral("src"));
    const QString back = near.filePath(QStringLiteral("back"));
    ASSERT_EQ(WriteNew(src, "s"), 0);
    ASSERT_EQ(WriteNew(back, "b"), 0);
    ASSERT_EQ(WriteNew(Deep("f"), "d"), 0);
    if (kestest::Run(QStringLiteral("setfattr"), {"-n", "user.note", "-v", "kept", src}).exitCode != 0)
        KESTEST_SKIP_OR_FAIL("no user extended attributes here");
    ASSERT_EQ(kestest::Run(QStringLiteral("setfacl"), {"-m", "u:nobody:r--", src}).exitCode, 0);

    EXPECT_EQ(CopyUserAttributes(src, Deep("f")), 0);
    EXPECT_EQ(CopyAccessControl(src, Deep("f")), 0);
    EXPECT_EQ(CopyUserAttributes(Deep("f"), back), 0);
    EXPECT_EQ(CopyAccessControl(Deep("f"), back), 0);
    EXPECT_EQ(
        kestest::Run(QStringLiteral("getfattr"), {"--only-values", "-n", "user.note", back}).out, "kept");
    EXPECT_TRUE(kestest::Run(QStringLiteral("getfacl"), {"-cp", back}).out.contains("user:nobody:r--"));
}

} // namespace
