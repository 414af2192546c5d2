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
#include <QObject>
#include <QStringList>
#include <QTimer>
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
};

class TMonitorController : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxLogLines = 10000;

    explicit TMonitorController(TSelwandSetup setup, QObject* parent = nullptr);
    // Stops watching and waits for running backup threads (no final pass).
    ~TMonitorController() override;

    // Start-up as far as it is no drawing: version and caption, Selwand.ini,
    // the switches, Kesmo.ini, the log folder, the interval editor.
    void Load();
    // False: StartMonitoring does not start the one-second timer; the owner
    // (a test) calls Tick() itself.
    void SetAutoTick(bool on) { FAutoTick = on; }
    // For tests and benchmarks: given to every watcher this controller
    // starts (see TDirectoryWatch::SetThreadHook).
    void SetWatchThreadHook(std::function<void()> hook) { FWatchHook = std::move(hook); }

    // --- Monitor tasks
    const std::vector<std::unique_ptr<TMonTask>>& Tasks() const { return FTasks; }
    // Appends a task (the window's "Add directory"); it joins at the next
    // start of monitoring.
    void AppendTask(std::unique_ptr<TMonTask> task);
    // The list text of a task: its two-digit position, ": " and Dir.
    QString TaskText(int index) const;

    // --- Monitoring
    // True when at least one task is checked; monitoring then runs.
    bool StartMonitoring();
    // Stops watching, runs a final pass for pending files and waits for it,
    // saves the settings.
    void StopMonitoring();
    bool Monitoring() const { return FMonitoring; }
    // The handler of every watcher's notifications.
    void FileChanged(TDirectoryWatch* watcher, int chgNotId, TWatchAction action, const QString& fileName);
    // The one-second tick.
    void Tick();
    // One backup pass; with wait it returns when all backup threads ended.
    void StartBackups(bool wait);
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

    // --- Settings and log
    // Writes Selwand.ini; a failure is shown (MessageShown) and not raised.
    void SaveSettings();
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

private:
    struct TTaskRun {
        QDateTime LostAt; // when its watcher was found ended (system time)
        bool LossTold = false;
    };

    QDateTime Now() const { return FSetup.Clock->CurrentDateTime(); }
    // " *** " + date time + " - " + NN + ": " for errors; without the stars
    // for other notes.
    QString Stamp(int index, bool error = true) const;
    void Message(TMessageKind kind, const QString& text);
    TMonTask* TaskOfWatcher(TDirectoryWatch* watcher, int* index = nullptr) const;
    void WatcherError(TDirectoryWatch* watcher, int code, const QString& text);
    // Adds the files below the task's directory changed since `since` (less
    // marginMs) that the task selects; quiet: logged only when some were
    // added.
    void CatchUp(int index, const QDateTime& since, qint64 marginMs, bool quiet = false);
    void RestartEndedWatchers();
    bool FreeFinishedThreads();
    void WaitForBackupThreads(bool onlyTasksWithFiles);
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
    std::function<void()> FWatchHook;
};

} // namespace kes
