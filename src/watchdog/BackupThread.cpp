#include "watchdog/BackupThread.h"

#include "fileengine/CopyErrors.h"
#include "fileengine/CopyThread.h"
#include "fileengine/FileUtils.h"
#include "frame/Format.h"
#include "frame/I18n.h"
#include "platform/ErrorText.h"
#include "platform/FileSystem.h"
#include "platform/RealPath.h"
#include "platform/SpinPause.h"
#include "watchdog/TaskFile.h"
#include "watchdog/WatchdogSettings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocale>
#include <chrono>
#include <utility>

namespace kes {

namespace ps = kes::platform;

// --- Name parts ---------------------------------------------------------------

QString FileExt(const QString& path, PathStyle style)
{
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        const QChar c = path[i];
        if (c == u'.')
            return path.mid(i + 1);
        if (c == u'/' || (style == PathStyle::Windows && (c == u'\\' || c == u':')))
            break;
    }
    return QString();
}

QString DrivePart(const QString& path, PathStyle style)
{
    if (style == PathStyle::Posix)
        return QString();
    if (HasDriveLetter(path))
        return path.left(2);
    if (IsUncPath(path)) {
        // "\\server\share": up to the backslash after the share name.
        const qsizetype server = path.indexOf(u'\\', 2);
        if (server < 0)
            return path;
        const qsizetype share = path.indexOf(u'\\', server + 1);
        return share < 0 ? path : path.left(share);
    }
    return QString();
}

QString WithoutDrive(const QString& path, PathStyle style)
{
    if (style == PathStyle::Posix) {
        qsizetype i = 0;
        while (i < path.size() && path[i] == u'/')
            ++i;
        return path.mid(i);
    }
    const QString drive = DrivePart(path, style);
    if (drive.isEmpty())
        return path;
    QString rest = path.mid(drive.size());
    if (rest.startsWith(u'\\'))
        rest.remove(0, 1);
    return rest;
}

QString VersionName(const QString& path, int k, PathStyle style)
{
    const QString tag = QStringLiteral(".bak-") + QString::number(k);
    const QString ext = FileExt(path, style);
    if (ext.isEmpty() && !path.endsWith(u'.'))
        return path + tag;
    const qsizetype dot = path.size() - ext.size() - 1;
    return path.left(dot) + tag + path.mid(dot);
}

QString ReplaceHour(const QString& text, int hour)
{
    QString result = text;
    result.replace(
        QStringLiteral("%hour%"), QStringLiteral("%1").arg(hour, 2, 10, QChar(u'0')), Qt::CaseInsensitive);
    return result;
}

TBackupTarget BackupTarget(
    const QString& dest, const QString& drvId, const QString& source, int hour, PathStyle style)
{
    QString base = dest;
    const QString drive = DrivePart(source, style);
    if (!drvId.isEmpty() && !drive.isEmpty())
        base = AddPath(dest, DriveDirName(drvId, drive), style);
    TBackupTarget target;
    target.Root = ReplaceHour(dest, hour);
    target.Name = AddPath(ReplaceHour(base, hour), WithoutDrive(source, style), style);
    return target;
}

QString DestinationAnchor(const QString& dest)
{
    const qsizetype at = dest.indexOf(QStringLiteral("%hour%"), 0, Qt::CaseInsensitive);
    if (at < 0)
        return dest;
    return ExtractFilePath(dest.left(at));
}

TLogStamp::TLogStamp()
{
    // The long time format without its time-zone part ("t" outside quotes).
    const QString format = FLocale.timeFormat(QLocale::LongFormat);
    bool quoted = false;
    for (QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        FTimeFormat += c;
    }
    FTimeFormat = FTimeFormat.trimmed();
    FDateFormat = FLocale.dateFormat(QLocale::ShortFormat);
}

QString TLogStamp::Text(const QDateTime& time) const
{
    const QDateTime second = time.addMSecs(-time.time().msec());
    if (second != FLastTime || FLastText.isEmpty()) {
        FLastTime = second;
        FLastText
            = FLocale.toString(time.date(), FDateFormat) + u' ' + FLocale.toString(time.time(), FTimeFormat);
    }
    return FLastText;
}

QString LogDateTime(const QDateTime& time)
{
    return TLogStamp().Text(time);
}

// --- TBackupThread ------------------------------------------------------------

namespace {

bool ExistsNoFollow(const QString& name)
{
    ps::FileStatus st;
    return ps::GetFileStatus(name, false, st) == 0;
}

QString SystemText(int code)
{
    return ps::SystemErrorText(code);
}

QString Quoted(const QString& name)
{
    return u'"' + PrintableName(name) + u'"';
}

// The engine's copy worker, run on the backup thread instead of a thread of
// its own: the backup thread would only wait for it, and starting and
// ending a thread for every file made a pass of many small files several
// times slower than the copying itself.
class TInlineCopyWorker final : public TWinCopyThread {
public:
    TInlineCopyWorker(const QString& source, const QString& dest, TCopyOptions options)
        : TWinCopyThread(source, dest, nullptr, options, true, TBackupThread::kBufferSize)
    {
    }
    // The worker's whole run: its operation, then DoneThread.
    void RunHere() { run(); }
};

QString OutsideSourceText()
{
    return _("The file lies outside the monitored directory (a symbolic link leads out of it) and is not "
             "copied.");
}

QString KeptPendingText()
{
    return _("The file stays pending and is copied at the next backup.");
}

// The device of the deepest existing folder of path.
bool DeviceOfDeepest(QString path, quint64& device)
{
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    for (;;) {
        ps::FileStatus st;
        if (ps::GetFileStatus(path, true, st) == 0) {
            device = st.device;
            return true;
        }
        const qsizetype slash = path.lastIndexOf(u'/');
        if (slash < 0 || path.size() <= 1)
            return false;
        path = slash == 0 ? QStringLiteral("/") : path.left(slash);
    }
}

// Folders made for copies are no more open than the folders they stand
// for; the owner keeps full access so that the copies can be written.
constexpr unsigned kOwnerOnlyDir = 0700;

} // namespace

TBackupThread::TBackupThread(int aId, const QString& destDir, const QString& sourceDir, const QString& drvId,
    const QString& noComp, const TMatchList& aFileList, int aCompress, int aRetain, TGetStrProc aSendMsg,
    TBackupThreadExtras extras)
    : FFileList(aFileList)
    , FId(aId)
    , FCompress(aCompress)
    , FRetain(aRetain)
    , FDest(destDir)
    , FBase(sourceDir)
    , FDrv(drvId)
    , FOnStringMsg(std::move(aSendMsg))
    , FExtras(std::move(extras))
{
    if (!FExtras.Clock)
        FExtras.Clock = TClock::System();
    FNoCompList.SetCommaText(noComp);
    start();
}

TBackupThread::~TBackupThread()
{
    // Only an owner that goes away early gets here with the thread still
    // running: it stops after the current file, and reports it is blocked
    // in are answered without being passed on.
    FDestroying = true;
    const bool owner = QThread::currentThread() == thread();
    while (!wait(QDeadlineTimer(20))) {
        if (owner)
            QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
}

void TBackupThread::run()
{
    FDestAnchor = DestinationAnchor(FDest);
    FDestDeviceKnown = DeviceOfDeepest(FDestAnchor, FDestDevice);
    for (const QString& name : FFileList) {
        if (FDestroying)
            break;
        BackupFile(name);
    }
    FFinished.store(true, std::memory_order_release);
}

QDateTime TBackupThread::Now()
{
    const qint64 msecs = FExtras.Clock->CurrentMSecsSinceEpoch();
    const qint64 second = msecs / 1000;
    if (second != FNowSecond) {
        FNowSecond = second;
        FNow = QDateTime::fromSecsSinceEpoch(second, Qt::LocalTime);
    }
    return FNow.addMSecs(msecs % 1000);
}

void TBackupThread::DoStringMsg()
{
    if (FDestroying)
        return;
    if (FExtras.OnFileDone)
        FExtras.OnFileDone(FMsgName, FMsgOutcome);
    if (FOnStringMsg)
        FOnStringMsg(FMsg);
}

bool TBackupThread::SourceInside(const QString& src, QString& problem)
{
    const auto notFound = [&problem](int code) {
        problem = CopyErrorText(ceFileNotFound | kOpCopy) + QStringLiteral(": ") + SystemText(code);
        return false;
    };
    if (FBaseError < 0)
        FBaseError = ps::CanonicalPath(FBase, FBaseReal);
    if (FBaseError)
        return notFound(FBaseError);
    QString dir = ExtractFilePath(src);
    while (dir.size() > 1 && dir.endsWith(u'/'))
        dir.chop(1);
    if (!FSourceDirsOk.contains(dir)) {
        QString real;
        if (const int e = ps::CanonicalPath(dir, real))
            return notFound(e);
        if (!ps::IsSameOrBelow(real, FBaseReal)) {
            problem = OutsideSourceText();
            return false;
        }
        FSourceDirsOk.insert(dir);
    }
    ps::FileStatus st;
    if (ps::GetFileStatus(src, false, st) == 0 && st.isSymLink) {
        QString real;
        // A dangling link is left to the copy, which reports it missing.
        if (ps::CanonicalPath(src, real) == 0 && !ps::IsSameOrBelow(real, FBaseReal)) {
            problem = OutsideSourceText();
            return false;
        }
    }
    return true;
}

bool TBackupThread::MakeTargetDir(const QString& root, const QString& dir, QString& problem)
{
    if (FTargetDirsOk.contains(dir))
        return true;
    const int createDirWord = kSeverityError + enCreateDirectory;
    const auto failed = [&](const QString& path, const QString& why) {
        problem = CopyErrorText(createDirWord, path) + QStringLiteral(": ") + why;
        return false;
    };
    QString rootReal = FRootReal.value(root);
    if (rootReal.isEmpty()) {
        // The destination itself and the folders above it that are missing
        // are made for the owner only: they stand for no source folder.
        QString top = root;
        while (top.size() > 1 && top.endsWith(u'/'))
            top.chop(1);
        QStringList missing;
        for (QString path = top; !ExistsNoFollow(path);) {
            missing.prepend(path);
            const qsizetype slash = path.lastIndexOf(u'/');
            if (slash <= 0)
                break;
            path = path.left(slash);
        }
        for (const QString& path : missing) {
            const int e = ps::CreateDirectory(path, kOwnerOnlyDir);
            if (e != 0 && !(e == ps::kErrExists && DirectoryExistsXL(path)))
                return failed(path, SystemText(e));
        }
        if (const int e = ps::CanonicalPath(root, rootReal))
            return failed(root, SystemText(e));
        FRootReal.insert(root, rootReal);
    }
    const auto outside = [&problem](const QString& path) {
        problem = Format(_("The directory %s lies outside the destination (a symbolic link leads out of it); "
                           "nothing is written there."),
            {Quoted(path)});
        return false;
    };
    if (!dir.startsWith(root))
        return outside(dir);
    // Every directory below the root in turn: one that exists must lead to
    // a place inside the destination, a missing one is created inside its
    // checked parent with the permissions of the source folder it stands
    // for (destination + source path: the part below the root is that path).
    QString current = root;
    while (current.size() > 1 && current.endsWith(u'/'))
        current.chop(1);
    QString source; // the source folder of current ("/" + the part below the root)
    for (QStringView part : QStringView(dir).sliced(root.size()).split(u'/', Qt::SkipEmptyParts)) {
        current += u'/';
        current += part;
        source += u'/';
        source += part;
        if (FTargetDirsOk.contains(current))
            continue;
        ps::FileStatus st;
        int e = ps::GetFileStatus(current, true, st);
        if (e == ps::kErrNotFound) {
            ps::FileStatus sourceStatus;
            const unsigned mode
                = ps::GetFileStatus(source, true, sourceStatus) == 0 && sourceStatus.isDirectory
                ? ((sourceStatus.mode & 0777) | kOwnerOnlyDir)
                : kOwnerOnlyDir;
            e = ps::CreateDirectory(current, mode);
            if (e == 0) {
                FTargetDirsOk.insert(current);
                continue;
            }
            if (e == ps::kErrExists)
                e = ps::GetFileStatus(current, true, st);
            if (e == ps::kErrNotFound)
                return outside(current); // a link that leads nowhere
        }
        if (e != 0)
            return failed(current, SystemText(e));
        if (!st.isDirectory)
            return failed(current, _("A file of that name is in the way."));
        QString real;
        if (ps::CanonicalPath(current, real) != 0 || !ps::IsSameOrBelow(real, rootReal))
            return outside(current);
        FTargetDirsOk.insert(current);
    }
    FTargetDirsOk.insert(dir);
    return true;
}

bool TBackupThread::DestinationStillThere(QString& problem) const
{
    if (!FDestDeviceKnown)
        return true;
    quint64 device = 0;
    if (DeviceOfDeepest(FDestAnchor, device) && device == FDestDevice)
        return true;
    problem
        = SafeFormat(_("The destination \"%s\" no longer lies on the file system it was on when the backup "
                       "began (was its medium removed?)."),
            {FDest});
    return false;
}

TBackupThread::TCopyChoice TBackupThread::ChooseCopy(const QString& src) const
{
    // Compression by the type of the source. The copy is always written to
    // a temporary name that must not exist yet (no coOverwrite): nothing is
    // written through whatever might have been put there.
    const bool plain = FNoCompList.Contains(FileExt(src));
    TCopyChoice choice {{coAttributes, coTimeStamp}, QString()};
    if (FCompress == 1) {
        if (!plain) {
            choice.Options.Include(coCompress);
            choice.Suffix = QStringLiteral(".gz");
        }
    } else if (FCompress == 2) {
        choice.Options.Include(coZipCompress);
        if (!plain)
            choice.Options.Include(coCompress);
        choice.Suffix = QStringLiteral(".zip");
    }
    return choice;
}

int TBackupThread::CopyToTemporary(
    const QString& src, const QString& temp, const TCopyChoice& choice, QString& message)
{
    TInlineCopyWorker worker(src, temp, choice.Options);
    worker.RunHere();
    message = worker.SysErrorMsg();
    return worker.ErrorCode();
}

bool TBackupThread::ShiftVersions(const QString& target, const TCopyChoice& choice, TFileResult& result)
{
    const QString final = target + choice.Suffix;
    if (FRetain <= 0) {
        if (const int e = DeleteExistingFileXL(final, true)) {
            result.Errors << Format(
                _("Could not delete the former copy %s: %s"), {Quoted(final), SystemText(e)});
            return false;
        }
        return true;
    }
    for (int k = FRetain; k >= 2; --k) {
        const QString older = VersionName(target, k) + choice.Suffix;
        const QString newer = VersionName(target, k - 1) + choice.Suffix;
        if (!ExistsNoFollow(newer))
            continue;
        if (const int e = DeleteExistingFileXL(older, true)) {
            result.Errors << Format(
                _("Could not delete the old version %s: %s"), {Quoted(older), SystemText(e)});
            continue;
        }
        if (const int e = RenameFileXL(newer, older))
            result.Errors << Format(_("Could not rename the version %s to %s: %s"),
                {Quoted(newer), Quoted(older), SystemText(e)});
        else
            ++result.Moved;
    }
    const QString first = VersionName(target, 1) + choice.Suffix;
    int e = DeleteExistingFileXL(first, true);
    if (e) {
        result.Errors << Format(_("Could not delete the old version %s: %s"), {Quoted(first), SystemText(e)});
    } else if ((e = RenameFileXL(final, first)) != 0) {
        result.Errors << Format(_("Could not rename the former copy %s to the previous version %s: %s"),
            {Quoted(final), Quoted(first), SystemText(e)});
    } else {
        ++result.Moved;
        return true;
    }
    // The former copy could not become a version: it is deleted, so that
    // the new copy can still take its place.
    if (const int e2 = DeleteFileXL(final, true)) {
        result.Errors << Format(
            _("Could not delete the former copy %s: %s"), {Quoted(final), SystemText(e2)});
        return false;
    }
    return true;
}

void TBackupThread::PlaceCopy(
    const QString& temp, const QString& final, const QString& src, TFileResult& result)
{
    const int attributes = FileGetAttrXL(src);
    int e = RenameFileXL(temp, final);
    if (e) {
        // A copy that did not take its name is no backup yet.
        result.Outcome = boRetry;
    } else if (attributes != -1) {
        // A source that vanished meanwhile keeps the attributes the copy
        // gave it.
        e = FileSetAttrXL(final, attributes);
    }
    if (e)
        result.Errors << CopyErrorText(ceRenameTemporary) + QStringLiteral(": ") + SystemText(e);
}

TBackupOutcome TBackupThread::OutcomeOfFailure(const QString& src) const
{
    ps::FileStatus st;
    const int e = ps::GetFileStatus(src, false, st);
    if (e == 0)
        return st.isRegular || st.isSymLink ? boRetry : boDropped;
    if (e != ps::kErrNotFound)
        return boRetry; // the source cannot be reached now
    // Missing: gone for good when its folder is still there; a folder that
    // is missing with the whole monitored directory (an unmounted source)
    // may come back.
    ps::FileStatus dir;
    if (ps::GetFileStatus(ExtractFilePath(src), true, dir) == 0)
        return boDropped;
    return ps::GetFileStatus(FBase, true, dir) == 0 ? boDropped : boRetry;
}

TBackupThread::TFileResult TBackupThread::CopyOne(const QString& name, const QString& src, int hour)
{
    TFileResult result;
    const auto fail = [&result](const QString& text, TBackupOutcome outcome) {
        result.Errors << text;
        result.Outcome = outcome;
        return result;
    };
    QString problem;
    if (!IsSafeRelativeName(name))
        return fail(OutsideSourceText(), boDropped);
    if (!DestinationStillThere(problem))
        return fail(problem, boRetry);

    // The copy is made under a temporary name beside its place and renamed
    // into place when it is complete, so that a crash never leaves a
    // cut-off file under the final name. One left by an earlier pass (a
    // crash) is removed first, also when the source has gone since.
    const TCopyChoice choice = ChooseCopy(src);
    const TBackupTarget target = BackupTarget(FDest, FDrv, src, hour);
    const QString final = target.Name + choice.Suffix;
    const QString temp = final + QStringLiteral(".tmp");
    const bool leftover = ExistsNoFollow(temp);
    if (!SourceInside(src, problem)) {
        if (leftover)
            DeleteFileXL(temp, true);
        return fail(problem, problem == OutsideSourceText() ? boDropped : OutcomeOfFailure(src));
    }
    if (!MakeTargetDir(target.Root, ExtractFilePath(target.Name), problem))
        return fail(problem, boRetry);
    if (leftover) {
        if (const int e = DeleteFileXL(temp, true))
            return fail(
                Format(_("Could not delete the old temporary copy %s: %s"), {Quoted(temp), SystemText(e)}),
                boRetry);
    }
    if (FExtras.StepHook)
        FExtras.StepHook(bsBeforeCopy, name);

    QString message;
    const int copyError = CopyToTemporary(src, temp, choice, message);
    if (copyError) {
        result.Errors << (message.isEmpty() ? CopyErrorText(copyError)
                                            : CopyErrorText(copyError) + QStringLiteral(": ") + message);
    }
    // A warning (time stamp, attributes) comes after complete data: the
    // copy takes its place all the same.
    const bool dataComplete = copyError == 0 || ErrorSeverity(copyError) == ErrorSeverity(kSeverityWarning);
    if (!dataComplete) {
        // What a failed copy left is no backup: it goes, and the former
        // copy and its versions stay as they were.
        DeleteExistingFileXL(temp, true);
        result.Outcome = OutcomeOfFailure(src);
        return result;
    }
    if (FExtras.StepHook)
        FExtras.StepHook(bsBeforePlace, name);

    if (ExistsNoFollow(final) && !ShiftVersions(target.Name, choice, result)) {
        result.Errors << Format(_("The new copy is kept as %s."), {Quoted(temp)});
        result.Outcome = boRetry;
        return result;
    }
    PlaceCopy(temp, final, src, result);
    return result;
}

void TBackupThread::BackupFile(const QString& name)
{
    // "%hour%" is the hour the copy starts in; the report is stamped when it
    // is made.
    const QString src = AddPath(FBase, name);
    const TFileResult result = CopyOne(name, src, Now().time().hour());
    Report(name, src, result);
}

void TBackupThread::Report(const QString& name, const QString& src, const TFileResult& result)
{
    if (!FOnStringMsg && !FExtras.OnFileDone)
        return;
    FMsgName = name;
    FMsgOutcome = result.Outcome;
    FMsg = FStamp.Text(Now()) + QStringLiteral(" - ") + QStringLiteral("%1").arg(FId, 2, 10, QChar(u'0'))
        + QStringLiteral(": ") + PrintableName(src) + QStringLiteral(" => ") + FDest;
    if (result.Moved > 0)
        FMsg += QStringLiteral(" (+") + QString::number(result.Moved) + u')';
    for (qsizetype i = 0; i < result.Errors.size(); ++i) {
        FMsg += QStringLiteral("\r\n  *** ") + result.Errors[i];
        if (i == result.Errors.size() - 1 && result.Outcome == boRetry)
            FMsg += u' ' + KeptPendingText();
    }
    HandOverMsg();
}

void TBackupThread::HandOverMsg()
{
    // The answer is given when the queued call is done with: after it has
    // run, or when its event is dropped unrun, so the thread never waits
    // for a call that will not come.
    class TAnswer {
    public:
        explicit TAnswer(TBackupThread* thread)
            : FThread(thread)
        {
        }
        TAnswer(TAnswer&& other) noexcept
            : FThread(std::exchange(other.FThread, nullptr))
        {
        }
        TAnswer(const TAnswer&) = delete;
        TAnswer& operator=(const TAnswer&) = delete;
        TAnswer& operator=(TAnswer&&) = delete;
        ~TAnswer()
        {
            if (FThread) {
                FThread->FMsgAnswered.store(true, std::memory_order_release);
                FThread->FMsgAnswered.notify_one();
            }
        }
        TBackupThread* Thread() const { return FThread; }

    private:
        TBackupThread* FThread;
    };

    FMsgAnswered.store(false, std::memory_order_relaxed);
    QMetaObject::invokeMethod(
        this, [answer = TAnswer(this)] { answer.Thread()->DoStringMsg(); }, Qt::QueuedConnection);
    // The owner mostly answers within microseconds. Waking a thread that
    // went to sleep costs more than copying a small file, so the thread
    // first watches the answer for a short while before it sleeps.
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
    for (unsigned i = 1; !FMsgAnswered.load(std::memory_order_acquire); ++i) {
        if (i % 64 == 0 && std::chrono::steady_clock::now() > until) {
            FMsgAnswered.wait(false, std::memory_order_acquire);
            break;
        }
        ps::SpinPause();
    }
}

} // namespace kes
