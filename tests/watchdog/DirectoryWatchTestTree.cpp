// The watched tree changing shape: directories created, moved in, moved
// around, moved out and removed, and the watched directory itself gone.
#include "DirectoryWatchTest.h"

#include <cerrno>

using kestest::DirectoryWatchTest;
using kestest::WatchRecord;

namespace {

WatchRecord Added(const char* name)
{
    return {kes::waAdded, QString::fromUtf8(name)};
}

} // namespace

TEST_F(DirectoryWatchTest, NewDirectoriesAreWatchedAndWhatIsInsideIsReported)
{
    MakeDir(QStringLiteral("in"));
    StartWatch();

    // A tree built outside and moved in: everything inside is reported as
    // added, and its deepest directory is watched at once.
    const QString outside = tmp.path() + QStringLiteral("/outside/new");
    kestest::WriteBytes(outside + QStringLiteral("/a.txt"), "a");
    kestest::WriteBytes(outside + QStringLiteral("/b/c.txt"), "c");
    ASSERT_TRUE(QDir().mkpath(outside + QStringLiteral("/b/d")));
    ASSERT_TRUE(QDir().rename(outside, Path(QStringLiteral("in/new"))));
    for (const char* name : {"in/new", "in/new/a.txt", "in/new/b", "in/new/b/c.txt", "in/new/b/d"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(recorder->WaitFor(Added(name))) << recorder->Dump();
    }
    Write(QStringLiteral("in/new/b/d/later.txt"));
    EXPECT_TRUE(recorder->WaitFor(Added("in/new/b/d/later.txt"))) << recorder->Dump();

    // Created and filled at once: the file is reported whether it came
    // before or after the new directory's watch.
    MakeDir(QStringLiteral("fresh/a/b/c"));
    Write(QStringLiteral("fresh/a/b/c/f.txt"));
    EXPECT_TRUE(recorder->WaitFor(Added("fresh/a/b/c/f.txt"))) << recorder->Dump();
    Write(QStringLiteral("fresh/a/b/c/g.txt"));
    EXPECT_TRUE(recorder->WaitFor(Added("fresh/a/b/c/g.txt"))) << recorder->Dump();
    EXPECT_EQ(watch->WatchCount(), 1 + 1 + 3 + 4);
}

TEST_F(DirectoryWatchTest, DirectoryMovedInsideTheTreeKeepsBeingWatchedUnderItsNewName)
{
    MakeDir(QStringLiteral("m1/inner"));
    MakeDir(QStringLiteral("other"));
    StartWatch();
    const int watches = watch->WatchCount();

    ASSERT_TRUE(QDir().rename(Path(QStringLiteral("m1")), Path(QStringLiteral("m2"))));
    const WatchRecord oldName {kes::waRenamedOld, QStringLiteral("m1")};
    const WatchRecord newName {kes::waRenamedNew, QStringLiteral("m2")};
    ASSERT_TRUE(recorder->WaitFor(newName)) << recorder->Dump();
    EXPECT_EQ(recorder->IndexOf(oldName) + 1, recorder->IndexOf(newName));

    Write(QStringLiteral("m2/inner/n.txt"));
    EXPECT_TRUE(recorder->WaitFor(Added("m2/inner/n.txt"))) << recorder->Dump();

    ASSERT_TRUE(QDir().rename(Path(QStringLiteral("m2")), Path(QStringLiteral("other/m3"))));
    Write(QStringLiteral("other/m3/inner/k.txt"));
    EXPECT_TRUE(recorder->WaitFor(Added("other/m3/inner/k.txt"))) << recorder->Dump();
    EXPECT_FALSE(recorder->AnyNameContains(QStringLiteral("m2/inner/k"))) << recorder->Dump();
    EXPECT_EQ(watch->WatchCount(), watches);
}

TEST_F(DirectoryWatchTest, DirectoriesMovedOutOrRemovedAreNoLongerWatched)
{
    Write(QStringLiteral("out/b/file.txt"));
    Write(QStringLiteral("gone/a/file.txt"));
    StartWatch();
    const int watches = watch->WatchCount();
    ASSERT_EQ(watches, 5);

    const QString away = tmp.path() + QStringLiteral("/away");
    ASSERT_TRUE(QDir().rename(Path(QStringLiteral("out")), away));
    ASSERT_TRUE(recorder->WaitFor({kes::waRemoved, QStringLiteral("out")})) << recorder->Dump();
    EXPECT_FALSE(recorder->Has({kes::waRenamedOld, QStringLiteral("out")}));
    EXPECT_TRUE(kestest::WaitUntil([&] { return watch->WatchCount() == watches - 2; }));
    kestest::WriteBytes(away + QStringLiteral("/b/after.txt"), "x");

    ASSERT_TRUE(QDir(Path(QStringLiteral("gone"))).removeRecursively());
    const std::vector<WatchRecord> removals = {{kes::waRemoved, QStringLiteral("gone/a/file.txt")},
        {kes::waRemoved, QStringLiteral("gone/a")}, {kes::waRemoved, QStringLiteral("gone")}};
    ASSERT_TRUE(recorder->WaitFor(removals.back())) << recorder->Dump();
    int at = -1;
    for (const WatchRecord& r : removals) {
        const int next = recorder->IndexOf(r);
        EXPECT_GT(next, at) << r << "\n" << recorder->Dump();
        at = next;
    }
    EXPECT_TRUE(kestest::WaitUntil([&] { return watch->WatchCount() == watches - 4; }));
    Sync();
    EXPECT_FALSE(recorder->AnyNameContains(QStringLiteral("after.txt"))) << recorder->Dump();
    EXPECT_TRUE(recorder->errors.empty());
}

TEST_F(DirectoryWatchTest, WatcherWhoseDirectoryWentAwayShowsItsThreadEnded)
{
    StartWatch();
    EXPECT_FALSE(watch->ThreadEnded());
    ASSERT_TRUE(QDir(root).removeRecursively());
    ASSERT_TRUE(kestest::WaitUntil([&] { return recorder->HasError(ENOENT) && watch->ThreadEnded(); }));
    EXPECT_TRUE(recorder->ErrorText(ENOENT).contains(root));
    EXPECT_TRUE(watch->Running());
    watch->Stop();
    EXPECT_FALSE(watch->Running());
    EXPECT_FALSE(watch->ThreadEnded());
}
