// TAdvancedScheduleDialog: expiry, repetition, run-time limit and the
// power, wake and network conditions of a task (planner/AdvancedSettings.h).
#pragma once

#include "planner/AdvancedSettings.h"

#include <QDialog>

class QCheckBox;
class QDateEdit;
class QTimeEdit;

namespace kes {

class TUnitSpinBox;

class TAdvancedScheduleDialog : public QDialog {
    Q_OBJECT
public:
    TAdvancedScheduleDialog(
        const TAdvancedSettings& settings, const QDateTime& now, QWidget* parent = nullptr);
    TAdvancedScheduleModel& Model() { return FModel; }
    // The model with the controls' values.
    void ReadControls();
    QCheckBox* PowerOnlyCheck() const { return FPower; }
    QCheckBox* StopBatteryCheck() const { return FBattery; }
    TUnitSpinBox* IntervalBox() const { return FInterval; }
    TUnitSpinBox* LimitBox() const { return FLimit; }

    // OK writes the record and gives true; Cancel leaves it.
    static bool Execute(TAdvancedSettings& settings, QWidget* parent = nullptr);

protected:
    // F11: the hint of the focused control.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ShowPair(TUnitSpinBox* box, const TAdvPair& pair);
    void UpdateEnabled();

    TAdvancedScheduleModel FModel;
    QCheckBox* FExpire = nullptr;
    QDateEdit* FDate = nullptr;
    QTimeEdit* FTime = nullptr;
    QCheckBox* FRepeat = nullptr;
    TUnitSpinBox* FInterval = nullptr;
    TUnitSpinBox* FDuration = nullptr;
    QCheckBox* FStopEnd = nullptr;
    QCheckBox* FUseLimit = nullptr;
    TUnitSpinBox* FLimit = nullptr;
    QCheckBox* FReRun = nullptr;
    QCheckBox* FPower = nullptr;
    QCheckBox* FBattery = nullptr;
    QCheckBox* FWake = nullptr;
    QCheckBox* FNetwork = nullptr;
};

} // namespace kes
