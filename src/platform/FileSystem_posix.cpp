#include "platform/FileSystem.h"

#include "platform/FileName.h"
#include "platform/FileSystem_posix.h"

#include <QList>

#include <acl/libacl.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <string>
#include <sys/acl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace kes::platform {

const int kErrNotFound = ENOENT;
const int kErrExists = EEXIST;
const int kErrDiskFull = ENOSPC;
const int kErrNotSupported = EOPNOTSUPP;
const int kErrInvalid = EINVAL;
const int kErrIsDirectory = EISDIR;
const int kErrIO = EIO;
const int kErrLink = ELOOP;

bool IsDiskFull(int code)
{
    return code == ENOSPC || code == EDQUOT;
}

int LastError()
{
    return errno;
}

QString ErrorDescription(int code)
{
    if (!strerrordesc_np(code))
        return {};
    char buf[256];
    // GNU strerror_r: returns the (translated) text, not always in buf.
    const char* text = strerror_r(code, buf, sizeof buf);
    return QString::fromLocal8Bit(text);
}

bool UsesExtendedPaths()
{
    return false;
}

// --- Names of any length ----------------------------------------------------

namespace posix {

namespace {

// The longest name the kernel takes in one call.
constexpr qsizetype kMaxPlainName = PATH_MAX - 1;

int OpenDirAt(int dir, const char* name, int extraFlags = 0)
{
    int fd;
    do {
        fd = ::openat(dir, name, O_PATH | O_DIRECTORY | O_CLOEXEC | extraFlags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Replaces the descriptor cur (when it is one of ours) by next.
void Replace(int& cur, int next)
{
    if (cur >= 0)
        ::close(cur);
    cur = next;
}

qsizetype SkipSlashes(const QByteArray& path, qsizetype pos)
{
    while (pos < path.size() && path[pos] == '/')
        ++pos;
    return pos;
}

// Opens the folder path (of any length) in pieces shorter than the limit,
// each cut at a "/". fd receives a descriptor of ours.
int OpenDirInPieces(const QByteArray& path, int& fd)
{
    fd = -1;
    int cur = AT_FDCWD;
    qsizetype pos = 0;
    if (path.startsWith('/')) {
        cur = OpenDirAt(AT_FDCWD, "/");
        if (cur < 0)
            return errno;
        pos = SkipSlashes(path, 0);
    }
    while (pos < path.size()) {
        qsizetype end = path.size();
        if (end - pos > kMaxPlainName) {
            end = path.lastIndexOf('/', pos + kMaxPlainName);
            if (end <= pos) {
                if (cur >= 0)
                    ::close(cur);
                return ENAMETOOLONG; // one component beyond the limit
            }
        }
        const QByteArray piece = path.mid(pos, end - pos);
        const int next = OpenDirAt(cur, piece.constData());
        if (next < 0) {
            const int err = errno;
            if (cur >= 0)
                ::close(cur);
            return err;
        }
        Replace(cur, next);
        pos = SkipSlashes(path, end);
    }
    if (cur == AT_FDCWD) {
        cur = OpenDirAt(AT_FDCWD, ".");
        if (cur < 0)
            return errno;
    }
    fd = cur;
    return 0;
}

int ReadLinkAt(int dir, const char* name, QByteArray& target)
{
    std::vector<char> buf(PATH_MAX);
    for (;;) {
        const ssize_t n = ::readlinkat(dir, name, buf.data(), buf.size());
        if (n < 0)
            return errno;
        if (size_t(n) < buf.size()) {
            target = QByteArray(buf.data(), n);
            return 0;
        }
        if (buf.size() >= (size_t(1) << 20))
            return ENAMETOOLONG;
        buf.resize(buf.size() * 2);
    }
}

// realpath on open directory descriptors, for names or results beyond the
// limit. The name resolved so far holds no link, so ".." takes its last
// component off, as the kernel's walk goes to the real parent.
int CanonicalWalk(const QByteArray& name, QByteArray& result)
{
    std::deque<QByteArray> pending;
    auto pushFront = [&](const QByteArray& path) {
        const QList<QByteArray> parts = path.split('/');
        for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
            if (!it->isEmpty() && *it != ".")
                pending.push_front(*it);
        }
    };
    QByteArray resolved; // empty: the root
    int cur = -1;
    auto fail = [&](int err) {
        if (cur >= 0)
            ::close(cur);
        return err;
    };
    if (name.startsWith('/')) {
        cur = OpenDirAt(AT_FDCWD, "/");
    } else {
        char* cwd = ::getcwd(nullptr, 0);
        if (!cwd)
            return errno;
        resolved = cwd;
        std::free(cwd);
        if (resolved == "/")
            resolved.clear();
        cur = OpenDirAt(AT_FDCWD, ".");
    }
    if (cur < 0)
        return errno;
    pushFront(name);
    int links = 0;
    while (!pending.empty()) {
        const QByteArray comp = pending.front();
        pending.pop_front();
        if (comp == "..") {
            resolved.truncate(qMax<qsizetype>(0, resolved.lastIndexOf('/')));
            const int up = OpenDirAt(cur, "..");
            if (up < 0)
                return fail(errno);
            Replace(cur, up);
            continue;
        }
        struct stat st;
        if (::fstatat(cur, comp.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return fail(errno);
        if (S_ISLNK(st.st_mode)) {
            if (++links > 40)
                return fail(ELOOP);
            QByteArray target;
            if (const int err = ReadLinkAt(cur, comp.constData(), target))
                return fail(err);
            if (target.startsWith('/')) {
                resolved.clear();
                const int root = OpenDirAt(AT_FDCWD, "/");
                if (root < 0)
                    return fail(errno);
                Replace(cur, root);
            }
            pushFront(target);
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            const int next = OpenDirAt(cur, comp.constData(), O_NOFOLLOW);
            if (next < 0)
                return fail(errno);
            Replace(cur, next);
            resolved += '/' + comp;
            continue;
        }
        // Anything but a folder ends the name.
        if (!pending.empty())
            return fail(ENOTDIR);
        resolved += '/' + comp;
    }
    ::close(cur);
    result = resolved.isEmpty() ? QByteArray("/") : resolved;
    return 0;
}

} // namespace

TPathAt::TPathAt(const QByteArray& name)
    : FDir(AT_FDCWD)
{
    if (name.isEmpty() || name.contains('\0')) {
        FError = ENOENT;
        return;
    }
    if (name.size() <= kMaxPlainName) {
        FName = name;
        return;
    }
    QByteArray n = name;
    while (n.size() > 1 && n.endsWith('/'))
        n.chop(1);
    const qsizetype slash = n.lastIndexOf('/');
    if (slash < 0) {
        FError = ENAMETOOLONG; // one component beyond the limit
        return;
    }
    FName = n.mid(slash + 1);
    int fd = -1;
    FError = OpenDirInPieces(slash == 0 ? QByteArray("/") : n.left(slash), fd);
    if (FError == 0) {
        FDir = fd;
        FOwnsDir = true;
    }
}

TPathAt::TPathAt(const QString& name)
    : TPathAt(EncodeName(name))
{
}

TPathAt::~TPathAt()
{
    if (FOwnsDir)
        ::close(FDir);
}

QByteArray TPathAt::PlainName() const
{
    if (!FOwnsDir)
        return FName;
    return "/proc/self/fd/" + QByteArray::number(FDir) + '/' + FName;
}

int CanonicalName(const QByteArray& name, QByteArray& result)
{
    result.clear();
    if (name.isEmpty() || name.contains('\0'))
        return ENOENT;
    if (name.size() <= kMaxPlainName) {
        if (char* resolved = ::realpath(name.constData(), nullptr)) {
            result = QByteArray(resolved);
            std::free(resolved);
            return 0;
        }
        if (errno != ENAMETOOLONG)
            return errno;
    }
    return CanonicalWalk(name, result);
}

} // namespace posix

using posix::TPathAt;

namespace {

qint64 Nanoseconds(const struct statx_timestamp& t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void FillStatus(const struct statx& sx, FileStatus& st)
{
    st.isDirectory = S_ISDIR(sx.stx_mode);
    st.isSymLink = S_ISLNK(sx.stx_mode);
    st.isRegular = S_ISREG(sx.stx_mode);
    st.mode = sx.stx_mode & 07777;
    st.size = qint64(sx.stx_size);
    st.accessTime = Nanoseconds(sx.stx_atime);
    st.modificationTime = Nanoseconds(sx.stx_mtime);
    st.changeTime = Nanoseconds(sx.stx_ctime);
    st.hasBirthTime = (sx.stx_mask & STATX_BTIME) != 0;
    st.birthTime = st.hasBirthTime ? Nanoseconds(sx.stx_btime) : 0;
    st.device = (quint64(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
    st.inode = sx.stx_ino;
}

constexpr unsigned kStatxMask = STATX_BASIC_STATS | STATX_BTIME;

} // namespace

int GetFileStatus(const QString& name, bool followLink, FileStatus& status)
{
    status = FileStatus();
    struct statx sx;
    if (const int err = posix::CallAt(name, [&](int dir, const char* n) {
            return statx(dir, n, followLink ? 0 : AT_SYMLINK_NOFOLLOW, kStatxMask, &sx);
        }))
        return err;
    FillStatus(sx, status);
    return 0;
}

int GetFileStatus(int fd, FileStatus& status)
{
    status = FileStatus();
    struct statx sx;
    if (statx(fd, "", AT_EMPTY_PATH, kStatxMask, &sx) != 0)
        return errno;
    FillStatus(sx, status);
    return 0;
}

int OpenFile(const QString& name, unsigned flags, unsigned permissions, int& fd)
{
    fd = -1;
    const TPathAt p(name);
    if (p.Error())
        return p.Error();
    int oflags = O_CLOEXEC;
    switch (flags & ofReadWrite) {
    case ofWrite:
        oflags |= O_WRONLY;
        break;
    case ofReadWrite:
        oflags |= O_RDWR;
        break;
    default:
        oflags |= O_RDONLY;
        break;
    }
    if (flags & ofCreate)
        oflags |= O_CREAT;
    if (flags & ofTruncate)
        oflags |= O_TRUNC;
    if ((flags & ofExclusive) && (flags & ofCreate))
        oflags |= O_EXCL;
    if (flags & ofWriteThrough)
        oflags |= O_DSYNC;
    // A FIFO would block the open until a writer comes; open without
    // waiting and refuse it below.
    if (flags & ofRegularOnly)
        oflags |= O_NONBLOCK;
    if (flags & (ofNoFollow | ofReplaceLink))
        oflags |= O_NOFOLLOW;
    int f = -1;
    // A link that a creating open meets is removed (not followed) and the
    // open tried again; a few rounds, should another link appear meanwhile.
    for (int round = 0;; ++round) {
        do {
            f = ::openat(p.Dir(), p.Name(), oflags, permissions ? permissions : 0666);
        } while (f < 0 && errno == EINTR);
        if (f >= 0 || errno != ELOOP || !(flags & ofReplaceLink) || !(flags & ofCreate) || round == 8)
            break;
        struct stat lst;
        if (::fstatat(p.Dir(), p.Name(), &lst, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(lst.st_mode)) {
            errno = ELOOP;
            break;
        }
        if (::unlinkat(p.Dir(), p.Name(), 0) != 0 && errno != ENOENT)
            return errno;
    }
    if (f < 0)
        return errno;
    // Without a size, the hint is given (a sequential read of a pipe or a
    // device gains from it as well).
    off_t size = -1;
    if (flags & ofRegularOnly) {
        struct stat st;
        int err = 0;
        if (fstat(f, &st) != 0)
            err = errno;
        else if (S_ISDIR(st.st_mode))
            err = EISDIR;
        else if (!S_ISREG(st.st_mode))
            err = EINVAL;
        // F_SETFL only looks at the status flags, so the open flags do.
        else if (fcntl(f, F_SETFL, oflags & ~O_NONBLOCK) != 0)
            err = errno;
        if (err) {
            ::close(f);
            return err;
        }
        size = st.st_size;
        if ((flags & ofRestrictExisting) && (st.st_mode & 07777 & ~permissions)
            && ::fchmod(f, st.st_mode & permissions & 07777) != 0) {
            const int chmodErr = errno;
            ::close(f);
            return chmodErr;
        }
    }
    // A file that fits into the kernel's first read-ahead gains nothing from
    // the hint; a pass over many small files saves a call per file.
    constexpr off_t kReadAhead = 128 * 1024;
    if ((flags & ofSequential) && (size < 0 || size > kReadAhead))
        posix_fadvise(f, 0, 0, POSIX_FADV_SEQUENTIAL);
    fd = f;
    return 0;
}

int CloseFile(int fd)
{
    // Linux releases the descriptor even when close reports an error; never
    // retry it.
    if (::close(fd) != 0 && errno != EINTR)
        return errno;
    return 0;
}

namespace {

// Calls step(done, piece) for pieces of at most 1 GiB until count bytes
// are done or a step does nothing; an interrupted step is made again.
// step returns the bytes it did, or -1 with errno. 0 or that errno.
template <typename F> int InPieces(qint64 count, qint64& done, F&& step)
{
    done = 0;
    while (done < count) {
        const size_t piece = size_t(std::min<qint64>(count - done, qint64(1) << 30));
        const ssize_t n = step(done, piece);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            break;
        done += n;
    }
    return 0;
}

} // namespace

int ReadFile(int fd, void* buffer, qint64 count, qint64& done)
{
    auto* p = static_cast<char*>(buffer);
    return InPieces(count, done, [&](qint64 at, size_t piece) { return ::read(fd, p + at, piece); });
}

int WriteFile(int fd, const void* buffer, qint64 count, qint64& done)
{
    const auto* p = static_cast<const char*>(buffer);
    const int err
        = InPieces(count, done, [&](qint64 at, size_t piece) { return ::write(fd, p + at, piece); });
    // A write that takes nothing means there is no room.
    return err == 0 && done < count ? ENOSPC : err;
}

int SeekFile(int fd, qint64 position)
{
    if (position < 0)
        return EINVAL;
    if (::lseek(fd, off_t(position), SEEK_SET) < 0)
        return errno;
    return 0;
}

int SyncFile(int fd)
{
    if (::fsync(fd) != 0)
        return errno;
    return 0;
}

int TruncateFile(int fd, qint64 size)
{
    if (::ftruncate(fd, off_t(size)) != 0)
        return errno;
    return 0;
}

int DropCachedData(int fd)
{
    return posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
}

int CopyFileRange(int in, int out, qint64 count, qint64& done)
{
    const int err = InPieces(count, done,
        [&](qint64, size_t piece) { return ::copy_file_range(in, nullptr, out, nullptr, piece, 0); });
    if (err && done == 0
        && (err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == EBADF
            || err == ETXTBSY || err == EPERM))
        return EOPNOTSUPP;
    return err;
}

int GetOpenFilePath(int fd, QString& path)
{
    path.clear();
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    std::vector<char> buf(PATH_MAX + 1);
    for (;;) {
        const ssize_t n = ::readlink(link.constData(), buf.data(), buf.size());
        if (n < 0)
            return errno;
        if (size_t(n) < buf.size()) {
            path = DecodeName(buf.data(), n);
            return 0;
        }
        if (buf.size() > (1u << 20))
            return ENAMETOOLONG;
        buf.resize(buf.size() * 2);
    }
}

int ResolveLink(const QString& name, QString& target)
{
    target.clear();
    FileStatus st;
    if (const int err = GetFileStatus(name, false, st))
        return err;
    if (!st.isSymLink)
        return EINVAL;
    QByteArray resolved;
    if (const int err = posix::CanonicalName(EncodeName(name), resolved))
        return err;
    target = DecodeName(resolved);
    return 0;
}

int SetFileTimes(const QString& name, std::optional<qint64> accessTime,
    std::optional<qint64> modificationTime, bool followLink)
{
    struct timespec ts[2];
    const std::optional<qint64>* times[2] = {&accessTime, &modificationTime};
    for (int i = 0; i < 2; ++i) {
        if (times[i]->has_value()) {
            const qint64 v = **times[i];
            qint64 sec = v / 1000000000;
            qint64 nsec = v % 1000000000;
            if (nsec < 0) {
                nsec += 1000000000;
                --sec;
            }
            ts[i].tv_sec = time_t(sec);
            ts[i].tv_nsec = long(nsec);
        } else {
            ts[i].tv_sec = 0;
            ts[i].tv_nsec = UTIME_OMIT;
        }
    }
    return posix::CallAt(name, [&](int dir, const char* n) {
        return ::utimensat(dir, n, ts, followLink ? 0 : AT_SYMLINK_NOFOLLOW);
    });
}

int SetFileMode(const QString& name, unsigned mode, bool followLink)
{
    const int err = posix::CallAt(name, [&](int dir, const char* n) {
        return ::fchmodat(dir, n, mode_t(mode & 07777), followLink ? 0 : AT_SYMLINK_NOFOLLOW);
    });
    // Without following, a link is refused (the system cannot change one).
    return err == EOPNOTSUPP && !followLink ? ELOOP : err;
}

int SetFileMode(int fd, unsigned mode)
{
    if (::fchmod(fd, mode_t(mode & 07777)) != 0)
        return errno;
    return 0;
}

int CreateDirectory(const QString& name, unsigned mode)
{
    return posix::CallAt(
        name, [mode](int dir, const char* n) { return ::mkdirat(dir, n, mode_t(mode & 07777)); });
}

int RenameNoReplace(const QString& oldName, const QString& newName)
{
    const TPathAt o(oldName);
    if (o.Error())
        return o.Error();
    const TPathAt n(newName);
    if (n.Error())
        return n.Error();
    if (::renameat2(o.Dir(), o.Name(), n.Dir(), n.Name(), RENAME_NOREPLACE) == 0)
        return 0;
    const int err = errno;
    if (err != EINVAL && err != ENOSYS)
        return err;
    // A file system without the no-replace rename: check, then rename.
    struct stat st;
    if (::fstatat(n.Dir(), n.Name(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    if (::renameat(o.Dir(), o.Name(), n.Dir(), n.Name()) != 0)
        return errno;
    return 0;
}

int RemoveFile(const QString& name)
{
    return posix::CallAt(name, [](int dir, const char* n) { return ::unlinkat(dir, n, 0); });
}

namespace {

bool NoAttributeSupport(int err)
{
    return err == ENOTSUP || err == EOPNOTSUPP || err == ENODATA;
}

// Runs call with both names in the form for calls without an *at form.
template <typename F> int WithPlainNames(const QString& source, const QString& dest, F&& call)
{
    const TPathAt sp(source);
    const TPathAt dp(dest);
    if (sp.Error() || dp.Error())
        return sp.Error() ? sp.Error() : dp.Error();
    return call(sp.PlainName(), dp.PlainName());
}

int CopyUserAttributesOf(const QByteArray& s, const QByteArray& d)
{
    std::vector<char> names;
    for (;;) {
        const ssize_t size = ::listxattr(s.constData(), nullptr, 0);
        if (size < 0)
            return NoAttributeSupport(errno) ? 0 : errno;
        if (size == 0)
            return 0;
        names.resize(size_t(size));
        const ssize_t got = ::listxattr(s.constData(), names.data(), names.size());
        if (got >= 0) {
            names.resize(size_t(got));
            break;
        }
        if (errno != ERANGE)
            return NoAttributeSupport(errno) ? 0 : errno;
    }
    std::vector<char> value;
    for (size_t i = 0; i < names.size();) {
        const char* name = names.data() + i;
        const size_t len = strnlen(name, names.size() - i);
        i += len + 1;
        if (std::strncmp(name, "user.", 5) != 0)
            continue;
        const std::string key(name, len);
        ssize_t got;
        for (;;) {
            const ssize_t size = ::getxattr(s.constData(), key.c_str(), nullptr, 0);
            if (size < 0)
                return errno;
            value.resize(size_t(size));
            got = ::getxattr(s.constData(), key.c_str(), value.data(), value.size());
            if (got >= 0 || errno != ERANGE)
                break;
        }
        if (got < 0)
            return errno;
        if (::setxattr(d.constData(), key.c_str(), value.data(), size_t(got), 0) != 0)
            return errno;
    }
    return 0;
}

} // namespace

int CopyUserAttributes(const QString& source, const QString& dest)
{
    return WithPlainNames(source, dest, CopyUserAttributesOf);
}

namespace {

// rwx of one ACL entry as three mode bits.
unsigned EntryBits(acl_entry_t entry)
{
    acl_permset_t set;
    if (acl_get_permset(entry, &set) != 0)
        return 0;
    return (acl_get_perm(set, ACL_READ) == 1 ? 4u : 0u) | (acl_get_perm(set, ACL_WRITE) == 1 ? 2u : 0u)
        | (acl_get_perm(set, ACL_EXECUTE) == 1 ? 1u : 0u);
}

// The mode that grants no class more than the list: the owner's entry, the
// owning group's entry within the mask, everybody else's entry. Named users
// and groups have no place in a mode and are left out.
unsigned ModeGrantedBy(acl_t acl)
{
    enum { kOwner, kGroup, kMask, kOthers };
    unsigned bits[4] = {0, 0, 7, 0};
    acl_entry_t entry;
    for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl, which, &entry) == 1; which = ACL_NEXT_ENTRY) {
        acl_tag_t tag;
        if (acl_get_tag_type(entry, &tag) != 0)
            continue;
        const int slot = tag == ACL_USER_OBJ ? kOwner
            : tag == ACL_GROUP_OBJ           ? kGroup
            : tag == ACL_MASK                ? kMask
            : tag == ACL_OTHER               ? kOthers
                                             : -1;
        if (slot >= 0)
            bits[slot] = EntryBits(entry);
    }
    return (bits[kOwner] << 6) | ((bits[kGroup] & bits[kMask]) << 3) | bits[kOthers];
}

constexpr const char* kAccessAclName = "system.posix_acl_access";

} // namespace

int GetAccessMode(int fd, unsigned& mode)
{
    mode = 0;
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return errno;
    mode = st.st_mode & 0777;
    // Only a file with a list of its own says more than its mode (asked
    // first: one call for the common file without one).
    if (::fgetxattr(fd, kAccessAclName, nullptr, 0) <= 0)
        return 0;
    acl_t acl = acl_get_fd(fd);
    if (!acl)
        return 0;
    mode = ModeGrantedBy(acl);
    acl_free(acl);
    return 0;
}

int CopyAccessControl(const QString& source, const QString& dest)
{
    return WithPlainNames(source, dest, [&](const QByteArray& s, const QByteArray& d) {
        acl_t acl = acl_get_file(s.constData(), ACL_TYPE_ACCESS);
        if (!acl) {
            if (errno != ENOTSUP && errno != EOPNOTSUPP)
                return errno;
            // No ACLs on the source's file system: the permission bits are all.
            struct stat st;
            if (::stat(s.constData(), &st) != 0)
                return errno;
            return SetFileMode(dest, st.st_mode & 0777);
        }
        int err = 0;
        if (acl_set_file(d.constData(), ACL_TYPE_ACCESS, acl) != 0) {
            err = errno;
            // A destination without ACLs gets a mode that grants no class more
            // than the list did; when the list said more than a mode can (named
            // users or groups), the copy of it remains incomplete.
            if (err == ENOTSUP || err == EOPNOTSUPP) {
                mode_t equivalent = 0;
                const bool complete = acl_equiv_mode(acl, &equivalent) == 0;
                err = SetFileMode(dest, ModeGrantedBy(acl));
                if (err == 0 && !complete)
                    err = EOPNOTSUPP;
            }
        }
        acl_free(acl);
        return err;
    });
}

int OpenTemporaryFile(const QString& dir, int& fd)
{
    fd = -1;
    const TPathAt p(dir);
    if (p.Error())
        return p.Error();
    int f;
    do {
        f = ::openat(p.Dir(), p.Name(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    } while (f < 0 && errno == EINTR);
    if (f >= 0) {
        fd = f;
        return 0;
    }
    // EOPNOTSUPP: a file system without unnamed files; EISDIR: a kernel
    // that does not know the flag.
    if (errno != EOPNOTSUPP && errno != EISDIR)
        return errno;
    const int folder = posix::OpenDirAt(p.Dir(), p.Name());
    if (folder < 0)
        return errno;
    int err = EEXIST;
    for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
        quint64 random = 0;
        if (::getrandom(&random, sizeof random, 0) != ssize_t(sizeof random))
            random ^= quint64(::getpid()) << 32 | quint64(attempt);
        char name[32];
        std::snprintf(name, sizeof name, ".kes-%016llx.tmp", static_cast<unsigned long long>(random));
        f = ::openat(folder, name, O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (f < 0) {
            err = errno;
            continue;
        }
        err = ::unlinkat(folder, name, 0) == 0 ? 0 : errno;
        if (err) {
            ::close(f);
            f = -1;
        }
    }
    ::close(folder);
    if (err)
        return err;
    fd = f;
    return 0;
}

} // namespace kes::platform
