#include "platform/AtomicFile.h"

#include "platform/FileName.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kes::platform {

namespace {

QByteArray FolderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    if (slash == 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

int SyncFolder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int rc = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
    ::close(fd);
    return rc;
}

} // namespace

int WriteFileAtomically(const QString& path, const QByteArray& data, unsigned permissions)
{
    const QByteArray target = EncodeName(path);
    if (target.isEmpty())
        return ENOENT;
    const QByteArray folder = FolderOf(target);
    const qsizetype slash = target.lastIndexOf('/');
    QByteArray temp = folder + "/." + target.mid(slash + 1) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    int rc = 0;
    if (::fchmod(fd, permissions & 07777) != 0)
        rc = errno;
    for (qsizetype done = 0; rc == 0 && done < data.size();) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0) {
            if (errno != EINTR)
                rc = errno;
            continue;
        }
        done += n;
    }
    if (rc == 0 && ::fsync(fd) != 0)
        rc = errno;
    if (::close(fd) != 0 && rc == 0)
        rc = errno;
    if (rc == 0 && ::rename(temp.constData(), target.constData()) != 0)
        rc = errno;
    if (rc != 0) {
        ::unlink(temp.constData());
        return rc;
    }
    return SyncFolder(folder);
}

int ReadWholeFile(const QString& path, QByteArray& data, qint64 maxSize)
{
    data.clear();
    const int fd = ::open(EncodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat st { };
    int rc = 0;
    if (::fstat(fd, &st) != 0)
        rc = errno;
    else if (!S_ISREG(st.st_mode))
        rc = EISDIR;
    else if (st.st_size > maxSize)
        rc = EFBIG;
    char buffer[65536];
    while (rc == 0) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno != EINTR)
                rc = errno;
            continue;
        }
        if (n == 0)
            break;
        data.append(buffer, n);
        if (data.size() > maxSize)
            rc = EFBIG;
    }
    ::close(fd);
    if (rc != 0)
        data.clear();
    return rc;
}

int RemoveFileIfPresent(const QString& path)
{
    if (::unlink(EncodeName(path).constData()) != 0 && errno != ENOENT)
        return errno;
    return 0;
}

int MakeDirectories(const QString& path, unsigned permissions)
{
    const QByteArray p = EncodeName(path);
    if (p.isEmpty())
        return ENOENT;
    for (qsizetype i = 1; i <= p.size(); ++i) {
        if (i < p.size() && p[i] != '/')
            continue;
        const QByteArray part = p.left(i);
        if (::mkdir(part.constData(), permissions & 07777) != 0 && errno != EEXIST)
            return errno;
    }
    struct stat st { };
    if (::stat(p.constData(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int ListFolderNames(const QString& path, QStringList& names)
{
    names.clear();
    DIR* dir = ::opendir(EncodeName(path).constData());
    if (!dir)
        return errno;
    errno = 0;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray n(e->d_name);
        if (n != "." && n != "..")
            names << DecodeName(n);
    }
    const int rc = errno;
    ::closedir(dir);
    return rc;
}

int FileModificationMSecs(const QString& path, qint64& msecs)
{
    struct stat st { };
    if (::stat(EncodeName(path).constData(), &st) != 0)
        return errno;
    msecs = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return 0;
}

} // namespace kes::platform
