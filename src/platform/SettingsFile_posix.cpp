#include "platform/SettingsFile.h"

#include "platform/FileName.h"
#include "platform/RealPath.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kes::platform {

namespace {

// The folder part of a name in bytes ("." for a bare name).
QByteArray FolderOf(const QByteArray& name)
{
    const qsizetype slash = name.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    if (slash == 0)
        return QByteArrayLiteral("/");
    return name.left(slash);
}

QByteArray BaseOf(const QByteArray& name)
{
    const qsizetype slash = name.lastIndexOf('/');
    return slash < 0 ? name : name.mid(slash + 1);
}

int WriteAll(int fd, const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(std::min<qsizetype>(left, qsizetype(1) << 30)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        p += n;
        left -= n;
    }
    return 0;
}

// Flushes the folder's entry of a renamed file to the disk. A file system
// that cannot sync folders is no error, and nor is anything else here: the
// file has already been replaced, so the caller cannot keep the old one.
void SyncFolder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// Gives the new file the old one's owner and mode. When the owner or
// group cannot be kept, only the owner's bits stay, so no one gains access.
void KeepOwnerAndMode(int fd, const struct stat& old)
{
    struct stat now { };
    mode_t mode = old.st_mode & 07777;
    if (::fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid)) {
        if (::fchown(fd, old.st_uid, old.st_gid) != 0)
            mode &= 0700;
    }
    ::fchmod(fd, mode);
}

} // namespace

TSettingsRead ReadSettingsFile(const QString& name, qint64 maxBytes)
{
    TSettingsRead r;
    const QByteArray path = EncodeName(name);
    if (path.isEmpty()) {
        r.Result = TSettingsReadResult::srMissing;
        return r;
    }
    // Look before opening: opening a device can have effects of its own.
    struct stat st { };
    if (::stat(path.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            r.Result = TSettingsReadResult::srMissing;
        } else {
            r.Error = errno;
        }
        return r;
    }
    const auto classify = [&](const struct stat& s) {
        if (S_ISDIR(s.st_mode))
            r.Result = TSettingsReadResult::srFolder;
        else if (!S_ISREG(s.st_mode))
            r.Result = TSettingsReadResult::srNotRegular;
        else if (s.st_size > maxBytes)
            r.Result = TSettingsReadResult::srTooLarge;
        else
            return true;
        return false;
    };
    if (!classify(st))
        return r;
    // The name may have been swapped for a FIFO since: the open must not
    // wait for a writer, and fstat tells what was opened.
    int fd;
    do {
        fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == ENOENT)
            r.Result = TSettingsReadResult::srMissing;
        else
            r.Error = errno;
        return r;
    }
    const auto fail = [&](int error) {
        r.Result = TSettingsReadResult::srFailed;
        r.Error = error;
        r.Bytes.clear();
        ::close(fd);
        return r;
    };
    if (::fstat(fd, &st) != 0)
        return fail(errno);
    if (!classify(st)) {
        ::close(fd);
        return r;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return fail(errno);

    // The size is a hint: the file may grow while it is read. Never more
    // than the limit plus one byte is held.
    r.Bytes.resize(qsizetype(std::min<qint64>(st.st_size, maxBytes)) + 1);
    qsizetype done = 0;
    for (;;) {
        if (done == r.Bytes.size()) {
            if (done > maxBytes) {
                r.Result = TSettingsReadResult::srTooLarge;
                r.Bytes.clear();
                ::close(fd);
                return r;
            }
            r.Bytes.resize(qsizetype(std::min<qint64>(qint64(done) * 2 + 4096, maxBytes + 1)));
        }
        const ssize_t n = ::read(fd, r.Bytes.data() + done, size_t(r.Bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        if (n == 0)
            break;
        done += n;
    }
    ::close(fd);
    r.Bytes.resize(done);
    r.Result = TSettingsReadResult::srOk;
    return r;
}

int ReplaceSettingsFile(const QString& name, const QByteArray& bytes, unsigned newFileMode)
{
    QByteArray target = EncodeName(name);
    if (target.isEmpty())
        return ENOENT;
    // A link is followed, so the file it names gets the new content.
    struct stat st { };
    if (::lstat(target.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        QString real;
        if (CanonicalPath(name, real) == 0)
            target = EncodeName(real);
    }
    const bool exists = ::stat(target.constData(), &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode))
            return EISDIR;
        if (!S_ISREG(st.st_mode))
            return EINVAL;
        // A file made read-only (no write permission for anyone) is left
        // alone, as it would be by writing into it in place - even by root.
        if ((st.st_mode & 0222) == 0 || ::access(target.constData(), W_OK) != 0)
            return EACCES;
    } else if (errno != ENOENT) {
        return errno;
    }

    const QByteArray folder = FolderOf(target);
    // ".<name>.XXXXXX" in the same folder, short enough for any name.
    QByteArray temp = folder + "/." + BaseOf(target).left(200) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC); // created 0600
    if (fd < 0)
        return errno;
    const auto fail = [&](int error) {
        ::close(fd);
        ::unlink(temp.constData());
        return error;
    };
    if (const int rc = WriteAll(fd, bytes))
        return fail(rc);
    if (exists)
        KeepOwnerAndMode(fd, st);
    else if (::fchmod(fd, mode_t(newFileMode & 0777)) != 0)
        return fail(errno);
    if (::fsync(fd) != 0)
        return fail(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        return error;
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        return error;
    }
    SyncFolder(folder);
    return 0;
}

} // namespace kes::platform
