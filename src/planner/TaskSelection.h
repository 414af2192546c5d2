// The scheduled-task selection dialog without its widgets: the rows of the
// tasks whose program matches a filter, their sorting, the details and
// triggers of the selected task, run / stop / enable / delete, the status
// poll and the dialog's result.
#pragma once

#include "planner/WinTask.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace kes {

enum class TSelectColumn { scName = 0, scStatus = 1, scLastRun = 2, scNextRun = 3 };

struct TSelectRow {
    int FolderIndex = -1;
    QString Name;
    QString Status;
    QString LastRun; // "Not yet run" when never
    QString NextRun;
    QDateTime LastRunTime; // invalid when never
    QDateTime NextRunTime;
    int LastResult = 0;
};

struct TSelectDetails {
    QString Caption; // "Properties of task: " + name
    QString Application;
    QString Parameters;
    QString WorkingDirectory;
    QString Description;
    QString Creator;
    QString Created;
    QString UserAccount;
    QStringList Triggers; // "1: " + the trigger's text ...
};

struct TSelectStatusControls {
    bool ToggleEnabled = false;
    bool ToggleOn = false;
    bool RunEnabled = false;
    bool RunStops = false; // the run button stops ("Stop task")
};
TSelectStatusControls StatusControls(TWinTaskStatus status);

class TSelectSchedTaskModel {
public:
    // Asks the user (Yes true).
    using TConfirm = std::function<bool(const QString&)>;
    using TMessage = std::function<void(const QString&)>;

    TSelectSchedTaskModel(TWinTaskScheduler& scheduler, QString filter, TConfirm confirm, TMessage message);

    // "Select Scheduled Task (<title>)".
    static QString Caption(const QString& title);

    // Lists the folder again (newListing) or only rebuilds the rows; keeps
    // the sort order; the number of rows. The selected row stays when the
    // listing is kept, else the first one is selected.
    int Fill(bool newListing);
    const std::vector<TSelectRow>& Rows() const { return FRows; }
    int SelectedRow() const { return FSelectedRow; }
    void SelectRow(int row);
    int SelectedTaskIndex() const { return FSelectedTaskIndex; }
    bool Changed() const { return FChanged; }

    // Header click: the same column reverses, another starts ascending for
    // "Name" and descending for the others.
    void SortBy(TSelectColumn column);
    TSelectColumn SortColumn() const { return FSortColumn; }
    bool SortDescending() const { return FDescending; }
    // The list's tag: column + 16 for descending.
    int SortTag() const { return int(FSortColumn) + (FDescending ? 16 : 0); }

    TSelectDetails Details() const;
    TWinTaskStatus SelectedStatus() const;
    TSelectStatusControls Controls() const { return StatusControls(SelectedStatus()); }

    // The toggle: enables or disables the selected task.
    void SetEnabled(bool enabled);
    // The run button: asks, then runs a ready task or stops a running one.
    void RunOrStop();
    // "Delete selected task?": true when the dialog must close (no row left).
    bool DeleteSelected();
    // One tick of the status poll: true when a status changed (the rows
    // were rebuilt).
    bool Poll();

    // "No task selected - rectify?" on OK without a selection: true keeps
    // the dialog open.
    bool KeepOpenOnOk();
    // The dialog's end: taskIndex, trgIndex (after OK: -1 without
    // triggers, else the selected line, 0 when none) and the result (Yes
    // after a deletion or without selection, else the dialog's own).
    int Finish(int dialogResult, int selectedTrigger, int& taskIndex, int& trgIndex) const;

private:
    void Sort();
    // Errors of the service on reading a task are shown, not raised.
    template <class F> bool Guard(F f);

    TWinTaskScheduler& FScheduler;
    QString FFilter;
    TConfirm FConfirm;
    TMessage FMessage;
    std::vector<TSelectRow> FRows;
    std::vector<TWinTaskStatus> FLastStatus;
    int FSelectedRow = -1;
    int FSelectedTaskIndex = -1;
    bool FChanged = false;
    TSelectColumn FSortColumn = TSelectColumn::scName;
    bool FDescending = false;
};

} // namespace kes
