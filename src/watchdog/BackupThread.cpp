#include "watchdog/BackupThread.h"

#include "fileengine/CopyErrors.h"
#include "fileengine/CopyThread.h"
#include "fileengine/FileUtils.h"
#include "frame/Format.h"
#include "frame/I18n.h"
#include "platform/ErrorText.h"
#include "platform/FileSystem.h"
#include "platform/RealPath.h"
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

inline void CpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

QString OutsideSourceText()
{
    return _("The file lies outside the monitored directory (a symbolic link leads out of it) and is not "
             "copied.");
}

} // namespace

TBackupThread::TBackupThread(int aId, const QString& destDir, const QString& sourceDir, const QString& drvId,
    const QString& noComp, const TMatchList& aFileList, int aCompress, int aRetain, TGetStrProc aSendMsg,
    TClockPtr aClock)
    : FFileList(aFileList)
    , FId(aId)
    , FCompress(aCompress)
    , FRetain(aRetain)
    , FDest(destDir)
    , FBase(sourceDir)
    , FDrv(drvId)
    , FOnStringMsg(std::move(aSendMsg))
    , FClock(aClock ? std::move(aClock) : TClock::System())
{
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
    for (const QString& name : FFileList) {
        if (FDestroying)
            break;
        BackupFile(name);
    }
    FFinished.store(true, std::memory_order_release);
}

QDateTime TBackupThread::Now()
{
    const qint64 msecs = FClock->CurrentMSecsSinceEpoch();
    const qint64 second = msecs / 1000;
    if (second != FNowSecond) {
        FNowSecond = second;
        FNow = QDateTime::fromSecsSinceEpoch(second, Qt::LocalTime);
    }
    return FNow.addMSecs(msecs % 1000);
}

void TBackupThread::DoStringMsg()
{
    if (!FDestroying && FOnStringMsg)
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
    QString rootReal = FRootReal.value(root);
    if (rootReal.isEmpty()) {
        if (!ForceDirectoriesXL(root)) {
            problem = CopyErrorText(createDirWord, root);
            return false;
        }
        if (const int e = ps::CanonicalPath(root, rootReal)) {
            problem = CopyErrorText(createDirWord, root) + QStringLiteral(": ") + SystemText(e);
            return false;
        }
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
    // checked parent.
    QString current = root;
    while (current.size() > 1 && current.endsWith(u'/'))
        current.chop(1);
    for (QStringView part : QStringView(dir).sliced(root.size()).split(u'/', Qt::SkipEmptyParts)) {
        current += u'/';
        current += part;
        if (FTargetDirsOk.contains(current))
            continue;
        ps::FileStatus st;
        int e = ps::GetFileStatus(current, true, st);
        if (e == ps::kErrNotFound) {
            e = ps::CreateDirectory(current);
            if (e == 0) {
                FTargetDirsOk.insert(current);
                continue;
            }
            if (e == ps::kErrExists)
                e = ps::GetFileStatus(current, true, st);
            if (e == ps::kErrNotFound)
                return outside(current); // a link that leads nowhere
        }
        if (e != 0) {
            problem = CopyErrorText(createDirWord, current) + QStringLiteral(": ") + SystemText(e);
            return false;
        }
        if (!st.isDirectory) {
            problem = CopyErrorText(createDirWord, current) + QStringLiteral(": ")
                + _("A file of that name is in the way.");
            return false;
        }
        QString real;
        if (ps::CanonicalPath(current, real) != 0 || !ps::IsSameOrBelow(real, rootReal))
            return outside(current);
        FTargetDirsOk.insert(current);
    }
    FTargetDirsOk.insert(dir);
    return true;
}

void TBackupThread::BackupFile(const QString& name)
{
    const QDateTime now = Now();
    const QString src = AddPath(FBase, name);
    QStringList errors; // lines marked "  *** " in the report
    int moved = 0;

    [&] {
        QString problem;
        if (!IsSafeRelativeName(name)) {
            errors << OutsideSourceText();
            return;
        }
        if (!SourceInside(src, problem)) {
            errors << problem;
            return;
        }
        const TBackupTarget target = BackupTarget(FDest, FDrv, src, now.time().hour());
        const QString& d = target.Name;

        // Compression by the type of the source.
        const bool plain = FNoCompList.Contains(FileExt(src));
        TCopyOptions options {coOverwrite, coAttributes, coTimeStamp};
        QString suffix;
        if (FCompress == 1) {
            if (!plain) {
                options.Include(coCompress);
                suffix = QStringLiteral(".gz");
            }
        } else if (FCompress == 2) {
            options.Include(coZipCompress);
            if (!plain)
                options.Include(coCompress);
            suffix = QStringLiteral(".zip");
        }

        if (!MakeTargetDir(target.Root, ExtractFilePath(d), problem)) {
            errors << problem;
            return;
        }
        const QString final = d + suffix;
        const bool existed = ExistsNoFollow(final);
        const QString temp = existed ? final + QStringLiteral(".tmp") : final;
        if (existed && ExistsNoFollow(temp)) {
            // Left by an earlier pass; removed so that the copy never
            // writes through whatever that name is now.
            if (const int e = DeleteFileXL(temp, true)) {
                errors << Format(
                    _("Could not delete the old temporary copy %s: %s"), {Quoted(temp), SystemText(e)});
                return;
            }
        }

        int copyError = 0;
        QString copyMessage;
        {
            TInlineCopyWorker worker(src, temp, options);
            worker.RunHere();
            copyError = worker.ErrorCode();
            copyMessage = worker.SysErrorMsg();
        }
        if (copyError) {
            errors << (copyMessage.isEmpty() ? CopyErrorText(copyError)
                                             : CopyErrorText(copyError) + QStringLiteral(": ") + copyMessage);
        }
        // A warning (time stamp, attributes) comes after complete data: the
        // copy takes its place all the same.
        const bool dataComplete
            = copyError == 0 || ErrorSeverity(copyError) == ErrorSeverity(kSeverityWarning);
        if (!dataComplete) {
            // What a failed copy left (a cut-off file under the final name,
            // or a cut-off temporary copy) is no backup: it goes, and the
            // former copy and its versions stay as they were.
            DeleteExistingFileXL(temp, true);
            return;
        }
        if (!existed || !ExistsNoFollow(temp))
            return;

        bool placeFree = true; // the former copy is out of the way
        if (FRetain <= 0) {
            if (const int e = DeleteExistingFileXL(final, true)) {
                errors << Format(
                    _("Could not delete the former copy %s: %s"), {Quoted(final), SystemText(e)});
                placeFree = false;
            }
        } else {
            for (int k = FRetain; k >= 2; --k) {
                const QString older = VersionName(d, k) + suffix;
                const QString newer = VersionName(d, k - 1) + suffix;
                if (!ExistsNoFollow(newer))
                    continue;
                if (const int e = DeleteExistingFileXL(older, true)) {
                    errors << Format(
                        _("Could not delete the old version %s: %s"), {Quoted(older), SystemText(e)});
                    continue;
                }
                if (const int e = RenameFileXL(newer, older))
                    errors << Format(_("Could not rename the version %s to %s: %s"),
                        {Quoted(newer), Quoted(older), SystemText(e)});
                else
                    ++moved;
            }
            const QString first = VersionName(d, 1) + suffix;
            int e = DeleteExistingFileXL(first, true);
            if (e) {
                errors << Format(
                    _("Could not delete the old version %s: %s"), {Quoted(first), SystemText(e)});
            } else if ((e = RenameFileXL(final, first)) != 0) {
                errors << Format(_("Could not rename the former copy %s to the previous version %s: %s"),
                    {Quoted(final), Quoted(first), SystemText(e)});
            } else {
                ++moved;
            }
            // The former copy could not become a version: it is deleted,
            // so that the new copy can still take its place.
            if (e) {
                if (const int e2 = DeleteFileXL(final, true)) {
                    errors << Format(
                        _("Could not delete the former copy %s: %s"), {Quoted(final), SystemText(e2)});
                    placeFree = false;
                }
            }
        }
        if (!placeFree) {
            errors << Format(_("The new copy is kept as %s."), {Quoted(temp)});
            return;
        }
        const int attributes = FileGetAttrXL(src);
        int e = RenameFileXL(temp, final);
        // A source that vanished meanwhile keeps the attributes the copy
        // gave it.
        if (e == 0 && attributes != -1)
            e = FileSetAttrXL(final, attributes);
        if (e)
            errors << CopyErrorText(ceRenameTemporary) + QStringLiteral(": ") + SystemText(e);
    }();

    if (!FOnStringMsg)
        return;
    FMsg = FStamp.Text(now) + QStringLiteral(" - ") + QStringLiteral("%1").arg(FId, 2, 10, QChar(u'0'))
        + QStringLiteral(": ") + PrintableName(src) + QStringLiteral(" => ") + FDest;
    if (moved > 0)
        FMsg += QStringLiteral(" (+") + QString::number(moved) + u')';
    for (const QString& e : errors)
        FMsg += QStringLiteral("\r\n  *** ") + e;
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
        CpuRelax();
    }
}

} // namespace kes
