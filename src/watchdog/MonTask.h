// TMonTask: one monitor task - a watched directory paired with a backup
// task file - and the small state types around it.
#pragma once

#include "watchdog/DirectoryWatch.h"
#include "watchdog/MatchList.h"
#include "watchdog/MonFilter.h"

#include <QDateTime>
#include <QString>

namespace kes {

class TBackupThread;

enum TMonTaskStatus { mtEnabled, mtDisabled, mtInvalid };
enum TRunStatus { rsOff, rsWatch, rsBackup };
// Notification-area icon states; the icons are "MICOFF", "MICWAIT", "MICRUN".
enum TTaskBarStatus { tbsOff, tbsWait, tbsRun };

// The change kinds a monitor task's watcher reports.
inline constexpr TWatchOptions kTaskWatchOptions {woFileName, woDirName, woSize, woLastWrite, woCreation};

class TMonTask {
public:
    // Sets BuTask and Dir; everything else empty or 0, mtEnabled, both
    // flags of MonFilter false, the file filter a file filter and the
    // sub-directory filter not (both ignoring case).
    TMonTask(const QString& aTask, const QString& aDir);
    TMonTask(const TMonTask&) = delete;
    TMonTask& operator=(const TMonTask&) = delete;

    // rsOff without a watcher; rsBackup with a watcher and a backup thread;
    // rsWatch with a watcher only.
    TRunStatus GetRunStatus() const;

    TMonTaskStatus MonStatus = mtEnabled;
    QString BuTask; // full file name of the backup task file
    QString Dir; // monitored directory as written in the task file
    QString DestDir; // destination with a trailing delimiter
    QString DrvId; // drive-directory template; empty without drive directories
    QString NoCompCommaText; // types copied without compression
    int ErrCount = 0; // consecutive passes with the destination unavailable
    int DestMode = 0; // 0 separate directories for drives, 1 full structure
    int Compress = 0; // 0 none, 1 gzip, 2 zip
    int RetainBak = 0; // previous versions kept, 0..9
    TMonFilter MonFilter;
    // Pending files relative to Dir ("/" separated). Linux file names that
    // differ only in case are different files, so they are different
    // entries here too.
    TMatchList FileList {TMatchList::kExactNames};
    // Names handed to the running backup thread whose copy is not done yet.
    // They are saved with the pending files, so that a crash loses none of
    // them; a file leaves this list when its copy is in place or has failed
    // for good, and goes back to FileList when it failed for a cause that can
    // heal.
    TMatchList InFlight {TMatchList::kExactNames};
    // Every change below Dir before this moment (UTC) is backed up or
    // pending; the next start of monitoring searches for what changed since
    // (stored as [MonitorNN] "CheckedUntil"). Invalid: nothing is searched.
    QDateTime CheckedUntil;
    // The mount point of the file system the destination lay on at the last
    // pass that started for it ("DestMount"); empty when not known.
    QString DestMount;
    TWatchOptions Watches = kTaskWatchOptions;

    // The watcher while monitoring runs and the running backup thread. Not
    // owned by the task: the monitoring controller creates and frees both
    // (the watcher when monitoring stops, the backup thread at the tick
    // after it finished); the task only records them.
    TDirectoryWatch* DirWatch = nullptr;
    TBackupThread* BuThread = nullptr;
};

} // namespace kes
