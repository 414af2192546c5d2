#include "watchdog/MonitorController.h"

#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/UnicodeIniFile.h"
#include "platform/ErrorText.h"
#include "platform/RealPath.h"
#include "platform/Volumes.h"
#include "watchdog/DirectoryWatch.h"
#include "watchdog/TaskFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <algorithm>
#include <future>

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
    // While stopping, the end of the final pass is looked for every 100 ms.
    FStopPoll.setInterval(100);
    connect(&FStopPoll, &QTimer::timeout, this, &TMonitorController::AdvanceStop);
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
    if (FBackgroundSave.valid())
        FBackgroundSave.wait();
    FStopping = true;
    FCollecting = false;
    FTimer.stop();
    FStopPoll.stop();
    for (auto& task : FTasks) {
        if (task->DirWatch)
            task->DirWatch->Stop();
    }
    // A running backup thread stops after its current file; its reports are
    // answered without being passed on (the names it did not finish are in
    // the last saved pending list).
    for (auto& task : FTasks) {
        delete task->BuThread;
        task->BuThread = nullptr;
        delete task->DirWatch;
        task->DirWatch = nullptr;
    }
    FLog.Close();
}

bool TMonitorController::LockSettings(QString& message)
{
    if (FLock)
        return true;
    auto lock = std::make_unique<QLockFile>(FSetup.Location.IniName + QStringLiteral(".lock"));
    // Held as long as the program runs: only a lock whose process is gone
    // counts as stale, never an old one.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        FLock = std::move(lock);
        return true;
    }
    if (lock->error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host, application;
        lock->getLockInfo(&pid, &host, &application);
        message = SafeFormat(_("Selwand is already running with the settings file \"%s\" (process %d on %s). "
                               "Only one Selwand may use a settings file."),
            {FSetup.Location.IniName, pid, host});
        return false;
    }
    AddLog(SafeFormat(_("The settings file \"%s\" could not be locked against a second Selwand."),
        {FSetup.Location.IniName}));
    return true;
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

bool TMonitorController::CanRemoveTasks() const
{
    if (FMonitoring)
        return false;
    for (const auto& task : FTasks) {
        if (task->BuThread || task->DirWatch)
            return false;
    }
    return true;
}

bool TMonitorController::RemoveTask(int index)
{
    if (!CanRemoveTasks() || index < 0 || index >= int(FTasks.size()))
        return false;
    FFileCount = std::max(0, FFileCount - int(FTasks[size_t(index)]->FileList.Count()));
    FTasks.erase(FTasks.begin() + index);
    emit StateChanged();
    return true;
}

void TMonitorController::SetPeriodic(bool on)
{
    FInterval.SetPeriodic(on);
    if (!FMonitoring)
        FBuInterval = FInterval.GetIntervalSeconds();
    UpdateTexts();
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

QStringList TMonitorController::TaskStateLines() const
{
    QStringList lines;
    for (size_t i = 0; i < FTasks.size(); ++i) {
        const TMonTask& task = *FTasks[i];
        QString state;
        switch (task.MonStatus) {
        case mtDisabled:
            state = _("disabled: not monitored (switched off in the task list)");
            break;
        case mtInvalid:
            state = _("invalid: not monitored (see the messages above)");
            break;
        case mtEnabled:
            state = task.DirWatch ? SafeFormat(_("monitored, %d files pending"), {int(task.FileList.Count())})
                                  : QString(_("not monitored: its directory could not be watched"));
            break;
        }
        lines.append(TaskText(int(i)) + QStringLiteral(" - ") + state);
    }
    return lines;
}

QStringList TMonitorController::PendingLines() const
{
    QStringList lines;
    for (size_t i = 0; i < FTasks.size(); ++i) {
        const TMonTask& task = *FTasks[i];
        TMatchList all = task.FileList;
        for (const QString& name : task.InFlight)
            all.Add(name);
        for (const QString& name : all)
            lines.append(TwoDigits(int(i) + 1) + QStringLiteral(": ") + name);
    }
    return lines;
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

void TMonitorController::SetCheckedUntil(const QDateTime& when)
{
    for (auto& task : FTasks) {
        TDirectoryWatch* watch = task->DirWatch;
        if (watch && watch->Running() && !watch->ThreadEnded())
            task->CheckedUntil = when;
    }
}

namespace {

// Writes the snapshot; the failure's text, empty on success.
QString WriteSnapshot(const QString& iniName, const TWatchdogSnapshot& snapshot)
{
    try {
        WriteWatchdogSettings(iniName, snapshot);
        return QString();
    } catch (const EIniWriteError& e) {
        return e.Message();
    } catch (const EIniReadError& e) {
        // The old file cannot be read, so it cannot be updated either.
        return SafeFormat(_("Error writing to \"%s\""), {iniName}) + kCrLf + e.Message();
    }
}

} // namespace

TWatchdogSnapshot TMonitorController::PrepareSave()
{
    FConfig.Interval = FInterval.GetIntervalSeconds();
    // What the watchers have reported so far is in the lists being saved
    // (less a margin for changes still on their way).
    if (FMonitoring && FCollecting)
        SetCheckedUntil(QDateTime::currentDateTimeUtc().addMSecs(-kScanMarginMs));
    return SnapshotWatchdogSettings(FConfig, FTasks, FVersion.Info.InternalName, FVersion.Info.Version);
}

void TMonitorController::SaveSettings()
{
    // A save still being written goes first, so that this one is the last.
    CollectBackgroundSave();
    const QString failure = WriteSnapshot(FSetup.Location.IniName, PrepareSave());
    if (failure.isEmpty())
        FProgressDirty = false;
    SaveDone(failure);
}

void TMonitorController::SaveSettingsInBackground()
{
    // A few names are written at once; only thousands of them take long
    // enough to stop the window.
    qsizetype names = 0;
    for (const auto& task : FTasks)
        names += task->FileList.Count() + task->InFlight.Count();
    if (names < kBackgroundSaveNames && !FBackgroundSave.valid()) {
        SaveSettings();
        return;
    }
    if (FBackgroundSave.valid()) {
        FProgressDirty = true; // the next occasion saves what changed meanwhile
        return;
    }
    FProgressDirty = false;
    FBackgroundSave
        = std::async(std::launch::async, [this, iniName = FSetup.Location.IniName, snapshot = PrepareSave()] {
              QString failure = WriteSnapshot(iniName, snapshot);
              // Taken in the main thread; dropped if the controller is gone by then
              // (its destructor waits for this thread first).
              QMetaObject::invokeMethod(
                  this, [this] { CollectBackgroundSave(); }, Qt::QueuedConnection);
              return failure;
          });
}

void TMonitorController::CollectBackgroundSave()
{
    if (!FBackgroundSave.valid())
        return;
    const QString failure = FBackgroundSave.get();
    if (!failure.isEmpty())
        FProgressDirty = true;
    SaveDone(failure);
}

void TMonitorController::SaveDone(const QString& failure)
{
    if (failure.isEmpty()) {
        FSaveFailed = false;
        return;
    }
    // Saving is tried again at the next occasion; a failure that repeats is
    // shown once and then only logged.
    if (FSaveFailed)
        AddLog(QStringLiteral(" *** ") + failure);
    else
        Message(TMessageKind::mkError, failure);
    FSaveFailed = true;
}

// --- Monitoring ---------------------------------------------------------------

bool TMonitorController::StartMonitoring()
{
    if (FMonitoring)
        return !FStopping;
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

    // Changes made while the tasks were not watched: searched for once the
    // watches are set, so nothing falls between the two.
    for (size_t i = 0; i < FTasks.size(); ++i) {
        TMonTask& task = *FTasks[i];
        if (!task.DirWatch)
            continue;
        NoteDestinationInside(int(i));
        if (task.CheckedUntil.isValid())
            CatchUp(int(i), task.CheckedUntil, 0); // the saved moment has its margin
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
    if (!FMonitoring) {
        emit MonitoringStopped();
        return;
    }
    if (FStopping)
        return;
    FStopping = true;
    FView.Stopping = true;
    FView.StartEnabled = false;
    FView.StopEnabled = false;
    const QDateTime stoppedAt = QDateTime::currentDateTimeUtc();
    for (auto& task : FTasks) {
        if (task->DirWatch)
            task->DirWatch->Stop();
    }
    // What the watchers reported before they stopped is collected now; what
    // arrives later is not (the final pass copies it anyway). Changes the
    // watchers had not read yet when they stopped are found by a search.
    for (size_t i = 0; i < FTasks.size(); ++i) {
        TMonTask& task = *FTasks[i];
        if (!task.DirWatch)
            continue;
        QCoreApplication::sendPostedEvents(task.DirWatch, QEvent::MetaCall);
        if (!task.DirWatch->ThreadEnded())
            task.CheckedUntil = stoppedAt.addMSecs(-kScanMarginMs);
        CatchUp(int(i), FScanSince, 0, true);
    }
    FCollecting = false;
    FStopPhase = spWaitForThreads;
    FStopPoll.start();
    emit StateChanged();
    AdvanceStop();
}

void TMonitorController::AdvanceStop()
{
    if (FStopPhase == spWaitForThreads) {
        // A pass that still runs for a task with pending files ends first,
        // so that the final pass can take them.
        FreeFinishedThreads();
        if (ThreadsRunning(true))
            return;
        FStopPhase = spFinalPass;
        if (FFileCount > 0)
            StartBackups();
    }
    if (FStopPhase == spFinalPass) {
        FreeFinishedThreads();
        if (ThreadsRunning(false))
            return;
        FinishStop();
    }
}

void TMonitorController::FinishStop()
{
    FStopPhase = spNone;
    FStopPoll.stop();
    CloseLog();
    for (auto& task : FTasks) {
        delete task->DirWatch;
        task->DirWatch = nullptr;
    }
    FTimer.stop();
    SetStopped();
    SaveSettings();
    emit MonitoringStopped();
}

void TMonitorController::SetStopped()
{
    FMonitoring = false;
    FStopping = false;
    FView.Stopping = false;
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
        if (task.FileList.Contains(fileName) || !Collects(chgNotId - 1, fileName))
            break;
        // Changes of directories themselves are not collected.
        if (IsDirectory(AddPath(task.Dir, fileName)))
            break;
        task.FileList.Add(fileName);
        ++FFileCount;
        break;
    }
}

bool TMonitorController::Collects(int index, const QString& name)
{
    TMonTask& task = *FTasks[size_t(index)];
    TTaskRun* run = size_t(index) < FRuns.size() ? &FRuns[size_t(index)] : nullptr;
    if (run && run->DestInside && (run->DestPrefix.isEmpty() || name.startsWith(run->DestPrefix)))
        return false;
    const bool selected = MatchesSelection(task.MonFilter, name);
    if (run) {
        const quint64 hits = task.MonFilter.FileFilter.LimitHits() + task.MonFilter.SubDirFilter.LimitHits();
        if (hits != run->LimitHits) {
            run->LimitHits = hits;
            if (!run->LimitTold) {
                run->LimitTold = true;
                const TTextFilter& filter = task.MonFilter.FileFilter.LimitHits()
                    ? task.MonFilter.FileFilter
                    : task.MonFilter.SubDirFilter;
                AddLog(Stamp(index)
                    + SafeFormat(_("The regular expression \"%s\" of the task \"%s\" reached its match limit "
                                   "with \"%s\": that file is not selected (told once per backup)."),
                        {filter.Filter(), task.BuTask, PrintableName(name)}));
            }
        }
    }
    return selected;
}

void TMonitorController::NoteDestinationInside(int index)
{
    TMonTask& task = *FTasks[size_t(index)];
    TTaskRun& run = FRuns[size_t(index)];
    QString dest = task.DestDir;
    QString label;
    if (ResolveVolumeName(dest, label) == 2 || !dest.startsWith(u'/'))
        return;
    // By the names as written, and by the real paths where they exist.
    const QString anchor = QDir::cleanPath(DestinationAnchor(dest));
    const QString dir = QDir::cleanPath(task.Dir);
    QString relative;
    if (platform::IsSameOrBelow(anchor, dir)) {
        relative = anchor.mid(dir.size());
    } else {
        QString realDir, realAnchor;
        if (platform::CanonicalPath(dir, realDir) != 0 || platform::CanonicalPath(anchor, realAnchor) != 0
            || !platform::IsSameOrBelow(realAnchor, realDir))
            return;
        relative = realAnchor.mid(realDir.size());
    }
    while (relative.startsWith(u'/'))
        relative.remove(0, 1);
    run.DestInside = true;
    run.DestPrefix = relative.isEmpty() ? QString() : relative + u'/';
    AddLog(Stamp(index, false)
        + SafeFormat(
            _("The destination \"%s\" lies inside the monitored directory \"%s\": the files below it are "
              "never collected."),
            {task.DestDir, task.Dir}));
}

bool TMonitorController::DestinationOnItsFileSystem(int index, const QString& dest, QString& why)
{
    TMonTask& task = *FTasks[size_t(index)];
    const QString anchor = QDir::cleanPath(DestinationAnchor(dest));
    const QString mount = platform::MountPointOf(anchor);
    if (mount.isEmpty())
        return true;
    // The file system the destination lay on at its last pass is no longer
    // mounted, and the destination now falls through to the one beneath:
    // its medium is gone, and writing would fill the disk underneath.
    if (!task.DestMount.isEmpty() && mount != task.DestMount
        && platform::IsSameOrBelow(anchor, task.DestMount) && !platform::IsMountPoint(task.DestMount)) {
        why = SafeFormat(_("The file system that held it (mounted on \"%s\") is not mounted now; nothing is "
                           "written to the disk beneath."),
            {task.DestMount});
        return false;
    }
    task.DestMount = mount;
    return true;
}

void TMonitorController::FileDone(int index, const QString& name, TBackupOutcome outcome)
{
    if (index < 0 || size_t(index) >= FTasks.size())
        return;
    TMonTask& task = *FTasks[size_t(index)];
    task.InFlight.Remove(name);
    if (outcome == boRetry && !task.FileList.Contains(name)) {
        task.FileList.Add(name);
        ++FFileCount;
    }
    FProgressDirty = true;
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
        if (task.FileList.Contains(name) || !Collects(index, name))
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

bool TMonitorController::ThreadsRunning(bool onlyTasksWithFiles) const
{
    for (const auto& task : FTasks) {
        if (task->BuThread && (!onlyTasksWithFiles || !task->FileList.IsEmpty()))
            return true;
    }
    return false;
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
    // The progress of a pass is saved at most once per second, so that a
    // crash copies again only what was in flight.
    if (FProgressDirty)
        SaveSettingsInBackground();
    if (!FStopping)
        RestartEndedWatchers();

    // 8. A pass is due, or was asked for (not while stopping: the final
    // pass is on its way).
    if (FStopping) {
    } else if (FTimeCount == 0) {
        FTimeCount = FBuInterval;
        FView.ClockPosition = 0;
        StartBackups();
        FView.FileCountText = FileCountText(0);
        FTbStatus = tbsWait;
        FInstantBackup = false;
        FView.ShowFilesVisible = false;
        WarnDestination(3);
    } else if (FInstantBackup) {
        StartBackups();
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
    if (!FMonitoring || FStopping)
        return;
    FInstantBackup = true;
    FView.StartEnabled = false; // until the next tick
    emit StateChanged();
}

void TMonitorController::StartBackups()
{
    const QDateTime now = Now();
    FScanSince = QDateTime::currentDateTimeUtc();
    for (TTaskRun& run : FRuns)
        run.LimitTold = false;
    bool anyPending = false;
    for (const auto& task : FTasks)
        anyPending = anyPending || !task->FileList.IsEmpty();
    if (anyPending) {
        if (FConfig.WriteLog)
            FLog.Open(now.date());
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
            QString why;
            const int resolved = ResolveVolumeName(dest, label);
            if (resolved != 2 && platform::GetDestinationType(dest) != platform::dtUnavailable
                && DestinationOnItsFileSystem(int(i), dest, why)) {
                TBackupThreadExtras extras;
                extras.Clock = FSetup.Clock;
                extras.OnFileDone = [this, i](const QString& name, TBackupOutcome outcome) {
                    FileDone(int(i), name, outcome);
                };
                extras.StepHook = FBackupStepHook;
                // The names stay in the saved pending list (InFlight) until
                // their copies are done.
                task.InFlight = task.FileList;
                task.BuThread = new TBackupThread(
                    int(i) + 1, dest, task.Dir, task.DrvId, task.NoCompCommaText, task.FileList,
                    task.Compress, task.RetainBak, [this](const QString& t) { AddLog(t); },
                    std::move(extras));
                FFileCount -= int(task.FileList.Count());
                task.FileList.Clear();
                task.ErrCount = 0;
            } else {
                // No drive part on Linux: the destination itself is named.
                QString shown;
                if (!GetVolumeLabelPart(task.DestDir, shown))
                    shown = task.DestDir;
                QString line = Stamp(int(i)) + SafeFormat(_("Drive \"%s\" not ready!"), {shown});
                if (!why.isEmpty())
                    line += u' ' + why;
                AddLog(line);
                ++task.ErrCount;
            }
        }
    }
    // Written on another thread: a pass of many files must not stop the
    // window while thousands of names are saved. The end of stopping and
    // closing save again and wait for it.
    SaveSettingsInBackground();
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
