#include "watchdog/MonitorController.h"

#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/UnicodeIniFile.h"
#include "platform/ErrorText.h"
#include "platform/Volumes.h"
#include "watchdog/DirectoryWatch.h"
#include "watchdog/TaskFile.h"

#include <QCoreApplication>
#include <QLocale>

namespace kes {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QString TwoDigits(int n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QChar(u'0'));
}

bool IsDirectory(const QString& path)
{
    return platform::GetPathKind(path) == platform::TPathKind::Directory;
}

// Modification times are stored with the file system's granularity; a file
// written just after a moment may carry a slightly earlier time. After lost
// changes the search reaches this much further back (copying a file once
// more is better than missing it).
constexpr qint64 kScanMarginMs = 2000;

} // namespace

TMonitorController::TMonitorController(TSelwandSetup setup, QObject* parent)
    : QObject(parent)
    , FSetup(std::move(setup))
{
    if (!FSetup.Clock)
        FSetup.Clock = TClock::System();
    FTimer.setInterval(1000);
    connect(&FTimer, &QTimer::timeout, this, &TMonitorController::Tick);
    FLog.SetOnWriteError([this](const QString& message) {
        // The file failed: the message goes to the window log only.
        FLogLines.append(message);
        emit LogAdded(message);
    });
    FConfig.JobDir = FSetup.Location.JobDir;
    FInterval.Load(FBuInterval);
    UpdateTexts();
}

TMonitorController::~TMonitorController()
{
    FStopping = true;
    FCollecting = false;
    FTimer.stop();
    for (auto& task : FTasks) {
        if (task->DirWatch)
            task->DirWatch->Stop();
    }
    WaitForBackupThreads(false);
    for (auto& task : FTasks) {
        delete task->DirWatch;
        task->DirWatch = nullptr;
    }
    FLog.Close();
}

// --- Start-up -----------------------------------------------------------------

void TMonitorController::Load()
{
    FVersion = InitVersion(QStringLiteral("Selwand"), QStringLiteral(" - Vers. 1.1"), QString());
    FCaption = _("File change monitoring with direct backup") + QStringLiteral(" (")
        + FVersion.Info.InternalName + BitnessText() + u' ' + VersionText(FVersion.Info.Version, 3) + u')';

    TWatchdogConfig defaults;
    defaults.JobDir = FSetup.Location.JobDir;
    TWatchdogSettings settings
        = LoadWatchdogSettings(FSetup.Location.IniName, defaults, [this](const QString& t) { AddLog(t); });
    FConfig = settings.Config;
    FTasks = std::move(settings.Tasks);
    FFileCount = settings.FileCount;
    FBuInterval = FConfig.Interval;

    FInstantBackup = false;
    FOptions = ParseSelwandOptions(FSetup.Arguments);
    if (FOptions.Hide)
        FConfig.SysTray = true;

    const TKesmoDefaults kesmo = ReadKesmoSettings(
        FSetup.Location.KesmoIni, FSetup.LanguageCode, [this](const QString& t) { AddLog(t); });
    FDriveId = kesmo.DriveId;
    FNoCompress = kesmo.NoCompress;
    FLogDir = TWatchdogLog::ChooseLogDir(kesmo.ProtDir, FSetup.Location.SettingsDir);
    FLog.SetLogDir(FLogDir);
    FLog.Close();

    FTimeCount = 0;
    FInterval.Load(FBuInterval);
    FTbStatus = tbsOff;
    FView = TMonitorView();
    UpdateTexts();
    emit StateChanged();
}

void TMonitorController::AppendTask(std::unique_ptr<TMonTask> task)
{
    FTasks.push_back(std::move(task));
    emit StateChanged();
}

QString TMonitorController::TaskText(int index) const
{
    if (index < 0 || index >= int(FTasks.size()))
        return QString();
    return TwoDigits(index + 1) + QStringLiteral(": ") + FTasks[size_t(index)]->Dir;
}

// --- Texts --------------------------------------------------------------------

QString TMonitorController::NextBackupText(int buInterval, int timeCount)
{
    if (buInterval < 1)
        return _("on demand");
    const int t = timeCount;
    if (t >= 3600)
        return QString::number(t / 3600) + _(" h") + QString::number((t % 3600) / 60) + _(" m");
    if (t >= 600)
        return QString::number(t / 60) + _(" m");
    if (t >= 60)
        return QString::number(t / 60) + _(" m") + u' ' + QString::number(t % 60) + _(" s");
    return QString::number(t) + _(" s");
}

QString TMonitorController::FileCountText(int count)
{
    if (count == 0)
        return _("No files");
    if (count == 1)
        return _("1 file");
    QString pattern = _("%u files");
    if (count > 9999) {
        // The number with the locale's thousands separators.
        pattern.replace(QStringLiteral("%u"), QStringLiteral("%s"));
        return SafeFormat(pattern, {QLocale().toString(count)});
    }
    return SafeFormat(pattern, {unsigned(count)});
}

QStringList TMonitorController::ShowFilesLines() const
{
    QStringList lines;
    if (FFileCount == 0)
        return {_("No files")};
    for (size_t i = 0; i < FTasks.size(); ++i) {
        const TMonTask& task = *FTasks[i];
        if (task.MonStatus != mtEnabled)
            continue;
        for (const QString& name : task.FileList)
            lines.append(TwoDigits(int(i) + 1) + QStringLiteral(": ") + name);
    }
    return lines;
}

void TMonitorController::UpdateTexts()
{
    FView.FileCountText = FileCountText(FFileCount);
    FView.TipText = FMonitoring ? FVersion.ProgVersName + kCrLf + _("Next backup: ") + NextBackupText()
            + kCrLf + FView.FileCountText + u' ' + _("recognized as changed")
                                : FVersion.ProgVersName;
    FView.StartHint
        = FMonitoring ? _("Start immediate backup") : _("Start monitoring the selected directories");
    FView.TrayMonitorItem = FMonitoring ? _("Stop monitoring") : _("Start monitoring");
}

QString TMonitorController::Stamp(int index, bool error) const
{
    return (error ? QStringLiteral(" *** ") : QString()) + LogDateTime(Now()) + QStringLiteral(" - ")
        + TwoDigits(index + 1) + QStringLiteral(": ");
}

void TMonitorController::Message(TMessageKind kind, const QString& text)
{
    emit MessageShown(kind, text);
}

// --- Log ----------------------------------------------------------------------

void TMonitorController::AddLog(const QString& text)
{
    // A failing write is told once per opening (see the constructor) and
    // never keeps a pass from going on.
    if (FLog.WLog())
        FLog.Write(text);
    FLogLines.append(text);
    if (FLogLines.size() > kMaxLogLines)
        FLogLines.remove(0, FLogLines.size() - kMaxLogLines);
    emit LogAdded(text);
}

void TMonitorController::CloseLog()
{
    FLog.Close();
}

// --- Settings -----------------------------------------------------------------

void TMonitorController::SaveSettings()
{
    FConfig.Interval = FInterval.GetIntervalSeconds();
    try {
        SaveWatchdogSettings(
            FSetup.Location.IniName, FConfig, FTasks, FVersion.Info.InternalName, FVersion.Info.Version);
    } catch (const EIniWriteError& e) {
        Message(TMessageKind::mkError, e.Message());
    } catch (const EIniReadError& e) {
        // The old file cannot be read, so it cannot be updated either.
        Message(TMessageKind::mkError,
            SafeFormat(_("Error writing to \"%s\""), {FSetup.Location.IniName}) + kCrLf + e.Message());
    }
}

// --- Monitoring ---------------------------------------------------------------

bool TMonitorController::StartMonitoring()
{
    if (FMonitoring)
        return true;
    const TTaskDefaults defaults {FDriveId, FNoCompress};
    const TLogSink log = [this](const QString& t) { AddLog(t); };
    for (auto& task : FTasks) {
        if (task->MonStatus != mtEnabled)
            continue;
        if (CheckTaskFile(task->BuTask) != 0) {
            task->MonStatus = mtInvalid;
            AddLog(SafeFormat(_("The backup task \"%s\" has invalid settings!"), {task->BuTask}));
        } else {
            task->MonStatus = ReadTaskSettings(*task, defaults, log) == 0 ? mtEnabled : mtInvalid;
        }
    }
    emit StateChanged(); // the check marks follow the states

    bool anyChecked = false;
    for (const auto& task : FTasks)
        anyChecked = anyChecked || task->MonStatus == mtEnabled;
    if (!anyChecked) {
        Message(TMessageKind::mkWarning, _("Please specify at least one directory to be monitored!"));
        return false;
    }

    FMonitoring = true;
    FStopping = false;
    FCollecting = true;
    FFileCount = 0;
    FBuInterval = FInterval.GetIntervalSeconds();
    FTimeCount = FBuInterval;
    FScanSince = QDateTime::currentDateTimeUtc();
    FRuns.assign(FTasks.size(), TTaskRun());
    FView.NotScheduledVisible = false;
    FView.ShowFilesVisible = false;
    FView.RemoveEnabled = false;
    FView.StopEnabled = true;
    FView.PeriodicEnabled = false;

    for (size_t i = 0; i < FTasks.size(); ++i) {
        TMonTask& task = *FTasks[i];
        if (task.MonStatus != mtEnabled || !IsDirectory(task.Dir))
            continue;
        FFileCount += int(task.FileList.Count());
        auto* watch = new TDirectoryWatch(int(i) + 1, this);
        watch->SetDirectory(task.Dir);
        watch->SetWatchSubTree(true);
        watch->SetWatchActions(TWatchActions::All());
        watch->SetWatchOptions(task.Watches);
        if (FWatchHook)
            watch->SetThreadHook(FWatchHook);
        connect(watch, &TDirectoryWatch::OnNotify, this, &TMonitorController::FileChanged);
        connect(watch, &TDirectoryWatch::OnError, this, &TMonitorController::WatcherError);
        try {
            watch->Start();
            task.DirWatch = watch;
        } catch (const EDirWatchError& e) {
            // Shown, logged; the other tasks are watched all the same.
            FFileCount -= int(task.FileList.Count());
            delete watch;
            AddLog(Stamp(int(i)) + e.Message());
            Message(TMessageKind::mkError, e.Message());
        }
    }

    if (FAutoTick)
        FTimer.start();
    FView.ClockVisible = FBuInterval > 0;
    FView.ClockPosition = 0;
    UpdateTexts();
    FView.NextBackup = NextBackupText();
    emit StateChanged();
    return true;
}

void TMonitorController::StopMonitoring()
{
    if (!FMonitoring || FStopping)
        return;
    FStopping = true;
    for (auto& task : FTasks) {
        if (task->DirWatch)
            task->DirWatch->Stop();
    }
    // What the watchers reported before they stopped is collected now; what
    // arrives later is not (the final pass copies it anyway). Changes the
    // watchers had not read yet when they stopped are found by a search.
    for (size_t i = 0; i < FTasks.size(); ++i) {
        if (!FTasks[i]->DirWatch)
            continue;
        QCoreApplication::sendPostedEvents(FTasks[i]->DirWatch, QEvent::MetaCall);
        CatchUp(int(i), FScanSince, 0, true);
    }
    FCollecting = false;
    if (FFileCount > 0)
        StartBackups(true);
    else
        WaitForBackupThreads(false); // a pass that is still running ends first
    CloseLog();
    for (auto& task : FTasks) {
        delete task->DirWatch;
        task->DirWatch = nullptr;
    }
    FTimer.stop();
    SetStopped();
    SaveSettings();
}

void TMonitorController::SetStopped()
{
    FMonitoring = false;
    FStopping = false;
    FRuns.clear();
    FView.NextBackup.clear();
    FView.StartEnabled = true;
    FView.StopEnabled = false;
    FView.RemoveEnabled = true;
    FView.PeriodicEnabled = true;
    FView.NotScheduledVisible = true;
    FView.ShowFilesVisible = false;
    FView.ClockVisible = false;
    FView.ClockPosition = 0;
    FView.TrayInstantEnabled = false;
    UpdateTexts();
    if (FTbStatus != tbsOff) {
        FTbStatus = tbsOff;
        emit TrayIconChanged(FTbStatus);
    }
    emit StateChanged();
}

TMonTask* TMonitorController::TaskOfWatcher(TDirectoryWatch* watcher, int* index) const
{
    for (size_t i = 0; i < FTasks.size(); ++i) {
        if (FTasks[i]->DirWatch == watcher) {
            if (index)
                *index = int(i);
            return FTasks[i].get();
        }
    }
    return nullptr;
}

void TMonitorController::FileChanged(
    TDirectoryWatch* /*watcher*/, int chgNotId, TWatchAction action, const QString& fileName)
{
    if (!FCollecting || chgNotId < 1 || chgNotId > int(FTasks.size()))
        return;
    TMonTask& task = *FTasks[size_t(chgNotId - 1)];
    switch (action) {
    case waRemoved:
    case waRenamedOld:
        // Nothing is deleted at the destination.
        if (task.FileList.Remove(fileName))
            --FFileCount;
        break;
    case waAdded:
    case waModified:
    case waRenamedNew:
        if (task.FileList.Contains(fileName) || !MatchesSelection(task.MonFilter, fileName))
            break;
        // Changes of directories themselves are not collected.
        if (IsDirectory(AddPath(task.Dir, fileName)))
            break;
        task.FileList.Add(fileName);
        ++FFileCount;
        break;
    }
}

void TMonitorController::WatcherError(TDirectoryWatch* watcher, int code, const QString& text)
{
    int index = -1;
    if (!TaskOfWatcher(watcher, &index))
        return;
    AddLog(Stamp(index) + text);
    if (code == TDirectoryWatch::kOverflowCode && FMonitoring && !FStopping)
        CatchUp(index, FScanSince, kScanMarginMs);
}

void TMonitorController::CatchUp(int index, const QDateTime& since, qint64 marginMs, bool quiet)
{
    TMonTask& task = *FTasks[size_t(index)];
    const TChangedFiles changed = ListChangedFiles(task.Dir, since.addMSecs(-marginMs));
    if (changed.ErrorCode) {
        AddLog(Stamp(index)
            + SafeFormat(_("The directory \"%s\" could not be searched for changed files: %s"),
                {task.Dir, platform::SystemErrorText(changed.ErrorCode)}));
        return;
    }
    int added = 0;
    for (const QString& name : changed.Names) {
        if (task.FileList.Contains(name) || !MatchesSelection(task.MonFilter, name))
            continue;
        task.FileList.Add(name);
        ++FFileCount;
        ++added;
    }
    if (!quiet || added > 0)
        AddLog(Stamp(index, false)
            + SafeFormat(
                _("The directory \"%s\" was searched for changed files: %d found, %d more to be backed up."),
                {task.Dir, int(changed.Names.size()), added}));
    if (changed.Unreadable > 0)
        AddLog(Stamp(index)
            + SafeFormat(_("%d directories could not be read, the first: \"%s\" (%s)"),
                {changed.Unreadable, AddPath(task.Dir, changed.FirstUnreadable),
                    platform::SystemErrorText(changed.FirstUnreadableError)}));
}

void TMonitorController::RestartEndedWatchers()
{
    for (size_t i = 0; i < FTasks.size() && i < FRuns.size(); ++i) {
        TMonTask& task = *FTasks[i];
        TDirectoryWatch* watch = task.DirWatch;
        if (!watch || (watch->Running() && !watch->ThreadEnded()))
            continue;
        TTaskRun& run = FRuns[i];
        if (watch->Running()) {
            watch->Stop(); // its thread has ended
            run.LostAt = QDateTime::currentDateTimeUtc();
        }
        if (!run.LostAt.isValid())
            run.LostAt = QDateTime::currentDateTimeUtc();
        if (!IsDirectory(task.Dir)) {
            if (!run.LossTold)
                AddLog(Stamp(int(i))
                    + SafeFormat(_("Directory \"%s\" not found! Watching it starts again when it is back."),
                        {task.Dir}));
            run.LossTold = true;
            continue;
        }
        try {
            watch->Start();
        } catch (const EDirWatchError& e) {
            if (!run.LossTold)
                AddLog(Stamp(int(i)) + e.Message());
            run.LossTold = true;
            continue;
        }
        AddLog(Stamp(int(i), false)
            + SafeFormat(_("Watching the directory \"%s\" was started again."), {task.Dir}));
        const QDateTime since = std::min(run.LostAt, FScanSince);
        run = TTaskRun();
        CatchUp(int(i), since, kScanMarginMs);
    }
}

bool TMonitorController::FreeFinishedThreads()
{
    bool running = false;
    for (auto& task : FTasks) {
        if (!task->BuThread)
            continue;
        if (task->BuThread->Finished()) {
            delete task->BuThread; // its last report is done; the thread ends at once
            task->BuThread = nullptr;
        } else {
            running = true;
        }
    }
    return running;
}

int TMonitorController::RunningBackups() const
{
    int n = 0;
    for (const auto& task : FTasks)
        n += task->BuThread && !task->BuThread->Finished() ? 1 : 0;
    return n;
}

void TMonitorController::WaitForBackupThreads(bool onlyTasksWithFiles)
{
    // The threads hand their reports to this thread and wait for them, so
    // events are processed while waiting. A timer wakes the wait at least
    // every 100 ms.
    QTimer wake;
    wake.start(100);
    for (;;) {
        FreeFinishedThreads();
        bool waiting = false;
        for (const auto& task : FTasks) {
            if (task->BuThread && (!onlyTasksWithFiles || !task->FileList.IsEmpty()))
                waiting = true;
        }
        if (!waiting)
            break;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

void TMonitorController::Tick()
{
    if (!FMonitoring)
        return;
    // 1.-3. Icon state, start button, file count.
    const TTaskBarStatus tickStatus = FFileCount == 0 ? tbsWait : tbsRun;
    FView.ClockHasFiles = FFileCount > 0;
    FView.StartEnabled = FFileCount > 0;
    FView.TrayInstantEnabled = FFileCount > 0;
    FView.ShowFilesVisible = FFileCount > 0;
    // 4.-6. Count down.
    if (FTimeCount > 0)
        --FTimeCount;
    FView.NextBackup = NextBackupText();
    FView.ClockPosition = FBuInterval - FTimeCount;
    UpdateTexts();

    // 7. Finished backup threads are freed; the log file is closed when
    // none runs any more.
    const bool running = FreeFinishedThreads();
    if (FLog.WLog() && !running)
        CloseLog();
    if (!FStopping)
        RestartEndedWatchers();

    // 8. A pass is due, or was asked for (not while stopping: the final
    // pass is on its way).
    if (FStopping) {
    } else if (FTimeCount == 0) {
        FTimeCount = FBuInterval;
        FView.ClockPosition = 0;
        StartBackups(false);
        FView.FileCountText = FileCountText(0);
        FTbStatus = tbsWait;
        FInstantBackup = false;
        FView.ShowFilesVisible = false;
        WarnDestination(3);
    } else if (FInstantBackup) {
        StartBackups(false);
        FView.FileCountText = FileCountText(0);
        FTbStatus = tbsWait;
        FInstantBackup = false;
        FView.ShowFilesVisible = false;
        WarnDestination(0);
    }

    // 9. The icon.
    if (tickStatus != FTbStatus) {
        FTbStatus = tickStatus;
        emit TrayIconChanged(FTbStatus);
    }
    emit StateChanged();
}

void TMonitorController::RequestInstantBackup()
{
    if (!FMonitoring)
        return;
    FInstantBackup = true;
    FView.StartEnabled = false; // until the next tick
    emit StateChanged();
}

void TMonitorController::StartBackups(bool wait)
{
    const QDateTime now = Now();
    FScanSince = QDateTime::currentDateTimeUtc();
    bool anyPending = false;
    for (const auto& task : FTasks)
        anyPending = anyPending || !task->FileList.IsEmpty();
    if (anyPending) {
        if (FConfig.WriteLog)
            FLog.Open(now.date());
        if (wait)
            WaitForBackupThreads(true);
        for (size_t i = 0; i < FTasks.size(); ++i) {
            TMonTask& task = *FTasks[i];
            if (task.MonStatus != mtEnabled || task.FileList.IsEmpty() || !task.DirWatch)
                continue;
            if (task.BuThread) {
                if (!task.BuThread->Finished())
                    continue; // its files stay pending for the next pass
                delete task.BuThread;
                task.BuThread = nullptr;
            }
            QString dest = task.DestDir;
            QString label;
            const int resolved = ResolveVolumeName(dest, label);
            if (resolved != 2 && platform::GetDestinationType(dest) != platform::dtUnavailable) {
                task.BuThread = new TBackupThread(
                    int(i) + 1, dest, task.Dir, task.DrvId, task.NoCompCommaText, task.FileList,
                    task.Compress, task.RetainBak, [this](const QString& t) { AddLog(t); }, FSetup.Clock);
                FFileCount -= int(task.FileList.Count());
                task.FileList.Clear();
                task.ErrCount = 0;
            } else {
                // No drive part on Linux: the destination itself is named.
                QString shown;
                if (!GetVolumeLabelPart(task.DestDir, shown))
                    shown = task.DestDir;
                AddLog(Stamp(int(i)) + SafeFormat(_("Drive \"%s\" not ready!"), {shown}));
                ++task.ErrCount;
            }
        }
    }
    if (wait) {
        WaitForBackupThreads(false);
        CloseLog();
    }
    SaveSettings();
    emit StateChanged();
}

void TMonitorController::WarnDestination(int threshold)
{
    int best = -1;
    int count = 0;
    for (size_t i = 0; i < FTasks.size(); ++i) {
        const TMonTask& task = *FTasks[i];
        if (task.MonStatus == mtEnabled && task.ErrCount > count) {
            best = int(i);
            count = task.ErrCount;
        }
    }
    if (best < 0 || count <= threshold)
        return;
    QString text = SafeFormat(_("Backup destination \"%s\" not available!"), {FTasks[size_t(best)]->DestDir})
        + kCrLf + SafeFormat(_("Monitored directory \"%s\""), {TaskText(best)}) + kCrLf;
    if (threshold > 0)
        text += SafeFormat(_("This was the case with the last %u backups."), {unsigned(count)}) + kCrLf;
    text += _("Please check that the backup medium is connected correctly!");
    Message(TMessageKind::mkWarning, text);
}

} // namespace kes
