#include "fileengine/ZipWrite.h"

#include "fileengine/CopyErrors.h"
#include "fileengine/NameCodec.h"
#include "fileengine/TestSeam.h"
#include "frame/Format.h"
#include "frame/I18n.h"
#include "platform/FileSystem.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kes {

namespace ps = platform;

namespace {

constexpr quint32 kSpanMarker = 0x08074B50;
// The marker of an archive that was to be split but fits one part.
constexpr quint32 kSingleSpanMarker = 0x30304B50;
constexpr qint64 kDefaultBufferSize = 0x80000;
constexpr int kNameExtraId = 0x9909;

int NumberOf(int result)
{
    return ErrorNumber(result);
}

// A result with the error severity unless it has one (or is a cancel).
int AsError(int result)
{
    if (result == ceUserBreak || ErrorSeverity(result) != 0)
        return result & 0xFFF;
    return kSeverityError + ErrorNumber(result);
}

} // namespace

// --- EZipError --------------------------------------------------------------

EZipError::EZipError(const QString& ErrString, int ErrCode, const QString& ASysErrMsg)
    : FMsg(ErrString)
    , FUtf8(ErrString.toUtf8())
    , FZipError((ErrCode & 0xFFF) | kOpZip)
    , FSysErrMsg(ASysErrMsg)
{
}

// --- Names ------------------------------------------------------------------

QString ZipSegmentName(const QString& ZipName, int n)
{
    const QFileInfo fi(ZipName);
    const QString suffix = fi.suffix();
    QString base = ZipName;
    if (!suffix.isEmpty() && !fi.fileName().startsWith(u'.'))
        base.chop(suffix.size() + 1);
    return base + QStringLiteral(".z%1").arg(n, 2, 10, QLatin1Char('0'));
}

QStringList ZipPartNames(const QString& ZipName)
{
    QStringList parts;
    for (int n = 1; n < 0xFFFF; ++n) {
        const QString name = ZipSegmentName(ZipName, n);
        if (!FileExistsXL(name))
            break;
        parts << name;
    }
    parts << ZipName;
    return parts;
}

bool SafeZipEntryName(const QString& Name, QString& Stored)
{
    Stored.clear();
    QString n = Name;
    n.replace(u'\\', u'/');
    // Absolute names, drive names and names that climb out of the folder
    // they are extracted to.
    if (n.startsWith(u'/') || (n.size() >= 2 && n[1] == u':'))
        return false;
    QStringList kept;
    for (const QString& part : n.split(u'/', Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String(".."))
            return false;
        kept << part;
    }
    if (kept.isEmpty())
        return false;
    Stored = kept.join(u'/');
    return true;
}

// --- TZipWorker ---------------------------------------------------------------

TZipWorker::TZipWorker(TJob AJob, int ABufSize, bool ASpeedLimit, QThread::Priority APriority)
    : TEngineThread(APriority)
    , FJob(std::move(AJob))
    , FBuffer(size_t(ABufSize > 0 ? ABufSize : kDefaultBufferSize))
    , FSpeedLimit(ASpeedLimit)
{
}

TZipWorker::~TZipWorker()
{
    StopAndWait();
}

bool TZipWorker::Done() const
{
    if (FOnProgress)
        DeliverWaitingCall();
    return Finished();
}

QString TZipWorker::SysErrorMsg() const
{
    if (FSysErrMsg.isEmpty() && FSysError != 0)
        return SystemErrorText(FSysError);
    return FSysErrMsg;
}

void TZipWorker::RunInline()
{
    FInline = true;
    FError = FJob(*this);
    SetFinished();
}

void TZipWorker::Progress(TFileAction action, bool speedLimit, qint64 count)
{
    if (!FOnProgress)
        return;
    if (FInline) {
        FOnProgress(action, speedLimit || FSpeedLimit, count);
        return;
    }
    // A phase's announcement always reaches the handler; the running counts
    // at most every 50 ms, as each call waits for the creating thread.
    static thread_local std::chrono::steady_clock::time_point last;
    const auto now = std::chrono::steady_clock::now();
    if (count >= 0 && now - last < std::chrono::milliseconds(50))
        return;
    last = now;
    CallInCreator([&] { FOnProgress(action, speedLimit || FSpeedLimit, count); });
}

bool TZipWorker::SetSysError(int code)
{
    if (code != 0)
        FSysError = code;
    return code != 0;
}

void TZipWorker::run()
{
    const int result = FJob(*this);
    // The thread may wait here until the owner goes: its crypto library
    // state is given back now, not only at the thread's end.
    ReleaseThreadCryptoState();
    FEvent.Wait();
    FError = result;
    SetFinished();
}

// --- TZipPartsStream ---------------------------------------------------------

int TZipPartsStream::Open(const QStringList& names)
{
    FParts.clear();
    FStarts.clear();
    FSize = 0;
    for (const QString& name : names) {
        int err = 0;
        auto part = TExtFileStream::Open(SystemPathXL(name), fmOpenRead, err);
        if (!part)
            return err ? err : ps::kErrIO;
        const qint64 size = part->Size();
        if (size < 0)
            return ps::kErrIO;
        FStarts.push_back(FSize);
        FSize += size;
        FParts.push_back(std::move(part));
    }
    FPos = 0;
    return 0;
}

int TZipPartsStream::Read(void* buffer, qint64 count, qint64& done)
{
    done = 0;
    auto* out = static_cast<char*>(buffer);
    while (count > 0 && FPos < FSize) {
        // The part that holds the position: the last one starting at or
        // before it.
        size_t i = size_t(std::upper_bound(FStarts.begin(), FStarts.end(), FPos) - FStarts.begin()) - 1;
        const qint64 partEnd = i + 1 < FStarts.size() ? FStarts[i + 1] : FSize;
        if (partEnd == FStarts[i])
            continue; // an empty part is never chosen: upper_bound skips it
        const qint64 want = qMin(count, partEnd - FPos);
        qint64 got = 0;
        int err = FParts[i]->Seek(FPos - FStarts[i]);
        if (!err)
            err = FParts[i]->Read(out, want, got);
        if (err) {
            done = -1;
            return err;
        }
        if (got <= 0)
            break;
        out += got;
        done += got;
        count -= got;
        FPos += got;
    }
    return 0;
}

int TZipPartsStream::Write(const void*, qint64, qint64& done)
{
    done = -1;
    return ps::kErrInvalid;
}

int TZipPartsStream::Seek(qint64 position)
{
    if (position < 0)
        return ps::kErrInvalid;
    FPos = position;
    return 0;
}

int TZipPartsStream::Truncate()
{
    return ps::kErrInvalid;
}

// --- Verification -----------------------------------------------------------

int VerifyZipArchiveEntry(TZipWorker& host, TEncryption* crypt, TStream& archive,
    const std::vector<qint64>& starts, const TZipCentralInfo& entry)
{
    auto fail = [&](const QString& why) {
        host.SetErrorMessage(why);
        return ceVerification;
    };
    if (entry.Disk >= starts.size())
        return fail(U_("The entry lies in a part that does not exist"));
    TWindowStream view(archive, starts[entry.Disk] + entry.Offset);
    TZipLocalInfo local;
    QString message;
    if (ReadZipLocalHeader(view, local, message) != 0)
        return fail(message);
    const bool descriptor = (local.Flags & 0x0008) != 0;
    if (local.StoredName != entry.StoredName || local.Method != entry.Method
        || (!descriptor
            && (local.Crc != entry.Crc || local.CSize != entry.CSize || local.USize != entry.USize)))
        return fail(U_("The local header does not match the central directory"));
    if (local.DataOffset + entry.CSize > view.Size())
        return fail(U_("Unexpected end of file"));
    if (entry.CSize == 0 && entry.USize == 0 && !local.Encrypted())
        return 0;
    TBlockPump pump = host.Pump();
    if (local.Encrypted()) {
        if (!crypt)
            return fail(U_("The data are encrypted and no password was given"));
        host.Progress(acVerify, host.SpeedLimit(), -entry.CSize);
        crypt->SetKeyMode(local.KeyMode);
        return TCryptStep(host, *crypt).Verify(view, entry.CSize);
    }
    host.Progress(acVerify, host.SpeedLimit(), -entry.USize);
    int result = 0;
    if (entry.Method == 8)
        result = pump.Inflate(view, entry.CSize, entry.USize, true);
    else if (entry.Method == 0)
        result = entry.CSize == entry.USize ? pump.ReadStored(view, entry.CSize) : ceVerification;
    else
        return fail(U_("The entry's compression method is not supported"));
    if (result == 0 && (pump.Crc() != entry.Crc || pump.Total() != entry.USize))
        return fail(U_("CRC or size of the data differ"));
    return result;
}

// --- TZipWrite ----------------------------------------------------------------

TZipWrite::TZipWrite(const QString& ZipName, const QString& BasicDirectory, const QByteArray& Password,
    int AKeyMode, int ABufSize)
{
    Init(ZipName, BasicDirectory, 0, Password, AKeyMode, ABufSize);
}

TZipWrite::TZipWrite(const QString& ZipName, const QString& BasicDirectory, qint64 AMaxSize,
    const QByteArray& Password, int AKeyMode, int ABufSize)
{
    Init(ZipName, BasicDirectory, AMaxSize, Password, AKeyMode, ABufSize);
}

TZipWrite::~TZipWrite()
{
    FPassword.fill('\0');
    if (!FFinished && FStream) {
        // Never finished: nothing of it is left looking like an archive.
        try {
            DeleteZipFile();
        } catch (const EZipError&) {
        }
    }
}

void TZipWrite::Init(const QString& ZipName, const QString& BasicDirectory, qint64 AMaxSize,
    const QByteArray& Password, int AKeyMode, int ABufSize)
{
    FZName = ZipName;
    SetDirectory(BasicDirectory);
    FBufferSize = ABufSize <= 0 ? kDefaultBufferSize : ABufSize;
    FTempDir = QDir::tempPath();
    FDeflateThreads = qBound(1, QThread::idealThreadCount(), 4);
    FMaxSize = qMax<qint64>(0, AMaxSize);
    const QString what = U_("Error creating \"%s\"");
    if (FMaxSize > 0 && FMaxSize < kMinSegmentSize)
        Fail(what, ZipName, ceCreateFile, 0,
            SafeFormat(U_("A segment must hold at least %d bytes"), {qint64(kMinSegmentSize)}));
    int err = 0;
    FStream = TExtFileStream::Open(SystemPathXL(ZipName), fmCreate, err);
    if (!FStream)
        Fail(what, ZipName, ceCreateFile, err, SystemErrorText(err));
    if (!Password.isEmpty()) {
        FEncryption = std::make_unique<TEncryption>(Password, AKeyMode, int(FBufferSize));
        FPassword = Password;
        FPassword.detach();
    }
    if (FMaxSize > 0) {
        unsigned char marker[4];
        PutLe(marker, kSpanMarker, 4);
        if (const int werr = FStream->WriteAll(marker, 4)) {
            FStream.reset();
            DeleteFileXL(ZipName);
            Fail(what, ZipName, ceCreateFile, werr, SystemErrorText(werr));
        }
    }
}

void TZipWrite::SetDirectory(const QString& v)
{
    FBaseDir = v;
    if (!FBaseDir.isEmpty() && !FBaseDir.endsWith(u'/'))
        FBaseDir += u'/';
}

qint64 TZipWrite::FilePosition() const
{
    return FStream ? FStream->Position() : 0;
}

void TZipWrite::Fail(
    const QString& pattern, const QString& arg, int number, int sysError, const QString& sysMsg)
{
    EZipError e(SafeFormat(pattern, {arg}), number, sysMsg);
    e.SetSysError(sysError);
    throw e;
}

int TZipWrite::RunWorker(TZipWorker& worker, const TFileProgressEvent& progress, bool inlineJob)
{
    ZipThread = &worker;
    worker.SetOnProgress(progress);
    FCanceled = false;
    if (inlineJob) {
        worker.RunInline();
        ZipThread = nullptr;
        return worker.ErrorCode();
    }
    worker.Start();
    const bool inMainThread
        = QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
    while (!worker.Done()) {
        // The loop keeps windows painted; user input waits, so that nothing
        // starts a second operation on this archive meanwhile.
        if (inMainThread)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (FOnTimeout && FOnTimeout()) {
            // The worker writes into this archive: it is stopped, not left
            // running.
            Cancel();
        }
        worker.wait(QDeadlineTimer(10));
    }
    ZipThread = nullptr;
    return worker.ErrorCode();
}

void TZipWrite::Suspend()
{
    if (ZipThread)
        ZipThread->SetPaused(true);
}

void TZipWrite::Resume()
{
    if (ZipThread)
        ZipThread->SetPaused(false);
}

void TZipWrite::Cancel()
{
    if (ZipThread) {
        ZipThread->SetPaused(false);
        ZipThread->CancelThread();
    }
    FCanceled = true;
}

bool TZipWrite::MakeName(const QString& Stored, TZipEntry& e)
{
    const bool dir = Stored.endsWith(u'/');
    if (FEncNames && FEncryption) {
        // The real name travels encrypted in an extra field: its length
        // (2 bytes), the name, filler up to 31 bytes for short names.
        bool utf8 = false;
        const QByteArray name = ZipStoredName(Stored, utf8);
        QByteArray plain(2, '\0');
        PutLe(reinterpret_cast<unsigned char*>(plain.data()), quint64(name.size()), 2);
        plain += name;
        QRandomGenerator* rng = QRandomGenerator::system();
        while (plain.size() < 2 + 31)
            plain += char(33 + rng->bounded(64));
        TMemoryStream in(plain), out;
        if (!FEncryption->EncryptStream(in, out, false))
            return false;
        if (out.Size() + 4 > 0xFFFF)
            return false;
        QByteArray extra(4, '\0');
        PutLe(reinterpret_cast<unsigned char*>(extra.data()), kNameExtraId, 2);
        PutLe(reinterpret_cast<unsigned char*>(extra.data()) + 2, quint64(out.Size()), 2);
        extra += out.Data();
        e.ExtraFields = extra;
        e.ExtraFlags |= 0x0100;
        e.Utf8 = false;
        e.Name = QByteArray::number(qulonglong(FFileList.size() + 1), 16).toUpper().rightJustified(8, '0');
        if (dir)
            e.Name += '/';
        return true;
    }
    e.Name = ZipStoredName(Stored, e.Utf8);
    return e.Name.size() <= 0xFFFF;
}

int TZipWrite::Reserve(qint64 count)
{
    if (FMaxSize <= 0 || FStream->Position() + count <= FMaxSize)
        return 0;
    return NewSegment();
}

int TZipWrite::NewSegment()
{
    if (FMaxSize <= 0)
        return 0;
    // Drives with letters do not exist here: the free-space question of
    // OnFullDisk is never asked; a full disk fails the write itself.
    int err = FStream->Close();
    FStream.reset();
    const QString segment = ZipSegmentName(FZName, int(FCurSeg) + 1);
    if (!err) {
        DeleteExistingFileXL(SystemPathXL(segment));
        err = RenameFileXL(SystemPathXL(FZName), SystemPathXL(segment));
    }
    if (!err)
        FStream = TExtFileStream::Open(SystemPathXL(FZName), fmCreate, err);
    if (!FStream) {
        // Whatever was written stays reachable for DeleteZipFile.
        int reopen = 0;
        FStream = TExtFileStream::Open(SystemPathXL(FZName), fmCreate, reopen);
        return kSeverityError + enNewSegment;
    }
    ++FCurSeg;
    FNumSeg = int(FCurSeg) + 1;
    return 0;
}

int TZipWrite::WriteSpanned(ICopyStepHost& host, TStream& source, qint64 count)
{
    std::vector<char> buffer(size_t(qMin<qint64>(FBufferSize, qMax<qint64>(count, 1))));
    qint64 done = 0;
    bool announced = false;
    while (count > 0) {
        host.WaitIfPaused();
        if (host.Cancelled())
            return ceUserBreak;
        qint64 room = FMaxSize - FStream->Position();
        if (room <= 0) {
            if (const int r = NewSegment())
                return r;
            room = FMaxSize - FStream->Position();
            host.Progress(acSegmentCopy, SpeedLimit(), -qMin(count, FMaxSize));
            announced = true;
        } else if (!announced) {
            host.Progress(acZipCopy, SpeedLimit(), -qMin(count, room));
            announced = true;
        }
        const qint64 want = std::min({room, count, qint64(buffer.size())});
        if (const int err = source.ReadExact(buffer.data(), want)) {
            if (err > 0)
                host.SetSysError(err);
            return ceReadFile;
        }
        if (const int err = FStream->WriteAll(buffer.data(), want))
            return host.WriteFailure(err);
        count -= want;
        done += want;
        host.Progress(acZipCopy, SpeedLimit(), done);
    }
    return 0;
}

void TZipWrite::TruncateTo(quint32 segment, qint64 offset)
{
    if (!FStream)
        return;
    // Segments begun since are taken back: the part of the entry's start
    // becomes the archive file again.
    while (FCurSeg > segment) {
        FStream.reset();
        DeleteFileXL(SystemPathXL(FZName));
        const QString previous = ZipSegmentName(FZName, int(FCurSeg));
        RenameFileXL(SystemPathXL(previous), SystemPathXL(FZName));
        int err = 0;
        FStream = TExtFileStream::Open(SystemPathXL(FZName), fmOpenReadWrite, err);
        --FCurSeg;
        FNumSeg = int(FCurSeg) + 1;
        if (!FStream)
            return;
    }
    if (FStream->Seek(offset) == 0)
        FStream->Truncate();
}

void TZipWrite::AddFile(const QString& SourceName, bool ACompress)
{
    AddFile(SourceName, QString(), ACompress, nullptr);
}

void TZipWrite::AddFile(const QString& SourceName, const QString& FileName, bool ACompress, int* ARatio)
{
    QString stored = FileName;
    if (stored.isEmpty()) {
        stored = SourceName;
        if (!FBaseDir.isEmpty() && stored.startsWith(FBaseDir))
            stored = stored.mid(FBaseDir.size());
        else if (!FBaseDir.isEmpty())
            stored = QDir(FBaseDir).relativeFilePath(SourceName);
    }
    AddFileCore(SourceName, stored, ACompress, ARatio);
}

void TZipWrite::AddFileFrom(const QString& SourceName, const QString& FilePath, int* ARatio, bool ACompress)
{
    QString stored = FilePath;
    if (!FBaseDir.isEmpty() && stored.startsWith(FBaseDir))
        stored = stored.mid(FBaseDir.size());
    AddFileCore(SourceName, stored, ACompress, ARatio);
}

namespace {

// Where the data of an entry come from while its worker runs.
struct TEntrySource {
    TStream* Stream = nullptr;
    qint64 Size = 0;
};

} // namespace

void TZipWrite::AddFileCore(const QString& SourceName, const QString& StoredName, bool ACompress, int* ARatio)
{
    const QString what = U_("Error adding file to \"%s\"");
    if (ARatio)
        *ARatio = -1;
    QString stored;
    if (!SafeZipEntryName(StoredName, stored))
        Fail(what, FZName, kSeverityError + enIllegalHeader, 0,
            SafeFormat(
                U_("The entry name \"%s\" would lie outside the folder it is extracted to"), {StoredName}));
    TFileData fd;
    if (!GetFileDataInfo(SystemPathXL(SourceName), fd)) {
        const int err = ps::LastError();
        if (!FileExistsXL(SystemPathXL(SourceName)))
            Fail(what, FZName, ceFileNotFound, ps::kErrNotFound, SystemErrorText(ps::kErrNotFound));
        Fail(what, FZName, ceReadFile, err, SystemErrorText(err));
    }
    if (fd.FileAttr & faDirectory)
        Fail(what, FZName, ceReadFile, ps::kErrIsDirectory, SystemErrorText(ps::kErrIsDirectory));
    int err = 0;
    auto source = TExtFileStream::Open(
        SystemPathXL(SourceName), fmOpenRead | fmShareDenyWrite, err, kFlagSequentialScan);
    if (!source) {
        if (err == ps::kErrNotFound)
            Fail(what, FZName, ceFileNotFound, err, SystemErrorText(err));
        Fail(what, FZName, ceReadFile, err, SystemErrorText(err));
    }
    TZipEntry e;
    const qint32 dos = FileTimeToDosTime(fd.TimeStamps.LastWriteTime);
    e.DosTime = dos == -1 ? 0x00210000u : quint32(dos);
    // The status read above followed links as well: its attributes are
    // the file's, no second look needed.
    e.ExternalAttr = quint32(fd.FileAttr & 0xFFFF);
    AddEntry(*source, fd.FileSize, stored, ACompress, e, what, ARatio);
}

void TZipWrite::AddStream(TStream& ASource, const QString& AName, bool ACompress)
{
    const QString what = U_("Error adding stream to \"%s\"");
    QString stored;
    if (!SafeZipEntryName(AName, stored))
        Fail(what, FZName, kSeverityError + enIllegalHeader, 0,
            SafeFormat(U_("The entry name \"%s\" would lie outside the folder it is extracted to"), {AName}));
    const qint64 size = ASource.Size();
    if (size < 0)
        Fail(what, FZName, ceReadFile, ps::kErrInvalid, SystemErrorText(ps::kErrInvalid));
    TZipEntry e;
    const qint32 dos = FileTimeToDosTime(CurrentFileTime());
    e.DosTime = dos == -1 ? 0x00210000u : quint32(dos);
    e.ExternalAttr = faArchive;
    AddEntry(ASource, size - ASource.Position(), stored, ACompress, e, what, nullptr);
}

void TZipWrite::AddEntry(TStream& source, qint64 size, const QString& stored, bool compress, TZipEntry e,
    const QString& what, int* ARatio)
{
    if (!FStream || FFinished)
        Fail(what, FZName, ceWriteFile, ps::kErrInvalid, U_("The archive is already closed"));
    e.Zip64 = quint64(size) > Zip64Limits().EntryThreshold;
    e.Encrypted = FEncryption != nullptr;
    e.Ae2 = e.Encrypted && size < 20;
    e.BaseFlags = 0;
    if (e.Encrypted) {
        e.KeyMode = FEncryption->KeyMode();
        e.Method = 99;
        e.InnerMethod = size > 0 ? 8 : 0;
    } else {
        e.Method = (compress && size > 0) ? 8 : 0;
    }
    if (!MakeName(stored, e))
        Fail(what, FZName, kSeverityError + enEncryption, 0, U_("The entry name could not be stored"));
    const bool deflate = size > 0 && (e.Method == 8 || e.Encrypted);
    const quint32 startSeg = FCurSeg;
    const qint64 startPos = FStream->Position();

    TZipWorker worker(
        [&](TZipWorker& host) -> int {
            TBlockPump pump = host.Pump();
            TEntryDataStep data(host, pump, FEncryption.get(), FLevel, FDeflateThreads, FTempDir);
            // Writes the data to dest; stored data go through the pump so
            // that their CRC is taken on the way.
            auto produce = [&](TStream& dest) -> int {
                if (deflate || e.Encrypted)
                    return data.Write(source, size, deflate, dest);
                host.Progress(acCopy, host.SpeedLimit(), -size);
                int r = pump.Copy(source, &dest, host.SpeedLimit(), size, false);
                if (r == 0) {
                    // The source grew: its size no longer says what was added.
                    char probe;
                    qint64 got = 0;
                    if (source.Read(&probe, 1, got) == 0 && got > 0) {
                        host.SetErrorMessage(U_("The size of the source changed while it was read"));
                        r = ceReadFile;
                    }
                }
                return r;
            };
            auto finish = [&](qint64 csize) {
                e.Crc = pump.Crc();
                e.USize = quint64(deflate || e.Encrypted ? data.SourceBytes() : pump.Total());
                e.CSize = quint64(csize);
            };
            QByteArray header = ZipLocalHeader(e);
            if (FMaxSize <= 0) {
                e.LocalOffset = quint64(FStream->Position());
                e.DiskStart = FCurSeg;
                if (const int err = FStream->WriteAll(header.constData(), header.size()))
                    return host.WriteFailure(err);
                const qint64 dataStart = FStream->Position();
                if (const int r = produce(*FStream))
                    return r;
                const qint64 end = FStream->Position();
                finish(end - dataStart);
                header = ZipLocalHeader(e);
                FillZipLocalHeader(header, e);
                int err = FStream->Seek(qint64(e.LocalOffset));
                if (!err)
                    err = FStream->WriteAll(header.constData(), header.size());
                if (!err)
                    err = FStream->Seek(end);
                return err ? host.WriteFailure(err) : 0;
            }
            // Split: the data are made first (memory, or a file without a
            // name in the temporary folder for large ones), then the header
            // with its final values, then the data across the segments.
            std::unique_ptr<TStream> temp;
            if (size > TEntryDataStep::kMemoryLimit) {
                int err = 0;
                auto f = TExtFileStream::OpenTemporary(SystemPathXL(FTempDir), err);
                if (!f) {
                    host.SetSysError(err);
                    return ceCreateFile;
                }
                temp = std::move(f);
            } else {
                temp = std::make_unique<TMemoryStream>();
            }
            if (const int r = produce(*temp))
                return r;
            finish(temp->Position());
            FillZipLocalHeader(header, e);
            if (const int r = Reserve(header.size()))
                return r;
            e.LocalOffset = quint64(FStream->Position());
            e.DiskStart = FCurSeg;
            if (const int err = FStream->WriteAll(header.constData(), header.size()))
                return host.WriteFailure(err);
            if (temp->Seek(0))
                return ceReadFile;
            return WriteSpanned(host, *temp, qint64(e.CSize));
        },
        int(qBound<qint64>(0x10000, size + 1, FBufferSize)), SpeedLimit(), FPriority);
    const int result = RunWorker(worker, FOnProgress, size <= kInlineEntrySize);
    if (result != 0) {
        const int word = AsError(result);
        const int number = NumberOf(word);
        if (number == enWriteFile || number == enLowDiskSpace)
            FErrorFlag = true;
        // Cut back even after a full disk: the room the entry took is given
        // back, and the archive can still be finished.
        TruncateTo(startSeg, startPos);
        QString message = worker.SysErrorMsg();
        Fail(what, FZName, word, worker.SysError(), message);
    }
    TestPausePoint("zip-entry-added");
    if (ARatio && e.Method == 8 && e.USize > 0) {
        const qint64 ratio = qint64((2000 * e.CSize + e.USize) / (2 * e.USize));
        *ARatio = ratio < 1000 ? int(ratio) : -1;
    }
    FFileList.push_back(e);
}

void TZipWrite::AddDir(const QString& DirName)
{
    const QString what = U_("Error adding directory to \"%s\"");
    if (!FStream || FFinished)
        Fail(what, FZName, ceWriteFile, ps::kErrInvalid, U_("The archive is already closed"));
    if (!DirectoryExistsXL(SystemPathXL(DirName)))
        Fail(what, FZName, ceFileNotFound, ps::kErrNotFound, SystemErrorText(ps::kErrNotFound));
    QString rel = DirName;
    if (!FBaseDir.isEmpty()) {
        QString dir = DirName;
        if (!dir.endsWith(u'/'))
            dir += u'/';
        if (dir == FBaseDir)
            return; // the base directory itself has no name in the archive
        rel = dir.startsWith(FBaseDir) ? dir.mid(FBaseDir.size()) : QDir(FBaseDir).relativeFilePath(DirName);
    }
    QString stored;
    if (!SafeZipEntryName(rel, stored))
        Fail(what, FZName, kSeverityError + enIllegalHeader, 0,
            SafeFormat(U_("The entry name \"%s\" would lie outside the folder it is extracted to"), {rel}));
    TZipEntry e;
    e.BaseFlags = 0;
    e.Method = 0;
    const qint32 dos = GetDirDosTime(SystemPathXL(DirName));
    e.DosTime = dos == -1 ? 0x00210000u : quint32(dos);
    e.ExternalAttr = faDirectory;
    if (!MakeName(stored + u'/', e))
        Fail(what, FZName, kSeverityError + enEncryption, 0, U_("The entry name could not be stored"));
    const QByteArray header = ZipLocalHeader(e);
    const quint32 startSeg = FCurSeg;
    const qint64 startPos = FStream->Position();
    int result = Reserve(header.size());
    int err = 0;
    if (result == 0) {
        e.LocalOffset = quint64(FStream->Position());
        e.DiskStart = FCurSeg;
        err = FStream->WriteAll(header.constData(), header.size());
        if (err)
            result = ps::IsDiskFull(err) ? ceLowDiskSpace : ceWriteFile;
    }
    if (result != 0) {
        FErrorFlag = true;
        TruncateTo(startSeg, startPos);
        Fail(what, FZName, result, err, err ? SystemErrorText(err) : QString());
    }
    FFileList.push_back(e);
}

QString TZipWrite::RemLastDir()
{
    if (FFileList.empty() || FFinished || !FStream)
        return {};
    const TZipEntry& last = FFileList.back();
    if (!last.Name.endsWith('/') || last.USize != 0 || last.CSize != 0)
        return {};
    const QString name = ZipNameFromStored(last.Name, last.Utf8);
    TruncateTo(last.DiskStart, qint64(last.LocalOffset));
    FFileList.pop_back();
    return name;
}

void TZipWrite::AddFiles(
    const QString& Directory, const QString& Filter, const QString& SubDir, int& Count, QStringList* ErrList)
{
    QStringList masks;
    for (const QString& m : Filter.split(u';', Qt::SkipEmptyParts))
        masks << m.trimmed();
    QDir dir(Directory);
    const QFileInfoList files
        = dir.entryInfoList(masks, QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    std::vector<TZipBatchItem> items;
    items.reserve(size_t(files.size()));
    for (const QFileInfo& fi : files)
        items.push_back({fi.filePath(), SubDir.isEmpty() ? fi.fileName() : SubDir + u'/' + fi.fileName()});
    // Every entry written counts, also when a cancel ends the batch.
    const size_t before = FFileList.size();
    struct TCount {
        int& Count;
        const std::vector<TZipEntry>& List;
        size_t Before;
        ~TCount() { Count += int(List.size() - Before); }
    } count {Count, FFileList, before};
    AddBatch(items, [ErrList](size_t, const EZipError& e) {
        if (ErrList)
            *ErrList << e.SysErrorMsg();
        return true;
    });
}

// --- Batches ------------------------------------------------------------------

// An entry made ahead by a batch's pool: its fields without name and
// offsets, and its data as they go into the archive.
struct TZipPrepared {
    bool Ready = false;
    // The calling thread adds the item the ordinary way (a directory, a
    // large file, one that could not be prepared).
    bool Ordinary = true;
    TZipEntry Entry;
    QByteArray Data;
};

namespace {

// The host of the steps on a pool thread: nobody follows the progress, a
// pause does not reach it, the pool's stop cancels it. Failures are not
// kept: the calling thread repeats a failed item and reports it then.
class TPrepareHost : public ICopyStepHost {
public:
    explicit TPrepareHost(const std::atomic<bool>& stop)
        : FStop(stop)
    {
    }
    void WaitIfPaused() override { }
    bool Cancelled() const override { return FStop.load(std::memory_order_relaxed); }
    void Progress(TFileAction, bool, qint64) override { }
    bool FollowsProgress() const override { return false; }
    bool SetSysError(int code) override { return code != 0; }
    void SetErrorMessage(const QString&) override { }

private:
    const std::atomic<bool>& FStop;
};

// The host of a prepared entry's writing on the calling thread.
class TWriteHost : public ICopyStepHost {
public:
    TWriteHost(const bool& cancelled, const TFileProgressEvent& progress, bool speedLimit)
        : FCancelled(cancelled)
        , FProgress(progress)
        , FSpeedLimit(speedLimit)
    {
    }
    void WaitIfPaused() override { }
    bool Cancelled() const override { return FCancelled; }
    void Progress(TFileAction action, bool speedLimit, qint64 count) override
    {
        if (FProgress)
            FProgress(action, speedLimit || FSpeedLimit, count);
    }
    bool FollowsProgress() const override { return bool(FProgress); }
    bool SetSysError(int code) override
    {
        if (code != 0)
            SysError = code;
        return code != 0;
    }
    void SetErrorMessage(const QString& text) override { Message = text; }

    int SysError = 0;
    QString Message;

private:
    const bool& FCancelled;
    const TFileProgressEvent& FProgress;
    bool FSpeedLimit;
};

struct TPrepareSettings {
    QByteArray Password;
    int KeyMode = 0;
    TZCompressionLevel Level = zcDefault;
    QString TempDir;
    int Threads = 1;
    // Items claimed but not yet taken by the writer, at most.
    size_t Ahead = 8;
};

// Prepares the small files of a batch, in order of the items, never more
// than Ahead items beyond the one the writer waits for. Threads - 1 threads
// of its own; the writer prepares items too while the one it waits for is
// not ready yet, so that it seldom sleeps (a wake-up per entry costs more
// than a small entry's writing).
class TPreparePool {
public:
    TPreparePool(const std::vector<TZipBatchItem>& items, TPrepareSettings settings)
        : FItems(items)
        , FSet(std::move(settings))
        , FSlots(items.size())
        , FWriter(FSet, FStop)
    {
        for (int i = 1; i < FSet.Threads; ++i)
            FThreads.emplace_back([this] {
                Run();
                ReleaseThreadCryptoState();
            });
    }
    ~TPreparePool()
    {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FStop = true;
        }
        FWork.notify_all();
        for (std::thread& t : FThreads)
            t.join();
        FSet.Password.fill('\0');
    }
    TPreparePool(const TPreparePool&) = delete;
    TPreparePool& operator=(const TPreparePool&) = delete;

    // Item i, prepared by a pool thread or by the caller itself; the pool
    // moves on past it.
    TZipPrepared Take(size_t i)
    {
        std::unique_lock<std::mutex> lock(FLock);
        while (!FSlots[i].Ready) {
            if (Claimable()) {
                const size_t j = FNext++;
                lock.unlock();
                PrepareItem(j, FWriter);
                lock.lock();
            } else {
                FWaiting = true;
                FDone.wait(lock);
                FWaiting = false;
            }
        }
        TZipPrepared p = std::move(FSlots[i]);
        FSlots[i] = TZipPrepared();
        FTaken = i + 1;
        const bool wake = FIdle > 0;
        lock.unlock();
        if (wake)
            FWork.notify_all();
        return p;
    }

private:
    // What one preparing thread keeps from item to item.
    struct TContext {
        TContext(const TPrepareSettings& set, const std::atomic<bool>& stop)
            : Buffer(0x40000)
            , Host(stop)
        {
            if (!set.Password.isEmpty())
                Crypt = std::make_unique<TEncryption>(set.Password, set.KeyMode, int(Buffer.size()));
        }
        std::vector<char> Buffer;
        TPrepareHost Host;
        std::unique_ptr<TEncryption> Crypt;
    };

    // Under the lock.
    bool Claimable() const { return FNext < FItems.size() && FNext < FTaken + FSet.Ahead; }

    void PrepareItem(size_t i, TContext& c)
    {
        TZipPrepared p;
        if (!FItems[i].Dir)
            Prepare(FItems[i], p, c.Host, c.Crypt.get(), c.Buffer);
        p.Ready = true;
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(FLock);
            FSlots[i] = std::move(p);
            wake = FWaiting;
        }
        if (wake)
            FDone.notify_one();
    }

    void Run()
    {
        TContext c(FSet, FStop);
        for (;;) {
            size_t i = 0;
            {
                std::unique_lock<std::mutex> lock(FLock);
                ++FIdle;
                FWork.wait(lock, [&] { return FStop || FNext >= FItems.size() || Claimable(); });
                --FIdle;
                if (FStop || FNext >= FItems.size())
                    return;
                i = FNext++;
            }
            PrepareItem(i, c);
        }
    }

    // The entry of a small file, as AddFile would make it; anything out of
    // the ordinary leaves it to the calling thread.
    void Prepare(const TZipBatchItem& item, TZipPrepared& p, TPrepareHost& host, TEncryption* crypt,
        std::vector<char>& buffer)
    {
        const QString path = SystemPathXL(item.Source);
        TFileData fd;
        if (!GetFileDataInfo(path, fd) || (fd.FileAttr & faDirectory)
            || fd.FileSize > TZipWrite::kInlineEntrySize
            || quint64(fd.FileSize) > Zip64Limits().EntryThreshold)
            return;
        int err = 0;
        auto source = TExtFileStream::Open(path, fmOpenRead | fmShareDenyWrite, err, kFlagSequentialScan);
        if (!source)
            return;
        const qint64 size = fd.FileSize;
        TZipEntry e;
        const qint32 dos = FileTimeToDosTime(fd.TimeStamps.LastWriteTime);
        e.DosTime = dos == -1 ? 0x00210000u : quint32(dos);
        e.ExternalAttr = quint32(fd.FileAttr & 0xFFFF);
        e.Zip64 = false;
        e.Encrypted = crypt != nullptr;
        e.Ae2 = e.Encrypted && size < 20;
        e.BaseFlags = 0;
        if (e.Encrypted) {
            e.KeyMode = crypt->KeyMode();
            e.Method = 99;
            e.InnerMethod = size > 0 ? 8 : 0;
        } else {
            e.Method = (item.Compress && size > 0) ? 8 : 0;
        }
        const bool deflate = size > 0 && (e.Method == 8 || e.Encrypted);
        TBlockPump pump(host, buffer.data(), qint64(buffer.size()));
        TEntryDataStep data(host, pump, crypt, FSet.Level, 1, FSet.TempDir);
        TMemoryStream out;
        out.Reserve(size + size / 1000 + 128);
        int r = 0;
        if (deflate || e.Encrypted) {
            r = data.Write(*source, size, deflate, out);
        } else {
            r = pump.Copy(*source, &out, false, size, false);
            char probe;
            qint64 got = 0;
            if (r == 0 && source->Read(&probe, 1, got) == 0 && got > 0)
                r = ceReadFile; // it grew: the ordinary way tells so
        }
        if (r != 0)
            return;
        e.Crc = pump.Crc();
        e.USize = quint64(deflate || e.Encrypted ? data.SourceBytes() : pump.Total());
        e.CSize = quint64(out.Size());
        p.Entry = e;
        p.Data = out.Data();
        p.Ordinary = false;
    }

    const std::vector<TZipBatchItem>& FItems;
    TPrepareSettings FSet;
    std::vector<TZipPrepared> FSlots;
    std::mutex FLock;
    std::condition_variable FWork;
    std::condition_variable FDone;
    size_t FNext = 0;
    size_t FTaken = 0;
    std::atomic<bool> FStop {false};
    TContext FWriter;
    bool FWaiting = false;
    int FIdle = 0;
    std::vector<std::thread> FThreads;
};

} // namespace

void TZipWrite::AddBatch(const std::vector<TZipBatchItem>& items, const TZipBatchError& onError)
{
    if (items.empty())
        return;
    FCanceled = false;
    TPrepareSettings settings;
    settings.Password = FPassword;
    settings.KeyMode = FEncryption ? FEncryption->KeyMode() : 0;
    settings.Level = FLevel;
    settings.TempDir = FTempDir;
    settings.Threads = qMax(1, FDeflateThreads);
    settings.Ahead = size_t(4 * settings.Threads);
    TPreparePool pool(items, std::move(settings));
    for (size_t i = 0; i < items.size(); ++i) {
        const TZipBatchItem& item = items[i];
        try {
            if (FCanceled)
                Fail(U_("Error adding file to \"%s\""), FZName, ceUserBreak & 0xFFF, 0, QString());
            TZipPrepared p = pool.Take(i);
            if (item.Dir)
                AddDir(item.Source);
            else if (p.Ordinary)
                AddFileCore(item.Source, item.Stored, item.Compress, nullptr);
            else
                WritePrepared(p, item.Stored, item.Compress);
        } catch (const EZipError& e) {
            if (FCanceled || !onError || !onError(i, e))
                throw;
        }
    }
}

void TZipWrite::WritePrepared(TZipPrepared& p, const QString& StoredName, bool compress)
{
    const QString what = U_("Error adding file to \"%s\"");
    if (!FStream || FFinished)
        Fail(what, FZName, ceWriteFile, ps::kErrInvalid, U_("The archive is already closed"));
    QString stored;
    if (!SafeZipEntryName(StoredName, stored))
        Fail(what, FZName, kSeverityError + enIllegalHeader, 0,
            SafeFormat(
                U_("The entry name \"%s\" would lie outside the folder it is extracted to"), {StoredName}));
    TZipEntry& e = p.Entry;
    if (!MakeName(stored, e))
        Fail(what, FZName, kSeverityError + enEncryption, 0, U_("The entry name could not be stored"));
    const qint64 size = qint64(e.USize);
    const TFileAction action = compress ? acCompress : e.Encrypted ? acEncrypt : acCopy;
    TWriteHost host(FCanceled, FOnProgress, SpeedLimit());
    host.Progress(action, false, -size);
    const quint32 startSeg = FCurSeg;
    const qint64 startPos = FStream->Position();
    QByteArray header = ZipLocalHeader(e);
    FillZipLocalHeader(header, e);
    int result = FCanceled ? ceUserBreak : 0;
    if (result == 0)
        result = Reserve(header.size());
    if (result == 0) {
        e.LocalOffset = quint64(FStream->Position());
        e.DiskStart = FCurSeg;
        int err = 0;
        if (FMaxSize <= 0) {
            // One write for header and data: small entries are mostly
            // system calls otherwise.
            header += p.Data;
            err = FStream->WriteAll(header.constData(), header.size());
        } else {
            err = FStream->WriteAll(header.constData(), header.size());
        }
        if (err) {
            result = host.WriteFailure(err);
        } else if (FMaxSize > 0) {
            TMemoryStream data(p.Data);
            result = WriteSpanned(host, data, qint64(e.CSize));
        }
    }
    p.Data.clear();
    if (result != 0) {
        const int word = AsError(result);
        const int number = NumberOf(word);
        if (number == enWriteFile || number == enLowDiskSpace)
            FErrorFlag = true;
        TruncateTo(startSeg, startPos);
        const QString message
            = host.Message.isEmpty() && host.SysError != 0 ? SystemErrorText(host.SysError) : host.Message;
        Fail(what, FZName, word, host.SysError, message);
    }
    host.Progress(action, false, size);
    TestPausePoint("zip-entry-added");
    FFileList.push_back(e);
}

void TZipWrite::WriteDirectory()
{
    if (!FStream || FFinished)
        Fail(U_("Error writing end record"), QString(), ceWriteFile, ps::kErrInvalid,
            U_("The archive is already closed"));
    auto failed = [this](const QString& pattern, const QString& arg, int err) {
        FErrorFlag = true;
        Fail(pattern, arg,
            err ? (ps::IsDiskFull(err) ? ceLowDiskSpace : ceWriteFile) : kSeverityError + enNewSegment, err,
            err ? SystemErrorText(err) : QString());
    };
    const QString entryWhat = U_("Error writing directory entry: \"%s\"");
    TZipEndInfo end;
    end.Entries = FFileList.size();
    bool first = true;
    if (FMaxSize <= 0) {
        end.DirectoryOffset = quint64(FStream->Position());
        QByteArray directory;
        for (const TZipEntry& e : FFileList)
            directory += ZipCentralHeader(e);
        end.DirectorySize = quint64(directory.size());
        end.EntriesHere = end.Entries;
        if (const int err = FStream->WriteAll(directory.constData(), directory.size()))
            failed(entryWhat, QString(), err);
    } else {
        for (const TZipEntry& e : FFileList) {
            const QByteArray h = ZipCentralHeader(e);
            const quint32 before = FCurSeg;
            if (Reserve(h.size()))
                failed(entryWhat, ZipNameFromStored(e.Name, e.Utf8), 0);
            if (FCurSeg != before)
                end.EntriesHere = 0;
            if (first) {
                end.DirectoryOffset = quint64(FStream->Position());
                end.DirectoryDisk = FCurSeg;
                first = false;
            }
            if (const int err = FStream->WriteAll(h.constData(), h.size()))
                failed(entryWhat, ZipNameFromStored(e.Name, e.Utf8), err);
            end.DirectorySize += quint64(h.size());
            ++end.EntriesHere;
        }
        if (first) {
            end.DirectoryOffset = quint64(FStream->Position());
            end.DirectoryDisk = FCurSeg;
        }
    }
    const QString endWhat = U_("Error writing end record");
    end.Disk = FCurSeg;
    end.EndOffset = quint64(FStream->Position());
    const quint32 before = FCurSeg;
    if (Reserve(ZipEndRecordsSize(end)))
        failed(endWhat, QString(), 0);
    if (FCurSeg != before) {
        end.EntriesHere = 0;
        end.Disk = FCurSeg;
        end.EndOffset = quint64(FStream->Position());
    }
    const QByteArray records = ZipEndRecords(end);
    int err = FStream->WriteAll(records.constData(), records.size());
    if (!err && FMaxSize > 0 && FCurSeg == 0) {
        // One part after all: the marker says so.
        unsigned char marker[4];
        PutLe(marker, kSingleSpanMarker, 4);
        err = FStream->Seek(0);
        if (!err)
            err = FStream->WriteAll(marker, 4);
    }
    if (!err)
        err = FStream->Flush();
    if (!err)
        err = FStream->Close();
    if (err)
        failed(endWhat, QString(), err);
    FStream.reset();
    FFinished = true;
}

void TZipWrite::Verify()
{
    const QString what = U_("Error verifying \"%s\"");
    if (!FFinished)
        Fail(what, FZName, ceVerification, 0, U_("The archive has no central directory yet"));
    QStringList parts;
    for (quint32 n = 1; n <= FCurSeg; ++n)
        parts << ZipSegmentName(FZName, int(n));
    parts << FZName;
    QString entryName = FZName;
    QString message;
    const int result
        = VerifyZipParts(parts, FEncryption.get(), int(FBufferSize), entryName, message, FOnVerifyProgress,
            SpeedLimit(), [this](TZipWorker& w, const TFileProgressEvent& p) { return RunWorker(w, p); });
    if (result != 0)
        Fail(what, entryName, result, 0, message);
}

void TZipWrite::DeleteZipFile()
{
    if (FStream) {
        FStream->Close();
        FStream.reset();
    }
    FFinished = true;
    auto remove = [](const QString& name) {
        const int err = DeleteExistingFileXL(SystemPathXL(name));
        if (err) {
            EZipError e(U_("Error deleting file") + QStringLiteral(": ") + name,
                kSeverityError + enDeleteFile, SystemErrorText(err));
            e.SetSysError(err);
            throw e;
        }
    };
    for (quint32 n = 1; n <= FCurSeg; ++n)
        remove(ZipSegmentName(FZName, int(n)));
    remove(FZName);
}

void TZipWrite::RenameZipFile(const QString& NewName)
{
    if (FStream) {
        FStream->Close();
        FStream.reset();
    }
    auto rename = [](const QString& from, const QString& to) {
        const int err = RenameFileXL(SystemPathXL(from), SystemPathXL(to));
        if (err) {
            EZipError e(U_("Error renaming file") + QStringLiteral(": ") + from, kSeverityError + 39,
                SystemErrorText(err));
            e.SetSysError(err);
            throw e;
        }
    };
    for (quint32 n = 1; n <= FCurSeg; ++n)
        rename(ZipSegmentName(FZName, int(n)), ZipSegmentName(NewName, int(n)));
    rename(FZName, NewName);
    FZName = NewName;
}

// --- Checking an archive on disk ----------------------------------------------

int VerifyZipParts(const QStringList& parts, TEncryption* crypt, int bufSize, QString& entryName,
    QString& message, const TFileProgressEvent& progress, bool speedLimit, const TZipRunner& run)
{
    TZipPartsStream archive;
    if (const int err = archive.Open(parts)) {
        message = SystemErrorText(err);
        return kSeverityError + enOpenFile;
    }
    std::vector<TZipCentralInfo> entries;
    if (const int r = ReadZipDirectory(archive, archive.Starts(), entries, message))
        return r == 4 ? ceReadFile : kSeverityError + enInvalidZip;
    size_t failedAt = entries.size();
    TZipWorker worker(
        [&](TZipWorker& host) -> int {
            host.Progress(acZipVerify, speedLimit, -qint64(entries.size()));
            for (size_t i = 0; i < entries.size(); ++i) {
                if (host.Cancelled())
                    return ceUserBreak;
                host.Progress(acZipVerify, speedLimit, qint64(i));
                if (const int r = VerifyZipArchiveEntry(host, crypt, archive, archive.Starts(), entries[i])) {
                    failedAt = i;
                    return r;
                }
            }
            return 0;
        },
        bufSize, speedLimit, QThread::NormalPriority);
    int result = 0;
    if (run) {
        result = run(worker, progress);
    } else {
        worker.SetOnProgress(progress);
        worker.Start();
        while (!worker.Done())
            worker.wait(QDeadlineTimer(10));
        result = worker.ErrorCode();
    }
    if (result != 0) {
        if (failedAt < entries.size())
            entryName = entries[failedAt].Name;
        message = worker.SysErrorMsg();
    }
    return result;
}

} // namespace kes
