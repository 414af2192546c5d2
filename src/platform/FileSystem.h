// File-system services of the file transfer engine: descriptors, status,
// times, modes, renames, extended attributes and access-control lists.
//
// Every call returns the system's error code (errno on POSIX), 0 for
// success, and never raises. File names cross into the system through
// EncodeName (platform/FileName.h), so any byte string round-trips.
#pragma once

#include <QString>
#include <optional>

namespace kes::platform {

// Error codes the engine asks about by meaning. They are the system's own
// values, so SysErrorText can word them.
extern const int kErrNotFound; // no such file or directory
extern const int kErrExists; // the target exists
extern const int kErrDiskFull; // the code the engine reports for a full disk (ENOSPC)
extern const int kErrNotSupported; // the file system cannot do this
extern const int kErrInvalid; // invalid argument, or not a regular file
extern const int kErrIsDirectory; // a directory where a file was expected
extern const int kErrIO; // input/output error (also: unexpected end of data)

// True for every code that means "no room left": a full disk (ENOSPC) and
// an exhausted quota (EDQUOT). This is the one place both are mapped.
bool IsDiskFull(int code);

// The last error of the calling thread.
int LastError();

// The system's text for an error code in the current locale; empty when
// the system has no text for it.
QString ErrorDescription(int code);

// Whether names must be given the long-path prefix before they reach the
// system (Windows only).
bool UsesExtendedPaths();

// Time stamps are nanoseconds since 1970-01-01 UTC.
struct FileStatus {
    bool isDirectory = false;
    bool isSymLink = false; // only when the link itself was examined
    bool isRegular = false;
    unsigned mode = 0; // permission bits (07777)
    qint64 size = 0;
    qint64 accessTime = 0;
    qint64 modificationTime = 0;
    qint64 changeTime = 0;
    qint64 birthTime = 0; // creation time; valid when hasBirthTime
    bool hasBirthTime = false;
    quint64 device = 0; // device and inode name the file itself
    quint64 inode = 0;
};

int GetFileStatus(const QString& name, bool followLink, FileStatus& status);
int GetFileStatus(int fd, FileStatus& status);

// Flags of OpenFile.
enum OpenFlag : unsigned {
    ofRead = 0x1,
    ofWrite = 0x2,
    ofReadWrite = 0x3,
    ofCreate = 0x10, // create when missing
    ofTruncate = 0x20, // empty an existing file
    ofExclusive = 0x40, // with ofCreate: fail when the file exists
    ofWriteThrough = 0x80, // every write reaches the device before it returns
    ofSequential = 0x100, // the data will be read or written once, front to back
    ofRegularOnly = 0x200, // refuse directories (kErrIsDirectory) and special files (kErrInvalid)
};

// Opens or creates a file; permissions apply to a new file (before umask).
// The descriptor is closed on exec.
int OpenFile(const QString& name, unsigned flags, unsigned permissions, int& fd);
int CloseFile(int fd);
// Reads until count bytes are read or the data end; done = bytes read.
int ReadFile(int fd, void* buffer, qint64 count, qint64& done);
// Writes all count bytes; on failure done holds what was written.
int WriteFile(int fd, const void* buffer, qint64 count, qint64& done);
// Moves to an absolute position.
int SeekFile(int fd, qint64 position);
int SyncFile(int fd);
int TruncateFile(int fd, qint64 size);
// Drops the file's cached pages (data already written to the device), so
// that the next read comes from the device.
int DropCachedData(int fd);
// Copies up to count bytes from the current position of in to the current
// position of out inside the system; done = bytes copied (0 at the end of
// the source). kErrNotSupported when the two files cannot be copied that
// way, before anything was copied: the caller then reads and writes.
int CopyFileRange(int in, int out, qint64 count, qint64& done);
// The path of an open file.
int GetOpenFilePath(int fd, QString& path);

// The final target of a symbolic link, absolute, every link resolved;
// kErrInvalid when name is no symbolic link.
int ResolveLink(const QString& name, QString& target);

// Sets access and/or modification time (nanoseconds since 1970 UTC); an
// empty value leaves that time as it is. Creation times cannot be set.
int SetFileTimes(const QString& name, std::optional<qint64> accessTime,
    std::optional<qint64> modificationTime, bool followLink);
int SetFileMode(const QString& name, unsigned mode);
// mode: the permission bits of the new directory (less the umask).
int CreateDirectory(const QString& name, unsigned mode = 0777);
// Renames; fails with kErrExists when newName exists.
int RenameNoReplace(const QString& oldName, const QString& newName);
int RemoveFile(const QString& name);

// Copies the extended attributes of the user namespace (the counterpart of
// alternate data streams). A source without any succeeds at once.
int CopyUserAttributes(const QString& source, const QString& dest);
// Copies the access-control list with the permission bits.
int CopyAccessControl(const QString& source, const QString& dest);

// Creates a new file dir/prefix + random characters + suffix, readable
// and writable by the owner only.
int CreateUniqueFile(
    const QString& dir, const QString& prefix, const QString& suffix, QString& name, int& fd);

} // namespace kes::platform
