#include "planner/WinTask.h"

#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/WinExecute.h"
#include "platform/AtomicFile.h"
#include "platform/TaskUnits.h"

#include <QLocale>
#include <QTimeZone>
#include <algorithm>
#include <array>
#include <functional>

namespace kes {

namespace {

using platform::TTaskDefinition;

// Larger task XML files are not read.
constexpr qint64 kMaxTaskXmlFile = 4 << 20;

constexpr std::array<const char*, 5> kStatusTexts {
    N_("Unknown"), N_("Ready"), N_("Queued"), N_("Running"), N_("Disabled")};
constexpr std::array<const char*, 4> kActionTexts {
    N_("Start a program"), N_("File handler"), N_("Send an email"), N_("Display a message")};
constexpr std::array<const char*, 12> kTriggerTexts {N_("On an event"), N_("One time"), N_("Daily"),
    N_("Weekly"), N_("Monthly"), N_("Monthly"), N_("On idle"), N_("On task creation/modification"),
    N_("At startup"), N_("At log on"), N_("On session state change"), N_("Custom trigger")};
constexpr std::array<const char*, 5> kCompatibilityTexts {
    N_("deprecated"), N_("Windows XP"), N_("Windows Vista"), N_("Windows 7"), N_("Windows 10")};
constexpr std::array<const char*, 5> kWeekTexts {
    N_("First"), N_("Second"), N_("Third"), N_("Fourth"), N_("Last")};

constexpr std::array<TWinTaskTriggerType, 12> kTriggerOrder {TWinTaskTriggerType::ttEvent,
    TWinTaskTriggerType::ttTime, TWinTaskTriggerType::ttDaily, TWinTaskTriggerType::ttWeekly,
    TWinTaskTriggerType::ttMonthly, TWinTaskTriggerType::ttMonthlyDow, TWinTaskTriggerType::ttIdle,
    TWinTaskTriggerType::ttRegistration, TWinTaskTriggerType::ttBoot, TWinTaskTriggerType::ttLogon,
    TWinTaskTriggerType::ttSessionStateChange, TWinTaskTriggerType::ttCustom};

// Reads a run of digits from position i on (characters before it are
// skipped); its low 16 bits, 0 when the run is not a number.
quint32 NextNumber(const QString& text, qsizetype& i)
{
    while (i < text.size() && !text[i].isDigit())
        ++i;
    const qsizetype start = i;
    while (i < text.size() && text[i].isDigit())
        ++i;
    bool ok = false;
    const qulonglong n = QStringView(text).mid(start, i - start).toULongLong(&ok);
    return ok ? quint32(n & 0xFFFF) : 0;
}

QString Names(int mask, int count, const std::function<QString(int)>& name)
{
    QStringList parts;
    for (int i = 0; i < count; ++i)
        if (quint32(mask) & (1u << i))
            parts << name(i);
    return parts.join(QStringLiteral(", "));
}

// Sunday (bit 0) first.
QString DayNames(int mask)
{
    return Names(mask, 7, [](int i) { return QLocale().dayName(i == 0 ? 7 : i, QLocale::LongFormat); });
}

QString MonthNames(int mask)
{
    return Names(mask, 12, [](int i) { return QLocale().monthName(i + 1, QLocale::LongFormat); });
}

QString DaysOfMonthText(int mask)
{
    QStringList parts;
    for (int i = 0; i < 31; ++i)
        if (quint32(mask) & (1u << i))
            parts << QString::number(i + 1);
    if (quint32(mask) & 0x80000000u)
        parts << _("Last");
    return parts.join(QStringLiteral(", "));
}

QString WeeksOfMonthText(int mask)
{
    return Names(mask, 5, [](int i) { return Tr(kWeekTexts[std::size_t(i)]); });
}

// The repetition's interval as the sentence says it after "every".
QString IntervalWords(quint32 s)
{
    if (s >= 86400)
        return s / 86400 == 1 ? _("day") : SafeFormat(_("%u days"), {s / 86400});
    if (s >= 3600)
        return s / 3600 == 1 ? _("hour") : SafeFormat(_("%u hours"), {s / 3600});
    if (s >= 60)
        return s / 60 == 1 ? _("minute") : SafeFormat(_("%u minutes"), {s / 60});
    return s == 1 ? _("second") : SafeFormat(_("%u seconds"), {s});
}

// The repetition's duration as the sentence says it after "for a duration
// of"; no duration repeats without end.
QString DurationWords(quint32 s)
{
    if (s == 0)
        return _("unlimited time");
    if (s >= 86400)
        return s / 86400 == 1 ? _("1 day") : SafeFormat(_("%u days"), {s / 86400});
    if (s >= 3600)
        return s / 3600 == 1 ? _("1 hour") : SafeFormat(_("%u hours"), {s / 3600});
    if (s >= 60)
        return s / 60 == 1 ? _("1 minute") : SafeFormat(_("%u minutes"), {s / 60});
    return s == 1 ? _("1 second") : SafeFormat(_("%u seconds"), {s});
}

// The locale's date and time without the zone name.
QString DateTimeDisplayFormat()
{
    QString time = QLocale().timeFormat(QLocale::LongFormat);
    time.remove(QLatin1Char('t'));
    return QLocale().dateFormat(QLocale::ShortFormat) + QLatin1Char(' ') + time.trimmed();
}

} // namespace

// ------------------------------------------------------------ conversions

TWinTaskTriggerType TriggerTypeOfService(int value)
{
    for (TWinTaskTriggerType t : kTriggerOrder)
        if (int(t) == value)
            return t;
    return TWinTaskTriggerType::ttCustom;
}

TWinTaskActionType ActionTypeOfService(int value)
{
    switch (value) {
    case 5:
        return TWinTaskActionType::taCom;
    case 6:
        return TWinTaskActionType::taMail;
    case 7:
        return TWinTaskActionType::taMessage;
    default:
        return TWinTaskActionType::taExec;
    }
}

TWinTaskStatus StatusOfService(int value)
{
    return value >= 0 && value <= 4 ? TWinTaskStatus(value) : TWinTaskStatus::tsUnknown;
}

TWinTaskCompatibility CompatibilityOfService(int value)
{
    return value >= 0 && value <= 4 ? TWinTaskCompatibility(value) : TWinTaskCompatibility::tcWin10;
}

TMultipleInstances MultipleInstancesOfService(int value)
{
    return value >= 0 && value <= 3 ? TMultipleInstances(value) : TMultipleInstances::miParallel;
}

TLogonType LogonTypeOfService(int value)
{
    return value >= 0 && value <= 6 ? TLogonType(value) : TLogonType::ltNone;
}

TThreadPriority PriorityOfService(int value)
{
    switch (value) {
    case 0:
        return TThreadPriority::tpTimeCritical;
    case 1:
        return TThreadPriority::tpHighest;
    case 2:
    case 3:
        return TThreadPriority::tpHigher;
    case 7:
    case 8:
        return TThreadPriority::tpLower;
    case 9:
        return TThreadPriority::tpLowest;
    case 10:
        return TThreadPriority::tpIdle;
    default:
        return TThreadPriority::tpNormal;
    }
}

int ServicePriority(TThreadPriority priority)
{
    switch (priority) {
    case TThreadPriority::tpIdle:
        return 10;
    case TThreadPriority::tpLowest:
        return 9;
    case TThreadPriority::tpLower:
        return 7;
    case TThreadPriority::tpNormal:
        return 5;
    case TThreadPriority::tpHigher:
        return 3;
    case TThreadPriority::tpHighest:
        return 1;
    case TThreadPriority::tpTimeCritical:
        return 0;
    }
    return 5;
}

QString StatusText(TWinTaskStatus status)
{
    // In enumeration order: Unknown, Ready, Queued, Running, Disabled.
    switch (status) {
    case TWinTaskStatus::tsReady:
        return Tr(kStatusTexts[1]);
    case TWinTaskStatus::tsQueued:
        return Tr(kStatusTexts[2]);
    case TWinTaskStatus::tsRunning:
        return Tr(kStatusTexts[3]);
    case TWinTaskStatus::tsDisabled:
        return Tr(kStatusTexts[4]);
    default:
        return Tr(kStatusTexts[0]);
    }
}

QString ActionTypeText(TWinTaskActionType type)
{
    switch (type) {
    case TWinTaskActionType::taCom:
        return Tr(kActionTexts[1]);
    case TWinTaskActionType::taMail:
        return Tr(kActionTexts[2]);
    case TWinTaskActionType::taMessage:
        return Tr(kActionTexts[3]);
    default:
        return Tr(kActionTexts[0]);
    }
}

QString TriggerTypeText(TWinTaskTriggerType type)
{
    const auto at = std::find(kTriggerOrder.begin(), kTriggerOrder.end(), type);
    return Tr(kTriggerTexts[std::size_t(at - kTriggerOrder.begin())]);
}

QString CompatibilityText(TWinTaskCompatibility compatibility)
{
    return Tr(kCompatibilityTexts[std::size_t(compatibility)]);
}

quint32 DurationToSeconds(const QString& text)
{
    if (!text.startsWith(QLatin1Char('P'), Qt::CaseInsensitive))
        return 0;
    const QString rest = text.mid(1);
    qsizetype i = 0;
    if (!rest.startsWith(QLatin1Char('T'), Qt::CaseInsensitive)) {
        const quint32 n = NextNumber(rest, i);
        return i < rest.size() && rest[i].toUpper() == QLatin1Char('D') ? n * 86400 : 0;
    }
    quint32 seconds = 0;
    while (i < rest.size()) {
        const quint32 n = NextNumber(rest, i);
        if (i >= rest.size())
            break;
        const QChar unit = rest[i].toUpper();
        if (unit == QLatin1Char('H'))
            seconds += n * 3600;
        else if (unit == QLatin1Char('M'))
            seconds += n * 60;
        else if (unit == QLatin1Char('S'))
            seconds += n;
        ++i;
    }
    return seconds;
}

QString SecondsToDuration(quint32 seconds)
{
    if (seconds == 0)
        return QString();
    if (seconds >= 86400)
        return QStringLiteral("P%1D").arg(seconds / 86400);
    QString text = QStringLiteral("PT");
    if (seconds / 3600)
        text += QString::number(seconds / 3600) + QLatin1Char('H');
    if (seconds % 3600 / 60)
        text += QString::number(seconds % 3600 / 60) + QLatin1Char('M');
    if (seconds % 60)
        text += QString::number(seconds % 60) + QLatin1Char('S');
    return text;
}

QDateTime DateTextToDateTime(const QString& text, bool* hasZone)
{
    if (hasZone)
        *hasZone = false;
    std::array<int, 6> part {};
    qsizetype i = 0;
    for (int& p : part) {
        while (i < text.size() && !text[i].isDigit())
            ++i;
        const qsizetype start = i;
        while (i < text.size() && text[i].isDigit())
            ++i;
        if (start == i)
            return QDateTime();
        p = QStringView(text).mid(start, i - start).toInt();
    }
    // A fraction of the seconds is not a zone.
    if (i < text.size() && (text[i] == QLatin1Char('.') || text[i] == QLatin1Char(','))) {
        ++i;
        while (i < text.size() && text[i].isDigit())
            ++i;
    }
    if (hasZone)
        *hasZone = !QStringView(text).mid(i).trimmed().isEmpty();
    const QDate date(part[0], part[1], part[2]);
    const QTime time(part[3], part[4], part[5]);
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time);
}

QString DateTimeToDateText(const QDateTime& value, bool useTimeZone, const QDateTime& now)
{
    if (!value.isValid())
        return QString();
    QString text = value.toLocalTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    if (useTimeZone) {
        const int offset = now.toLocalTime().offsetFromUtc();
        if (offset == 0)
            text += QLatin1Char('Z');
        else
            text += QLatin1Char(offset < 0 ? '-' : '+')
                + QTime(0, 0).addSecs(std::abs(offset)).toString(QStringLiteral("HH:mm"));
    }
    return text;
}

QString DateDisplayText(const QDateTime& value)
{
    if (!value.isValid() || value.toLocalTime().date() < QDate(2000, 1, 1))
        return QString();
    return QLocale().toString(value.toLocalTime(), DateTimeDisplayFormat());
}

QString TaskErrorText(quint32 code)
{
    using namespace platform;
    if ((code & 0xFFFF0000u) == kTaskSystemErrorBase)
        return SysErrorMessage(code & 0xFFFF);
    switch (code) {
    case 0:
        return _("The operation completed successfully.");
    case kTaskHasNotRun:
        return _("The task has not yet run.");
    case kTaskIsRunning:
        return _("The task is currently running.");
    case kTaskTerminated:
        return _("The last run of the task was terminated.");
    case kTaskServiceNotRunning:
        return _("The service manager of the user (systemd) is not running.");
    case kTaskXmlUnexpectedNode:
        return _("The task XML contains an unexpected node.");
    case kTaskXmlInvalidValue:
        return _("The task XML contains a value which is incorrectly formatted or out of range.");
    case kTaskXmlMissingNode:
        return _("The task XML is missing a required element or attribute.");
    case kTaskXmlMalformed:
        return _("The task XML is malformed.");
    case kTaskDisabled:
        return _("The task is disabled.");
    case kTaskNoDemandStart:
        return _("The task may not be started on demand.");
    case kTaskFailed:
        return _("The service manager refused the request.");
    case kTaskNotFound:
        return _("The scheduled task does not exist.");
    case kTaskAccessDenied:
        return _("Access is denied.");
    case kTaskInvalidArgument:
        return _("The parameter is incorrect.");
    case kTaskInvalidName:
        return _("The task name is not valid.");
    case kTaskNotSupported:
        return _("The request is not supported.");
    case kTaskUnknownAccount:
        return _("Scheduled tasks run under the account of this user only.");
    default:
        return QString();
    }
}

QString TaskSchedulerStartText(quint32 status)
{
    if (status == kTaskSchedulerNotAvailable)
        return _("Windows Task Scheduler 2.0 is not available on Windows XP");
    QString text = TaskErrorText(status);
    text = text.isEmpty() ? _("Error code") + SafeFormat(QStringLiteral(" = 0x%.8x"), {status})
                          : text + SafeFormat(QStringLiteral(" (0x%.8x)"), {status});
    return SafeFormat(_("Error on connecting to Windows Task Scheduler:\n%s"), {text});
}

// ------------------------------------------------------- idle, settings

TWinTaskIdleSettings::TWinTaskIdleSettings(std::shared_ptr<TTaskDefinition> definition)
    : FDefinition(std::move(definition))
{
}
quint32 TWinTaskIdleSettings::IdleDuration() const
{
    return DurationToSeconds(FDefinition->Settings.IdleSettings.IdleDuration);
}
void TWinTaskIdleSettings::SetIdleDuration(quint32 seconds)
{
    FDefinition->Settings.IdleSettings.IdleDuration = SecondsToDuration(seconds);
}
quint32 TWinTaskIdleSettings::WaitTimeout() const
{
    return DurationToSeconds(FDefinition->Settings.IdleSettings.WaitTimeout);
}
void TWinTaskIdleSettings::SetWaitTimeout(quint32 seconds)
{
    FDefinition->Settings.IdleSettings.WaitTimeout = SecondsToDuration(seconds);
}
bool TWinTaskIdleSettings::RestartOnIdle() const
{
    return FDefinition->Settings.IdleSettings.RestartOnIdle;
}
void TWinTaskIdleSettings::SetRestartOnIdle(bool value)
{
    FDefinition->Settings.IdleSettings.RestartOnIdle = value;
}
bool TWinTaskIdleSettings::StopOnIdleEnd() const
{
    return FDefinition->Settings.IdleSettings.StopOnIdleEnd;
}
void TWinTaskIdleSettings::SetStopOnIdleEnd(bool value)
{
    FDefinition->Settings.IdleSettings.StopOnIdleEnd = value;
}

TWinTaskSettings::TWinTaskSettings(std::shared_ptr<TTaskDefinition> definition)
    : FDefinition(definition)
    , FIdleSettings(std::move(definition))
{
}
bool TWinTaskSettings::AllowDemandStart() const
{
    return S().AllowDemandStart;
}
void TWinTaskSettings::SetAllowDemandStart(bool value)
{
    S().AllowDemandStart = value;
}
bool TWinTaskSettings::AllowHardTerminate() const
{
    return S().AllowHardTerminate;
}
void TWinTaskSettings::SetAllowHardTerminate(bool value)
{
    S().AllowHardTerminate = value;
}
bool TWinTaskSettings::Hidden() const
{
    return S().Hidden;
}
void TWinTaskSettings::SetHidden(bool value)
{
    S().Hidden = value;
}
bool TWinTaskSettings::WakeToRun() const
{
    return S().WakeToRun;
}
void TWinTaskSettings::SetWakeToRun(bool value)
{
    S().WakeToRun = value;
}
bool TWinTaskSettings::RunIfMissed() const
{
    return S().StartWhenAvailable;
}
void TWinTaskSettings::SetRunIfMissed(bool value)
{
    S().StartWhenAvailable = value;
}
bool TWinTaskSettings::DisallowOnBatteries() const
{
    return S().DisallowStartIfOnBatteries;
}
void TWinTaskSettings::SetDisallowOnBatteries(bool value)
{
    S().DisallowStartIfOnBatteries = value;
}
bool TWinTaskSettings::StopOnBatteries() const
{
    return S().StopIfGoingOnBatteries;
}
void TWinTaskSettings::SetStopOnBatteries(bool value)
{
    S().StopIfGoingOnBatteries = value;
}
bool TWinTaskSettings::RunOnlyIfNetwork() const
{
    return S().RunOnlyIfNetworkAvailable;
}
void TWinTaskSettings::SetRunOnlyIfNetwork(bool value)
{
    S().RunOnlyIfNetworkAvailable = value;
}
bool TWinTaskSettings::RunOnlyIfIdle() const
{
    return S().RunOnlyIfIdle;
}
void TWinTaskSettings::SetRunOnlyIfIdle(bool value)
{
    S().RunOnlyIfIdle = value;
}
TWinTaskCompatibility TWinTaskSettings::Compatibility() const
{
    return CompatibilityOfService(S().Compatibility);
}
void TWinTaskSettings::SetCompatibility(TWinTaskCompatibility value)
{
    S().Compatibility = int(value);
}
TMultipleInstances TWinTaskSettings::MultipleInstances() const
{
    return MultipleInstancesOfService(S().MultipleInstances);
}
void TWinTaskSettings::SetMultipleInstances(TMultipleInstances value)
{
    S().MultipleInstances = int(value);
}
TThreadPriority TWinTaskSettings::Priority() const
{
    return PriorityOfService(S().Priority);
}
void TWinTaskSettings::SetPriority(TThreadPriority value)
{
    S().Priority = ServicePriority(value);
}
quint32 TWinTaskSettings::ExecutionTimeLimit() const
{
    return DurationToSeconds(S().ExecutionTimeLimit) / 3600;
}
void TWinTaskSettings::SetExecutionTimeLimit(quint32 hours)
{
    S().ExecutionTimeLimit = SecondsToDuration(hours * 3600);
}
int TWinTaskSettings::DeleteExpiredTaskAfter() const
{
    if (S().DeleteExpiredTaskAfter.isEmpty())
        return -1;
    return int(DurationToSeconds(S().DeleteExpiredTaskAfter) / 3600);
}
void TWinTaskSettings::SetDeleteExpiredTaskAfter(int hours)
{
    if (hours < 0)
        S().DeleteExpiredTaskAfter.clear();
    else if (hours == 0)
        S().DeleteExpiredTaskAfter = QStringLiteral("PT0S");
    else
        S().DeleteExpiredTaskAfter = SecondsToDuration(quint32(hours) * 3600);
}
quint32 TWinTaskSettings::RestartCount() const
{
    return quint32(std::max(0, S().RestartCount));
}
void TWinTaskSettings::SetRestartCount(quint32 value)
{
    S().RestartCount = int(value);
}
quint32 TWinTaskSettings::RestartInterval() const
{
    return DurationToSeconds(S().RestartInterval) / 60;
}
void TWinTaskSettings::SetRestartInterval(quint32 minutes)
{
    S().RestartInterval = SecondsToDuration(minutes * 60);
}

// ---------------------------------------------------------------- actions

TWinTaskAction::TWinTaskAction(std::shared_ptr<TTaskDefinition> definition, int index)
    : FDefinition(std::move(definition))
    , FIndex(index)
    , FActionType(ActionTypeOfService(FDefinition->Actions[index].Type))
{
}
QString TWinTaskAction::Id() const
{
    return TaskAction().Id;
}
void TWinTaskAction::SetId(const QString& id)
{
    TaskAction().Id = id;
}
QString TWinTaskAction::Path() const
{
    return IsExec() ? platform::UnquotedActionPath(TaskAction().Path) : QString();
}
void TWinTaskAction::SetPath(const QString& path)
{
    if (IsExec())
        TaskAction().Path = path;
}
QString TWinTaskAction::Arguments() const
{
    return IsExec() ? TaskAction().Arguments : QString();
}
void TWinTaskAction::SetArguments(const QString& arguments)
{
    if (IsExec())
        TaskAction().Arguments = arguments;
}
QString TWinTaskAction::WorkingDirectory() const
{
    return IsExec() ? TaskAction().WorkingDirectory : QString();
}
void TWinTaskAction::SetWorkingDirectory(const QString& folder)
{
    if (IsExec())
        TaskAction().WorkingDirectory = folder;
}

// --------------------------------------------------------------- triggers

TWinTaskTrigger::TWinTaskTrigger(std::shared_ptr<TTaskDefinition> definition, int index, TClockPtr clock)
    : FDefinition(std::move(definition))
    , FIndex(index)
    , FClock(clock ? std::move(clock) : TClock::System())
{
    SetTaskTrigger(index);
}

void TWinTaskTrigger::SetTaskTrigger(int index)
{
    FIndex = index;
    FTriggerType = TriggerTypeOfService(TaskTrigger().Type);
    bool zone = false;
    DateTextToDateTime(TaskTrigger().StartBoundary, &zone);
    FTimeZone = zone;
}

void TWinTaskTrigger::SetToDefault(const QString& userId)
{
    SetStartTime(FClock->CurrentDateTime());
    if (FTriggerType == TWinTaskTriggerType::ttLogon)
        SetLogonUserId(userId);
}

bool TWinTaskTrigger::Is(std::initializer_list<TWinTaskTriggerType> kinds) const
{
    return std::find(kinds.begin(), kinds.end(), FTriggerType) != kinds.end();
}

QString TWinTaskTrigger::Id() const
{
    return TaskTrigger().Id;
}
void TWinTaskTrigger::SetId(const QString& id)
{
    TaskTrigger().Id = id;
}
bool TWinTaskTrigger::Enabled() const
{
    return TaskTrigger().Enabled;
}
void TWinTaskTrigger::SetEnabled(bool value)
{
    TaskTrigger().Enabled = value;
}
QDateTime TWinTaskTrigger::StartTime() const
{
    return DateTextToDateTime(TaskTrigger().StartBoundary);
}
void TWinTaskTrigger::SetStartTime(const QDateTime& value)
{
    TaskTrigger().StartBoundary = DateTimeToDateText(value, FTimeZone, FClock->CurrentDateTime());
}
QDateTime TWinTaskTrigger::EndTime() const
{
    return DateTextToDateTime(TaskTrigger().EndBoundary);
}
void TWinTaskTrigger::SetEndTime(const QDateTime& value)
{
    TaskTrigger().EndBoundary = DateTimeToDateText(value, FTimeZone, FClock->CurrentDateTime());
}
quint32 TWinTaskTrigger::ExecutionTimeLimit() const
{
    return DurationToSeconds(TaskTrigger().ExecutionTimeLimit);
}
void TWinTaskTrigger::SetExecutionTimeLimit(quint32 seconds)
{
    TaskTrigger().ExecutionTimeLimit = SecondsToDuration(seconds);
}
quint32 TWinTaskTrigger::Interval() const
{
    return DurationToSeconds(TaskTrigger().RepetitionInterval);
}
void TWinTaskTrigger::SetInterval(quint32 seconds)
{
    TaskTrigger().RepetitionInterval = SecondsToDuration(seconds);
}
quint32 TWinTaskTrigger::Duration() const
{
    return DurationToSeconds(TaskTrigger().RepetitionDuration);
}
void TWinTaskTrigger::SetDuration(quint32 seconds)
{
    TaskTrigger().RepetitionDuration = SecondsToDuration(seconds);
}
bool TWinTaskTrigger::StopAtDurationEnd() const
{
    return TaskTrigger().StopAtDurationEnd;
}
void TWinTaskTrigger::SetStopAtDurationEnd(bool value)
{
    TaskTrigger().StopAtDurationEnd = value;
}

int TWinTaskTrigger::DaysInterval() const
{
    return Is({TWinTaskTriggerType::ttDaily}) ? qint16(TaskTrigger().DaysInterval) : 0;
}
void TWinTaskTrigger::SetDaysInterval(int value)
{
    if (Is({TWinTaskTriggerType::ttDaily}) && value > 0 && value <= 0x7FFF)
        TaskTrigger().DaysInterval = value;
}
int TWinTaskTrigger::WeeksInterval() const
{
    return Is({TWinTaskTriggerType::ttWeekly}) ? TaskTrigger().WeeksInterval : 0;
}
void TWinTaskTrigger::SetWeeksInterval(int value)
{
    if (Is({TWinTaskTriggerType::ttWeekly}) && value > 0)
        TaskTrigger().WeeksInterval = value;
}
int TWinTaskTrigger::DaysOfWeek() const
{
    return Is({TWinTaskTriggerType::ttWeekly, TWinTaskTriggerType::ttMonthlyDow}) ? TaskTrigger().DaysOfWeek
                                                                                  : 0;
}
void TWinTaskTrigger::SetDaysOfWeek(int mask)
{
    if (Is({TWinTaskTriggerType::ttWeekly, TWinTaskTriggerType::ttMonthlyDow}) && mask >= 1 && mask <= 127)
        TaskTrigger().DaysOfWeek = mask;
}
int TWinTaskTrigger::DaysOfMonth() const
{
    return Is({TWinTaskTriggerType::ttMonthly}) ? TaskTrigger().DaysOfMonth : 0;
}
void TWinTaskTrigger::SetDaysOfMonth(int mask)
{
    if (Is({TWinTaskTriggerType::ttMonthly}) && mask != 0)
        TaskTrigger().DaysOfMonth = mask;
}
int TWinTaskTrigger::MonthsOfYear() const
{
    return Is({TWinTaskTriggerType::ttMonthly, TWinTaskTriggerType::ttMonthlyDow})
        ? TaskTrigger().MonthsOfYear
        : 0;
}
void TWinTaskTrigger::SetMonthsOfYear(int mask)
{
    if (Is({TWinTaskTriggerType::ttMonthly, TWinTaskTriggerType::ttMonthlyDow}) && mask >= 1 && mask <= 4095)
        TaskTrigger().MonthsOfYear = mask;
}
int TWinTaskTrigger::WeeksOfMonth() const
{
    if (!Is({TWinTaskTriggerType::ttMonthlyDow}))
        return 0;
    // The last week is one fact in the service: bit 16 and
    // RunOnLastWeekOfMonth; it is added once.
    return TaskTrigger().WeeksOfMonth | (RunOnLastWeekOfMonth() ? platform::kLastWeekOfMonthBit : 0);
}
void TWinTaskTrigger::SetWeeksOfMonth(int mask)
{
    if (Is({TWinTaskTriggerType::ttMonthlyDow}) && mask >= 1 && mask <= 31)
        TaskTrigger().WeeksOfMonth = mask;
}
bool TWinTaskTrigger::RunOnLastDayOfMonth() const
{
    return Is({TWinTaskTriggerType::ttMonthly}) && (quint32(TaskTrigger().DaysOfMonth) & 0x80000000u);
}
void TWinTaskTrigger::SetRunOnLastDayOfMonth(bool value)
{
    if (!Is({TWinTaskTriggerType::ttMonthly}))
        return;
    quint32 days = quint32(TaskTrigger().DaysOfMonth);
    days = value ? days | 0x80000000u : days & ~0x80000000u;
    TaskTrigger().DaysOfMonth = int(days);
}
bool TWinTaskTrigger::RunOnLastWeekOfMonth() const
{
    return Is({TWinTaskTriggerType::ttMonthlyDow})
        && (TaskTrigger().WeeksOfMonth & platform::kLastWeekOfMonthBit);
}
void TWinTaskTrigger::SetRunOnLastWeekOfMonth(bool value)
{
    if (!Is({TWinTaskTriggerType::ttMonthlyDow}))
        return;
    int& weeks = TaskTrigger().WeeksOfMonth;
    weeks = value ? weeks | platform::kLastWeekOfMonthBit : weeks & ~platform::kLastWeekOfMonthBit;
}
quint32 TWinTaskTrigger::RandomDelay() const
{
    return Is({TWinTaskTriggerType::ttTime, TWinTaskTriggerType::ttDaily, TWinTaskTriggerType::ttWeekly,
               TWinTaskTriggerType::ttMonthly, TWinTaskTriggerType::ttMonthlyDow})
        ? DurationToSeconds(TaskTrigger().RandomDelay)
        : 0;
}
void TWinTaskTrigger::SetRandomDelay(quint32 seconds)
{
    if (Is({TWinTaskTriggerType::ttTime, TWinTaskTriggerType::ttDaily, TWinTaskTriggerType::ttWeekly,
            TWinTaskTriggerType::ttMonthly, TWinTaskTriggerType::ttMonthlyDow}))
        TaskTrigger().RandomDelay = SecondsToDuration(seconds);
}
quint32 TWinTaskTrigger::Delay() const
{
    return Is({TWinTaskTriggerType::ttEvent, TWinTaskTriggerType::ttBoot, TWinTaskTriggerType::ttLogon})
        ? DurationToSeconds(TaskTrigger().Delay)
        : 0;
}
void TWinTaskTrigger::SetDelay(quint32 seconds)
{
    if (Is({TWinTaskTriggerType::ttEvent, TWinTaskTriggerType::ttBoot, TWinTaskTriggerType::ttLogon}))
        TaskTrigger().Delay = SecondsToDuration(seconds);
}
QString TWinTaskTrigger::LogonUserId() const
{
    return Is({TWinTaskTriggerType::ttLogon}) ? TaskTrigger().UserId : QString();
}
void TWinTaskTrigger::SetLogonUserId(const QString& user)
{
    if (Is({TWinTaskTriggerType::ttLogon}))
        TaskTrigger().UserId = user;
}
QString TWinTaskTrigger::Subscription() const
{
    return Is({TWinTaskTriggerType::ttEvent}) ? TaskTrigger().Subscription : QString();
}
void TWinTaskTrigger::SetSubscription(const QString& query)
{
    if (Is({TWinTaskTriggerType::ttEvent}))
        TaskTrigger().Subscription = query;
}

QString TWinTaskTrigger::TriggerString() const
{
    const QDateTime start = StartTime();
    const QString t = start.isValid() ? start.time().toString(QStringLiteral("HH:mm")) : QString();
    const QString d = start.isValid() ? QLocale().toString(start.date(), QLocale::ShortFormat) : QString();
    const QString starting
        = start.isValid() ? SafeFormat(_(", starting at %0:s on %1:s"), {t, d}) : QString();
    switch (FTriggerType) {
    case TWinTaskTriggerType::ttEvent:
        return _("On an event") + starting;
    case TWinTaskTriggerType::ttTime:
        return SafeFormat(_("At %0:s on %1:s"), {t, d});
    case TWinTaskTriggerType::ttDaily: {
        const int n = DaysInterval();
        if (n < 2)
            return SafeFormat(_("At %s every day"), {t});
        QString text = SafeFormat(_("At %0:s every %1:u days"), {t, n});
        if (!TaskTrigger().RepetitionInterval.isEmpty())
            text += SafeFormat(_(" - After triggered, repeat every %0:s for a duration of %1:s"),
                {IntervalWords(Interval()), DurationWords(Duration())});
        return text;
    }
    case TWinTaskTriggerType::ttWeekly: {
        const int n = WeeksInterval();
        if (n < 2)
            return SafeFormat(
                _("At %0:s every %1:s of every week, starting %2:s"), {t, DayNames(DaysOfWeek()), d});
        return SafeFormat(
            _("At %0:s every %1:s of every %2:u weeks, starting %3:s"), {t, DayNames(DaysOfWeek()), n, d});
    }
    case TWinTaskTriggerType::ttMonthly:
        return SafeFormat(_("At %0:s on %1:s of %2:s, starting %3:s"),
            {t, DaysOfMonthText(DaysOfMonth()), MonthNames(MonthsOfYear()), d});
    case TWinTaskTriggerType::ttMonthlyDow:
        return SafeFormat(_("Runs on the %0:s %1:s, each %2:s starting %3:s"),
            {WeeksOfMonthText(WeeksOfMonth()), DayNames(DaysOfWeek()), MonthNames(MonthsOfYear()), d});
    case TWinTaskTriggerType::ttIdle:
        return _("When computer is idle");
    case TWinTaskTriggerType::ttRegistration:
        return _("When task is created or modified");
    case TWinTaskTriggerType::ttBoot:
        return _("At system startup") + starting;
    case TWinTaskTriggerType::ttLogon: {
        const QString user = LogonUserId();
        return (user.isEmpty() ? _("At logon of any user") : SafeFormat(_("At logon of %s"), {user}))
            + starting;
    }
    default:
        return _("Unknown");
    }
}

// ------------------------------------------------------------ collections

TWinTaskTriggers::TWinTaskTriggers(TWinTask& task)
    : FTask(task)
{
}

TWinTaskTrigger& TWinTaskTriggers::New(TWinTaskTriggerType type)
{
    platform::TTaskTrigger t;
    t.Type = int(type);
    FTask.Definition()->Triggers.append(t);
    return Add(int(FTask.Definition()->Triggers.size() - 1));
}

TWinTaskTrigger& TWinTaskTriggers::Add(int index)
{
    FItems.push_back(std::make_unique<TWinTaskTrigger>(FTask.Definition(), index, FTask.Clock()));
    return *FItems.back();
}

void TWinTaskTriggers::ClearAll()
{
    FTask.Definition()->Triggers.clear();
    FItems.clear();
}

void TWinTaskTriggers::Remove(int index)
{
    FTask.Definition()->Triggers.removeAt(index);
    FItems.erase(FItems.begin() + index);
    for (std::size_t i = std::size_t(index); i < FItems.size(); ++i)
        FItems[i]->SetIndex(int(i));
}

TWinTaskActions::TWinTaskActions(TWinTask& task)
    : FTask(task)
{
}

TWinTaskAction& TWinTaskActions::New(TWinTaskActionType type)
{
    platform::TTaskAction a;
    a.Type = int(type);
    FTask.Definition()->Actions.append(a);
    return Add(int(FTask.Definition()->Actions.size() - 1));
}

TWinTaskAction& TWinTaskActions::Add(int index)
{
    FItems.push_back(std::make_unique<TWinTaskAction>(FTask.Definition(), index));
    return *FItems.back();
}

void TWinTaskActions::ClearAll()
{
    FTask.Definition()->Actions.clear();
    FItems.clear();
}

void TWinTaskActions::Remove(int index)
{
    FTask.Definition()->Actions.removeAt(index);
    FItems.erase(FItems.begin() + index);
    for (std::size_t i = std::size_t(index); i < FItems.size(); ++i)
        FItems[i]->SetIndex(int(i));
}

// ------------------------------------------------------------ definitions

TWinTask::TWinTask(std::shared_ptr<TTaskDefinition> definition, TClockPtr clock)
    : FDefinition(definition ? std::move(definition) : std::make_shared<TTaskDefinition>())
    , FClock(clock ? std::move(clock) : TClock::System())
    , FActions(*this)
    , FTriggers(*this)
    , FSettings(FDefinition)
{
    Refresh();
}

void TWinTask::Refresh()
{
    FActions.Clear();
    FTriggers.Clear();
    for (qsizetype i = 0; i < FDefinition->Triggers.size(); ++i)
        FTriggers.Add(int(i));
    for (qsizetype i = 0; i < FDefinition->Actions.size(); ++i)
        FActions.Add(int(i));
}

QString TWinTask::Description() const
{
    return FDefinition->RegistrationInfo.Description;
}
void TWinTask::SetDescription(const QString& value)
{
    FDefinition->RegistrationInfo.Description = value;
}
QString TWinTask::Author() const
{
    return FDefinition->RegistrationInfo.Author;
}
void TWinTask::SetAuthor(const QString& value)
{
    FDefinition->RegistrationInfo.Author = value;
}
QString TWinTask::Documentation() const
{
    return FDefinition->RegistrationInfo.Documentation;
}
void TWinTask::SetDocumentation(const QString& value)
{
    FDefinition->RegistrationInfo.Documentation = value;
}
QDateTime TWinTask::Date() const
{
    return DateTextToDateTime(FDefinition->RegistrationInfo.Date);
}
void TWinTask::SetDate(const QDateTime& value)
{
    FDefinition->RegistrationInfo.Date = DateTimeToDateText(value, false, FClock->CurrentDateTime());
}
QString TWinTask::Id() const
{
    return FDefinition->Principal.Id;
}
void TWinTask::SetId(const QString& value)
{
    FDefinition->Principal.Id = value;
}
QString TWinTask::DisplayName() const
{
    return FDefinition->Principal.DisplayName;
}
void TWinTask::SetDisplayName(const QString& value)
{
    FDefinition->Principal.DisplayName = value;
}
QString TWinTask::UserId() const
{
    return FDefinition->Principal.UserId;
}
void TWinTask::SetUserId(const QString& value)
{
    FDefinition->Principal.UserId = value;
}
QString TWinTask::GroupId() const
{
    return FDefinition->Principal.GroupId;
}
void TWinTask::SetGroupId(const QString& value)
{
    FDefinition->Principal.GroupId = value;
}
TLogonType TWinTask::LogonType() const
{
    return LogonTypeOfService(FDefinition->Principal.LogonType);
}
void TWinTask::SetLogonType(TLogonType value)
{
    FDefinition->Principal.LogonType = int(value);
}
bool TWinTask::HighestRunLevel() const
{
    return FDefinition->Principal.RunLevel == 1;
}
void TWinTask::SetHighestRunLevel(bool value)
{
    FDefinition->Principal.RunLevel = value ? 1 : 0;
}
QString TWinTask::UserData() const
{
    return FDefinition->Data;
}
void TWinTask::SetUserData(const QString& value)
{
    FDefinition->Data = value;
}
QString TWinTask::XmlText() const
{
    return platform::WriteTaskXml(*FDefinition);
}
void TWinTask::SetXmlText(const QString& xml)
{
    TTaskDefinition d;
    platform::TTaskXmlError error;
    if (!platform::ReadTaskXml(xml, d, error))
        throw platform::ETaskServiceError(error.Code, platform::TaskXmlErrorDetail(error));
    *FDefinition = std::move(d);
    FSelectedAction = -1;
    Refresh();
}

void TWinTask::ImportXmlFile(const QString& fileName)
{
    QByteArray bytes;
    const int rc = platform::ReadWholeFile(fileName, bytes, kMaxTaskXmlFile);
    if (rc != 0)
        throw platform::ETaskServiceError(platform::TaskSystemError(rc), fileName);
    TTaskDefinition d;
    platform::TTaskXmlError error;
    if (!platform::ReadTaskXml(bytes, d, error))
        throw platform::ETaskServiceError(
            error.Code, fileName + QLatin1Char(' ') + platform::TaskXmlErrorDetail(error));
    *FDefinition = std::move(d);
    FSelectedAction = -1;
    Refresh();
}

TWinTaskAction& TWinTask::NewAction(TWinTaskActionType type)
{
    TWinTaskAction& a = FActions.New(type);
    FSelectedAction = a.Index();
    return a;
}

TWinTaskTrigger& TWinTask::NewTrigger(TWinTaskTriggerType type)
{
    TWinTaskTrigger& t = FTriggers.New(type);
    t.SetToDefault(UserId());
    return t;
}

bool TWinTask::DeleteTrigger(int index)
{
    if (index < 0 || index >= TriggerCount())
        return true;
    try {
        FTriggers.Remove(index);
        return true;
    } catch (...) {
        return false;
    }
}

int TWinTask::IndexOfApp(const QString& appFilter)
{
    FSelectedAction = -1;
    for (int i = 0; i < ActionCount(); ++i) {
        const TWinTaskAction& a = Actions(i);
        if (a.ActionType() == TWinTaskActionType::taExec
            && a.Path().endsWith(appFilter, Qt::CaseInsensitive)) {
            FSelectedAction = i;
            break;
        }
    }
    return FSelectedAction;
}

int TWinTask::IndexOfNextExecAction(int fromIndex)
{
    FSelectedAction = -1;
    for (int i = std::max(0, fromIndex); i < ActionCount(); ++i) {
        if (Actions(i).ActionType() == TWinTaskActionType::taExec) {
            FSelectedAction = i;
            break;
        }
    }
    return FSelectedAction;
}

// ------------------------------------------------------ registered tasks

TWinRegisteredTask::TWinRegisteredTask(std::shared_ptr<platform::ITaskService> service, const QString& name,
    TClockPtr clock, std::optional<platform::ETaskServiceError>* definitionError)
    : FService(std::move(service))
    , FTaskName(name)
{
    auto definition = std::make_shared<TTaskDefinition>();
    try {
        *definition = FService->Definition(name);
    } catch (const platform::ETaskServiceError& e) {
        if (!definitionError)
            throw;
        definitionError->emplace(e);
    }
    FTask = std::make_unique<TWinTask>(std::move(definition), std::move(clock));
}

bool TWinRegisteredTask::Enabled() const
{
    return FService->Enabled(FTaskName);
}
void TWinRegisteredTask::SetEnabled(bool value)
{
    FService->SetEnabled(FTaskName, value);
}
int TWinRegisteredTask::LastResult() const
{
    return FService->LastTaskResult(FTaskName);
}
QDateTime TWinRegisteredTask::LastRunTime() const
{
    return FService->LastRunTime(FTaskName);
}
QDateTime TWinRegisteredTask::NextRunTime() const
{
    return FService->NextRunTime(FTaskName);
}
int TWinRegisteredTask::NumberOfMissedRuns() const
{
    return FService->NumberOfMissedRuns(FTaskName);
}
QString TWinRegisteredTask::Path() const
{
    return platform::UnquotedActionPath(FService->Path(FTaskName));
}
TWinTaskStatus TWinRegisteredTask::Status() const
{
    return StatusOfService(FService->State(FTaskName));
}
QString TWinRegisteredTask::Xml() const
{
    return FService->Xml(FTaskName);
}
void TWinRegisteredTask::Run()
{
    FService->Run(FTaskName);
}
void TWinRegisteredTask::Stop()
{
    FService->Stop(FTaskName);
}

// --------------------------------------------------------------- folders

TWinTaskFolder::TWinTaskFolder(std::shared_ptr<platform::ITaskService> service, QString path, TClockPtr clock)
    : FService(std::move(service))
    , FPath(std::move(path))
    , FClock(std::move(clock))
{
}

void TWinTaskFolder::ClearError()
{
    FErrorCode = 0;
    FErrMsg.clear();
}

void TWinTaskFolder::StoreError(const platform::ETaskServiceError& e)
{
    FErrorCode = e.ErrorCode();
    FErrMsg = TaskErrorText(e.ErrorCode());
    if (!e.Detail().isEmpty())
        FErrMsg += (FErrMsg.isEmpty() ? QString() : QStringLiteral("\n")) + e.Detail();
}

QString TWinTaskFolder::FolderName() const
{
    return FPath == u"\\" ? FPath : FPath.section(QLatin1Char('\\'), -1);
}

quint32 TWinTaskFolder::Refresh()
{
    ClearError();
    FTasks.clear();
    FFolders.clear();
    FNumTasks = 0;
    FNumFolders = 0;
    try {
        const QStringList names = FService->ListTasks();
        FNumTasks = int(names.size());
        for (const QString& name : names) {
            std::optional<platform::ETaskServiceError> definitionError;
            auto task = std::make_unique<TWinRegisteredTask>(FService, name, FClock, &definitionError);
            if (definitionError)
                StoreError(*definitionError);
            task->Refresh();
            task->SetTaskIndex(int(FTasks.size()));
            FTasks.push_back(std::move(task));
        }
        const QStringList folders = FService->ListFolders();
        FNumFolders = int(folders.size());
        for (const QString& f : folders)
            FFolders.push_back(std::make_unique<TWinTaskSubFolder>(f));
    } catch (const platform::ETaskServiceError& e) {
        StoreError(e);
        FNumTasks = int(FTasks.size());
        return FErrorCode;
    }
    // A definition that could not be read is no failure of the listing.
    return 0;
}

int TWinTaskFolder::IndexOfTask(const QString& name) const
{
    for (int i = 0; i < FNumTasks && i < int(FTasks.size()); ++i)
        if (FTasks[std::size_t(i)]->TaskName().compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

bool TWinTaskFolder::DeleteTask(const QString& name)
{
    ClearError();
    try {
        FService->Delete(name);
    } catch (const platform::ETaskServiceError& e) {
        StoreError(e);
        return false;
    }
    return qint32(Refresh()) >= 0;
}

int TWinTaskFolder::RegisterTask(
    const QString& taskName, TWinTask& task, const QString& userName, const QString& password)
{
    ClearError();
    QString user = userName;
    QString pw = password;
    const TLogonType logon = task.LogonType();
    if (logon == TLogonType::ltToken) {
        user.clear();
        pw.clear();
    } else if (logon == TLogonType::ltService) {
        pw.clear();
    }
    try {
        FService->Register(taskName, *task.Definition(), user, pw, int(logon));
    } catch (const platform::ETaskServiceError& e) {
        StoreError(e);
        return -1;
    }
    if (qint32(Refresh()) < 0)
        return -1;
    return IndexOfTask(taskName);
}

int TWinTaskFolder::IndexOfFolder(const QString& name) const
{
    for (int i = 0; i < int(FFolders.size()); ++i)
        if (FFolders[std::size_t(i)]->Name().compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

int TWinTaskFolder::CreateFolder(const QString& name)
{
    // The task service keeps one folder.
    StoreError(platform::ETaskServiceError(platform::kTaskNotSupported, name));
    return -1;
}

bool TWinTaskFolder::DeleteFolder(const QString& name)
{
    StoreError(platform::ETaskServiceError(platform::kTaskNotSupported, name));
    return false;
}

// ------------------------------------------------------------- scheduler

TWinTaskScheduler::TWinTaskScheduler(std::shared_ptr<platform::ITaskService> service, TClockPtr clock)
    : FService(std::move(service))
    , FClock(clock ? std::move(clock) : TClock::System())
{
}

quint32 TWinTaskScheduler::Init()
{
    if (qint32(FResult) < 0)
        return FResult;
    const quint32 connected = FService->Connect();
    if (connected != 0)
        return connected;
    return Refresh();
}

quint32 TWinTaskScheduler::Refresh()
{
    FTaskFolder = std::make_unique<TWinTaskFolder>(FService, FFolder, FClock);
    return FTaskFolder->Refresh();
}

std::unique_ptr<TWinTask> TWinTaskScheduler::NewTask()
{
    auto definition = std::make_shared<TTaskDefinition>(FService->NewDefinition());
    auto task = std::make_unique<TWinTask>(std::move(definition), FClock);
    // The compatibility of the newest Windows version the format knows:
    // every version check passes here.
    task->Settings().SetCompatibility(TWinTaskCompatibility::tcWin10);
    return task;
}

void TWinTaskScheduler::SetPath(const QString& path)
{
    FFolder = path;
    Refresh();
}

quint32 StartTaskScheduler(std::unique_ptr<TWinTaskScheduler>& scheduler,
    std::shared_ptr<platform::ITaskService> service, TClockPtr clock)
{
    scheduler.reset();
    if (!service)
        service = CoTaskScheduler_::Create();
    if (!TWinTaskScheduler::IsRunning(*service))
        return platform::kTaskServiceNotRunning;
    scheduler = std::make_unique<TWinTaskScheduler>(std::move(service), std::move(clock));
    return scheduler->Init();
}

} // namespace kes
