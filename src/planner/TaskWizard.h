// The scheduled-task wizard without its widgets: the kinds of task, the
// values of every page, how a task and one of its triggers are loaded into
// the pages and saved from them, the page navigation with its checks, and
// the whole run of the wizard (create, import, pick or edit a task) with
// the questions it asks through ITaskWizardUi.
//
// The dialogs in src/app/marvick/tasks show these values; tests drive the
// model directly with a scripted ITaskWizardUi.
#pragma once

#include "frame/Clock.h"
#include "planner/TaskCommandLine.h"
#include "planner/WinTask.h"

#include <QDateTime>
#include <QString>
#include <array>
#include <memory>

namespace kes {

// What distinguishes the kinds of task.
struct TKesActionInfo {
    const char* Marker; // the task's Data field
    const char* ActionText; // translate with Tr()
    const char* TaskLabel; // translate with Tr(); empty: none
    const char* NamePrefix; // of a new task's name
    const char* Extension; // of its task files; empty: none
    const char* FileFilterName; // translate with Tr(); empty: no files
    bool SettingsPage;
    bool TaskFieldWritable; // and the "Add backup task" button
    bool ErrorHandling; // the "Error handling" button
};
const TKesActionInfo& KesActionInfo(TKesAction kind);
QString KesActionText(TKesAction kind);
// The task field's label: Format("Tasks (%s):", ActionText) for the file
// kinds, the kind's own label for the others.
QString KesActionTaskLabel(TKesAction kind);
// "Windows Scheduled Task Wizard (<ActionText>)".
QString TaskWizardCaption(TKesAction kind);

// The trigger and settings options of the advanced settings dialog.
struct TAdvancedSettings {
    bool UseEndDate = false;
    bool RepeatTask = false;
    bool StopEndDuration = false;
    bool UseLimit = false;
    bool ReRun = false;
    bool PowerOnly = true;
    bool StopBattery = true;
    bool WakeUp = false;
    bool NetworkOnly = false;
    QDateTime EndDate;
    int MinutesLimit = 4320;
    int MinutesInterval = 60;
    int MinutesDuration = 480;
};

// A number with a unit list (hour(s), minute(s), seconds(s)) for the random
// delay and the delay of a trigger.
enum class TDelayUnit { duHours, duMinutes, duSeconds };
struct TDelayPair {
    bool Checked = false;
    TDelayUnit Unit = TDelayUnit::duSeconds;
    int Value = 30;
    int Maximum = 599;
    int Step = 10;

    // The unit chosen: its maximum, value and step.
    void ChooseUnit(TDelayUnit unit);
    // From seconds: hours for a multiple of 3600 or from 43200 on, seconds
    // for a value below 1800 that is no multiple of 60, else minutes.
    void SetSeconds(quint32 seconds);
    // The seconds, 0 when not checked.
    quint32 Seconds() const;
};
QString DelayUnitText(TDelayUnit unit);
// "Number of " + the unit text.
QString NumberOfHint(const QString& unitText);

// "Perform this task:"
enum class TStartKind { skDaily, skWeekly, skMonthly, skOneTime, skLogon, skWakeUp };
QString StartKindText(TStartKind kind);
// The sub-pages of the schedule page.
enum class TSchedulePage { spDaily, spWeekly, spMonthly, spOneTime, spEvent, spAccount };
TSchedulePage SchedulePageOf(TStartKind kind);

// The default event query of the wake-up trigger.
QString DefaultWakeUpQuery();
// The query as the text dialog shows it (a line break between "><") and
// back.
QString WakeUpQueryForEditing(const QString& query);
QString WakeUpQueryFromEditing(const QString& text);

// Every value the wizard's pages hold.
struct TTaskWizardPages {
    QString TaskName; // "Name of scheduled task:"
    TTaskCommandValues Command; // settings page (task field, options, INI file)
    QString WorkingDirectory; // "Start in (optional):"

    bool ScheduleEnabled = true;
    TStartKind StartKind = TStartKind::skDaily;
    QString Header; // "New schedule" or "1st Schedule" ...
    QDateTime Start; // every date and time picker
    bool EveryDay = true;
    int DaysInterval = 2; // 2..99
    int WeeksInterval = 1; // 1..99
    int WeekDays = 1; // bit 0 Monday ... bit 6 Sunday
    bool MonthlyOnDays = true; // "Days:", else "On:"
    quint32 MonthDays = 0; // bit n-1 day n, bit 31 "Last"
    int MonthWeeks = 1; // bit 0 First ... bit 4 Last
    int MonthWeekDays = 1; // bit 0 Monday ... bit 6 Sunday
    int Months = 0xFFF; // bit 0 January
    TDelayPair RandomDelay;
    bool Activate = true; // "Activate:" of the event page
    TDelayPair Delay;
    QString LogonAccount; // the account shown on the logon page
    QString Description;
    bool AsLoggedOnUser = true; // else "As any user with password"
    QString UserName;
    QString Password;
    bool HighestRunLevel = false;

    TAdvancedSettings AdvSet;
    QString WakeUpQuery; // wut
};

// Week day checks: unchecking the last one checks Monday again; months:
// January.
int ToggleWeekDay(int mask, int day, bool checked); // day 0 Monday
int ToggleMonth(int mask, int month, bool checked); // month 0 January
// Monday-first weekday bits to the task's Sunday-first ones and back.
int WeekDaysToTask(int mondayFirst);
int WeekDaysFromTask(int sundayFirst);

// The wizard's pages in order; navigation as the buttons do it.
enum class TWizardStep { wsSettings, wsSchedule, wsAccount };

// The kinds of an existing trigger the wizard can edit, and the one it
// makes from the start kind.
bool TriggerSupported(const TWinTaskTrigger& trigger);
TWinTaskTriggerType TriggerTypeOf(TStartKind kind, bool monthlyOnDays);

// A registration failure the user can mend (wrong account or password, a
// bad parameter): the low 16 bits of the code are 1326..1332 or 87.
bool IsRetryCode(quint32 code);

// A new task's name: control characters, double quotes and * / : < > ? \ |
// are refused.
bool IsValidTaskName(const QString& name);
// "Task Scheduler\r\n\"<name>\" contains invalid characters (...)!"
QString InvalidTaskNameMessage(const QString& name);

// What the wizard asks and shows. Every call blocks until answered.
class TTaskWizard;
class ITaskWizardUi {
public:
    virtual ~ITaskWizardUi() = default;
    virtual void Message(const QString& text) = 0;
    virtual bool Confirm(const QString& text) = 0;
    // The name of a new task (preset); false when cancelled.
    virtual bool AskTaskName(const QString& title, QString& name) = 0;
    // The selection dialog: a TModalResult; taskIndex and trgIndex as it
    // leaves them.
    virtual int SelectTask(const QString& title, TWinTaskScheduler& scheduler, const QString& filter,
        int& taskIndex, int& trgIndex)
        = 0;
    // Shows the wizard's pages on the wizard's values; true for "Done".
    virtual bool ShowWizard(TTaskWizard& wizard) = 0;
};

// Where the wizard runs: the running program, the user and the time.
struct TTaskWizardEnvironment {
    QString ProgramFile; // the running program's full file name
    QString UserName; // the current account
    TClockPtr Clock; // null: the system clock
};

class TTaskWizard {
public:
    explicit TTaskWizard(TTaskWizardEnvironment environment);
    ~TTaskWizard();

    void InitTaskScheduler(TWinTaskScheduler* scheduler) { FScheduler = scheduler; }
    bool IsAvailable() const { return FScheduler != nullptr; }
    TWinTaskScheduler* Scheduler() const { return FScheduler; }

    // The run of the wizard; a TModalResult. index -1 creates a task, -2
    // creates one from the task XML in the file task, 0 picks one in the
    // selection dialog, n > 0 edits the n-th task of the folder.
    int Execute(int index, int trgIndex, TKesAction kind, const QString& path, const QString& task,
        const QString& options, int& taskNr, int& trgNr, bool retry, ITaskWizardUi& ui);

    // The pages' values and state while the wizard is shown.
    TTaskWizardPages& Pages() { return FPages; }
    const TTaskWizardPages& Pages() const { return FPages; }
    TKesAction Kind() const { return FKind; }
    QString Path() const { return FPath; }
    bool ShowProgPage() const { return FShowProgPage; }
    TWizardStep Step() const { return FStep; }
    TSchedulePage CurrentPage() const;
    bool BackEnabled() const;
    bool NextIsDone() const { return FStep == TWizardStep::wsAccount; }
    // Puts the wizard on its first page (ShowWizard does it before showing).
    void Restart();
    // "Next": false when the page stays (a message was shown) or the wizard
    // ends with "Done" (finished becomes true).
    bool Next(ITaskWizardUi& ui, bool& finished);
    void Back();

    // "Command line parameters:": the options built without INI file,
    // leading blanks removed.
    QString FixedParameters() const;
    // Format("Disable %s on errors", action): the error button's hint, and
    // whether that button is enabled.
    bool ErrorHandlingEnabled() const;
    QString ErrorHandlingHint() const;
    // "Close after:" is enabled.
    bool CloseAfterEnabled() const;
    // The event page's caption for the start kind.
    QString EventCaption() const;
    // The account option chosen: logged-on user sets the current account.
    void ChooseAccount(bool asLoggedOnUser);
    // Files picked with "Add backup task", appended to the task field.
    void AddTaskFiles(const QStringList& files);
    // The folder the file dialog starts in.
    QString TaskFilesStartFolder() const;
    // The current account.
    QString CurrentAccount() const { return FEnv.UserName; }

    // Loading and saving, as Execute does them (tests use them directly).
    // Reset: the defaults of every page at the moment now.
    void ResetPages(const QDateTime& now);
    // Loads the task and its trigger trgIndex (-1 a new one). False with
    // the "not supported" message for a trigger the wizard cannot edit.
    bool LoadTask(TWinTask& task, const QString& taskName, int trgIndex, const QString& builtArguments,
        QString& unsupported);
    // Writes the pages into the task and its trigger trgIndex (-1 a new
    // one); trgIndex becomes the position of the written trigger. A
    // deletion failure of a replaced trigger gives its message in warning.
    void SaveTask(TWinTask& task, int& trgIndex, const QString& taskText, QString& warning) const;

private:
    QDateTime Now() const;
    QString ProgramDir() const;
    QString NewTaskArguments(const QString& task, const QString& options, QString& name) const;
    QString SavedArguments(const QString& taskText) const;
    int SaveAndRegister(TWinTask& task, const QString& taskName, bool isNew, int& taskNr, int& trgNr,
        const QString& taskText, ITaskWizardUi& ui);

    TTaskWizardEnvironment FEnv;
    TWinTaskScheduler* FScheduler = nullptr;
    TTaskWizardPages FPages;
    TKesAction FKind = TKesAction::paSchedule;
    QString FPath;
    bool FShowProgPage = true;
    TWizardStep FStep = TWizardStep::wsSettings;
    QString FLoadedArguments; // paStarter / paTavisk: kept as built or loaded
};

} // namespace kes
