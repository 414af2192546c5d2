// Figures of Selwand's monitoring road:
//   1. changes per second from inotify to the pending list, through the
//      task's filters (the monitoring controller with its watcher): bursts
//      of file creations are held in the kernel while the watcher thread
//      waits, then let through and timed until every selected file is
//      pending;
//   2. the same collection without inotify: FileChanged called directly;
//   3. a backup pass over 10,000 small files (plain copies, no versions)
//      against "cp -r" of the same tree, and the same pass with gzip.
//
//   bench_selwand_pass [folder [collect|pass]]
//     folder: where to work (default: /dev/shm when present, else the
//             temporary folder)
//     collect, pass: only that part
#include "watchdog/BackupThread.h"
#include "watchdog/MonTask.h"
#include "watchdog/MonitorController.h"

#include "common/ThreadGate.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

bool WaitFor(const std::function<bool()>& pred, int timeoutMs)
{
    // Blocks in the event loop (as the monitoring does) instead of polling:
    // a wake-up timer bounds each wait.
    QDeadlineTimer deadline(timeoutMs);
    QTimer wake;
    wake.start(5);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

void WriteUtf16(const QString& path, QString text)
{
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    QByteArray bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    WriteFile(path, bytes);
}

void Collection(const QString& base)
{
    const QString data = base + QStringLiteral("/collect");
    QDir().mkpath(data + QStringLiteral("/sub"));
    // Every ".txt" file outside "tmp" directories; ".log" files are not
    // selected.
    WriteUtf16(base + QStringLiteral("/collect.buj"),
        QStringLiteral("[Global]\nDestination=%1/unused\nDestMode=1\nDirCount=1\n[Dir000]\nSource=%2\n"
                       "BackupMode=1\nExclude=log\nFilterMode=1\nFilter=*.txt\nDirFilter=tmp\n")
            .arg(base, data));
    WriteUtf16(base + QStringLiteral("/Selwand.ini"),
        QStringLiteral(
            "[Config]\nInterval=-1\nCount=1\n[Monitor00]\nBackupTask=%1/collect.buj\nDirectory=%2\n")
            .arg(base, data));
    kes::TSelwandSetup setup;
    setup.Location.IniName = base + QStringLiteral("/Selwand.ini");
    setup.Location.SettingsDir = base + u'/';
    setup.Location.KesmoIni = base + QStringLiteral("/Kesmo.ini");
    kes::TMonitorController monitor(setup);
    monitor.SetAutoTick(false);
    monitor.Load();
    kestest::ThreadGate gate;
    monitor.SetWatchThreadHook([&gate] { gate.Pass(); });
    if (!monitor.StartMonitoring()) {
        std::puts("collection: monitoring did not start");
        return;
    }

    // Bursts that stay below the kernel's queue (16,384 records by
    // default): one file made by a rename gives one record.
    const int kBursts = 10;
    const int kPerBurst = 6000;
    const QByteArray content("x");
    qint64 heldMs = 0;
    int selected = 0;
    int seq = 0;
    for (int b = 0; b < kBursts; ++b) {
        gate.Set(false);
        for (int i = 0; i < kPerBurst; ++i, ++seq) {
            const QString staged = base + QStringLiteral("/staged");
            WriteFile(staged, content);
            const bool txt = seq % 4 != 0;
            const QString name
                = QStringLiteral("%1/sub/f%2.%3").arg(data).arg(seq).arg(txt ? u"txt" : u"log");
            QFile::rename(staged, name);
            selected += txt ? 1 : 0;
        }
        QElapsedTimer t;
        t.start();
        gate.Set(true);
        if (!WaitFor([&] { return monitor.FileCount() == selected; }, 60000)) {
            std::printf("collection: only %d of %d files became pending\n", monitor.FileCount(), selected);
            break;
        }
        heldMs += t.elapsed();
    }
    const int records = kBursts * kPerBurst;
    std::printf(
        "1. inotify -> filters -> pending list: %d records (%d selected) in %lld ms: %.0f records/s\n",
        records, selected, heldMs, heldMs > 0 ? records * 1000.0 / double(heldMs) : 0.0);
    const bool overflow = monitor.LogLines().join(u'\n').contains(QStringLiteral("came faster"));
    std::printf("   lost changes (1022): %s\n", overflow ? "yes" : "no");
    monitor.StopMonitoring();
    WaitFor([&] { return !monitor.Monitoring(); }, 600000);

    // 2. The same work without the kernel: FileChanged with names.
    kes::TMonitorController direct(setup);
    direct.SetAutoTick(false);
    direct.Load();
    // Monitoring is needed for FileChanged to take names.
    direct.StartMonitoring();
    QStringList names;
    const int kNames = 300000;
    names.reserve(kNames);
    for (int i = 0; i < kNames; ++i)
        names << QStringLiteral("dir%1/sub/file-%2.%3").arg(i % 97).arg(i).arg(i % 4 ? u"txt" : u"log");
    QElapsedTimer t;
    t.start();
    for (const QString& n : std::as_const(names))
        direct.FileChanged(nullptr, 1, kes::waModified, n);
    const qint64 ms = qMax<qint64>(1, t.elapsed());
    std::printf("2. FileChanged alone: %d names (%d pending) in %lld ms: %.0f names/s\n", kNames,
        direct.FileCount(), ms, kNames * 1000.0 / double(ms));
    direct.StopMonitoring();
    WaitFor([&] { return !direct.Monitoring(); }, 600000);
}

qint64 RunPass(const QString& data, const QString& dest, const QStringList& names, int compress, int& errors,
    bool report = true)
{
    kes::TMatchList list(kes::TMatchList::kExactNames);
    for (const QString& n : names)
        list.Add(n);
    errors = 0;
    QElapsedTimer t;
    t.start();
    {
        kes::TGetStrProc sink
            = [&errors](const QString& s) { errors += s.contains(QStringLiteral("***")) ? 1 : 0; };
        if (!report)
            sink = nullptr;
        kes::TBackupThread thread(1, dest, data, QString(), QString(), list, compress, 0, sink);
        WaitFor([&] { return thread.Finished(); }, 600000);
    }
    return t.elapsed();
}

void Pass(const QString& base)
{
    const QString data = base + QStringLiteral("/tree");
    QStringList names;
    const int kFiles = 10000;
    QByteArray content;
    for (int i = 0; i < kFiles; ++i) {
        const QString rel = QStringLiteral("d%1/file%2.txt").arg(i / 100).arg(i);
        if (i % 100 == 0)
            QDir().mkpath(data + QStringLiteral("/d%1").arg(i / 100));
        content.fill(char('a' + i % 26), 1000 + (i * 37) % 3000);
        WriteFile(data + u'/' + rel, content);
        names << rel;
    }

    auto cp = [&](const QString& option) {
        const QString target = base + QStringLiteral("/cp") + option;
        QElapsedTimer t;
        t.start();
        QProcess::execute(QStringLiteral("cp"), {option, data, target});
        const qint64 ms = t.elapsed();
        QDir(target).removeRecursively();
        return ms;
    };
    const qint64 cpR = std::min(cp(QStringLiteral("-r")), cp(QStringLiteral("-r")));
    const qint64 cpA = cp(QStringLiteral("-a"));
    int errors = 0;
    qint64 plain = 0;
    for (int run = 0; run < 2; ++run) {
        const QString dest = base + QStringLiteral("/dest-plain%1/").arg(run);
        const qint64 ms = RunPass(data, dest, names, 0, errors);
        plain = run == 0 ? ms : std::min(plain, ms);
        QDir(dest).removeRecursively();
    }
    // The same without a receiver of reports: what the hand-over of one
    // report per file to the main thread costs.
    int unused = 0;
    const qint64 silent = RunPass(data, base + QStringLiteral("/dest-silent/"), names, 0, unused, false);
    QDir(base + QStringLiteral("/dest-silent/")).removeRecursively();
    const qint64 gzip = RunPass(data, base + QStringLiteral("/dest-gz/"), names, 1, errors);
    std::printf("3. pass over %d small files (1-4 KB, 100 directories):\n", kFiles);
    std::printf("   cp -r:            %5lld ms  %8.0f files/s\n", cpR,
        kFiles * 1000.0 / double(qMax<qint64>(1, cpR)));
    std::printf("   cp -a:            %5lld ms  %8.0f files/s\n", cpA,
        kFiles * 1000.0 / double(qMax<qint64>(1, cpA)));
    std::printf("   pass, plain:      %5lld ms  %8.0f files/s  (%.2f x cp -r)\n", plain,
        kFiles * 1000.0 / double(qMax<qint64>(1, plain)), double(plain) / double(qMax<qint64>(1, cpR)));
    std::printf("   pass, no reports: %5lld ms  %8.0f files/s  (%.2f x cp -r)\n", silent,
        kFiles * 1000.0 / double(qMax<qint64>(1, silent)), double(silent) / double(qMax<qint64>(1, cpR)));
    std::printf("   pass, gzip:       %5lld ms  %8.0f files/s  (%d errors)\n", gzip,
        kFiles * 1000.0 / double(qMax<qint64>(1, gzip)), errors);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString folder = argc > 1
        ? QString::fromLocal8Bit(argv[1])
        : (QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath());
    QTemporaryDir tmp(folder + QStringLiteral("/selwand-bench-XXXXXX"));
    if (!tmp.isValid()) {
        std::fprintf(stderr, "cannot work in %s\n", qPrintable(folder));
        return 1;
    }
    std::printf("working in %s\n", qPrintable(tmp.path()));
    const QString part = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (part != QStringLiteral("pass"))
        Collection(tmp.path());
    if (part != QStringLiteral("collect"))
        Pass(tmp.path());
    return 0;
}
