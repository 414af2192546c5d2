// The scheduled-task wizard: creates or edits one scheduled task of the
// program and one of its triggers. Marvick's main window creates the task
// that starts Marvick for a schedule and edits such tasks through it.
#pragma once

#include "planner/TaskCommandLine.h"
#include "planner/TaskWizard.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

class QWidget;

namespace kes {

class TWinTaskScheduler;
class TTaskWizardForm;

// The dialogs' results (the values of the modal results they stand for).
enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrRetry = 4, mrYes = 6, mrNo = 7 };

class TTaskScheduleDialog {
public:
    explicit TTaskScheduleDialog(QWidget* parent = nullptr);
    ~TTaskScheduleDialog();
    TTaskScheduleDialog(const TTaskScheduleDialog&) = delete;
    TTaskScheduleDialog& operator=(const TTaskScheduleDialog&) = delete;

    // The scheduler (not owned; null: scheduled tasks are unavailable).
    void InitTaskScheduler(TWinTaskScheduler* taskSchedule);
    bool IsAvailable() const { return FTaskSchedule != nullptr; }
    // The names of the listed tasks whose program path ends with filter,
    // with their folder indexes; returns 0.
    int GetActiveTasks(const QString& filter, QStringList& names, QList<int>* indexes = nullptr);

    // index -1 creates a task, -2 creates one from the task XML in the file
    // task, 0 lets the user pick one in the selection dialog, n > 0 edits
    // the n-th task of the folder (1-based). Returns a TModalResult.
    int Execute(int index, int trgIndex, TKesAction action, const QString& path, const QString& task,
        const QString& options, int& taskNr, int& trgNr, bool retry);
    int Execute(int index, TKesAction action, const QString& path, const QString& task,
        const QString& options, int& taskNr, int& trgNr, bool retry);
    int Execute(int index, TKesAction action, const QString& path, const QString& task,
        const QString& options, bool retry);

    // The model behind the pages, and the questions of a run (tests put
    // their own in place to drive the dialogs without user input).
    TTaskWizard& Wizard() { return *FWizard; }
    void SetUi(ITaskWizardUi* ui) { FUiOverride = ui; }
    // The wizard's form (created on first use; kept for the program's run).
    TTaskWizardForm& Form();

private:
    QWidget* FParent;
    TWinTaskScheduler* FTaskSchedule = nullptr;
    std::unique_ptr<TTaskWizard> FWizard;
    std::unique_ptr<ITaskWizardUi> FUi;
    ITaskWizardUi* FUiOverride = nullptr;
    std::unique_ptr<TTaskWizardForm> FForm;
};

} // namespace kes
