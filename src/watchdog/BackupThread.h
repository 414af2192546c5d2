// TBackupThread: one backup pass of one monitor task.
//
// The thread copies the task's pending files, one after the other, from the
// monitored directory to the destination in the task's layout, as plain
// copies, gzip files or one-file zip archives (one copy worker of the file
// engine per file, run on this thread rather than a thread of its own),
// keeps up to nine previous versions of each file
// ("report.bak-1.docx" ...), and hands one report text per file to the
// thread that created it (the main thread) through a queued call it waits for,
// so that the log is written by the main thread only, one whole text at a
// time. The creator must keep its event loop running while the thread
// works. Completion is told only by Finished(), which the creator polls.
//
// Destination names on Linux: destination + the source path without its
// leading "/" (both layouts; a source path has no drive part). Drive
// directories (DriveDirName) are only used for sources written with a
// drive letter or as a network path, which task files from Windows hold.
//
// What stays inside: a name that is absolute or has a "." or ".." step is
// not copied; a source whose real path (symbolic links resolved) lies
// outside the monitored directory is not read; directories are created
// below the destination one by one, and one whose real path lies outside
// the destination (a symbolic link out of it) is not written into; the file
// names at the destination are examined without following links, and a
// leftover temporary copy is removed before the copy, so no write goes
// through a link. These checks are made when each file is copied; they do
// not hold against another process that swaps a directory for a link
// while the copy runs.
#pragma once

#include "fileengine/CopyTypes.h"
#include "frame/Clock.h"
#include "frame/PathRules.h"
#include "watchdog/MatchList.h"

#include <QDateTime>
#include <QLocale>
#include <QSet>
#include <QThread>
#include <atomic>
#include <functional>

namespace kes {

// Receiver of report texts (the monitoring's AddLog).
using TGetStrProc = std::function<void(const QString&)>;

// --- Name parts (pure functions; both path styles) -------------------------

// The text after the last "." of path that is not followed by a delimiter;
// empty when there is none.
QString FileExt(const QString& path, PathStyle style = kNativePathStyle);
// Windows: "C:" or "\\server\share"; POSIX: always empty.
QString DrivePart(const QString& path, PathStyle style = kNativePathStyle);
// path without its drive part and the delimiter after it (Windows), or
// without its leading "/" (POSIX).
QString WithoutDrive(const QString& path, PathStyle style = kNativePathStyle);
// path with ".bak-" + k inserted before its extension.
QString VersionName(const QString& path, int k, PathStyle style = kNativePathStyle);
// Every "%hour%" (any letter case) replaced by the two-digit hour.
QString ReplaceHour(const QString& text, int hour);

// Where a source file goes: Root is the destination with "%hour%" filled
// in, Name the destination file name without compression suffix.
struct TBackupTarget {
    QString Root;
    QString Name;
};
TBackupTarget BackupTarget(const QString& dest, const QString& drvId, const QString& source, int hour,
    PathStyle style = kNativePathStyle);

// The part of a destination that no "%hour%" changes: up to the folder
// before the first placeholder.
QString DestinationAnchor(const QString& dest);

// The stamp of log lines: the locale's short date and long time (without
// the time zone).
QString LogDateTime(const QDateTime& time);

// The same with the formats looked up once (for many lines).
class TLogStamp {
public:
    TLogStamp();
    QString Text(const QDateTime& time) const;

private:
    QLocale FLocale;
    QString FDateFormat;
    QString FTimeFormat;
    // Formatting is slow next to copying a small file; a pass reports many
    // files within the same second. One stamp belongs to one thread.
    mutable QDateTime FLastTime;
    mutable QString FLastText;
};

// What became of one file of a pass.
enum TBackupOutcome {
    boCopied, // the copy is in place (perhaps with a warning about its metadata)
    boRetry, // not backed up, for a cause that can heal (destination full, not writable or
             // gone, source unreadable): the file stays pending
    boDropped, // not backed up, and never will be as it is: the source no longer exists, or is
               // no regular file, or may not be read (it lies outside the monitored directory)
};

// Points of a file's backup where a test may hold the thread.
enum TBackupStep {
    bsBeforeCopy, // the target directory is made, the temporary name is free
    bsBeforePlace, // the temporary copy is complete, nothing is renamed yet
};

// What a pass needs besides its files.
struct TBackupThreadExtras {
    TClockPtr Clock; // report stamps, "%hour%"; null: the system clock
    // Called in the owner's thread with each report (also without a report
    // receiver): the file's relative name and what became of it.
    std::function<void(const QString& name, TBackupOutcome outcome)> OnFileDone;
    // Called on the backup thread at each step (tests).
    std::function<void(TBackupStep step, const QString& name)> StepHook;
};

class TBackupThread final : public QThread {
public:
    static constexpr int kBufferSize = 0x80000;

    // Copies aFileList and starts at once. aId is the task's 1-based list
    // position, destDir the destination (volume label resolved, "%hour%"
    // still in), sourceDir the monitored directory, noComp the
    // comma-separated types copied without compression, aCompress 0 none, 1
    // gzip, 2 zip, aRetain the previous versions to keep (0..9).
    TBackupThread(int aId, const QString& destDir, const QString& sourceDir, const QString& drvId,
        const QString& noComp, const TMatchList& aFileList, int aCompress, int aRetain, TGetStrProc aSendMsg,
        TBackupThreadExtras extras = {});
    // Waits for the thread (answering its reports without passing them on).
    ~TBackupThread() override;

    // The thread has worked through all its files.
    bool Finished() const { return FFinished.load(std::memory_order_acquire); }
    int Id() const { return FId; }
    qsizetype FileCount() const { return FFileList.Count(); }

protected:
    void run() override;

private:
    // The result of one file: the error lines of its report, the versions
    // moved, and what becomes of its pending entry.
    struct TFileResult {
        QStringList Errors;
        int Moved = 0;
        TBackupOutcome Outcome = boCopied;
    };
    // How a file is copied: the worker's options and the suffix of the copy.
    struct TCopyChoice {
        TCopyOptions Options;
        QString Suffix;
    };

    void BackupFile(const QString& name);
    // The steps of one file, in order.
    TFileResult CopyOne(const QString& name, const QString& src, int hour);
    TCopyChoice ChooseCopy(const QString& src) const;
    int CopyToTemporary(const QString& src, const QString& temp, const TCopyChoice& choice, QString& message);
    // Makes room for the new copy: the former copy becomes version 1 (and
    // the versions move up) or is deleted. False: the place is still taken.
    bool ShiftVersions(const QString& target, const TCopyChoice& choice, TFileResult& result);
    void PlaceCopy(const QString& temp, const QString& final, const QString& src, TFileResult& result);
    // After a failed copy: whether the cause can heal.
    TBackupOutcome OutcomeOfFailure(const QString& src) const;
    void Report(const QString& name, const QString& src, const TFileResult& result);

    // False (with a text in problem) when src may not be read.
    bool SourceInside(const QString& src, QString& problem);
    bool MakeTargetDir(const QString& root, const QString& dir, QString& problem);
    // False when the destination no longer lies on the file system it was
    // on when the pass began (its medium was removed or unmounted).
    bool DestinationStillThere(QString& problem) const;
    void DoStringMsg();
    // Runs DoStringMsg in the owner's thread and waits until it has run.
    void HandOverMsg();
    // The local time of the file at hand, converted once per second (a pass
    // reports many files within a second, and every local-time conversion
    // looks at the time-zone file).
    QDateTime Now();

    TMatchList FFileList;
    TMatchList FNoCompList;
    int FId;
    int FCompress;
    int FRetain;
    QString FMsg;
    QString FMsgName; // the relative name of the file FMsg reports
    TBackupOutcome FMsgOutcome = boCopied;
    QString FDest;
    QString FBase;
    QString FDrv;
    TGetStrProc FOnStringMsg;
    TBackupThreadExtras FExtras;
    qint64 FNowSecond = -1; // FNow's second since the epoch
    QDateTime FNow;
    TLogStamp FStamp; // made where the thread is created, with that locale

    QString FBaseReal; // real path of FBase, resolved once
    int FBaseError = -1; // -1 not yet resolved
    QSet<QString> FSourceDirsOk;
    QHash<QString, QString> FRootReal; // destination root -> its real path
    QSet<QString> FTargetDirsOk;
    QString FDestAnchor; // the part of the destination before any "%hour%"
    quint64 FDestDevice = 0; // the file system holding FDestAnchor when the pass began
    bool FDestDeviceKnown = false;
    std::atomic<bool> FFinished {false};
    std::atomic<bool> FMsgAnswered {true}; // the owner has run DoStringMsg
    std::atomic<bool> FDestroying {false};
};

} // namespace kes
