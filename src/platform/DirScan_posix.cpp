#include "platform/DirScan.h"

#include "platform/DirScan_posix.h"
#include "platform/FileName.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kes::platform {

namespace posix {

namespace {

struct Frame {
    DIR* dir;
    QString rel;
    long tag;
};

unsigned char TypeOfMode(mode_t mode)
{
    if (S_ISDIR(mode))
        return DT_DIR;
    if (S_ISREG(mode))
        return DT_REG;
    if (S_ISLNK(mode))
        return DT_LNK;
    return DT_UNKNOWN;
}

// Errors that only mean the entry changed under the walk.
bool Vanished(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

} // namespace

int WalkTree(int fd, const QString& rel, long parentTag, TreeVisitor& visitor)
{
    long tag = 0;
    if (!visitor.EnterDir(fd, rel, parentTag, tag)) {
        close(fd);
        return 0;
    }
    DIR* top = fdopendir(fd);
    if (!top) {
        const int error = errno;
        close(fd);
        return error;
    }
    // An explicit stack: deep trees cost heap, not call stack. Each level
    // keeps its directory open, so a walk holds as many handles as the tree
    // is deep.
    std::vector<Frame> stack;
    stack.push_back({top, rel, tag});
    int topError = 0;
    while (!stack.empty()) {
        if (visitor.Cancelled())
            break;
        Frame& frame = stack.back();
        errno = 0;
        const dirent* ent = readdir(frame.dir);
        if (!ent) {
            if (errno != 0) {
                if (stack.size() > 1)
                    visitor.DirFailed(frame.rel, errno);
                else
                    topError = errno;
            }
            closedir(frame.dir);
            stack.pop_back();
            continue;
        }
        const char* name = ent->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        const int dirFd = dirfd(frame.dir);
        unsigned char type = ent->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = TypeOfMode(st.st_mode);
        }
        if (!visitor.Entry(dirFd, frame.rel, name, type) || type != DT_DIR)
            continue;
        const QString childRel = JoinRel(frame.rel, DecodeName(name, qsizetype(std::strlen(name))));
        const int childFd = openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (childFd < 0) {
            if (!Vanished(errno))
                visitor.DirFailed(childRel, errno);
            continue;
        }
        long childTag = 0;
        const long parent = frame.tag; // frame may move when the stack grows
        if (!visitor.EnterDir(childFd, childRel, parent, childTag)) {
            close(childFd);
            continue;
        }
        DIR* child = fdopendir(childFd);
        if (!child) {
            visitor.DirFailed(childRel, errno);
            close(childFd);
            continue;
        }
        stack.push_back({child, childRel, childTag});
    }
    for (Frame& f : stack)
        closedir(f.dir);
    return topError;
}

} // namespace posix

namespace {

class ChangedFilesVisitor : public posix::TreeVisitor {
public:
    ChangedFilesVisitor(qint64 since, QStringList& names, ScanResult& result, const std::atomic<bool>* cancel)
        : FSince(since)
        , FNames(names)
        , FResult(result)
        , FCancel(cancel)
    {
    }

    bool EnterDir(int, const QString&, long, long&) override { return true; }

    bool Entry(int dirFd, const QString& dirRel, const char* name, unsigned char type) override
    {
        if (type == DT_DIR)
            return true;
        if (type != DT_REG && type != DT_LNK)
            return false; // devices, pipes and sockets hold no file data
        struct stat st;
        if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        const qint64 mtime = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
        const qint64 ctime = qint64(st.st_ctim.tv_sec) * 1000 + st.st_ctim.tv_nsec / 1000000;
        if (std::max(mtime, ctime) >= FSince)
            FNames.append(posix::JoinRel(dirRel, DecodeName(name, qsizetype(std::strlen(name)))));
        return false;
    }

    void DirFailed(const QString& rel, int error) override
    {
        if (FResult.Unreadable++ == 0) {
            FResult.FirstUnreadable = rel;
            FResult.FirstUnreadableError = error;
        }
    }

    bool Cancelled() const override { return FCancel && FCancel->load(std::memory_order_relaxed); }

private:
    qint64 FSince;
    QStringList& FNames;
    ScanResult& FResult;
    const std::atomic<bool>* FCancel;
};

} // namespace

ScanResult ListChangedFiles(
    const QString& directory, qint64 sinceMsecs, QStringList& names, const std::atomic<bool>* cancel)
{
    ScanResult result;
    const int fd = open(EncodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        result.Error = errno;
        return result;
    }
    ChangedFilesVisitor visitor(sinceMsecs, names, result, cancel);
    result.Error = posix::WalkTree(fd, QString(), 0, visitor);
    return result;
}

} // namespace kes::platform
