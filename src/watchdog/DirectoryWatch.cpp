#include "watchdog/DirectoryWatch.h"

#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/PathRules.h"
#include "platform/DirNotify.h"
#include "platform/DirScan.h"
#include "platform/ErrorText.h"
#include "platform/FileName.h"
#include "platform/FileSystem.h"

#include <QDeadlineTimer>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <mutex>
#include <utility>

namespace kes {

using platform::DirChange;

unsigned NotifyFilter(TWatchOptions Options)
{
    static constexpr unsigned kBits[8] = {
        platform::kNotifyFileName,
        platform::kNotifyDirName,
        platform::kNotifyAttributes,
        platform::kNotifySize,
        platform::kNotifyLastWrite,
        platform::kNotifyLastAccess,
        platform::kNotifyCreation,
        platform::kNotifySecurity,
    };
    unsigned filter = 0;
    for (int i = 0; i < 8; ++i) {
        if (Options.Contains(TWatchOption(i)))
            filter |= kBits[i];
    }
    return filter;
}

EDirWatchError::EDirWatchError(int Code, const QString& Message)
    : std::runtime_error(Message.toStdString())
    , FCode(Code)
    , FMessage(Message)
{
}

namespace {

QString WatchLimitText(const QString& Path, int Count)
{
    const int limit = platform::DirWatchLimit();
    if (Count <= 1)
        return Format(_("The system's limit of directory watches (%s = %d) is reached: changes in \"%s\" are "
                        "not watched. Raise the limit to watch the whole tree."),
            {platform::DirWatchLimitSetting(), limit, Path});
    return Format(_("The system's limit of directory watches (%s = %d) is reached: changes in \"%s\" and %d "
                    "other directories are not watched. Raise the limit to watch the whole tree."),
        {platform::DirWatchLimitSetting(), limit, Path, Count - 1});
}

} // namespace

// The watcher thread: opens the notification in its constructor (so that
// Start raises when the directory cannot be watched), then reads changes
// and hands each batch to the watcher's thread as a queued call.
class TDirWatchThread : public QThread {
public:
    TDirWatchThread(const QString& Directory, TDirectoryWatch* Target, std::size_t BufferBytes,
        unsigned TypeFilter, bool aWatchSubTree, std::function<void()> Hook)
        : FTarget(Target)
        , FDirectory(Directory)
        , FHook(std::move(Hook))
    {
        const int error = FNotifier.Open(Directory, aWatchSubTree, TypeFilter, BufferBytes);
        if (error == 0)
            return;
        QString text
            = Format(_("Error trying to create file handle for \"%s\". Error code: %d"), {Directory, error});
        switch (platform::LimitOfFailure(FNotifier.FailedStep(), error)) {
        case platform::DirNotifyLimit::Instances:
            text += QStringLiteral("\r\n")
                + Format(_("Too many change notifications or files are open (see %s)."),
                    {platform::DirInstanceLimitSetting()});
            break;
        case platform::DirNotifyLimit::Watches:
            text += QStringLiteral("\r\n") + WatchLimitText(Directory, 1);
            break;
        case platform::DirNotifyLimit::None:
            break;
        }
        throw EDirWatchError(error, text);
    }

    void Abort() { FNotifier.Abort(); }
    int WatchCount() const { return FNotifier.WatchCount(); }

    // Called when the thread did not end in time: it delivers nothing more
    // and deletes itself once it has ended.
    void Detach()
    {
        {
            std::lock_guard<std::mutex> lock(FPostLock);
            FDetached = true;
        }
        connect(this, &QThread::finished, this, &QObject::deleteLater);
        if (isFinished())
            deleteLater(); // ended before the connection was made; a second call is harmless
    }

protected:
    void run() override
    {
        std::vector<DirChange> batch;
        for (;;) {
            bool goesOn = true;
            try {
                if (FHook)
                    FHook();
                goesOn = FNotifier.Read(batch);
            } catch (const std::exception& e) {
                // Told like any error of the thread, with the last system
                // error as its code; the loop goes on.
                batch.push_back(
                    DirChange {DirChange::Fault, platform::LastError(), 0, QString::fromLocal8Bit(e.what())});
            }
            if (!batch.empty()) {
                Post(std::move(batch));
                batch = {};
            }
            if (!goesOn)
                break;
        }
    }

private:
    // Never waits for the main thread: the batch joins its event queue.
    void Post(std::vector<DirChange>&& Batch)
    {
        std::lock_guard<std::mutex> lock(FPostLock);
        if (FDetached)
            return;
        TDirectoryWatch* target = FTarget;
        QMetaObject::invokeMethod(
            target, [target, dir = FDirectory, b = std::move(Batch)] { target->Deliver(dir, b); },
            Qt::QueuedConnection);
    }

    platform::DirNotifier FNotifier;
    TDirectoryWatch* FTarget;
    QString FDirectory;
    std::function<void()> FHook;
    std::mutex FPostLock;
    bool FDetached = false;
};

TDirectoryWatch::TDirectoryWatch(int AId, QObject* parent)
    : QObject(parent)
    , FId(AId)
{
}

TDirectoryWatch::~TDirectoryWatch()
{
    Stop();
}

void TDirectoryWatch::Start()
{
    if (FDirectory.isEmpty())
        throw EDirWatchError(0, _("Please specify a directory to watch"));
    if (Running())
        return;
    CreateWatchThread();
    Change();
}

void TDirectoryWatch::Stop()
{
    if (!Running())
        return;
    DestroyWatchThread();
    Change();
}

bool TDirectoryWatch::Running() const
{
    return FWatchThread != nullptr;
}

bool TDirectoryWatch::ThreadEnded() const
{
    return FWatchThread && FWatchThread->isFinished();
}

void TDirectoryWatch::SetDirectory(const QString& Value)
{
    const QString dir = Value.trimmed();
    // Directory names are the file system's: on Linux two names that differ
    // in case are two directories.
    if (platform::SameFileName(dir, FDirectory))
        return;
    FDirectory = dir;
    Restart();
}

void TDirectoryWatch::SetWatchSubTree(bool Value)
{
    if (Value == FWatchSubTree)
        return;
    FWatchSubTree = Value;
    Restart();
}

void TDirectoryWatch::SetWatchOptions(TWatchOptions Value)
{
    if (Value == FWatchOptions)
        return;
    FWatchOptions = Value;
    Restart();
}

void TDirectoryWatch::SetWatchActions(TWatchActions Value)
{
    if (Value == FWatchActions)
        return;
    FWatchActions = Value;
    Restart();
}

void TDirectoryWatch::SetBufferSize(int Value)
{
    FBufferSize = std::clamp(Value, 1, 1 << 20);
}

int TDirectoryWatch::WatchCount() const
{
    return FWatchThread ? FWatchThread->WatchCount() : 0;
}

void TDirectoryWatch::Change()
{
    emit OnChange(this);
}

void TDirectoryWatch::Notify(int Action, const QString& FileName)
{
    if (Action < 1 || Action > 5)
        return;
    const auto action = TWatchAction(Action - 1);
    if (FWatchActions.Contains(action))
        emit OnNotify(this, FId, action, FileName);
}

void TDirectoryWatch::SetThreadHook(std::function<void()> Hook)
{
    FThreadHook = std::move(Hook);
}

void TDirectoryWatch::Restart()
{
    if (Running()) {
        Stop();
        Start();
    }
    Change();
}

void TDirectoryWatch::CreateWatchThread()
{
    auto* thread = new TDirWatchThread(FDirectory, this, std::size_t(FBufferSize) * kRecordBytes,
        NotifyFilter(FWatchOptions), FWatchSubTree, FThreadHook);
    FWatchThread = thread;
    thread->start();
}

void TDirectoryWatch::DestroyWatchThread()
{
    TDirWatchThread* thread = std::exchange(FWatchThread, nullptr);
    thread->Abort();
    if (thread->wait(QDeadlineTimer(kStopTimeoutMs))) {
        delete thread;
        return;
    }
    // A thread blocked in the kernel (a hung network mount, say) cannot be
    // ended safely from outside: killing it could leave locks held. It has
    // been told to abort; it posts nothing more and frees itself when its
    // call returns.
    thread->Detach();
    emit OnError(this, kStopTimeoutCode,
        Format(_("The watcher thread of \"%s\" did not end within %d ms; it is left to end by "
                 "itself."),
            {FDirectory, kStopTimeoutMs}));
}

void TDirectoryWatch::Deliver(const QString& Dir, const std::vector<DirChange>& Batch)
{
    const QPointer<TDirectoryWatch> self(this);
    for (const DirChange& c : Batch) {
        if (c.Kind >= DirChange::Added && c.Kind <= DirChange::RenamedNew)
            Notify(int(c.Kind), c.Name);
        else
            emit OnError(this, c.Code, ReportText(Dir, c));
        if (!self)
            return; // a receiver deleted the watcher
    }
}

QString TDirectoryWatch::ReportText(const QString& Dir, const DirChange& Change) const
{
    const QString path = AddPath(Dir, Change.Name);
    switch (Change.Kind) {
    case DirChange::Overflow:
        return Format(_("Changes below \"%s\" came faster than they could be recorded, and some of them "
                        "were lost. The directory has to be searched for changed files."),
            {Dir});
    case DirChange::WatchLimit:
        return WatchLimitText(path, Change.Count);
    case DirChange::WatchFailed:
        if (Change.Count <= 1)
            return Format(
                _("Changes in \"%s\" are not watched: %s"), {path, platform::SystemErrorText(Change.Code)});
        return Format(_("Changes in \"%s\" and %d other directories are not watched: %s"),
            {path, Change.Count - 1, platform::SystemErrorText(Change.Code)});
    case DirChange::Gone:
        return Format(_("The watched directory \"%s\" was removed, moved or unmounted; watching it has "
                        "ended."),
            {Dir});
    case DirChange::Failed:
        return Format(_("Error reading the changes below \"%s\": %s. Watching it has ended."),
            {Dir, platform::SystemErrorText(Change.Code)});
    case DirChange::Fault:
        return Format(_("Error while watching \"%s\": %s"), {Dir, Change.Name});
    default:
        return QString();
    }
}

TChangedFiles ListChangedFiles(const QString& Dir, const QDateTime& Since)
{
    TChangedFiles result;
    const qint64 since = Since.isValid() ? Since.toMSecsSinceEpoch() : 0;
    const platform::ScanResult scan = platform::ListChangedFiles(Dir, since, result.Names);
    result.ErrorCode = scan.Error;
    result.Unreadable = scan.Unreadable;
    result.FirstUnreadable = scan.FirstUnreadable;
    result.FirstUnreadableError = scan.FirstUnreadableError;
    return result;
}

} // namespace kes
