// Opening Marvick's window with 100 schedules and 100 scheduled tasks
// (on a fake user manager started here): loading Marvick.ini, connecting
// to the task service and listing its tasks, building the window, the
// Active flags, the list, the editor and the preview, to the first paint.
//
//   bench_marvick_window [--runs R]
// The figure is printed; the window needs a display (scripts/bench-marvick.sh
// uses QT_QPA_PLATFORM=offscreen).
#include "app/marvick/HauptForm.h"
#include "common/FakeSystemd.h"
#include "frame/WinExecute.h"
#include "planner/MarvickWindow.h"
#include "planner/TaskCommandLine.h"
#include "planner/WinTask.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kes;

namespace {

constexpr int kCount = 100;

QByteArray Utf16(const QString& text)
{
    QByteArray bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    return bytes;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--runs"));
    const int runs = std::max(1, at >= 0 ? args.value(at + 1).toInt() : 10);
    QTemporaryDir dir;
    const QString binDir = QCoreApplication::applicationDirPath() + QLatin1Char('/');

    kestest::FakeSystemd fake(dir.filePath(QStringLiteral("units")));
    if (!fake.Start()) {
        std::fprintf(stderr, "bench_marvick_window: cannot start dbus-daemon for the fake user manager\n");
        return 1;
    }
    platform::TSystemdTaskServiceOptions o;
    o.TaskFolder = dir.filePath(QStringLiteral("Tasks"));
    o.UnitFolder = dir.filePath(QStringLiteral("units"));
    o.CheckProgram = binDir + QStringLiteral("kestask");
    o.BusAddress = fake.Address();
    o.SplitArguments = [](const QString& s) { return SplitCommandLine(s); };
    const auto service = platform::CreateSystemdTaskService(o);
    QDeadlineTimer up(30000);
    while (!service->IsRunning() && !up.hasExpired())
        QThread::msleep(50);
    std::unique_ptr<TWinTaskScheduler> scheduler;
    if (const quint32 status = StartTaskScheduler(scheduler, service)) {
        std::fprintf(
            stderr, "bench_marvick_window: %s\n", TaskSchedulerStartText(status).toLocal8Bit().constData());
        return 1;
    }

    // 100 schedules (the file keeps 99) and a task for each.
    const QString task = dir.filePath(QStringLiteral("Home.buj"));
    QFile(task).open(QIODevice::WriteOnly);
    QString ini = QStringLiteral("[Config]\r\nCount=100\r\n");
    for (int i = 0; i < kCount; ++i) {
        const QString name = QStringLiteral("Schedule %1").arg(i, 3, 10, QLatin1Char('0'));
        ini += QStringLiteral("[Sched%1]\r\nName=%2\r\nTask=%3\r\nCycles=4\r\nSteps=%4\r\nNextCycle=%5\r\n")
                   .arg(i, 2, 10, QLatin1Char('0'))
                   .arg(name, task)
                   .arg(i % 2 ? 7 : 10)
                   .arg(i % 5 + 1);
        std::unique_ptr<TWinTask> t = scheduler->NewTask();
        TWinTaskAction& action = t->NewAction(TWinTaskActionType::taExec);
        action.SetPath(binDir + QStringLiteral("Marvick"));
        action.SetArguments(QuoteTaskEntry(name) + BuildTaskOptions(TTaskCommandValues(), true));
        t->SetLogonType(TLogonType::ltToken);
        TWinTaskTrigger& trigger = t->NewTrigger(TWinTaskTriggerType::ttDaily);
        trigger.SetStartTime(QDateTime(QDate::currentDate(), QTime(20, i % 60)));
        if (scheduler->TaskFolder()->RegisterTask(
                QStringLiteral("Schedule-") + name, *t, QString(), QString())
            < 0) {
            std::fprintf(stderr, "bench_marvick_window: %s\n",
                scheduler->TaskFolder()->ErrorMessage().toLocal8Bit().constData());
            return 1;
        }
    }
    const QString iniName = dir.filePath(QStringLiteral("Marvick.ini"));
    QFile file(iniName);
    if (!file.open(QIODevice::WriteOnly) || file.write(Utf16(ini)) < 0)
        return 1;
    file.close();

    std::vector<double> ms;
    int active = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer clock;
        clock.start();
        TMarvickWindowSetup setup;
        setup.IniName = iniName;
        setup.JobDir = dir.path();
        setup.ProgramPath = binDir + QStringLiteral("Marvick");
        TMarvickWindowController controller(setup);
        controller.Load();
        controller.StartScheduler(service);
        THauptForm window(controller);
        window.ShowWindow();
        QCoreApplication::processEvents();
        window.repaint();
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
        active = 0;
        for (const TSchedTask& s : controller.Editor().Schedules())
            active += s.Active ? 1 : 0;
        window.SetMessageHook([](TMessageKind, const QString&) { return false; });
        window.close();
        QFile::remove(iniName + QStringLiteral(".lock"));
        file.open(QIODevice::WriteOnly);
        file.write(Utf16(ini));
        file.close();
    }
    if (active != kCount - 1) {
        std::fprintf(stderr, "bench_marvick_window: %d of %d schedules marked active\n", active, kCount - 1);
        return 1;
    }
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms)
        sum += v;
    std::printf("Marvick window, %d schedules (99 kept) and %d scheduled tasks, %d opens (ms):\n", kCount,
        kCount, runs);
    std::printf("  min %.1f  median %.1f  mean %.1f  max %.1f  (goal: under 300)\n", ms.front(),
        ms[ms.size() / 2], sum / double(ms.size()), ms.back());
    return 0;
}
