#include "watchdog/MainWindowController.h"

#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/MainProgram.h"
#include "frame/PathRules.h"
#include "frame/Version.h"
#include "platform/DesktopEntry.h"
#include "platform/ErrorText.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Volumes.h"
#include "watchdog/MonTask.h"
#include "watchdog/MonitorController.h"

#include <QFileInfo>
#include <algorithm>

namespace kes {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QString TwoDigits(int n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QChar(u'0'));
}

bool FileExists(const QString& name)
{
    platform::FileStatus status;
    return !name.isEmpty() && platform::GetFileStatus(name, true, status) == 0 && !status.isDirectory;
}

bool DirectoryExists(const QString& name)
{
    return !name.isEmpty() && platform::GetPathKind(name) == platform::TPathKind::Directory;
}

} // namespace

QRect PlaceWindow(const TWatchdogConfig& config, const QList<QRect>& screens, int primary)
{
    QSize size(std::max(config.Width, 1), std::max(config.Height, kDesignHeight));
    if (config.Width <= 0)
        size.setWidth(kDesignWidth);
    if (screens.isEmpty())
        return QRect(QPoint(std::max(config.Left, 0), std::max(config.Top, 0)), size);
    const QRect home = screens.value(primary, screens.first());
    QRect rect(QPoint(config.Left, config.Top), size);
    if (config.Left == -1 && config.Top == -1) {
        rect.moveCenter(home.center());
    } else {
        // The title bar (the top strip of the window) must lie on a screen
        // for the window to be moved by the mouse.
        const QRect titleBar(rect.left(), rect.top(), rect.width(), 24);
        bool onScreen = false;
        for (const QRect& screen : screens)
            onScreen = onScreen || screen.intersected(titleBar).width() >= 48;
        if (!onScreen)
            rect.moveCenter(home.center());
    }
    // The screen the window is on now: the one holding most of it.
    QRect on = home;
    qint64 best = -1;
    for (const QRect& screen : screens) {
        const QRect part = screen.intersected(rect);
        const qint64 area = part.isEmpty() ? 0 : qint64(part.width()) * part.height();
        if (area > best) {
            best = area;
            on = screen;
        }
    }
    rect.setWidth(std::min(rect.width(), on.width()));
    rect.setHeight(std::min(rect.height(), on.height()));
    if (rect.right() > on.right())
        rect.moveRight(on.right());
    if (rect.bottom() > on.bottom())
        rect.moveBottom(on.bottom());
    if (rect.left() < on.left())
        rect.moveLeft(on.left());
    if (rect.top() < on.top())
        rect.moveTop(on.top());
    return rect;
}

TMainWindowController::TMainWindowController(TMonitorController& monitor, QObject* parent)
    : QObject(parent)
    , FMonitor(monitor)
    , FModel(monitor)
    , FAutostartPath(platform::AutostartEntryPath(QStringLiteral("Selwand")))
{
    FEditPoll.setInterval(100);
    connect(&FEditPoll, &QTimer::timeout, this, &TMainWindowController::PollEdit);
    connect(&FMonitor, &TMonitorController::StateChanged, this, &TMainWindowController::OnStateChanged);
    connect(&FMonitor, &TMonitorController::MonitoringStopped, this, &TMainWindowController::OnStopped);
}

TMainWindowController::~TMainWindowController() = default;

void TMainWindowController::Message(TMessageKind kind, const QString& text)
{
    emit MessageShown(kind, text);
}

TMonTask* TMainWindowController::SelectedTask() const
{
    const auto& tasks = FMonitor.Tasks();
    if (FSelected < 0 || FSelected >= int(tasks.size()))
        return nullptr;
    return tasks[size_t(FSelected)].get();
}

// --- The shown task -------------------------------------------------------------

void TMainWindowController::Select(int index)
{
    if (index < 0 || index >= int(FMonitor.Tasks().size())) {
        FSelected = -1;
        ClearTaskDisplay();
        return;
    }
    FSelected = index;
    ShowTask(index);
}

void TMainWindowController::ShowTask(int index)
{
    if (index < 0 || index >= int(FMonitor.Tasks().size())) {
        ClearTaskDisplay();
        return;
    }
    const TMonTask& task = *FMonitor.Tasks()[size_t(index)];
    TTaskDisplay display;
    display.HasTask = true;
    display.TaskFile = task.BuTask;
    display.Destination = task.DestDir;
    display.Method = _("Method: ") + LayoutText(task.DestMode);
    if (task.Compress == 1)
        display.Compression = _("Compress files") + u' ' + _("as gz");
    else if (task.Compress == 2)
        display.Compression = _("Compress files") + u' ' + _("as zip");
    else
        display.Compression = _("No compression");
    display.RetainBak = task.RetainBak;
    display.EditEnabled = task.GetRunStatus() == rsOff;
    FDisplay = display;
    emit DisplayChanged();
}

void TMainWindowController::ClearTaskDisplay()
{
    // The interval editor is global and stays as the user set it.
    FDisplay = TTaskDisplay();
    emit DisplayChanged();
}

void TMainWindowController::OnStateChanged()
{
    // Run states change with monitoring: the edit button follows.
    if (FSelected >= int(FMonitor.Tasks().size()))
        FSelected = FMonitor.Tasks().empty() ? -1 : int(FMonitor.Tasks().size()) - 1;
    if (FSelected >= 0) {
        const TMonTask& task = *FMonitor.Tasks()[size_t(FSelected)];
        const bool edit = task.GetRunStatus() == rsOff;
        if (!FDisplay.HasTask || edit != FDisplay.EditEnabled || task.BuTask != FDisplay.TaskFile
            || task.DestDir != FDisplay.Destination)
            ShowTask(FSelected);
    } else if (FDisplay.HasTask) {
        ClearTaskDisplay();
    }
}

// --- Showing the window -------------------------------------------------------

void TMainWindowController::CheckTasksOnShow()
{
    const TTaskDefaults defaults {FMonitor.DriveId(), FMonitor.NoCompress()};
    const TLogSink log = [this](const QString& t) { FMonitor.AddLog(t); };
    for (const auto& task : FMonitor.Tasks()) {
        if (!FileExists(task->BuTask)) {
            FMonitor.AddLog(_("Task not found") + QStringLiteral(": ") + task->BuTask);
            task->MonStatus = mtInvalid;
        } else if (DirectoryExists(task->Dir)) {
            if (CheckTaskFile(task->BuTask) != 0)
                task->MonStatus = mtInvalid;
            ReadTaskSettings(*task, defaults, log);
            if (task->MonStatus == mtInvalid)
                FMonitor.AddLog(
                    SafeFormat(_("The backup task \"%s\" has invalid settings!"), {task->BuTask}));
        } else {
            FMonitor.AddLog(SafeFormat(_("Directory \"%s\" not found!"), {task->Dir}));
            task->MonStatus = mtInvalid;
        }
    }
    emit FMonitor.StateChanged(); // RefreshDirList
    Select(FMonitor.Tasks().empty() ? -1 : 0);
}

// --- Adding -----------------------------------------------------------------------

QString TMainWindowController::AddDialogFolder() const
{
    if (FDisplay.HasTask && !FDisplay.TaskFile.isEmpty())
        return QFileInfo(FDisplay.TaskFile).absolutePath();
    return FMonitor.Config().JobDir;
}

QString TMainWindowController::AddTaskMessage(int result, const QString& fileName) const
{
    switch (result) {
    case 1:
        return InvalidTaskText(fileName);
    case 2:
        return _("Task file not found") + QStringLiteral(": ") + fileName;
    case 3:
        return _("Error reading from backup task") + QStringLiteral(": ") + fileName;
    default:
        return QString();
    }
}

TTaskFileCheck TMainWindowController::CheckNewTaskFile(const QString& fileName) const
{
    TTaskFileCheck check;
    check.Result = CheckTaskFile(fileName, &check.Sources);
    check.Message = AddTaskMessage(check.Result, fileName);
    return check;
}

QString TMainWindowController::SelectSourceTitle()
{
    return _("Select directory to be monitored");
}

QString TMainWindowController::SelectSourceDescription(const QString& fileName)
{
    return SafeFormat(
        _("Source directories found in the backup task \"%s\""), {QFileInfo(fileName).fileName()});
}

bool TMainWindowController::AddTask(const QString& fileName, const QString& dir)
{
    if (int(FMonitor.Tasks().size()) >= kMaxMonitorTasks) {
        // Only 25 tasks are kept in the settings file: a 26th would be lost
        // at the next start.
        Message(TMessageKind::mkError,
            SafeFormat(_("At most %d directories can be monitored. Remove one before adding another."),
                {kMaxMonitorTasks}));
        return false;
    }
    auto task = std::make_unique<TMonTask>(fileName, dir);
    const TTaskDefaults defaults {FMonitor.DriveId(), FMonitor.NoCompress()};
    if (ReadTaskSettings(*task, defaults, [this](const QString& t) { FMonitor.AddLog(t); }) != 0)
        return false;
    task->RetainBak = 0;
    FModel.AppendTask(std::move(task));
    Select(int(FMonitor.Tasks().size()) - 1);
    return true;
}

// --- Removing ----------------------------------------------------------------------

bool TMainWindowController::RemoveEnabled() const
{
    return FMonitor.View().RemoveEnabled && FMonitor.CanRemoveTasks() && !FEditing;
}

QString TMainWindowController::RemoveQuestion()
{
    return _("Remove selected directory from list?");
}

bool TMainWindowController::RemoveSelected()
{
    if (!RemoveEnabled() || FSelected < 0)
        return false;
    const int at = FSelected;
    if (!FModel.RemoveTask(at))
        return false;
    const int count = int(FMonitor.Tasks().size());
    Select(count == 0 ? -1 : std::min(at, count - 1));
    return true;
}

// --- Editing -----------------------------------------------------------------------

void TMainWindowController::EditSelected()
{
    TMonTask* task = SelectedTask();
    if (!task || FEditing)
        return;
    if (!FileExists(task->BuTask)) {
        Message(TMessageKind::mkError, _("Task not found") + QStringLiteral(": ") + task->BuTask);
        return;
    }
    FEditing = true;
    FEditTask = task;
    emit EditStateChanged();
    try {
        if (FMonitor.KesPath().isEmpty())
            throw EProcessError(
                SafeFormat(_("The main program \"%s\" was not found."), {platform::MainProgramFileName()}),
                2);
        FEditProcess = StartProgram(
            MainProgramCommandLine(FMonitor.KesPath(), task->BuTask, OptFlag(QStringLiteral("edit"))));
    } catch (const EProcessError& e) {
        Message(TMessageKind::mkError, SafeFormat(_("Error on executing Kestrup: %s"), {e.Message()}));
        FEditTask = nullptr;
        FEditing = false;
        emit EditStateChanged();
        emit EditFinished();
        return;
    }
    FEditPoll.start();
}

void TMainWindowController::PollEdit()
{
    const quint32 result = WaitForProgram(FEditProcess, 1, false);
    if (result == kWaitTimeout && FEditProcess.IsValid())
        return;
    FEditPoll.stop();
    EndEdit(result);
}

void TMainWindowController::EndEdit(quint32 result)
{
    TMonTask* task = FEditTask;
    FEditTask = nullptr;
    if (result != 0) {
        // An exit code is named as such; any other code is the system's.
        const QString reason = (result & kExitCodeFlag)
            ? SafeFormat(_("exit code %u"), {unsigned(result & 0xFF)})
            : SysErrorMessage(result);
        Message(TMessageKind::mkError, SafeFormat(_("Error on executing Kestrup: %s"), {reason}));
    } else if (task) {
        QList<TTaskSource> sources;
        const int check = CheckTaskFile(task->BuTask, &sources);
        if (check != 0) {
            Message(TMessageKind::mkError, AddTaskMessage(check, task->BuTask));
            task->MonStatus = mtInvalid;
        } else {
            bool listed = false;
            for (const TTaskSource& source : sources)
                listed = listed || source.Dir.compare(task->Dir, Qt::CaseInsensitive) == 0;
            if (!listed) {
                Message(TMessageKind::mkError,
                    SafeFormat(_("Directory \"%s\" not specified in %s!"), {task->Dir, task->BuTask}));
                task->MonStatus = mtInvalid;
            } else {
                const TTaskDefaults defaults {FMonitor.DriveId(), FMonitor.NoCompress()};
                task->MonStatus
                    = ReadTaskSettings(*task, defaults, [this](const QString& t) { FMonitor.AddLog(t); }) == 0
                    ? mtEnabled
                    : mtInvalid;
            }
        }
    }
    FEditing = false;
    emit FMonitor.StateChanged(); // RefreshDirList
    if (FSelected >= 0)
        ShowTask(FSelected);
    emit EditStateChanged();
    emit EditFinished();
}

// --- Settings of the shown task -------------------------------------------------

void TMainWindowController::SetRetainBak(int value)
{
    if (TMonTask* task = SelectedTask()) {
        task->RetainBak = std::clamp(value, 0, kMaxRetainBak);
        FDisplay.RetainBak = task->RetainBak;
    }
}

void TMainWindowController::SetIntervalUnit(TIntervalUnit unit)
{
    FMonitor.IntervalEditor().SetUnit(unit);
    FMonitor.SetPeriodic(FMonitor.IntervalEditor().Periodic());
}

void TMainWindowController::SetIntervalValue(int value)
{
    FMonitor.IntervalEditor().SetValue(value);
}

void TMainWindowController::SetPeriodic(bool on)
{
    FMonitor.SetPeriodic(on);
}

// --- Start and background ---------------------------------------------------------

bool TMainWindowController::KeepRunning() const
{
    return FMonitor.Config().SysTray;
}

void TMainWindowController::SetKeepRunning(bool on)
{
    FMonitor.Config().SysTray = on;
}

TQuitButton TMainWindowController::QuitButton() const
{
    if (KeepRunning())
        return {1, _("Move program to background")};
    return {0, _("Quit program and save settings")};
}

TStartResult TMainWindowController::StartClicked()
{
    if (FMonitor.Monitoring()) {
        FMonitor.RequestInstantBackup();
        return srInstantBackup;
    }
    const bool started = FMonitor.StartMonitoring();
    if (FSelected >= 0)
        ShowTask(FSelected);
    if (!started)
        return srNothing;
    if (KeepRunning()) {
        FMonitor.SetGoStandby(true);
        return srToBackground;
    }
    return srStarted;
}

bool TMainWindowController::CheckForce()
{
    if (!FMonitor.Force() || !FMonitor.StartMonitoring())
        return false;
    FMonitor.SetGoStandby(KeepRunning());
    return FMonitor.GoStandby();
}

bool TMainWindowController::QuitClicked()
{
    FMonitor.SetGoStandby(KeepRunning());
    if (FMonitor.GoStandby())
        return true;
    FCloseAfterStop = true;
    FMonitor.StopMonitoring(); // MonitoringStopped -> CloseReady
    return false;
}

void TMainWindowController::QuitMonitoring()
{
    FMonitor.SetGoStandby(false);
    FCloseAfterStop = true;
    FMonitor.StopMonitoring();
}

void TMainWindowController::OnStopped()
{
    if (FSelected >= 0 || !FMonitor.Tasks().empty())
        Select(FSelected >= 0 ? FSelected : 0);
    if (FCloseAfterStop) {
        FCloseAfterStop = false;
        emit CloseReady();
    }
}

void TMainWindowController::Closing()
{
    FMonitor.SaveSettings();
}

// --- Start on logon ----------------------------------------------------------------

bool TMainWindowController::StartOnLogon() const
{
    return platform::DesktopEntryExists(FAutostartPath);
}

namespace {

platform::TDesktopEntry AutostartEntry(const QString& description)
{
    platform::TDesktopEntry entry;
    entry.Name = QStringLiteral("Selwand");
    entry.Comment = description;
    entry.Exec = {platform::ExecutablePath(), QStringLiteral("/hide"), QStringLiteral("/force")};
    entry.ExtraKeys = {QStringLiteral("X-GNOME-Autostart-enabled=true")};
    return entry;
}

} // namespace

void TMainWindowController::RefreshStartOnLogon()
{
    if (!StartOnLogon())
        return;
    if (const int err = platform::WriteDesktopEntry(FAutostartPath, AutostartEntry(FMonitor.ProgVersName())))
        FMonitor.AddLog(_("Error creating desktop shortcut!") + u' ' + FAutostartPath + QStringLiteral(": ")
            + platform::SystemErrorText(err));
}

bool TMainWindowController::SetStartOnLogon(bool on)
{
    if (!on) {
        if (const int err = platform::RemoveDesktopEntry(FAutostartPath)) {
            Message(TMessageKind::mkError,
                SafeFormat(_("The file \"%s\" could not be deleted: %s"),
                    {FAutostartPath, platform::SystemErrorText(err)}));
            return false;
        }
        return true;
    }
    if (StartOnLogon())
        return true;
    if (const int err
        = platform::WriteDesktopEntry(FAutostartPath, AutostartEntry(FMonitor.ProgVersName()))) {
        Message(TMessageKind::mkError,
            _("Error creating desktop shortcut!") + kCrLf + platform::SystemErrorText(err));
        return false;
    }
    return true;
}

// --- Info panel ----------------------------------------------------------------------

QString TMainWindowController::MonitorInfoText() const
{
    QStringList lines;
    const auto& tasks = FMonitor.Tasks();
    for (size_t i = 0; i < tasks.size(); ++i) {
        const TMonTask& task = *tasks[i];
        if (task.MonStatus == mtEnabled && task.DirWatch)
            lines << OrdinalText(qint64(i) + 1) + _("Directory") + QStringLiteral(": ") + task.Dir;
    }
    if (lines.isEmpty())
        lines << _("The monitoring is not active!");
    return _("Directories to be monitored") + kCrLf + lines.join(kCrLf);
}

QStringList TMainWindowController::ListChangedFiles() const
{
    if (FMonitor.FileCount() == 0)
        return {_("No files")};
    QStringList lines;
    const auto& tasks = FMonitor.Tasks();
    for (size_t i = 0; i < tasks.size(); ++i) {
        for (const QString& name : tasks[i]->FileList)
            lines << TwoDigits(int(i) + 1) + QStringLiteral(": ") + name;
    }
    return lines;
}

} // namespace kes
