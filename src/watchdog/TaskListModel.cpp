#include "watchdog/TaskListModel.h"

#include "watchdog/MonTask.h"
#include "watchdog/MonitorController.h"

namespace kes {

TTaskListModel::TTaskListModel(TMonitorController& monitor, QObject* parent)
    : QAbstractListModel(parent)
    , FMonitor(monitor)
    , FRows(int(monitor.Tasks().size()))
{
    connect(&FMonitor, &TMonitorController::StateChanged, this, &TTaskListModel::Refresh);
}

int TTaskListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : FRows;
}

QVariant TTaskListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)
        || index.row() >= int(FMonitor.Tasks().size()))
        return {};
    const TMonTask& task = *FMonitor.Tasks()[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return FMonitor.TaskText(index.row());
    case Qt::CheckStateRole:
        return task.MonStatus == mtEnabled ? Qt::Checked : Qt::Unchecked;
    case RunStatusRole:
        return int(task.GetRunStatus());
    case MonStatusRole:
        return int(task.MonStatus);
    default:
        return {};
    }
}

bool TTaskListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole
        || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    const bool checked = value.value<Qt::CheckState>() == Qt::Checked;
    if (!SetChecked(index.row(), checked)) {
        // The view may already show the new mark: tell it the old one.
        emit dataChanged(index, index, {Qt::CheckStateRole});
        return false;
    }
    return true;
}

Qt::ItemFlags TTaskListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren;
}

bool TTaskListModel::SetChecked(int row, bool checked)
{
    if (FMonitor.Monitoring() || row < 0 || row >= int(FMonitor.Tasks().size()))
        return false;
    TMonTask& task = *FMonitor.Tasks()[size_t(row)];
    if (checked) {
        task.MonStatus = mtEnabled;
    } else {
        task.MonStatus = mtDisabled;
        task.ErrCount = 0;
        task.FileList.Clear();
    }
    const QModelIndex at = index(row);
    emit dataChanged(at, at);
    return true;
}

void TTaskListModel::AppendTask(std::unique_ptr<TMonTask> task)
{
    const int row = int(FMonitor.Tasks().size());
    beginInsertRows(QModelIndex(), row, row);
    FChanging = true;
    FMonitor.AppendTask(std::move(task));
    FChanging = false;
    FRows = int(FMonitor.Tasks().size());
    endInsertRows();
}

bool TTaskListModel::RemoveTask(int row)
{
    if (!FMonitor.CanRemoveTasks() || row < 0 || row >= int(FMonitor.Tasks().size()))
        return false;
    // The rows after it are numbered anew, so every text changes: a reset,
    // not a removal of one row.
    beginResetModel();
    FChanging = true;
    const bool removed = FMonitor.RemoveTask(row);
    FChanging = false;
    FRows = int(FMonitor.Tasks().size());
    endResetModel();
    return removed;
}

void TTaskListModel::Refresh()
{
    if (FChanging)
        return;
    const int rows = int(FMonitor.Tasks().size());
    if (rows != FRows) {
        beginResetModel();
        FRows = rows;
        endResetModel();
        return;
    }
    if (rows > 0)
        emit dataChanged(index(0), index(rows - 1));
}

} // namespace kes
