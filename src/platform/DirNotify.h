// Directory change notification: what happens below one directory, as a
// stream of records with names relative to it.
//
// On Linux this rests on inotify. inotify watches single directories, so
// for a whole tree the notifier keeps one watch per directory: it adds
// watches for directories that appear (and reports what is already inside
// them, so nothing created before their watch existed is missed), drops
// the watches of removed or moved-out directories, and renames the watches
// of directories moved inside the tree. A rename inside the tree is paired
// by the kernel's cookie into RenamedOld + RenamedNew; a move out of the
// tree is reported as Removed, a move in as Added.
//
// Change kinds (the filter bits) and what inotify delivers for them:
//
//   kNotifyFileName     create, delete, move of files  -> Added/Removed/Renamed*
//   kNotifyDirName      the same for directories
//   kNotifyCreation     create of files and directories -> Added
//   kNotifySize,        IN_MODIFY and IN_CLOSE_WRITE   -> Modified, coalesced:
//   kNotifyLastWrite    the first write reports at once, further writes within
//                       one second are reported once when the file is closed
//                       or the second is over (so a file written in many
//                       chunks, or kept open, gives a few records, not one
//                       per write, and its last change is never swallowed)
//   kNotifyAttributes,  IN_ATTRIB (mode, owner, times, ACLs, xattrs) -> Modified
//   kNotifySecurity     (Linux does not tell security changes apart)
//   kNotifyLastAccess   IN_ACCESS of files -> Modified, coalesced like writes
//                       (directories are left out: listing them, as the
//                       notifier itself does, would report them)
//
// Read() is meant for one thread of its own; Abort() and WatchCount() may
// be called from any thread.
#pragma once

#include <QString>
#include <cstddef>
#include <memory>
#include <vector>

namespace kes::platform {

enum DirNotifyFilter : unsigned {
    kNotifyFileName = 0x1,
    kNotifyDirName = 0x2,
    kNotifyAttributes = 0x4,
    kNotifySize = 0x8,
    kNotifyLastWrite = 0x10,
    kNotifyLastAccess = 0x20,
    kNotifyCreation = 0x40,
    kNotifySecurity = 0x100,
};

struct DirChange {
    enum TKind : unsigned char {
        None = 0, // internal placeholder, never delivered
        // The five actions, numbered as the watcher's action numbers.
        Added = 1,
        Removed = 2,
        Modified = 3,
        RenamedOld = 4,
        RenamedNew = 5,
        // Reports. name is relative to the watched directory.
        Overflow, // the kernel dropped changes; the watches were checked again afterwards
        WatchLimit, // count directories got no watch: the user's watch limit is reached (name: the first)
        WatchFailed, // count directories got no watch for another reason (code; name: the first)
        Gone, // the watched directory was removed, moved away or unmounted: the notifier ended
        Failed, // reading the notifications failed (code): the notifier ended
        Fault, // an unexpected error in the reading thread (name: its text); reading goes on
    };
    TKind Kind = None;
    int Code = 0; // errno of a report
    int Count = 0; // directories concerned (WatchLimit, WatchFailed)
    QString Name;
};

class DirNotifier {
public:
    DirNotifier();
    ~DirNotifier();
    DirNotifier(const DirNotifier&) = delete;
    DirNotifier& operator=(const DirNotifier&) = delete;

    enum class Step { None, Instance, Directory, Watch };

    // Starts watching directory, and the whole tree below it when subTree
    // is set, for the change kinds in filter (DirNotifyFilter bits).
    // bufferBytes is the read buffer (at least 64 KiB are used). Returns 0,
    // or errno when the directory itself cannot be watched; FailedStep()
    // then says what failed. Sub-directories that cannot be watched are
    // reported by the first Read.
    int Open(const QString& directory, bool subTree, unsigned filter, std::size_t bufferBytes);
    Step FailedStep() const;

    // Waits for changes and appends them to out in the order they happened.
    // Returns false when the notifier has ended: after Abort(), or after a
    // Gone or Failed record (out may still hold records then).
    bool Read(std::vector<DirChange>& out);

    // Makes a waiting and every later Read return false. Any thread.
    void Abort();

    // Number of directories watched. Any thread.
    int WatchCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> FImpl;
};

// What a failed Open ran into: a per-user limit of the system, or
// something else.
enum class DirNotifyLimit { None, Instances, Watches };
DirNotifyLimit LimitOfFailure(DirNotifier::Step step, int error);
// The names of the system settings for those limits, as a user raises them.
QString DirWatchLimitSetting();
QString DirInstanceLimitSetting();

// The per-user limit of watches (fs.inotify.max_user_watches), -1 if unknown.
int DirWatchLimit();
// The number of change events the kernel queues per notifier before it
// drops them (fs.inotify.max_queued_events), -1 if unknown.
int DirNotifyQueueLimit();

// Memory use of this process in KiB, from the kernel's process status
// (VmRSS and VmHWM); -1 when unknown. For measuring the watcher's cost.
struct ProcessMemory {
    long long ResidentKiB = -1;
    long long PeakResidentKiB = -1;
};
ProcessMemory ReadProcessMemory();

} // namespace kes::platform
