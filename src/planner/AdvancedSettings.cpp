#include "planner/AdvancedSettings.h"

#include "frame/I18n.h"

#include <array>

namespace kes {

namespace {
constexpr std::array<const char*, 3> kUnits {N_("day(s)"), N_("hour(s)"), N_("minute(s)")};
} // namespace

QString AdvUnitText(TAdvUnit unit)
{
    return Tr(kUnits[std::size_t(unit)]);
}

void TAdvPair::ChooseUnit(TAdvUnit unit, bool limit)
{
    Unit = unit;
    switch (unit) {
    case TAdvUnit::auDays:
        Maximum = 3650;
        Value = 3;
        Step = 1;
        break;
    case TAdvUnit::auHours:
        Maximum = 167;
        Value = limit ? 6 : 1;
        Step = 1;
        break;
    case TAdvUnit::auMinutes:
        Maximum = 1439;
        Value = 30;
        Step = 10;
        break;
    }
}

int TAdvPair::Minutes() const
{
    switch (Unit) {
    case TAdvUnit::auDays:
        return Value * 1440;
    case TAdvUnit::auHours:
        return Value * 60;
    case TAdvUnit::auMinutes:
        break;
    }
    return Value;
}

void TAdvancedScheduleModel::SetMinutes(TAdvPair& pair, int minutes, bool limit)
{
    minutes = std::max(minutes, 0);
    if (limit && (minutes % 1440 == 0 || minutes >= 10080)) {
        pair.Unit = TAdvUnit::auDays;
        pair.Maximum = 365;
        pair.Step = 1;
        pair.Value = std::min(minutes / 1440, pair.Maximum);
    } else if (minutes % 60 != 0 && (!limit || minutes < 1440)) {
        pair.Unit = TAdvUnit::auMinutes;
        pair.Maximum = 1439;
        pair.Step = 10;
        pair.Value = std::min(minutes, pair.Maximum);
    } else {
        pair.Unit = TAdvUnit::auHours;
        pair.Maximum = 167;
        pair.Step = 1;
        pair.Value = std::min(minutes / 60, pair.Maximum);
    }
    pair.Value = std::max(pair.Value, pair.Minimum);
}

TAdvancedScheduleModel::TAdvancedScheduleModel(const TAdvancedSettings& s, const QDateTime& now)
{
    Expire = s.UseEndDate;
    if (Expire && s.EndDate.isValid()) {
        ExpireAt = s.EndDate;
    } else {
        const QDate today = now.date();
        ExpireAt = QDateTime(today.addDays(QDate::isLeapYear(today.year()) ? 366 : 365), QTime(12, 0));
    }
    Repeat = s.RepeatTask;
    Interval.Minimum = 1;
    Duration.Minimum = 0;
    Limit.Minimum = 1;
    SetMinutes(Interval, s.MinutesInterval, false);
    SetMinutes(Duration, s.MinutesDuration, false);
    StopAtDurationEnd = s.StopEndDuration;
    UseLimit = s.UseLimit;
    SetMinutes(Limit, s.MinutesLimit, true);
    ReRun = s.ReRun;
    PowerOnly = s.PowerOnly;
    StopBattery = s.PowerOnly && s.StopBattery;
    WakeUp = s.WakeUp;
    NetworkOnly = s.NetworkOnly;
}

void TAdvancedScheduleModel::SetPowerOnly(bool value)
{
    PowerOnly = value;
    StopBattery = value;
}

void TAdvancedScheduleModel::Apply(TAdvancedSettings& s) const
{
    s.UseEndDate = Expire;
    if (Expire)
        s.EndDate = QDateTime(ExpireAt.date(), QTime(ExpireAt.time().hour(), ExpireAt.time().minute()));
    s.MinutesInterval = Interval.Minutes();
    s.RepeatTask = Repeat;
    s.MinutesDuration = Duration.Minutes();
    s.StopEndDuration = StopAtDurationEnd;
    s.MinutesLimit = Limit.Minutes();
    s.UseLimit = UseLimit;
    s.ReRun = ReRun;
    s.PowerOnly = PowerOnly;
    s.StopBattery = PowerOnly && StopBattery;
    s.WakeUp = WakeUp;
    s.NetworkOnly = NetworkOnly;
}

bool FinishAdvancedSettings(const TAdvancedScheduleModel& model, bool accepted, TAdvancedSettings& settings)
{
    if (accepted)
        model.Apply(settings);
    return accepted;
}

} // namespace kes
