// TTaskWizardForm: the pages of the scheduled-task wizard (settings,
// schedule with its sub-pages, user account) shown on a TTaskWizard's
// values. The values are written back to the model whenever a control
// changes, so the model's navigation and saving always see what is shown.
#pragma once

#include "planner/TaskWizard.h"

#include <QDialog>
#include <array>

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;

namespace kes {

class TCheckComboBox;
class TUnitSpinBox;

class TTaskWizardForm : public QDialog {
    Q_OBJECT
public:
    explicit TTaskWizardForm(QWidget* parent = nullptr);
    ~TTaskWizardForm() override;

    // Shows the wizard modally on the model; true for "Done".
    bool Run(TTaskWizard& wizard, ITaskWizardUi& ui);
    // Binds the model without showing (screenshots, tests).
    void Bind(TTaskWizard& wizard, ITaskWizardUi& ui);
    // The pages as the model's step says.
    void ShowStep();

    QPushButton* BackButton() const { return FBack; }
    QPushButton* NextButton() const { return FNext; }
    QPushButton* CancelButton() const { return FCancel; }
    QLineEdit* TaskField() const { return FTaskField; }
    QComboBox* StartKindBox() const { return FStartKind; }
    QStackedWidget* SubPages() const { return FSubPages; }
    QStackedWidget* MainPages() const { return FMainPages; }

protected:
    // F11: the hint of the focused control.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* BuildSettingsPage();
    QWidget* BuildSchedulePage();
    QWidget* DateTimeRow(QWidget* parent);
    QPushButton* AdvancedButton(QWidget* parent);
    void FromModel();
    void UpdateSettingsState();
    void UpdateScheduleState();
    void SetAllPickers(const QDateTime& value);
    void ShowDelay(TUnitSpinBox* box, const TDelayPair& pair);

    TTaskWizard* FWizard = nullptr;
    ITaskWizardUi* FUi = nullptr;
    bool FLoading = false;

    QLineEdit* FTaskName = nullptr;
    QStackedWidget* FMainPages = nullptr;
    // Settings page.
    QLabel* FTaskLabel = nullptr;
    QLineEdit* FTaskField = nullptr;
    QPushButton* FAddTask = nullptr;
    QLineEdit* FFixed = nullptr;
    QLineEdit* FUserOptions = nullptr;
    QLineEdit* FStartIn = nullptr;
    QPushButton* FStartInButton = nullptr;
    QLineEdit* FIniFile = nullptr;
    QComboBox* FStatusWindow = nullptr;
    QSpinBox* FCloseAfter = nullptr;
    QLabel* FSecondsLabel = nullptr;
    QCheckBox* FNoSplash = nullptr;
    QComboBox* FSubAction = nullptr;
    QPushButton* FErrorHandling = nullptr;
    QComboBox* FLogMode = nullptr;
    QCheckBox* FParallel = nullptr;
    QComboBox* FPriority = nullptr;
    // Schedule page.
    QComboBox* FStartKind = nullptr;
    QCheckBox* FEnabled = nullptr;
    QLabel* FHeader = nullptr;
    QStackedWidget* FSubPages = nullptr;
    std::vector<QDateTimeEdit*> FPickers;
    QRadioButton* FEveryDay = nullptr;
    QRadioButton* FEveryNDays = nullptr;
    QSpinBox* FDays = nullptr;
    QSpinBox* FWeeks = nullptr;
    std::array<QCheckBox*, 7> FWeekDays {};
    QRadioButton* FOnDays = nullptr;
    QRadioButton* FOnWeeks = nullptr;
    TCheckComboBox* FMonthDays = nullptr;
    TCheckComboBox* FMonthWeeks = nullptr;
    TCheckComboBox* FMonthWeekDays = nullptr;
    std::array<QCheckBox*, 12> FMonths {};
    QCheckBox* FRandomCheck = nullptr;
    TUnitSpinBox* FRandom = nullptr;
    QLabel* FEventCaption = nullptr;
    QLabel* FEventAccount = nullptr;
    QCheckBox* FActivate = nullptr;
    QDateTimeEdit* FActivatePicker = nullptr;
    QCheckBox* FDelayCheck = nullptr;
    TUnitSpinBox* FDelay = nullptr;
    QPushButton* FUserEvent = nullptr;
    QPushButton* FResetEvent = nullptr;
    QLineEdit* FDescription = nullptr;
    QRadioButton* FLoggedOn = nullptr;
    QRadioButton* FWithPassword = nullptr;
    QLineEdit* FUserName = nullptr;
    QLabel* FPasswordLabel = nullptr;
    QLineEdit* FPassword = nullptr;
    QCheckBox* FHighest = nullptr;
    QLabel* FLogonNote = nullptr;

    QPushButton* FBack = nullptr;
    QPushButton* FNext = nullptr;
    QPushButton* FCancel = nullptr;
};

} // namespace kes
