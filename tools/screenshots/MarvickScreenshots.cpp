// Takes the README's screenshots of Marvick's window (main window light
// and dark, the desktop shortcut dialog, the preview) grabbed from the X
// server it runs on (scripts/screenshots-marvick.sh starts Xvfb).
//   marvick_screenshots <output folder> light|dark
#include "app/marvick/DesktopIconDialog.h"
#include "app/marvick/HauptForm.h"
#include "app/marvick/UiText.h"
#include "frame/I18n.h"
#include "frame/StartUp.h"
#include "frame/Version.h"
#include "frame/WinExecute.h"
#include "planner/MarvickWindow.h"
#include "planner/ScheduleRun.h"
#include "platform/TaskService.h"
#include "ui/DisplayStyle.h"
#include "ui/IconSet.h"

#include "ui_HauptForm.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

namespace {

void Settle(int ms = 300)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

bool Grab(QWidget* widget, const QString& file)
{
    widget->raise();
    Settle();
    QPixmap shot = widget->screen()->grabWindow(widget->winId());
    if (shot.isNull())
        shot = widget->grab();
    const bool ok = shot.save(file);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(file));
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: marvick_screenshots <output folder> light|dark\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const bool dark = QString::fromLocal8Bit(argv[2]) == QStringLiteral("dark");
    const QString variant = dark ? QStringLiteral("dark") : QStringLiteral("light");
    kes::StartProgramFrame(argc, argv, QStringLiteral("marvick"));
    kes::InitVersion(QStringLiteral("Marvick"), QStringLiteral("1.1.0.0"), QString());

    // Short paths read better in a picture: the tree is /tmp/ann.
    const QString home = QStringLiteral("/tmp/ann");
    QDir(home).removeRecursively();
    struct TCleanUp {
        QString Dir;
        ~TCleanUp() { QDir(Dir).removeRecursively(); }
    } cleanUp {home};
    const QString jobs = home + QStringLiteral("/Documents/Kesmo/");
    QDir().mkpath(jobs);
    kes::TMarvickSettings settings;
    settings.Top = 40;
    settings.Left = 40;
    settings.JobDir = jobs;
    const QDate today = QDate::currentDate();
    const struct {
        const char* name;
        const char* task;
        int cycles, steps, firstDay, next, lastFull;
        bool diff;
    } list[] = {
        {"Documents weekly", "Documents.buj", 4, 7, 1, 3, 1, true},
        {"Photos", "Photos.buj", 2, 10, 0, 4, 0, false},
        {"Mail nightly", "Mail.buj", 3, 5, 0, 0, 0, false},
        {"Projects \"2026\"", "Projects.buj", 2, 7, 5, 0, 0, true},
    };
    for (const auto& e : list) {
        QFile task(jobs + QLatin1String(e.task));
        task.open(QIODevice::WriteOnly);
        task.write("[Job]\r\n");
        kes::TSchedTask s;
        s.SName = QString::fromUtf8(e.name);
        s.Task = task.fileName();
        s.Cycles = e.cycles;
        s.Steps = e.steps;
        s.FirstDay = e.firstDay;
        // The weekly one began on the Monday of this week.
        s.NextCyc = e.next == 3 ? today.dayOfWeek() : e.next;
        s.LastFull = e.lastFull;
        s.Diff = e.diff;
        s.LastDay = e.next > 0 ? kes::DayNumber(today.addDays(-1)) : 0;
        settings.Schedules.append(s);
    }
    const QString ini = home + QStringLiteral("/.config/Kesmo6/Marvick.ini");
    QDir().mkpath(home + QStringLiteral("/.config/Kesmo6"));
    kes::SaveSchedules(ini, settings, QStringLiteral("Marvick"), QStringLiteral("1.1"));

    kes::ApplyDisplayStyle(dark ? kes::TDisplayStyle::dsDark : kes::TDisplayStyle::dsLight);
    kes::TIconSet::Load(kes::TIconStyle::isOwn, dark);

    kes::TMarvickWindowSetup setup;
    setup.IniName = ini;
    setup.JobDir = jobs;
    setup.ProgramPath = QStringLiteral("/usr/bin/Marvick");
    kes::TMarvickWindowController controller(setup);
    controller.Load();
    // No task service in the picture's session: the window says so in the
    // hints of the two scheduled-task buttons.
    kes::platform::TSystemdTaskServiceOptions o;
    o.TaskFolder = home + QStringLiteral("/Tasks");
    o.UnitFolder = home + QStringLiteral("/units");
    o.BusAddress = QStringLiteral("unix:path=") + home + QStringLiteral("/no-bus");
    o.SystemBusAddress = o.BusAddress;
    o.SplitArguments = [](const QString& s) { return kes::SplitCommandLine(s); };
    controller.StartScheduler(kes::platform::CreateSystemdTaskService(o));
    kes::THauptForm window(controller);
    window.SetMessageHook([](kes::TMessageKind, const QString&) { return false; });
    window.resize(1000, 660);
    window.ShowWindow();
    bool ok = Grab(&window, out + QStringLiteral("/marvick-main-") + variant + QStringLiteral(".png"));
    if (dark) {
        // The preview of a weekly schedule that waits for its first day.
        window.SelectSchedule(3);
        ok = Grab(window.Form().gbPreview, out + QStringLiteral("/marvick-preview-dark.png")) && ok;
    } else {
        kes::TDesktopIconDialog dialog(&window);
        dialog.Prepare(_("Create desktop shortcut for alternating backup"),
            QStringLiteral("Documents weekly"), 0, controller.DefOptions(),
            QStringLiteral("Documents weekly"), QStringLiteral("KesSched-Documents weekly"));
        dialog.show();
        ok = Grab(&dialog, out + QStringLiteral("/marvick-shortcut-light.png")) && ok;
    }
    window.close();
    return ok ? 0 : 1;
}
