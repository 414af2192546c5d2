// The advanced trigger settings dialog without its widgets: expiry,
// repetition, run-time limit and the power, wake and network conditions of
// the wizard's TAdvancedSettings, with the number-and-unit rules of its
// three pairs.
#pragma once

#include "planner/TaskWizard.h"

#include <QDateTime>

namespace kes {

// The units of the repetition pairs ("Every:", "for a duration of:") and
// of the run-time limit.
enum class TAdvUnit { auDays, auHours, auMinutes };
QString AdvUnitText(TAdvUnit unit);

struct TAdvPair {
    TAdvUnit Unit = TAdvUnit::auHours;
    int Minimum = 1;
    int Maximum = 167;
    int Value = 1;
    int Step = 1;

    // The unit chosen: its maximum, value and step (days only for the
    // run-time limit).
    void ChooseUnit(TAdvUnit unit, bool limit);
    // The value in minutes.
    int Minutes() const;
};

class TAdvancedScheduleModel {
public:
    // Fills the dialog from the record at the moment now.
    TAdvancedScheduleModel(const TAdvancedSettings& settings, const QDateTime& now);

    bool Expire = false;
    QDateTime ExpireAt; // date and time pickers
    bool Repeat = false;
    TAdvPair Interval;
    TAdvPair Duration;
    bool StopAtDurationEnd = false;
    bool UseLimit = false;
    TAdvPair Limit;
    bool ReRun = false;
    bool PowerOnly = true;
    bool StopBattery = true;
    bool WakeUp = false;
    bool NetworkOnly = false;

    // "Start the task only if the computer is on AC power" toggled: the
    // battery check follows it and is enabled with it.
    void SetPowerOnly(bool value);
    bool StopBatteryEnabled() const { return PowerOnly; }

    // OK: the record gets every value (also those of unchecked groups).
    void Apply(TAdvancedSettings& settings) const;

    static void SetMinutes(TAdvPair& pair, int minutes, bool limit);
};

// Execute on the record: OK writes it and gives true, Cancel leaves it.
bool FinishAdvancedSettings(const TAdvancedScheduleModel& model, bool accepted, TAdvancedSettings& settings);

} // namespace kes
