#include "app/marvick/tasks/AdvancedScheduleDlg.h"

#include "frame/I18n.h"
#include "ui/PickerDialogs.h"
#include "ui/UnitSpinBox.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace kes {

namespace {

// The unit lists: the repetition pairs have hours and minutes, the limit
// days, hours and minutes; the list index to the unit and back.
TAdvUnit UnitOfIndex(int index, bool limit)
{
    if (limit)
        return TAdvUnit(index);
    return index == 0 ? TAdvUnit::auHours : TAdvUnit::auMinutes;
}

int IndexOfUnit(TAdvUnit unit, bool limit)
{
    if (limit)
        return int(unit);
    return unit == TAdvUnit::auMinutes ? 1 : 0;
}

} // namespace

TAdvancedScheduleDialog::TAdvancedScheduleDialog(
    const TAdvancedSettings& settings, const QDateTime& now, QWidget* parent)
    : QDialog(parent)
    , FModel(settings, now)
{
    setWindowTitle(_("Advanced Schedule Options"));
    auto* top = new QVBoxLayout(this);
    auto* columns = new QHBoxLayout;
    top->addLayout(columns);

    auto* left = new QGridLayout;
    columns->addLayout(left);
    FExpire = new QCheckBox(_("Expire:"), this);
    FDate = new QDateEdit(this);
    FDate->setCalendarPopup(true);
    FTime = new QTimeEdit(this);
    FTime->setDisplayFormat(QStringLiteral("HH:mm"));
    left->addWidget(FExpire, 0, 0);
    left->addWidget(FDate, 0, 1);
    left->addWidget(FTime, 0, 2);
    FRepeat = new QCheckBox(_("Repeat task:"), this);
    left->addWidget(FRepeat, 1, 0, 1, 3);
    const QStringList repeatUnits {AdvUnitText(TAdvUnit::auHours), AdvUnitText(TAdvUnit::auMinutes)};
    FInterval = new TUnitSpinBox(this);
    FInterval->SetUnits(repeatUnits);
    FDuration = new TUnitSpinBox(this);
    FDuration->SetUnits(repeatUnits);
    left->addWidget(new QLabel(_("Every:"), this), 2, 0);
    left->addWidget(FInterval, 2, 1, 1, 2);
    left->addWidget(new QLabel(_("for a duration of:"), this), 3, 0);
    left->addWidget(FDuration, 3, 1, 1, 2);
    FStopEnd = new QCheckBox(_("Stop all running tasks at end of repetition duration"), this);
    left->addWidget(FStopEnd, 4, 0, 1, 3);
    FUseLimit = new QCheckBox(_("Stop task if it runs longer than:"), this);
    FLimit = new TUnitSpinBox(this);
    FLimit->SetUnits(
        {AdvUnitText(TAdvUnit::auDays), AdvUnitText(TAdvUnit::auHours), AdvUnitText(TAdvUnit::auMinutes)});
    left->addWidget(FUseLimit, 5, 0);
    left->addWidget(FLimit, 5, 1, 1, 2);

    auto* right = new QVBoxLayout;
    columns->addLayout(right);
    FReRun = new QCheckBox(_("Run task as soon as possible after a scheduled start is missed"), this);
    FPower = new QCheckBox(_("Start the task only if the computer is on AC power"), this);
    FBattery = new QCheckBox(_("Stop if the computer switches to battery power"), this);
    FWake = new QCheckBox(_("Wake the computer to run this task"), this);
    FNetwork = new QCheckBox(_("Start the task only if a network connection is available"), this);
    right->addWidget(FReRun);
    right->addWidget(FPower);
    auto* indent = new QHBoxLayout;
    indent->addSpacing(20);
    indent->addWidget(FBattery);
    right->addLayout(indent);
    right->addWidget(FWake);
    right->addWidget(FNetwork);
    right->addStretch();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(_("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(_("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    top->addWidget(buttons);

    // The controls from the model.
    FExpire->setChecked(FModel.Expire);
    FDate->setDate(FModel.ExpireAt.date());
    FTime->setTime(FModel.ExpireAt.time());
    FRepeat->setChecked(FModel.Repeat);
    ShowPair(FInterval, FModel.Interval);
    ShowPair(FDuration, FModel.Duration);
    FStopEnd->setChecked(FModel.StopAtDurationEnd);
    FUseLimit->setChecked(FModel.UseLimit);
    ShowPair(FLimit, FModel.Limit);
    FReRun->setChecked(FModel.ReRun);
    FPower->setChecked(FModel.PowerOnly);
    FBattery->setChecked(FModel.StopBattery);
    FWake->setChecked(FModel.WakeUp);
    FNetwork->setChecked(FModel.NetworkOnly);

    auto unitHandler = [this](TUnitSpinBox* box, TAdvPair& pair, bool limit) {
        connect(box, &TUnitSpinBox::UnitChosen, this, [this, box, &pair, limit](int index) {
            pair.ChooseUnit(UnitOfIndex(index, limit), limit);
            ShowPair(box, pair);
        });
    };
    unitHandler(FInterval, FModel.Interval, false);
    unitHandler(FDuration, FModel.Duration, false);
    unitHandler(FLimit, FModel.Limit, true);
    connect(FPower, &QCheckBox::toggled, this, [this](bool on) {
        FModel.SetPowerOnly(on);
        FBattery->setChecked(FModel.StopBattery);
        UpdateEnabled();
    });
    for (QCheckBox* c : {FExpire, FRepeat, FUseLimit})
        connect(c, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });
    UpdateEnabled();
}

void TAdvancedScheduleDialog::ShowPair(TUnitSpinBox* box, const TAdvPair& pair)
{
    const bool limit = box == FLimit;
    box->SetState(IndexOfUnit(pair.Unit, limit), pair.Minimum, pair.Maximum, pair.Step, pair.Value);
    box->SetHint(NumberOfHint(AdvUnitText(pair.Unit)));
}

void TAdvancedScheduleDialog::UpdateEnabled()
{
    FDate->setEnabled(FExpire->isChecked());
    FTime->setEnabled(FExpire->isChecked());
    for (QWidget* w : std::initializer_list<QWidget*> {FInterval, FDuration, FStopEnd})
        w->setEnabled(FRepeat->isChecked());
    FLimit->setEnabled(FUseLimit->isChecked());
    FBattery->setEnabled(FPower->isChecked());
}

void TAdvancedScheduleDialog::ReadControls()
{
    FModel.Expire = FExpire->isChecked();
    FModel.ExpireAt = QDateTime(FDate->date(), FTime->time());
    FModel.Repeat = FRepeat->isChecked();
    FModel.Interval.Value = FInterval->Value();
    FModel.Duration.Value = FDuration->Value();
    FModel.StopAtDurationEnd = FStopEnd->isChecked();
    FModel.UseLimit = FUseLimit->isChecked();
    FModel.Limit.Value = FLimit->Value();
    FModel.ReRun = FReRun->isChecked();
    FModel.PowerOnly = FPower->isChecked();
    FModel.StopBattery = FBattery->isEnabled() && FBattery->isChecked();
    FModel.WakeUp = FWake->isChecked();
    FModel.NetworkOnly = FNetwork->isChecked();
}

bool TAdvancedScheduleDialog::Execute(TAdvancedSettings& settings, QWidget* parent)
{
    TAdvancedScheduleDialog dialog(settings, QDateTime::currentDateTime(), parent);
    const bool ok = dialog.exec() == QDialog::Accepted;
    dialog.ReadControls();
    return FinishAdvancedSettings(dialog.Model(), ok, settings);
}

void TAdvancedScheduleDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F11) {
        if (QWidget* w = focusWidget()) {
            QString hint = w->toolTip();
            // A control without a hint: the text of its label.
            for (const QLabel* label : findChildren<QLabel*>())
                if (hint.isEmpty() && label->buddy() == w)
                    hint = label->text();
            if (!hint.isEmpty())
                ShowHint(w, hint);
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace kes
