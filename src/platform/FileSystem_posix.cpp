#include "platform/FileSystem.h"

#include "platform/FileName.h"

#include <acl/libacl.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/acl.h>
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
    const QByteArray n = EncodeName(name);
    if (n.isEmpty())
        return ENOENT;
    struct statx sx;
    if (statx(AT_FDCWD, n.constData(), followLink ? 0 : AT_SYMLINK_NOFOLLOW, kStatxMask, &sx) != 0)
        return errno;
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
    const QByteArray n = EncodeName(name);
    if (n.isEmpty())
        return ENOENT;
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
    int f;
    do {
        f = ::open(n.constData(), oflags, permissions ? permissions : 0666);
    } while (f < 0 && errno == EINTR);
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

int ReadFile(int fd, void* buffer, qint64 count, qint64& done)
{
    done = 0;
    auto* p = static_cast<char*>(buffer);
    while (done < count) {
        const size_t chunk = size_t(std::min<qint64>(count - done, qint64(1) << 30));
        const ssize_t r = ::read(fd, p + done, chunk);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (r == 0)
            break;
        done += r;
    }
    return 0;
}

int WriteFile(int fd, const void* buffer, qint64 count, qint64& done)
{
    done = 0;
    const auto* p = static_cast<const char*>(buffer);
    while (done < count) {
        const size_t chunk = size_t(std::min<qint64>(count - done, qint64(1) << 30));
        const ssize_t w = ::write(fd, p + done, chunk);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (w == 0)
            return ENOSPC;
        done += w;
    }
    return 0;
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
    done = 0;
    while (done < count) {
        const size_t chunk = size_t(std::min<qint64>(count - done, qint64(1) << 30));
        const ssize_t r = ::copy_file_range(in, nullptr, out, nullptr, chunk, 0);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            if (done == 0
                && (err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == EBADF
                    || err == ETXTBSY || err == EPERM))
                return EOPNOTSUPP;
            return err;
        }
        if (r == 0)
            break;
        done += r;
    }
    return 0;
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
    const QByteArray n = EncodeName(name);
    char* resolved = ::realpath(n.constData(), nullptr);
    if (!resolved)
        return errno;
    target = DecodeName(resolved, qsizetype(std::strlen(resolved)));
    std::free(resolved);
    return 0;
}

int SetFileTimes(const QString& name, std::optional<qint64> accessTime,
    std::optional<qint64> modificationTime, bool followLink)
{
    const QByteArray n = EncodeName(name);
    if (n.isEmpty())
        return ENOENT;
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
    if (::utimensat(AT_FDCWD, n.constData(), ts, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    return 0;
}

int SetFileMode(const QString& name, unsigned mode)
{
    const QByteArray n = EncodeName(name);
    if (n.isEmpty())
        return ENOENT;
    if (::chmod(n.constData(), mode_t(mode & 07777)) != 0)
        return errno;
    return 0;
}

int CreateDirectory(const QString& name, unsigned mode)
{
    const QByteArray n = EncodeName(name);
    if (n.isEmpty())
        return ENOENT;
    if (::mkdir(n.constData(), mode_t(mode & 07777)) != 0)
        return errno;
    return 0;
}

int RenameNoReplace(const QString& oldName, const QString& newName)
{
    const QByteArray o = EncodeName(oldName);
    const QByteArray n = EncodeName(newName);
    if (o.isEmpty() || n.isEmpty())
        return ENOENT;
    if (::renameat2(AT_FDCWD, o.constData(), AT_FDCWD, n.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    const int err = errno;
    if (err != EINVAL && err != ENOSYS)
        return err;
    // A file system without the no-replace rename: check, then rename.
    struct stat st;
    if (::lstat(n.constData(), &st) == 0)
        return EEXIST;
    if (::rename(o.constData(), n.constData()) != 0)
        return errno;
    return 0;
}

int RemoveFile(const QString& name)
{
    const QByteArray n = EncodeName(name);
    if (n.isEmpty())
        return ENOENT;
    if (::unlink(n.constData()) != 0)
        return errno;
    return 0;
}

namespace {

bool NoAttributeSupport(int err)
{
    return err == ENOTSUP || err == EOPNOTSUPP || err == ENODATA;
}

} // namespace

int CopyUserAttributes(const QString& source, const QString& dest)
{
    const QByteArray s = EncodeName(source);
    const QByteArray d = EncodeName(dest);
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

int CopyAccessControl(const QString& source, const QString& dest)
{
    const QByteArray s = EncodeName(source);
    const QByteArray d = EncodeName(dest);
    acl_t acl = acl_get_file(s.constData(), ACL_TYPE_ACCESS);
    if (!acl) {
        if (errno != ENOTSUP && errno != EOPNOTSUPP)
            return errno;
        // No ACLs on the source's file system: the permission bits are all.
        struct stat st;
        if (::stat(s.constData(), &st) != 0)
            return errno;
        return SetFileMode(dest, st.st_mode & 07777);
    }
    int err = 0;
    if (acl_set_file(d.constData(), ACL_TYPE_ACCESS, acl) != 0) {
        err = errno;
        mode_t mode = 0;
        // A destination without ACLs can still take a list that says no
        // more than the permission bits.
        if ((err == ENOTSUP || err == EOPNOTSUPP) && acl_equiv_mode(acl, &mode) == 0)
            err = SetFileMode(dest, mode);
    }
    acl_free(acl);
    return err;
}

int CreateUniqueFile(const QString& dir, const QString& prefix, const QString& suffix, QString& name, int& fd)
{
    fd = -1;
    name.clear();
    QString base = dir;
    if (!base.isEmpty() && !base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    QByteArray templ = EncodeName(base + prefix) + "XXXXXX" + EncodeName(suffix);
    const int suffixLen = int(EncodeName(suffix).size());
    const int f = ::mkostemps(templ.data(), suffixLen, O_CLOEXEC);
    if (f < 0)
        return errno;
    fd = f;
    name = DecodeName(templ);
    return 0;
}

} // namespace kes::platform
