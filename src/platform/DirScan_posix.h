// Depth-first walk over a directory tree on open directory handles
// (openat/fdopendir/readdir), shared by the POSIX files of the platform
// layer. Not part of the platform's public interface.
#pragma once

#include <QString>

namespace kes::platform::posix {

class TreeVisitor {
public:
    virtual ~TreeVisitor() = default;
    // A directory has been opened: rel is its name relative to the start of
    // the walk's naming ("" for the top). tag is passed on to its
    // sub-directories as their parentTag. Returns false to leave its
    // contents out.
    virtual bool EnterDir(int fd, const QString& rel, long parentTag, long& tag) = 0;
    // One entry of an entered directory (never "." or ".."). type is a DT_
    // value; DT_UNKNOWN from the file system is resolved with lstat first.
    // Returns true to descend into a directory entry.
    virtual bool Entry(int dirFd, const QString& dirRel, const char* name, unsigned char type) = 0;
    // A sub-directory could not be opened or read (errno).
    virtual void DirFailed(const QString& rel, int error) = 0;
    virtual bool Cancelled() const { return false; }
};

// Walks the tree of the open directory fd (taken over and closed) named
// rel. Symbolic links are never followed; entries that vanish during the
// walk are skipped. Returns 0, or errno when fd itself cannot be read.
int WalkTree(int fd, const QString& rel, long parentTag, TreeVisitor& visitor);

inline QString JoinRel(const QString& dir, const QString& name)
{
    return dir.isEmpty() ? name : dir + QLatin1Char('/') + name;
}

} // namespace kes::platform::posix
