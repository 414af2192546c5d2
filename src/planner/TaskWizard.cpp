#include "planner/TaskWizard.h"

#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/PathRules.h"
#include "frame/Version.h"
#include "frame/WinExecute.h"

#include <QFileInfo>

namespace kes {

namespace {

// Marvick's modal results (the values the dialogs give).
constexpr int kOk = 1;
constexpr int kCancel = 2;
constexpr int kRetry = 4;
constexpr int kYes = 6;
constexpr int kNo = 7;

const std::array<TKesActionInfo, 7> kKinds {{
    {"Backup", N_("Backup"), nullptr, "Backup-", ".buj", N_("Backup tasks"), true, true, true},
    {"Restore", N_("Restore"), nullptr, "Restore-", ".rsj", N_("Restore tasks"), true, true, false},
    {"Cleanup", N_("Cleanup"), nullptr, "Cleanup-", ".cuj", N_("Cleanup tasks"), true, true, false},
    {"Schedule", N_("Alternating schedule"), N_("Name of alternating schedule:"), "Schedule-", "", "", true,
        false, false},
    {"Verify", N_("Verify"), nullptr, "Verify-", ".vfj", N_("Verify tasks"), true, true, false},
    {"Starter", N_("Start backups"), "", "Starter-", "", "", false, false, false},
    {"Tavisk", N_("Thunderbird mail backup"), N_("Thunderbird mail profile:"), "Tavisk-", ".buj", "", false,
        false, false},
}};

constexpr std::array<const char*, 3> kDelayUnits {N_("hour(s)"), N_("minute(s)"), N_("seconds(s)")};
constexpr std::array<const char*, 6> kStartKinds {N_("Daily"), N_("Weekly"), N_("Monthly"),
    N_("One time only"), N_("On logon"), N_("On waking up the computer")};

const char* const kWakeUpQuery
    = "<QueryList><Query Id=\"0\" Path=\"System\"><Select Path=\"System\">*[System[Provider[@Name='Microsoft-"
      "Windows-Kernel-Power'] and (EventID=107 or EventID=507)]]</Select></Query></QueryList>";

QString L(const char* text)
{
    return QString::fromUtf8(text);
}

// The file name without folder and extension.
QString BareName(const QString& file)
{
    return QFileInfo(file).completeBaseName();
}

// A time rounded to the nearest whole minute.
QDateTime RoundToMinute(const QDateTime& t)
{
    if (!t.isValid())
        return t;
    QDateTime m(t.date(), QTime(t.time().hour(), t.time().minute()));
    if (t.time().second() >= 30)
        m = m.addSecs(60);
    return m;
}

QDateTime TruncateToMinute(const QDateTime& t)
{
    if (!t.isValid())
        return t;
    return QDateTime(t.date(), QTime(t.time().hour(), t.time().minute()));
}

} // namespace

const TKesActionInfo& KesActionInfo(TKesAction kind)
{
    return kKinds[std::size_t(kind)];
}

QString KesActionText(TKesAction kind)
{
    return Tr(KesActionInfo(kind).ActionText);
}

QString KesActionTaskLabel(TKesAction kind)
{
    const TKesActionInfo& info = KesActionInfo(kind);
    if (!info.TaskLabel)
        return Format(_("Tasks (%s):"), {KesActionText(kind)});
    return *info.TaskLabel ? Tr(info.TaskLabel) : QString();
}

QString TaskWizardCaption(TKesAction kind)
{
    return _("Windows Scheduled Task Wizard") + QStringLiteral(" (") + KesActionText(kind)
        + QStringLiteral(")");
}

void TDelayPair::ChooseUnit(TDelayUnit unit)
{
    Unit = unit;
    switch (unit) {
    case TDelayUnit::duHours:
        Maximum = 24;
        Value = 1;
        Step = 1;
        break;
    case TDelayUnit::duMinutes:
        Maximum = 719;
        Value = 1;
        Step = 10;
        break;
    case TDelayUnit::duSeconds:
        Maximum = 599;
        Value = 30;
        Step = 10;
        break;
    }
}

void TDelayPair::SetSeconds(quint32 s)
{
    if (s % 3600 == 0 || s >= 43200) {
        ChooseUnit(TDelayUnit::duHours);
        Value = int(std::min<quint32>(s / 3600, 24));
    } else if (s % 60 != 0 && s < 1800) {
        ChooseUnit(TDelayUnit::duSeconds);
        Value = int(std::min<quint32>(s, 599));
    } else {
        ChooseUnit(TDelayUnit::duMinutes);
        Value = int(std::min<quint32>(s / 60, 719));
    }
}

quint32 TDelayPair::Seconds() const
{
    if (!Checked)
        return 0;
    switch (Unit) {
    case TDelayUnit::duHours:
        return quint32(Value) * 3600;
    case TDelayUnit::duMinutes:
        return quint32(Value) * 60;
    case TDelayUnit::duSeconds:
        break;
    }
    return quint32(Value);
}

QString DelayUnitText(TDelayUnit unit)
{
    return Tr(kDelayUnits[std::size_t(unit)]);
}

QString NumberOfHint(const QString& unitText)
{
    return _("Number of ") + unitText;
}

QString StartKindText(TStartKind kind)
{
    return Tr(kStartKinds[std::size_t(kind)]);
}

TSchedulePage SchedulePageOf(TStartKind kind)
{
    switch (kind) {
    case TStartKind::skDaily:
        return TSchedulePage::spDaily;
    case TStartKind::skWeekly:
        return TSchedulePage::spWeekly;
    case TStartKind::skMonthly:
        return TSchedulePage::spMonthly;
    case TStartKind::skOneTime:
        return TSchedulePage::spOneTime;
    case TStartKind::skLogon:
    case TStartKind::skWakeUp:
        break;
    }
    return TSchedulePage::spEvent;
}

QString DefaultWakeUpQuery()
{
    return L(kWakeUpQuery);
}

QString WakeUpQueryForEditing(const QString& query)
{
    QString t = query;
    return t.replace(QStringLiteral("><"), QStringLiteral(">\n<"));
}

QString WakeUpQueryFromEditing(const QString& text)
{
    QString t = text;
    t.remove(QLatin1Char('\r'));
    return t.replace(QStringLiteral(">\n<"), QStringLiteral("><"));
}

int ToggleWeekDay(int mask, int day, bool checked)
{
    mask = checked ? mask | (1 << day) : mask & ~(1 << day);
    return (mask & 0x7F) ? mask : 1;
}

int ToggleMonth(int mask, int month, bool checked)
{
    mask = checked ? mask | (1 << month) : mask & ~(1 << month);
    return (mask & 0xFFF) ? mask : 1;
}

int WeekDaysToTask(int mondayFirst)
{
    // Monday first (bit 0) to Sunday first (bit 0 Sunday, bit 1 Monday).
    return ((mondayFirst & 0x3F) << 1) | ((mondayFirst >> 6) & 1);
}

int WeekDaysFromTask(int sundayFirst)
{
    return ((sundayFirst >> 1) & 0x3F) | ((sundayFirst & 1) << 6);
}

bool TriggerSupported(const TWinTaskTrigger& trigger)
{
    switch (trigger.TriggerType()) {
    case TWinTaskTriggerType::ttDaily:
    case TWinTaskTriggerType::ttWeekly:
    case TWinTaskTriggerType::ttMonthly:
    case TWinTaskTriggerType::ttMonthlyDow:
    case TWinTaskTriggerType::ttTime:
    case TWinTaskTriggerType::ttEvent:
        return true;
    case TWinTaskTriggerType::ttLogon:
        return !trigger.LogonUserId().isEmpty();
    default:
        return false;
    }
}

TWinTaskTriggerType TriggerTypeOf(TStartKind kind, bool monthlyOnDays)
{
    switch (kind) {
    case TStartKind::skDaily:
        return TWinTaskTriggerType::ttDaily;
    case TStartKind::skWeekly:
        return TWinTaskTriggerType::ttWeekly;
    case TStartKind::skMonthly:
        return monthlyOnDays ? TWinTaskTriggerType::ttMonthly : TWinTaskTriggerType::ttMonthlyDow;
    case TStartKind::skOneTime:
        return TWinTaskTriggerType::ttTime;
    case TStartKind::skLogon:
        return TWinTaskTriggerType::ttLogon;
    case TStartKind::skWakeUp:
        break;
    }
    return TWinTaskTriggerType::ttEvent;
}

bool IsRetryCode(quint32 code)
{
    const quint32 low = code & 0xFFFF;
    return (low >= 1326 && low <= 1332) || low == 87;
}

bool IsValidTaskName(const QString& name)
{
    for (QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || QStringLiteral("\"*/:<>?\\|").contains(c))
            return false;
    }
    return true;
}

QString InvalidTaskNameMessage(const QString& name)
{
    return _("Task Scheduler") + QStringLiteral("\r\n")
        + Format(
            _("\"%s\" contains invalid characters (%s)!"), {name, QStringLiteral("* ? < > : \" / \\ |")});
}

TTaskWizard::TTaskWizard(TTaskWizardEnvironment environment)
    : FEnv(std::move(environment))
{
    if (!FEnv.Clock)
        FEnv.Clock = TClock::System();
    ResetPages(Now());
}

TTaskWizard::~TTaskWizard() = default;

QDateTime TTaskWizard::Now() const
{
    return FEnv.Clock->CurrentDateTime();
}

QString TTaskWizard::ProgramDir() const
{
    return ExtractFilePath(FEnv.ProgramFile);
}

TSchedulePage TTaskWizard::CurrentPage() const
{
    return FStep == TWizardStep::wsAccount ? TSchedulePage::spAccount : SchedulePageOf(FPages.StartKind);
}

bool TTaskWizard::BackEnabled() const
{
    return FStep != TWizardStep::wsSettings && (FShowProgPage || FStep == TWizardStep::wsAccount);
}

void TTaskWizard::Restart()
{
    FStep = FShowProgPage ? TWizardStep::wsSettings : TWizardStep::wsSchedule;
}

bool TTaskWizard::Next(ITaskWizardUi& ui, bool& finished)
{
    finished = false;
    switch (FStep) {
    case TWizardStep::wsSettings: {
        const QString field = FPages.Command.TaskList.trimmed();
        if (field.isEmpty()) {
            ui.Message(_("No tasks specified!"));
            return false;
        }
        if (FKind != TKesAction::paSchedule && FKind != TKesAction::paTavisk) {
            for (const QString& entry : SplitTaskList(field)) {
                const QString file = MakePathName(FPath, entry, L(KesActionInfo(FKind).Extension));
                if (!QFileInfo(file).isFile()) {
                    ui.Message(_("File not found:") + QStringLiteral("\r\n") + file);
                    return false;
                }
            }
        }
        FStep = TWizardStep::wsSchedule;
        return true;
    }
    case TWizardStep::wsSchedule:
        FStep = TWizardStep::wsAccount;
        return true;
    case TWizardStep::wsAccount:
        FPages.LogonAccount = FPages.UserName;
        finished = true;
        return false;
    }
    return false;
}

void TTaskWizard::Back()
{
    if (FStep == TWizardStep::wsAccount)
        FStep = TWizardStep::wsSchedule;
    else if (FStep == TWizardStep::wsSchedule && FShowProgPage)
        FStep = TWizardStep::wsSettings;
}

QString TTaskWizard::FixedParameters() const
{
    QString s = BuildTaskOptions(FPages.Command, false);
    while (s.startsWith(QLatin1Char(' ')))
        s.remove(0, 1);
    return s;
}

bool TTaskWizard::ErrorHandlingEnabled() const
{
    return FPages.Command.SubAction != TSubsequentAction::saNone;
}

QString TTaskWizard::ErrorHandlingHint() const
{
    return Format(_("Disable %s on errors"), {SubsequentActionText(FPages.Command.SubAction)});
}

bool TTaskWizard::CloseAfterEnabled() const
{
    return FPages.Command.StatusWindow == TStatusWindow::swCloseAutomatically
        || FPages.Command.StatusWindow == TStatusWindow::swWaitOnErrors;
}

QString TTaskWizard::EventCaption() const
{
    return FPages.StartKind == TStartKind::skLogon ? _("On logon of:") : _("On waking up the computer:");
}

void TTaskWizard::ChooseAccount(bool asLoggedOnUser)
{
    FPages.AsLoggedOnUser = asLoggedOnUser;
    if (asLoggedOnUser) {
        FPages.UserName = CurrentAccount();
        FPages.Password.clear();
    }
}

void TTaskWizard::AddTaskFiles(const QStringList& files)
{
    for (const QString& file : files) {
        const QString entry = QuoteTaskEntry(MakeRelativeToTaskDir(file, FPath));
        if (entry.isEmpty())
            continue;
        QString& list = FPages.Command.TaskList;
        list += (list.trimmed().isEmpty() ? QString() : QStringLiteral(",")) + entry;
        list = list.trimmed();
    }
}

QString TTaskWizard::TaskFilesStartFolder() const
{
    const QStringList entries = SplitTaskList(FPages.Command.TaskList);
    if (!entries.isEmpty() && entries.first().startsWith(QLatin1Char('/')))
        return ExtractFilePath(entries.first());
    return FPath;
}

void TTaskWizard::ResetPages(const QDateTime& now)
{
    TTaskWizardPages p;
    p.Command.Kind = FKind;
    p.Start = now;
    p.AdvSet.EndDate = now;
    p.UserName = CurrentAccount();
    p.LogonAccount = CurrentAccount();
    p.WakeUpQuery = DefaultWakeUpQuery();
    FPages = p;
}

bool TTaskWizard::LoadTask(TWinTask& task, const QString& taskName, int trgIndex,
    const QString& builtArguments, QString& unsupported)
{
    unsupported.clear();
    const QDateTime now = Now();
    TTaskWizardPages& p = FPages;
    p.TaskName = taskName;
    p.Description = task.Description();
    p.AsLoggedOnUser = task.LogonType() == TLogonType::ltToken;
    p.HighestRunLevel = task.HighestRunLevel();

    int actionIndex = task.IndexOfNextExecAction(0);
    if (actionIndex < 0) {
        task.NewAction(TWinTaskActionType::taExec);
        actionIndex = task.IndexOfNextExecAction(0);
    }
    TWinTaskAction& action = task.Actions(actionIndex);
    p.Command.TaskList.clear();
    p.Command.UserOptions.clear();
    QString dir = action.WorkingDirectory();
    if (dir.size() >= 2 && dir.startsWith(QLatin1Char('"')) && dir.endsWith(QLatin1Char('"')))
        dir = dir.mid(1, dir.size() - 2);
    p.WorkingDirectory = dir;
    if (FShowProgPage)
        ReadTaskCommandLine(action.Arguments(), FPath, p.Command, PathStyle::Posix);
    else
        FLoadedArguments = builtArguments.isEmpty() ? action.Arguments() : builtArguments;
    p.Command.Kind = FKind;
    // A logged-on user shows the current account; a password logon the
    // account it runs under.
    const QString user = task.UserId();
    p.UserName = p.AsLoggedOnUser || user.isEmpty() ? CurrentAccount() : user;

    TWinTaskSettings& s = task.Settings();
    p.AdvSet.ReRun = s.RunIfMissed();
    p.AdvSet.PowerOnly = s.DisallowOnBatteries();
    p.AdvSet.StopBattery = s.StopOnBatteries();
    p.AdvSet.WakeUp = s.WakeToRun();
    p.AdvSet.NetworkOnly = s.RunOnlyIfNetwork();
    if (int(s.Compatibility()) < int(TWinTaskCompatibility::tcVista))
        s.SetCompatibility(TWinTaskCompatibility::tcWin10);

    if (trgIndex < 0 || trgIndex >= task.TriggerCount()) {
        p.Header = _("New schedule");
        p.StartKind = TStartKind::skDaily;
        return true;
    }
    TWinTaskTrigger& t = task.Triggers(trgIndex);
    if (!TriggerSupported(t)) {
        unsupported = Format(_("The trigger mode \"%s\" is not supported by Kestrup.\r\nPlease use the "
                               "Windows Task Scheduler for "
                               "editing!"),
            {t.TriggerTypeAsString()});
        return false;
    }
    p.Header = OrdinalText(trgIndex + 1) + _("Schedule");
    p.ScheduleEnabled = t.Enabled();
    const QDateTime start = t.StartTime();
    const bool hadStart = start.isValid();
    p.Start = hadStart ? start : TruncateToMinute(now);
    const QDateTime end = t.EndTime();
    p.AdvSet.UseEndDate = end.isValid() && end > now;
    if (p.AdvSet.UseEndDate) {
        p.AdvSet.EndDate = QDateTime(end.date(), QTime(23, 59, 59));
    } else {
        const QDateTime registered = task.Date().isValid() ? task.Date() : now;
        p.AdvSet.EndDate = registered.addDays(366).addSecs(-1);
    }
    p.AdvSet.RepeatTask = t.Interval() != 0;
    if (p.AdvSet.RepeatTask) {
        p.AdvSet.MinutesInterval = int(t.Interval() / 60);
        p.AdvSet.MinutesDuration = int(t.Duration() / 60);
    }
    p.AdvSet.StopEndDuration = t.StopAtDurationEnd();
    p.AdvSet.UseLimit = t.ExecutionTimeLimit() != 0;
    if (p.AdvSet.UseLimit)
        p.AdvSet.MinutesLimit = int(t.ExecutionTimeLimit() / 60);

    switch (t.TriggerType()) {
    case TWinTaskTriggerType::ttDaily:
        p.StartKind = TStartKind::skDaily;
        p.EveryDay = t.DaysInterval() <= 1;
        if (!p.EveryDay)
            p.DaysInterval = std::clamp(t.DaysInterval(), 2, 99);
        break;
    case TWinTaskTriggerType::ttWeekly:
        p.StartKind = TStartKind::skWeekly;
        p.WeeksInterval = std::clamp(t.WeeksInterval(), 1, 99);
        p.WeekDays = WeekDaysFromTask(t.DaysOfWeek()) ? WeekDaysFromTask(t.DaysOfWeek()) : 1;
        break;
    case TWinTaskTriggerType::ttMonthly:
        p.StartKind = TStartKind::skMonthly;
        p.MonthlyOnDays = true;
        p.MonthDays = quint32(t.DaysOfMonth());
        p.Months = (t.MonthsOfYear() & 0xFFF) ? t.MonthsOfYear() & 0xFFF : 1;
        break;
    case TWinTaskTriggerType::ttMonthlyDow:
        p.StartKind = TStartKind::skMonthly;
        p.MonthlyOnDays = false;
        p.MonthWeeks = t.WeeksOfMonth() & 0x1F;
        p.MonthWeekDays = WeekDaysFromTask(t.DaysOfWeek());
        p.Months = (t.MonthsOfYear() & 0xFFF) ? t.MonthsOfYear() & 0xFFF : 1;
        break;
    case TWinTaskTriggerType::ttTime:
        p.StartKind = TStartKind::skOneTime;
        p.RandomDelay.SetSeconds(t.RandomDelay() ? t.RandomDelay() : 30);
        p.RandomDelay.Checked = t.RandomDelay() != 0;
        break;
    case TWinTaskTriggerType::ttEvent:
    case TWinTaskTriggerType::ttLogon:
        if (t.TriggerType() == TWinTaskTriggerType::ttEvent) {
            p.StartKind = TStartKind::skWakeUp;
            p.WakeUpQuery = t.Subscription().isEmpty() ? DefaultWakeUpQuery() : t.Subscription();
        } else {
            p.StartKind = TStartKind::skLogon;
            p.LogonAccount = t.LogonUserId();
        }
        p.Activate = hadStart;
        p.Delay.SetSeconds(t.Delay() ? t.Delay() : 30);
        p.Delay.Checked = t.Delay() != 0;
        break;
    default:
        break;
    }
    return true;
}

QString TTaskWizard::SavedArguments(const QString& taskText) const
{
    if (!FShowProgPage)
        return FLoadedArguments.isEmpty() ? taskText : FLoadedArguments;
    QString args;
    const QStringList entries = SplitTaskList(FPages.Command.TaskList);
    if (FKind == TKesAction::paSchedule) {
        // The schedule's name: the first entry of the field (a name with a
        // comma is kept whole by its quotes).
        if (!entries.isEmpty())
            args = QuoteTaskEntry(entries.first());
    } else {
        for (const QString& entry : entries)
            args += QuoteTaskEntry(TakeInTaskDir(entry, FPath, PathStyle::Posix)) + QLatin1Char(' ');
        args.chop(1);
    }
    args += BuildTaskOptions(FPages.Command, true);
    if (!FPages.Command.UserOptions.trimmed().isEmpty())
        args += QLatin1Char(' ') + FPages.Command.UserOptions.trimmed();
    return args;
}

void TTaskWizard::SaveTask(TWinTask& task, int& trgIndex, const QString& taskText, QString& warning) const
{
    warning.clear();
    const TTaskWizardPages& p = FPages;
    const TKesActionInfo& info = KesActionInfo(FKind);
    task.SetDescription(p.Description);
    const bool withText
        = FKind == TKesAction::paSchedule || FKind == TKesAction::paStarter || FKind == TKesAction::paTavisk;
    task.SetUserData(withText ? L(info.Marker) + QLatin1Char('-') + taskText : L(info.Marker));
    task.SetLogonType(p.AsLoggedOnUser ? TLogonType::ltToken : TLogonType::ltPassword);
    if (!p.AsLoggedOnUser)
        task.SetUserId(p.UserName);
    task.SetHighestRunLevel(p.HighestRunLevel);

    TWinTaskSettings& s = task.Settings();
    s.SetRunIfMissed(p.AdvSet.ReRun);
    s.SetDisallowOnBatteries(p.AdvSet.PowerOnly);
    s.SetStopOnBatteries(p.AdvSet.StopBattery);
    s.SetWakeToRun(p.AdvSet.WakeUp);
    s.SetRunOnlyIfNetwork(p.AdvSet.NetworkOnly);

    int actionIndex = task.IndexOfNextExecAction(0);
    if (actionIndex < 0) {
        task.NewAction(TWinTaskActionType::taExec);
        actionIndex = task.IndexOfNextExecAction(0);
    }
    TWinTaskAction& action = task.Actions(actionIndex);
    const QString program = action.Path();
    if (ExtractFilePath(program).compare(ProgramDir(), Qt::CaseInsensitive) != 0) {
        const QString name = program.isEmpty() ? ExtractFileName(FEnv.ProgramFile) : ExtractFileName(program);
        action.SetPath(QuoteIfNeeded(ProgramDir() + name));
    }
    action.SetWorkingDirectory(QuoteIfNeeded(p.WorkingDirectory));
    action.SetArguments(SavedArguments(taskText));

    const TWinTaskTriggerType type = TriggerTypeOf(p.StartKind, p.MonthlyOnDays);
    if (trgIndex >= 0 && trgIndex < task.TriggerCount() && task.Triggers(trgIndex).TriggerType() != type) {
        if (task.DeleteTrigger(trgIndex))
            trgIndex = -1;
        else
            warning = _("Could not delete trigger (") + QString::number(trgIndex) + QStringLiteral(")")
                + QStringLiteral("\r\n") + _("Task: ") + p.TaskName;
    }
    if (trgIndex < 0 || trgIndex >= task.TriggerCount()) {
        task.NewTrigger(type);
        trgIndex = task.TriggerCount() - 1;
    }
    TWinTaskTrigger& t = task.Triggers(trgIndex);
    const TWinTaskTriggerType kind = t.TriggerType();
    t.SetEnabled(p.ScheduleEnabled);

    const bool event = kind == TWinTaskTriggerType::ttEvent || kind == TWinTaskTriggerType::ttLogon;
    const QDateTime start = event && !p.Activate ? QDateTime() : RoundToMinute(p.Start);

    // An end not after the start would leave a trigger that never fires:
    // it moves to one minute after the start written now.
    if (p.AdvSet.UseEndDate) {
        QDateTime end = p.AdvSet.EndDate;
        const QDateTime reference = start.isValid() ? start : t.StartTime();
        if (reference.isValid() && reference >= end)
            end = reference.addSecs(60);
        t.SetEndTime(end);
    } else {
        t.SetEndTime(QDateTime());
    }
    t.SetStopAtDurationEnd(p.AdvSet.StopEndDuration);
    if (p.AdvSet.RepeatTask) {
        t.SetDuration(quint32(p.AdvSet.MinutesDuration) * 60);
        t.SetInterval(quint32(p.AdvSet.MinutesInterval) * 60);
    } else {
        t.SetDuration(0);
        t.SetInterval(0);
    }
    t.SetExecutionTimeLimit(p.AdvSet.UseLimit ? quint32(p.AdvSet.MinutesLimit) * 60 : 0);

    switch (kind) {
    case TWinTaskTriggerType::ttTime:
        t.SetRandomDelay(p.RandomDelay.Seconds());
        break;
    case TWinTaskTriggerType::ttDaily:
        t.SetDaysInterval(p.EveryDay ? 1 : p.DaysInterval);
        break;
    case TWinTaskTriggerType::ttWeekly:
        t.SetWeeksInterval(p.WeeksInterval);
        t.SetDaysOfWeek((p.WeekDays & 0x7F) ? WeekDaysToTask(p.WeekDays) : 2);
        break;
    case TWinTaskTriggerType::ttMonthly: {
        const quint32 days = p.MonthDays ? p.MonthDays : 1u;
        t.SetDaysOfMonth(int(days));
        t.SetMonthsOfYear((p.Months & 0xFFF) ? p.Months & 0xFFF : 1);
        break;
    }
    case TWinTaskTriggerType::ttMonthlyDow:
        t.SetWeeksOfMonth((p.MonthWeeks & 0x1F) ? p.MonthWeeks & 0x1F : 1);
        t.SetDaysOfWeek((p.MonthWeekDays & 0x7F) ? WeekDaysToTask(p.MonthWeekDays) : 2);
        t.SetMonthsOfYear((p.Months & 0xFFF) ? p.Months & 0xFFF : 1);
        break;
    case TWinTaskTriggerType::ttEvent:
        t.SetSubscription(p.WakeUpQuery);
        t.SetDelay(p.Delay.Seconds());
        break;
    case TWinTaskTriggerType::ttLogon:
        t.SetLogonUserId(p.LogonAccount);
        t.SetDelay(p.Delay.Seconds());
        break;
    default:
        break;
    }
    t.SetStartTime(start);
}

QString TTaskWizard::NewTaskArguments(const QString& task, const QString& options, QString& name) const
{
    const TKesActionInfo& info = KesActionInfo(FKind);
    const QString prefix = L(info.NamePrefix);
    switch (FKind) {
    case TKesAction::paSchedule:
        name = prefix + task;
        return QuoteTaskEntry(task) + QLatin1Char(' ') + options;
    case TKesAction::paStarter:
    case TKesAction::paTavisk:
        name = prefix + task;
        return options;
    default:
        break;
    }
    const QStringList files
        = FKind == TKesAction::paBackup ? SplitTaskList(task) : QStringList {task.trimmed()};
    QString args;
    for (const QString& file : files)
        args += QuoteTaskEntry(MakeRelativeToTaskDir(file, FPath)) + QLatin1Char(' ');
    args.chop(1);
    name = prefix + (files.isEmpty() ? QString() : BareName(files.first()));
    return args + QLatin1Char(' ') + options;
}

int TTaskWizard::SaveAndRegister(TWinTask& task, const QString& taskName, bool isNew, int& taskNr, int& trgNr,
    const QString& taskText, ITaskWizardUi& ui)
{
    QString warning;
    SaveTask(task, trgNr, taskText, warning);
    if (!warning.isEmpty())
        ui.Message(warning);
    TWinTaskFolder& folder = *FScheduler->TaskFolder();
    const int index = folder.RegisterTask(taskName, task, FPages.UserName, FPages.Password);
    if (index >= 0) {
        taskNr = index;
        return kOk;
    }
    const quint32 code = folder.ErrorCode();
    ui.Message(_("Could not create or modify scheduled task!") + QStringLiteral("\r\n") + TaskErrorText(code)
        + QStringLiteral(" - ") + folder.ErrorMessage());
    if (!isNew)
        folder.Refresh();
    return IsRetryCode(code) ? kRetry : kCancel;
}

int TTaskWizard::Execute(int index, int trgIndex, TKesAction kind, const QString& path, const QString& task,
    const QString& options, int& taskNr, int& trgNr, bool retry, ITaskWizardUi& ui)
{
    taskNr = 0;
    if (!FScheduler || !FScheduler->TaskFolder()) {
        ui.Message(_("Scheduled tasks are not available on this computer!"));
        return kCancel;
    }
    FPath = SetDirName(path, PathStyle::Posix);
    FKind = kind;
    FShowProgPage = kind != TKesAction::paStarter && kind != TKesAction::paTavisk;
    FLoadedArguments.clear();
    Restart();
    TWinTaskFolder& folder = *FScheduler->TaskFolder();

    std::unique_ptr<TWinTask> newTask;
    int folderIndex = -1;
    int trigger = -1;
    QString builtArguments;
    QString name;
    bool justCreated = false;

    if (index > 0) {
        folderIndex = index - 1;
        trigger = trgIndex;
    } else if (index == 0) {
        int picked = -1;
        int pickedTrigger = -1;
        const int result = ui.SelectTask(
            KesActionText(kind), *FScheduler, ExtractFileName(FEnv.ProgramFile), picked, pickedTrigger);
        if (result == kNo) {
            if (kind == TKesAction::paStarter) {
                ui.Message(Format(_("No scheduled tasks using %s found!"), {QStringLiteral("Brenlow")}));
                return kNo;
            }
            const QString program = kind == TKesAction::paSchedule ? QStringLiteral("Marvick")
                : kind == TKesAction::paTavisk                     ? QStringLiteral("Tavisk")
                                                                   : QStringLiteral("Kestrup");
            if (!ui.Confirm(Format(_("No scheduled tasks using %s found!\r\nCreate new task?"), {program})))
                return kCancel;
            index = -1;
        } else if (result == kYes) {
            return kYes;
        } else if (result != kOk) {
            taskNr = picked;
            trgNr = 0;
            return result;
        } else {
            folderIndex = picked;
            trigger = pickedTrigger;
        }
    }

    QString taskText = task;
    if (index == -2) {
        // A task file from elsewhere: its definition first, then its name
        // (the file's name, asked for whatever the kind).
        try {
            newTask = FScheduler->NewTask();
            newTask->ImportXmlFile(task);
        } catch (const std::exception& e) {
            ui.Message(_("Error creating new scheduled task!") + QStringLiteral("\r\n- ")
                + QString::fromLocal8Bit(e.what()));
            return kCancel;
        }
        taskText = BareName(task);
        name = L(KesActionInfo(kind).NamePrefix) + taskText;
        for (;;) {
            if (!ui.AskTaskName(KesActionText(kind), name))
                return kCancel;
            if (IsValidTaskName(name) && !name.trimmed().isEmpty())
                break;
            ui.Message(InvalidTaskNameMessage(name));
        }
        folder.Refresh();
        if (folder.IndexOfTask(name) >= 0
            && !ui.Confirm(Format(_("Task \"%s\" already exists - replace?"), {name})))
            return kCancel;
        justCreated = true;
        trigger = newTask->TriggerCount() > 0 ? 0 : -1;
    } else if (index < 0) {
        builtArguments = NewTaskArguments(task, options, name);
        folder.Refresh();
        const int existing = folder.IndexOfTask(name);
        if (existing >= 0) {
            if (!ui.Confirm(Format(_("Task \"%s\" already exists - edit?"), {name})))
                return kCancel;
            folderIndex = existing;
            trigger = folder.Tasks(existing).Definition().TriggerCount() > 0 ? 0 : -1;
            builtArguments.clear();
        } else {
            if (kind != TKesAction::paSchedule && kind != TKesAction::paStarter) {
                for (;;) {
                    if (!ui.AskTaskName(KesActionText(kind), name))
                        return kCancel;
                    if (IsValidTaskName(name) && !name.trimmed().isEmpty())
                        break;
                    ui.Message(InvalidTaskNameMessage(name));
                }
            }
            try {
                newTask = FScheduler->NewTask();
            } catch (const std::exception& e) {
                ui.Message(_("Error creating new scheduled task!") + QStringLiteral("\r\n- ")
                    + QString::fromLocal8Bit(e.what()));
                return kCancel;
            }
            justCreated = true;
            trigger = -1;
            {
                newTask->SetDescription(_("This task was created by Kestrup"));
                newTask->SetAuthor(FEnv.UserName);
                newTask->SetUserId(CurrentAccount());
                newTask->SetLogonType(TLogonType::ltToken);
                newTask->SetDate(Now());
                TWinTaskAction& action = newTask->NewAction(TWinTaskActionType::taExec);
                action.SetPath(QuoteIfNeeded(FEnv.ProgramFile));
                action.SetWorkingDirectory(QString());
                action.SetArguments(builtArguments);
            }
        }
    }

    if (!newTask && (folderIndex < 0 || folderIndex >= folder.TaskCount()))
        return kCancel;
    if (!newTask) {
        // A definition the service cannot read is listed with an empty one;
        // editing that would overwrite the stored file with the wizard's
        // defaults, so it is refused.
        try {
            FScheduler->Service()->Definition(folder.Tasks(folderIndex).TaskName());
        } catch (const platform::ETaskServiceError& e) {
            ui.Message(
                Format(_("The scheduled task \"%s\" cannot be read:"), {folder.Tasks(folderIndex).TaskName()})
                + QStringLiteral("\r\n") + TaskErrorText(e.ErrorCode()) + QStringLiteral(" - ") + e.Detail());
            taskNr = folderIndex;
            return kCancel;
        }
    }
    TWinTask& edited = newTask ? *newTask : folder.Tasks(folderIndex).Definition();
    const QString taskName = newTask ? name : folder.Tasks(folderIndex).TaskName();
    if (trigger >= edited.TriggerCount())
        trigger = edited.TriggerCount() > 0 ? 0 : -1;

    QString unsupported;
    if (!retry || justCreated) {
        ResetPages(Now());
        if (!LoadTask(edited, taskName, trigger, builtArguments, unsupported)) {
            taskNr = folderIndex;
            trgNr = trigger;
            ui.Message(unsupported);
            if (!newTask)
                folder.Refresh();
            return kCancel;
        }
    } else {
        FPages.TaskName = taskName;
    }
    taskNr = folderIndex;
    trgNr = trigger;

    Restart();
    if (!ui.ShowWizard(*this)) {
        if (!newTask)
            folder.Refresh();
        return kCancel;
    }
    int savedTrigger = trigger;
    const int result
        = SaveAndRegister(edited, taskName, newTask != nullptr, taskNr, savedTrigger, taskText, ui);
    trgNr = savedTrigger;
    return result;
}

} // namespace kes
