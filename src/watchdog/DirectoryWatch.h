// TDirectoryWatch: reports the changes below one directory.
//
// For every file or directory that is added, removed, modified or renamed
// below Directory, the watcher emits OnNotify with the action and the name
// relative to Directory ("sub/file.txt"). The watching runs in a thread of
// its own (TDirWatchThread, on the platform's DirNotifier); the thread
// hands its records over in batches through queued calls, so every signal
// of the watcher is emitted in the thread that owns it (the main thread),
// in the order the changes happened, each record once.
//
// Signals (rather than callbacks) carry the events: OnNotify, OnChange and
// OnError. Errors of a running watcher arrive only through OnError:
//   1022   changes were dropped (the kernel's queue overflowed); watching
//          goes on, and the owner should look for changed files itself
//          (ListChangedFiles)
//   28     the system's watch limit is reached: some directories of the
//          tree are not watched; watching of the others goes on
//   2      the watched directory was removed or moved away: the thread has
//          ended (ThreadEnded())
//   258    Stop: the thread did not end in time and is left to end by
//          itself
//   other  errno values of the system (a directory that cannot be
//          watched, a failing read; after a failing read the thread ends,
//          and an unexpected exception in the thread is told with the last
//          system error while the thread goes on)
#pragma once

#include "frame/EnumSet.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <vector>

namespace kes {

namespace platform {
struct DirChange;
}

enum TWatchOption {
    woFileName,
    woDirName,
    woAttributes,
    woSize,
    woLastWrite,
    woLastAccess,
    woCreation,
    woSecurity
};
enum TWatchAction { waAdded, waRemoved, waModified, waRenamedOld, waRenamedNew };

using TWatchOptions = TEnumSet<TWatchOption, 8>;
using TWatchActions = TEnumSet<TWatchAction, 5>;

// The notify-filter bits of the options: 0x1 file name, 0x2 directory name,
// 0x4 attributes, 0x8 size, 0x10 last write, 0x20 last access, 0x40
// creation, 0x100 security.
unsigned NotifyFilter(TWatchOptions Options);

// Raised by Start (and by the setters that restart a running watcher).
class EDirWatchError : public std::runtime_error {
public:
    EDirWatchError(int Code, const QString& Message);
    int Code() const { return FCode; }
    QString Message() const { return FMessage; }

private:
    int FCode;
    QString FMessage;
};

class TDirWatchThread;

class TDirectoryWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kStopTimeoutMs = 3000;
    static constexpr int kDefaultBufferSize = 32; // records of 532 bytes
    static constexpr int kRecordBytes = 532;
    static constexpr int kOverflowCode = 1022;
    static constexpr int kStopTimeoutCode = 258;

    // Create(AId): AId comes back as ChgNotId with every notification.
    explicit TDirectoryWatch(int AId, QObject* parent = nullptr);
    ~TDirectoryWatch() override;

    // Raises EDirWatchError: "Please specify a directory to watch" for an
    // empty Directory, "Error trying to create file handle for ..." when the
    // directory cannot be watched. Does nothing while running. Returns when
    // the whole tree is watched.
    void Start();
    // Tells the thread to end and waits for it up to kStopTimeoutMs.
    void Stop();
    // A watcher thread exists (also one that has ended on an error).
    bool Running() const;
    // Running, but the thread has ended (the directory went away or reading
    // failed): the owner may Stop and Start it again.
    bool ThreadEnded() const;

    int Id() const { return FId; }
    QString Directory() const { return FDirectory; }
    // Trimmed; a value equal to the current one without regard to case
    // changes nothing. A new value restarts a running watcher.
    void SetDirectory(const QString& Value);
    bool WatchSubTree() const { return FWatchSubTree; }
    void SetWatchSubTree(bool Value);
    TWatchOptions WatchOptions() const { return FWatchOptions; }
    void SetWatchOptions(TWatchOptions Value);
    TWatchActions WatchActions() const { return FWatchActions; }
    void SetWatchActions(TWatchActions Value);
    // The result buffer in records of 532 bytes, used from the next Start.
    // Linux queues changes in the kernel; the buffer only sets how much one
    // read takes (at least 64 KiB).
    int BufferSize() const { return FBufferSize; }
    void SetBufferSize(int Value);

    // Directories watched now (1 for a watcher without its tree).
    int WatchCount() const;

    // Emits OnChange.
    virtual void Change();
    // Action is the system's action number 1..5 (the watch action + 1).
    // Emits OnNotify when Action - 1 is in WatchActions; other numbers are
    // dropped.
    virtual void Notify(int Action, const QString& FileName);

    // For tests and benchmarks: called in the watcher thread before every
    // wait for changes. A hook that blocks holds the reading (changes pile up
    // in the kernel); one that blocks past Stop stands for a stuck thread.
    // Takes effect at the next Start.
    void SetThreadHook(std::function<void()> Hook);

signals:
    void OnNotify(
        kes::TDirectoryWatch* Sender, int ChgNotId, kes::TWatchAction Action, const QString& FileName);
    void OnChange(kes::TDirectoryWatch* Sender);
    void OnError(kes::TDirectoryWatch* Sender, int ErrorCode, const QString& ErrorMessage);

private:
    friend class TDirWatchThread;
    void CreateWatchThread();
    void DestroyWatchThread();
    void Restart();
    void Deliver(const QString& Dir, const std::vector<platform::DirChange>& Batch);
    QString ReportText(const QString& Dir, const platform::DirChange& Change) const;

    TWatchOptions FWatchOptions = TWatchOptions::All();
    TWatchActions FWatchActions = TWatchActions::All();
    bool FWatchSubTree = true;
    TDirWatchThread* FWatchThread = nullptr;
    int FId;
    int FBufferSize = kDefaultBufferSize;
    QString FDirectory;
    std::function<void()> FThreadHook;
};

// The files below Dir that changed since Since, for catching up after
// dropped changes (error 1022) or a restarted watcher: regular files and
// symbolic links whose modification or status-change time is at or after
// Since, names relative to Dir ("/" separated). Directories that cannot be
// read are counted, and the walk goes on.
struct TChangedFiles {
    QStringList Names;
    int ErrorCode = 0; // errno when Dir itself cannot be read
    int Unreadable = 0;
    QString FirstUnreadable; // relative name
    int FirstUnreadableError = 0;
};
TChangedFiles ListChangedFiles(const QString& Dir, const QDateTime& Since);

} // namespace kes
