// TMainWindowController: what Selwand's main window does, without widgets.
//
// The window's widgets only bind to this class and to the monitoring
// controller it drives: the task list model, the shown task (ShowTask,
// ClearTaskDisplay), the checks when the window is shown, adding, removing
// and editing tasks, the previous-versions counter, the interval editor,
// "Keep running in background" and the quit button, the start button,
// start on logon, the info panel's texts and the closing rules. Messages
// to show arrive through MessageShown (the window shows them in its
// message box; tests record them).
//
// Editing a task file starts the main program with "edit" and waits for
// it through a 100 ms timer, not in a loop of its own, so the window, the
// timer of the monitoring and the tray stay alive; Editing() is true
// meanwhile and the edit button is disabled.
#pragma once

#include "frame/MessageKind.h"
#include "frame/WinExecute.h"
#include "watchdog/TaskFile.h"
#include "watchdog/TaskListModel.h"
#include "watchdog/WatchdogSettings.h"

#include <QList>
#include <QObject>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>

namespace kes {

class TMonitorController;
class TMonTask;

// The right-hand part of the window: the shown task.
struct TTaskDisplay {
    QString TaskFile;
    QString Destination;
    QString Method; // "Method: " + the layout text
    QString Compression; // "Compress files as gz" / "... as zip" / "No compression"
    int RetainBak = 0;
    bool HasTask = false; // a task is shown (version counter and filter button usable)
    bool EditEnabled = false; // "Edit backup task": only for a task whose run status is rsOff
};

// The quit button: image 0 "Quit program and save settings", image 1
// "Move program to background".
struct TQuitButton {
    int Image = 0;
    QString Hint;
};

// What a click on the start button led to.
enum TStartResult {
    srNothing, // monitoring could not start (the message was shown)
    srStarted, // monitoring started; the window stays
    srToBackground, // monitoring started and the window goes into the background
    srInstantBackup, // monitoring ran: an immediate backup was asked for
};

// The check of a chosen task file ("Add directory", step 2).
struct TTaskFileCheck {
    int Result = 0; // CheckTaskFile's result
    QString Message; // for results 1, 2, 3
    QList<TTaskSource> Sources; // the usable source directories (result 0)
};

// The window's place: saved [Config] values brought onto the screens.
// Sizes are client sizes; a height below the designed 590 is raised to it.
// A window whose title bar would lie on no screen is moved onto the
// primary one, and a window larger than the screen it is on is made to
// fit. Top/Left -1 (never saved) centres the window on the primary screen.
QRect PlaceWindow(const TWatchdogConfig& config, const QList<QRect>& screens, int primary = 0);

class TMainWindowController : public QObject {
    Q_OBJECT
public:
    explicit TMainWindowController(TMonitorController& monitor, QObject* parent = nullptr);
    ~TMainWindowController() override;

    TMonitorController& Monitor() { return FMonitor; }
    TTaskListModel& TaskModel() { return FModel; }

    // --- The shown task
    int Selected() const { return FSelected; }
    // Selects and shows a task (ShowTask); -1 or an empty list clears the
    // display.
    void Select(int index);
    const TTaskDisplay& Display() const { return FDisplay; }
    void ShowTask(int index);
    void ClearTaskDisplay();
    TMonTask* SelectedTask() const;

    // --- Showing the main window: every task is checked again (task file,
    // directory, settings) and the first task is selected.
    void CheckTasksOnShow();

    // --- "Add directory"
    // The folder the file dialog starts in: the folder of the shown task
    // file, else JobDir.
    QString AddDialogFolder() const;
    TTaskFileCheck CheckNewTaskFile(const QString& fileName) const;
    // The title and description of the source selection dialog.
    static QString SelectSourceTitle();
    static QString SelectSourceDescription(const QString& fileName);
    // Creates the task, reads its settings and appends it (selected, shown);
    // false when its settings cannot be read (the reason is logged).
    bool AddTask(const QString& fileName, const QString& dir);

    // --- "Remove directory"
    bool RemoveEnabled() const;
    static QString RemoveQuestion();
    // Removes the selected task and selects the one at its place (or the
    // last one).
    bool RemoveSelected();

    // --- "Edit backup task"
    bool EditEnabled() const { return FDisplay.EditEnabled && !Editing(); }
    bool Editing() const { return FEditing; }
    // Starts the main program with the task file and "edit"; returns at
    // once. EditFinished follows when the program has ended (or could not
    // be started).
    void EditSelected();

    // --- The shown task's settings
    void SetRetainBak(int value);
    void SetIntervalUnit(TIntervalUnit unit);
    void SetIntervalValue(int value);
    void SetPeriodic(bool on);

    // --- Start and background
    TStartResult StartClicked();
    // The "force" switch at the end of start-up: true when monitoring
    // started and the window goes into the background at once.
    bool CheckForce();
    bool KeepRunning() const;
    void SetKeepRunning(bool on);
    TQuitButton QuitButton() const;

    // --- Closing. "Quit": with "Keep running in background" the window
    // goes into the background at once (true); otherwise monitoring stops
    // first and CloseReady follows when the final pass is over (false).
    bool QuitClicked();
    // "Quit monitoring" of the tray: stop, then CloseReady; the program
    // ends.
    void QuitMonitoring();
    // What closing does in any case: saves the settings.
    void Closing();

    // --- Start on logon (the autostart entry, hide and force)
    QString AutostartPath() const { return FAutostartPath; }
    void SetAutostartPath(const QString& path) { FAutostartPath = path; }
    bool StartOnLogon() const;
    // Start-up step: an existing entry is written again, so that it names
    // the running program. A failure is logged.
    void RefreshStartOnLogon();
    // The menu item: checking writes the entry when missing, unchecking
    // removes it. False with the message (shown by MessageShown as well)
    // when it failed; the item then shows the entry's real state.
    bool SetStartOnLogon(bool on);

    // --- The info panel of the tray
    // "Directories to be monitored" and one line per watched, enabled task,
    // or "The monitoring is not active!".
    QString MonitorInfoText() const;
    // For each task in list order each pending file as "NN: name"; "No
    // files" when FileCount is 0.
    QStringList ListChangedFiles() const;

    // The window's default client size (DHeight x DWidth).
    static QSize DesignSize() { return {kDesignWidth, kDesignHeight}; }

signals:
    void MessageShown(kes::TMessageKind kind, const QString& text);
    void DisplayChanged();
    void EditStateChanged();
    void EditFinished();
    void CloseReady();

private:
    void Message(TMessageKind kind, const QString& text);
    void PollEdit();
    void EndEdit(quint32 result);
    void OnStateChanged();
    void OnStopped();
    QString AddTaskMessage(int result, const QString& fileName) const;

    TMonitorController& FMonitor;
    TTaskListModel FModel;
    TTaskDisplay FDisplay;
    int FSelected = -1;
    bool FEditing = false;
    TMonTask* FEditTask = nullptr;
    ProcessHandle FEditProcess;
    QTimer FEditPoll;
    bool FCloseAfterStop = false;
    QString FAutostartPath;
};

} // namespace kes
