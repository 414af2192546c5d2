// Listing scheduled tasks with their state and next run time through the
// task model, as the task list of Marvick's window does: the folder's
// Refresh, then Status and NextRunTime of every task.
//
//   bench_tasks [--tasks N] [--runs R]
//       a fake user manager on a private bus (started here)
//   bench_tasks --bus ADDRESS --units FOLDER --store FOLDER [--tasks N] [--runs R]
//       the user manager on that bus (scripts/bench-tasks.sh starts one)
#include "common/FakeSystemd.h"
#include "frame/WinExecute.h"
#include "planner/TaskCommandLine.h"
#include "planner/WinTask.h"
#include "platform/TaskUnits.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kes;

namespace {

QString Argument(const QStringList& args, const QString& name, const QString& fallback = QString())
{
    const qsizetype i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
}

void Print(const char* what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms)
        sum += v;
    std::printf("%s (ms): min %.1f  median %.1f  mean %.1f  max %.1f\n", what, ms.front(), ms[ms.size() / 2],
        sum / double(ms.size()), ms.back());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int count = Argument(args, QStringLiteral("--tasks"), QStringLiteral("100")).toInt();
    const int runs = std::max(1, Argument(args, QStringLiteral("--runs"), QStringLiteral("20")).toInt());
    QString bus = Argument(args, QStringLiteral("--bus"));
    QTemporaryDir dir;
    QString units = Argument(args, QStringLiteral("--units"), dir.filePath(QStringLiteral("units")));
    QString store = Argument(args, QStringLiteral("--store"), dir.filePath(QStringLiteral("Tasks")));
    const QString binDir = QCoreApplication::applicationDirPath() + QLatin1Char('/');

    std::unique_ptr<kestest::FakeSystemd> fake;
    if (bus.isEmpty()) {
        fake = std::make_unique<kestest::FakeSystemd>(units);
        if (!fake->Start()) {
            std::fprintf(stderr, "bench_tasks: cannot start dbus-daemon for the fake user manager\n");
            return 1;
        }
        bus = fake->Address();
    }
    platform::TSystemdTaskServiceOptions o;
    o.TaskFolder = store;
    o.UnitFolder = units;
    o.CheckProgram = binDir + QStringLiteral("kestask");
    o.BusAddress = bus;
    o.SplitArguments = [](const QString& s) { return SplitCommandLine(s); };
    const auto service = platform::CreateSystemdTaskService(o);
    QDeadlineTimer up(30000);
    while (!service->IsRunning() && !up.hasExpired())
        QThread::msleep(50);

    std::unique_ptr<TWinTaskScheduler> scheduler;
    const quint32 status = StartTaskScheduler(scheduler, service);
    if (status != 0) {
        std::fprintf(stderr, "bench_tasks: %s\n", TaskSchedulerStartText(status).toLocal8Bit().constData());
        return 1;
    }

    // The tasks: weekly ones the calendar says exactly, and every other day
    // (the start check's) for half of them.
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        std::unique_ptr<TWinTask> task = scheduler->NewTask();
        const QString name = QStringLiteral("Schedule %1").arg(i, 3, 10, QLatin1Char('0'));
        TWinTaskAction& action = task->NewAction(TWinTaskActionType::taExec);
        action.SetPath(binDir + QStringLiteral("Marvick"));
        action.SetArguments(QuoteTaskEntry(name) + BuildTaskOptions(TTaskCommandValues(), true));
        task->SetLogonType(TLogonType::ltToken);
        TWinTaskTrigger& t
            = task->NewTrigger(i % 2 ? TWinTaskTriggerType::ttDaily : TWinTaskTriggerType::ttWeekly);
        t.SetStartTime(QDateTime(QDate::currentDate().addDays(-10), QTime(20, i % 60)));
        t.SetDaysOfWeek(2 | 32);
        t.SetDaysInterval(2);
        if (scheduler->TaskFolder()->RegisterTask(
                QStringLiteral("Schedule-") + name, *task, QString(), QString())
            < 0) {
            std::fprintf(stderr, "bench_tasks: %s\n",
                scheduler->TaskFolder()->ErrorMessage().toLocal8Bit().constData());
            return 1;
        }
        if (fake)
            fake->Manager().SetNextElapse(kes::platform::kTaskUnitPrefix.toString()
                    + QStringLiteral("Schedule\\x2dSchedule\\x20")
                    + QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0')) + QStringLiteral("-1.timer"),
                QDateTime::currentDateTime().addDays(1));
    }
    std::printf("%s user manager, %d tasks registered in %.0f ms (each saved, reloaded and started)\n",
        fake ? "fake" : "real", count, double(clock.nsecsElapsed()) / 1e6);

    std::vector<double> connects;
    std::vector<double> listings;
    int seen = 0;
    for (int r = 0; r < runs; ++r) {
        clock.restart();
        std::unique_ptr<TWinTaskScheduler> fresh;
        StartTaskScheduler(fresh, service);
        connects.push_back(double(clock.nsecsElapsed()) / 1e6);

        clock.restart();
        scheduler->Refresh();
        TWinTaskFolder& folder = *scheduler->TaskFolder();
        seen = 0;
        for (int i = 0; i < folder.TaskCount(); ++i) {
            TWinRegisteredTask& task = folder.Tasks(i);
            if (task.Status() == TWinTaskStatus::tsReady && task.NextRunTime().isValid())
                ++seen;
        }
        listings.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    if (seen != count) {
        std::fprintf(stderr, "bench_tasks: %d of %d tasks ready with a next run time\n", seen, count);
        return 1;
    }
    Print("  start (connect, bring units in line, list)", connects);
    Print("  list with state and next run time        ", listings);
    std::printf("  goal for the listing: under 200 ms for 100 tasks\n");
    return 0;
}
