#include "planner/ScheduleRun.h"

#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/MainProgram.h"
#include "frame/ProgramPaths.h"
#include "frame/UnicodeIniFile.h"
#include "frame/WinExecute.h"

#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <climits>
#include <functional>
#include <vector>

namespace kes {

namespace {

// Folder codes of the weekdays 1 (Monday) .. 7 (Sunday).
QString DayCode(int isoDay)
{
    static const char* const kCodes[7] = {"Mo", "Tu", "We", "Th", "Fr", "Sa", "Su"};
    return QString::fromLatin1(kCodes[isoDay - 1]);
}

QString LongDayName(const QString& languageCode, int isoDay)
{
    const QLocale locale = languageCode.isEmpty() ? QLocale() : QLocale(languageCode);
    return locale.dayName(isoDay, QLocale::LongFormat);
}

// Whether the backup task file is there. A name that is not valid UTF-8
// (kept with surrogate escapes) cannot be checked through QFileInfo; the
// main program reports it if it is gone.
bool TaskFileFound(const QString& task)
{
    if (task.isEmpty())
        return false;
    for (QChar c : task) {
        if (c.isSurrogate() && (c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF))
            return true;
    }
    return QFileInfo::exists(task);
}

// Seconds an information message stays: 0 closes it at once; anything
// beyond a day is a day.
int ClampWait(qint64 seconds)
{
    return int(std::clamp<qint64>(seconds, 0, 24 * 3600));
}

} // namespace

QString DefOptions(const QString& iniName, bool useAltIni)
{
    return DefaultRunOptions(useAltIni ? iniName : QString());
}

QString ScheduleProblem(const TSchedTask& s)
{
    if (s.Cycles < 1 || s.Steps < 1 || s.TotalSteps() > INT_MAX)
        return SafeFormat(_("The rotation of schedule \"%s\" is not valid (Cycles = %d, Steps = %d)!"),
            {s.SName, s.Cycles, s.Steps});
    if (s.IsWeekly() && (s.FirstDay < 1 || s.FirstDay > 7))
        return SafeFormat(_("The first day of schedule \"%s\" is not valid (FirstDay = %d, "
                            "1 = Monday ... 7 = Sunday)!"),
            {s.SName, s.FirstDay});
    return QString();
}

bool StepDoneOnDay(const TSchedTask& schedule, const QDate& day)
{
    return schedule.LastDay == DayNumber(day);
}

void ApplyStepPlan(TSchedTask& schedule, const TStepPlan& plan, const QDate& day)
{
    schedule.NextCyc = plan.NextCyc;
    schedule.LastFull = plan.LastFull;
    schedule.LastDay = DayNumber(day);
}

TStepPlan DecideStep(const TSchedTask& schedule, const QDate& today, bool runAgain)
{
    TStepPlan plan;
    const int total = int(schedule.TotalSteps());
    int next = schedule.NextCyc;
    int lastFull = schedule.LastFull;

    // A state that lies outside the rotation (a hand-edited file, or Cycles
    // or Steps changed by hand) begins a new rotation, as the editor does.
    if (next < 0 || next > total) {
        next = 0;
        lastFull = 0;
    }

    // Begin the rotation; a weekly schedule only on its first day. There is
    // no previous step to run again.
    if (next == 0) {
        next = !schedule.IsWeekly() || today.dayOfWeek() == schedule.FirstDay ? 1 : 0;
        runAgain = false;
    }
    if (next < 1) {
        plan.Action = TStepAction::saWaitForFirstDay;
        plan.NextCyc = next;
        plan.LastFull = lastFull;
        return plan;
    }

    // Run again: repeat the previous step.
    if (runAgain)
        next = next == 1 ? total : next - 1;

    const auto partialKind = [&] {
        if (schedule.Diff) {
            plan.Kind = QStringLiteral("differential");
            plan.Folder += QLatin1Char('D');
            plan.KindText = N_("Differential");
        } else {
            plan.Kind = QStringLiteral("incremental");
            plan.Folder += QLatin1Char('I');
            plan.KindText = N_("Incremental");
        }
    };
    const auto fullKind = [&] {
        plan.Kind = QStringLiteral("full");
        plan.Folder += QLatin1Char('F');
        plan.KindText = N_("Full");
    };

    if (schedule.IsWeekly()) {
        // Weekly: the folder names the weekday and the cycle.
        const int wd = today.dayOfWeek();
        const int cycle = (next - 1) / kWeeklySteps + 1;
        const QString cycleText = QString::number(cycle);
        plan.Folder = QStringLiteral("Bu") + DayCode(wd) + cycleText;
        const int lastCycle = lastFull < 1 ? cycle : (lastFull - 1) / kWeeklySteps + 1;
        // No full backup in this cycle yet: make it up first. On the first
        // day itself the day's own full backup follows at once into the
        // same folder, so it is not run twice.
        if (cycle != lastCycle && schedule.FirstDay != wd) {
            plan.CatchUp = true;
            plan.CatchUpFolder
                = QStringLiteral("Bu") + DayCode(schedule.FirstDay) + cycleText + QLatin1Char('F');
            lastFull = ((next - 1) / kWeeklySteps) * kWeeklySteps + 1;
        }
        if (schedule.FirstDay == wd) {
            fullKind();
            lastFull = next;
        } else {
            partialKind();
        }
    } else {
        // Other schedules: the folder names the step.
        plan.Folder = QStringLiteral("Bu")
            + QString::number(next).rightJustified(total <= 99 ? 2 : 3, QLatin1Char('0'));
        if ((next - 1) % schedule.Steps == 0)
            fullKind();
        else
            partialKind();
    }

    // Advance.
    plan.Step = next;
    plan.NextCyc = next >= total ? 1 : next + 1;
    plan.LastFull = lastFull;
    return plan;
}

// Holds the messages of a run while it holds the settings lock and passes
// them on, in their order, once the lock is released: a message box that
// waits for the user must not keep other runs from their turn. Questions
// are asked at once, since the run needs the answer.
class TScheduleRun::TDeferredReporter final : public IScheduleReporter {
public:
    explicit TDeferredReporter(IScheduleReporter& target)
        : FTarget(target)
    {
    }

    void Hold() { FHolding = true; }
    void Release()
    {
        FHolding = false;
        // Moved out first: a message may run the event loop.
        std::vector<std::function<void()>> pending;
        pending.swap(FPending);
        for (const auto& deliver : pending)
            deliver();
    }

    void ShowInformation(const QString& text, int waitSeconds) override
    {
        Pass([this, text, waitSeconds] { FTarget.ShowInformation(text, waitSeconds); });
    }
    void ShowError(const QString& text) override
    {
        Pass([this, text] { FTarget.ShowError(text); });
    }
    bool ConfirmYesNo(const QString& text) override { return FTarget.ConfirmYesNo(text); }
    void WriteEvent(const TScheduleEvent& event) override
    {
        Pass([this, event] { FTarget.WriteEvent(event); });
    }

private:
    void Pass(std::function<void()> deliver)
    {
        if (FHolding)
            FPending.push_back(std::move(deliver));
        else
            deliver();
    }

    IScheduleReporter& FTarget;
    bool FHolding = false;
    std::vector<std::function<void()>> FPending;
};

TScheduleRun::TScheduleRun(
    TMarvickContext context, IScheduleReporter& reporter, TClockPtr clock, TLauncher launcher)
    : FContext(std::move(context))
    , FReporter(std::make_unique<TDeferredReporter>(reporter))
    , FClock(clock ? std::move(clock) : TClock::System())
    , FLauncher(std::move(launcher))
{
    FContext.CommandLine.Wait = ClampWait(FContext.CommandLine.Wait);
}

TScheduleRun::~TScheduleRun() = default;

void TScheduleRun::LoadSchedules()
{
    FLoadError.clear();
    try {
        FSchedules = kes::LoadSchedules(FContext.IniName, TMarvickSettings {}).Schedules;
    } catch (const EIniReadError& e) {
        FSchedules.clear();
        FLoadError = e.Message();
    }
}

bool TScheduleRun::ReportsQuietly(const TSchedTask& s) const
{
    return s.Silent || FContext.IsBatch;
}

void TScheduleRun::Error(const QString& text)
{
    FHadError = true;
    FReporter->ShowError(text);
}

void TScheduleRun::Event(quint32 id, TEventType type, const QStringList& strings)
{
    if (type == TEventType::etError)
        FHadError = true;
    FReporter->WriteEvent(TScheduleEvent {id, type, strings});
}

bool TScheduleRun::CheckSchedule()
{
    const TMarvickContext& c = FContext;
    // A missing main program is reported here; a found schedule still runs
    // and its start then fails with the system's message.
    if (c.KesPath.isEmpty()) {
        if (!c.IsBatch)
            Error(SafeFormat(_("\"%s\" not found on this system!"), {MainProgramFile()}));
        else
            Event(evMainProgramNotFound, TEventType::etError, {});
    }
    bool done;
    {
        // From reading the state to storing the new one: a run started at
        // the same moment waits, then finds the day's step done. A lock
        // that cannot be had in time (its holder hangs, or waits for a
        // catch-up backup) or at all (a folder we may not write) is gone
        // without: the backup is not worth missing for it.
        TSettingsLock lock(c.IniName);
        FReporter->Hold();
        LoadSchedules();
        done = CheckLoadedSchedule();
    }
    FReporter->Release();
    return done;
}

bool TScheduleRun::CheckLoadedSchedule()
{
    const TMarvickContext& c = FContext;
    const QString& name = c.CommandLine.SchedName;
    if (!FLoadError.isEmpty()) {
        // The file exists but cannot be read: end here, so that nothing
        // (a later save of the window) replaces it with an empty list.
        if (!c.IsBatch)
            Error(FLoadError);
        else
            Event(evScheduleNotFound, TEventType::etError, {name, c.IniName, FLoadError});
        return true;
    }
    const bool iniExists = QFileInfo::exists(c.IniName);
    if (!c.IsBatch && !iniExists)
        Error(QStringLiteral("Kestrup\n") + SafeFormat(_("File\n\"%s\"\nnot found!"), {c.IniName}));
    if (!iniExists || name.isEmpty()) {
        if (c.IsBatch)
            Event(evScheduleNotFound, TEventType::etError, {name, c.IniName});
        return c.IsBatch;
    }
    const int index = FindSchedule(FSchedules, name);
    if (index >= 0) {
        if (FContext.CommandLine.OtherOptions.isEmpty())
            FContext.CommandLine.OtherOptions = DefOptions(c.IniName, c.CommandLine.UseAltIni);
        RunSchedule(index, FContext.CommandLine.OtherOptions);
        return true;
    }
    if (!c.IsBatch)
        Error(SafeFormat(_("Schedule \"%s\" not found!"), {name}));
    else
        Event(evScheduleNotFound, TEventType::etError, {name, c.IniName});
    return c.IsBatch;
}

// Values a hand-edited settings file may hold that no rotation can run
// with: reported, nothing started, nothing stored.
bool TScheduleRun::ScheduleIsUsable(const TSchedTask& s)
{
    const QString reason = ScheduleProblem(s);
    if (reason.isEmpty())
        return true;
    if (ReportsQuietly(s))
        Event(evScheduleNotFound, TEventType::etError, {s.SName, FContext.IniName, reason});
    else
        Error(reason);
    return false;
}

quint32 TScheduleRun::Start(
    const TSchedTask& s, const QString& kindSwitch, const QString& folder, const QString& options, bool wait)
{
    const QString command = QuoteIfNeeded(s.Task, QStringLiteral(" "))
        + OptValue(QStringLiteral("startapp"), QStringLiteral("marvick")) + kindSwitch
        + OptValue(QStringLiteral("backupdir"), folder) + OptFlag(QStringLiteral("force")) + options;
    return FLauncher(FContext.KesPath, command, wait);
}

// The day's step was done already. Reports it; true when nothing is to
// run, false when the user asked to run the step again.
bool TScheduleRun::AlreadyDone(const TSchedTask& s, bool& runAgain)
{
    runAgain = false;
    const QString text = SafeFormat(
        _("Backup already done for this day!\nSchedule: %s\nBackup task: %s"), {s.SName, s.Task});
    if (ReportsQuietly(s))
        Event(evAlreadyDone, TEventType::etInformation, {s.SName, s.Task});
    else if (FContext.CommandLine.IntAct)
        runAgain = FReporter->ConfirmYesNo(text + QLatin1Char('\n') + _("Run again?"));
    else
        FReporter->ShowInformation(text, FContext.CommandLine.Wait);
    return !runAgain;
}

void TScheduleRun::ReportWaiting(const TSchedTask& s)
{
    const QString day = LongDayName(FContext.LanguageCode, s.FirstDay);
    if (ReportsQuietly(s))
        Event(evWaitingForFirstDay, TEventType::etInformation, {day, s.SName, s.Task});
    else
        FReporter->ShowInformation(
            SafeFormat(_("First full backup on next \"%s\"!\nSchedule: %s\nBackup task: %s"),
                {day, s.SName, s.Task}),
            FContext.CommandLine.Wait);
}

// A task file that is gone would consume a step of the rotation without a
// backup: it is reported and the state kept for the next start.
bool TScheduleRun::TaskFileIsThere(const TSchedTask& s)
{
    if (TaskFileFound(s.Task))
        return true;
    const QString reason = SafeFormat(_("Backup task \"%s\" not found!"), {s.Task});
    if (ReportsQuietly(s))
        Event(evScheduleNotFound, TEventType::etError, {s.SName, FContext.IniName, reason});
    else
        Error(reason + QLatin1Char('\n') + SafeFormat(_("Schedule: %s"), {s.SName}));
    return false;
}

// Stores the new state, and only that. A write error is shown even to a
// schedule that reports quietly.
void TScheduleRun::Store(int index, const TSchedTask& s)
{
    try {
        StoreRunState(FContext.IniName, index, s);
    } catch (const EIniWriteError& e) {
        Error(e.Message());
    } catch (const EIniReadError& e) {
        Error(e.Message());
    }
}

void TScheduleRun::RunSchedule(int index, const QString& options)
{
    if (index < 0 || index >= FSchedules.size())
        return;
    TSchedTask& s = FSchedules[index];
    const QDate today = FClock->CurrentDate();
    if (!ScheduleIsUsable(s))
        return;

    // 1. Already done today (unless the user runs it again).
    bool runAgain = false;
    if (StepDoneOnDay(s, today) && AlreadyDone(s, runAgain))
        return;

    // 2. The decision.
    const TStepPlan plan = DecideStep(s, today, runAgain);
    if (plan.Action == TStepAction::saWaitForFirstDay) {
        ReportWaiting(s);
        return;
    }
    if (!TaskFileIsThere(s))
        return;

    // 3. The start: a catch-up full backup first (waited for; whatever its
    // result, the day's step follows), then the day's step without waiting.
    if (plan.CatchUp) {
        const quint32 result = Start(
            s, OptValue(QStringLiteral("mode"), QStringLiteral("full")), plan.CatchUpFolder, options, true);
        Report(s, result, N_("Full"), plan.Step);
    }
    const quint32 result = Start(
        s, OptFlag(QStringLiteral("mode")) + QLatin1Char(':') + plan.Kind, plan.Folder, options, false);

    // 4. The report, and the store after a successful start only.
    Report(s, result, plan.KindText, plan.Step);
    if (result != 0)
        return;
    ApplyStepPlan(s, plan, today);
    Store(index, s);
}

void TScheduleRun::Report(const TSchedTask& s, quint32 result, const char* kindText, int step)
{
    const bool quiet = ReportsQuietly(s);
    const QString program = MainProgramFile();
    if (result == 0) {
        if (quiet)
            Event(evBackupStarted, TEventType::etInformation,
                {s.SName, s.Task, QString::fromUtf8(kindText), QString::number(step)});
        else
            FReporter->ShowInformation(
                SafeFormat(_("Backup started for schedule: %s\nBackup task: %s\nMode: %s / Step: %s"),
                    {s.SName, s.Task, Tr(kindText), QString::number(step)}),
                FContext.CommandLine.Wait);
    } else if (result & kExitCodeFlag) {
        const quint32 exitCode = result & 0xFF;
        FHadError = true;
        if (quiet)
            Event(evStartResult, TEventType::etInformation,
                {QStringLiteral("ExitCode = ") + QString::number(exitCode), s.SName, s.Task});
        else
            Error(SafeFormat(_("\"%s\" returned exit code: %u\nSchedule: %s\nBackup task: %s"),
                {program, exitCode, s.SName, s.Task}));
    } else {
        const QString message = SysErrorMessage(result);
        if (quiet)
            Event(evStartResult, TEventType::etError, {message, s.SName, s.Task});
        else
            Error(SafeFormat(_("Error %s on starting \"%s\"!\nSchedule: %s\nBackup task: %s"),
                {message, program, s.SName, s.Task}));
    }
}

} // namespace kes
