#include "app/marvick/tasks/TaskSchedDlg.h"

#include "planner/WinTask.h"

namespace kes {

TTaskScheduleDialog::TTaskScheduleDialog(QWidget* parent)
    : FParent(parent)
{
}

TTaskScheduleDialog::~TTaskScheduleDialog() = default;

void TTaskScheduleDialog::InitTaskScheduler(TWinTaskScheduler* taskSchedule)
{
    FTaskSchedule = taskSchedule;
}

int TTaskScheduleDialog::GetActiveTasks(const QString& filter, QStringList& names, QList<int>* indexes)
{
    names.clear();
    if (indexes)
        indexes->clear();
    if (!FTaskSchedule || !FTaskSchedule->TaskFolder())
        return 0;
    TWinTaskFolder* folder = FTaskSchedule->TaskFolder();
    for (int i = 0; i < folder->TaskCount(); ++i) {
        TWinRegisteredTask& task = folder->Tasks(i);
        if (task.IndexOfApp(filter) >= 0) {
            names.append(task.TaskName());
            if (indexes)
                indexes->append(i);
        }
    }
    return 0;
}

int TTaskScheduleDialog::Execute(
    int, int, TKesAction, const QString&, const QString&, const QString&, int& taskNr, int& trgNr, bool)
{
    taskNr = -1;
    trgNr = -1;
    return mrCancel;
}

int TTaskScheduleDialog::Execute(int index, TKesAction action, const QString& path, const QString& task,
    const QString& options, int& taskNr, int& trgNr, bool retry)
{
    return Execute(index, 0, action, path, task, options, taskNr, trgNr, retry);
}

int TTaskScheduleDialog::Execute(int index, TKesAction action, const QString& path, const QString& task,
    const QString& options, bool retry)
{
    int taskNr = 0;
    int trgNr = 0;
    return Execute(index, 0, action, path, task, options, taskNr, trgNr, retry);
}

} // namespace kes
