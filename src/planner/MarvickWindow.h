// What Marvick's main window holds besides the editor: the settings file
// (loaded once, saved when the window closes), the caption, the scheduled
// tasks' connection and the Active flags. Widget-free.
#pragma once

#include "planner/ScheduleEditor.h"
#include "planner/WinTask.h"

#include <QString>
#include <memory>

namespace kes {

struct TMarvickWindowSetup {
    QString IniName; // the settings file
    QString JobDir; // default folder of task files
    QString KesPath; // the main program, empty when not found
    QString ProgramPath; // Marvick's own program file
    bool UseAltIni = false;
    QString LanguageCode;
    int DefaultTop = 100;
    int DefaultLeft = 100;
};

class TMarvickWindowController {
public:
    explicit TMarvickWindowController(TMarvickWindowSetup setup);
    ~TMarvickWindowController();

    // Reads the settings file. A file that exists but cannot be read gives
    // the message (an empty list), and the window's save then leaves the
    // file alone so that nothing of it is lost.
    QString Load();
    // Writes the whole file with the window's position. Runs that stored
    // their state while the window was open keep it: a schedule the window
    // did not add or replace takes the state the file holds now. Empty or
    // the message.
    QString Save(int top, int left);

    TScheduleEditor& Editor() { return FEditor; }
    const TMarvickWindowSetup& Setup() const { return FSetup; }
    int Top() const { return FTop; }
    int Left() const { return FLeft; }
    QString JobDir() const { return FJobDir; }
    QString DefOptions() const;

    // "Configure backup schedules" + bitness + " (" + version + ")".
    static QString Caption();

    // Connects to the task service (null: the computer's own). 0, or the
    // status whose text StartText gives.
    quint32 StartScheduler(
        std::shared_ptr<platform::ITaskService> service = nullptr, TClockPtr clock = nullptr);
    TWinTaskScheduler* Scheduler() const { return FScheduler.get(); }
    bool SchedulerAvailable() const { return FScheduler != nullptr && FSchedulerStatus == 0; }
    quint32 SchedulerStatus() const { return FSchedulerStatus; }
    // Looks again after the scheduled-task dialogs: lists the tasks anew
    // while the service is there; a service that has gone makes the
    // scheduler unavailable (false, SchedulerStartMessage tells why).
    bool RefreshScheduler();
    // The message of a failed start: program, bitness, version and the
    // scheduler's start text.
    QString SchedulerStartMessage() const;
    // Why the scheduled-task buttons are disabled (empty when they are not).
    QString SchedulerDisabledHint() const;

    // The names of the scheduled tasks set the Active flags.
    void SetActiveTasks(const QStringList& names) { FEditor.SetActiveTasks(names); }

    // The command line that opens schedule `index`'s task for editing in
    // the main program, with the program; empty without a main program.
    QString EditTaskCommandLine(int index) const;

private:
    TMarvickWindowSetup FSetup;
    TScheduleEditor FEditor;
    TSchedules FLoaded; // as read, to tell what the window changed
    int FTop = 0;
    int FLeft = 0;
    QString FJobDir;
    bool FLoadFailed = false;
    std::unique_ptr<TWinTaskScheduler> FScheduler;
    quint32 FSchedulerStatus = 0;
};

} // namespace kes
