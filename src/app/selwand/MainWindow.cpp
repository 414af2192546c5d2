#include "app/selwand/MainWindow.h"

#include "app/selwand/ShowFilterDialog.h"
#include "app/selwand/Tray.h"
#include "app/selwand/UiText.h"
#include "frame/Format.h"
#include "frame/Help.h"
#include "frame/I18n.h"
#include "frame/UnicodeIniFile.h"
#include "frame/Version.h"
#include "frame/WinExecute.h"
#include "ui/FileFilter.h"
#include "ui/IconSet.h"
#include "ui/MessageDialog.h"
#include "ui/PickerDialogs.h"
#include "ui/TextViewer.h"
#include "ui_MainWindow.h"
#include "watchdog/LogZip.h"
#include "watchdog/MonTask.h"
#include "watchdog/MonitorController.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QIdentityProxyModel>
#include <QMenu>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>

namespace kes {

namespace {

// The task list's icons from the run state (rsWatch, rsBackup) and the
// task state (an invalid task shows a warning).
class TTaskIconModel : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DecorationRole)
            return QIdentityProxyModel::data(index, role);
        if (QIdentityProxyModel::data(index, TTaskListModel::MonStatusRole).toInt() == mtInvalid)
            return TIconSet::Icon(QStringLiteral("status-invalid"));
        switch (QIdentityProxyModel::data(index, TTaskListModel::RunStatusRole).toInt()) {
        case rsWatch:
            return TIconSet::Icon(QStringLiteral("status-watch"));
        case rsBackup:
            return TIconSet::Icon(QStringLiteral("status-backup"));
        default:
            return TIconSet::Icon(QStringLiteral("status-off"));
        }
    }
};

QAction* NewAction(QObject* parent, const QString& text, const QString& icon = QString())
{
    auto* action = new QAction(text, parent);
    if (!icon.isEmpty())
        action->setIcon(TIconSet::Icon(icon));
    return action;
}

// The button shows what its action says and triggers it.
void Bind(QAbstractButton* button, QAction* action)
{
    auto update = [button, action] {
        button->setText(action->text());
        button->setIcon(action->icon());
        button->setEnabled(action->isEnabled());
        button->setVisible(action->isVisible());
        button->setToolTip(action->toolTip());
        button->setAccessibleName(QString(action->text()).remove(u'&'));
    };
    update();
    QObject::connect(action, &QAction::changed, button, update);
    QObject::connect(button, &QAbstractButton::clicked, action, [action] { action->trigger(); });
}

TPrintSettings PrinterOfKesmoIni(const QString& kesmoIni)
{
    TPrintSettings settings;
    try {
        const auto ini = TUnicodeIniFile::CreateForRead(kesmoIni);
        settings.PrinterName = ini->ReadString(QStringLiteral("Printer"), QStringLiteral("Name"), QString());
        settings.Landscape
            = ini->ReadInteger(QStringLiteral("Printer"), QStringLiteral("Orientation"), 0) == 1;
    } catch (const EIniReadError&) {
    }
    return settings;
}

} // namespace

TMainWindow::TMainWindow(TMainWindowController& controller, QWidget* parent)
    : QWidget(parent)
    , FController(controller)
    , FUi(std::make_unique<Ui::TMainWindow>())
{
    FUi->setupUi(this);
    TMonitorController& monitor = FController.Monitor();
    setWindowTitle(monitor.Caption());
    setWindowIcon(TIconSet::Icon(QStringLiteral("logo")));

    auto* icons = new TTaskIconModel(this);
    icons->setSourceModel(&FController.TaskModel());
    FUi->lvDirs->setModel(icons);
    FUi->lvDirs->setUniformItemSizes(true);
    FUi->lvDirs->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FUi->lvDirs->setSelectionMode(QAbstractItemView::SingleSelection);

    FUi->meLog->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    FUi->meLog->setMaximumBlockCount(TMonitorController::kMaxLogLines);
    const QStringList lines = monitor.LogLines();
    for (const QString& line : lines)
        AppendLog(line);

    QStringList units;
    for (TIntervalUnit unit : {iuSeconds, iuMinutes, iuHours})
        units << TIntervalEditor::UnitText(unit);
    FUi->interval->SetUnits(units);

    FUi->cbWriteLog->setChecked(monitor.Config().WriteLog);
    FUi->cbKeepRunning->setChecked(FController.KeepRunning());
    FUi->cbPeriodic->setChecked(monitor.IntervalEditor().Periodic());
    FUi->clock->setVisible(false);
    FUi->laNextBackup->clear();

    CreateActions();
    BindButtons();
    ConnectForm();
    FTray = std::make_unique<TSelwandTray>(FController, *this, FActions);
    RestoreGeometry();
    RefreshInterval();
    RefreshDisplay();
    UpdateQuitButton();
    RefreshState();
}

TMainWindow::~TMainWindow() = default;

// --- Actions ------------------------------------------------------------------------

void TMainWindow::CreateActions()
{
    TSelwandActions& a = FActions;
    a.Start = NewAction(this, FUi->btStart->text(), QStringLiteral("start"));
    a.Stop = NewAction(this, FUi->btStop->text(), QStringLiteral("stop"));
    a.Instant = NewAction(this, _("Start &immediate backup"), QStringLiteral("instant"));
    a.ToggleMonitoring = NewAction(this, _("&Start monitoring"), QStringLiteral("start"));
    a.EditMonitoring = NewAction(this, _("&Edit monitoring"), QStringLiteral("edit"));
    a.QuitMonitoring = NewAction(this, _("&Quit monitoring"), QStringLiteral("quit"));
    a.Kestrup = NewAction(this, QStringLiteral("&Kestrup"), QStringLiteral("logo"));
    QFont bold = a.Kestrup->font();
    bold.setBold(true);
    a.Kestrup->setFont(bold);
    a.TrayCancel = NewAction(this, _("&Cancel"), QStringLiteral("cancel"));
    a.Add = NewAction(this, FUi->btAdd->text(), QStringLiteral("add"));
    a.Remove = NewAction(this, FUi->btRemove->text(), QStringLiteral("remove"));
    a.Edit = NewAction(this, FUi->btEdit->text(), QStringLiteral("edit"));
    a.Filter = NewAction(this, FUi->btFilter->text(), QStringLiteral("filter"));
    a.ShowFiles = NewAction(this, FUi->btShowFiles->text(), QStringLiteral("show-files"));
    a.ClearLog = NewAction(this, FUi->btClearLog->text(), QStringLiteral("log-clear"));
    a.CopyLog = NewAction(this, FUi->btCopyLog->text(), QStringLiteral("log-copy"));
    a.ShowLog = NewAction(this, FUi->btShowLog->text(), QStringLiteral("log-file"));
    a.Quit = NewAction(this, FUi->bbQuit->text(), QStringLiteral("quit"));
    a.StartOnLogon = NewAction(this, _("&Start on logon"));
    a.StartOnLogon->setCheckable(true);
    a.ResetSize = NewAction(this, _("&Reset window to default size"), QStringLiteral("reset-size"));
    a.Help = NewAction(this, _("&Help"), QStringLiteral("help"));
    a.Help->setShortcut(QKeySequence::HelpContents);
    a.About = NewAction(this, _("&Version info"), QStringLiteral("about"));
    a.MenuCancel = NewAction(this, _("&Cancel"), QStringLiteral("cancel"));
    addAction(a.Help);

    connect(a.Start, &QAction::triggered, this, &TMainWindow::OnStart);
    connect(a.Stop, &QAction::triggered, this, [this] { FController.Monitor().StopMonitoring(); });
    connect(a.Instant, &QAction::triggered, this, [this] { FController.Monitor().RequestInstantBackup(); });
    connect(a.ToggleMonitoring, &QAction::triggered, this, [this] {
        TMonitorController& m = FController.Monitor();
        if (m.Monitoring())
            m.StopMonitoring();
        else
            m.StartMonitoring();
    });
    connect(a.EditMonitoring, &QAction::triggered, this, &TMainWindow::ShowMainWindow);
    connect(a.QuitMonitoring, &QAction::triggered, this, [this] {
        FStopping = true;
        RefreshState();
        FController.QuitMonitoring(); // CloseReady ends the program
    });
    connect(a.Kestrup, &QAction::triggered, this, &TMainWindow::OnOpenKestrup);
    connect(a.Add, &QAction::triggered, this, &TMainWindow::OnAdd);
    connect(a.Remove, &QAction::triggered, this, &TMainWindow::OnRemove);
    connect(a.Edit, &QAction::triggered, this, [this] { FController.EditSelected(); });
    connect(a.Filter, &QAction::triggered, this, &TMainWindow::OnFilter);
    connect(a.ShowFiles, &QAction::triggered, this, &TMainWindow::OnShowFiles);
    connect(a.ClearLog, &QAction::triggered, this, [this] {
        FController.Monitor().ClearLog();
        FUi->meLog->clear();
    });
    connect(a.CopyLog, &QAction::triggered, this, &TMainWindow::OnCopyLog);
    connect(a.ShowLog, &QAction::triggered, this, &TMainWindow::OnShowLog);
    connect(a.Quit, &QAction::triggered, this, &TMainWindow::OnQuit);
    connect(a.StartOnLogon, &QAction::triggered, this, &TMainWindow::OnStartOnLogon);
    connect(a.ResetSize, &QAction::triggered, this, [this] {
        showNormal();
        resize(TMainWindowController::DesignSize());
    });
    connect(a.Help, &QAction::triggered, this, [this] {
        ShowHelp(QStringLiteral("selwand.html"),
            [this](const QString& message) { ShowMessage(TMessageKind::mkError, message); });
    });
    connect(a.About, &QAction::triggered, this, &TMainWindow::OnAbout);

    FMenu = new QMenu(this);
    FMenu->addAction(a.StartOnLogon);
    FMenu->addAction(a.ResetSize);
    FMenu->addSeparator();
    FMenu->addAction(a.Help);
    FMenu->addAction(a.About);
    FMenu->addSeparator();
    FMenu->addAction(a.MenuCancel);
}

void TMainWindow::BindButtons()
{
    Bind(FUi->btStart, FActions.Start);
    Bind(FUi->btStop, FActions.Stop);
    Bind(FUi->btAdd, FActions.Add);
    Bind(FUi->btRemove, FActions.Remove);
    Bind(FUi->btEdit, FActions.Edit);
    Bind(FUi->btFilter, FActions.Filter);
    Bind(FUi->btShowFiles, FActions.ShowFiles);
    Bind(FUi->btClearLog, FActions.ClearLog);
    Bind(FUi->btCopyLog, FActions.CopyLog);
    Bind(FUi->btShowLog, FActions.ShowLog);
    Bind(FUi->bbQuit, FActions.Quit);
    FUi->bbMenu->setIcon(TIconSet::Icon(QStringLiteral("menu")));
    FUi->bbMenu->setAccessibleName(QString(FUi->bbMenu->text()).remove(u'&'));
    connect(FUi->bbMenu, &QPushButton::clicked, this, &TMainWindow::OnMenu);
}

void TMainWindow::ConnectForm()
{
    TMonitorController& monitor = FController.Monitor();
    connect(&monitor, &TMonitorController::StateChanged, this, &TMainWindow::RefreshState);
    connect(&monitor, &TMonitorController::LogAdded, this, &TMainWindow::AppendLog);
    connect(&monitor, &TMonitorController::MessageShown, this, &TMainWindow::ShowMessage);
    connect(&FController, &TMainWindowController::MessageShown, this, &TMainWindow::ShowMessage);
    connect(&FController, &TMainWindowController::DisplayChanged, this, &TMainWindow::RefreshDisplay);
    connect(&FController, &TMainWindowController::EditStateChanged, this, &TMainWindow::RefreshDisplay);
    connect(&FController, &TMainWindowController::CloseReady, this, &TMainWindow::EndProgram);

    QAbstractItemModel* model = FUi->lvDirs->model();
    connect(FUi->lvDirs->selectionModel(), &QItemSelectionModel::currentChanged, this,
        [this](const QModelIndex& current) {
            if (current.isValid() && current.row() != FController.Selected())
                FController.Select(current.row());
        });
    connect(model, &QAbstractItemModel::modelReset, this, [this] { SelectRow(FController.Selected()); });
    connect(model, &QAbstractItemModel::rowsInserted, this, [this] { SelectRow(FController.Selected()); });
    connect(model, &QAbstractItemModel::rowsRemoved, this, [this] { SelectRow(FController.Selected()); });
    connect(FUi->lvDirs, &QListView::doubleClicked, this, [this](const QModelIndex& index) {
        FController.Select(index.row());
        if (FController.EditEnabled())
            FController.EditSelected();
    });

    connect(FUi->sbVersions, &QSpinBox::valueChanged, this,
        [this](int value) { FController.SetRetainBak(value); });
    connect(FUi->cbPeriodic, &QCheckBox::toggled, this, [this](bool on) {
        FController.SetPeriodic(on);
        RefreshInterval();
    });
    connect(FUi->interval, &TUnitSpinBox::UnitChosen, this, [this](int unit) {
        FController.SetIntervalUnit(TIntervalUnit(unit));
        RefreshInterval();
    });
    connect(FUi->interval, &TUnitSpinBox::ValueChosen, this, [this](int value) {
        FController.SetIntervalValue(value);
        RefreshInterval();
    });
    connect(FUi->cbWriteLog, &QCheckBox::toggled, this,
        [this](bool on) { FController.Monitor().Config().WriteLog = on; });
    connect(FUi->cbKeepRunning, &QCheckBox::toggled, this, [this](bool on) {
        FController.SetKeepRunning(on);
        UpdateQuitButton();
    });
}

void TMainWindow::SelectRow(int row)
{
    QAbstractItemModel* model = FUi->lvDirs->model();
    if (row < 0 || row >= model->rowCount()) {
        FUi->lvDirs->clearSelection();
        return;
    }
    const QModelIndex index = model->index(row, 0);
    FUi->lvDirs->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    FUi->lvDirs->scrollTo(index);
}

// --- State --------------------------------------------------------------------------

void TMainWindow::RefreshState()
{
    TMonitorController& monitor = FController.Monitor();
    const TMonitorView& view = monitor.View();
    const bool monitoring = monitor.Monitoring();
    FActions.Start->setText(monitoring ? _("&Start immediate backup") : _("&Start monitoring"));
    FActions.Start->setToolTip(view.StartHint);
    FActions.Start->setEnabled(view.StartEnabled && !view.Stopping && !FStopping);
    FActions.Stop->setEnabled(view.StopEnabled && !view.Stopping && !FStopping);
    FActions.Instant->setEnabled(view.TrayInstantEnabled && !view.Stopping);
    // The tray item's text with its mnemonic.
    FActions.ToggleMonitoring->setText(monitoring ? _("S&top monitoring") : _("&Start monitoring"));
    FActions.ToggleMonitoring->setIcon(
        TIconSet::Icon(monitoring ? QStringLiteral("stop") : QStringLiteral("start")));
    FActions.ToggleMonitoring->setEnabled(!view.Stopping && !FStopping);
    FActions.QuitMonitoring->setEnabled(!FStopping);
    FActions.Quit->setEnabled(!FStopping);
    FActions.Remove->setEnabled(FController.RemoveEnabled() && FController.Selected() >= 0);
    FActions.ShowFiles->setVisible(view.ShowFilesVisible);
    FUi->cbPeriodic->setEnabled(view.PeriodicEnabled);
    FUi->laNextBackup->setText(view.NextBackup);
    FUi->laFileCount->setText(monitoring ? view.FileCountText : QString());
    FUi->laNotScheduled->setVisible(view.NotScheduledVisible);
    FUi->lbNextCaption->setVisible(!view.NextBackup.isEmpty());
    FUi->clock->setVisible(view.ClockVisible);
    FUi->clock->SetInterval(monitor.BuInterval());
    FUi->clock->SetPosition(view.ClockPosition);
    FUi->clock->SetHasFiles(view.ClockHasFiles);
    if (view.Stopping)
        FUi->laFileCount->setText(_("Stopping: the pending files are backed up ..."));
    RefreshDisplay();
}

void TMainWindow::RefreshDisplay()
{
    const TTaskDisplay& d = FController.Display();
    FUi->laTask->setText(d.TaskFile);
    FUi->laDest->setText(d.Destination);
    FUi->laMethod->setText(d.Method);
    FUi->laCompress->setText(d.Compression);
    {
        const QSignalBlocker block(FUi->sbVersions);
        FUi->sbVersions->setValue(d.RetainBak);
    }
    FUi->sbVersions->setEnabled(d.HasTask);
    FActions.Edit->setEnabled(FController.EditEnabled());
    FActions.Filter->setEnabled(d.HasTask);
    FActions.Remove->setEnabled(FController.RemoveEnabled() && FController.Selected() >= 0);
}

void TMainWindow::RefreshInterval()
{
    const TIntervalEditor& editor = FController.Monitor().IntervalEditor();
    FUi->interval->SetState(int(editor.Unit()), editor.Min(), editor.Max(), editor.Step(), editor.Value());
    FUi->interval->SetHint(editor.Hint());
    FUi->interval->setEnabled(editor.Periodic());
    FUi->lbInterval->setEnabled(editor.Periodic());
}

void TMainWindow::UpdateQuitButton()
{
    const TQuitButton quit = FController.QuitButton();
    FActions.Quit->setIcon(
        TIconSet::Icon(quit.Image == 1 ? QStringLiteral("background") : QStringLiteral("quit")));
    FActions.Quit->setToolTip(quit.Hint);
}

void TMainWindow::ShowMessage(TMessageKind kind, const QString& text)
{
    FLastMessage = text;
    // Not modal: a message from a timer tick must not run a loop of its
    // own inside the tick.
    auto* dialog = new TMessageDialog(kind, windowTitle(), text, -1, isVisible() ? this : nullptr);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("SelwandMessage"));
    dialog->open();
}

void TMainWindow::AppendLog(const QString& text)
{
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    FUi->meLog->appendPlainText(plain);
}

// --- Showing, background and the end ---------------------------------------------------

void TMainWindow::ShowMainWindow()
{
    FController.CheckTasksOnShow();
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
    FUi->meLog->verticalScrollBar()->setValue(FUi->meLog->verticalScrollBar()->maximum());
    FActions.StartOnLogon->setChecked(FController.StartOnLogon());
}

void TMainWindow::GoToBackground()
{
    RememberGeometry();
    FController.Closing();
    if (FTray->ShowInBackground())
        hide();
    else
        showMinimized();
}

void TMainWindow::CheckForce()
{
    if (!FController.CheckForce()) {
        ShowMainWindow();
        return;
    }
    (new TStartScreen(QStringLiteral("Selwand"), FController.Monitor().ProgVersName()))->show();
    GoToBackground();
}

void TMainWindow::EndProgram()
{
    FEnding = true;
    RememberGeometry();
    FController.Closing();
    FTray->Remove();
    close();
    QCoreApplication::quit();
}

void TMainWindow::closeEvent(QCloseEvent* event)
{
    if (FEnding) {
        event->accept();
        return;
    }
    // The window's own close button does what "Quit" does.
    event->ignore();
    OnQuit();
}

void TMainWindow::RestoreGeometry()
{
    QList<QRect> screens;
    int primary = 0;
    const QList<QScreen*> all = QGuiApplication::screens();
    for (int i = 0; i < all.size(); ++i) {
        screens << all[i]->availableGeometry();
        if (all[i] == QGuiApplication::primaryScreen())
            primary = i;
    }
    const QRect place = PlaceWindow(FController.Monitor().Config(), screens, primary);
    resize(place.size());
    move(place.topLeft());
}

void TMainWindow::RememberGeometry()
{
    if (isMinimized() || isMaximized() || isFullScreen() || !isVisible())
        return;
    TWatchdogConfig& config = FController.Monitor().Config();
    config.Left = pos().x();
    config.Top = pos().y();
    config.Width = width();
    config.Height = height();
}

void TMainWindow::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    RememberGeometry();
}

void TMainWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    RememberGeometry();
}

// --- Commands -----------------------------------------------------------------------

void TMainWindow::OnStart()
{
    switch (FController.StartClicked()) {
    case srToBackground:
        GoToBackground();
        break;
    default:
        break;
    }
    RefreshState();
}

void TMainWindow::OnQuit()
{
    if (FStopping)
        return;
    if (FController.QuitClicked()) {
        GoToBackground();
        return;
    }
    // Monitoring stops first (its final pass); CloseReady ends the program.
    if (!FEnding) {
        FStopping = true;
        RefreshState();
    }
}

void TMainWindow::OnAdd()
{
    QFileDialog dialog(this, _("Select a backup task with the settings to be used"),
        FController.AddDialogFolder(),
        QtFileFilter(SafeFormat(_("Backup tasks|*.%s|all|*.*"), {QStringLiteral("buj")})));
    dialog.setDefaultSuffix(QStringLiteral("buj"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString file = dialog.selectedFiles().first();
    const TTaskFileCheck check = FController.CheckNewTaskFile(file);
    if (check.Result != 0) {
        ShowMessage(TMessageKind::mkError, check.Message);
        return;
    }
    QString dir;
    if (check.Sources.size() == 1) {
        dir = check.Sources.first().Dir;
    } else {
        QStringList dirs;
        for (const TTaskSource& source : check.Sources)
            dirs << source.Dir;
        const int chosen = SelectListItem(TMainWindowController::SelectSourceTitle(),
            TMainWindowController::SelectSourceDescription(file), dirs, FUi->btAdd);
        if (chosen < 0)
            return;
        dir = dirs[chosen];
    }
    FController.AddTask(file, dir);
}

void TMainWindow::OnRemove()
{
    if (FController.Selected() < 0)
        return;
    if (ConfirmYesNoAt(windowTitle(), TMainWindowController::RemoveQuestion(), FUi->btRemove))
        FController.RemoveSelected();
}

void TMainWindow::OnFilter()
{
    if (TMonTask* task = FController.SelectedTask())
        TShowFilterDialog::Execute(task->MonFilter, this);
}

void TMainWindow::OnShowFiles()
{
    ShowListAt(_("Files recognized as changed"), FController.Monitor().ShowFilesLines(), FUi->btShowFiles);
}

void TMainWindow::OnCopyLog()
{
    QPlainTextEdit* log = FUi->meLog;
    if (!log->textCursor().hasSelection())
        log->selectAll();
    log->copy();
    QTextCursor cursor = log->textCursor();
    cursor.clearSelection();
    log->setTextCursor(cursor);
}

void TMainWindow::OnShowLog()
{
    TMonitorController& monitor = FController.Monitor();
    QFileDialog dialog(this, _("Select log file"), monitor.LogDir(),
        QtFileFilter(SafeFormat(_("Watchdog logs|*.%s|all|*.*"), {QStringLiteral("log")})));
    dialog.setDefaultSuffix(QStringLiteral("log"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.selectFile(QStringLiteral("Selwand*.log"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    TTextViewerOptions options;
    options.Title = monitor.ProgVersName();
    options.ErrorMarker = QStringLiteral("  *** ");
    options.SectionMarker = QStringLiteral("Kestrup -");
    options.FileFilter = SafeFormat(_("Log files|*.%s|all|*.*"), {QStringLiteral("log")});
    options.Print = PrinterOfKesmoIni(monitor.KesmoIni());
    options.SaveAsZip = [this](QWidget* parent, const QString& fileName) {
        if (fileName.isEmpty())
            return;
        const QString zipName
            = QFileDialog::getSaveFileName(parent, _("Save as zip"), DefaultLogZipName(fileName),
                QtFileFilter(SafeFormat(_("Zip archives|*.%s|all|*.*"), {QStringLiteral("zip")})));
        if (zipName.isEmpty())
            return;
        QString message;
        if (!SaveLogAsZip(fileName, zipName, message))
            ShowMessage(TMessageKind::mkError, message);
    };
    TTextViewer viewer(options, this);
    viewer.LoadFile(dialog.selectedFiles().first());
    viewer.exec();
}

void TMainWindow::OnMenu()
{
    FActions.StartOnLogon->setChecked(FController.StartOnLogon());
    FActions.StartOnLogon->setIcon(
        TIconSet::Icon(FActions.StartOnLogon->isChecked() ? QStringLiteral("autostart-on")
                                                          : QStringLiteral("autostart-off")));
    FMenu->popup(FUi->bbMenu->mapToGlobal(QPoint(0, FUi->bbMenu->height())));
}

void TMainWindow::OnStartOnLogon(bool on)
{
    if (!isVisible())
        return;
    FController.SetStartOnLogon(on);
    FActions.StartOnLogon->setChecked(FController.StartOnLogon());
}

void TMainWindow::OnAbout()
{
    const TProgramVersion version = ProgramVersion();
    ShowMessage(TMessageKind::mkInformation,
        version.ProgVersName + BitnessText() + QStringLiteral("\n")
            + _("Direct backup with online monitoring") + QStringLiteral("\n") + version.ProgVersDate
            + QStringLiteral("\n") + version.Info.Copyright);
}

void TMainWindow::OnOpenKestrup()
{
    const QString program = FController.Monitor().KesPath();
    try {
        if (program.isEmpty())
            throw EProcessError(_("The main program was not found."), 2);
        ProcessHandle process = StartProgram(QuoteIfNeeded(program, QString()));
        Q_UNUSED(process); // it runs on by itself
    } catch (const EProcessError& e) {
        ShowMessage(TMessageKind::mkError, SafeFormat(_("Error on executing Kestrup: %s"), {e.Message()}));
    }
}

} // namespace kes
