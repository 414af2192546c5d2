// The directory watcher on real inotify: actions, names, errors, the
// properties, and the filtering by WatchActions and WatchOptions.
#include "DirectoryWatchTest.h"

#include "frame/Format.h"
#include "platform/FileName.h"

#include <QFileDevice>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using kes::TWatchAction;
using kes::TWatchOptions;
using kestest::DirectoryWatchTest;
using kestest::WatchRecord;

namespace {

bool Rename(const QString& from, const QString& to)
{
    return QDir().rename(from, to);
}

} // namespace

TEST_F(DirectoryWatchTest, ReportsEachActionWithNamesRelativeToTheDirectory)
{
    Write(QStringLiteral("old.txt"));
    Write(QStringLiteral("doomed.txt"));
    Write(QStringLiteral("r1.txt"));
    Write(QStringLiteral("sub/x.txt"));
    kestest::WriteBytes(tmp.path() + QStringLiteral("/came.txt"), "x");
    MakeDir(QStringLiteral("sub/deep"));
    StartWatch();
    EXPECT_TRUE(watch->Running());
    EXPECT_EQ(watch->WatchCount(), 3);

    struct Case {
        const char* what;
        std::function<void()> act;
        std::vector<WatchRecord> expected; // in this order
        bool adjacent; // and one right after the other
    };
    const Case cases[] = {
        {"create", [&] { Write(QStringLiteral("a.txt")); }, {{kes::waAdded, QStringLiteral("a.txt")}}, false},
        {"modify", [&] { Write(QStringLiteral("old.txt"), "changed"); },
            {{kes::waModified, QStringLiteral("old.txt")}}, false},
        {"delete", [&] { ASSERT_TRUE(QFile::remove(Path(QStringLiteral("doomed.txt")))); },
            {{kes::waRemoved, QStringLiteral("doomed.txt")}}, false},
        {"rename",
            [&] { ASSERT_TRUE(Rename(Path(QStringLiteral("r1.txt")), Path(QStringLiteral("r2.txt")))); },
            {{kes::waRenamedOld, QStringLiteral("r1.txt")}, {kes::waRenamedNew, QStringLiteral("r2.txt")}},
            true},
        {"create in a sub-directory", [&] { Write(QStringLiteral("sub/deep/f.txt")); },
            {{kes::waAdded, QStringLiteral("sub/deep/f.txt")}}, false},
        {"move between sub-directories",
            [&] {
                ASSERT_TRUE(
                    Rename(Path(QStringLiteral("sub/x.txt")), Path(QStringLiteral("sub/deep/y.txt"))));
            },
            {{kes::waRenamedOld, QStringLiteral("sub/x.txt")},
                {kes::waRenamedNew, QStringLiteral("sub/deep/y.txt")}},
            true},
        {"move in from outside the tree",
            [&] {
                ASSERT_TRUE(
                    Rename(tmp.path() + QStringLiteral("/came.txt"), Path(QStringLiteral("came.txt"))));
            },
            {{kes::waAdded, QStringLiteral("came.txt")}}, false},
        {"move out of the tree",
            [&] {
                ASSERT_TRUE(
                    Rename(Path(QStringLiteral("old.txt")), tmp.path() + QStringLiteral("/went.txt")));
            },
            {{kes::waRemoved, QStringLiteral("old.txt")}}, false},
    };
    std::size_t from = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.act();
        ASSERT_TRUE(kestest::WaitUntil([&] { return recorder->IndexOf(c.expected.back(), from) >= 0; }))
            << recorder->Dump();
        int at = int(from) - 1;
        for (const WatchRecord& r : c.expected) {
            const int next = recorder->IndexOf(r, std::size_t(at + 1));
            ASSERT_GT(next, at) << r << "\n" << recorder->Dump();
            if (c.adjacent && at >= int(from)) {
                EXPECT_EQ(next, at + 1) << recorder->Dump();
            }
            at = next;
        }
        from = std::size_t(at + 1);
    }
    EXPECT_EQ(recorder->lastId, 7);
    EXPECT_TRUE(recorder->errors.empty());
}

TEST_F(DirectoryWatchTest, NamesWithLineBreaksAndInvalidUtf8RoundTrip)
{
    StartWatch();
    const QByteArray base = kes::platform::EncodeName(root) + '/';
    const QByteArray names[] = {
        QByteArray("line\nbreak.txt"),
        QByteArray("bad\xFF\xFEname.txt"),
        QByteArray("caf\xC3\xA9.txt"),
    };
    for (const QByteArray& raw : names) {
        SCOPED_TRACE(raw.toHex().toStdString());
        const int fd = ::open((base + raw).constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
        const QString name = kes::platform::DecodeName(raw);
        ASSERT_TRUE(recorder->WaitFor({kes::waAdded, name})) << recorder->Dump();
        EXPECT_EQ(kes::platform::EncodeName(name), raw);
    }
    // A directory whose name is not UTF-8, with a file created inside.
    const QByteArray dir("d\xE9r");
    ASSERT_EQ(::mkdir((base + dir).constData(), 0755), 0);
    const int fd = ::open((base + dir + "/in.txt").constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_TRUE(recorder->WaitFor({kes::waAdded, kes::platform::DecodeName(dir + "/in.txt")}))
        << recorder->Dump();
}

TEST(DirectoryWatch, StartRaisesTheExactTexts)
{
    QTemporaryDir tmp;
    const QString file = tmp.path() + QStringLiteral("/plain.txt");
    kestest::WriteBytes(file, "x");
    const QString missing = tmp.path() + QStringLiteral("/missing");
    const QString pattern = QStringLiteral("Error trying to create file handle for \"%s\". Error code: %d");
    struct Case {
        QString dir;
        int code;
        QString text;
    };
    const Case cases[] = {
        {QString(), 0, QStringLiteral("Please specify a directory to watch")},
        {QStringLiteral("   "), 0, QStringLiteral("Please specify a directory to watch")},
        {missing, ENOENT, kes::Format(pattern, {missing, ENOENT})},
        {file, ENOTDIR, kes::Format(pattern, {file, ENOTDIR})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir.toStdString());
        kes::TDirectoryWatch w(1);
        w.SetDirectory(c.dir);
        try {
            w.Start();
            ADD_FAILURE() << "Start did not raise";
        } catch (const kes::EDirWatchError& e) {
            EXPECT_EQ(e.Code(), c.code);
            EXPECT_EQ(e.Message(), c.text);
        }
        EXPECT_FALSE(w.Running());
    }
}

TEST_F(DirectoryWatchTest, DirectoryIsTrimmedComparedExactlyAndRestartsWhenNew)
{
    StartWatch();
    const int changes = recorder->changes;
    watch->SetDirectory(QStringLiteral("  ") + root + QStringLiteral("\t"));
    EXPECT_EQ(watch->Directory(), root);
    EXPECT_EQ(recorder->changes, changes);
    // On Linux a name in other letter case is another directory.
    const QString otherCase = QFileInfo(root).path() + u'/' + QFileInfo(root).fileName().toUpper();
    ASSERT_TRUE(QDir().mkpath(otherCase));
    watch->SetDirectory(otherCase);
    EXPECT_EQ(watch->Directory(), otherCase);
    EXPECT_GT(recorder->changes, changes);
    watch->SetDirectory(root);

    const QString other = tmp.path() + QStringLiteral("/other");
    ASSERT_TRUE(QDir().mkpath(other));
    watch->SetDirectory(QStringLiteral(" ") + other + QStringLiteral(" "));
    EXPECT_EQ(watch->Directory(), other);
    EXPECT_TRUE(watch->Running());
    EXPECT_GT(recorder->changes, changes);

    kestest::WriteBytes(Path(QStringLiteral("not-any-more.txt")), "x");
    kestest::WriteBytes(other + QStringLiteral("/now.txt"), "x");
    ASSERT_TRUE(recorder->WaitFor({kes::waAdded, QStringLiteral("now.txt")})) << recorder->Dump();
    EXPECT_FALSE(recorder->AnyNameContains(QStringLiteral("not-any-more"))) << recorder->Dump();

    // Start on a running watcher changes nothing; Stop and Start again works.
    const int before = recorder->changes;
    watch->Start();
    EXPECT_EQ(recorder->changes, before);
    watch->Stop();
    EXPECT_FALSE(watch->Running());
    watch->Start();
    kestest::WriteBytes(other + QStringLiteral("/again.txt"), "x");
    EXPECT_TRUE(recorder->WaitFor({kes::waAdded, QStringLiteral("again.txt")})) << recorder->Dump();
}

TEST_F(DirectoryWatchTest, WatchActionsFilterInNotifyNotInTheThread)
{
    kes::TDirectoryWatch w(3);
    kestest::WatchRecorder rec(w);
    w.SetWatchActions({kes::waAdded, kes::waRenamedNew});
    for (int action = 0; action <= 6; ++action)
        w.Notify(action, QStringLiteral("n%1").arg(action));
    const std::vector<WatchRecord> expected
        = {{kes::waAdded, QStringLiteral("n1")}, {kes::waRenamedNew, QStringLiteral("n5")}};
    EXPECT_EQ(rec.records, expected);

    // Real changes: modifications and removals never reach OnNotify.
    Write(QStringLiteral("keep.txt"));
    StartWatch();
    watch->SetWatchActions({kes::waAdded});
    Write(QStringLiteral("keep.txt"), "more");
    ASSERT_TRUE(QFile::remove(Path(QStringLiteral("keep.txt"))));
    Sync();
    for (const WatchRecord& r : recorder->records)
        EXPECT_EQ(r.action, kes::waAdded) << r;
}

TEST_F(DirectoryWatchTest, WatchOptionsSelectTheChangeKinds)
{
    struct Case {
        const char* what;
        TWatchOptions options;
        std::function<void()> wanted;
        WatchRecord expected;
        std::function<void()> unwanted;
        QString unwantedName;
        std::function<void()> marker; // reported under the options
        WatchRecord markerRecord;
    };
    const auto chmodFile = [&](const char* rel, QFileDevice::Permissions p) {
        ASSERT_TRUE(QFile::setPermissions(Path(QString::fromUtf8(rel)), p));
    };
    const auto rw = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const Case cases[] = {
        {"file names only", {kes::woFileName}, [&] { Write(QStringLiteral("f1")); },
            {kes::waAdded, QStringLiteral("f1")}, [&] { MakeDir(QStringLiteral("d1")); },
            QStringLiteral("d1"), [&] { Write(QStringLiteral("m1")); }, {kes::waAdded, QStringLiteral("m1")}},
        {"directory names only", {kes::woDirName}, [&] { MakeDir(QStringLiteral("d2")); },
            {kes::waAdded, QStringLiteral("d2")}, [&] { Write(QStringLiteral("f2")); }, QStringLiteral("f2"),
            [&] { MakeDir(QStringLiteral("m2")); }, {kes::waAdded, QStringLiteral("m2")}},
        {"attributes only", {kes::woAttributes}, [&] { chmodFile("e1", QFileDevice::ReadOwner); },
            {kes::waModified, QStringLiteral("e1")}, [&] { Write(QStringLiteral("e2"), "new"); },
            QStringLiteral("e2"), [&] { chmodFile("e3", QFileDevice::ReadOwner); },
            {kes::waModified, QStringLiteral("e3")}},
        {"last write only", {kes::woLastWrite}, [&] { Write(QStringLiteral("e1"), "new"); },
            {kes::waModified, QStringLiteral("e1")}, [&] { chmodFile("e2", QFileDevice::ReadOwner); },
            QStringLiteral("e2"), [&] { Write(QStringLiteral("e3"), "new"); },
            {kes::waModified, QStringLiteral("e3")}},
        {"last access only: files read, not directories listed", {kes::woLastAccess},
            [&] { kestest::ReadBytes(Path(QStringLiteral("e1"))); }, {kes::waModified, QStringLiteral("e1")},
            [&] {
                MakeDir(QStringLiteral("listed"));
                QDir(Path(QStringLiteral("listed"))).entryList();
            },
            QStringLiteral("listed"), [&] { kestest::ReadBytes(Path(QStringLiteral("e3"))); },
            {kes::waModified, QStringLiteral("e3")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* e : {"e1", "e2", "e3"}) {
            const QString rel = QString::fromUtf8(e);
            if (QFile::exists(Path(rel)))
                chmodFile(e, rw);
            Write(rel);
        }
        StartWatch(c.options);
        c.wanted();
        c.unwanted();
        c.marker();
        ASSERT_TRUE(recorder->WaitFor(c.markerRecord)) << recorder->Dump();
        EXPECT_TRUE(recorder->Has(c.expected)) << recorder->Dump();
        EXPECT_FALSE(recorder->AnyNameContains(c.unwantedName)) << recorder->Dump();
        watch.reset();
    }
}

TEST_F(DirectoryWatchTest, WithoutSubTreeOnlyTheDirectoryItselfIsWatched)
{
    MakeDir(QStringLiteral("sub"));
    StartWatch(TWatchOptions::All(), false);
    EXPECT_EQ(watch->WatchCount(), 1);
    Write(QStringLiteral("sub/inner.txt"));
    MakeDir(QStringLiteral("newdir/deeper"));
    Sync();
    EXPECT_TRUE(recorder->Has({kes::waAdded, QStringLiteral("newdir")})) << recorder->Dump();
    EXPECT_FALSE(recorder->AnyNameContains(QStringLiteral("inner"))) << recorder->Dump();
    EXPECT_FALSE(recorder->AnyNameContains(QStringLiteral("deeper"))) << recorder->Dump();
    EXPECT_EQ(watch->WatchCount(), 1);
}

TEST_F(DirectoryWatchTest, WritesInManyChunksAreCoalescedButTheLastOneIsReported)
{
    Write(QStringLiteral("a.bin"), "");
    Write(QStringLiteral("b.bin"), "");
    StartWatch();
    // Alternate between two files so the kernel cannot merge the events
    // itself: every write is a separate event.
    QFile a(Path(QStringLiteral("a.bin")));
    QFile b(Path(QStringLiteral("b.bin")));
    ASSERT_TRUE(a.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    ASSERT_TRUE(b.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray chunk(512, 'z');
    constexpr int kChunks = 2000;
    for (int i = 0; i < kChunks; ++i) {
        ASSERT_EQ(a.write(chunk), chunk.size());
        ASSERT_EQ(b.write(chunk), chunk.size());
    }
    const WatchRecord modA {kes::waModified, QStringLiteral("a.bin")};
    // The files stay open: the writes after the first report come as one
    // more report once the coalescing time is over.
    ASSERT_TRUE(kestest::WaitUntil([&] { return recorder->Count(modA) >= 2; })) << recorder->Dump();
    const int whileOpen = recorder->Count(modA);
    EXPECT_LT(whileOpen, 20) << "one report per write is a flood";
    // A write after the reports, then the close: reported again.
    ASSERT_EQ(a.write(chunk), chunk.size());
    a.close();
    b.close();
    EXPECT_TRUE(kestest::WaitUntil([&] { return recorder->Count(modA) > whileOpen; })) << recorder->Dump();
}
