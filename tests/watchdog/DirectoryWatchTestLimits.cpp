// The watcher at the system's limits: the kernel's queue overflowing, the
// watch limit reached, a thread that does not end, and the scan for changed
// files that catches up afterwards.
#include "DirectoryWatchTest.h"

#include "platform/DirNotify.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QScopeGuard>
#include <QSemaphore>
#include <atomic>
#include <cerrno>

using kestest::DirectoryWatchTest;
using kestest::WatchRecord;

namespace {

// A thread hook that parks the watcher thread between two reads when asked.
struct Gate {
    std::atomic<bool> close {false};
    QSemaphore parked;
    QSemaphore open;
    std::atomic<bool> passed {false};

    std::function<void()> Hook()
    {
        return [this] {
            if (!close.exchange(false))
                return;
            parked.release();
            open.acquire();
            passed = true;
        };
    }
};

} // namespace

TEST_F(DirectoryWatchTest, QueueOverflowIsReportedAsError1022AndWatchingGoesOn)
{
    const int queueLimit = kes::platform::DirNotifyQueueLimit();
    if (queueLimit <= 0 || queueLimit > 200000)
        GTEST_SKIP() << "fs.inotify.max_queued_events is " << queueLimit;
    Gate gate;
    // The watcher thread calls the gate's hook until the watcher is gone:
    // the watcher goes first, however the test ends.
    const auto watcherFirst = qScopeGuard([&] {
        gate.open.release();
        watch.reset();
    });
    watch = std::make_unique<kes::TDirectoryWatch>(1);
    recorder = std::make_unique<kestest::WatchRecorder>(*watch);
    watch->SetDirectory(root);
    watch->SetThreadHook(gate.Hook());
    watch->Start();

    // Park the thread: it runs the hook after delivering the next change.
    gate.close = true;
    Write(QStringLiteral("trigger"));
    ASSERT_TRUE(gate.parked.tryAcquire(1, 10000));
    // More events than the kernel queues: attribute changes alternating
    // between two files (the kernel merges only repeats of its last event),
    // then a directory whose creation is certainly among the dropped ones.
    const QString files[2] = {Path(QStringLiteral("trigger")), Path(QStringLiteral("second"))};
    Write(QStringLiteral("second"));
    const QFileDevice::Permissions modes[2]
        = {QFileDevice::ReadOwner | QFileDevice::WriteOwner, QFileDevice::ReadOwner};
    for (int i = 0; i <= queueLimit + 2; ++i)
        ASSERT_TRUE(QFile::setPermissions(files[i % 2], modes[(i / 2) % 2]));
    MakeDir(QStringLiteral("late"));
    gate.open.release();

    ASSERT_TRUE(kestest::WaitUntil([&] { return recorder->HasError(kes::TDirectoryWatch::kOverflowCode); }));
    EXPECT_TRUE(recorder->ErrorText(kes::TDirectoryWatch::kOverflowCode).contains(root));
    EXPECT_TRUE(watch->Running());
    EXPECT_FALSE(watch->ThreadEnded());
    // The directory whose creation was dropped was found and is watched.
    Write(QStringLiteral("late/after.txt"));
    EXPECT_TRUE(recorder->WaitFor({kes::waAdded, QStringLiteral("late/after.txt")}))
        << recorder->errors.size();
}

// Runs in a user namespace of its own with a watch limit of 6 (started by
// the test below, never on its own).
TEST(DirectoryWatchLimit, DISABLED_InNamespace)
{
    QTemporaryDir tmp;
    const QString root = tmp.path();
    for (int i = 1; i <= 9; ++i)
        ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/d%1").arg(i)));
    kes::TDirectoryWatch watch(1);
    kestest::WatchRecorder rec(watch);
    watch.SetDirectory(root);
    watch.Start();
    EXPECT_EQ(watch.WatchCount(), 6);
    ASSERT_TRUE(kestest::WaitUntil([&] { return rec.HasError(ENOSPC); }));
    const QString text = rec.ErrorText(ENOSPC);
    EXPECT_TRUE(text.contains(QStringLiteral("fs.inotify.max_user_watches"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("3 other directories"))) << text.toStdString();
    // What is watched goes on being watched.
    kestest::WriteBytes(root + QStringLiteral("/top.txt"), "x");
    EXPECT_TRUE(rec.WaitFor({kes::waAdded, QStringLiteral("top.txt")}));
    EXPECT_EQ(rec.errors.size(), 1u);

    // A directory that cannot get its own watch raises the exact text, with
    // the limit named on a second line.
    kes::TDirectoryWatch second(2);
    second.SetDirectory(root + QStringLiteral("/d1"));
    try {
        second.Start();
        ADD_FAILURE() << "Start did not raise";
    } catch (const kes::EDirWatchError& e) {
        EXPECT_EQ(e.Code(), ENOSPC);
        EXPECT_TRUE(e.Message().startsWith(
            QStringLiteral("Error trying to create file handle for \"%1\". Error code: %2\r\n")
                .arg(root + QStringLiteral("/d1"))
                .arg(ENOSPC)));
        EXPECT_TRUE(e.Message().contains(QStringLiteral("fs.inotify.max_user_watches")));
    }
}

TEST(DirectoryWatchLimit, ReachedLimitIsReportedAndTheRestIsWatched)
{
    if (!kestest::HaveTool(QStringLiteral("unshare")))
        GTEST_SKIP() << "unshare is missing";
    const QString self = QCoreApplication::applicationFilePath();
    const kestest::ProcessResult r = kestest::Run(QStringLiteral("unshare"),
        {QStringLiteral("-U"), QStringLiteral("-r"), QStringLiteral("sh"), QStringLiteral("-c"),
            QStringLiteral(
                "echo 6 > /proc/sys/user/max_inotify_watches || exit 77; exec \"$0\" "
                "--gtest_also_run_disabled_tests --gtest_filter=DirectoryWatchLimit.DISABLED_InNamespace"),
            self});
    if (r.exitCode == 77 || r.err.contains("unshare failed") || r.err.contains("Operation not permitted"))
        GTEST_SKIP() << "no user namespace with its own watch limit: " << r.err.toStdString();
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("[  PASSED  ] 1 test")) << r.out.toStdString();
}

TEST_F(DirectoryWatchTest, StopReturnsWhenTheThreadIsStuckAndTheThreadEndsLater)
{
    Gate gate;
    // The watcher thread calls the gate's hook until the watcher is gone:
    // the watcher goes first, however the test ends.
    const auto watcherFirst = qScopeGuard([&] {
        gate.open.release();
        watch.reset();
    });
    watch = std::make_unique<kes::TDirectoryWatch>(1);
    recorder = std::make_unique<kestest::WatchRecorder>(*watch);
    watch->SetDirectory(root);
    watch->SetThreadHook(gate.Hook());
    watch->Start();
    gate.close = true;
    Write(QStringLiteral("trigger"));
    ASSERT_TRUE(gate.parked.tryAcquire(1, 10000));

    // The hook ignores the abort, like a call blocked in the kernel.
    watch->Stop();
    EXPECT_FALSE(watch->Running());
    EXPECT_TRUE(recorder->HasError(kes::TDirectoryWatch::kStopTimeoutCode));

    gate.open.release();
    ASSERT_TRUE(kestest::WaitUntil([&] { return gate.passed.load(); }));
    Write(QStringLiteral("after-stop"));
    // The abandoned thread has been told to abort: it reads nothing more.
    // The watcher itself can be started again.
    watch->Start();
    Write(QStringLiteral("restarted"));
    ASSERT_TRUE(recorder->WaitFor({kes::waAdded, QStringLiteral("restarted")})) << recorder->Dump();
    EXPECT_FALSE(recorder->Has({kes::waAdded, QStringLiteral("after-stop")})) << recorder->Dump();
}

TEST(DirectoryWatchScan, ListsFilesChangedSinceAMoment)
{
    QTemporaryDir tmp;
    const QString root = tmp.path();
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-2);
    kestest::WriteBytes(root + QStringLiteral("/a.txt"), "a");
    kestest::WriteBytes(root + QStringLiteral("/sub/deep/b.txt"), "b");
    kestest::WriteBytes(root + QStringLiteral("/old.txt"), "o");
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/empty")));
    // An old modification time, as a file moved in keeps it: its status
    // change time is new, so it still counts.
    QFile old(root + QStringLiteral("/old.txt"));
    ASSERT_TRUE(old.open(QIODevice::ReadWrite));
    ASSERT_TRUE(old.setFileTime(
        QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC), QFileDevice::FileModificationTime));
    old.close();

    struct Case {
        const char* what;
        QDateTime since;
        QStringList expected;
    };
    const Case cases[] = {
        {"everything", QDateTime(), {"a.txt", "old.txt", "sub/deep/b.txt"}},
        {"since before", before, {"a.txt", "old.txt", "sub/deep/b.txt"}},
        {"since later", QDateTime::currentDateTimeUtc().addSecs(3600), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        kes::TChangedFiles found = kes::ListChangedFiles(root, c.since);
        found.Names.sort();
        EXPECT_EQ(found.Names, c.expected);
        EXPECT_EQ(found.ErrorCode, 0);
        EXPECT_EQ(found.Unreadable, 0);
    }
    EXPECT_EQ(kes::ListChangedFiles(root + QStringLiteral("/missing"), QDateTime()).ErrorCode, ENOENT);
}
