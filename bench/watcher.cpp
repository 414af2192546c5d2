// Figures of the directory watcher:
//   1. time and memory to start watching a tree of 20,000 directories;
//   2. change records per second from inotify to the main thread, bare and
//      through a filter into a sorted case-insensitive list (as the pending
//      list of a monitor task);
//   3. 20,000 file creations per second for five seconds: dropped changes
//      (error 1022) or not, and how far the main thread lags;
//   4. one file written in 4 KiB chunks: records delivered per write.
//
//   bench_watcher [folder [tree]]
//     folder: where to work (default: /dev/shm when present, else the
//             temporary folder; file creation on a slow disk cannot reach
//             the rates measured here)
//     tree:   measure only the start of watching a large tree
#include "platform/DirNotify.h"
#include "watchdog/DirectoryWatch.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <set>
#include <thread>
#include <unistd.h>

using namespace std::chrono;

namespace {

struct CaseLess {
    bool operator()(const QString& a, const QString& b) const
    {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    }
};

bool WaitFor(const std::function<bool()>& pred, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void CreateFile(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0)
        ::close(fd);
}

kes::TWatchOptions SelwandOptions()
{
    return {kes::woFileName, kes::woDirName, kes::woSize, kes::woLastWrite, kes::woCreation};
}

void StartTree(const QString& base)
{
    const QString tree = base + QStringLiteral("/tree");
    QElapsedTimer t;
    t.start();
    int dirs = 0;
    for (int a = 0; a < 20; ++a) {
        for (int b = 0; b < 20; ++b) {
            for (int c = 0; c < 50; ++c) {
                QDir().mkpath(QStringLiteral("%1/a%2/b%3/c%4").arg(tree).arg(a).arg(b).arg(c));
                ++dirs;
            }
        }
    }
    dirs += 20 + 400 + 1;
    std::printf("tree: %d directories made in %.2f s\n", dirs, t.elapsed() / 1000.0);

    const kes::platform::ProcessMemory before = kes::platform::ReadProcessMemory();
    kes::TDirectoryWatch watch(1);
    watch.SetDirectory(tree);
    watch.SetWatchOptions(SelwandOptions());
    t.restart();
    watch.Start();
    const qint64 startMs = t.elapsed();
    const kes::platform::ProcessMemory after = kes::platform::ReadProcessMemory();
    std::printf("start watching: %d directories in %lld ms (goal: under 2000 ms)\n", watch.WatchCount(),
        static_cast<long long>(startMs));
    std::printf("memory: VmRSS %lld -> %lld KiB (+%lld KiB, %.0f bytes per directory), VmHWM %lld KiB\n",
        before.ResidentKiB, after.ResidentKiB, after.ResidentKiB - before.ResidentKiB,
        (after.ResidentKiB - before.ResidentKiB) * 1024.0 / watch.WatchCount(), after.PeakResidentKiB);
    t.restart();
    watch.Stop();
    std::printf("stop: %lld ms\n", static_cast<long long>(t.elapsed()));
}

struct Run {
    int added = 0;
    int records = 0;
    int overflows = 0;
    qint64 firstMs = -1;
    qint64 lastMs = -1;
};

// Creates count files, paced at rate per second (0: as fast as possible),
// and counts what reaches the main thread.
void Creations(const QString& base, const char* label, int count, int rate, bool pendingList)
{
    const QString dir = base + QStringLiteral("/burst-") + QString::fromUtf8(label);
    QDir().mkpath(dir);
    kes::TDirectoryWatch watch(1);
    watch.SetDirectory(dir);
    watch.SetWatchOptions(SelwandOptions());
    Run run;
    std::set<QString, CaseLess> pending;
    QElapsedTimer clock;
    QObject::connect(&watch, &kes::TDirectoryWatch::OnNotify, &watch,
        [&](kes::TDirectoryWatch*, int, kes::TWatchAction action, const QString& name) {
            const qint64 now = clock.elapsed();
            if (run.firstMs < 0)
                run.firstMs = now;
            run.lastMs = now;
            ++run.records;
            if (action == kes::waAdded)
                ++run.added;
            if (pendingList && !name.endsWith(QLatin1String(".tmp"), Qt::CaseInsensitive)
                && action != kes::waRemoved && action != kes::waRenamedOld)
                pending.insert(name);
        });
    QObject::connect(
        &watch, &kes::TDirectoryWatch::OnError, &watch, [&](kes::TDirectoryWatch*, int code, const QString&) {
            if (code == kes::TDirectoryWatch::kOverflowCode)
                ++run.overflows;
        });
    watch.Start();
    const QByteArray prefix = QFile::encodeName(dir) + "/file-";
    std::atomic<qint64> writerMs {0};
    clock.start();
    std::thread writer([&] {
        const auto begin = steady_clock::now();
        constexpr int kSlice = 100;
        for (int i = 0; i < count; ++i) {
            if (rate > 0 && i % kSlice == 0)
                std::this_thread::sleep_until(begin + microseconds(qint64(i) * 1000000 / rate));
            CreateFile(prefix + QByteArray::number(i) + ".dat");
        }
        writerMs = duration_cast<milliseconds>(steady_clock::now() - begin).count();
    });
    const bool all = WaitFor([&] { return run.added >= count || run.overflows > 0; }, 120000);
    writer.join();
    WaitFor([&] { return run.added >= count; }, 2000);
    const double writerRate = count * 1000.0 / std::max<qint64>(1, writerMs.load());
    const double deliverRate = run.added * 1000.0 / std::max<qint64>(1, run.lastMs - run.firstMs);
    std::printf("%-22s %7d files, written at %8.0f/s; delivered %7d added (%7d records) at %8.0f added/s; "
                "lag after the writer %5lld ms; dropped (1022): %s%s\n",
        label, count, writerRate, run.added, run.records, deliverRate,
        static_cast<long long>(run.lastMs - writerMs.load()), run.overflows ? "YES" : "no",
        all ? "" : " (timed out)");
    if (pendingList)
        std::printf("%-22s pending list holds %zu names\n", "", pending.size());
}

// Fills the kernel's queue while the watcher thread is held, then measures
// how fast the records of the full queue reach the main thread (the
// capacity of the path, independent of how fast files can be made).
void Drain(const QString& base, bool pendingList)
{
    const QString dir = base + (pendingList ? QStringLiteral("/drain-list") : QStringLiteral("/drain"));
    QDir().mkpath(dir);
    const int queueLimit = kes::platform::DirNotifyQueueLimit();
    const int files = std::max(1, (queueLimit > 0 ? queueLimit : 16384) / 2 - 64); // two events per file
    std::atomic<bool> hold {false};
    std::atomic<bool> parked {false};
    kes::TDirectoryWatch watch(1);
    watch.SetDirectory(dir);
    watch.SetWatchOptions(SelwandOptions());
    watch.SetThreadHook([&] {
        while (hold.load()) {
            parked = true;
            std::this_thread::sleep_for(milliseconds(1));
        }
    });
    int added = 0;
    int records = 0;
    int overflows = 0;
    std::set<QString, CaseLess> pending;
    QObject::connect(&watch, &kes::TDirectoryWatch::OnNotify, &watch,
        [&](kes::TDirectoryWatch*, int, kes::TWatchAction action, const QString& name) {
            ++records;
            if (action == kes::waAdded)
                ++added;
            if (pendingList && !name.endsWith(QLatin1String(".tmp"), Qt::CaseInsensitive))
                pending.insert(name);
        });
    QObject::connect(&watch, &kes::TDirectoryWatch::OnError, &watch,
        [&](kes::TDirectoryWatch*, int code, const QString&) { overflows += code == 1022; });
    watch.Start();
    hold = true;
    CreateFile(QFile::encodeName(dir) + "/wake");
    WaitFor([&] { return parked.load(); }, 10000);
    const QByteArray prefix = QFile::encodeName(dir) + "/file-";
    for (int i = 0; i < files; ++i)
        CreateFile(prefix + QByteArray::number(i) + ".dat");
    QElapsedTimer t;
    t.start();
    hold = false;
    WaitFor([&] { return added >= files + 1 || overflows > 0; }, 60000);
    const qint64 us = std::max<qint64>(1, t.nsecsElapsed() / 1000);
    std::printf("drain of a full queue%s: %d records (%d added) in %lld ms = %.0f records/s%s\n",
        pendingList ? " into the pending list" : "", records, added, static_cast<long long>(us / 1000),
        records * 1e6 / us, overflows ? " (dropped!)" : "");
}

void ChunkedWrite(const QString& base)
{
    const QString dir = base + QStringLiteral("/chunks");
    QDir().mkpath(dir);
    kes::TDirectoryWatch watch(1);
    watch.SetDirectory(dir);
    watch.SetWatchOptions(SelwandOptions());
    int modified = 0;
    QObject::connect(&watch, &kes::TDirectoryWatch::OnNotify, &watch,
        [&](kes::TDirectoryWatch*, int, kes::TWatchAction action, const QString&) {
            if (action == kes::waModified)
                ++modified;
        });
    watch.Start();
    const QByteArray path = QFile::encodeName(dir) + "/big.bin";
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    const QByteArray chunk(4096, 'k');
    constexpr int kWrites = 16384; // 64 MiB
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < kWrites; ++i) {
        if (::write(fd, chunk.constData(), size_t(chunk.size())) < 0)
            break;
    }
    ::close(fd);
    const qint64 ms = t.elapsed();
    WaitFor([&] { return false; }, 1500); // let the last coalesced report arrive
    std::printf("chunked write: %d writes of 4 KiB in %lld ms -> %d modified records\n", kWrites,
        static_cast<long long>(ms), modified);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (base.isEmpty())
        base = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm")
                                                                  : QDir::tempPath();
    QTemporaryDir tmp(base + QStringLiteral("/bench-watcher-XXXXXX"));
    if (!tmp.isValid()) {
        std::fprintf(stderr, "cannot make a folder in %s\n", qPrintable(base));
        return 1;
    }
    std::printf("folder: %s; fs.inotify.max_queued_events = %d, max_user_watches = %d\n",
        qPrintable(tmp.path()), kes::platform::DirNotifyQueueLimit(), kes::platform::DirWatchLimit());
    StartTree(tmp.path());
    if (argc > 2 && qstrcmp(argv[2], "tree") == 0)
        return 0;
    Drain(tmp.path(), false);
    Drain(tmp.path(), true);
    Creations(tmp.path(), "unpaced", 100000, 0, false);
    Creations(tmp.path(), "unpaced+pending list", 100000, 0, true);
    Creations(tmp.path(), "paced 20000/s", 100000, 20000, true);
    ChunkedWrite(tmp.path());
    return 0;
}
