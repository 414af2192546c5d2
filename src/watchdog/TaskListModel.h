// TTaskListModel: the monitor tasks of a TMonitorController as a list
// model, for the window's task list (a check list: one row per task, in
// list order).
//
// DisplayRole is the task's list text ("01: /home/ann/Documents"),
// CheckStateRole its check mark (checked exactly when the task is
// mtEnabled), RunStatusRole its TRunStatus (the view draws the icon),
// MonStatusRole its TMonTaskStatus. A check mark can be set through
// setData only while monitoring does not run; while it runs the change is
// refused and the row reported changed, so a view puts the former mark
// back at once.
#pragma once

#include <QAbstractListModel>

namespace kes {

class TMonitorController;

class TTaskListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum TRole { RunStatusRole = Qt::UserRole + 1, MonStatusRole };

    explicit TTaskListModel(TMonitorController& monitor, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Checking sets mtEnabled; unchecking sets mtDisabled, ErrCount 0 and
    // drops the task's pending files (FileCount is not changed). False, and
    // nothing changes, while monitoring runs.
    bool SetChecked(int row, bool checked);
    // Rows joining and leaving, for the list operations.
    void AppendTask(std::unique_ptr<class TMonTask> task);
    bool RemoveTask(int row);

private:
    // Follows the controller: a changed number of tasks resets the model,
    // otherwise every row is reported changed (texts, marks, icons).
    void Refresh();

    TMonitorController& FMonitor;
    int FRows = 0;
    bool FChanging = false;
};

} // namespace kes
