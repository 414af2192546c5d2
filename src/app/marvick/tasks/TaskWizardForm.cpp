#include "app/marvick/tasks/TaskWizardForm.h"

#include "app/marvick/tasks/AdvancedScheduleDlg.h"
#include "app/marvick/tasks/ErrorActionDlg.h"
#include "frame/Help.h"
#include "frame/I18n.h"
#include "ui/CheckComboBox.h"
#include "ui/MessageDialog.h"
#include "ui/PickerDialogs.h"
#include "ui/UnitSpinBox.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace kes {

namespace {

constexpr std::array<const char*, 7> kWeekDays {
    N_("Monday"), N_("Tuesday"), N_("Wednesday"), N_("Thursday"), N_("Friday"), N_("Saturday"), N_("Sunday")};
constexpr std::array<const char*, 12> kMonths {N_("Jan"), N_("Feb"), N_("Mar"), N_("Apr"), N_("May"),
    N_("Jun"), N_("Jul"), N_("Aug"), N_("Sep"), N_("Oct"), N_("Nov"), N_("Dec")};
constexpr std::array<const char*, 5> kWeeks {
    N_("First"), N_("Second"), N_("Third"), N_("Fourth"), N_("Last")};

QStringList Texts(const auto& list)
{
    QStringList out;
    for (const char* t : list)
        out << Tr(t);
    return out;
}

// The event query in an editable text dialog; false when cancelled.
bool EditQuery(QWidget* parent, const QString& title, QString& query)
{
    QDialog d(parent);
    d.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&d);
    layout->addWidget(new QLabel(_("Query string to select the event:"), &d));
    auto* edit = new QPlainTextEdit(WakeUpQueryForEditing(query), &d);
    layout->addWidget(edit);
    auto* row = new QHBoxLayout;
    auto* ok = new QPushButton(_("OK"), &d);
    auto* cancel = new QPushButton(_("Cancel"), &d);
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    layout->addLayout(row);
    QObject::connect(ok, &QPushButton::clicked, &d, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &d, &QDialog::reject);
    d.resize(560, 260);
    if (d.exec() != QDialog::Accepted)
        return false;
    query = WakeUpQueryFromEditing(edit->toPlainText());
    return true;
}

} // namespace

TTaskWizardForm::TTaskWizardForm(QWidget* parent)
    : QDialog(parent)
{
    auto* top = new QVBoxLayout(this);
    auto* nameRow = new QFormLayout;
    FTaskName = new QLineEdit(this);
    FTaskName->setReadOnly(true);
    nameRow->addRow(_("Name of scheduled task:"), FTaskName);
    top->addLayout(nameRow);

    FMainPages = new QStackedWidget(this);
    FMainPages->addWidget(BuildSettingsPage());
    FMainPages->addWidget(BuildSchedulePage());
    top->addWidget(FMainPages, 1);

    auto* buttons = new QHBoxLayout;
    auto* help = new QPushButton(_("Help"), this);
    FBack = new QPushButton(_("Back"), this);
    FNext = new QPushButton(_("Next"), this);
    FCancel = new QPushButton(_("Cancel"), this);
    FNext->setDefault(true);
    buttons->addWidget(help);
    buttons->addStretch();
    buttons->addWidget(FBack);
    buttons->addWidget(FNext);
    buttons->addWidget(FCancel);
    top->addLayout(buttons);

    connect(help, &QPushButton::clicked, this, [this] {
        ShowHelp(QStringLiteral("kestrup-sched.html"),
            [this](const QString& m) { ShowErrorMessage(windowTitle(), m, this); });
    });
    connect(FCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(FBack, &QPushButton::clicked, this, [this] {
        FWizard->Back();
        ShowStep();
    });
    connect(FNext, &QPushButton::clicked, this, [this] {
        bool finished = false;
        FWizard->Next(*FUi, finished);
        if (finished) {
            accept();
            return;
        }
        ShowStep();
        if (FWizard->Step() == TWizardStep::wsAccount && FPassword->isVisible())
            FPassword->setFocus();
    });
}

TTaskWizardForm::~TTaskWizardForm() = default;

QWidget* TTaskWizardForm::BuildSettingsPage()
{
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);
    int r = 0;
    FTaskLabel = new QLabel(page);
    FTaskField = new QLineEdit(page);
    FAddTask = new QPushButton(_("Add backup task"), page);
    grid->addWidget(FTaskLabel, r, 0);
    grid->addWidget(FTaskField, r, 1, 1, 2);
    grid->addWidget(FAddTask, r++, 3);
    FFixed = new QLineEdit(page);
    FFixed->setReadOnly(true);
    FFixed->setToolTip(_("Fixed parameters"));
    grid->addWidget(new QLabel(_("Command line parameters:"), page), r, 0);
    grid->addWidget(FFixed, r++, 1, 1, 3);
    FUserOptions = new QLineEdit(page);
    FUserOptions->setToolTip(_("User defined parameters"));
    grid->addWidget(FUserOptions, r++, 1, 1, 3);
    FStartIn = new QLineEdit(page);
    FStartInButton = new QPushButton(QStringLiteral("..."), page);
    grid->addWidget(new QLabel(_("Start in (optional):"), page), r, 0);
    grid->addWidget(FStartIn, r, 1, 1, 2);
    grid->addWidget(FStartInButton, r++, 3);
    FIniFile = new QLineEdit(page);
    grid->addWidget(new QLabel(_("Ini file:"), page), r, 0);
    grid->addWidget(FIniFile, r++, 1, 1, 3);
    FStatusWindow = new QComboBox(page);
    for (int i = 0; i <= int(TStatusWindow::swNotVisibleExceptErrors); ++i)
        FStatusWindow->addItem(StatusWindowText(TStatusWindow(i)));
    grid->addWidget(new QLabel(_("Status window"), page), r, 0);
    grid->addWidget(FStatusWindow, r, 1);
    auto* close = new QHBoxLayout;
    FCloseAfter = new QSpinBox(page);
    FCloseAfter->setRange(1, 99);
    FSecondsLabel = new QLabel(_("seconds"), page);
    close->addWidget(new QLabel(_("Close after:"), page));
    close->addWidget(FCloseAfter);
    close->addWidget(FSecondsLabel);
    grid->addLayout(close, r++, 2, 1, 2);
    FNoSplash = new QCheckBox(_("No splash screen"), page);
    FParallel = new QCheckBox(_("Parallel processing of tasks"), page);
    grid->addWidget(FNoSplash, r, 1);
    grid->addWidget(FParallel, r++, 2, 1, 2);
    FSubAction = new QComboBox(page);
    for (int i = 0; i <= int(TSubsequentAction::saRestart); ++i)
        FSubAction->addItem(SubsequentActionText(TSubsequentAction(i)));
    FErrorHandling = new QPushButton(_("Error handling"), page);
    grid->addWidget(new QLabel(_("Subsequent action"), page), r, 0);
    grid->addWidget(FSubAction, r, 1);
    grid->addWidget(FErrorHandling, r++, 2);
    FLogMode = new QComboBox(page);
    for (int i = 0; i <= int(TLogMode::lmVerbose); ++i)
        FLogMode->addItem(LogModeText(TLogMode(i)));
    grid->addWidget(new QLabel(_("Log mode"), page), r, 0);
    grid->addWidget(FLogMode, r++, 1);
    FPriority = new QComboBox(page);
    for (int i = 0; i <= int(TProcessPriority::ppHigh); ++i)
        FPriority->addItem(ProcessPriorityText(TProcessPriority(i)));
    grid->addWidget(new QLabel(_("Process priority"), page), r, 0);
    grid->addWidget(FPriority, r++, 1);
    grid->setRowStretch(r, 1);

    auto changed = [this] {
        if (FLoading || !FWizard)
            return;
        TTaskCommandValues& v = FWizard->Pages().Command;
        v.TaskList = FTaskField->text();
        v.UserOptions = FUserOptions->text();
        v.IniFile = FIniFile->text();
        v.StatusWindow = TStatusWindow(FStatusWindow->currentIndex());
        v.CloseAfter = FCloseAfter->value();
        v.NoSplash = FNoSplash->isChecked();
        v.Parallel = FParallel->isChecked();
        v.SubAction = TSubsequentAction(FSubAction->currentIndex());
        v.LogMode = TLogMode(FLogMode->currentIndex());
        v.Priority = TProcessPriority(FPriority->currentIndex());
        FWizard->Pages().WorkingDirectory = FStartIn->text();
        UpdateSettingsState();
    };
    for (QLineEdit* e : {FTaskField, FUserOptions, FIniFile, FStartIn})
        connect(e, &QLineEdit::textEdited, this, changed);
    for (QComboBox* c : {FStatusWindow, FSubAction, FLogMode, FPriority})
        connect(c, &QComboBox::currentIndexChanged, this, changed);
    connect(FCloseAfter, &QSpinBox::valueChanged, this, changed);
    for (QCheckBox* c : {FNoSplash, FParallel})
        connect(c, &QCheckBox::toggled, this, changed);
    connect(FErrorHandling, &QPushButton::clicked, this, [this] {
        int mask = FWizard->Pages().Command.ActErr;
        if (TErrorActionDialog::Execute(FErrorHandling->mapToGlobal(QPoint(0, FErrorHandling->height())),
                SubsequentActionText(FWizard->Pages().Command.SubAction), mask, this)) {
            FWizard->Pages().Command.ActErr = mask;
            UpdateSettingsState();
        }
    });
    connect(FAddTask, &QPushButton::clicked, this, [this] {
        const TKesActionInfo& info = KesActionInfo(FWizard->Kind());
        const QString filter = Tr(info.FileFilterName) + QStringLiteral(" (*")
            + QString::fromUtf8(info.Extension) + QStringLiteral(")");
        const QStringList files = QFileDialog::getOpenFileNames(
            this, _("Select tasks to be executed"), FWizard->TaskFilesStartFolder(), filter);
        if (files.isEmpty())
            return;
        FWizard->AddTaskFiles(files);
        FromModel();
    });
    connect(FStartInButton, &QPushButton::clicked, this, [this] {
        const QString start
            = FStartIn->text().isEmpty() ? QCoreApplication::applicationDirPath() : FStartIn->text();
        const QString dir = SelectDirectory(this, _("Select backup directory"), start);
        if (dir.isEmpty())
            return;
        FWizard->Pages().WorkingDirectory = dir;
        FStartIn->setText(dir);
        FStartIn->setToolTip(dir);
    });
    return page;
}

QWidget* TTaskWizardForm::DateTimeRow(QWidget* parent)
{
    auto* picker = new QDateTimeEdit(parent);
    picker->setCalendarPopup(true);
    picker->setDisplayFormat(QStringLiteral("yyyy-MM-dd  HH:mm"));
    FPickers.push_back(picker);
    connect(picker, &QDateTimeEdit::dateTimeChanged, this, [this](const QDateTime& value) {
        if (FLoading || !FWizard)
            return;
        FWizard->Pages().Start = value;
        SetAllPickers(value);
    });
    return picker;
}

QPushButton* TTaskWizardForm::AdvancedButton(QWidget* parent)
{
    auto* b = new QPushButton(_("Advanced settings ..."), parent);
    connect(b, &QPushButton::clicked, this,
        [this] { TAdvancedScheduleDialog::Execute(FWizard->Pages().AdvSet, this); });
    return b;
}

QWidget* TTaskWizardForm::BuildSchedulePage()
{
    auto* page = new QWidget(this);
    auto* top = new QVBoxLayout(page);
    auto* head = new QHBoxLayout;
    FStartKind = new QComboBox(page);
    for (int i = 0; i <= int(TStartKind::skWakeUp); ++i)
        FStartKind->addItem(StartKindText(TStartKind(i)));
    head->addWidget(new QLabel(_("Perform this task:"), page));
    head->addWidget(FStartKind);
    FEnabled = new QCheckBox(_("Schedule enabled"), page);
    head->addWidget(FEnabled);
    head->addStretch();
    top->addLayout(head);
    FHeader = new QLabel(page);
    QFont bold = FHeader->font();
    bold.setBold(true);
    FHeader->setFont(bold);
    top->addWidget(FHeader);
    FSubPages = new QStackedWidget(page);
    top->addWidget(FSubPages, 1);

    auto startRow = [this](QWidget* sub, QGridLayout* grid) {
        grid->addWidget(new QLabel(_("Start:"), sub), 0, 0);
        grid->addWidget(DateTimeRow(sub), 0, 1);
        grid->addWidget(AdvancedButton(sub), 0, 3);
    };

    // Daily.
    {
        auto* sub = new QWidget(FSubPages);
        auto* g = new QGridLayout(sub);
        startRow(sub, g);
        FEveryDay = new QRadioButton(_("Every day"), sub);
        FEveryNDays = new QRadioButton(_("Every"), sub);
        FDays = new QSpinBox(sub);
        FDays->setRange(2, 99);
        g->addWidget(FEveryDay, 1, 0);
        g->addWidget(FEveryNDays, 2, 0);
        g->addWidget(FDays, 2, 1);
        g->addWidget(new QLabel(_("days"), sub), 2, 2);
        g->setRowStretch(3, 1);
        FSubPages->addWidget(sub);
    }
    // Weekly.
    {
        auto* sub = new QWidget(FSubPages);
        auto* g = new QGridLayout(sub);
        startRow(sub, g);
        FWeeks = new QSpinBox(sub);
        FWeeks->setRange(1, 99);
        g->addWidget(new QLabel(_("Every"), sub), 1, 0);
        g->addWidget(FWeeks, 1, 1);
        g->addWidget(new QLabel(_("weeks"), sub), 1, 2);
        for (int d = 0; d < 7; ++d) {
            FWeekDays[std::size_t(d)] = new QCheckBox(Tr(kWeekDays[std::size_t(d)]), sub);
            g->addWidget(FWeekDays[std::size_t(d)], 2 + d / 4, d % 4);
            connect(FWeekDays[std::size_t(d)], &QCheckBox::clicked, this, [this, d](bool on) {
                FWizard->Pages().WeekDays = ToggleWeekDay(FWizard->Pages().WeekDays, d, on);
                FromModel();
            });
        }
        g->setRowStretch(4, 1);
        FSubPages->addWidget(sub);
    }
    // Monthly.
    {
        auto* sub = new QWidget(FSubPages);
        auto* g = new QGridLayout(sub);
        startRow(sub, g);
        FOnDays = new QRadioButton(_("Days:"), sub);
        FOnWeeks = new QRadioButton(_("On:"), sub);
        FMonthDays = new TCheckComboBox(sub);
        QStringList days;
        for (int d = 1; d <= 31; ++d)
            days << QString::number(d);
        days << _("Last");
        FMonthDays->Items().SetItems(days);
        FMonthWeeks = new TCheckComboBox(sub);
        FMonthWeeks->Items().SetItems(Texts(kWeeks));
        FMonthWeekDays = new TCheckComboBox(sub);
        FMonthWeekDays->Items().SetItems(Texts(kWeekDays));
        g->addWidget(FOnDays, 1, 0);
        g->addWidget(FMonthDays, 1, 1, 1, 2);
        g->addWidget(FOnWeeks, 2, 0);
        g->addWidget(FMonthWeeks, 2, 1);
        g->addWidget(FMonthWeekDays, 2, 2);
        auto* months = new QGridLayout;
        for (int m = 0; m < 12; ++m) {
            FMonths[std::size_t(m)] = new QCheckBox(Tr(kMonths[std::size_t(m)]), sub);
            months->addWidget(FMonths[std::size_t(m)], m / 6, m % 6);
            connect(FMonths[std::size_t(m)], &QCheckBox::clicked, this, [this, m](bool on) {
                FWizard->Pages().Months = ToggleMonth(FWizard->Pages().Months, m, on);
                FromModel();
            });
        }
        g->addLayout(months, 3, 0, 1, 4);
        g->setRowStretch(4, 1);
        FSubPages->addWidget(sub);
        connect(&FMonthDays->Items(), &TCheckListModel::CheckedChanged, this, [this] {
            if (!FLoading && FWizard)
                FWizard->Pages().MonthDays = quint32(FMonthDays->Items().CheckedMask());
        });
        connect(&FMonthWeeks->Items(), &TCheckListModel::CheckedChanged, this, [this] {
            if (!FLoading && FWizard)
                FWizard->Pages().MonthWeeks = int(FMonthWeeks->Items().CheckedMask());
        });
        connect(&FMonthWeekDays->Items(), &TCheckListModel::CheckedChanged, this, [this] {
            if (!FLoading && FWizard)
                FWizard->Pages().MonthWeekDays = int(FMonthWeekDays->Items().CheckedMask());
        });
        connect(FOnDays, &QRadioButton::toggled, this, [this](bool on) {
            if (!FLoading && FWizard) {
                FWizard->Pages().MonthlyOnDays = on;
                UpdateScheduleState();
            }
        });
    }
    const QStringList delayUnits {DelayUnitText(TDelayUnit::duHours), DelayUnitText(TDelayUnit::duMinutes),
        DelayUnitText(TDelayUnit::duSeconds)};
    // One time.
    {
        auto* sub = new QWidget(FSubPages);
        auto* g = new QGridLayout(sub);
        startRow(sub, g);
        FRandomCheck = new QCheckBox(_("Delay task for up to (random delay):"), sub);
        FRandom = new TUnitSpinBox(sub);
        FRandom->SetUnits(delayUnits);
        g->addWidget(FRandomCheck, 1, 0, 1, 2);
        g->addWidget(FRandom, 1, 2);
        g->setRowStretch(2, 1);
        FSubPages->addWidget(sub);
    }
    // Event (logon, waking up).
    {
        auto* sub = new QWidget(FSubPages);
        auto* g = new QGridLayout(sub);
        FEventCaption = new QLabel(sub);
        FEventAccount = new QLabel(sub);
        g->addWidget(FEventCaption, 0, 0);
        g->addWidget(FEventAccount, 0, 1, 1, 2);
        g->addWidget(AdvancedButton(sub), 0, 3);
        FActivate = new QCheckBox(_("Activate:"), sub);
        g->addWidget(FActivate, 1, 0);
        FActivatePicker = qobject_cast<QDateTimeEdit*>(DateTimeRow(sub));
        g->addWidget(FActivatePicker, 1, 1);
        FDelayCheck = new QCheckBox(_("Delay task for:"), sub);
        FDelay = new TUnitSpinBox(sub);
        FDelay->SetUnits(delayUnits);
        g->addWidget(FDelayCheck, 2, 0);
        g->addWidget(FDelay, 2, 1);
        FUserEvent = new QPushButton(_("User defined event"), sub);
        FResetEvent = new QPushButton(_("Reset to default event"), sub);
        g->addWidget(FUserEvent, 3, 0);
        g->addWidget(FResetEvent, 3, 1);
        g->setRowStretch(4, 1);
        FSubPages->addWidget(sub);
        connect(FUserEvent, &QPushButton::clicked, this, [this] {
            QString q = FWizard->Pages().WakeUpQuery;
            if (EditQuery(this, FWizard->EventCaption(), q))
                FWizard->Pages().WakeUpQuery = q;
        });
        connect(FResetEvent, &QPushButton::clicked, this,
            [this] { FWizard->Pages().WakeUpQuery = DefaultWakeUpQuery(); });
        connect(FActivate, &QCheckBox::toggled, this, [this](bool on) {
            if (!FLoading && FWizard) {
                FWizard->Pages().Activate = on;
                UpdateScheduleState();
            }
        });
    }
    // User account.
    {
        auto* sub = new QWidget(FSubPages);
        auto* g = new QGridLayout(sub);
        FDescription = new QLineEdit(sub);
        g->addWidget(new QLabel(_("Description:"), sub), 0, 0);
        g->addWidget(FDescription, 0, 1, 1, 2);
        g->addWidget(new QLabel(_("Start this task:"), sub), 1, 0);
        FLoggedOn = new QRadioButton(_("As logged-on user"), sub);
        FWithPassword = new QRadioButton(_("As any user with password"), sub);
        g->addWidget(FLoggedOn, 1, 1);
        g->addWidget(FWithPassword, 1, 2);
        FUserName = new QLineEdit(sub);
        g->addWidget(new QLabel(_("User name:"), sub), 2, 0);
        g->addWidget(FUserName, 2, 1, 1, 2);
        FPasswordLabel = new QLabel(_("Password:"), sub);
        FPassword = new QLineEdit(sub);
        FPassword->setEchoMode(QLineEdit::Password);
        g->addWidget(FPasswordLabel, 3, 0);
        g->addWidget(FPassword, 3, 1, 1, 2);
        FHighest = new QCheckBox(_("Run with highest privileges"), sub);
        g->addWidget(FHighest, 4, 1, 1, 2);
        FLogonNote = new QLabel(
            _("On this computer a task runs from your own service manager. \"As logged-on user\": it runs "
              "while you "
              "are logged on. \"As any user with password\": your service manager is kept running while you "
              "are "
              "logged off (lingering is switched on for your account), so the task runs whether you are "
              "logged on "
              "or not. Only your own account can be given, and the password is neither checked nor stored."),
            sub);
        FLogonNote->setWordWrap(true);
        g->addWidget(FLogonNote, 5, 0, 1, 3);
        g->setRowStretch(6, 1);
        FSubPages->addWidget(sub);
        connect(FLoggedOn, &QRadioButton::toggled, this, [this](bool on) {
            if (FLoading || !FWizard)
                return;
            FWizard->ChooseAccount(on);
            FromModel();
        });
        connect(FUserName, &QLineEdit::textEdited, this,
            [this](const QString& t) { FWizard->Pages().UserName = t; });
        connect(FPassword, &QLineEdit::textEdited, this,
            [this](const QString& t) { FWizard->Pages().Password = t; });
        connect(FDescription, &QLineEdit::textEdited, this,
            [this](const QString& t) { FWizard->Pages().Description = t; });
        connect(FHighest, &QCheckBox::toggled, this, [this](bool on) {
            if (!FLoading && FWizard)
                FWizard->Pages().HighestRunLevel = on;
        });
    }

    connect(FStartKind, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (FLoading || !FWizard)
            return;
        FWizard->Pages().StartKind = TStartKind(index);
        ShowStep();
    });
    connect(FEnabled, &QCheckBox::toggled, this, [this](bool on) {
        if (!FLoading && FWizard)
            FWizard->Pages().ScheduleEnabled = on;
    });
    connect(FEveryDay, &QRadioButton::toggled, this, [this](bool on) {
        if (!FLoading && FWizard) {
            FWizard->Pages().EveryDay = on;
            UpdateScheduleState();
        }
    });
    connect(FDays, &QSpinBox::valueChanged, this, [this](int v) {
        if (!FLoading && FWizard)
            FWizard->Pages().DaysInterval = v;
    });
    connect(FWeeks, &QSpinBox::valueChanged, this, [this](int v) {
        if (!FLoading && FWizard)
            FWizard->Pages().WeeksInterval = v;
    });
    auto delayPair = [this](QCheckBox* check, TUnitSpinBox* box, bool random) {
        auto pair = [this, random]() -> TDelayPair& {
            return random ? FWizard->Pages().RandomDelay : FWizard->Pages().Delay;
        };
        connect(check, &QCheckBox::toggled, this, [this, pair](bool on) {
            if (!FLoading && FWizard) {
                pair().Checked = on;
                UpdateScheduleState();
            }
        });
        connect(box, &TUnitSpinBox::UnitChosen, this, [this, box, pair](int unit) {
            pair().ChooseUnit(TDelayUnit(unit));
            ShowDelay(box, pair());
        });
        connect(box, &TUnitSpinBox::ValueChosen, this, [pair](int v) { pair().Value = v; });
    };
    delayPair(FRandomCheck, FRandom, true);
    delayPair(FDelayCheck, FDelay, false);
    return page;
}

void TTaskWizardForm::ShowDelay(TUnitSpinBox* box, const TDelayPair& pair)
{
    box->SetState(int(pair.Unit), 1, pair.Maximum, pair.Step, pair.Value);
    box->SetHint(NumberOfHint(DelayUnitText(pair.Unit)));
}

void TTaskWizardForm::SetAllPickers(const QDateTime& value)
{
    const bool loading = FLoading;
    FLoading = true;
    for (QDateTimeEdit* p : FPickers)
        p->setDateTime(value);
    FLoading = loading;
}

void TTaskWizardForm::FromModel()
{
    FLoading = true;
    const TTaskWizardPages& p = FWizard->Pages();
    const TKesAction kind = FWizard->Kind();
    const TKesActionInfo& info = KesActionInfo(kind);
    setWindowTitle(TaskWizardCaption(kind));
    FTaskName->setText(p.TaskName);
    FTaskLabel->setText(KesActionTaskLabel(kind));
    FTaskField->setText(p.Command.TaskList);
    FTaskField->setReadOnly(!info.TaskFieldWritable);
    FAddTask->setVisible(info.TaskFieldWritable);
    FErrorHandling->setVisible(info.ErrorHandling);
    FUserOptions->setText(p.Command.UserOptions);
    FStartIn->setText(p.WorkingDirectory);
    FIniFile->setText(p.Command.IniFile);
    FStatusWindow->setCurrentIndex(int(p.Command.StatusWindow));
    FCloseAfter->setValue(p.Command.CloseAfter);
    FNoSplash->setChecked(p.Command.NoSplash);
    FParallel->setChecked(p.Command.Parallel);
    FSubAction->setCurrentIndex(int(p.Command.SubAction));
    FLogMode->setCurrentIndex(int(p.Command.LogMode));
    FPriority->setCurrentIndex(int(p.Command.Priority));

    FStartKind->setCurrentIndex(int(p.StartKind));
    FEnabled->setChecked(p.ScheduleEnabled);
    FHeader->setText(p.Header);
    for (QDateTimeEdit* picker : FPickers)
        picker->setDateTime(p.Start);
    FEveryDay->setChecked(p.EveryDay);
    FEveryNDays->setChecked(!p.EveryDay);
    FDays->setValue(p.DaysInterval);
    FWeeks->setValue(p.WeeksInterval);
    for (int d = 0; d < 7; ++d)
        FWeekDays[std::size_t(d)]->setChecked(p.WeekDays & (1 << d));
    FOnDays->setChecked(p.MonthlyOnDays);
    FOnWeeks->setChecked(!p.MonthlyOnDays);
    FMonthDays->Items().SetCheckedMask(p.MonthDays);
    FMonthWeeks->Items().SetCheckedMask(quint64(p.MonthWeeks));
    FMonthWeekDays->Items().SetCheckedMask(quint64(p.MonthWeekDays));
    for (int m = 0; m < 12; ++m)
        FMonths[std::size_t(m)]->setChecked(p.Months & (1 << m));
    FRandomCheck->setChecked(p.RandomDelay.Checked);
    ShowDelay(FRandom, p.RandomDelay);
    FActivate->setChecked(p.Activate);
    FDelayCheck->setChecked(p.Delay.Checked);
    ShowDelay(FDelay, p.Delay);
    FEventAccount->setText(p.LogonAccount);
    FDescription->setText(p.Description);
    FLoggedOn->setChecked(p.AsLoggedOnUser);
    FWithPassword->setChecked(!p.AsLoggedOnUser);
    FUserName->setText(p.UserName);
    FPassword->setText(p.Password);
    FHighest->setChecked(p.HighestRunLevel);
    FLoading = false;
    UpdateSettingsState();
    UpdateScheduleState();
}

void TTaskWizardForm::UpdateSettingsState()
{
    FFixed->setText(FWizard->FixedParameters());
    FCloseAfter->setEnabled(FWizard->CloseAfterEnabled());
    FSecondsLabel->setEnabled(FWizard->CloseAfterEnabled());
    FErrorHandling->setEnabled(FWizard->ErrorHandlingEnabled());
    FErrorHandling->setToolTip(FWizard->ErrorHandlingEnabled() ? FWizard->ErrorHandlingHint() : QString());
}

void TTaskWizardForm::UpdateScheduleState()
{
    const TTaskWizardPages& p = FWizard->Pages();
    FDays->setEnabled(!p.EveryDay);
    FMonthDays->setEnabled(p.MonthlyOnDays);
    FMonthWeeks->setEnabled(!p.MonthlyOnDays);
    FMonthWeekDays->setEnabled(!p.MonthlyOnDays);
    FRandom->setEnabled(p.RandomDelay.Checked);
    FDelay->setEnabled(p.Delay.Checked);
    FActivatePicker->setEnabled(p.Activate);
    const bool logon = p.StartKind == TStartKind::skLogon;
    FEventCaption->setText(FWizard->EventCaption());
    FEventAccount->setVisible(logon);
    FUserEvent->setVisible(!logon);
    FResetEvent->setVisible(!logon);
    FUserName->setEnabled(!p.AsLoggedOnUser);
    FPassword->setVisible(!p.AsLoggedOnUser);
    FPasswordLabel->setVisible(!p.AsLoggedOnUser);
}

void TTaskWizardForm::ShowStep()
{
    const TWizardStep step = FWizard->Step();
    FMainPages->setCurrentIndex(step == TWizardStep::wsSettings ? 0 : 1);
    FSubPages->setCurrentIndex(int(FWizard->CurrentPage()));
    FBack->setEnabled(FWizard->BackEnabled());
    FNext->setText(FWizard->NextIsDone() ? _("Done") : _("Next"));
    UpdateScheduleState();
}

void TTaskWizardForm::Bind(TTaskWizard& wizard, ITaskWizardUi& ui)
{
    FWizard = &wizard;
    FUi = &ui;
    FromModel();
    ShowStep();
}

bool TTaskWizardForm::Run(TTaskWizard& wizard, ITaskWizardUi& ui)
{
    Bind(wizard, ui);
    return exec() == QDialog::Accepted;
}

void TTaskWizardForm::keyPressEvent(QKeyEvent* event)
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
