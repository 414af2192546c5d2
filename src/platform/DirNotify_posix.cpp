#include "platform/DirNotify.h"

#include "platform/DirScan_posix.h"
#include "platform/FileName.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <time.h>
#include <unistd.h>

namespace kes::platform {

namespace {

// How long a name moved away waits for its arrival elsewhere in the tree
// before it counts as moved out. The kernel queues both halves of a rename
// within one call, so this only matters when the reader caught the first.
constexpr qint64 kMovePairMs = 100;
// Writes to one file within this time after a reported write are reported
// once, at the file's close or at the end of the time.
constexpr qint64 kModifyWindowMs = 1000;
constexpr std::size_t kMinBuffer = 64 * 1024;
constexpr std::size_t kMaxBuffer = 16 * 1024 * 1024;
// Moves still waiting for their second half; beyond this the oldest counts
// as moved out (bounds what a flood of moves out of the tree holds back).
constexpr std::size_t kMaxPendingMoves = 4096;

qint64 NowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Errors that only mean a directory changed under us (removed, replaced).
bool Vanished(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

QByteArray ModKey(int wd, const char* name, std::size_t len)
{
    QByteArray key(qsizetype(sizeof(int) + len), Qt::Uninitialized);
    std::memcpy(key.data(), &wd, sizeof(int));
    std::memcpy(key.data() + sizeof(int), name, len);
    return key;
}

int WdOfKey(const QByteArray& key)
{
    int wd;
    std::memcpy(&wd, key.constData(), sizeof(int));
    return wd;
}

long long ReadProcNumber(const char* path)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char buf[64];
    const ssize_t n = read(fd, buf, sizeof(buf) - 1);
    close(fd);
    if (n <= 0)
        return -1;
    buf[n] = 0;
    char* end = nullptr;
    const long long v = std::strtoll(buf, &end, 10);
    return end == buf ? -1 : v;
}

} // namespace

struct DirNotifier::Impl final : posix::TreeVisitor {
    enum class WalkMode {
        Register, // add watches, report nothing (start)
        Report, // add watches and report every entry as added (a new directory)
        Resync, // add missing watches, take the names found now (after dropped changes)
    };

    struct Node {
        QString Rel;
        int Parent = -1;
        QSet<int> Children;
        quint32 Mark = 0;
    };
    struct PendingMove {
        std::uint32_t Cookie;
        quint64 Seq; // position of its placeholder record
        qint64 Deadline;
        bool IsDir;
        QString Rel;
    };
    struct ModState {
        qint64 Due;
        bool Dirty;
    };

    int FInFd = -1;
    int FWakeFd = -1;
    int FRootWd = -1;
    std::atomic<bool> FAborted {false};
    std::atomic<int> FWatchCount {0};
    bool FSubTree = true;
    unsigned FFilter = 0;
    std::uint32_t FDirMask = 0;
    std::uint32_t FRootMask = 0;
    bool FUseProcFd = true;
    bool FEnded = false;
    Step FFailedStep = Step::None;
    QByteArray FRootPath;
    std::vector<std::uint64_t> FBuffer; // 8-byte aligned for struct inotify_event
    std::size_t FBufferBytes = 0;

    // Watched directories: the watch descriptor's directory and the reverse.
    QHash<int, Node> FNodes;
    QHash<QString, int> FWdOfPath;

    // Records in order. Records from the first unresolved move on are held
    // back until it is known whether the move stayed inside the tree.
    std::deque<DirChange> FQueue;
    quint64 FSeqBase = 0; // sequence number of queue.front()
    std::deque<PendingMove> FPending;

    // Write coalescing per file (watch descriptor + raw name).
    QHash<QByteArray, ModState> FMods;
    std::deque<std::pair<qint64, QByteArray>> FModQueue;

    // State of the running walk.
    WalkMode FWalkMode = WalkMode::Register;
    quint32 FWalkMark = 0;
    int FLimitCount = 0;
    QString FLimitFirst;
    bool FLimitReported = false;
    int FFailCount = 0;
    int FFailError = 0;
    QString FFailFirst;

    ~Impl() override
    {
        for (int fd : {FWakeFd, FInFd}) {
            if (fd >= 0)
                close(fd);
        }
    }

    bool WantAdded(bool isDir) const
    {
        return FFilter & (kNotifyCreation | (isDir ? kNotifyDirName : kNotifyFileName));
    }
    bool WantName(bool isDir) const { return FFilter & (isDir ? kNotifyDirName : kNotifyFileName); }

    void ComputeMasks()
    {
        std::uint32_t m = IN_ONLYDIR | IN_EXCL_UNLINK;
        if (FSubTree || (FFilter & (kNotifyFileName | kNotifyDirName | kNotifyCreation)))
            m |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
        if (FFilter & (kNotifySize | kNotifyLastWrite))
            m |= IN_MODIFY | IN_CLOSE_WRITE;
        if (FFilter & (kNotifyAttributes | kNotifySecurity))
            m |= IN_ATTRIB;
        if (FFilter & kNotifyLastAccess)
            m |= IN_ACCESS;
        FDirMask = m;
        FRootMask = m | IN_DELETE_SELF | IN_MOVE_SELF;
    }

    void Push(DirChange::TKind kind, const QString& name, int code = 0, int count = 0)
    {
        FQueue.push_back(DirChange {kind, code, count, name});
    }

    // Adds (or finds) the watch of the open directory fd; returns the watch
    // descriptor or -errno. The watch goes through the handle, so it is the
    // directory just opened, whatever happened to its name meanwhile, and
    // paths longer than PATH_MAX do not matter.
    int AddWatch(int fd, const QString& rel)
    {
        const std::uint32_t mask = rel.isEmpty() ? FRootMask : FDirMask;
        if (FUseProcFd) {
            char proc[48];
            std::snprintf(proc, sizeof(proc), "/proc/self/fd/%d", fd);
            const int wd = inotify_add_watch(FInFd, proc, mask);
            if (wd >= 0)
                return wd;
            if (errno != ENOENT || access("/proc/self/fd", F_OK) == 0)
                return -errno;
            FUseProcFd = false; // no /proc: fall back to the path
        }
        QByteArray path = FRootPath;
        if (!rel.isEmpty()) {
            path += '/';
            path += EncodeName(rel);
        }
        const int wd = inotify_add_watch(FInFd, path.constData(), mask);
        return wd >= 0 ? wd : -errno;
    }

    void UpdateCount() { FWatchCount.store(int(FNodes.size()), std::memory_order_relaxed); }

    void Insert(int wd, const QString& rel, int parent)
    {
        Node& n = FNodes[wd];
        n.Rel = rel;
        n.Parent = parent;
        n.Mark = FWalkMark;
        if (parent >= 0 && parent != wd) {
            auto p = FNodes.find(parent);
            if (p != FNodes.end())
                p->Children.insert(wd);
        }
        FWdOfPath.insert(rel, wd);
        UpdateCount();
    }

    void PurgeMods(int wd)
    {
        for (auto it = FMods.begin(); it != FMods.end();) {
            if (WdOfKey(it.key()) == wd)
                it = FMods.erase(it);
            else
                ++it;
        }
    }

    // Forgets a directory and everything below it; removeWatches also asks
    // the kernel to stop (for directories moved out, which it still sees).
    void RemoveTree(int wd, bool removeWatches)
    {
        auto top = FNodes.find(wd);
        if (top == FNodes.end())
            return;
        if (top->Parent >= 0) {
            auto p = FNodes.find(top->Parent);
            if (p != FNodes.end())
                p->Children.remove(wd);
        }
        std::vector<int> stack {wd};
        while (!stack.empty()) {
            const int w = stack.back();
            stack.pop_back();
            auto n = FNodes.find(w);
            if (n == FNodes.end())
                continue;
            for (int c : std::as_const(n->Children))
                stack.push_back(c);
            auto p = FWdOfPath.find(n->Rel);
            if (p != FWdOfPath.end() && *p == w)
                FWdOfPath.erase(p);
            if (removeWatches && w != FRootWd)
                inotify_rm_watch(FInFd, w);
            FNodes.erase(n);
            if (!FMods.isEmpty())
                PurgeMods(w);
        }
        UpdateCount();
    }

    // A watched directory has a new name (and maybe a new parent): rename it
    // and everything below it.
    void Relocate(int wd, const QString& newRel, int newParent)
    {
        auto it = FNodes.find(wd);
        if (it == FNodes.end())
            return;
        const QString oldRel = it->Rel;
        if (it->Parent != newParent && newParent >= 0) {
            auto oldP = FNodes.find(it->Parent);
            if (oldP != FNodes.end())
                oldP->Children.remove(wd);
            auto newP = FNodes.find(newParent);
            if (newP != FNodes.end())
                newP->Children.insert(wd);
            FNodes[wd].Parent = newParent;
        }
        std::vector<int> stack {wd};
        while (!stack.empty()) {
            const int w = stack.back();
            stack.pop_back();
            auto n = FNodes.find(w);
            if (n == FNodes.end())
                continue;
            auto p = FWdOfPath.find(n->Rel);
            if (p != FWdOfPath.end() && *p == w)
                FWdOfPath.erase(p);
            n->Rel = newRel + n->Rel.mid(oldRel.size());
            FWdOfPath.insert(n->Rel, w);
            for (int c : std::as_const(n->Children))
                stack.push_back(c);
        }
    }

    // --- walking -------------------------------------------------------

    bool EnterDir(int fd, const QString& rel, long parentTag, long& tag) override
    {
        const int wd = AddWatch(fd, rel);
        if (wd < 0) {
            NoteFailure(rel, -wd);
            return false;
        }
        auto it = FNodes.find(wd);
        if (it == FNodes.end()) {
            Insert(wd, rel, int(parentTag));
        } else {
            if (it->Mark == FWalkMark)
                return false; // met twice in one walk: a bind mount inside the tree
            if (it->Rel != rel) {
                // The same directory under another name. After dropped
                // changes the name found now is the truth; otherwise it is
                // a second way into a directory already watched.
                if (FWalkMode != WalkMode::Resync)
                    return false;
                Relocate(wd, rel, int(parentTag));
                it = FNodes.find(wd);
            }
            it->Mark = FWalkMark;
        }
        tag = wd;
        return true;
    }

    bool Entry(int, const QString& dirRel, const char* name, unsigned char type) override
    {
        const bool isDir = type == DT_DIR;
        if (FWalkMode == WalkMode::Report && WantAdded(isDir))
            Push(DirChange::Added, posix::JoinRel(dirRel, DecodeName(name, qsizetype(std::strlen(name)))));
        return isDir;
    }

    void DirFailed(const QString& rel, int error) override { NoteFailure(rel, error); }

    bool Cancelled() const override { return FAborted.load(std::memory_order_relaxed); }

    void NoteFailure(const QString& rel, int error)
    {
        if (error == ENOSPC) {
            if (FLimitCount++ == 0)
                FLimitFirst = rel;
        } else if (FFailCount++ == 0) {
            FFailFirst = rel;
            FFailError = error;
        }
    }

    void FlushWalkReports()
    {
        // The limit is told once: every later directory would repeat it.
        if (FLimitCount > 0 && !FLimitReported) {
            Push(DirChange::WatchLimit, FLimitFirst, ENOSPC, FLimitCount);
            FLimitReported = true;
        }
        if (FFailCount > 0)
            Push(DirChange::WatchFailed, FFailFirst, FFailError, FFailCount);
        FLimitCount = 0;
        FFailCount = 0;
        FLimitFirst.clear();
        FFailFirst.clear();
    }

    // Opens the directory rel below the watched one. No handle of the
    // watched directory is kept open between walks: an open handle would
    // keep the kernel from telling that the directory was removed.
    int OpenDir(const QString& rel)
    {
        constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        if (rel.isEmpty())
            return open(FRootPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const QByteArray encoded = EncodeName(rel);
        const int fd = open(QByteArray(FRootPath + '/' + encoded).constData(), kFlags);
        if (fd >= 0 || errno != ENAMETOOLONG)
            return fd;
        // Deeper than a path may be long: one component after the other.
        int dirFd = open(FRootPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (const QByteArray& part : encoded.split('/')) {
            if (dirFd < 0)
                break;
            const int next = openat(dirFd, part.constData(), kFlags);
            const int error = errno;
            close(dirFd);
            dirFd = next;
            errno = error;
        }
        return dirFd;
    }

    void Walk(WalkMode mode, const QString& rel, int parentWd)
    {
        const int fd = OpenDir(rel);
        if (fd < 0) {
            if (!Vanished(errno))
                NoteFailure(rel, errno);
        } else {
            FWalkMode = mode;
            ++FWalkMark;
            const int error = posix::WalkTree(fd, rel, parentWd, *this);
            if (error != 0 && !Vanished(error))
                NoteFailure(rel, error);
        }
        FlushWalkReports();
    }

    // After dropped changes: watch what is there now, under the names it
    // has now, and forget directories that are gone.
    void Resync()
    {
        Walk(WalkMode::Resync, QString(), -1);
        if (FAborted.load())
            return;
        std::vector<int> gone;
        for (auto it = FNodes.cbegin(); it != FNodes.cend(); ++it) {
            if (it->Mark != FWalkMark && it.key() != FRootWd)
                gone.push_back(it.key());
        }
        for (int wd : gone)
            RemoveTree(wd, true);
    }

    // --- events --------------------------------------------------------

    void Touched(int wd, const char* name, std::size_t len, const QString& dirRel, qint64 now)
    {
        QByteArray key = ModKey(wd, name, len);
        auto it = FMods.find(key);
        if (it != FMods.end()) {
            it->Dirty = true;
            return;
        }
        Push(DirChange::Modified, posix::JoinRel(dirRel, DecodeName(name, qsizetype(len))));
        const qint64 due = now + kModifyWindowMs;
        FMods.insert(key, ModState {due, false});
        FModQueue.emplace_back(due, std::move(key));
    }

    void ClosedAfterWrite(int wd, const char* name, std::size_t len, const QString& dirRel)
    {
        auto it = FMods.find(ModKey(wd, name, len));
        if (it != FMods.end()) {
            const bool dirty = it->Dirty;
            FMods.erase(it);
            if (!dirty)
                return; // its last write has been reported
        }
        // Not seen written (a write through a mapping gives no write event)
        // or written again since the last report.
        Push(DirChange::Modified, posix::JoinRel(dirRel, DecodeName(name, qsizetype(len))));
    }

    void ExpireMods(qint64 now)
    {
        while (!FModQueue.empty() && FModQueue.front().first <= now) {
            auto [due, key] = std::move(FModQueue.front());
            FModQueue.pop_front();
            auto it = FMods.find(key);
            if (it == FMods.end() || it->Due != due)
                continue; // closed or re-armed meanwhile
            if (!it->Dirty) {
                FMods.erase(it);
                continue;
            }
            auto n = FNodes.constFind(WdOfKey(key));
            if (n == FNodes.cend()) {
                FMods.erase(it);
                continue;
            }
            Push(DirChange::Modified,
                posix::JoinRel(
                    n->Rel, DecodeName(key.constData() + sizeof(int), key.size() - qsizetype(sizeof(int)))));
            it->Dirty = false;
            it->Due = now + kModifyWindowMs;
            FModQueue.emplace_back(it->Due, std::move(key));
        }
    }

    DirChange& RecordAt(quint64 seq) { return FQueue[std::size_t(seq - FSeqBase)]; }

    void ResolveMovedOut(const PendingMove& pm)
    {
        RecordAt(pm.Seq).Kind = WantName(pm.IsDir) ? DirChange::Removed : DirChange::None;
        if (pm.IsDir && FSubTree && !FEnded) {
            const int wd = FWdOfPath.value(pm.Rel, -1);
            if (wd >= 0 && wd != FRootWd)
                RemoveTree(wd, true);
        }
    }

    void ExpireMoves(qint64 now)
    {
        while (!FPending.empty() && (FEnded || FPending.front().Deadline <= now)) {
            ResolveMovedOut(FPending.front());
            FPending.pop_front();
        }
    }

    void MovedFrom(const inotify_event& ev, bool isDir, const QString& rel, qint64 now)
    {
        Push(DirChange::None, rel); // becomes RenamedOld or Removed
        FPending.push_back(
            PendingMove {ev.cookie, FSeqBase + FQueue.size() - 1, now + kMovePairMs, isDir, rel});
        if (FPending.size() > kMaxPendingMoves) {
            ResolveMovedOut(FPending.front());
            FPending.pop_front();
        }
    }

    void MovedTo(const inotify_event& ev, bool isDir, const QString& rel)
    {
        auto pm = std::find_if(
            FPending.begin(), FPending.end(), [&](const PendingMove& m) { return m.Cookie == ev.cookie; });
        if (pm == FPending.end()) {
            // Moved in from outside the tree.
            if (WantName(isDir))
                Push(DirChange::Added, rel);
            if (isDir && FSubTree)
                Walk(WalkMode::Report, rel, ev.wd);
            return;
        }
        RecordAt(pm->Seq).Kind = WantName(pm->IsDir) ? DirChange::RenamedOld : DirChange::None;
        if (WantName(isDir))
            Push(DirChange::RenamedNew, rel);
        if (isDir && FSubTree) {
            const int wd = FWdOfPath.value(pm->Rel, -1);
            if (wd >= 0 && wd != FRootWd)
                Relocate(wd, rel, ev.wd);
            else
                Walk(WalkMode::Report, rel, ev.wd); // it had no watch yet
        }
        FPending.erase(pm);
    }

    void Handle(const inotify_event& ev, qint64 now)
    {
        const std::uint32_t m = ev.mask;
        if (m & IN_Q_OVERFLOW) {
            Push(DirChange::Overflow, QString(), 1022);
            if (FSubTree)
                Resync();
            return;
        }
        if (ev.wd == FRootWd && (m & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED))) {
            Push(DirChange::Gone, QString(), ENOENT);
            FEnded = true;
            return;
        }
        if (m & IN_IGNORED) {
            RemoveTree(ev.wd, false);
            return;
        }
        if (ev.len == 0)
            return; // a sub-directory's own events also reach its parent's watch, with its name
        const auto dir = FNodes.constFind(ev.wd);
        if (dir == FNodes.cend())
            return;
        const QString dirRel = dir->Rel;
        const std::size_t len = strnlen(ev.name, ev.len);
        const bool isDir = m & IN_ISDIR;
        if (m & (IN_MODIFY | IN_ACCESS)) {
            // Listing a directory reads it: our own walks would report every
            // directory they visit, and a walk after dropped changes could
            // drop changes again.
            if (!isDir)
                Touched(ev.wd, ev.name, len, dirRel, now);
            return;
        }
        if (m & IN_CLOSE_WRITE) {
            ClosedAfterWrite(ev.wd, ev.name, len, dirRel);
            return;
        }
        const QString rel = posix::JoinRel(dirRel, DecodeName(ev.name, qsizetype(len)));
        if (m & IN_ATTRIB) {
            Push(DirChange::Modified, rel);
        } else if (m & IN_CREATE) {
            if (WantAdded(isDir))
                Push(DirChange::Added, rel);
            if (isDir && FSubTree)
                Walk(WalkMode::Report, rel, ev.wd);
        } else if (m & IN_DELETE) {
            if (!FMods.isEmpty())
                FMods.remove(ModKey(ev.wd, ev.name, len));
            if (WantName(isDir))
                Push(DirChange::Removed, rel);
        } else if (m & IN_MOVED_FROM) {
            if (!FMods.isEmpty())
                FMods.remove(ModKey(ev.wd, ev.name, len));
            MovedFrom(ev, isDir, rel, now);
        } else if (m & IN_MOVED_TO) {
            MovedTo(ev, isDir, rel);
        }
    }

    void Parse(std::size_t n, qint64 now)
    {
        const char* p = reinterpret_cast<const char*>(FBuffer.data());
        std::size_t off = 0;
        while (off + sizeof(inotify_event) <= n) {
            const auto* ev = reinterpret_cast<const inotify_event*>(p + off);
            off += sizeof(inotify_event) + ev->len;
            if (off > n)
                break;
            Handle(*ev, now);
            if (FEnded)
                break;
        }
    }

    void Release(std::vector<DirChange>& out)
    {
        const quint64 limit = FPending.empty() ? FSeqBase + FQueue.size() : FPending.front().Seq;
        while (FSeqBase < limit) {
            DirChange& c = FQueue.front();
            if (c.Kind != DirChange::None)
                out.push_back(std::move(c));
            FQueue.pop_front();
            ++FSeqBase;
        }
    }

    int NextTimeout(qint64 now) const
    {
        qint64 next = -1;
        if (!FPending.empty())
            next = FPending.front().Deadline;
        if (!FModQueue.empty() && (next < 0 || FModQueue.front().first < next))
            next = FModQueue.front().first;
        if (next < 0)
            return -1;
        return int(std::clamp<qint64>(next - now, 0, 60000));
    }

    bool Read(std::vector<DirChange>& out)
    {
        for (;;) {
            if (FAborted.load())
                return false;
            const qint64 now = NowMs();
            if (FEnded) {
                ExpireMoves(now);
                Release(out);
                return false;
            }
            ExpireMoves(now);
            ExpireMods(now);
            Release(out);
            if (!out.empty())
                return true;
            pollfd fds[2] = {{FInFd, POLLIN, 0}, {FWakeFd, POLLIN, 0}};
            const int r = poll(fds, 2, NextTimeout(now));
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                Push(DirChange::Failed, QString(), errno);
                FEnded = true;
                continue;
            }
            if (fds[1].revents & POLLIN) {
                std::uint64_t v;
                if (read(FWakeFd, &v, sizeof(v)) < 0) {
                    // nothing to do: the flag is what counts
                }
                continue;
            }
            if (fds[0].revents & POLLIN) {
                const ssize_t n = read(FInFd, FBuffer.data(), FBufferBytes);
                if (n < 0) {
                    if (errno == EINTR || errno == EAGAIN)
                        continue;
                    Push(DirChange::Failed, QString(), errno);
                    FEnded = true;
                    continue;
                }
                Parse(std::size_t(n), NowMs());
            } else if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
                Push(DirChange::Failed, QString(), EIO);
                FEnded = true;
            }
        }
    }

    int Open(const QString& directory, bool tree, unsigned bits, std::size_t bytes)
    {
        FSubTree = tree;
        FFilter = bits;
        ComputeMasks();
        FBufferBytes = (std::clamp(bytes, kMinBuffer, kMaxBuffer) + 7) & ~std::size_t(7);
        FBuffer.assign(FBufferBytes / 8, 0);
        FInFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (FInFd < 0) {
            FFailedStep = Step::Instance;
            return errno;
        }
        FWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (FWakeFd < 0) {
            FFailedStep = Step::Instance;
            return errno;
        }
        FRootPath = EncodeName(directory);
        while (FRootPath.size() > 1 && FRootPath.endsWith('/'))
            FRootPath.chop(1);
        const int rootFd = OpenDir(QString());
        if (rootFd < 0) {
            FFailedStep = Step::Directory;
            return errno;
        }
        const int wd = AddWatch(rootFd, QString());
        close(rootFd);
        if (wd < 0) {
            FFailedStep = Step::Watch;
            return -wd;
        }
        FRootWd = wd;
        Insert(wd, QString(), -1);
        if (FSubTree)
            Walk(WalkMode::Register, QString(), FRootWd);
        return 0;
    }
};

DirNotifier::DirNotifier()
    : FImpl(std::make_unique<Impl>())
{
}

DirNotifier::~DirNotifier() = default;

int DirNotifier::Open(const QString& directory, bool subTree, unsigned filter, std::size_t bufferBytes)
{
    return FImpl->Open(directory, subTree, filter, bufferBytes);
}

DirNotifier::Step DirNotifier::FailedStep() const
{
    return FImpl->FFailedStep;
}

bool DirNotifier::Read(std::vector<DirChange>& out)
{
    return FImpl->Read(out);
}

void DirNotifier::Abort()
{
    FImpl->FAborted.store(true);
    if (FImpl->FWakeFd >= 0) {
        const std::uint64_t one = 1;
        if (write(FImpl->FWakeFd, &one, sizeof(one)) < 0) {
            // the counter is full: the reader is woken already
        }
    }
}

int DirNotifier::WatchCount() const
{
    return FImpl->FWatchCount.load(std::memory_order_relaxed);
}

int DirWatchLimit()
{
    return int(ReadProcNumber("/proc/sys/fs/inotify/max_user_watches"));
}

int DirNotifyQueueLimit()
{
    return int(ReadProcNumber("/proc/sys/fs/inotify/max_queued_events"));
}

ProcessMemory ReadProcessMemory()
{
    ProcessMemory mem;
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return mem;
    QByteArray text;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof(buf))) > 0)
        text.append(buf, n);
    close(fd);
    const auto field = [&](const char* key) -> long long {
        const qsizetype at = text.indexOf(key);
        if (at < 0)
            return -1;
        return std::strtoll(text.constData() + at + qsizetype(std::strlen(key)), nullptr, 10);
    };
    mem.ResidentKiB = field("\nVmRSS:");
    mem.PeakResidentKiB = field("\nVmHWM:");
    return mem;
}

DirNotifyLimit LimitOfFailure(DirNotifier::Step step, int error)
{
    if (step == DirNotifier::Step::Instance && error == EMFILE)
        return DirNotifyLimit::Instances;
    if (step == DirNotifier::Step::Watch && error == ENOSPC)
        return DirNotifyLimit::Watches;
    return DirNotifyLimit::None;
}

QString DirWatchLimitSetting()
{
    return QStringLiteral("fs.inotify.max_user_watches");
}

QString DirInstanceLimitSetting()
{
    return QStringLiteral("fs.inotify.max_user_instances");
}

} // namespace kes::platform
