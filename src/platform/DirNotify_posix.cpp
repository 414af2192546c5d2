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
        QString rel;
        int parent = -1;
        QSet<int> children;
        quint32 mark = 0;
    };
    struct PendingMove {
        std::uint32_t cookie;
        quint64 seq; // position of its placeholder record
        qint64 deadline;
        bool isDir;
        QString rel;
    };
    struct ModState {
        qint64 due;
        bool dirty;
    };

    int inFd = -1;
    int wakeFd = -1;
    int rootWd = -1;
    std::atomic<bool> aborted {false};
    std::atomic<int> watchCount {0};
    bool subTree = true;
    unsigned filter = 0;
    std::uint32_t dirMask = 0;
    std::uint32_t rootMask = 0;
    bool useProcFd = true;
    bool ended = false;
    Step failedStep = Step::None;
    QByteArray rootPath;
    std::vector<std::uint64_t> buffer; // 8-byte aligned for struct inotify_event
    std::size_t bufferBytes = 0;

    // Watched directories: the watch descriptor's directory and the reverse.
    QHash<int, Node> nodes;
    QHash<QString, int> wdOfPath;

    // Records in order. Records from the first unresolved move on are held
    // back until it is known whether the move stayed inside the tree.
    std::deque<DirChange> queue;
    quint64 seqBase = 0; // sequence number of queue.front()
    std::deque<PendingMove> pending;

    // Write coalescing per file (watch descriptor + raw name).
    QHash<QByteArray, ModState> mods;
    std::deque<std::pair<qint64, QByteArray>> modQueue;

    // State of the running walk.
    WalkMode walkMode = WalkMode::Register;
    quint32 walkMark = 0;
    int limitCount = 0;
    QString limitFirst;
    bool limitReported = false;
    int failCount = 0;
    int failError = 0;
    QString failFirst;

    ~Impl() override
    {
        for (int fd : {wakeFd, inFd}) {
            if (fd >= 0)
                close(fd);
        }
    }

    bool WantAdded(bool isDir) const
    {
        return filter & (kNotifyCreation | (isDir ? kNotifyDirName : kNotifyFileName));
    }
    bool WantName(bool isDir) const { return filter & (isDir ? kNotifyDirName : kNotifyFileName); }

    void ComputeMasks()
    {
        std::uint32_t m = IN_ONLYDIR | IN_EXCL_UNLINK;
        if (subTree || (filter & (kNotifyFileName | kNotifyDirName | kNotifyCreation)))
            m |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
        if (filter & (kNotifySize | kNotifyLastWrite))
            m |= IN_MODIFY | IN_CLOSE_WRITE;
        if (filter & (kNotifyAttributes | kNotifySecurity))
            m |= IN_ATTRIB;
        if (filter & kNotifyLastAccess)
            m |= IN_ACCESS;
        dirMask = m;
        rootMask = m | IN_DELETE_SELF | IN_MOVE_SELF;
    }

    void Push(DirChange::Kind kind, const QString& name, int code = 0, int count = 0)
    {
        queue.push_back(DirChange {kind, code, count, name});
    }

    // Adds (or finds) the watch of the open directory fd; returns the watch
    // descriptor or -errno. The watch goes through the handle, so it is the
    // directory just opened, whatever happened to its name meanwhile, and
    // paths longer than PATH_MAX do not matter.
    int AddWatch(int fd, const QString& rel)
    {
        const std::uint32_t mask = rel.isEmpty() ? rootMask : dirMask;
        if (useProcFd) {
            char proc[48];
            std::snprintf(proc, sizeof(proc), "/proc/self/fd/%d", fd);
            const int wd = inotify_add_watch(inFd, proc, mask);
            if (wd >= 0)
                return wd;
            if (errno != ENOENT || access("/proc/self/fd", F_OK) == 0)
                return -errno;
            useProcFd = false; // no /proc: fall back to the path
        }
        QByteArray path = rootPath;
        if (!rel.isEmpty()) {
            path += '/';
            path += EncodeName(rel);
        }
        const int wd = inotify_add_watch(inFd, path.constData(), mask);
        return wd >= 0 ? wd : -errno;
    }

    void UpdateCount() { watchCount.store(int(nodes.size()), std::memory_order_relaxed); }

    void Insert(int wd, const QString& rel, int parent)
    {
        Node& n = nodes[wd];
        n.rel = rel;
        n.parent = parent;
        n.mark = walkMark;
        if (parent >= 0 && parent != wd) {
            auto p = nodes.find(parent);
            if (p != nodes.end())
                p->children.insert(wd);
        }
        wdOfPath.insert(rel, wd);
        UpdateCount();
    }

    void PurgeMods(int wd)
    {
        for (auto it = mods.begin(); it != mods.end();) {
            if (WdOfKey(it.key()) == wd)
                it = mods.erase(it);
            else
                ++it;
        }
    }

    // Forgets a directory and everything below it; removeWatches also asks
    // the kernel to stop (for directories moved out, which it still sees).
    void RemoveTree(int wd, bool removeWatches)
    {
        auto top = nodes.find(wd);
        if (top == nodes.end())
            return;
        if (top->parent >= 0) {
            auto p = nodes.find(top->parent);
            if (p != nodes.end())
                p->children.remove(wd);
        }
        std::vector<int> stack {wd};
        while (!stack.empty()) {
            const int w = stack.back();
            stack.pop_back();
            auto n = nodes.find(w);
            if (n == nodes.end())
                continue;
            for (int c : std::as_const(n->children))
                stack.push_back(c);
            auto p = wdOfPath.find(n->rel);
            if (p != wdOfPath.end() && *p == w)
                wdOfPath.erase(p);
            if (removeWatches && w != rootWd)
                inotify_rm_watch(inFd, w);
            nodes.erase(n);
            if (!mods.isEmpty())
                PurgeMods(w);
        }
        UpdateCount();
    }

    // A watched directory has a new name (and maybe a new parent): rename it
    // and everything below it.
    void Relocate(int wd, const QString& newRel, int newParent)
    {
        auto it = nodes.find(wd);
        if (it == nodes.end())
            return;
        const QString oldRel = it->rel;
        if (it->parent != newParent && newParent >= 0) {
            auto oldP = nodes.find(it->parent);
            if (oldP != nodes.end())
                oldP->children.remove(wd);
            auto newP = nodes.find(newParent);
            if (newP != nodes.end())
                newP->children.insert(wd);
            nodes[wd].parent = newParent;
        }
        std::vector<int> stack {wd};
        while (!stack.empty()) {
            const int w = stack.back();
            stack.pop_back();
            auto n = nodes.find(w);
            if (n == nodes.end())
                continue;
            auto p = wdOfPath.find(n->rel);
            if (p != wdOfPath.end() && *p == w)
                wdOfPath.erase(p);
            n->rel = newRel + n->rel.mid(oldRel.size());
            wdOfPath.insert(n->rel, w);
            for (int c : std::as_const(n->children))
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
        auto it = nodes.find(wd);
        if (it == nodes.end()) {
            Insert(wd, rel, int(parentTag));
        } else {
            if (it->mark == walkMark)
                return false; // met twice in one walk: a bind mount inside the tree
            if (it->rel != rel) {
                // The same directory under another name. After dropped
                // changes the name found now is the truth; otherwise it is
                // a second way into a directory already watched.
                if (walkMode != WalkMode::Resync)
                    return false;
                Relocate(wd, rel, int(parentTag));
                it = nodes.find(wd);
            }
            it->mark = walkMark;
        }
        tag = wd;
        return true;
    }

    bool Entry(int, const QString& dirRel, const char* name, unsigned char type) override
    {
        const bool isDir = type == DT_DIR;
        if (walkMode == WalkMode::Report && WantAdded(isDir))
            Push(DirChange::Added, posix::JoinRel(dirRel, DecodeName(name, qsizetype(std::strlen(name)))));
        return isDir;
    }

    void DirFailed(const QString& rel, int error) override { NoteFailure(rel, error); }

    bool Cancelled() const override { return aborted.load(std::memory_order_relaxed); }

    void NoteFailure(const QString& rel, int error)
    {
        if (error == ENOSPC) {
            if (limitCount++ == 0)
                limitFirst = rel;
        } else if (failCount++ == 0) {
            failFirst = rel;
            failError = error;
        }
    }

    void FlushWalkReports()
    {
        // The limit is told once: every later directory would repeat it.
        if (limitCount > 0 && !limitReported) {
            Push(DirChange::WatchLimit, limitFirst, ENOSPC, limitCount);
            limitReported = true;
        }
        if (failCount > 0)
            Push(DirChange::WatchFailed, failFirst, failError, failCount);
        limitCount = 0;
        failCount = 0;
        limitFirst.clear();
        failFirst.clear();
    }

    // Opens the directory rel below the watched one. No handle of the
    // watched directory is kept open between walks: an open handle would
    // keep the kernel from telling that the directory was removed.
    int OpenDir(const QString& rel)
    {
        constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        if (rel.isEmpty())
            return open(rootPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const QByteArray encoded = EncodeName(rel);
        const int fd = open((rootPath + '/' + encoded).constData(), kFlags);
        if (fd >= 0 || errno != ENAMETOOLONG)
            return fd;
        // Deeper than a path may be long: one component after the other.
        int dirFd = open(rootPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
            walkMode = mode;
            ++walkMark;
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
        if (aborted.load())
            return;
        std::vector<int> gone;
        for (auto it = nodes.cbegin(); it != nodes.cend(); ++it) {
            if (it->mark != walkMark && it.key() != rootWd)
                gone.push_back(it.key());
        }
        for (int wd : gone)
            RemoveTree(wd, true);
    }

    // --- events --------------------------------------------------------

    void Touched(int wd, const char* name, std::size_t len, const QString& dirRel, qint64 now)
    {
        QByteArray key = ModKey(wd, name, len);
        auto it = mods.find(key);
        if (it != mods.end()) {
            it->dirty = true;
            return;
        }
        Push(DirChange::Modified, posix::JoinRel(dirRel, DecodeName(name, qsizetype(len))));
        const qint64 due = now + kModifyWindowMs;
        mods.insert(key, ModState {due, false});
        modQueue.emplace_back(due, std::move(key));
    }

    void ClosedAfterWrite(int wd, const char* name, std::size_t len, const QString& dirRel)
    {
        auto it = mods.find(ModKey(wd, name, len));
        if (it != mods.end()) {
            const bool dirty = it->dirty;
            mods.erase(it);
            if (!dirty)
                return; // its last write has been reported
        }
        // Not seen written (a write through a mapping gives no write event)
        // or written again since the last report.
        Push(DirChange::Modified, posix::JoinRel(dirRel, DecodeName(name, qsizetype(len))));
    }

    void ExpireMods(qint64 now)
    {
        while (!modQueue.empty() && modQueue.front().first <= now) {
            auto [due, key] = std::move(modQueue.front());
            modQueue.pop_front();
            auto it = mods.find(key);
            if (it == mods.end() || it->due != due)
                continue; // closed or re-armed meanwhile
            if (!it->dirty) {
                mods.erase(it);
                continue;
            }
            auto n = nodes.constFind(WdOfKey(key));
            if (n == nodes.cend()) {
                mods.erase(it);
                continue;
            }
            Push(DirChange::Modified,
                posix::JoinRel(
                    n->rel, DecodeName(key.constData() + sizeof(int), key.size() - qsizetype(sizeof(int)))));
            it->dirty = false;
            it->due = now + kModifyWindowMs;
            modQueue.emplace_back(it->due, std::move(key));
        }
    }

    DirChange& RecordAt(quint64 seq) { return queue[std::size_t(seq - seqBase)]; }

    void ResolveMovedOut(const PendingMove& pm)
    {
        RecordAt(pm.seq).kind = WantName(pm.isDir) ? DirChange::Removed : DirChange::None;
        if (pm.isDir && subTree && !ended) {
            const int wd = wdOfPath.value(pm.rel, -1);
            if (wd >= 0 && wd != rootWd)
                RemoveTree(wd, true);
        }
    }

    void ExpireMoves(qint64 now)
    {
        while (!pending.empty() && (ended || pending.front().deadline <= now)) {
            ResolveMovedOut(pending.front());
            pending.pop_front();
        }
    }

    void MovedFrom(const inotify_event& ev, bool isDir, const QString& rel, qint64 now)
    {
        Push(DirChange::None, rel); // becomes RenamedOld or Removed
        pending.push_back(PendingMove {ev.cookie, seqBase + queue.size() - 1, now + kMovePairMs, isDir, rel});
        if (pending.size() > kMaxPendingMoves) {
            ResolveMovedOut(pending.front());
            pending.pop_front();
        }
    }

    void MovedTo(const inotify_event& ev, bool isDir, const QString& rel)
    {
        auto pm = std::find_if(
            pending.begin(), pending.end(), [&](const PendingMove& m) { return m.cookie == ev.cookie; });
        if (pm == pending.end()) {
            // Moved in from outside the tree.
            if (WantName(isDir))
                Push(DirChange::Added, rel);
            if (isDir && subTree)
                Walk(WalkMode::Report, rel, ev.wd);
            return;
        }
        RecordAt(pm->seq).kind = WantName(pm->isDir) ? DirChange::RenamedOld : DirChange::None;
        if (WantName(isDir))
            Push(DirChange::RenamedNew, rel);
        if (isDir && subTree) {
            const int wd = wdOfPath.value(pm->rel, -1);
            if (wd >= 0 && wd != rootWd)
                Relocate(wd, rel, ev.wd);
            else
                Walk(WalkMode::Report, rel, ev.wd); // it had no watch yet
        }
        pending.erase(pm);
    }

    void Handle(const inotify_event& ev, qint64 now)
    {
        const std::uint32_t m = ev.mask;
        if (m & IN_Q_OVERFLOW) {
            Push(DirChange::Overflow, QString(), 1022);
            if (subTree)
                Resync();
            return;
        }
        if (ev.wd == rootWd && (m & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED))) {
            Push(DirChange::Gone, QString(), ENOENT);
            ended = true;
            return;
        }
        if (m & IN_IGNORED) {
            RemoveTree(ev.wd, false);
            return;
        }
        if (ev.len == 0)
            return; // a sub-directory's own events also reach its parent's watch, with its name
        const auto dir = nodes.constFind(ev.wd);
        if (dir == nodes.cend())
            return;
        const QString dirRel = dir->rel;
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
            if (isDir && subTree)
                Walk(WalkMode::Report, rel, ev.wd);
        } else if (m & IN_DELETE) {
            if (!mods.isEmpty())
                mods.remove(ModKey(ev.wd, ev.name, len));
            if (WantName(isDir))
                Push(DirChange::Removed, rel);
        } else if (m & IN_MOVED_FROM) {
            if (!mods.isEmpty())
                mods.remove(ModKey(ev.wd, ev.name, len));
            MovedFrom(ev, isDir, rel, now);
        } else if (m & IN_MOVED_TO) {
            MovedTo(ev, isDir, rel);
        }
    }

    void Parse(std::size_t n, qint64 now)
    {
        const char* p = reinterpret_cast<const char*>(buffer.data());
        std::size_t off = 0;
        while (off + sizeof(inotify_event) <= n) {
            const auto* ev = reinterpret_cast<const inotify_event*>(p + off);
            off += sizeof(inotify_event) + ev->len;
            if (off > n)
                break;
            Handle(*ev, now);
            if (ended)
                break;
        }
    }

    void Release(std::vector<DirChange>& out)
    {
        const quint64 limit = pending.empty() ? seqBase + queue.size() : pending.front().seq;
        while (seqBase < limit) {
            DirChange& c = queue.front();
            if (c.kind != DirChange::None)
                out.push_back(std::move(c));
            queue.pop_front();
            ++seqBase;
        }
    }

    int NextTimeout(qint64 now) const
    {
        qint64 next = -1;
        if (!pending.empty())
            next = pending.front().deadline;
        if (!modQueue.empty() && (next < 0 || modQueue.front().first < next))
            next = modQueue.front().first;
        if (next < 0)
            return -1;
        return int(std::clamp<qint64>(next - now, 0, 60000));
    }

    bool Read(std::vector<DirChange>& out)
    {
        for (;;) {
            if (aborted.load())
                return false;
            const qint64 now = NowMs();
            if (ended) {
                ExpireMoves(now);
                Release(out);
                return false;
            }
            ExpireMoves(now);
            ExpireMods(now);
            Release(out);
            if (!out.empty())
                return true;
            pollfd fds[2] = {{inFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
            const int r = poll(fds, 2, NextTimeout(now));
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                Push(DirChange::Failed, QString(), errno);
                ended = true;
                continue;
            }
            if (fds[1].revents & POLLIN) {
                std::uint64_t v;
                if (read(wakeFd, &v, sizeof(v)) < 0) {
                    // nothing to do: the flag is what counts
                }
                continue;
            }
            if (fds[0].revents & POLLIN) {
                const ssize_t n = read(inFd, buffer.data(), bufferBytes);
                if (n < 0) {
                    if (errno == EINTR || errno == EAGAIN)
                        continue;
                    Push(DirChange::Failed, QString(), errno);
                    ended = true;
                    continue;
                }
                Parse(std::size_t(n), NowMs());
            } else if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
                Push(DirChange::Failed, QString(), EIO);
                ended = true;
            }
        }
    }

    int Open(const QString& directory, bool tree, unsigned bits, std::size_t bytes)
    {
        subTree = tree;
        filter = bits;
        ComputeMasks();
        bufferBytes = (std::clamp(bytes, kMinBuffer, kMaxBuffer) + 7) & ~std::size_t(7);
        buffer.assign(bufferBytes / 8, 0);
        inFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inFd < 0) {
            failedStep = Step::Instance;
            return errno;
        }
        wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wakeFd < 0) {
            failedStep = Step::Instance;
            return errno;
        }
        rootPath = EncodeName(directory);
        while (rootPath.size() > 1 && rootPath.endsWith('/'))
            rootPath.chop(1);
        const int rootFd = OpenDir(QString());
        if (rootFd < 0) {
            failedStep = Step::Directory;
            return errno;
        }
        const int wd = AddWatch(rootFd, QString());
        close(rootFd);
        if (wd < 0) {
            failedStep = Step::Watch;
            return -wd;
        }
        rootWd = wd;
        Insert(wd, QString(), -1);
        if (subTree)
            Walk(WalkMode::Register, QString(), rootWd);
        return 0;
    }
};

DirNotifier::DirNotifier()
    : d(std::make_unique<Impl>())
{
}

DirNotifier::~DirNotifier() = default;

int DirNotifier::Open(const QString& directory, bool subTree, unsigned filter, std::size_t bufferBytes)
{
    return d->Open(directory, subTree, filter, bufferBytes);
}

DirNotifier::Step DirNotifier::FailedStep() const
{
    return d->failedStep;
}

bool DirNotifier::Read(std::vector<DirChange>& out)
{
    return d->Read(out);
}

void DirNotifier::Abort()
{
    d->aborted.store(true);
    if (d->wakeFd >= 0) {
        const std::uint64_t one = 1;
        if (write(d->wakeFd, &one, sizeof(one)) < 0) {
            // the counter is full: the reader is woken already
        }
    }
}

int DirNotifier::WatchCount() const
{
    return d->watchCount.load(std::memory_order_relaxed);
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
    mem.residentKiB = field("\nVmRSS:");
    mem.peakResidentKiB = field("\nVmHWM:");
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
