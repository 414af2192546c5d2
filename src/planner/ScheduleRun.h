// A scheduled run of Marvick: started with a schedule name, it decides which
// backup is due today, starts the main backup program with the matching mode
// and folder, reports, stores the schedule's new rotation state and ends.
//
// TScheduleRun is widget-free. Its seams:
//   - a clock that gives today's date,
//   - a launcher that starts the main program (StartProgramAndWait),
//   - a reporter that shows messages or writes events.
// so tests drive whole rotations day by day without waiting.
#pragma once

#include "frame/Clock.h"
#include "planner/SchedTask.h"
#include "planner/ScheduleEvents.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <functional>

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
};

// Examines the arguments (without the program) in order: "ini" with a
// value, "delay" with a value, "interactive", "dark"; any other switch goes
// to OtherOptions, a plain argument is the schedule name.
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

    // Reads the schedules from the settings file. A file that exists but
    // cannot be read is remembered and reported by CheckSchedule.
    void LoadSchedules();
    void SetSchedules(const TSchedules& schedules) { m_schedules = schedules; }
    const TSchedules& Schedules() const { return m_schedules; }

    // True: done, end the program without showing the main window.
    bool CheckSchedule();
    // Evaluates and runs schedule `index` with the options for the main
    // program.
    void RunSchedule(int index, const QString& options);

    // An error was reported (shown or written as an error event).
    bool HadError() const { return m_hadError; }
    const TMarvickContext& Context() const { return m_context; }

private:
    bool ReportsQuietly(const TSchedTask& s) const;
    void Report(const TSchedTask& s, quint32 result, const char* kindText, int step);
    void Error(const QString& text);
    void Event(quint32 id, TEventType type, const QStringList& strings);
    bool ScheduleIsUsable(const TSchedTask& s);
    quint32 Start(const TSchedTask& s, const QString& kindSwitch, const QString& folder,
        const QString& options, bool wait);

    TMarvickContext m_context;
    IScheduleReporter& m_reporter;
    TClockPtr m_clock;
    TLauncher m_launcher;
    TSchedules m_schedules;
    QString m_loadError;
    bool m_hadError = false;
};

} // namespace kes
