// Bottom layer of the file transfer engine: the long-path rule and its
// wrappers, a file stream over a system descriptor, the time and attribute
// records that travel with a copied file, time conversions and a few
// whole-file operations.
//
// These operations return system error codes (0 = success; errno values on
// Linux) and never raise, except the TExtFileStream constructor and
// CopyFileExt.
//
// Linux counterparts: attributes are derived from the permission bits
// (read-only = no write permission at all), the directory bit, the archive
// bit $20 as the neutral value of every file, $400 for a symbolic link
// examined without following it; alternate data streams are extended
// attributes of the user namespace; the access-control list is the POSIX
// ACL with the permission bits; document summaries do not exist (nothing
// to copy, success). Creation times come from statx and cannot be set.
#pragma once

#include "fileengine/Streams.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <exception>
#include <memory>
#include <vector>

namespace kes {

// File attributes (the low 16 bits travel with a copy).
inline constexpr int faReadOnly = 0x01;
inline constexpr int faHidden = 0x02;
inline constexpr int faSysFile = 0x04;
inline constexpr int faDirectory = 0x10;
inline constexpr int faArchive = 0x20;
inline constexpr int faNormal = 0x80;
inline constexpr int faTemporary = 0x100;
inline constexpr int faReparsePoint = 0x400;
inline constexpr int faOffline = 0x1000;
inline constexpr int faNotContentIndexed = 0x2000;
// The bits FileSetAttrXL passes on.
inline constexpr int faSettable = 0x31A7;

// A file time: 100-ns ticks since 1601-01-01 UTC.
using TFileTime = qint64;
inline constexpr TFileTime kUnixEpochFileTime = 116444736000000000LL;
inline constexpr TFileTime kFileTimeTicksPerDay = 864000000000LL;

struct TFileTimestamps {
    bool Valid = false;
    TFileTime CreationTime = 0;
    TFileTime LastAccessTime = 0;
    TFileTime LastWriteTime = 0;

    void Reset();
    // From two local date-times: CTime gives the creation time, MTime the
    // modification and the access time.
    void SetTimeStamps(const QDateTime& CTime, const QDateTime& MTime);
};

struct TFileStreamData {
    std::shared_ptr<TStream> FileStream;
    int BufferSize = 0;
    void Reset();
};

// The description of one source file.
struct TFileData {
    QString FileName; // name without directory
    QString FullPath; // filled by callers that know it
    TFileStreamData StreamData;
    qint64 FileSize = 0;
    int FileAttr = faArchive;
    TFileTimestamps TimeStamps;
    void Reset();
};

// The standard attribute data of a file.
struct TFileAttributeData {
    int FileAttributes = 0;
    TFileTime CreationTime = 0;
    TFileTime LastAccessTime = 0;
    TFileTime LastWriteTime = 0;
    qint64 FileSize = 0;
};

// An I/O error with the system's code.
class EExtFileStreamError : public std::exception {
public:
    EExtFileStreamError(const QString& msg, int error);
    // The pattern is translated by the caller and formatted with SafeFormat.
    static EExtFileStreamError CreateResFmt(const QString& pattern, const QStringList& args, int error);
    const char* what() const noexcept override { return FUtf8.constData(); }
    const QString& Message() const { return FMsg; }
    int ErrorCode() const { return FError; }

private:
    QString FMsg;
    QByteArray FUtf8;
    int FError;
};

// What CopyFileExt raises.
class ECopyError : public EExtFileStreamError {
public:
    using EExtFileStreamError::EExtFileStreamError;
};

// Open modes of TExtFileStream.
inline constexpr quint32 fmOpenRead = 0x0000;
inline constexpr quint32 fmOpenWrite = 0x0001;
inline constexpr quint32 fmOpenReadWrite = 0x0002;
inline constexpr quint32 fmExclusive = 0x0004; // with fmCreate: fail when the file exists
// With fmCreate: a symbolic link at the name is replaced by the new file,
// never written through.
inline constexpr quint32 fmReplaceLink = 0x0008;
inline constexpr quint32 fmShareExclusive = 0x0010;
inline constexpr quint32 fmShareDenyWrite = 0x0020;
inline constexpr quint32 fmShareDenyNone = 0x0040;
inline constexpr quint32 fmCreate = 0xFF00; // create or empty, read and write
// The permission bits of a file while the engine writes it.
inline constexpr quint32 kOwnerOnly = 0600;
// Creation flags.
inline constexpr quint32 kFlagSequentialScan = 0x08000000;
inline constexpr quint32 kFlagWriteThrough = 0x80000000;

// A file stream over a system descriptor. Share modes have no counterpart
// on Linux and are ignored; only regular files can be opened.
class TExtFileStream : public TStream {
public:
    // Raises EExtFileStreamError with "Cannot create file ..." or "Cannot
    // open file ...". Rights are the permission bits of a new file (0 =
    // the default, 0666 before umask); an existing file that fmCreate
    // empties loses every bit not in Rights as well.
    TExtFileStream(const QString& AFileName, quint32 Mode, quint32 Rights = 0, quint32 Flags = 0);
    ~TExtFileStream() override;
    TExtFileStream(const TExtFileStream&) = delete;
    TExtFileStream& operator=(const TExtFileStream&) = delete;

    // Opens without raising; error receives the system code.
    static std::unique_ptr<TExtFileStream> Open(
        const QString& fileName, quint32 mode, int& error, quint32 flags = 0, quint32 rights = 0);
    // A new temporary file in the folder dir, owner-only and without a
    // name: nothing of it remains once it is closed or the process ends.
    static std::unique_ptr<TExtFileStream> OpenTemporary(const QString& dir, int& error);

    int Read(void* buffer, qint64 count, qint64& done) override;
    int Write(const void* buffer, qint64 count, qint64& done) override;
    int Seek(qint64 position) override;
    qint64 Position() const override { return FPos; }
    qint64 Size() const override;
    int Truncate() override;

    // Copies up to count bytes from source's position to this stream's
    // position inside the system; platform::kErrNotSupported (nothing
    // copied) when that is not possible for these two files.
    int CopyFrom(TExtFileStream& source, qint64 count, qint64& done);
    // Writes the file's data to the device.
    int Flush();
    // Closes the descriptor and reports a delayed write error.
    int Close();
    // Lets the next reads come from the device rather than the cache.
    int DropCache();
    // Sets the permission bits of the open file.
    int SetMode(unsigned mode);
    // The permission bits the file grants when nothing but a mode is kept
    // (an access-control list taken into account, never wider than it).
    int AccessMode(unsigned& mode) const;
    // Whether name, links followed, is the file this stream has open.
    bool SameFileAs(const QString& name) const;

    const QString& FileName() const { return FName; }
    int Handle() const { return FHandle; }

private:
    TExtFileStream() = default;
    QString FName;
    int FHandle = -1;
    qint64 FPos = 0;
};

// --- The long-path rule and its wrappers --------------------------------

// Windows rule: UNC paths get "\\?\UNC\", drive paths of 248 characters or
// more "\\?\"; everything else is returned unchanged.
QString MakeExtendedPath(const QString& Path);
// The name as the system needs it: MakeExtendedPath on Windows, unchanged
// on Linux.
QString SystemPathXL(const QString& Path);

// The name part of a path; delimiters at its end do not count.
QString FileNamePart(const QString& Path);

bool ForceDirectoriesXL(const QString& Dir);
bool DirectoryExistsXL(const QString& Dir, bool FollowLink = true);
bool FileExistsXL(const QString& Name, bool FollowLink = true);
int DeleteFileXL(const QString& Name, bool ClearReadOnly = false);
int DeleteExistingFileXL(const QString& Name, bool ClearReadOnly = false);
int RenameFileXL(const QString& OldName, const QString& NewName);
bool FindFileXL(const QString& Name, TFileAttributeData& FindData);
int FileGetAttrXL(const QString& Name, bool FollowLink = true);
int FileSetAttrXL(const QString& Name, int Attr, bool FollowLink = true);
int ChangeAttributesXL(const QString& Name, int Attr, bool Clear, bool FollowLink = true);

// --- Times and metadata -------------------------------------------------

int GetFileTimestampsInfo(const QString& Name, TFileAttributeData& AttributeData, bool FollowLink = true);
TFileTime GetFileModTime(const QString& Name);
bool GetFileDataInfo(const QString& Path, TFileData& FileData);
int SetFileModTime(const QString& Name, TFileTime FileTime, bool CheckTime);
int SetFileTimestamps(const QString& Name, const TFileTimestamps& Timestamps, bool CheckTime, bool FollowLink,
    bool CopyCreationTime);

TFileTime CurrentFileTime();
TFileTime UnixNsToFileTime(qint64 ns);
qint64 FileTimeToUnixNs(TFileTime ft);
// A local date-time (or any QDateTime) to a UTC file time.
TFileTime DateTimeToFileTime(const QDateTime& dt);
// A file time to a UTC date-time; false (and the current time) when it
// lies outside the years 1601-9999.
bool FileTimeToDateTime(TFileTime ft, QDateTime& dt);
// Seconds since 1970, rounded to the nearest second (ties to even).
qint64 FileTimeToUnixTime(TFileTime FileTime);
// DOS date (high word) and time (low word) of the local time, or -1.
qint32 FileTimeToDosTime(TFileTime FileTime);
qint32 GetDirDosTime(const QString& Dir);
// A modification time checked for use: a time that cannot be converted or
// lies more than one day ahead becomes the current time.
TFileTime CheckedFileTime(TFileTime ft);

bool GetReparseTarget(const QString& Name, QString& Target);
bool GetFinalFileName(int Handle, QString& Name);

// --- Whole-file operations ----------------------------------------------

int CreateUtf8TextFile(const QString& Name);
// Raises ECopyError. Attr < 0 takes the source's own attributes.
void CopyFileExt(const QString& Source, const QString& Dest, int Attr = -1, int BufferSize = 0x40000);
int CopyFileContent(const QString& Source, const QString& Dest, int BufferSize = 0x40000);
int CopyAlternateStreams(const QString& Source, const QString& Dest);
int CopyFileSecurity(const QString& Source, const QString& Dest);

// Document summaries have no counterpart on Linux: an empty summary is
// read and nothing is written, both successfully.
struct TFilePropertySet {
    QByteArray FormatId;
    std::vector<std::pair<quint32, QByteArray>> PropArray;
};
using TFileSummary = std::vector<TFilePropertySet>;
int ReadFileSummary(const QString& Name, TFileSummary& Summary);
int WriteFileSummary(const QString& Name, const TFileSummary& Summary);

// The system's text of a code without decoration (empty when none).
QString SysErrorMessage(int Code);
// The system's text followed by " (0x%.8x)", or "Error code = 0x%.8x".
QString SysErrorText(int Code);
// "System error: " + SysErrorText(Code).
QString SystemErrorText(int Code);

} // namespace kes
