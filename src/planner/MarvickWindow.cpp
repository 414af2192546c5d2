#include "planner/MarvickWindow.h"

#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/MainProgram.h"
#include "frame/UnicodeIniFile.h"
#include "frame/Version.h"
#include "frame/WinExecute.h"
#include "planner/ScheduleRun.h"

#include <QFileInfo>

namespace kes {

namespace {

bool SameState(const TSchedTask& a, const TSchedTask& b)
{
    return a.SName.compare(b.SName, Qt::CaseInsensitive) == 0 && a.Task == b.Task && a.Cycles == b.Cycles
        && a.Steps == b.Steps && a.FirstDay == b.FirstDay && a.Diff == b.Diff && a.NextCyc == b.NextCyc
        && a.LastFull == b.LastFull && a.LastDay == b.LastDay;
}

} // namespace

TMarvickWindowController::TMarvickWindowController(TMarvickWindowSetup setup)
    : FSetup(std::move(setup))
    , FTop(FSetup.DefaultTop)
    , FLeft(FSetup.DefaultLeft)
    , FJobDir(FSetup.JobDir)
{
}

TMarvickWindowController::~TMarvickWindowController() = default;

QString TMarvickWindowController::Load()
{
    TMarvickSettings defaults;
    defaults.Top = FSetup.DefaultTop;
    defaults.Left = FSetup.DefaultLeft;
    defaults.JobDir = FSetup.JobDir;
    try {
        const TMarvickSettings settings = LoadSchedules(FSetup.IniName, defaults);
        FTop = settings.Top;
        FLeft = settings.Left;
        FJobDir = settings.JobDir;
        FLoaded = settings.Schedules;
        FEditor.SetSchedules(settings.Schedules);
        FLoadFailed = false;
        return QString();
    } catch (const EIniReadError& e) {
        FLoadFailed = true;
        FEditor.SetSchedules({});
        return e.Message();
    }
}

QString TMarvickWindowController::Save(int top, int left)
{
    FTop = top;
    FLeft = left;
    if (FLoadFailed)
        return QString();
    TMarvickSettings settings;
    settings.Top = top;
    settings.Left = left;
    settings.JobDir = FJobDir;
    settings.Schedules = FEditor.Schedules();
    TSettingsLock lock(FSetup.IniName);
    try {
        // What the runs stored meanwhile.
        const TSchedules now = LoadSchedules(FSetup.IniName, {}).Schedules;
        for (TSchedTask& s : settings.Schedules) {
            const int was = FindSchedule(FLoaded, s.SName);
            const int is = FindSchedule(now, s.SName);
            if (was < 0 || is < 0 || !SameState(FLoaded[was], s))
                continue;
            const TSchedTask& stored = now[is];
            if (stored.Cycles == s.Cycles && stored.Steps == s.Steps) {
                s.NextCyc = stored.NextCyc;
                s.LastFull = stored.LastFull;
                s.LastDay = stored.LastDay;
            }
        }
    } catch (const EIniReadError&) {
        // Nothing to take over.
    }
    try {
        SaveSchedules(FSetup.IniName, settings, QStringLiteral("Marvick"), ProgramVersion().Info.Version);
    } catch (const EIniWriteError& e) {
        return e.Message();
    }
    FLoaded = settings.Schedules;
    return QString();
}

QString TMarvickWindowController::DefOptions() const
{
    return kes::DefOptions(FSetup.IniName, FSetup.UseAltIni);
}

QString TMarvickWindowController::Caption()
{
    return _("Configure backup schedules") + BitnessText() + QStringLiteral(" (")
        + ProgramVersion().Info.Comments + QLatin1Char(')');
}

quint32 TMarvickWindowController::StartScheduler(
    std::shared_ptr<platform::ITaskService> service, TClockPtr clock)
{
    FSchedulerStatus = StartTaskScheduler(FScheduler, std::move(service), std::move(clock));
    if (FSchedulerStatus != 0)
        FScheduler.reset();
    return FSchedulerStatus;
}

bool TMarvickWindowController::RefreshScheduler()
{
    if (!SchedulerAvailable())
        return false;
    if (!TWinTaskScheduler::IsRunning(*FScheduler->Service())) {
        FSchedulerStatus = platform::kTaskServiceNotRunning;
        return false;
    }
    FScheduler->Refresh();
    return true;
}

QString TMarvickWindowController::SchedulerStartMessage() const
{
    const TProgramVersion version = ProgramVersion();
    const QString name
        = version.Info.InternalName.isEmpty() ? QStringLiteral("Marvick") : version.Info.InternalName;
    return name + BitnessText() + QStringLiteral(" (") + version.Info.Comments + QStringLiteral(")\n")
        + TaskSchedulerStartText(FSchedulerStatus);
}

QString TMarvickWindowController::SchedulerDisabledHint() const
{
    if (SchedulerAvailable())
        return QString();
    return _("Not available: the task service cannot be reached") + QStringLiteral(" (")
        + TaskSchedulerStartText(FSchedulerStatus) + QLatin1Char(')');
}

QString TMarvickWindowController::EditTaskCommandLine(int index) const
{
    const QString args = FEditor.EditTaskArguments(index);
    if (args.isEmpty() || FSetup.KesPath.isEmpty())
        return QString();
    return QuoteIfNeeded(FSetup.KesPath) + u' ' + args;
}

} // namespace kes
