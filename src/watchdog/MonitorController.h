// TMonitorController: Selwand's monitoring, without a window.
//
// It holds what the main window holds besides its controls: the list of
// monitor tasks, the settings, the one-second tick, the backup passes, the
// destination warnings, the log and the texts and states a window or a
// notification-area icon shows. A window, the tray and the console only
// bind to it: what they would show arrives through signals (LogAdded,
// MessageShown, StateChanged, TrayIconChanged) and the View() record.
// Everything runs in the thread that owns the object (the main thread);
// watchers report by queued calls, backup threads by queued calls they wait for,
// so the event loop must run (tests call Tick() by hand).
//
// Data flow of one change: inotify -> TDirectoryWatch (own thread) ->
// FileChanged (filters, pending list) -> Tick counts down -> StartBackups
// hands a copy of each pending list to a TBackupThread -> each file's
// report comes back to AddLog (window log, daily log file) -> SaveSettings.
//
// Beyond the plain design:
// - Watcher errors are written to the log. After lost changes (1022) the
//   task's directory is searched for files changed since the last pass
//   began (or monitoring started), and those the task selects become
//   pending. A watcher whose thread ended (its directory went away) is
//   started again at a later tick once the directory is back, with the
//   same search; both are logged.
// - A pass does not start a second backup thread for a task whose previous
//   one still runs: that task's files stay pending for the next pass. A
//   waiting pass (stopping monitoring) waits for such a thread first, so
//   that nothing stays behind.
// - Only tasks that were started (that have a watcher) take part in a
//   pass, so FileCount stays the count of their pending files.
// - Nothing is lost by a crash: the files handed to a backup thread stay in
//   the saved pending list until their copy is in place or failed for good
//   (TMonTask::InFlight; the progress is saved at most once per second), a
//   copy that failed for a cause that can heal stays pending, and the next
//   start searches each task's directory for changes made since the last
//   saved state (TMonTask::CheckedUntil).
// - A destination whose medium went away (it now lies on another file
//   system than at its last pass) counts as not available; names below the
//   task's own destination are never collected.
// - Stopping does not wait in a loop of its own: StopMonitoring begins the
//   final pass and returns; MonitoringStopped() tells when it is over.
// - One instance per settings file (LockSettings).
#pragma once

#include "frame/Clock.h"
#include "frame/MessageKind.h"
#include "frame/ProgramPaths.h"
#include "frame/Version.h"
#include "watchdog/BackupThread.h"
#include "watchdog/MonTask.h"
#include "watchdog/WatchdogLog.h"
#include "watchdog/WatchdogSettings.h"

#include <QDateTime>
#include <QLockFile>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <future>
#include <memory>
#include <vector>

namespace kes {

// What start-up gives the monitoring.
struct TSelwandSetup {
    TSettingsLocation Location; // folders and files (LocateSettings)
    QString LanguageCode;
    QStringList Arguments; // the program's arguments (switches)
    TClockPtr Clock; // null: the system clock
};

// The texts and states a window and a notification-area icon show.
struct TMonitorView {
    QString FileCountText; // "No files", "1 file", "12 files"
    QString NextBackup; // the "Next backup" text; empty while not monitoring
    QString TipText; // the icon's tip
    bool StartEnabled = true; // start button: start monitoring / immediate backup
    QString StartHint;
    bool StopEnabled = false;
    bool RemoveEnabled = true; // "Remove directory"
    bool PeriodicEnabled = true; // "Enable periodic backups"
    bool NotScheduledVisible = true;
    bool ShowFilesVisible = false;
    bool ClockVisible = false;
    int ClockPosition = 0; // BuInterval - TimeCount
    bool ClockHasFiles = false; // red hand instead of a green one
    QString TrayMonitorItem; // "Start monitoring" / "Stop monitoring"
    bool TrayInstantEnabled = false; // "Start immediate backup"
    bool Stopping = false; // the final pass of stopping runs: start and stop wait for its end
};

class TMonitorController : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxLogLines = 10000;
    // From this many pending names on, the saves of a pass are written on
    // another thread (SaveSettingsInBackground).
    static constexpr qsizetype kBackgroundSaveNames = 2000;

    explicit TMonitorController(TSelwandSetup setup, QObject* parent = nullptr);
    // Stops watching and waits for running backup threads (no final pass).
    ~TMonitorController() override;

    // One instance per settings file: takes the lock beside Selwand.ini
    // ("Selwand.ini.lock") for the life of the controller. False, with the
    // text to show, when another process holds it. A lock that cannot be
    // made (a folder without write access) is logged and not held.
    bool LockSettings(QString& message);
    // Start-up as far as it is no drawing: version and caption, Selwand.ini,
    // the switches, Kesmo.ini, the log folder, the interval editor.
    void Load();
    // False: StartMonitoring does not start the one-second timer; the owner
    // (a test) calls Tick() itself.
    void SetAutoTick(bool on) { FAutoTick = on; }
    // For tests and benchmarks: given to every watcher this controller
    // starts (see TDirectoryWatch::SetThreadHook).
    void SetWatchThreadHook(std::function<void()> hook) { FWatchHook = std::move(hook); }
    // For tests: given to every backup thread (see TBackupThreadExtras).
    void SetBackupStepHook(std::function<void(TBackupStep, const QString&)> hook)
    {
        FBackupStepHook = std::move(hook);
    }

    // --- Monitor tasks
    const std::vector<std::unique_ptr<TMonTask>>& Tasks() const { return FTasks; }
    // Appends a task (the window's "Add directory"); it joins at the next
    // start of monitoring.
    void AppendTask(std::unique_ptr<TMonTask> task);
    // Removes the task at index (the window's "Remove directory"); refused
    // (false) while monitoring runs or a backup thread of any task still
    // exists, since threads report by task position.
    bool RemoveTask(int index);
    bool CanRemoveTasks() const;
    // "Enable periodic backups": the interval editor's flag, and BuInterval
    // from it while monitoring does not run (a running monitoring keeps its
    // interval until it is started again).
    void SetPeriodic(bool on);
    // The list text of a task: its two-digit position, ": " and Dir.
    QString TaskText(int index) const;

    // --- Monitoring
    // True when at least one task is checked; monitoring then runs.
    bool StartMonitoring();
    // Stops watching and begins the final pass for pending files; returns at
    // once. When the pass is over the settings are saved and
    // MonitoringStopped() is emitted (at once when monitoring did not run).
    // Until then Stopping() is true and starting again is refused.
    void StopMonitoring();
    bool Monitoring() const { return FMonitoring; }
    bool Stopping() const { return FStopping; }
    // The handler of every watcher's notifications.
    void FileChanged(TDirectoryWatch* watcher, int chgNotId, TWatchAction action, const QString& fileName);
    // The one-second tick.
    void Tick();
    // One backup pass: a backup thread for each started task with pending
    // files whose destination is available. It does not wait for them; the
    // final pass of stopping is waited for by the stop (MonitoringStopped).
    void StartBackups();
    void WarnDestination(int threshold);
    // The start button / tray item while monitoring runs.
    void RequestInstantBackup();

    QString NextBackupText() const { return NextBackupText(FBuInterval, FTimeCount); }
    // "on demand" without periodic passes, else the time left: "1 h30 m",
    // "59 m", "9 m 59 s", "59 s".
    static QString NextBackupText(int buInterval, int timeCount);
    static QString FileCountText(int count);
    // "Show files": each pending file of the enabled tasks as "NN: name",
    // or "No files".
    QStringList ShowFilesLines() const;

    // One line per task with its state, for the console at start.
    QStringList TaskStateLines() const;

    // --- Settings and log
    // Writes Selwand.ini; a failure is shown (MessageShown) and not raised.
    // While failures repeat, only the first is shown, the others logged.
    // Waits for a save still being written in the background first.
    void SaveSettings();
    // The saves of a backup pass: with kBackgroundSaveNames pending names
    // or more, written on another thread from a copy of what is saved, so
    // that the window does not stop while thousands of names are written;
    // the result is taken at the next event loop turn, and while one is
    // being written the next occasion saves again. Fewer names are saved
    // at once, as SaveSettings does.
    void SaveSettingsInBackground();
    // Waits for a save being written in the background and takes its
    // result (nothing when none runs).
    void CollectBackgroundSave();
    bool LastSaveFailed() const { return FSaveFailed; }
    // Each pending file (in flight included) as "NN: name".
    QStringList PendingLines() const;
    // The window log always, the daily log file while it is open.
    void AddLog(const QString& text);
    QStringList LogLines() const { return FLogLines; }
    void ClearLog() { FLogLines.clear(); }

    // --- State
    const TMonitorView& View() const { return FView; }
    QString Caption() const { return FCaption; }
    QString ProgVersName() const { return FVersion.ProgVersName; }
    QString IniName() const { return FSetup.Location.IniName; }
    QString KesPath() const { return FSetup.Location.KesPath; }
    QString KesmoIni() const { return FSetup.Location.KesmoIni; }
    QString LogDir() const { return FLogDir; }
    QString DriveId() const { return FDriveId; }
    QString NoCompress() const { return FNoCompress; }
    TWatchdogConfig& Config() { return FConfig; }
    TIntervalEditor& IntervalEditor() { return FInterval; }
    const TSelwandOptions& Options() const { return FOptions; }
    int BuInterval() const { return FBuInterval; }
    int TimeCount() const { return FTimeCount; }
    int FileCount() const { return FFileCount; }
    bool InstantBackup() const { return FInstantBackup; }
    bool UseDarkMode() const { return FOptions.Dark; }
    bool Force() const { return FOptions.Force; }
    bool GoStandby() const { return FGoStandby; }
    void SetGoStandby(bool on) { FGoStandby = on; }
    bool WLog() const { return FLog.WLog(); }
    QString LogFileName() const { return FLog.FileName(); }
    TTaskBarStatus TbStatus() const { return FTbStatus; }
    // Backup threads still running.
    int RunningBackups() const;

signals:
    void LogAdded(const QString& text);
    void MessageShown(kes::TMessageKind kind, const QString& text);
    void StateChanged();
    void TrayIconChanged(kes::TTaskBarStatus status);
    void MonitoringStopped();

private:
    struct TTaskRun {
        QDateTime LostAt; // when its watcher was found ended (system time)
        bool LossTold = false;
        QString DestPrefix; // names below the task's own destination begin with this
        bool DestInside = false;
        quint64 LimitHits = 0; // regular-expression limit hits already looked at
        bool LimitTold = false; // in this pass
    };

    QDateTime Now() const { return FSetup.Clock->CurrentDateTime(); }
    // " *** " + date time + " - " + NN + ": " for errors; without the stars
    // for other notes.
    QString Stamp(int index, bool error = true) const;
    void Message(TMessageKind kind, const QString& text);
    TMonTask* TaskOfWatcher(TDirectoryWatch* watcher, int* index = nullptr) const;
    // The task's selection, less the names below its own destination; logs
    // a regular expression's limit hit once per pass.
    bool Collects(int index, const QString& name);
    void NoteDestinationInside(int index);
    // False (with the reason in why) when the destination of task index
    // fell through to another file system since its last pass.
    bool DestinationOnItsFileSystem(int index, const QString& dest, QString& why);
    void FileDone(int index, const QString& name, TBackupOutcome outcome);
    TWatchdogSnapshot PrepareSave();
    void SaveDone(const QString& failure);
    void BackupThreadEnded();
    void AdvanceStop();
    void FinishStop();
    void WatcherError(TDirectoryWatch* watcher, int code, const QString& text);
    // Adds the files below the task's directory changed since `since` (less
    // marginMs) that the task selects; quiet: logged only when some were
    // added.
    void CatchUp(int index, const QDateTime& since, qint64 marginMs, bool quiet = false);
    void RestartEndedWatchers();
    bool FreeFinishedThreads();
    bool ThreadsRunning(bool onlyTasksWithFiles) const;
    void SetCheckedUntil(const QDateTime& when);
    void CloseLog();
    void SetStopped();
    void UpdateTexts();

    TSelwandSetup FSetup;
    std::vector<std::unique_ptr<TMonTask>> FTasks;
    std::vector<TTaskRun> FRuns; // per task while monitoring runs
    TWatchdogConfig FConfig;
    TIntervalEditor FInterval;
    TSelwandOptions FOptions;
    TProgramVersion FVersion;
    QString FCaption;
    QString FLogDir;
    QString FDriveId;
    QString FNoCompress;
    int FBuInterval = kDefaultInterval;
    int FTimeCount = 0;
    int FFileCount = 0;
    bool FInstantBackup = false;
    bool FGoStandby = false;
    bool FMonitoring = false;
    bool FStopping = false;
    enum TStopPhase { spNone, spWaitForThreads, spFinalPass };
    TStopPhase FStopPhase = spNone;
    bool FProgressDirty = false; // a pass finished with files since the last save
    bool FSaveFailed = false;
    std::unique_ptr<QLockFile> FLock;
    std::future<QString> FBackgroundSave; // a save being written on another thread
    bool FCollecting = false; // watcher notifications are taken
    bool FAutoTick = true;
    TTaskBarStatus FTbStatus = tbsOff;
    // The last pass began, or monitoring started (the system's time: it is
    // compared with the times of files).
    QDateTime FScanSince;
    TWatchdogLog FLog;
    QStringList FLogLines;
    TMonitorView FView;
    QTimer FTimer;
    QTimer FStopPoll;
    std::function<void()> FWatchHook;
    std::function<void(TBackupStep, const QString&)> FBackupStepHook;
};

} // namespace kes
