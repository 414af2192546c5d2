#include "platform/AtomicFile.h"
#include "platform/SettingsFile.h"

#include "platform/FileName.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kes::platform {

int WriteFileAtomically(const QString& path, const QByteArray& data, unsigned permissions)
{
    return ReplaceSettingsFile(path, data, permissions);
}

int ReadWholeFile(const QString& path, QByteArray& data, qint64 maxSize)
{
    TSettingsRead read = ReadSettingsFile(path, maxSize);
    data = std::move(read.Bytes);
    switch (read.Result) {
    case TSettingsReadResult::srOk:
        return 0;
    case TSettingsReadResult::srMissing:
        return ENOENT;
    case TSettingsReadResult::srFolder:
        return EISDIR;
    case TSettingsReadResult::srNotRegular:
        return EINVAL;
    case TSettingsReadResult::srTooLarge:
        return EFBIG;
    case TSettingsReadResult::srFailed:
        break;
    }
    data.clear();
    return read.Error ? read.Error : EIO;
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
