#include "planner/TaskSelection.h"

#include "frame/I18n.h"

#include <algorithm>

namespace kes {

TSelectStatusControls StatusControls(TWinTaskStatus s)
{
    TSelectStatusControls c;
    c.ToggleEnabled = s == TWinTaskStatus::tsReady || s == TWinTaskStatus::tsDisabled;
    c.ToggleOn = s != TWinTaskStatus::tsDisabled;
    c.RunEnabled = s != TWinTaskStatus::tsDisabled;
    c.RunStops = s == TWinTaskStatus::tsRunning;
    return c;
}

TSelectSchedTaskModel::TSelectSchedTaskModel(
    TWinTaskScheduler& scheduler, QString filter, TConfirm confirm, TMessage message)
    : FScheduler(scheduler)
    , FFilter(std::move(filter))
    , FConfirm(std::move(confirm))
    , FMessage(std::move(message))
{
}

QString TSelectSchedTaskModel::Caption(const QString& title)
{
    return _("Select Scheduled Task") + QStringLiteral(" (") + title + QStringLiteral(")");
}

template <class F> bool TSelectSchedTaskModel::Guard(F f)
{
    try {
        f();
        return true;
    } catch (const platform::ETaskServiceError& e) {
        if (FMessage)
            FMessage(TaskErrorText(e.ErrorCode()) + QStringLiteral("\r\n") + e.Detail());
        return false;
    }
}

int TSelectSchedTaskModel::Fill(bool newListing)
{
    int keepIndex = -1;
    if (!newListing && FSelectedRow >= 0 && FSelectedRow < int(FRows.size()))
        keepIndex = FRows[std::size_t(FSelectedRow)].FolderIndex;
    FRows.clear();
    FSelectedRow = -1;
    TWinTaskFolder* folder = FScheduler.TaskFolder();
    if (!folder)
        return 0;
    if (newListing)
        folder->Refresh();
    FLastStatus.assign(std::size_t(folder->TaskCount()), TWinTaskStatus::tsUnknown);
    for (int i = 0; i < folder->TaskCount(); ++i) {
        TWinRegisteredTask& task = folder->Tasks(i);
        Guard([&] {
            FLastStatus[std::size_t(i)] = task.Status();
            if (task.IndexOfApp(FFilter) < 0)
                return;
            TSelectRow row;
            row.FolderIndex = i;
            row.Name = task.TaskName();
            row.Status = StatusText(FLastStatus[std::size_t(i)]);
            row.LastRunTime = task.LastRunTime();
            row.LastRun = DateDisplayText(row.LastRunTime);
            if (row.LastRun.isEmpty()) {
                row.LastRun = _("Not yet run");
                row.LastRunTime = QDateTime();
            }
            row.NextRunTime = task.NextRunTime();
            row.NextRun = DateDisplayText(row.NextRunTime);
            if (row.NextRun.isEmpty()) {
                row.NextRunTime = QDateTime();
                TWinTask& d = task.Definition();
                if (d.TriggerCount() > 0) {
                    if (d.Triggers(0).TriggerType() == TWinTaskTriggerType::ttEvent)
                        row.NextRun = _("on wake up");
                    else if (d.Triggers(0).TriggerType() == TWinTaskTriggerType::ttLogon)
                        row.NextRun = _("on logon");
                }
            }
            row.LastResult = task.LastResult();
            FRows.push_back(row);
        });
    }
    Sort();
    if (!FRows.empty()) {
        FSelectedRow = 0;
        for (int r = 0; r < int(FRows.size()); ++r)
            if (FRows[std::size_t(r)].FolderIndex == keepIndex)
                FSelectedRow = r;
        FSelectedTaskIndex = FRows[std::size_t(FSelectedRow)].FolderIndex;
    } else {
        FSelectedTaskIndex = -1;
    }
    return int(FRows.size());
}

void TSelectSchedTaskModel::SelectRow(int row)
{
    if (row < 0 || row >= int(FRows.size()))
        return;
    FSelectedRow = row;
    FSelectedTaskIndex = FRows[std::size_t(row)].FolderIndex;
}

void TSelectSchedTaskModel::SortBy(TSelectColumn column)
{
    if (column == FSortColumn)
        FDescending = !FDescending;
    else {
        FSortColumn = column;
        FDescending = column != TSelectColumn::scName;
    }
    const int keep = FSelectedTaskIndex;
    Sort();
    for (int r = 0; r < int(FRows.size()); ++r)
        if (FRows[std::size_t(r)].FolderIndex == keep)
            FSelectedRow = r;
}

void TSelectSchedTaskModel::Sort()
{
    const TSelectColumn column = FSortColumn;
    // A time that is not one (never run, no next run) counts as 0.
    auto msecs = [](const QDateTime& t) { return t.isValid() ? t.toMSecsSinceEpoch() : qint64(0); };
    auto less = [&](const TSelectRow& a, const TSelectRow& b) {
        switch (column) {
        case TSelectColumn::scName:
            return a.Name.compare(b.Name, Qt::CaseInsensitive) < 0;
        case TSelectColumn::scStatus:
            return a.Status.compare(b.Status, Qt::CaseInsensitive) < 0;
        case TSelectColumn::scLastRun:
            return msecs(a.LastRunTime) < msecs(b.LastRunTime);
        case TSelectColumn::scNextRun:
            break;
        }
        return msecs(a.NextRunTime) < msecs(b.NextRunTime);
    };
    if (FDescending)
        std::stable_sort(
            FRows.begin(), FRows.end(), [&](const auto& a, const auto& b) { return less(b, a); });
    else
        std::stable_sort(FRows.begin(), FRows.end(), less);
}

TSelectDetails TSelectSchedTaskModel::Details() const
{
    TSelectDetails d;
    TWinTaskFolder* folder = FScheduler.TaskFolder();
    if (!folder || FSelectedTaskIndex < 0 || FSelectedTaskIndex >= folder->TaskCount())
        return d;
    TWinRegisteredTask& task = folder->Tasks(FSelectedTaskIndex);
    TWinTask& def = task.Definition();
    d.Caption = _("Properties of task: ") + task.TaskName();
    d.UserAccount = def.UserId();
    d.Description = def.Description();
    d.Created = def.DateAsString();
    d.Creator = def.Author();
    const int action = task.IndexOfApp(FFilter);
    if (action >= 0) {
        d.Application = def.Actions(action).Path();
        d.Parameters = def.Actions(action).Arguments();
        d.WorkingDirectory = def.Actions(action).WorkingDirectory();
    }
    for (int i = 0; i < def.TriggerCount(); ++i)
        d.Triggers << QString::number(i + 1) + QStringLiteral(": ") + def.Triggers(i).TriggerString();
    return d;
}

TWinTaskStatus TSelectSchedTaskModel::SelectedStatus() const
{
    if (FSelectedTaskIndex < 0 || FSelectedTaskIndex >= int(FLastStatus.size()))
        return TWinTaskStatus::tsUnknown;
    return FLastStatus[std::size_t(FSelectedTaskIndex)];
}

void TSelectSchedTaskModel::SetEnabled(bool enabled)
{
    TWinTaskFolder* folder = FScheduler.TaskFolder();
    if (!folder || FSelectedTaskIndex < 0 || FSelectedTaskIndex >= folder->TaskCount())
        return;
    Guard([&] { folder->Tasks(FSelectedTaskIndex).SetEnabled(enabled); });
    Fill(false);
}

void TSelectSchedTaskModel::RunOrStop()
{
    TWinTaskFolder* folder = FScheduler.TaskFolder();
    if (!folder || FSelectedTaskIndex < 0 || FSelectedTaskIndex >= folder->TaskCount())
        return;
    TWinRegisteredTask& task = folder->Tasks(FSelectedTaskIndex);
    TWinTaskStatus status = TWinTaskStatus::tsUnknown;
    if (!Guard([&] { status = task.Status(); }))
        return;
    if (status == TWinTaskStatus::tsReady) {
        if (FConfirm(_("Run selected task?")))
            Guard([&] { task.Run(); });
    } else if (status == TWinTaskStatus::tsRunning) {
        if (FConfirm(_("Stop selected task?")))
            Guard([&] { task.Stop(); });
    }
    Fill(false);
}

bool TSelectSchedTaskModel::DeleteSelected()
{
    TWinTaskFolder* folder = FScheduler.TaskFolder();
    if (!folder || FSelectedTaskIndex < 0 || FSelectedTaskIndex >= folder->TaskCount())
        return false;
    if (!FConfirm(_("Delete selected task?")))
        return false;
    const QString name = folder->Tasks(FSelectedTaskIndex).TaskName();
    if (!folder->DeleteTask(name)) {
        if (FMessage)
            FMessage(folder->ErrorMessage());
        return false;
    }
    FChanged = true;
    FSelectedRow = -1;
    return Fill(true) == 0;
}

bool TSelectSchedTaskModel::Poll()
{
    TWinTaskFolder* folder = FScheduler.TaskFolder();
    if (!folder)
        return false;
    bool changed = int(FLastStatus.size()) != folder->TaskCount();
    for (int i = 0; !changed && i < folder->TaskCount(); ++i) {
        TWinTaskStatus s = TWinTaskStatus::tsUnknown;
        try {
            s = folder->Tasks(i).Status();
        } catch (const platform::ETaskServiceError&) {
            // A service that does not answer now is asked again next time.
            return false;
        }
        changed = s != FLastStatus[std::size_t(i)];
    }
    if (changed)
        Fill(false);
    return changed;
}

bool TSelectSchedTaskModel::KeepOpenOnOk()
{
    if (FSelectedTaskIndex >= 0)
        return false;
    return FConfirm(_("No task selected - rectify?"));
}

int TSelectSchedTaskModel::Finish(int dialogResult, int selectedTrigger, int& taskIndex, int& trgIndex) const
{
    taskIndex = FSelectedTaskIndex;
    if (dialogResult == 1) {
        TWinTaskFolder* folder = FScheduler.TaskFolder();
        int triggers = 0;
        if (folder && FSelectedTaskIndex >= 0 && FSelectedTaskIndex < folder->TaskCount())
            triggers = folder->Tasks(FSelectedTaskIndex).Definition().TriggerCount();
        trgIndex
            = triggers == 0 ? -1 : (selectedTrigger >= 0 && selectedTrigger < triggers ? selectedTrigger : 0);
    }
    if (FSelectedTaskIndex < 0 || FChanged)
        return 6;
    return dialogResult;
}

} // namespace kes
