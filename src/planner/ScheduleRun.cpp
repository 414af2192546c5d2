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

TScheduleRun::TScheduleRun(
    TMarvickContext context, IScheduleReporter& reporter, TClockPtr clock, TLauncher launcher)
    : m_context(std::move(context))
    , m_reporter(reporter)
    , m_clock(clock ? std::move(clock) : TClock::System())
    , m_launcher(std::move(launcher))
{
    m_context.CommandLine.Wait = ClampWait(m_context.CommandLine.Wait);
}

void TScheduleRun::LoadSchedules()
{
    m_loadError.clear();
    try {
        m_schedules = kes::LoadSchedules(m_context.IniName, TMarvickSettings {}).Schedules;
    } catch (const EIniReadError& e) {
        m_schedules.clear();
        m_loadError = e.Message();
    }
}

bool TScheduleRun::ReportsQuietly(const TSchedTask& s) const
{
    return s.Silent || m_context.IsBatch;
}

void TScheduleRun::Error(const QString& text)
{
    m_hadError = true;
    m_reporter.ShowError(text);
}

void TScheduleRun::Event(quint32 id, TEventType type, const QStringList& strings)
{
    if (type == TEventType::etError)
        m_hadError = true;
    m_reporter.WriteEvent(TScheduleEvent {id, type, strings});
}

bool TScheduleRun::CheckSchedule()
{
    const TMarvickContext& c = m_context;
    const QString& name = c.CommandLine.SchedName;
    // A missing main program is reported here; a found schedule still runs
    // and its start then fails with the system's message.
    if (c.KesPath.isEmpty()) {
        if (!c.IsBatch)
            Error(SafeFormat(_("\"%s\" not found on this system!"), {MainProgramFile()}));
        else
            Event(evMainProgramNotFound, TEventType::etError, {});
    }
    if (!m_loadError.isEmpty()) {
        // The file exists but cannot be read: end here, so that nothing
        // (a later save of the window) replaces it with an empty list.
        if (!c.IsBatch)
            Error(m_loadError);
        else
            Event(evScheduleNotFound, TEventType::etError, {name, c.IniName, m_loadError});
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
    const int index = FindSchedule(m_schedules, name);
    if (index >= 0) {
        if (m_context.CommandLine.OtherOptions.isEmpty())
            m_context.CommandLine.OtherOptions = DefOptions(c.IniName, c.CommandLine.UseAltIni);
        RunSchedule(index, m_context.CommandLine.OtherOptions);
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
    QString reason;
    if (s.Cycles < 1 || s.Steps < 1 || s.TotalSteps() > INT_MAX)
        reason = SafeFormat(_("The rotation of schedule \"%s\" is not valid (Cycles = %d, Steps = %d)!"),
            {s.SName, s.Cycles, s.Steps});
    else if (s.IsWeekly() && (s.FirstDay < 1 || s.FirstDay > 7))
        reason = SafeFormat(_("The first day of schedule \"%s\" is not valid (FirstDay = %d, "
                              "1 = Monday ... 7 = Sunday)!"),
            {s.SName, s.FirstDay});
    if (reason.isEmpty())
        return true;
    if (ReportsQuietly(s))
        Event(evScheduleNotFound, TEventType::etError, {s.SName, m_context.IniName, reason});
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
    return m_launcher(m_context.KesPath, command, wait);
}

void TScheduleRun::RunSchedule(int index, const QString& options)
{
    if (index < 0 || index >= m_schedules.size())
        return;
    TSchedTask& s = m_schedules[index];
    const QDate todayDate = m_clock->CurrentDate();
    const int today = DayNumber(todayDate);
    const bool quiet = ReportsQuietly(s);
    const QStringList nameAndTask {s.SName, s.Task};

    if (!ScheduleIsUsable(s))
        return;
    const int total = int(s.TotalSteps());

    // Already done today.
    int again = 0;
    if (s.LastDay == today) {
        again = -1;
        const QString text = SafeFormat(
            _("Backup already done for this day!\nSchedule: %s\nBackup task: %s"), {s.SName, s.Task});
        if (quiet)
            Event(evAlreadyDone, TEventType::etInformation, nameAndTask);
        else if (m_context.CommandLine.IntAct) {
            if (m_reporter.ConfirmYesNo(text + QLatin1Char('\n') + _("Run again?")))
                again = 1;
        } else
            m_reporter.ShowInformation(text, m_context.CommandLine.Wait);
        if (again == -1)
            return;
    }

    // A state that lies outside the rotation (a hand-edited file, or Cycles
    // or Steps changed by hand) begins a new rotation, as the editor does.
    if (s.NextCyc < 0 || s.NextCyc > total) {
        s.NextCyc = 0;
        s.LastFull = 0;
    }

    // Begin the rotation; a weekly schedule only on its first day.
    if (s.NextCyc == 0) {
        if (s.IsWeekly())
            s.NextCyc = todayDate.dayOfWeek() == s.FirstDay ? 1 : 0;
        else
            s.NextCyc = 1;
        again = 0;
    }

    // Waiting for the first day.
    if (s.NextCyc < 1) {
        if (quiet)
            Event(evWaitingForFirstDay, TEventType::etInformation,
                {LongDayName(m_context.LanguageCode, s.FirstDay), s.SName, s.Task});
        else
            m_reporter.ShowInformation(
                SafeFormat(_("First full backup on next \"%s\"!\nSchedule: %s\nBackup task: %s"),
                    {LongDayName(m_context.LanguageCode, s.FirstDay), s.SName, s.Task}),
                m_context.CommandLine.Wait);
        return;
    }

    // A task file that is gone would consume a step of the rotation
    // without a backup: report it and keep the state for the next start.
    if (!TaskFileFound(s.Task)) {
        const QString reason = SafeFormat(_("Backup task \"%s\" not found!"), {s.Task});
        if (quiet)
            Event(evScheduleNotFound, TEventType::etError, {s.SName, m_context.IniName, reason});
        else
            Error(reason + QLatin1Char('\n') + SafeFormat(_("Schedule: %s"), {s.SName}));
        return;
    }

    // Run again: repeat the previous step.
    if (again == 1)
        s.NextCyc = s.NextCyc == 1 ? total : s.NextCyc - 1;

    QString kind;
    QString folder;
    const char* kindText = nullptr;
    const auto partialKind = [&] {
        if (s.Diff) {
            kind = QStringLiteral("differential");
            folder += QLatin1Char('D');
            kindText = N_("Differential");
        } else {
            kind = QStringLiteral("incremental");
            folder += QLatin1Char('I');
            kindText = N_("Incremental");
        }
    };

    if (s.IsWeekly()) {
        // Weekly: the folder names the weekday and the cycle.
        const int wd = todayDate.dayOfWeek();
        const int cycle = (s.NextCyc - 1) / kWeeklySteps + 1;
        const QString cycleText = QString::number(cycle);
        folder = QStringLiteral("Bu") + DayCode(wd) + cycleText;
        const int lastCycle = s.LastFull < 1 ? cycle : (s.LastFull - 1) / kWeeklySteps + 1;
        // No full backup in this cycle yet: make it up first. On the first
        // day itself the day's own full backup follows at once into the
        // same folder, so it is not run twice.
        if (cycle != lastCycle && s.FirstDay != wd) {
            const QString fullFolder
                = QStringLiteral("Bu") + DayCode(s.FirstDay) + cycleText + QLatin1Char('F');
            s.LastFull = ((s.NextCyc - 1) / kWeeklySteps) * kWeeklySteps + 1;
            const quint32 result = Start(
                s, OptValue(QStringLiteral("mode"), QStringLiteral("full")), fullFolder, options, true);
            Report(s, result, N_("Full"), s.NextCyc);
        }
        if (s.FirstDay == wd) {
            kind = QStringLiteral("full");
            folder += QLatin1Char('F');
            kindText = N_("Full");
            s.LastFull = s.NextCyc;
        } else
            partialKind();
    } else {
        // Other schedules: the folder names the step.
        folder = QStringLiteral("Bu")
            + QString::number(s.NextCyc).rightJustified(total <= 99 ? 2 : 3, QLatin1Char('0'));
        if ((s.NextCyc - 1) % s.Steps == 0) {
            kind = QStringLiteral("full");
            folder += QLatin1Char('F');
            kindText = N_("Full");
        } else
            partialKind();
    }

    // Advance.
    const int step = s.NextCyc;
    s.NextCyc = s.NextCyc >= total ? 1 : s.NextCyc + 1;

    // Start without waiting and report.
    const quint32 result
        = Start(s, OptFlag(QStringLiteral("mode")) + QLatin1Char(':') + kind, folder, options, false);
    Report(s, result, kindText, step);
    if (result != 0)
        return;

    // Store the new state, and only that.
    s.LastDay = today;
    try {
        StoreRunState(m_context.IniName, index, s);
    } catch (const EIniWriteError& e) {
        Error(e.Message());
    } catch (const EIniReadError& e) {
        Error(e.Message());
    }
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
            m_reporter.ShowInformation(
                SafeFormat(_("Backup started for schedule: %s\nBackup task: %s\nMode: %s / Step: %s"),
                    {s.SName, s.Task, Tr(kindText), QString::number(step)}),
                m_context.CommandLine.Wait);
    } else if (result & kExitCodeFlag) {
        const quint32 exitCode = result & 0xFF;
        m_hadError = true;
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
