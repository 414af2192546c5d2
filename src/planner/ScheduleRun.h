// A scheduled run of Marvick: started with a schedule name, it decides which
// backup is due today, starts the main backup program with the matching mode
// and folder, reports, stores the schedule's new rotation state and ends.
//
// TScheduleRun is widget-free. Its seams:
//   - a clock that gives today's date,
//   - a launcher that starts the main program (StartProgramAndWait),
//   - a reporter that shows messages or writes events.
// so tests drive whole rotations day by day without waiting.
//
// A run is made of named steps: the decision of the day's step (DecideStep,
// a pure function of the schedule, its state and the date), the start of
// the main program, the report and the store. Runs started together (timers
// often fire in the same minute) take turns: CheckSchedule holds the
// settings lock from reading the state to storing the new one, so of two
// starts of one schedule on one day one runs and the other finds the step
// done. Messages wait until the lock is released, so a dialog never keeps
// another run waiting.
#pragma once

#include "frame/Clock.h"
#include "planner/SchedTask.h"
#include "planner/ScheduleEvents.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace kes {

// Marvick's own command line.
struct TMarvickCommandLine {
    QString SchedName; // last plain argument
    QString OtherOptions; // every other switch: " " + QuoteIfNeeded(argument as typed)
    QString AltIni; // value of "ini" (unexpanded)
    bool UseAltIni = false;
    int Wait = 5; // seconds before information messages close by themselves
    bool IntAct = false;
    bool UseDarkMode = false;
    // "preview[:days]": print what the coming days' runs would start and
    // start nothing. PreviewDays -1: the value is not a day count.
    bool Preview = false;
    int PreviewDays = 0;
};

// Examines the arguments (without the program) in order: "ini" with a
// value, "delay" with a value, "interactive", "dark"; any other switch goes
// to OtherOptions, a plain argument is the schedule name. "preview" (not
// abbreviated) asks for the rotation preview.
TMarvickCommandLine ParseMarvickCommandLine(const QStringList& arguments);

// The options passed to the main program when Marvick got none of its own
// (DefaultRunOptions): " /hide /logmode:1", plus " /ini:<settings file>"
// with an alternative settings file.
QString DefOptions(const QString& iniName, bool useAltIni);

// How a run tells the user. Information messages close by themselves
// after waitSeconds; errors and confirmations wait for the user.
class IScheduleReporter {
public:
    virtual ~IScheduleReporter() = default;
    virtual void ShowInformation(const QString& text, int waitSeconds) = 0;
    virtual void ShowError(const QString& text) = 0;
    virtual bool ConfirmYesNo(const QString& text) = 0;
    virtual void WriteEvent(const TScheduleEvent& event) = 0;
};

// The day's step of a schedule, as DecideStep sees it.
enum class TStepAction {
    saWaitForFirstDay, // weekly, not begun, not its first day: nothing to run
    saRun,
};

struct TStepPlan {
    TStepAction Action = TStepAction::saRun;
    // Weekly: no full backup in this cycle yet. It is made up first, into
    // CatchUpFolder, and waited for.
    bool CatchUp = false;
    QString CatchUpFolder;
    QString Kind; // "full", "differential" or "incremental"
    QString Folder; // the backup folder of the day's step
    const char* KindText = nullptr; // "Full", "Differential", "Incremental" (untranslated)
    int Step = 0; // the step performed, 1 .. Cycles x Steps
    // The state stored after a successful start.
    int NextCyc = 0;
    int LastFull = 0;
};

// Decides the step of a schedule whose values a rotation can run with
// (Cycles and Steps at least 1, a weekly FirstDay 1..7) on the given day.
// runAgain repeats the previous step (the day's step was done and the user
// asked to run it again); it has no effect on a rotation not yet begun.
TStepPlan DecideStep(const TSchedTask& schedule, const QDate& today, bool runAgain);

// Why no rotation can run with the schedule's values (a hand-edited
// settings file): the message, or empty when it can run.
QString ScheduleProblem(const TSchedTask& schedule);

// Whether the day's step of the schedule was started already on that day.
bool StepDoneOnDay(const TSchedTask& schedule, const QDate& day);

// The state after a successful start of the planned step on the day.
void ApplyStepPlan(TSchedTask& schedule, const TStepPlan& plan, const QDate& day);

// Starts the program with the arguments; with wait it returns when the
// program has ended. Result codes as StartProgramAndWait.
using TLauncher = std::function<quint32(const QString& programPath, const QString& arguments, bool wait)>;

// What Marvick knows when its main window is created.
struct TMarvickContext {
    QString KesPath; // the main program, empty when not found
    QString IniName; // the settings file
    bool IsBatch = false; // nobody can see a dialog
    QString LanguageCode; // user-interface language (for day names)
    TMarvickCommandLine CommandLine;
};

class TScheduleRun {
public:
    // clock gives today's date (null: the system clock).
    TScheduleRun(TMarvickContext context, IScheduleReporter& reporter, TClockPtr clock, TLauncher launcher);
    ~TScheduleRun();
    TScheduleRun(const TScheduleRun&) = delete;
    TScheduleRun& operator=(const TScheduleRun&) = delete;

    // Reads the schedules from the settings file. A file that exists but
    // cannot be read is remembered and reported by CheckSchedule.
    void LoadSchedules();
    const TSchedules& Schedules() const { return FSchedules; }

    // Takes the settings lock, reads the schedules and runs the one named
    // on the command line. True: done, end the program without showing the
    // main window.
    bool CheckSchedule();

    // An error was reported (shown or written as an error event).
    bool HadError() const { return FHadError; }
    const TMarvickContext& Context() const { return FContext; }

private:
    class TDeferredReporter;

    bool CheckLoadedSchedule();
    // Evaluates and runs schedule `index` with the options for the main
    // program (the settings lock held).
    void RunSchedule(int index, const QString& options);
    bool AlreadyDone(const TSchedTask& s, bool& runAgain);
    void ReportWaiting(const TSchedTask& s);
    bool TaskFileIsThere(const TSchedTask& s);
    void Store(int index, const TSchedTask& s);
    bool ReportsQuietly(const TSchedTask& s) const;
    void Report(const TSchedTask& s, quint32 result, const char* kindText, int step);
    void Error(const QString& text);
    void Event(quint32 id, TEventType type, const QStringList& strings);
    bool ScheduleIsUsable(const TSchedTask& s);
    quint32 Start(const TSchedTask& s, const QString& kindSwitch, const QString& folder,
        const QString& options, bool wait);

    TMarvickContext FContext;
    std::unique_ptr<TDeferredReporter> FReporter;
    TClockPtr FClock;
    TLauncher FLauncher;
    TSchedules FSchedules;
    QString FLoadError;
    bool FHadError = false;
};

} // namespace kes
