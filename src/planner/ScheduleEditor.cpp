#include "planner/ScheduleEditor.h"

#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/MainProgram.h"
#include "frame/WinExecute.h"
#include "planner/ScheduleRun.h"

#include <QFileInfo>
#include <QLocale>

namespace kes {

namespace {

const QString kInvalidTaskNameChars = QStringLiteral("*?<>:\"/\\|");

QString ShortDayName(int isoDay, const QString& languageCode)
{
    if (isoDay < 1 || isoDay > 7)
        return QString();
    const QLocale locale = languageCode.isEmpty() ? QLocale() : QLocale(languageCode);
    return locale.dayName(isoDay, QLocale::ShortFormat);
}

} // namespace

void TScheduleEditor::SetSchedules(TSchedules schedules)
{
    FSchedules = std::move(schedules);
    Recompute();
}

void TScheduleEditor::SetActiveTasks(const QStringList& names)
{
    FActiveTasks = names;
    Recompute();
}

void TScheduleEditor::Recompute()
{
    UpdateActive(FSchedules, FActiveTasks);
}

QStringList TScheduleEditor::ColumnTitles()
{
    return {_("Name"), _("Task"), QString(), _("Cycles"), _("Steps"), _("Start"), _("Type")};
}

QString TScheduleEditor::CellText(int row, int column, const QString& languageCode) const
{
    if (row < 0 || row >= FSchedules.size())
        return QString();
    const TSchedTask& s = FSchedules[row];
    switch (column) {
    case scName:
        return s.SName;
    case scTask:
        return QFileInfo(s.Task).fileName();
    case scActive:
        return s.Active ? QStringLiteral("A") : QString();
    case scCycles:
        return QString::number(s.Cycles);
    case scSteps:
        return QString::number(s.Steps);
    case scStart:
        return ShortDayName(s.FirstDay, languageCode);
    case scType:
        return s.Diff ? _("Diff") : _("Incr");
    default:
        return QString();
    }
}

void TScheduleEditor::ShowSchedule(int index)
{
    if (index < 0 || index >= FSchedules.size())
        return;
    const TSchedTask& s = FSchedules[index];
    FShown = index;
    FValues.Name = s.SName;
    FValues.Task = s.Task;
    FValues.Cycles = s.Cycles;
    FValues.Mode = s.Diff ? kModeDifferential : kModeIncremental;
    FValues.WeekDayEnabled = s.IsWeekly();
    // A hand-edited day outside the list shows the blank item.
    FValues.WeekDay = s.IsWeekly() && s.FirstDay >= 1 && s.FirstDay <= 7 ? s.FirstDay : 0;
    FValues.LastWd = s.FirstDay >= 1 && s.FirstDay <= 7 ? s.FirstDay : 1;
    FValues.Steps = s.Steps;
    FValues.Silent = s.Silent;
}

void TScheduleEditor::Reset()
{
    FShown = -1;
    FValues = TScheduleEditorValues {};
}

void TScheduleEditor::SetSteps(int steps)
{
    FValues.Steps = steps;
    if (steps == kWeeklySteps) {
        FValues.WeekDayEnabled = true;
        FValues.WeekDay = FValues.LastWd;
    } else {
        FValues.WeekDayEnabled = false;
        FValues.WeekDay = 0;
    }
}

void TScheduleEditor::SetWeekDay(int index)
{
    FValues.WeekDay = index >= 1 && index <= 7 ? index : 1;
}

int TScheduleEditor::FillList(int index)
{
    if (FSchedules.isEmpty()) {
        Reset();
        return -1;
    }
    const int row = qBound(0, index, int(FSchedules.size()) - 1);
    ShowSchedule(row);
    return row;
}

TValidation TScheduleEditor::Validate(int index) const
{
    const TScheduleEditorValues& v = FValues;
    if (v.Name.isEmpty())
        return {1, _("Please specify a name for this schedule!"), TEditorFocus::efName};
    for (int i = 0; i < FSchedules.size(); ++i) {
        if (i != index && FSchedules[i].SName.compare(v.Name, Qt::CaseInsensitive) == 0)
            return {1, _("Please select a unique name for this schedule!"), TEditorFocus::efName};
    }
    // A folder is not a task file.
    const QFileInfo task(v.Task);
    if (v.Task.isEmpty() || !task.exists() || task.isDir())
        return {2, _("Please select a valid backup task!"), TEditorFocus::efTask};
    const qint64 total = qint64(v.Cycles) * qint64(v.Steps);
    if (v.Steps == kWeeklySteps && total > kMaxWeeklyTotal)
        return {3, SafeFormat(_("The total number of steps exceeds the maximum of %u!"), {kMaxWeeklyTotal}),
            TEditorFocus::efCycles};
    if (v.Steps != kWeeklySteps && total >= kMaxTotal + 1)
        return {4, SafeFormat(_("The total number of steps exceeds the maximum of %u!"), {kMaxTotal}),
            TEditorFocus::efSteps};
    return {};
}

TSchedTask TScheduleEditor::EditedSchedule() const
{
    const TScheduleEditorValues& v = FValues;
    TSchedTask s;
    s.SName = v.Name;
    s.Task = v.Task;
    s.Cycles = v.Cycles;
    s.Steps = v.Steps;
    s.FirstDay = v.WeekDayEnabled ? v.WeekDay : 0;
    s.Diff = v.Mode == kModeDifferential;
    s.Silent = v.Silent;
    s.NextCyc = 0;
    s.LastFull = 0;
    s.LastDay = 0;
    return s;
}

TValidation TScheduleEditor::Add(int& row)
{
    const TValidation v = Validate(-1);
    if (v.Code != 0)
        return v;
    FSchedules.append(EditedSchedule());
    Recompute();
    row = int(FSchedules.size()) - 1;
    FShown = row;
    return v;
}

TValidation TScheduleEditor::Replace(int& row, const TConfirm& confirm)
{
    if (row < 0 || row >= FSchedules.size())
        return {};
    const TValidation v = Validate(row);
    if (v.Code != 0)
        return v;
    if (!confirm(
            SafeFormat(_("Replace and reset selected backup schedule \"%s\"?"), {FSchedules[row].SName})))
        return v;
    FSchedules[row] = EditedSchedule();
    Recompute();
    row = FillList(row);
    return v;
}

bool TScheduleEditor::Remove(int& row, const TConfirm& confirm)
{
    if (row < 0 || row >= FSchedules.size())
        return false;
    if (!confirm(SafeFormat(_("Remove selected backup schedule \"%s\" from list?"), {FSchedules[row].SName})))
        return false;
    FSchedules.removeAt(row);
    row = FillList(row);
    return true;
}

QString TScheduleEditor::CreateTaskNameError() const
{
    const QString& name = FValues.Name;
    bool bad = false;
    for (QChar c : name) {
        if (c.category() == QChar::Other_Control || kInvalidTaskNameChars.contains(c)) {
            bad = true;
            break;
        }
    }
    if (!bad)
        return QString();
    return SafeFormat(
        _("\"%s\" contains invalid characters (%s)!"), {name, QStringLiteral("* ? < > : \" / \\ |")});
}

QString TScheduleEditor::EditTaskArguments(int index) const
{
    if (index < 0 || index >= FSchedules.size())
        return QString();
    return QuoteIfNeeded(FSchedules[index].Task)
        + OptValue(QStringLiteral("startapp"), QStringLiteral("marvick")) + OptFlag(QStringLiteral("edit"));
}

QString TScheduleEditor::TaskSelectFolder(const QString& jobDir) const
{
    if (FValues.Task.isEmpty())
        return jobDir;
    return QFileInfo(FValues.Task).absolutePath();
}

QList<TPreviewRow> TScheduleEditor::Preview(
    const QDate& first, int days, bool& currentState, const QString& languageCode) const
{
    TSchedTask edited = EditedSchedule();
    currentState = false;
    if (FShown >= 0 && FShown < FSchedules.size()) {
        const TSchedTask& shown = FSchedules[FShown];
        const bool sameDay = !edited.IsWeekly() || edited.FirstDay == shown.FirstDay;
        if (edited.Cycles == shown.Cycles && edited.Steps == shown.Steps && sameDay
            && edited.Diff == shown.Diff) {
            edited.FirstDay = shown.FirstDay;
            edited.NextCyc = shown.NextCyc;
            edited.LastFull = shown.LastFull;
            edited.LastDay = shown.LastDay;
            currentState = true;
        }
    }
    return PreviewSchedule(edited, first, days, languageCode);
}

TScheduleListModel::TScheduleListModel(TScheduleEditor& editor, QObject* parent)
    : QAbstractTableModel(parent)
    , FEditor(editor)
{
}

int TScheduleListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(FEditor.Schedules().size());
}

int TScheduleListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : scColumnCount;
}

QVariant TScheduleListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= FEditor.Schedules().size())
        return {};
    const TSchedTask& s = FEditor.Schedules()[index.row()];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        if (role == Qt::ToolTipRole && index.column() == scTask)
            return s.Task;
        if (role == Qt::ToolTipRole && index.column() == scActive)
            return s.Active ? _("A scheduled task runs this schedule") : QVariant();
        return FEditor.CellText(index.row(), index.column());
    }
    if (role == SortRole) {
        switch (index.column()) {
        case scCycles:
            return s.Cycles;
        case scSteps:
            return s.Steps;
        case scStart:
            return s.FirstDay;
        default:
            return FEditor.CellText(index.row(), index.column()).toLower();
        }
    }
    if (role == Qt::TextAlignmentRole && (index.column() == scCycles || index.column() == scSteps))
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant TScheduleListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return TScheduleEditor::ColumnTitles().value(section);
    if (orientation == Qt::Horizontal && role == Qt::ToolTipRole && section == scActive)
        return _("A: a scheduled task runs this schedule");
    return {};
}

void TScheduleListModel::Refresh()
{
    beginResetModel();
    endResetModel();
}

} // namespace kes
