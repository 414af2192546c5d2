#include "fileengine/FileUtils.h"

#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/PathRules.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QTimeZone>
#include <vector>

namespace kes {

namespace ps = kes::platform;

// --- Records --------------------------------------------------------------

void TFileTimestamps::Reset()
{
    Valid = false;
    CreationTime = LastAccessTime = LastWriteTime = 0;
}

void TFileTimestamps::SetTimeStamps(const QDateTime& CTime, const QDateTime& MTime)
{
    Valid = true;
    CreationTime = DateTimeToFileTime(CTime);
    LastWriteTime = DateTimeToFileTime(MTime);
    LastAccessTime = LastWriteTime;
}

void TFileStreamData::Reset()
{
    FileStream.reset();
    BufferSize = 0;
}

void TFileData::Reset()
{
    FileName.clear();
    FullPath.clear();
    FileSize = 0;
    FileAttr = faArchive;
    TimeStamps.Reset();
    StreamData.Reset();
}

// --- Exceptions -----------------------------------------------------------

EExtFileStreamError::EExtFileStreamError(const QString& msg, int error)
    : FMsg(msg)
    , FUtf8(msg.toUtf8())
    , FError(error)
{
}

EExtFileStreamError EExtFileStreamError::CreateResFmt(
    const QString& pattern, const QStringList& args, int error)
{
    // SafeFormat takes a fixed list; the engine's patterns have at most two
    // arguments.
    QString msg;
    switch (args.size()) {
    case 0:
        msg = SafeFormat(pattern, {});
        break;
    case 1:
        msg = SafeFormat(pattern, {args[0]});
        break;
    default:
        msg = SafeFormat(pattern, {args[0], args[1]});
        break;
    }
    return EExtFileStreamError(msg, error);
}

// --- TExtFileStream -------------------------------------------------------

namespace {

// The name as the messages show it: a relative name below the current
// folder.
QString ExpandedName(const QString& name)
{
    if (name.isEmpty() || !IsRelativeLocation(name))
        return name;
    return ExpandFileName(name, QDir::currentPath());
}

unsigned OpenFlagsOf(quint32 mode, quint32 flags)
{
    unsigned f = ps::ofRegularOnly;
    if ((mode & fmCreate) == fmCreate) {
        f |= ps::ofReadWrite | ps::ofCreate | ps::ofTruncate;
        if (mode & fmExclusive)
            f |= ps::ofExclusive;
        if (mode & fmReplaceLink)
            f |= ps::ofReplaceLink;
    } else if ((mode & 3) == fmOpenWrite) {
        f |= ps::ofWrite;
    } else if ((mode & 3) == fmOpenReadWrite) {
        f |= ps::ofReadWrite;
    } else {
        f |= ps::ofRead;
    }
    if (flags & kFlagWriteThrough)
        f |= ps::ofWriteThrough;
    if (flags & kFlagSequentialScan)
        f |= ps::ofSequential;
    return f;
}

} // namespace

TExtFileStream::TExtFileStream(const QString& AFileName, quint32 Mode, quint32 Rights, quint32 Flags)
    : FName(AFileName)
{
    unsigned flags = OpenFlagsOf(Mode, Flags);
    if (Rights != 0)
        flags |= ps::ofRestrictExisting;
    const int err = ps::OpenFile(AFileName, flags, Rights, FHandle);
    if (err) {
        const bool create = (Mode & fmCreate) == fmCreate;
        throw EExtFileStreamError::CreateResFmt(
            create ? U_("Cannot create file \"%s\". %s") : U_("Cannot open file \"%s\". %s"),
            {ExpandedName(AFileName), SysErrorMessage(err)}, err);
    }
}

std::unique_ptr<TExtFileStream> TExtFileStream::Open(
    const QString& fileName, quint32 mode, int& error, quint32 flags, quint32 rights)
{
    std::unique_ptr<TExtFileStream> s(new TExtFileStream());
    s->FName = fileName;
    unsigned f = OpenFlagsOf(mode, flags);
    if (rights != 0)
        f |= ps::ofRestrictExisting;
    error = ps::OpenFile(fileName, f, rights, s->FHandle);
    if (error)
        return nullptr;
    return s;
}

std::unique_ptr<TExtFileStream> TExtFileStream::OpenTemporary(const QString& dir, int& error)
{
    std::unique_ptr<TExtFileStream> s(new TExtFileStream());
    s->FName = dir;
    error = ps::OpenTemporaryFile(dir, s->FHandle);
    if (error)
        return nullptr;
    return s;
}

TExtFileStream::~TExtFileStream()
{
    if (FHandle >= 0)
        ps::CloseFile(FHandle);
}

int TExtFileStream::Read(void* buffer, qint64 count, qint64& done)
{
    if (FHandle < 0) {
        done = -1;
        return ps::kErrInvalid;
    }
    const int err = ps::ReadFile(FHandle, buffer, count, done);
    if (err) {
        done = -1;
        return err;
    }
    FPos += done;
    return 0;
}

int TExtFileStream::Write(const void* buffer, qint64 count, qint64& done)
{
    if (FHandle < 0) {
        done = -1;
        return ps::kErrInvalid;
    }
    const int err = ps::WriteFile(FHandle, buffer, count, done);
    if (done > 0)
        FPos += done;
    if (err) {
        done = -1;
        return err;
    }
    return 0;
}

int TExtFileStream::Seek(qint64 position)
{
    if (FHandle < 0)
        return ps::kErrInvalid;
    const int err = ps::SeekFile(FHandle, position);
    if (!err)
        FPos = position;
    return err;
}

qint64 TExtFileStream::Size() const
{
    ps::FileStatus st;
    if (FHandle < 0 || ps::GetFileStatus(FHandle, st))
        return -1;
    return st.size;
}

int TExtFileStream::Truncate()
{
    if (FHandle < 0)
        return ps::kErrInvalid;
    return ps::TruncateFile(FHandle, FPos);
}

int TExtFileStream::CopyFrom(TExtFileStream& source, qint64 count, qint64& done)
{
    done = 0;
    if (FHandle < 0 || source.FHandle < 0)
        return ps::kErrInvalid;
    const int err = ps::CopyFileRange(source.FHandle, FHandle, count, done);
    source.FPos += done;
    FPos += done;
    return err;
}

int TExtFileStream::Flush()
{
    if (FHandle < 0)
        return ps::kErrInvalid;
    return ps::SyncFile(FHandle);
}

int TExtFileStream::Close()
{
    if (FHandle < 0)
        return 0;
    const int err = ps::CloseFile(FHandle);
    FHandle = -1;
    return err;
}

int TExtFileStream::DropCache()
{
    if (FHandle < 0)
        return ps::kErrInvalid;
    return ps::DropCachedData(FHandle);
}

int TExtFileStream::SetMode(unsigned mode)
{
    if (FHandle < 0)
        return ps::kErrInvalid;
    return ps::SetFileMode(FHandle, mode);
}

int TExtFileStream::AccessMode(unsigned& mode) const
{
    if (FHandle < 0)
        return ps::kErrInvalid;
    return ps::GetAccessMode(FHandle, mode);
}

bool TExtFileStream::SameFileAs(const QString& name) const
{
    ps::FileStatus mine, other;
    if (FHandle < 0 || ps::GetFileStatus(FHandle, mine) || ps::GetFileStatus(name, true, other))
        return false;
    return mine.device == other.device && mine.inode == other.inode;
}

// --- Long-path rule and wrappers ------------------------------------------

QString MakeExtendedPath(const QString& Path)
{
    const QString bs2 = QStringLiteral("\\\\");
    if (Path.startsWith(bs2)) {
        if (Path.mid(2, 2) == QStringLiteral("?\\"))
            return Path;
        return QStringLiteral("\\\\?\\UNC\\") + Path.mid(2);
    }
    if (Path.size() > 1 && Path[1] != QLatin1Char(':'))
        return Path;
    if (Path.size() >= 248)
        return QStringLiteral("\\\\?\\") + Path;
    return Path;
}

QString SystemPathXL(const QString& Path)
{
    return ps::UsesExtendedPaths() ? MakeExtendedPath(Path) : Path;
}

namespace {

int AttributesOf(const ps::FileStatus& st)
{
    int attr = st.isDirectory ? faDirectory : faArchive;
    if (st.isSymLink)
        attr |= faReparsePoint;
    else if ((st.mode & 0222) == 0)
        attr |= faReadOnly;
    return attr;
}

TFileTime NsToFileTime(qint64 ns)
{
    return UnixNsToFileTime(ns);
}

void FillAttributeData(const ps::FileStatus& st, TFileAttributeData& data)
{
    data.FileAttributes = AttributesOf(st);
    data.LastWriteTime = NsToFileTime(st.modificationTime);
    data.LastAccessTime = NsToFileTime(st.accessTime);
    // Without a birth time the modification time is the best guess.
    data.CreationTime = st.hasBirthTime ? NsToFileTime(st.birthTime) : data.LastWriteTime;
    data.FileSize = st.isDirectory ? 0 : st.size;
}

bool SameFile(const QString& a, const QString& b)
{
    if (a == b)
        return true;
    ps::FileStatus sa, sb;
    if (ps::GetFileStatus(a, true, sa) || ps::GetFileStatus(b, true, sb))
        return false;
    return sa.device == sb.device && sa.inode == sb.inode;
}

} // namespace

namespace {

QString WithoutTrailingDelimiters(QString path)
{
    while (path.size() > 1 && path.endsWith(PathDelimiter()))
        path.chop(1);
    return path;
}

} // namespace

QString FileNamePart(const QString& Path)
{
    return ExtractFileName(WithoutTrailingDelimiters(Path));
}

bool ForceDirectoriesXL(const QString& Dir)
{
    const QString dir = WithoutTrailingDelimiters(SystemPathXL(Dir));
    if (dir.isEmpty())
        return false;
    if (DirectoryExistsXL(dir))
        return true;
    const QString parent = WithoutTrailingDelimiters(ExtractFilePath(dir));
    if (!parent.isEmpty() && parent != dir && !ForceDirectoriesXL(parent))
        return false;
    const int err = ps::CreateDirectory(dir);
    return err == 0 || (err == ps::kErrExists && DirectoryExistsXL(dir));
}

bool DirectoryExistsXL(const QString& Dir, bool FollowLink)
{
    ps::FileStatus st;
    return ps::GetFileStatus(SystemPathXL(Dir), FollowLink, st) == 0 && st.isDirectory;
}

bool FileExistsXL(const QString& Name, bool FollowLink)
{
    ps::FileStatus st;
    return ps::GetFileStatus(SystemPathXL(Name), FollowLink, st) == 0 && !st.isDirectory;
}

int DeleteFileXL(const QString& Name, bool ClearReadOnly)
{
    const QString name = SystemPathXL(Name);
    if (ClearReadOnly) {
        if (const int err = ChangeAttributesXL(name, faReadOnly, true, false))
            return err;
    }
    return ps::RemoveFile(name);
}

int DeleteExistingFileXL(const QString& Name, bool ClearReadOnly)
{
    if (!FileExistsXL(Name, false))
        return 0;
    return DeleteFileXL(Name, ClearReadOnly);
}

int RenameFileXL(const QString& OldName, const QString& NewName)
{
    return ps::RenameNoReplace(SystemPathXL(OldName), SystemPathXL(NewName));
}

bool FindFileXL(const QString& Name, TFileAttributeData& FindData)
{
    FindData = TFileAttributeData();
    ps::FileStatus st;
    if (ps::GetFileStatus(SystemPathXL(Name), false, st) || st.isDirectory)
        return false;
    FillAttributeData(st, FindData);
    return true;
}

int FileGetAttrXL(const QString& Name, bool FollowLink)
{
    ps::FileStatus st;
    if (ps::GetFileStatus(SystemPathXL(Name), FollowLink, st))
        return -1;
    return AttributesOf(st);
}

int FileSetAttrXL(const QString& Name, int Attr, bool FollowLink)
{
    const QString name = SystemPathXL(Name);
    Attr &= faSettable;
    ps::FileStatus st;
    if (const int err = ps::GetFileStatus(name, FollowLink, st))
        return err;
    if (st.isSymLink)
        return 0; // a link has no permission bits of its own
    unsigned mode = st.mode;
    if (Attr & faReadOnly)
        mode &= ~0222u;
    else if ((mode & 0222) == 0)
        mode |= 0200; // writable again, for the owner
    if (mode == st.mode)
        return 0;
    return ps::SetFileMode(name, mode, FollowLink);
}

int ChangeAttributesXL(const QString& Name, int Attr, bool Clear, bool FollowLink)
{
    const int old = FileGetAttrXL(Name, FollowLink);
    if (old == -1)
        return ps::kErrNotFound;
    const int value = Clear ? (old & ~Attr) : (old | Attr);
    if (value == old)
        return 0;
    return FileSetAttrXL(Name, value, FollowLink);
}

// --- Times ------------------------------------------------------------------

namespace {

// 9999-12-31 23:59:59.9999999 UTC, the last time a date-time can hold.
constexpr TFileTime kMaxFileTime = 2650467743999999999LL;

} // namespace

TFileTime UnixNsToFileTime(qint64 ns)
{
    qint64 ticks = ns / 100;
    if (ns % 100 < 0)
        --ticks;
    return ticks + kUnixEpochFileTime;
}

qint64 FileTimeToUnixNs(TFileTime ft)
{
    return (ft - kUnixEpochFileTime) * 100;
}

TFileTime CurrentFileTime()
{
    return DateTimeToFileTime(QDateTime::currentDateTimeUtc());
}

TFileTime DateTimeToFileTime(const QDateTime& dt)
{
    return dt.toMSecsSinceEpoch() * 10000 + kUnixEpochFileTime;
}

bool FileTimeToDateTime(TFileTime ft, QDateTime& dt)
{
    if (ft < 0 || ft > kMaxFileTime) {
        dt = QDateTime::currentDateTimeUtc();
        return false;
    }
    qint64 ms = (ft - kUnixEpochFileTime) / 10000;
    if ((ft - kUnixEpochFileTime) % 10000 < 0)
        --ms;
    dt = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    return true;
}

qint64 FileTimeToUnixTime(TFileTime FileTime)
{
    constexpr qint64 kTicksPerSecond = 10000000;
    const qint64 d = FileTime - kUnixEpochFileTime;
    qint64 q = d / kTicksPerSecond;
    qint64 r = d % kTicksPerSecond;
    if (r < 0) {
        r += kTicksPerSecond;
        --q;
    }
    if (2 * r > kTicksPerSecond || (2 * r == kTicksPerSecond && (q & 1)))
        ++q;
    return q;
}

qint32 FileTimeToDosTime(TFileTime FileTime)
{
    QDateTime dt;
    if (!FileTimeToDateTime(FileTime, dt))
        return -1;
    const QDateTime local = dt.toLocalTime();
    const QDate d = local.date();
    const QTime t = local.time();
    if (d.year() < 1980 || d.year() > 2107)
        return -1;
    const quint32 date = quint32(((d.year() - 1980) << 9) | (d.month() << 5) | d.day());
    const quint32 time = quint32((t.hour() << 11) | (t.minute() << 5) | (t.second() / 2));
    return qint32((date << 16) | time);
}

qint32 GetDirDosTime(const QString& Dir)
{
    ps::FileStatus st;
    if (ps::GetFileStatus(SystemPathXL(Dir), true, st) || !st.isDirectory)
        return -1;
    return FileTimeToDosTime(UnixNsToFileTime(st.modificationTime));
}

TFileTime CheckedFileTime(TFileTime ft)
{
    QDateTime dt;
    const TFileTime now = CurrentFileTime();
    if (!FileTimeToDateTime(ft, dt) || ft > now + kFileTimeTicksPerDay)
        return now;
    return ft;
}

int GetFileTimestampsInfo(const QString& Name, TFileAttributeData& AttributeData, bool FollowLink)
{
    AttributeData = TFileAttributeData();
    ps::FileStatus st;
    if (const int err = ps::GetFileStatus(Name, false, st))
        return err;
    if (st.isSymLink && FollowLink) {
        QString target;
        if (GetReparseTarget(Name, target)) {
            if (const int err = ps::GetFileStatus(target, false, st))
                return err;
        }
    }
    FillAttributeData(st, AttributeData);
    return 0;
}

TFileTime GetFileModTime(const QString& Name)
{
    TFileAttributeData data;
    if (GetFileTimestampsInfo(Name, data, true))
        return 0;
    return data.LastWriteTime;
}

bool GetFileDataInfo(const QString& Path, TFileData& FileData)
{
    // The size and times of the data that a copy will read, so links are
    // followed.
    ps::FileStatus st;
    if (ps::GetFileStatus(Path, true, st))
        return false;
    TFileAttributeData data;
    FillAttributeData(st, data);
    FileData.FileName = FileNamePart(Path);
    FileData.FileSize = data.FileSize;
    FileData.FileAttr = data.FileAttributes;
    FileData.TimeStamps.Valid = true;
    FileData.TimeStamps.CreationTime = data.CreationTime;
    FileData.TimeStamps.LastAccessTime = data.LastAccessTime;
    FileData.TimeStamps.LastWriteTime = data.LastWriteTime;
    return true;
}

int SetFileModTime(const QString& Name, TFileTime FileTime, bool CheckTime)
{
    if (CheckTime)
        FileTime = CheckedFileTime(FileTime);
    return ps::SetFileTimes(Name, std::nullopt, FileTimeToUnixNs(FileTime), true);
}

int SetFileTimestamps(const QString& Name, const TFileTimestamps& Timestamps, bool CheckTime, bool FollowLink,
    bool CopyCreationTime)
{
    TFileTime access = Timestamps.LastAccessTime;
    TFileTime write = Timestamps.LastWriteTime;
    if (!Timestamps.Valid) {
        access = write = CurrentFileTime();
    } else if (CheckTime) {
        access = CheckedFileTime(access);
        write = CheckedFileTime(write);
    }
    // The creation time cannot be set on Linux; with CopyCreationTime the
    // access time is written as well.
    std::optional<qint64> a;
    if (CopyCreationTime)
        a = FileTimeToUnixNs(access);
    return ps::SetFileTimes(Name, a, FileTimeToUnixNs(write), FollowLink);
}

bool GetReparseTarget(const QString& Name, QString& Target)
{
    return ps::ResolveLink(Name, Target) == 0;
}

bool GetFinalFileName(int Handle, QString& Name)
{
    return ps::GetOpenFilePath(Handle, Name) == 0;
}

// --- Whole-file operations ----------------------------------------------------

int CreateUtf8TextFile(const QString& Name)
{
    int err = 0;
    auto f = TExtFileStream::Open(SystemPathXL(Name), fmCreate, err);
    if (!f)
        return err;
    static const char bom[3] = {char(0xEF), char(0xBB), char(0xBF)};
    err = f->WriteAll(bom, 3);
    const int closeErr = f->Close();
    return err ? err : closeErr;
}

namespace {

// Copies the rest of source into dest: inside the system when it can,
// through buffer otherwise. readErr / writeErr tell which side failed.
void CopyRest(
    TExtFileStream& source, TExtFileStream& dest, std::vector<char>& buffer, int& readErr, int& writeErr)
{
    readErr = writeErr = 0;
    const qint64 bufSize = qint64(buffer.size());
    bool inSystem = true;
    for (;;) {
        if (inSystem) {
            qint64 done = 0;
            const int err = dest.CopyFrom(source, bufSize, done);
            if (err == 0) {
                if (done < bufSize)
                    return;
                continue;
            }
            if (ps::IsDiskFull(err)) {
                writeErr = err;
                return;
            }
            // Not possible for these files, or a failure that reading and
            // writing separately will attribute to its side.
            inSystem = false;
        }
        qint64 got = 0;
        if (const int err = source.Read(buffer.data(), bufSize, got)) {
            readErr = err;
            return;
        }
        if (got > 0) {
            if (const int err = dest.WriteAll(buffer.data(), got)) {
                writeErr = err;
                return;
            }
        }
        if (got < bufSize)
            return;
    }
}

} // namespace

namespace {

// A copy's destination: owner-only while it is written; a symbolic link at
// the name is replaced, never written through.
std::unique_ptr<TExtFileStream> CreateCopyDestination(const QString& name, int& err)
{
    return TExtFileStream::Open(name, fmCreate | fmReplaceLink, err, kFlagSequentialScan, kOwnerOnly);
}

// The copy takes the permission bits its source grants, never more.
int TakeSourceMode(const TExtFileStream& source, TExtFileStream& dest)
{
    unsigned mode = kOwnerOnly;
    if (const int err = source.AccessMode(mode))
        return err;
    return dest.SetMode(mode);
}

} // namespace

void CopyFileExt(const QString& Source, const QString& Dest, int Attr, int BufferSize)
{
    const QString src = SystemPathXL(Source);
    const QString dst = SystemPathXL(Dest);
    if (SameFile(src, dst))
        return;
    auto fail = [](const char* pattern, const QString& name, int code) {
        return ECopyError(SafeFormat(TrU(pattern), {name}), code);
    };
    if (!FileExistsXL(src) || Dest.isEmpty())
        throw fail(N_("File not found: \"%s\""), Source, ps::kErrNotFound);
    std::vector<char> buffer(size_t(qMax(BufferSize, 4096)));
    const TFileTime modTime = GetFileModTime(src);
    if (Attr < 0)
        Attr = FileGetAttrXL(src);
    int err = 0;
    auto source = TExtFileStream::Open(src, fmOpenRead | fmShareDenyNone, err, kFlagSequentialScan);
    if (!source)
        throw fail(N_("Error opening \"%s\""), Source, err);
    if (FileExistsXL(dst, false)) {
        if ((err = FileSetAttrXL(dst, faArchive, false)))
            throw fail(N_("Error creating \"%s\""), Dest, err);
    }
    auto dest = CreateCopyDestination(dst, err);
    if (!dest)
        throw fail(N_("Error creating \"%s\""), Dest, err);
    int readErr = 0, writeErr = 0;
    CopyRest(*source, *dest, buffer, readErr, writeErr);
    if (readErr)
        throw fail(N_("Error reading from \"%s\""), Source, readErr);
    if (writeErr)
        throw fail(N_("Error writing to \"%s\""), Dest, writeErr);
    if ((err = TakeSourceMode(*source, *dest)))
        throw fail(N_("Error setting attributes of \"%s\""), Dest, err);
    source.reset();
    if ((err = dest->Close()))
        throw fail(N_("Error writing to \"%s\""), Dest, err);
    if ((err = SetFileModTime(dst, modTime, true)))
        throw fail(N_("Error setting timestamps of \"%s\""), Dest, err);
    if (Attr >= 0 && (err = FileSetAttrXL(dst, Attr, false)))
        throw fail(N_("Error setting attributes of \"%s\""), Dest, err);
}

int CopyFileContent(const QString& Source, const QString& Dest, int BufferSize)
{
    if (SameFile(Source, Dest))
        return 0;
    int err = 0;
    auto source = TExtFileStream::Open(Source, fmOpenRead | fmShareDenyNone, err, kFlagSequentialScan);
    if (!source)
        return err;
    auto dest = CreateCopyDestination(Dest, err);
    if (!dest)
        return err;
    std::vector<char> buffer(size_t(qMax(BufferSize, 4096)));
    int readErr = 0, writeErr = 0;
    CopyRest(*source, *dest, buffer, readErr, writeErr);
    const int modeErr = readErr || writeErr ? 0 : TakeSourceMode(*source, *dest);
    const int closeErr = dest->Close();
    if (readErr)
        return readErr;
    if (writeErr)
        return writeErr;
    return modeErr ? modeErr : closeErr;
}

int CopyAlternateStreams(const QString& Source, const QString& Dest)
{
    return ps::CopyUserAttributes(Source, Dest);
}

int CopyFileSecurity(const QString& Source, const QString& Dest)
{
    return ps::CopyAccessControl(Source, Dest);
}

int ReadFileSummary(const QString& Name, TFileSummary& Summary)
{
    Q_UNUSED(Name);
    Summary.clear();
    return 0;
}

int WriteFileSummary(const QString& Name, const TFileSummary& Summary)
{
    Q_UNUSED(Name);
    Q_UNUSED(Summary);
    return 0;
}

// --- System texts ---------------------------------------------------------------

QString SysErrorMessage(int Code)
{
    return ps::ErrorDescription(Code);
}

QString SysErrorText(int Code)
{
    const QString text = SysErrorMessage(Code);
    if (text.isEmpty())
        return U_("Error code") + SafeFormat(QStringLiteral(" = 0x%.8x"), {Code});
    return text + SafeFormat(QStringLiteral(" (0x%.8x)"), {Code});
}

QString SystemErrorText(int Code)
{
    return SafeFormat(U_("System error: %s"), {SysErrorText(Code)});
}

} // namespace kes
