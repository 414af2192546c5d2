// Names of any length for the POSIX file-system calls, shared by the POSIX
// files of the platform layer. Not part of the platform's public interface.
//
// The kernel refuses names of PATH_MAX (4,096) bytes or more. A shorter
// name is handed to the *at calls as it is (relative to AT_FDCWD); a longer
// one is reached by opening its folders one piece at a time, each piece
// shorter than the limit and cut at a "/", so that the last step is an *at
// call on the final component. Symbolic links on the way are followed by
// the kernel as it follows them in a short name.
#pragma once

#include <QByteArray>
#include <QString>
#include <cerrno>

namespace kes::platform::posix {

class TPathAt {
public:
    explicit TPathAt(const QByteArray& name);
    explicit TPathAt(const QString& name);
    ~TPathAt();
    TPathAt(const TPathAt&) = delete;
    TPathAt& operator=(const TPathAt&) = delete;

    // 0, or the error of reaching the folder (ENOENT for an empty name or
    // one holding a zero byte, which the system would cut short).
    int Error() const { return FError; }
    // The folder descriptor (AT_FDCWD for a short name) and the name
    // relative to it.
    int Dir() const { return FDir; }
    const char* Name() const { return FName.constData(); }
    // The name for calls without an *at form (extended attributes, ACLs):
    // a short name as it is, a long one as "/proc/self/fd/N/" + component.
    QByteArray PlainName() const;

private:
    int FError = 0;
    int FDir;
    bool FOwnsDir = false;
    QByteArray FName;
};

// Runs call(dir, name) on the name reached at any length: 0, the error of
// reaching its folder, or errno when call does not return 0.
template <typename F> int CallAt(const QString& name, F&& call)
{
    const TPathAt p(name);
    if (p.Error())
        return p.Error();
    return call(p.Dir(), p.Name()) == 0 ? 0 : errno;
}

// The absolute name with every symbolic link, "." and ".." resolved, for
// names and results of any length: realpath where the names are short,
// else a walk on open directory descriptors. 0 or errno.
int CanonicalName(const QByteArray& name, QByteArray& result);

} // namespace kes::platform::posix
