// THauptForm: Marvick's main window, a view of TMarvickWindowController
// and its schedule editor (src/planner). The layout is HauptForm.ui; the
// rules of the list and the editor are in the controller, this class binds
// the controls to it.
#pragma once

#include "frame/MessageKind.h"
#include "planner/MarvickWindow.h"

#include <QWidget>
#include <functional>
#include <memory>

class QSortFilterProxyModel;

namespace Ui {
class THauptForm;
}

namespace kes {

class TScheduleListModel;
class TTaskScheduleDialog;

class THauptForm : public QWidget {
    Q_OBJECT
public:
    explicit THauptForm(TMarvickWindowController& controller, QWidget* parent = nullptr);
    ~THauptForm() override;

    // Shows the window: the scheduler's state (a failed connection is told
    // once; only the scheduled-task buttons are then disabled), the Active
    // flags, the list with its first row.
    void ShowWindow();

    // Messages and questions go here instead of to the message box when
    // set (tests): the kind, the text; the answer to a confirmation.
    using TMessageHook = std::function<bool(TMessageKind kind, const QString& text)>;
    void SetMessageHook(TMessageHook hook) { FMessageHook = std::move(hook); }

    Ui::THauptForm& Form() { return *FUi; }
    TMarvickWindowController& Controller() { return FController; }
    // The schedule of the selected row, -1 without one.
    int SelectedSchedule() const;
    void SelectSchedule(int index);
    // What went to the message box last.
    QString LastMessage() const { return FLastMessage; }
    // After the scheduled-task dialogs: the tasks listed anew and the
    // Active flags set; a task service that has gone is told, and the
    // scheduled-task buttons are disabled.
    void RefreshTasks();
    // The preview rows as shown (tests).
    int PreviewRowCount() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ConnectForm();
    void FillList(int index);
    void LoadEditor();
    void RefreshPreview();
    void ShowHint(QWidget* control);
    bool Message(TMessageKind kind, const QString& text);
    void FocusAfterCheck(const TValidation& check);
    void RefreshActiveTasks();
    void UpdateTaskButtons();

    void OnRowChosen();
    void OnAdd();
    void OnReplace();
    void OnRemove();
    void OnSelectTask();
    void OnEditTask();
    void OnCreateTask();
    void OnShowTasks();
    void OnShortcut();
    void OnInfo();
    void OnHelp();

    TMarvickWindowController& FController;
    std::unique_ptr<Ui::THauptForm> FUi;
    TScheduleListModel* FModel = nullptr;
    QSortFilterProxyModel* FSorted = nullptr;
    std::unique_ptr<TTaskScheduleDialog> FTaskDialog;
    TMessageHook FMessageHook;
    QString FLastMessage;
    bool FLoading = false;
    bool FSaved = false;
};

} // namespace kes
