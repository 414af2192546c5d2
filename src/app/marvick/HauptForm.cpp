#include "app/marvick/HauptForm.h"

#include "app/marvick/DesktopIconDialog.h"
#include "app/marvick/UiText.h"
#include "app/marvick/tasks/TaskSchedDlg.h"
#include "frame/Format.h"
#include "frame/Help.h"
#include "frame/I18n.h"
#include "frame/Version.h"
#include "frame/WinExecute.h"
#include "planner/DesktopShortcut.h"
#include "platform/Paths.h"
#include "ui/FileFilter.h"
#include "ui/IconSet.h"
#include "ui/MessageDialog.h"
#include "ui/Placement.h"

#include "ui_HauptForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QTimer>
#include <QToolTip>

namespace kes {

namespace {

QString Title()
{
    return QStringLiteral("Marvick");
}

} // namespace

THauptForm::THauptForm(TMarvickWindowController& controller, QWidget* parent)
    : QWidget(parent)
    , FController(controller)
    , FUi(std::make_unique<Ui::THauptForm>())
    , FTaskDialog(std::make_unique<TTaskScheduleDialog>(this))
{
    FUi->setupUi(this);
    setWindowTitle(TMarvickWindowController::Caption());
    setWindowIcon(TIconSet::Icon(QStringLiteral("logo")));

    FModel = new TScheduleListModel(FController.Editor(), this);
    FSorted = new QSortFilterProxyModel(this);
    FSorted->setSourceModel(FModel);
    FSorted->setSortRole(TScheduleListModel::SortRole);
    FUi->lvSchedules->setModel(FSorted);
    FUi->lvSchedules->sortByColumn(-1, Qt::AscendingOrder);
    FUi->lvSchedules->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    FUi->lvSchedules->header()->setSectionResizeMode(scTask, QHeaderView::Stretch);

    QStringList days = {QString()};
    const QLocale locale
        = FController.Setup().LanguageCode.isEmpty() ? QLocale() : QLocale(FController.Setup().LanguageCode);
    for (int d = 1; d <= 7; ++d)
        days << locale.dayName(d, QLocale::LongFormat);
    FUi->cbWeekDay->addItems(days);
    FUi->edCycles->setRange(kMinCycles, kMaxCycles);
    FUi->edSteps->setRange(kMinSteps, kMaxSteps);

    FUi->tvPreview->setColumnCount(5);
    FUi->tvPreview->setHeaderLabels(PreviewColumnTitles());
    FUi->tvPreview->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    FUi->btnAdd->setIcon(TIconSet::Icon(QStringLiteral("add")));
    FUi->btnRemove->setIcon(TIconSet::Icon(QStringLiteral("remove")));
    FUi->bbEdit->setIcon(TIconSet::Icon(QStringLiteral("edit")));
    FUi->btnSelTask->setIcon(TIconSet::Icon(QStringLiteral("open")));
    FUi->btInfo->setIcon(TIconSet::Icon(QStringLiteral("about")));
    FUi->bbHelp->setIcon(TIconSet::Icon(QStringLiteral("help")));
    FUi->btnQuit->setIcon(TIconSet::Icon(QStringLiteral("quit")));

    ConnectForm();
    // F11 on any control shows its hint.
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);

    move(FController.Left(), FController.Top());
    if (QGuiApplication::screens().size() == 1) {
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const int margin = qRound(50 * QGuiApplication::primaryScreen()->logicalDotsPerInch() / 96.0);
        move(KeepInsideWorkArea(QRect(pos(), size()), area, margin));
    }
}

THauptForm::~THauptForm() = default;

void THauptForm::ConnectForm()
{
    Ui::THauptForm& f = *FUi;
    connect(f.lvSchedules->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this] { OnRowChosen(); });
    connect(f.lvSchedules, &QAbstractItemView::activated, this, [this] { OnRowChosen(); });
    connect(f.lvSchedules, &QAbstractItemView::doubleClicked, this, [this] { OnEditTask(); });
    connect(f.leName, &QLineEdit::textEdited, this, [this](const QString& text) {
        FController.Editor().Values().Name = text;
        RefreshPreview();
    });
    connect(f.leTask, &QLineEdit::textEdited, this, [this](const QString& text) {
        FController.Editor().Values().Task = text;
        RefreshPreview();
    });
    connect(f.edCycles, &QSpinBox::valueChanged, this, [this](int value) {
        if (FLoading)
            return;
        FController.Editor().Values().Cycles = value;
        RefreshPreview();
    });
    connect(f.edSteps, &QSpinBox::valueChanged, this, [this](int value) {
        if (FLoading)
            return;
        FController.Editor().SetSteps(value);
        LoadEditor();
    });
    connect(f.cbWeekDay, &QComboBox::activated, this, [this](int index) {
        FController.Editor().SetWeekDay(index);
        LoadEditor();
    });
    connect(f.rbDiff, &QRadioButton::toggled, this, [this](bool on) {
        if (FLoading)
            return;
        FController.Editor().Values().Mode = on ? kModeDifferential : kModeIncremental;
        RefreshPreview();
    });
    connect(f.cbSilent, &QCheckBox::toggled, this, [this](bool on) {
        if (!FLoading)
            FController.Editor().Values().Silent = on;
    });
    connect(f.btnReset, &QPushButton::clicked, this, [this] {
        FController.Editor().Reset();
        FUi->lvSchedules->clearSelection();
        LoadEditor();
        FUi->leName->setFocus();
    });
    connect(f.btnAdd, &QPushButton::clicked, this, &THauptForm::OnAdd);
    connect(f.btnReplace, &QPushButton::clicked, this, &THauptForm::OnReplace);
    connect(f.btnRemove, &QPushButton::clicked, this, &THauptForm::OnRemove);
    connect(f.btnSelTask, &QPushButton::clicked, this, &THauptForm::OnSelectTask);
    connect(f.bbEdit, &QPushButton::clicked, this, &THauptForm::OnEditTask);
    connect(f.btnCreateTask, &QPushButton::clicked, this, &THauptForm::OnCreateTask);
    connect(f.btnShowTasks, &QPushButton::clicked, this, &THauptForm::OnShowTasks);
    connect(f.btnShortcut, &QPushButton::clicked, this, &THauptForm::OnShortcut);
    connect(f.btInfo, &QPushButton::clicked, this, &THauptForm::OnInfo);
    connect(f.bbHelp, &QPushButton::clicked, this, &THauptForm::OnHelp);
    connect(f.btnQuit, &QPushButton::clicked, this, &QWidget::close);
}

void THauptForm::ShowWindow()
{
    const bool available = FController.SchedulerAvailable();
    UpdateTaskButtons();
    RefreshActiveTasks();
    FillList(0);
    show();
    if (!available) {
        // Told once; editing schedules and shortcuts goes on without it.
        QTimer::singleShot(
            0, this, [this] { Message(TMessageKind::mkError, FController.SchedulerStartMessage()); });
    }
}

void THauptForm::UpdateTaskButtons()
{
    const bool available = FController.SchedulerAvailable();
    FTaskDialog->InitTaskScheduler(available ? FController.Scheduler() : nullptr);
    for (QPushButton* button : {FUi->btnCreateTask, FUi->btnShowTasks}) {
        button->setEnabled(available);
        button->setToolTip(available ? QString() : FController.SchedulerDisabledHint());
    }
}

void THauptForm::RefreshTasks()
{
    const bool was = FController.SchedulerAvailable();
    if (!FController.RefreshScheduler() && was) {
        UpdateTaskButtons();
        Message(TMessageKind::mkError, FController.SchedulerStartMessage());
    }
    RefreshActiveTasks();
    const int selected = SelectedSchedule();
    FModel->Refresh();
    if (selected >= 0)
        SelectSchedule(selected);
}

void THauptForm::RefreshActiveTasks()
{
    QStringList names;
    if (FTaskDialog->IsAvailable())
        FTaskDialog->GetActiveTasks(QFileInfo(FController.Setup().ProgramPath).fileName(), names);
    FController.SetActiveTasks(names);
}

int THauptForm::SelectedSchedule() const
{
    const QModelIndexList rows = FUi->lvSchedules->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return -1;
    return FSorted->mapToSource(rows.first()).row();
}

void THauptForm::SelectSchedule(int index)
{
    const QModelIndex at = FSorted->mapFromSource(FModel->index(index, 0));
    FUi->lvSchedules->setCurrentIndex(at);
    FUi->lvSchedules->selectionModel()->select(
        at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    FUi->lvSchedules->scrollTo(at);
}

void THauptForm::FillList(int index)
{
    FModel->Refresh();
    const int row = FController.Editor().FillList(index);
    if (row >= 0)
        SelectSchedule(row);
    LoadEditor();
}

void THauptForm::OnRowChosen()
{
    const int index = SelectedSchedule();
    if (index < 0)
        return;
    FController.Editor().ShowSchedule(index);
    LoadEditor();
}

void THauptForm::LoadEditor()
{
    const TScheduleEditorValues& v = FController.Editor().Values();
    FLoading = true;
    FUi->leName->setText(v.Name);
    FUi->leTask->setText(v.Task);
    FUi->edCycles->setValue(v.Cycles);
    FUi->edSteps->setValue(v.Steps);
    FUi->cbWeekDay->setEnabled(v.WeekDayEnabled);
    FUi->cbWeekDay->setCurrentIndex(v.WeekDay);
    FUi->rbDiff->setChecked(v.Mode == kModeDifferential);
    FUi->rbIncr->setChecked(v.Mode != kModeDifferential);
    FUi->cbSilent->setChecked(v.Silent);
    FLoading = false;
    const bool selected = SelectedSchedule() >= 0;
    FUi->btnReplace->setEnabled(selected);
    FUi->btnRemove->setEnabled(selected);
    FUi->bbEdit->setEnabled(selected);
    RefreshPreview();
}

void THauptForm::RefreshPreview()
{
    bool current = false;
    const QList<TPreviewRow> rows = FController.Editor().Preview(
        QDate::currentDate(), kPreviewDays, current, FController.Setup().LanguageCode);
    QString state = current ? _("With the schedule's current rotation state:")
                            : _("With a new rotation (as Add or Replace begins it):");
    // A run would stop at a task file that is gone.
    const QString task = FController.Editor().Values().Task;
    if (!task.isEmpty() && !QFileInfo::exists(task))
        state += QLatin1Char('\n') + SafeFormat(_("Backup task \"%s\" not found!"), {task});
    FUi->lbPreviewState->setText(state);
    FUi->tvPreview->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(rows.size());
    for (const TPreviewRow& row : rows) {
        auto* item = new QTreeWidgetItem(PreviewRowTexts(row, FController.Setup().LanguageCode));
        if (row.Kind == TPreviewKind::pkAlreadyDone || row.Kind == TPreviewKind::pkWaiting
            || row.Kind == TPreviewKind::pkInvalid) {
            item->setFirstColumnSpanned(false);
            for (int c = 0; c < 5; ++c)
                item->setForeground(c, palette().brush(QPalette::Disabled, QPalette::Text));
        }
        items.append(item);
    }
    FUi->tvPreview->addTopLevelItems(items);
}

int THauptForm::PreviewRowCount() const
{
    return FUi->tvPreview->topLevelItemCount();
}

bool THauptForm::Message(TMessageKind kind, const QString& text)
{
    FLastMessage = text;
    if (FMessageHook)
        return FMessageHook(kind, text);
    switch (kind) {
    case TMessageKind::mkConfirmation:
        return ConfirmYesNo(Title(), text, this);
    case TMessageKind::mkError:
        ShowErrorMessage(Title(), text, this);
        return false;
    default:
        ShowInformationMessage(Title(), text, -1, this);
        return false;
    }
}

void THauptForm::FocusAfterCheck(const TValidation& check)
{
    Message(TMessageKind::mkError, check.Message);
    switch (check.Focus) {
    case TEditorFocus::efName:
        FUi->leName->setFocus();
        break;
    case TEditorFocus::efTask:
        OnSelectTask();
        break;
    case TEditorFocus::efCycles:
        FUi->edCycles->setFocus();
        break;
    case TEditorFocus::efSteps:
        FUi->edSteps->setFocus();
        break;
    case TEditorFocus::efNone:
        break;
    }
}

void THauptForm::OnAdd()
{
    int row = -1;
    const TValidation check = FController.Editor().Add(row);
    if (check.Code != 0) {
        FocusAfterCheck(check);
        return;
    }
    FillList(row);
}

void THauptForm::OnReplace()
{
    int row = SelectedSchedule();
    if (row < 0)
        return;
    const TValidation check = FController.Editor().Replace(
        row, [this](const QString& text) { return Message(TMessageKind::mkConfirmation, text); });
    if (check.Code != 0) {
        FocusAfterCheck(check);
        return;
    }
    FillList(row);
}

void THauptForm::OnRemove()
{
    int row = SelectedSchedule();
    if (row < 0)
        return;
    if (FController.Editor().Remove(
            row, [this](const QString& text) { return Message(TMessageKind::mkConfirmation, text); }))
        FillList(row < 0 ? 0 : row);
}

void THauptForm::OnSelectTask()
{
    QFileDialog dialog(this, _("Select backup task"),
        FController.Editor().TaskSelectFolder(FController.JobDir()),
        QtFileFilter(SafeFormat(_("Backup tasks|*.%s|all|*.*"), {QStringLiteral("buj")})));
    dialog.setDefaultSuffix(QStringLiteral("buj"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    FController.Editor().Values().Task = dialog.selectedFiles().first();
    LoadEditor();
}

void THauptForm::OnEditTask()
{
    const int index = SelectedSchedule();
    if (index < 0)
        return;
    try {
        const QString command = FController.EditTaskCommandLine(index);
        if (command.isEmpty())
            throw EProcessError(
                SafeFormat(_("\"%s\" not found on this system!"), {platform::MainProgramFileName()}), 2);
        ProcessHandle process = StartProgram(command);
        Q_UNUSED(process); // Marvick does not wait for the editor
    } catch (const EProcessError& e) {
        Message(TMessageKind::mkError, e.Message());
    }
}

void THauptForm::OnCreateTask()
{
    const QString error = FController.Editor().CreateTaskNameError();
    if (!error.isEmpty()) {
        Message(TMessageKind::mkError, error);
        return;
    }
    FTaskDialog->Execute(-1, TKesAction::paSchedule, FController.JobDir(), FController.Editor().Values().Name,
        FController.DefOptions(), false);
    RefreshTasks();
}

void THauptForm::OnShowTasks()
{
    while (FTaskDialog->Execute(0, TKesAction::paSchedule, FController.JobDir(),
               FController.Editor().Values().Name, FController.DefOptions(), false)
        == mrRetry) { }
    RefreshTasks();
}

void THauptForm::OnShortcut()
{
    const QString name = FController.Editor().Values().Name;
    if (name.isEmpty())
        return;
    const QString base = ShortcutBaseName(name);
    TDesktopIconDialog dialog(this);
    int runAs = 0;
    QString options = FController.DefOptions();
    QString description = base;
    QString shortcut = QStringLiteral("KesSched-") + base;
    if (!dialog.Execute(
            _("Create desktop shortcut for alternating backup"), name, runAs, options, description, shortcut))
        return;
    if (const QString error = ShortcutNameError(shortcut); !error.isEmpty()) {
        Message(TMessageKind::mkError, error);
        return;
    }
    const TShortcutLink link
        = MakeShortcutLink(platform::KnownFolderPath(platform::KnownFolder::Desktop), shortcut,
            FController.Setup().ProgramPath, name, options, description, FController.JobDir(), runAs > 0);
    if (QFileInfo::exists(link.File)
        && !Message(TMessageKind::mkConfirmation,
            SafeFormat(_("Replace existing desktop shortcut: %s?"), {shortcut})))
        return;
    if (const QString error = WriteShortcutLink(link); !error.isEmpty())
        Message(TMessageKind::mkError, error);
}

void THauptForm::OnInfo()
{
    const TProgramVersion version = ProgramVersion();
    QString text = version.Info.InternalName + BitnessText() + QStringLiteral(" (") + version.Info.Comments
        + QStringLiteral(")\n") + _("Configure backup schedules") + QLatin1Char('\n') + version.ProgVersDate;
    TFileVersionInfo main;
    if (!FController.Setup().KesPath.isEmpty()) {
        text += QStringLiteral("\n\n") + _("Part of program package:") + QLatin1Char('\n');
        text += ReadVersionInfo(FController.Setup().KesPath, main) ? main.InternalName + BitnessText()
                + QStringLiteral(" (") + VersionText(main.Version, 3) + QLatin1Char(')')
                                                                   : QStringLiteral("Kestrup");
    }
    if (FMessageHook) {
        Message(TMessageKind::mkInformation, text);
        return;
    }
    FLastMessage = text;
    TMessageDialog dialog(TMessageKind::mkInformation, Title(), text, -1, this);
    dialog.adjustSize();
    const QRect at(FUi->rgMode->mapToGlobal(QPoint(0, 0)), FUi->rgMode->size());
    const QScreen* screen = this->screen();
    if (screen)
        dialog.move(PlaceAtControl(at, dialog.size(), screen->availableGeometry()));
    dialog.exec();
}

void THauptForm::OnHelp()
{
    ShowHelp(QStringLiteral("marvick.html"),
        [this](const QString& text) { Message(TMessageKind::mkError, text); });
}

void THauptForm::ShowHint(QWidget* control)
{
    QString hint = control->toolTip();
    if (hint.isEmpty()) {
        // A labelled field without hint: its label's text.
        for (QLabel* label : findChildren<QLabel*>()) {
            if (label->buddy() == control) {
                hint = label->text().remove(u'&');
                break;
            }
        }
    }
    if (!hint.isEmpty())
        QToolTip::showText(control->mapToGlobal(QPoint(0, control->height())), hint, control);
}

bool THauptForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F11) {
            if (QWidget* focus = QApplication::focusWidget())
                ShowHint(focus);
            return true;
        }
        if (key->key() == Qt::Key_F1) {
            OnHelp();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void THauptForm::closeEvent(QCloseEvent* event)
{
    // Closing always saves; a failed write is told and the window closes.
    if (!FSaved) {
        FSaved = true;
        if (const QString error = FController.Save(pos().y(), pos().x()); !error.isEmpty())
            Message(TMessageKind::mkError, error);
    }
    event->accept();
}

} // namespace kes
