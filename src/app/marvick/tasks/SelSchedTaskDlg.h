// TSelectSchedTaskDialog: the scheduled tasks of a program with their
// status, details and triggers; run, stop, enable, disable or delete one,
// then pick a task and a trigger to edit (planner/TaskSelection.h).
#pragma once

#include "planner/TaskSelection.h"

#include <QDialog>
#include <memory>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;
class QTreeWidget;

namespace kes {

class TSelectSchedTaskDialog : public QDialog {
    Q_OBJECT
public:
    TSelectSchedTaskDialog(
        const QString& title, TWinTaskScheduler& scheduler, const QString& filter, QWidget* parent = nullptr);
    ~TSelectSchedTaskDialog() override;

    TSelectSchedTaskModel& Model() { return *FModel; }
    QTreeWidget* List() const { return FList; }
    QCheckBox* EnabledToggle() const { return FEnabled; }
    QPushButton* RunButton() const { return FRun; }
    QPushButton* DeleteButton() const { return FDelete; }
    QListWidget* Triggers() const { return FTriggers; }
    QTimer* PollTimer() const { return FTimer; }
    // Rows and details from the model.
    void ShowRows();
    void done(int result) override;

    // A TModalResult; taskIndex, trgIndex as the selection leaves them.
    static int Execute(const QString& title, TWinTaskScheduler& scheduler, const QString& filter,
        int& taskIndex, int& trgIndex, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void ShowDetails();

    std::unique_ptr<TSelectSchedTaskModel> FModel;
    QTreeWidget* FList = nullptr;
    QGroupBox* FGroup = nullptr;
    QLineEdit* FApplication = nullptr;
    QLineEdit* FParameters = nullptr;
    QLineEdit* FStartIn = nullptr;
    QLineEdit* FDescription = nullptr;
    QLineEdit* FCreator = nullptr;
    QLineEdit* FCreated = nullptr;
    QLineEdit* FAccount = nullptr;
    QCheckBox* FEnabled = nullptr;
    QListWidget* FTriggers = nullptr;
    QPushButton* FEdit = nullptr;
    QPushButton* FDelete = nullptr;
    QPushButton* FRun = nullptr;
    QPushButton* FClose = nullptr;
    QTimer* FTimer = nullptr;
    bool FFilling = false;
};

} // namespace kes
