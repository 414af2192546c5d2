#include "app/marvick/tasks/TaskSchedDlg.h"

#include "app/marvick/tasks/SelSchedTaskDlg.h"
#include "app/marvick/tasks/TaskWizardForm.h"
#include "frame/I18n.h"
#include "planner/WinTask.h"
#include "platform/Paths.h"
#include "ui/MessageDialog.h"
#include "ui/PickerDialogs.h"

#include <QCoreApplication>

namespace kes {

namespace {

// The wizard's questions as the program's message boxes and dialogs.
class TWizardDialogs final : public ITaskWizardUi {
public:
    TWizardDialogs(TTaskScheduleDialog& owner, QWidget* parent)
        : FOwner(owner)
        , FParent(parent)
    {
    }
    void Message(const QString& text) override
    {
        ShowErrorMessage(_("Scheduled Task Wizard"), text, Parent());
    }
    bool Confirm(const QString& text) override
    {
        return ConfirmYesNo(_("Scheduled Task Wizard"), text, Parent());
    }
    bool AskTaskName(const QString& title, QString& name) override
    {
        return InputText(Parent(), title, _("Name of new scheduled task:"), name);
    }
    int SelectTask(const QString& title, TWinTaskScheduler& scheduler, const QString& filter, int& taskIndex,
        int& trgIndex) override
    {
        return TSelectSchedTaskDialog::Execute(title, scheduler, filter, taskIndex, trgIndex, FParent);
    }
    bool ShowWizard(TTaskWizard& wizard) override { return FOwner.Form().Run(wizard, *this); }

private:
    QWidget* Parent() const
    {
        QWidget* form = &FOwner.Form();
        return form->isVisible() ? form : FParent;
    }

    TTaskScheduleDialog& FOwner;
    QWidget* FParent;
};

} // namespace

TTaskScheduleDialog::TTaskScheduleDialog(QWidget* parent)
    : FParent(parent)
{
    TTaskWizardEnvironment env;
    env.ProgramFile = QCoreApplication::applicationFilePath();
    env.UserName = platform::UserName();
    FWizard = std::make_unique<TTaskWizard>(env);
    FUi = std::make_unique<TWizardDialogs>(*this, parent);
}

TTaskScheduleDialog::~TTaskScheduleDialog() = default;

TTaskWizardForm& TTaskScheduleDialog::Form()
{
    if (!FForm)
        FForm = std::make_unique<TTaskWizardForm>(FParent);
    return *FForm;
}

void TTaskScheduleDialog::InitTaskScheduler(TWinTaskScheduler* taskSchedule)
{
    FTaskSchedule = taskSchedule;
    FWizard->InitTaskScheduler(taskSchedule);
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

int TTaskScheduleDialog::Execute(int index, int trgIndex, TKesAction action, const QString& path,
    const QString& task, const QString& options, int& taskNr, int& trgNr, bool retry)
{
    ITaskWizardUi& ui = FUiOverride ? *FUiOverride : *FUi;
    try {
        return FWizard->Execute(index, trgIndex, action, path, task, options, taskNr, trgNr, retry, ui);
    } catch (const platform::ETaskServiceError& e) {
        // A task whose properties cannot be read, or a service that went
        // away: its message, nothing saved.
        ui.Message(_("Could not create or modify scheduled task!") + QStringLiteral("\r\n")
            + TaskErrorText(e.ErrorCode()) + QStringLiteral(" - ") + e.Detail());
        if (FTaskSchedule)
            FTaskSchedule->Refresh();
        return mrCancel;
    }
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
