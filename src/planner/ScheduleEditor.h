// The schedule list and editor of Marvick's main window, without widgets:
// the list's rows and columns, the editor's values and their rules (steps
// and weekday, LastWd), New/Add/Replace/Remove with Validate, the name
// check before a scheduled task is created and the command line that opens
// a backup task in the main program's editor. The window binds its
// controls to this; tests drive it directly.
#pragma once

#include "planner/SchedTask.h"
#include "planner/SchedulePreview.h"

#include <QAbstractTableModel>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace kes {

// Editor ranges.
inline constexpr int kMinCycles = 1;
inline constexpr int kMaxCycles = 499;
inline constexpr int kMinSteps = 2;
inline constexpr int kMaxSteps = 999;
inline constexpr int kMaxWeeklyTotal = 693; // 99 weeks
inline constexpr int kMaxTotal = 999;

// Mode choice "Full backup and": 0 differential, 1 incremental.
inline constexpr int kModeDifferential = 0;
inline constexpr int kModeIncremental = 1;

// The editor's values.
struct TScheduleEditorValues {
    QString Name;
    QString Task;
    int Cycles = 2;
    int Steps = kWeeklySteps;
    int WeekDay = 1; // index in "Start on:": 0 blank, 1 Monday .. 7 Sunday
    bool WeekDayEnabled = true;
    int Mode = kModeIncremental;
    bool Silent = false;
    int LastWd = 1; // weekday restored when the steps return to 7
};

// Where the window goes after a failed check.
enum class TEditorFocus { efNone, efName, efTask, efCycles, efSteps };

struct TValidation {
    int Code = 0; // 0 valid, 1 name, 2 task, 3 weekly total, 4 total
    QString Message;
    TEditorFocus Focus = TEditorFocus::efNone;
};

// Asks Yes/No; true for Yes.
using TConfirm = std::function<bool(const QString& text)>;

// The list view's columns.
enum TScheduleColumn { scName, scTask, scActive, scCycles, scSteps, scStart, scType, scColumnCount };

class TScheduleEditor {
public:
    TScheduleEditor() = default;

    TSchedules& Schedules() { return FSchedules; }
    const TSchedules& Schedules() const { return FSchedules; }
    void SetSchedules(TSchedules schedules);

    // Names of the scheduled tasks that run Marvick; sets the Active flags.
    void SetActiveTasks(const QStringList& names);
    const QStringList& ActiveTasks() const { return FActiveTasks; }

    // The texts of a list row.
    static QStringList ColumnTitles();
    QString CellText(int row, int column, const QString& languageCode = QString()) const;

    // Editor.
    const TScheduleEditorValues& Values() const { return FValues; }
    TScheduleEditorValues& Values() { return FValues; }
    // The schedule shown in the editor (a row chosen), -1 after New.
    int Shown() const { return FShown; }
    // Shows schedule `index` in the editor.
    void ShowSchedule(int index);
    // "New": the defaults.
    void Reset();
    // Steps changed: 7 enables the weekday and restores LastWd, any other
    // count disables it and shows the blank item.
    void SetSteps(int steps);
    // A weekday chosen in the list; the blank item gives Monday.
    void SetWeekDay(int index);
    // The fill of the list: the row to select after filling (the last one
    // when index is too large), -1 for an empty list (the editor then has
    // the defaults of New). The row's schedule is shown.
    int FillList(int index);

    // Validate(-1) for Add, Validate(selected row) for Replace.
    TValidation Validate(int index) const;

    // The operations; each returns the check's result and leaves the row
    // to select in `row` (unchanged when nothing changed).
    TValidation Add(int& row);
    // Without a selected row Replace and Remove do nothing.
    TValidation Replace(int& row, const TConfirm& confirm);
    bool Remove(int& row, const TConfirm& confirm);

    // The editor's values as a schedule (state of a new rotation).
    TSchedTask EditedSchedule() const;

    // Before a scheduled task is created for the name in the editor: the
    // message when the name holds a control character or one of
    // * ? < > : " / \ |, else empty (an empty name passes).
    QString CreateTaskNameError() const;

    // The command line that opens the task of schedule `index` in the main
    // program's editor (after the program path).
    QString EditTaskArguments(int index) const;

    // The folder the task selection starts in.
    QString TaskSelectFolder(const QString& jobDir) const;

    // The preview of the schedule as edited. When its rotation (cycles,
    // steps, weekday, mode) is that of the shown schedule, that schedule's
    // state counts (currentState true); otherwise a new rotation, as Add
    // and Replace begin it.
    QList<TPreviewRow> Preview(
        const QDate& first, int days, bool& currentState, const QString& languageCode = QString()) const;

private:
    void Recompute();

    TSchedules FSchedules;
    QStringList FActiveTasks;
    TScheduleEditorValues FValues;
    int FShown = -1;
};

// The list of schedules for a list view: one row per schedule in list
// order (row = schedule index), the columns of TScheduleColumn. Numbers
// sort as numbers (Qt::UserRole), texts case-insensitively.
class TScheduleListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TScheduleListModel(TScheduleEditor& editor, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The schedules changed (after Add, Replace, Remove, a new list).
    void Refresh();

    static constexpr int SortRole = Qt::UserRole;

private:
    TScheduleEditor& FEditor;
};

} // namespace kes
