// Figures of Selwand's window with 25 tasks and 10,000 pending files:
//   1. process start to the first paint of the main window (the program's
//      own start-up: frame, settings, monitoring controller, window), over
//      several starts;
//   2. how long the event loop stops at most while a backup pass of the
//      10,000 files runs with the window open (every report reaches the
//      window log), and how many stops last longer than 50 ms.
//
//   bench_selwand_window [folder [runs]]
//     folder: where to work (default: /dev/shm when present, else the
//             temporary folder); runs: starts to time (default 7)
// The figures are printed; the window needs a display (the script starts
// Xvfb) or QT_QPA_PLATFORM=offscreen.
#include "app/selwand/MainWindow.h"
#include "app/selwand/WindowProgram.h"
#include "frame/StartUp.h"
#include "watchdog/MonTask.h"
#include "watchdog/MonitorController.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

constexpr int kTasks = 25;
constexpr int kFiles = 10000;

qint64 MonotonicNs()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
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

// The tree: 25 monitored folders with 400 files each, all pending, their
// task files, the settings file of this program under XDG_CONFIG_HOME.
void MakeTree(const QString& root)
{
    QString ini = QStringLiteral("[Config]\nTop=20\nLeft=20\nInterval=-1\nCount=%1\n").arg(kTasks);
    const QByteArray content(1024, 'x');
    for (int t = 0; t < kTasks; ++t) {
        const QString dir = root + QStringLiteral("/data/folder%1").arg(t, 2, 10, QChar(u'0'));
        QDir().mkpath(dir + QStringLiteral("/sub"));
        const QString task = root + QStringLiteral("/jobs/task%1.buj").arg(t);
        QDir().mkpath(root + QStringLiteral("/jobs"));
        WriteUtf16(task,
            QStringLiteral("[Global]\nDestination=%1/dest\nDestMode=1\nDirCount=1\n[Dir000]\nSource=%2\n"
                           "BackupMode=1\n")
                .arg(root, dir));
        ini += QStringLiteral("[Monitor%1]\nBackupTask=%2\nDirectory=%3\nEnabled=1\nCount=%4\n")
                   .arg(t, 2, 10, QChar(u'0'))
                   .arg(task, dir)
                   .arg(kFiles / kTasks);
        for (int f = 0; f < kFiles / kTasks; ++f) {
            const QString name = QStringLiteral("sub/file%1.txt").arg(f, 4, 10, QChar(u'0'));
            WriteFile(dir + u'/' + name, content);
            ini += QStringLiteral("File%1=%2\n").arg(f, 3, 10, QChar(u'0')).arg(name);
        }
    }
    const QString settings = root + QStringLiteral("/config/Kesmo6");
    QDir().mkpath(settings);
    WriteUtf16(settings + QStringLiteral("/bench_selwand_window.ini"), ini);
}

// In the started program: tells the first paint of the main window and,
// with "pass", runs a backup pass of the pending files and measures the
// stops of the event loop meanwhile.
class TProbe : public QObject {
public:
    explicit TProbe(bool pass)
        : FPass(pass)
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!FPainted && event->type() == QEvent::Paint) {
            if (auto* window = qobject_cast<kes::TMainWindow*>(watched)) {
                FPainted = true;
                // After this paint and its flush to the screen.
                QTimer::singleShot(0, this, [this, window] { Painted(window); });
            }
        }
        return false;
    }

private:
    void Painted(kes::TMainWindow* window)
    {
        std::printf("paint %lld\n", static_cast<long long>(MonotonicNs()));
        std::fflush(stdout);
        if (!FPass) {
            QCoreApplication::exit(0);
            return;
        }
        FMonitor = &window->Controller().Monitor();
        QElapsedTimer start;
        start.start();
        FMonitor->SaveSettings();
        std::printf("save-ms %lld\n", static_cast<long long>(start.elapsed()));
        start.start();
        FMonitor->StartMonitoring();
        std::printf("start-monitoring-ms %lld\n", static_cast<long long>(start.elapsed()));
        FMonitor->RequestInstantBackup();
        FGap.start();
        FPassTime.start();
        connect(&FBeat, &QTimer::timeout, this, [this] { Beat(); });
        FBeat.start(5);
    }
    void Beat()
    {
        const qint64 gap = FGap.nsecsElapsed() / 1000000;
        FGap.start();
        FMaxGap = std::max(FMaxGap, gap);
        FLong += gap > 50 ? 1 : 0;
        ++FBeats;
        FStarted = FStarted || FMonitor->RunningBackups() > 0;
        if (FStarted && FMonitor->RunningBackups() == 0 && FMonitor->FileCount() == 0 && !FDone) {
            FDone = true;
            std::printf("pass-ms %lld\nmax-stop-ms %lld\nstops-over-50ms %d\nbeats %d\n",
                static_cast<long long>(FPassTime.elapsed()), static_cast<long long>(FMaxGap), FLong, FBeats);
            std::fflush(stdout);
            QCoreApplication::exit(0);
        }
    }

    bool FPass;
    bool FPainted = false;
    bool FStarted = false;
    bool FDone = false;
    kes::TMonitorController* FMonitor = nullptr;
    QTimer FBeat;
    QElapsedTimer FGap;
    QElapsedTimer FPassTime;
    qint64 FMaxGap = 0;
    int FLong = 0;
    int FBeats = 0;
};

int Child(int argc, char** argv, bool pass)
{
    QApplication app(argc, argv);
    kes::StartProgramFrame(argc, argv, QStringLiteral("selwand"));
    TProbe probe(pass);
    app.installEventFilter(&probe);
    return kes::RunSelwandWindow(app);
}

QMap<QString, qint64> RunChild(const QString& root, bool pass, qint64* startNs)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
    env.insert(QStringLiteral("LANGUAGE"), QString());
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    *startNs = MonotonicNs();
    child.start(QCoreApplication::applicationFilePath(),
        {pass ? QStringLiteral("--child-pass") : QStringLiteral("--child")});
    child.waitForFinished(600000);
    QMap<QString, qint64> values;
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2)
            values[QString::fromLatin1(parts[0])] = parts[1].toLongLong();
    }
    return values;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && (qstrcmp(argv[1], "--child") == 0 || qstrcmp(argv[1], "--child-pass") == 0))
        return Child(argc, argv, qstrcmp(argv[1], "--child-pass") == 0);

    QCoreApplication app(argc, argv);
    const QString base = argc > 1                   ? QString::fromLocal8Bit(argv[1])
        : QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                    : QDir::tempPath();
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 7;
    QTemporaryDir tmp(base + QStringLiteral("/selwand-window-XXXXXX"));
    const QString root = tmp.path();
    MakeTree(root);
    std::printf("Selwand's window: %d tasks, %d pending files (%s)\n", kTasks, kFiles, qPrintable(root));

    QList<qint64> firstPaint;
    for (int i = 0; i < runs; ++i) {
        qint64 start = 0;
        const auto values = RunChild(root, false, &start);
        if (!values.contains(QStringLiteral("paint"))) {
            std::printf("run %d: no paint (is there a display?)\n", i + 1);
            return 1;
        }
        firstPaint << (values[QStringLiteral("paint")] - start) / 1000000;
    }
    std::sort(firstPaint.begin(), firstPaint.end());
    std::printf("process start to first paint: median %lld ms, min %lld ms, max %lld ms (%d starts; target: "
                "under 300 ms)\n",
        static_cast<long long>(firstPaint[firstPaint.size() / 2]), static_cast<long long>(firstPaint.first()),
        static_cast<long long>(firstPaint.last()), runs);

    qint64 start = 0;
    const auto pass = RunChild(root, true, &start);
    std::printf("saving the settings with %d pending files: %lld ms\n", kFiles,
        static_cast<long long>(pass.value(QStringLiteral("save-ms"), -1)));
    std::printf("starting the monitoring of %d folders: %lld ms\n", kTasks,
        static_cast<long long>(pass.value(QStringLiteral("start-monitoring-ms"), -1)));
    std::printf(
        "backup pass of %d files with the window open: %lld ms; longest stop of the event loop %lld ms, "
        "stops over 50 ms: %lld (target: none)\n",
        kFiles, static_cast<long long>(pass.value(QStringLiteral("pass-ms"), -1)),
        static_cast<long long>(pass.value(QStringLiteral("max-stop-ms"), -1)),
        static_cast<long long>(pass.value(QStringLiteral("stops-over-50ms"), -1)));
    return 0;
}
