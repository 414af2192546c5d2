// The task model: a small object model over the task service
// (platform/TaskService.h), as Marvick's window and the scheduled-task
// dialogs use it.
//
// TWinTaskScheduler holds the service and the listed root folder;
// TWinTaskFolder the tasks of the last listing; TWinRegisteredTask one
// registered task; TWinTask a task definition with its settings, actions
// and triggers. The wrappers turn the service's texts into plain numbers,
// seconds, booleans and local date-times, and back. Every wrapper reads or
// writes the service (or the definition it wraps) on each access; nothing
// is cached except the lists Refresh builds. A refresh, a registration or
// a deletion replaces every TWinRegisteredTask and TWinTask of the folder,
// so references into the old lists must not be kept across them.
//
// Errors of the service inside TWinTaskFolder operations are stored
// (ErrorCode, ErrorMessage) and give the operation's failure value;
// property reads and writes raise platform::ETaskServiceError.
#pragma once

#include "frame/Clock.h"
#include "planner/TaskSchedApi.h"
#include "platform/TaskDefinition.h"

#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace kes {

enum class TWinTaskTriggerType : int {
    ttEvent = 0,
    ttTime = 1,
    ttDaily = 2,
    ttWeekly = 3,
    ttMonthly = 4,
    ttMonthlyDow = 5,
    ttIdle = 6,
    ttRegistration = 7,
    ttBoot = 8,
    ttLogon = 9,
    ttSessionStateChange = 11,
    ttCustom = 12,
};
enum class TWinTaskActionType : int { taExec = 0, taCom = 5, taMail = 6, taMessage = 7 };
enum class TWinTaskStatus : int { tsUnknown = 0, tsReady = 3, tsQueued = 2, tsRunning = 4, tsDisabled = 1 };
enum class TWinTaskCompatibility : int { tcAT = 0, tcXP = 1, tcVista = 2, tcWin7 = 3, tcWin10 = 4 };
enum class TMultipleInstances : int { miParallel = 0, miQueue = 1, miIgnoreNew = 2, miStopExisting = 3 };
enum class TLogonType : int {
    ltNone = 0,
    ltPassword = 1,
    ltS4U = 2,
    ltToken = 3,
    ltGroup = 4,
    ltService = 5,
    ltTokenPassword = 6
};
enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Service values to enumerations (an unlisted value reads as the default
// of its enumeration) and thread priorities to the service's 0..10.
TWinTaskTriggerType TriggerTypeOfService(int value);
TWinTaskActionType ActionTypeOfService(int value);
TWinTaskStatus StatusOfService(int value);
TWinTaskCompatibility CompatibilityOfService(int value);
TMultipleInstances MultipleInstancesOfService(int value);
TLogonType LogonTypeOfService(int value);
TThreadPriority PriorityOfService(int value);
int ServicePriority(TThreadPriority priority);

// Display texts (translated).
QString StatusText(TWinTaskStatus status);
QString ActionTypeText(TWinTaskActionType type);
QString TriggerTypeText(TWinTaskTriggerType type);
QString CompatibilityText(TWinTaskCompatibility compatibility);

// Duration text to seconds, by the model's rule: "P" + days "D" (nothing
// after the days is read), or "PT" + hours "H", minutes "M", seconds "S";
// every number counts with its low 16 bits; other units and texts that do
// not begin with "P" give 0.
quint32 DurationToSeconds(const QString& text);
// 0: empty; below a day "PT" + the non-zero parts of hours "H", minutes
// "M", seconds "S"; from a day on "P" + whole days + "D".
QString SecondsToDuration(quint32 seconds);

// The first six runs of digits of a date text as year, month, day, hour,
// minute, second in local time; invalid for an empty text or an impossible
// date. hasZone (optional) tells whether a zone designator follows the
// seconds (a fraction of the seconds is not one).
QDateTime DateTextToDateTime(const QString& text, bool* hasZone = nullptr);
// Empty for an invalid date-time; else "yyyy-MM-ddTHH:mm:ss" of the local
// time, with useTimeZone followed by the local zone's offset from UTC at
// the moment now: "Z" for 0, else "+hh:mm" or "-hh:mm".
QString DateTimeToDateText(const QDateTime& value, bool useTimeZone, const QDateTime& now);
// Empty before 1 January 2000, else the locale's date and time text.
QString DateDisplayText(const QDateTime& value);

// The text of a task service result or error code (translated).
QString TaskErrorText(quint32 code);
// What the main window shows when the scheduler could not be started.
QString TaskSchedulerStartText(quint32 status);
// The status of a scheduler whose start was refused for the system's
// version.
inline constexpr quint32 kTaskSchedulerNotAvailable = 0xA0001322;

class TWinTask;
class TWinTaskFolder;

class TWinTaskIdleSettings {
public:
    explicit TWinTaskIdleSettings(std::shared_ptr<platform::TTaskDefinition> definition);
    quint32 IdleDuration() const;
    void SetIdleDuration(quint32 seconds);
    quint32 WaitTimeout() const;
    void SetWaitTimeout(quint32 seconds);
    bool RestartOnIdle() const;
    void SetRestartOnIdle(bool value);
    bool StopOnIdleEnd() const;
    void SetStopOnIdleEnd(bool value);

private:
    std::shared_ptr<platform::TTaskDefinition> FDefinition;
};

class TWinTaskSettings {
public:
    explicit TWinTaskSettings(std::shared_ptr<platform::TTaskDefinition> definition);

    bool AllowDemandStart() const;
    void SetAllowDemandStart(bool value);
    bool AllowHardTerminate() const;
    void SetAllowHardTerminate(bool value);
    bool Hidden() const;
    void SetHidden(bool value);
    bool WakeToRun() const;
    void SetWakeToRun(bool value);
    bool RunIfMissed() const;
    void SetRunIfMissed(bool value);
    bool DisallowOnBatteries() const;
    void SetDisallowOnBatteries(bool value);
    bool StopOnBatteries() const;
    void SetStopOnBatteries(bool value);
    bool RunOnlyIfNetwork() const;
    void SetRunOnlyIfNetwork(bool value);
    bool RunOnlyIfIdle() const;
    void SetRunOnlyIfIdle(bool value);
    TWinTaskCompatibility Compatibility() const;
    void SetCompatibility(TWinTaskCompatibility value);
    TMultipleInstances MultipleInstances() const;
    void SetMultipleInstances(TMultipleInstances value);
    TThreadPriority Priority() const;
    void SetPriority(TThreadPriority value);
    quint32 ExecutionTimeLimit() const; // hours
    void SetExecutionTimeLimit(quint32 hours);
    int DeleteExpiredTaskAfter() const; // hours, -1 never
    void SetDeleteExpiredTaskAfter(int hours);
    quint32 RestartCount() const;
    void SetRestartCount(quint32 value);
    quint32 RestartInterval() const; // minutes
    void SetRestartInterval(quint32 minutes);
    TWinTaskIdleSettings& IdleSettings() { return FIdleSettings; }

private:
    platform::TTaskSettings& S() const { return FDefinition->Settings; }

    std::shared_ptr<platform::TTaskDefinition> FDefinition;
    TWinTaskIdleSettings FIdleSettings;
};

class TWinTaskAction {
public:
    TWinTaskAction(std::shared_ptr<platform::TTaskDefinition> definition, int index);

    TWinTaskActionType ActionType() const { return FActionType; }
    QString ActionTypeAsString() const { return ActionTypeText(FActionType); }
    QString Id() const;
    void SetId(const QString& id);
    platform::TTaskAction& TaskAction() const { return FDefinition->Actions[FIndex]; }
    // Exec actions: the program (one level of enclosing quotes removed on
    // reading), its arguments and working folder; empty for other kinds.
    QString Path() const;
    void SetPath(const QString& path);
    QString Arguments() const;
    void SetArguments(const QString& arguments);
    QString WorkingDirectory() const;
    void SetWorkingDirectory(const QString& folder);

    int Index() const { return FIndex; }
    void SetIndex(int index) { FIndex = index; }

private:
    bool IsExec() const { return FActionType == TWinTaskActionType::taExec; }

    std::shared_ptr<platform::TTaskDefinition> FDefinition;
    int FIndex;
    TWinTaskActionType FActionType;
};

class TWinTaskTrigger {
public:
    TWinTaskTrigger(std::shared_ptr<platform::TTaskDefinition> definition, int index, TClockPtr clock);

    // Attaches the trigger at index of the definition: reads its kind and
    // whether its start is written with a zone.
    void SetTaskTrigger(int index);
    // Start := now; a logon trigger's user := userId.
    void SetToDefault(const QString& userId);

    TWinTaskTriggerType TriggerType() const { return FTriggerType; }
    QString TriggerTypeAsString() const { return TriggerTypeText(FTriggerType); }
    QString Id() const;
    void SetId(const QString& id);
    bool Enabled() const;
    void SetEnabled(bool value);
    QDateTime StartTime() const;
    void SetStartTime(const QDateTime& value);
    QDateTime EndTime() const;
    void SetEndTime(const QDateTime& value);
    quint32 ExecutionTimeLimit() const; // seconds
    void SetExecutionTimeLimit(quint32 seconds);
    quint32 Interval() const; // repetition, seconds
    void SetInterval(quint32 seconds);
    quint32 Duration() const;
    void SetDuration(quint32 seconds);
    bool StopAtDurationEnd() const;
    void SetStopAtDurationEnd(bool value);
    int DaysInterval() const;
    void SetDaysInterval(int value);
    int WeeksInterval() const;
    void SetWeeksInterval(int value);
    int DaysOfWeek() const;
    void SetDaysOfWeek(int mask);
    int DaysOfMonth() const;
    void SetDaysOfMonth(int mask);
    int MonthsOfYear() const;
    void SetMonthsOfYear(int mask);
    int WeeksOfMonth() const;
    void SetWeeksOfMonth(int mask);
    bool RunOnLastDayOfMonth() const;
    void SetRunOnLastDayOfMonth(bool value);
    bool RunOnLastWeekOfMonth() const;
    void SetRunOnLastWeekOfMonth(bool value);
    quint32 RandomDelay() const; // seconds
    void SetRandomDelay(quint32 seconds);
    quint32 Delay() const; // seconds
    void SetDelay(quint32 seconds);
    QString LogonUserId() const;
    void SetLogonUserId(const QString& user);
    QString Subscription() const;
    void SetSubscription(const QString& query);
    bool UseTimeZone() const { return FTimeZone; }
    void SetUseTimeZone(bool value) { FTimeZone = value; }
    QString TriggerString() const;
    platform::TTaskTrigger& TaskTrigger() const { return FDefinition->Triggers[FIndex]; }

    int Index() const { return FIndex; }
    void SetIndex(int index) { FIndex = index; }

private:
    bool Is(std::initializer_list<TWinTaskTriggerType> kinds) const;

    std::shared_ptr<platform::TTaskDefinition> FDefinition;
    int FIndex;
    TWinTaskTriggerType FTriggerType = TWinTaskTriggerType::ttCustom;
    bool FTimeZone = false;
    TClockPtr FClock;
};

class TWinTaskTriggers {
public:
    explicit TWinTaskTriggers(TWinTask& task);
    int Count() const { return int(FItems.size()); }
    TWinTaskTrigger& Items(int i) const { return *FItems.at(std::size_t(i)); }
    // Creates a trigger of the kind in the definition and wraps it.
    TWinTaskTrigger& New(TWinTaskTriggerType type);
    // Wraps the definition's trigger at index.
    TWinTaskTrigger& Add(int index);
    void ClearAll();
    void Remove(int index);
    // Drops the wrappers only (the definition keeps its triggers).
    void Clear() { FItems.clear(); }

private:
    TWinTask& FTask;
    std::vector<std::unique_ptr<TWinTaskTrigger>> FItems;
};

class TWinTaskActions {
public:
    explicit TWinTaskActions(TWinTask& task);
    int Count() const { return int(FItems.size()); }
    TWinTaskAction& Items(int i) const { return *FItems.at(std::size_t(i)); }
    TWinTaskAction& New(TWinTaskActionType type);
    TWinTaskAction& Add(int index);
    void ClearAll();
    void Remove(int index);
    void Clear() { FItems.clear(); }

private:
    TWinTask& FTask;
    std::vector<std::unique_ptr<TWinTaskAction>> FItems;
};

// A task definition.
class TWinTask {
public:
    explicit TWinTask(std::shared_ptr<platform::TTaskDefinition> definition, TClockPtr clock = nullptr);
    TWinTask(const TWinTask&) = delete;
    TWinTask& operator=(const TWinTask&) = delete;

    // Rebuilds the action and trigger wrappers from the definition.
    void Refresh();

    QString Description() const;
    void SetDescription(const QString& value);
    QString Author() const;
    void SetAuthor(const QString& value);
    QString Documentation() const;
    void SetDocumentation(const QString& value);
    QDateTime Date() const;
    void SetDate(const QDateTime& value); // written without zone
    QString DateAsString() const { return DateDisplayText(Date()); }
    QString Id() const;
    void SetId(const QString& value);
    QString DisplayName() const;
    void SetDisplayName(const QString& value);
    QString UserId() const;
    void SetUserId(const QString& value);
    QString GroupId() const;
    void SetGroupId(const QString& value);
    TLogonType LogonType() const;
    void SetLogonType(TLogonType value);
    bool HighestRunLevel() const;
    void SetHighestRunLevel(bool value);
    QString UserData() const;
    void SetUserData(const QString& value);
    QString XmlText() const;
    // Replaces the definition by the XML text (raises when it is no task
    // definition) and refreshes.
    void SetXmlText(const QString& xml);
    // The same from a task XML file as another computer exported it (its
    // encoding from the byte-order mark or the declaration); raises when
    // the file cannot be read or holds no task definition.
    void ImportXmlFile(const QString& fileName);
    TWinTaskSettings& Settings() { return FSettings; }
    int ActionCount() const { return FActions.Count(); }
    TWinTaskAction& Actions(int i) const { return FActions.Items(i); }
    int TriggerCount() const { return FTriggers.Count(); }
    TWinTaskTrigger& Triggers(int i) const { return FTriggers.Items(i); }
    TWinTaskTriggers& TriggerList() { return FTriggers; }
    TWinTaskActions& ActionList() { return FActions; }
    int SelectedAction() const { return FSelectedAction; }
    QString CompatibilityAsString() const { return CompatibilityText(FSettings.Compatibility()); }

    TWinTaskAction& NewAction(TWinTaskActionType type);
    TWinTaskTrigger& NewTrigger(TWinTaskTriggerType type);
    // An index outside the triggers does nothing and gives true.
    bool DeleteTrigger(int index);
    // The first exec action whose program ends with appFilter (without
    // regard to case), -1 when none; also the selected action.
    int IndexOfApp(const QString& appFilter);
    // The first exec action at or after fromIndex, -1 when none; also the
    // selected action.
    int IndexOfNextExecAction(int fromIndex);

    const std::shared_ptr<platform::TTaskDefinition>& Definition() const { return FDefinition; }
    const TClockPtr& Clock() const { return FClock; }

private:
    std::shared_ptr<platform::TTaskDefinition> FDefinition;
    TClockPtr FClock;
    TWinTaskActions FActions;
    int FSelectedAction = -1;
    TWinTaskTriggers FTriggers;
    TWinTaskSettings FSettings;
};

class TWinRegisteredTask {
public:
    // Reads the task's definition. A definition that cannot be read leaves
    // an empty one and its error in definitionError.
    TWinRegisteredTask(std::shared_ptr<platform::ITaskService> service, const QString& name, TClockPtr clock,
        std::optional<platform::ETaskServiceError>* definitionError = nullptr);

    void Refresh() { FTask->Refresh(); }
    TWinTask& Definition() const { return *FTask; }
    bool Enabled() const;
    void SetEnabled(bool value);
    int LastResult() const;
    QDateTime LastRunTime() const;
    QDateTime NextRunTime() const;
    QString LastRunTimeAsString() const { return DateDisplayText(LastRunTime()); }
    QString NextRunTimeAsString() const { return DateDisplayText(NextRunTime()); }
    int NumberOfMissedRuns() const;
    QString Path() const;
    TWinTaskStatus Status() const;
    QString StatusAsString() const { return StatusText(Status()); }
    int TaskIndex() const { return FIndex; }
    void SetTaskIndex(int index) { FIndex = index; }
    QString TaskName() const { return FTaskName; }
    QString Xml() const;
    void Run();
    void Stop();
    int IndexOfApp(const QString& appFilter) { return FTask->IndexOfApp(appFilter); }

private:
    std::shared_ptr<platform::ITaskService> FService;
    QString FTaskName;
    int FIndex = -1;
    std::unique_ptr<TWinTask> FTask;
};

class TWinTaskSubFolder {
public:
    explicit TWinTaskSubFolder(QString name)
        : FName(std::move(name))
    {
    }
    QString Name() const { return FName; }
    QString Path() const { return QStringLiteral("\\") + FName; }

private:
    QString FName;
};

class TWinTaskFolder {
public:
    TWinTaskFolder(std::shared_ptr<platform::ITaskService> service, QString path, TClockPtr clock);

    // Lists the tasks and subfolders; the stored error code (0 after
    // success). A task whose definition cannot be read is listed with an
    // empty definition; its error is stored without ending the listing.
    quint32 Refresh();
    int IndexOfTask(const QString& name) const;
    bool DeleteTask(const QString& name);
    // Registers the definition and lists the folder again; the task's
    // index, -1 on failure (error stored).
    int RegisterTask(
        const QString& taskName, TWinTask& task, const QString& userName, const QString& password);
    int IndexOfFolder(const QString& name) const;
    int CreateFolder(const QString& name);
    bool DeleteFolder(const QString& name);

    quint32 ErrorCode() const { return FErrorCode; }
    QString ErrorMessage() const { return FErrMsg; }
    QString FolderName() const;
    QString FolderPath() const { return FPath; }
    int FolderCount() const { return FNumFolders; }
    int NumberOfTasks() const { return FNumTasks; }
    int TaskCount() const { return FNumTasks; }
    TWinRegisteredTask& Tasks(int i) const { return *FTasks.at(std::size_t(i)); }
    TWinTaskSubFolder& Folders(int i) const { return *FFolders.at(std::size_t(i)); }

private:
    void ClearError();
    void StoreError(const platform::ETaskServiceError& e);

    std::shared_ptr<platform::ITaskService> FService;
    QString FPath;
    TClockPtr FClock;
    int FNumTasks = 0;
    int FNumFolders = 0;
    std::vector<std::unique_ptr<TWinRegisteredTask>> FTasks;
    std::vector<std::unique_ptr<TWinTaskSubFolder>> FFolders;
    QString FErrMsg;
    quint32 FErrorCode = 0;
};

class TWinTaskScheduler {
public:
    explicit TWinTaskScheduler(std::shared_ptr<platform::ITaskService> service, TClockPtr clock = nullptr);

    // Connects and lists the folder: 0, or a negative status.
    quint32 Init();
    quint32 Refresh();
    // A new, unregistered definition; the caller owns it.
    std::unique_ptr<TWinTask> NewTask();
    // Whether the task service runs (a reachable user manager).
    static bool IsRunning(platform::ITaskService& service) { return service.IsRunning(); }

    QString Path() const { return FFolder; }
    void SetPath(const QString& path);
    TWinTaskFolder* TaskFolder() const { return FTaskFolder.get(); }
    const std::shared_ptr<platform::ITaskService>& Service() const { return FService; }

private:
    std::shared_ptr<platform::ITaskService> FService;
    TClockPtr FClock;
    QString FFolder = QStringLiteral("\\");
    std::unique_ptr<TWinTaskFolder> FTaskFolder;
    quint32 FResult = 0;
};

// Marvick's start of the scheduler (once, when its window is created):
// the checks of the service, then a scheduler handed to the caller and its
// Init's result. No reachable user manager gives
// platform::kTaskServiceNotRunning and no scheduler. service null: the
// computer's own (CoTaskScheduler_::Create).
quint32 StartTaskScheduler(std::unique_ptr<TWinTaskScheduler>& scheduler,
    std::shared_ptr<platform::ITaskService> service = nullptr, TClockPtr clock = nullptr);

} // namespace kes
