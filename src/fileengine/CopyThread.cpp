#include "fileengine/CopyThread.h"

#include "fileengine/Containers.h"
#include "fileengine/CopyErrors.h"
#include "fileengine/NameCodec.h"
#include "fileengine/TestSeam.h"
#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/PathRules.h"
#include "platform/FileSystem.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QMetaObject>
#include <chrono>
#include <zlib.h>

namespace kes {

namespace ps = kes::platform;

namespace {

constexpr qint64 kDefaultBufSize = 0x80000;
constexpr qint64 kMaxBufSize = qint64(256) << 20;

qint64 BufferSizeOf(int requested)
{
    if (requested <= 0)
        return kDefaultBufSize;
    return qBound(qint64(4096), qint64(requested), kMaxBufSize);
}

// Asked once: a backup pass creates a worker per file.
int DefaultDeflateThreads()
{
    static const int threads = qBound(1, QThread::idealThreadCount(), 4);
    return threads;
}

quint32 UpdateCrc(quint32 crc, const void* data, qint64 length)
{
    const auto* p = static_cast<const Bytef*>(data);
    while (length > 0) {
        const uInt n = uInt(qMin<qint64>(length, qint64(1) << 30));
        crc = quint32(crc32(crc, p, n));
        p += n;
        length -= n;
    }
    return crc;
}

} // namespace

// --- TCopyThread --------------------------------------------------------------

TCopyThread::TCopyThread(TUnstarted, const QString& ASourceName, const QString& ADestName, int ABufSize,
    QThread::Priority APriority)
    : SourceName(ASourceName)
    , DestName(ADestName)
    , SourceNameXL(SystemPathXL(ASourceName))
    , DestNameXL(SystemPathXL(ADestName))
    , FBufSize(BufferSizeOf(ABufSize))
    , FPriority(APriority)
{
}

TCopyThread::TCopyThread(const QString& ASourceName, const QString& ADestName, bool ASuspend, int ABufSize,
    QThread::Priority APriority)
    : TCopyThread(TUnstarted {}, ASourceName, ADestName, ABufSize, APriority)
{
    StartUnlessSuspended(ASuspend);
}

TCopyThread::~TCopyThread()
{
    StopAndWait();
    if (FCrypting) {
        FCrypting->SetOnProgress(nullptr);
        FCrypting->SetEvent(nullptr);
    }
}

void TCopyThread::StopAndWait()
{
    // A worker freed early is stopped first: it never runs on without its
    // owner. A progress call it is blocked in is answered without calling
    // the handler.
    if (!isRunning())
        return;
    FDestroying = true;
    FUserBreak = true;
    FEvent.Set();
    const bool owner = QThread::currentThread() == thread();
    while (!wait(QDeadlineTimer(20))) {
        if (owner)
            QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
}

bool TCopyThread::Done() const
{
    // Looking at Done from the creating thread also delivers a pending
    // progress call, so a creator that polls without an event loop never
    // blocks its worker for good.
    if (FOnProgress && QThread::currentThread() == thread())
        QCoreApplication::sendPostedEvents(const_cast<TCopyThread*>(this), QEvent::MetaCall);
    return FDone.load(std::memory_order_acquire);
}

void TCopyThread::StartUnlessSuspended(bool ASuspend)
{
    if (!ASuspend)
        Start();
}

void TCopyThread::Start()
{
    if (!isRunning() && !FDone.load())
        start(FPriority);
}

void TCopyThread::SetNoWriteCache(bool v)
{
    FWriteMode = v ? (kFlagWriteThrough | kFlagSequentialScan) : kFlagSequentialScan;
}

QString TCopyThread::TempDir() const
{
    return FTmpDir.isEmpty() ? SetDirName(QDir::tempPath()) : FTmpDir;
}

void TCopyThread::SetTempDir(const QString& dir)
{
    FTmpDir = SetDirName(DirectoryExistsXL(dir) ? dir : QDir::tempPath());
}

void TCopyThread::SetOnProgress(TFileProgressEvent AValue)
{
    FOnProgress = std::move(AValue);
    if (FCrypting)
        FCrypting->SetOnProgress(FOnProgress);
}

void TCopyThread::SetPaused(bool AValue)
{
    if (FDone.load() || AValue == FPaused)
        return;
    FPaused = AValue;
    if (AValue)
        FEvent.Reset();
    else
        FEvent.Set();
}

void TCopyThread::CancelThread()
{
    FUserBreak = true;
}

void TCopyThread::ReleaseStreams()
{
    sSource.reset();
    sDest.reset();
}

void TCopyThread::run()
{
    int result = 0;
    try {
        FBuffer.resize(size_t(FBufSize));
        result = Execute();
    } catch (const std::exception& e) {
        // Only an allocation can fail like this; report it as what it kept
        // from happening.
        FSysErrMsg = QString::fromLocal8Bit(e.what());
        result = ceWriteFile;
        ReleaseStreams();
    }
    DiscardIncompleteDestination(result);
    DoneThread(result);
}

int TCopyThread::Execute()
{
    return FShellCopy.Contains(scmCopy) ? ShellCopyFile() : PlainCopy();
}

void TCopyThread::DoneThread(int Result)
{
    FEvent.Wait();
    ReleaseStreams();
    if (FCompress && UTotal > 0)
        FRatio = int((2000 * CTotal + UTotal) / (2 * UTotal));
    else
        FRatio = 1000;
    if (FSysError != 0)
        FSysErrMsg = SystemErrorText(FSysError);
    if (Result != 0)
        FError = Result | FErrFlag;
    FDone.store(true, std::memory_order_release);
}

void TCopyThread::DoProgress(TFileAction AAction, bool ASpeedLimit, qint64 ACount)
{
    if (!FOnProgress)
        return;
    FAction = AAction;
    FEnableSpLimit = ASpeedLimit;
    FCount = ACount;
    // Runs in the creator's thread; the worker waits until it returns.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!FDestroying)
                FOnProgress(FAction, FEnableSpLimit, FCount);
        },
        Qt::BlockingQueuedConnection);
}

bool TCopyThread::SetSysError(int Code)
{
    // Linux error codes carry no facility; they are stored as they are.
    if (Code != 0)
        FSysError = Code;
    return Code != 0;
}

int TCopyThread::WriteFailure(int code)
{
    SetSysError(code);
    return ps::IsDiskFull(code) ? ceLowDiskSpace : ceWriteFile;
}

int TCopyThread::RefuseSourceAsDestination()
{
    if (!sSource || !sSource->SameFileAs(DestNameXL))
        return 0;
    FSysErrMsg = U_("The destination is the source itself");
    return ceCreateFile;
}

int TCopyThread::OpenCopyStreams()
{
    if (!GetFileDataInfo(SourceNameXL, SourceFileData))
        return ceFileNotFound;
    SourceFileData.FullPath = SourceName;
    if (DestName.isEmpty())
        return ceCreateFile;
    try {
        sSource = std::make_unique<TExtFileStream>(
            SourceNameXL, fmOpenRead | fmShareDenyNone, 0, kFlagSequentialScan);
    } catch (const EExtFileStreamError& e) {
        FSysErrMsg = e.Message();
        return ceOpenFile;
    }
    if (const int refused = RefuseSourceAsDestination())
        return refused;
    if (sSource->AccessMode(FSourceMode))
        FSourceMode = kOwnerOnly;
    if (FOverwrite && FileExistsXL(DestNameXL, false)) {
        if (SetSysError(FileSetAttrXL(DestNameXL, faArchive, false)))
            return ceAttributes;
    }
    DestinationChecked();
    // Created owner-only: exclusively, or (overwriting) emptying a file in
    // place and replacing a symbolic link rather than writing through it.
    int err = 0;
    sDest = TExtFileStream::Open(
        DestNameXL, fmCreate | (FOverwrite ? fmReplaceLink : fmExclusive), err, FWriteMode, kOwnerOnly);
    if (!sDest) {
        FSysErrMsg = SystemErrorText(err);
        return ceCreateFile;
    }
    ps::FileStatus st;
    FDestCreated = ps::GetFileStatus(sDest->Handle(), st) == 0;
    FDestDevice = st.device;
    FDestInode = st.inode;
    return 0;
}

void TCopyThread::DiscardIncompleteDestination(int Result)
{
    // What a failed copy wrote before its data were complete is no copy:
    // it is removed, so that no cut-off file stands under the destination
    // name. Only the file this worker created goes, should the name have
    // been taken by another meanwhile.
    if (Result == 0 || ErrorSeverity(Result) == ErrorSeverity(kSeverityWarning) || !FDestCreated
        || FDestComplete)
        return;
    ReleaseStreams();
    ps::FileStatus st;
    if (ps::GetFileStatus(DestNameXL, false, st) == 0 && st.device == FDestDevice && st.inode == FDestInode)
        ps::RemoveFile(DestNameXL);
}

int TCopyThread::CopyBlocks(TStream& Source, TStream* Dest, bool SpeedLimit, qint64 Length, bool inSystem)
{
    int result = 0;
    qint64 remaining = Length;
    auto* src = dynamic_cast<TExtFileStream*>(&Source);
    auto* dst = dynamic_cast<TExtFileStream*>(Dest);
    inSystem = inSystem && src && dst;
    char* buf = FBuffer.data();
    // The system copies without the buffer. When nobody follows the progress
    // in steps of the buffer's size, its steps may grow: each call costs a
    // little, and a large file went through hundreds of them. A step doubles
    // while it takes under 25 ms and halves when it takes over 200 ms, so
    // pausing and cancelling still answer quickly.
    constexpr qint64 kMaxSystemStep = qint64(64) << 20;
    const bool growSteps = !FOnProgress;
    qint64 systemStep = FBufSize;
    while (result == 0 && remaining > 0) {
        FEvent.Wait();
        qint64 want = qMin(inSystem ? systemStep : FBufSize, remaining);
        qint64 got = 0;
        bool viaSystem = false;
        bool partial = false; // the system copied a part, then failed
        if (inSystem) {
            const auto started = std::chrono::steady_clock::now();
            const int err = dst->CopyFrom(*src, want, got);
            if (growSteps) {
                const auto took = std::chrono::steady_clock::now() - started;
                if (took < std::chrono::milliseconds(25))
                    systemStep = qMin(systemStep * 2, kMaxSystemStep);
                else if (took > std::chrono::milliseconds(200))
                    systemStep = qMax(systemStep / 2, FBufSize);
            }
            if (err == 0) {
                viaSystem = true;
            } else if (ps::IsDiskFull(err)) {
                result = WriteFailure(err);
                break;
            } else {
                // Not possible for these files, or a failure that separate
                // reading and writing will attribute to its side.
                inSystem = false;
                viaSystem = partial = got > 0;
            }
        }
        if (!viaSystem) {
            want = qMin(want, FBufSize); // the buffer's size, after a system step failed
            if (const int err = Source.Read(buf, want, got)) {
                SetSysError(err);
                result = ceReadFile;
                break;
            }
        }
        UTotal += got;
        DoProgress(Dest ? acCopy : acPrepare, SpeedLimit, UTotal);
        if (!viaSystem) {
            FCrc = UpdateCrc(FCrc, buf, got);
            if (Dest && got > 0) {
                if (const int err = Dest->WriteAll(buf, got)) {
                    result = WriteFailure(err);
                    break;
                }
            }
        }
        remaining -= got;
        if (got < want && !partial) {
            FSysErrMsg = U_("The file ended before its size was read");
            result = ceReadFile;
        } else if (UserBreak()) {
            result = ceUserBreak;
        }
    }
    CTotal = UTotal;
    return result;
}

int TCopyThread::PlainCopy()
{
    int result = OpenCopyStreams();
    if (result == 0) {
        DoProgress(acCopy, false, -SourceFileData.FileSize);
        // Without verification no CRC is needed and the system moves the
        // data; with it the data pass through the buffer once.
        result = CopyBlocks(*sSource, sDest.get(), true, SourceFileData.FileSize, !FVerify);
        FCrcKnown = FVerify;
    }
    if (result == 0)
        result = FinishCopy(FCopyStorage, FCopyAltStreams, SourceFileData.FileAttr & 0xFFFF,
            SourceFileData.TimeStamps, FCopyAcl);
    else
        ReleaseStreams();
    return result;
}

int TCopyThread::ShellCopyFile()
{
    // No shell file operation on Linux: a plain system copy that keeps the
    // modification time and attributes, as the shell's copy does.
    if (!GetFileDataInfo(SourceNameXL, SourceFileData))
        return ceFileNotFound;
    if (DestName.isEmpty())
        return ceCreateFile;
    int openErr = 0;
    sSource = TExtFileStream::Open(SourceNameXL, fmOpenRead | fmShareDenyNone, openErr);
    const int refused = RefuseSourceAsDestination();
    sSource.reset();
    if (refused)
        return refused;
    DestinationChecked();
    DoProgress(acCopy, false, -1);
    int err = CopyFileContent(SourceNameXL, DestNameXL, int(FBufSize));
    if (!err)
        err = SetFileModTime(DestNameXL, SourceFileData.TimeStamps.LastWriteTime, false);
    if (!err)
        err = FileSetAttrXL(DestNameXL, SourceFileData.FileAttr);
    if (err)
        return WriteFailure(err);
    UTotal = CTotal = SourceFileData.FileSize;
    int result = 0;
    if (FVerify) {
        // The source is read once for the CRC the verification compares.
        try {
            TExtFileStream source(SourceNameXL, fmOpenRead | fmShareDenyNone, 0, kFlagSequentialScan);
            DoProgress(acVerify, false, -SourceFileData.FileSize);
            qint64 total = 0;
            for (;;) {
                FEvent.Wait();
                qint64 got = 0;
                if (const int rerr = source.Read(FBuffer.data(), FBufSize, got)) {
                    SetSysError(rerr);
                    result = ceVerification;
                    break;
                }
                FCrc = UpdateCrc(FCrc, FBuffer.data(), got);
                total += got;
                DoProgress(acVerify, true, total);
                if (UserBreak()) {
                    result = ceUserBreak;
                    break;
                }
                if (got < FBufSize)
                    break;
            }
            UTotal = CTotal = total;
            FCrcKnown = true;
        } catch (const EExtFileStreamError& e) {
            FSysErrMsg = e.Message();
            result = ceVerification;
        }
        if (result == 0)
            result = VerifyCopy();
    }
    if (result == 0 && FCopyTimeStamp && FCopyCrTm) {
        if (SetSysError(SetFileTimestamps(DestNameXL, SourceFileData.TimeStamps, FCheckTime, false, true)))
            result = cwTimeStamp;
    }
    return result;
}

int TCopyThread::FinishCopy(
    bool Storage, bool AltStreams, int Attr, const TFileTimestamps& Timestamps, bool Acl)
{
    int result = 0;
    if (FVerify && sDest) {
        if (const int err = sDest->Flush())
            result = WriteFailure(err);
    }
    // The copy was written owner-only; now it takes what its source grants,
    // never more. The owner keeps the right to write for the steps below;
    // the attribute step makes a copy of a read-only source read-only.
    int modeErr = 0;
    if (result == 0 && sDest)
        modeErr = sDest->SetMode(FSourceMode | 0200);
    // A delayed write error (network file systems report them here) means
    // the data did not arrive.
    if (result == 0 && sDest) {
        if (const int err = sDest->Close())
            result = WriteFailure(err);
        else
            FDestComplete = true;
    }
    ReleaseStreams();
    if (result == 0 && SetSysError(modeErr))
        result = cwAttributes;
    if (result == 0 && AltStreams) {
        if (SetSysError(CopyAlternateStreams(SourceNameXL, DestNameXL)))
            result = cwAltStreams;
    }
    if (result == 0 && Storage) {
        TFileSummary summary;
        int err = ReadFileSummary(SourceName, summary);
        if (!err)
            err = WriteFileSummary(DestName, summary);
        if (SetSysError(err))
            result = cwDocumentSummary;
    }
    if (result == 0 && Acl) {
        if (SetSysError(CopyFileSecurity(SourceNameXL, DestNameXL)))
            result = cwPermissions;
    }
    if (result == 0 && FCopyTimeStamp) {
        if (SetSysError(SetFileTimestamps(DestNameXL, Timestamps, FCheckTime, false, FCopyCrTm)))
            result = cwTimeStamp;
    }
    if (result == 0 && FCopyAttr) {
        if (FResetArchive)
            Attr &= ~faArchive;
        const int current = FileGetAttrXL(DestNameXL) & 0xFFFF;
        if (current != Attr) {
            if (SetSysError(FileSetAttrXL(DestNameXL, Attr)))
                result = cwAttributes;
        }
    }
    return result;
}

int TCopyThread::OpenForVerify(const QString& Name)
{
    const int sleepMs = FMaxWait * 1000 / 25;
    QString lastMessage;
    for (int attempt = 0; attempt < 26; ++attempt) {
        try {
            sDest = std::make_unique<TExtFileStream>(
                Name, fmOpenRead | fmShareDenyNone, 0, kFlagSequentialScan);
            // Read what the device holds, not what the cache remembers:
            // written data are synced, then their cached pages dropped.
            sDest->Flush();
            sDest->DropCache();
            return 0;
        } catch (const EExtFileStreamError& e) {
            lastMessage = e.Message();
        }
        if (UserBreak())
            return ceUserBreak; // do not keep a cancelled worker waiting
        QThread::msleep(unsigned(sleepMs));
    }
    FSysErrMsg = lastMessage + QStringLiteral(" (") + QString::number(25 * sleepMs) + QStringLiteral("ms)");
    return ceVerifyOpen;
}

int TCopyThread::VerifyCopy()
{
    int result = OpenForVerify(DestNameXL);
    if (result != 0)
        return result;
    DoProgress(acVerify, false, -UTotal);
    quint32 crc = 0;
    qint64 total = 0;
    for (;;) {
        FEvent.Wait();
        qint64 got = 0;
        if (const int err = sDest->Read(FBuffer.data(), FBufSize, got)) {
            SetSysError(err);
            result = ceVerification;
            break;
        }
        crc = UpdateCrc(crc, FBuffer.data(), got);
        total += got;
        DoProgress(acVerify, true, total);
        if (UserBreak()) {
            result = ceUserBreak;
            break;
        }
        if (got < FBufSize)
            break;
    }
    if (result == 0 && (crc != FCrc || total != UTotal)) {
        FSysErrMsg = U_("The copy differs from the source");
        result = ceVerification;
    }
    sDest.reset();
    return result;
}

int TCopyThread::EncryptedCopy()
{
    int result = OpenCopyStreams();
    if (result != 0) {
        ReleaseStreams();
        return result;
    }
    const qint64 size = SourceFileData.FileSize;
    DoProgress(acEncrypt, false, -size);
    const QByteArray header = EncryptedCopyHeader(FCrypting->KeyMode(),
        quint32(FileTimeToUnixTime(SourceFileData.TimeStamps.LastWriteTime)),
        quint16(SourceFileData.FileAttr));
    if (const int err = sDest->WriteAll(header.constData(), header.size()))
        result = WriteFailure(err);
    if (result == 0 && !FCrypting->WriteHeader(*sDest)) {
        SetSysError(FCrypting->LastStreamError());
        result = ps::IsDiskFull(FCrypting->LastStreamError()) ? ceLowDiskSpace : ceEncryption;
    }
    while (result == 0) {
        FEvent.Wait();
        qint64 got = 0;
        if (const int err = sSource->Read(FBuffer.data(), FBufSize, got)) {
            SetSysError(err);
            result = ceReadFile;
            break;
        }
        UTotal += got;
        DoProgress(acEncrypt, true, UTotal);
        FCrypting->EncryptBlock(FBuffer.data(), got);
        if (got > 0) {
            if (const int err = sDest->WriteAll(FBuffer.data(), got)) {
                SetSysError(err);
                result = ps::IsDiskFull(err) ? ceLowDiskSpace : ceEncryption;
                break;
            }
        }
        if (UserBreak()) {
            result = ceUserBreak;
            break;
        }
        if (got < FBufSize)
            break;
    }
    if (result == 0 && !FCrypting->WriteTrailer(*sDest)) {
        SetSysError(FCrypting->LastStreamError());
        result = ps::IsDiskFull(FCrypting->LastStreamError()) ? ceLowDiskSpace : ceEncryption;
    }
    if (result == 0 && UTotal != size) {
        FSysErrMsg = U_("The file changed its size while it was read");
        result = ceReadFile;
    }
    if (result == 0) {
        CTotal = sDest->Position();
        result = FinishCopy(FCopyStorage, FCopyAltStreams, SourceFileData.FileAttr & 0xFFFF,
            SourceFileData.TimeStamps, FCopyAcl);
    } else {
        ReleaseStreams();
    }
    return result;
}

int TCopyThread::VerifyEncryptedCopy()
{
    int result = OpenForVerify(DestNameXL);
    if (result != 0)
        return result;
    DoProgress(acVerify, false, -UTotal);
    qint64 offset = 0;
    int keyMode = 0;
    const int err = ReadEncryptedCopyHeader(*sDest, offset, keyMode);
    if (err != 0) {
        if (err > 0)
            SetSysError(err);
        else
            FSysErrMsg = U_("The file is shorter than its header");
        sDest.reset();
        return enReadFile;
    }
    if (keyMode != 0)
        FCrypting->SetKeyMode(keyMode);
    const TOpResult r = FCrypting->DecryptStreamEx(
        *sDest, nullptr, sDest->Size() - offset, true, [this] { return UserBreak(); });
    if (r == orUserBreak) {
        result = ceUserBreak;
    } else if (r != orOk) {
        FSysErrMsg = U_("Wrong password or damaged data");
        result = ceVerification;
    }
    sDest.reset();
    return result;
}

// --- TGZipThread -------------------------------------------------------------------

TGZipThread::TGZipThread(TUnstarted, const QString& ASourceName, const QString& ADestName,
    TEncryption* AEncryption, int ABufSize, QThread::Priority APriority)
    : TCopyThread(TUnstarted {}, ASourceName, ADestName, ABufSize, APriority)
    , FName(FileNamePart(ASourceName))
    , FDeflateThreads(DefaultDeflateThreads())
{
    FCompress = true;
    FCrypting = AEncryption;
    if (FCrypting)
        FCrypting->SetEvent(&FEvent);
    FErrFlag = kOpGzip;
}

TGZipThread::TGZipThread(const QString& ASourceName, const QString& ADestName, TEncryption* AEncryption,
    bool ASuspend, int ABufSize, QThread::Priority APriority)
    : TGZipThread(TUnstarted {}, ASourceName, ADestName, AEncryption, ABufSize, APriority)
{
    StartUnlessSuspended(ASuspend);
}

TGZipThread::~TGZipThread()
{
    StopAndWait();
}

int TGZipThread::Execute()
{
    return GZipCopy();
}

int TGZipThread::WriteGzHeader(TStream& Stream, const QString& Name, int KeyMode, quint32 MTime)
{
    const QByteArray h = GzHeaderBytes(Name, KeyMode, MTime);
    if (const int err = Stream.WriteAll(h.constData(), h.size()))
        return WriteFailure(err);
    return 0;
}

namespace {

void PutLe(unsigned char* p, quint64 v, int n)
{
    for (int i = 0; i < n; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

quint64 GetLe(const unsigned char* p, int n)
{
    quint64 v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

} // namespace

int TGZipThread::WriteGzTrailer(TStream& Stream, quint32 Crc)
{
    unsigned char t[8];
    PutLe(t, Crc, 4);
    PutLe(t + 4, quint64(UTotal) & 0xFFFFFFFF, 4);
    if (const int err = Stream.WriteAll(t, 8))
        return WriteFailure(err);
    unsigned char sizes[16];
    PutLe(sizes, quint64(CTotal), 8);
    PutLe(sizes + 8, quint64(UTotal), 8);
    int err = Stream.Seek(kGzSizeSubfieldOffset);
    if (!err)
        err = Stream.WriteAll(sizes, 16);
    if (err)
        return WriteFailure(err);
    return 0;
}

int TGZipThread::CompressBlocks(TStream& Source, TDeflateWriter& Writer)
{
    int result = 0;
    char* buf = FBuffer.data();
    for (;;) {
        FEvent.Wait();
        qint64 got = 0;
        if (const int err = Source.Read(buf, FBufSize, got)) {
            SetSysError(err);
            result = ceReadFile;
            break;
        }
        UTotal += got;
        DoProgress(acCompress, true, UTotal);
        FCrc = UpdateCrc(FCrc, buf, got);
        if (got > 0) {
            if (const int err = Writer.Write(buf, got)) {
                result = WriteFailure(err);
                break;
            }
        }
        if (UserBreak()) {
            result = ceUserBreak;
            break;
        }
        if (got < FBufSize)
            break;
    }
    if (result == 0) {
        if (const int err = Writer.Finish())
            result = WriteFailure(err);
    }
    if (result == 0 && UTotal > 0 && Writer.TotalOut() == 0)
        result = ceLowDiskSpace;
    return result;
}

int TGZipThread::OpenTempStream(qint64 size, std::unique_ptr<TStream>& stream)
{
    if (size > 0x3200000) {
        // Without a name: the plaintext's deflate data never outlive the
        // worker, even when its process is killed.
        int err = 0;
        auto f = TExtFileStream::OpenTemporary(SystemPathXL(TempDir()), err);
        if (!f) {
            FSysErrMsg = SystemErrorText(err);
            return ceCreateFile;
        }
        stream = std::move(f);
    } else {
        auto m = std::make_unique<TMemoryStream>();
        m->Reserve(size + size / 1000 + 64);
        stream = std::move(m);
    }
    return 0;
}

int TGZipThread::EncryptInto(TStream& Source, TStream& Dest)
{
    const TOpResult r = FCrypting->EncryptStreamEx(Source, Dest, true, [this] { return UserBreak(); });
    if (r == orUserBreak)
        return ceUserBreak;
    if (r != orOk) {
        const int err = FCrypting->LastStreamError();
        if (err > 0 && ps::IsDiskFull(err))
            return WriteFailure(err);
        if (err > 0)
            SetSysError(err);
        return ceEncryption;
    }
    return 0;
}

int TGZipThread::GZipCopy()
{
    int result = OpenCopyStreams();
    if (result != 0) {
        ReleaseStreams();
        return result;
    }
    const qint64 size = SourceFileData.FileSize;
    const int keyMode = FCrypting ? FCrypting->KeyMode() : -1;
    result = WriteGzHeader(
        *sDest, FName, keyMode, quint32(FileTimeToUnixTime(SourceFileData.TimeStamps.LastWriteTime)));
    FP0 = sDest->Position();
    std::unique_ptr<TStream> temp;
    if (result == 0 && FCrypting)
        result = OpenTempStream(size, temp);
    if (result == 0) {
        DoProgress(acCompress, false, -size);
        TDeflateWriter writer(temp ? *temp : static_cast<TStream&>(*sDest), FCompLevel, FDeflateThreads);
        result = CompressBlocks(*sSource, writer);
    }
    if (result == 0 && UTotal != size) {
        FSysErrMsg = U_("The file changed its size while it was read");
        result = ceReadFile;
    }
    if (result == 0)
        FCrcKnown = true;
    if (result == 0 && FCrypting) {
        TestPausePoint("deflated");
        DoProgress(acEncrypt, false, -temp->Size());
        result = temp->Seek(0) ? ceReadFile : EncryptInto(*temp, *sDest);
    }
    if (result == 0) {
        CTotal = sDest->Position() - FP0;
        result = WriteGzTrailer(*sDest, FCrypting ? 0 : FCrc);
    }
    temp.reset();
    if (result != 0) {
        ReleaseStreams();
        return result;
    }
    return FinishCopy(
        FCopyStorage, FCopyAltStreams, SourceFileData.FileAttr & 0xFFFF, SourceFileData.TimeStamps, FCopyAcl);
}

int TGZipThread::InflateVerify(qint64 CSize, qint64 USize, bool exactSize, quint32& crc, qint64& total)
{
    crc = 0;
    total = 0;
    TInflateReader reader(*sDest, CSize, FBufSize);
    std::vector<char> out(0x10000);
    for (;;) {
        FEvent.Wait();
        qint64 produced = 0;
        const TInflateReader::TStatus st = reader.Read(out.data(), qint64(out.size()), produced);
        if (produced > 0) {
            crc = UpdateCrc(crc, out.data(), produced);
            total += produced;
            DoProgress(acUnCompress, true, total);
            if (exactSize && total > USize) {
                FSysErrMsg = U_("The data are longer than the header says");
                return ceVerification;
            }
        }
        if (UserBreak())
            return ceUserBreak;
        if (st == TInflateReader::isOk)
            continue;
        if (st == TInflateReader::isEnd)
            break;
        if (st == TInflateReader::isReadError)
            SetSysError(reader.ReadError());
        else
            FSysErrMsg = reader.Message();
        return ceVerification;
    }
    if (reader.UnusedInput() != 0) {
        FSysErrMsg = U_("The compressed data end before their size");
        return ceVerification;
    }
    return 0;
}

int TGZipThread::VerifyGzip()
{
    int result = OpenForVerify(DestNameXL);
    if (result != 0)
        return result;
    TGzHeaderInfo h;
    QString message;
    result = ReadGzHeader(*sDest, h, message);
    if (result != 0) {
        FSysErrMsg = message;
        sDest.reset();
        return result;
    }
    const qint64 fileLength = sDest->Size();
    if (h.KeyMode < 0) {
        DoProgress(acVerify, false, -h.USize);
        quint32 crc = 0;
        qint64 total = 0;
        result = InflateVerify(h.CSize, h.USize, !h.USizeFromTrailer, crc, total);
        unsigned char t[8];
        if (result == 0 && sDest->ReadExact(t, 8) != 0) {
            FSysErrMsg = U_("The file ends before its trailer");
            result = ceVerification;
        }
        if (result == 0) {
            const bool sizeOk
                = h.USizeFromTrailer ? (quint64(total) & 0xFFFFFFFF) == quint64(h.USize) : total == h.USize;
            if (crc != GetLe(t, 4) || (quint64(total) & 0xFFFFFFFF) != GetLe(t + 4, 4) || !sizeOk
                || (FCrcKnown && crc != FCrc)) {
                FSysErrMsg = U_("CRC or size of the data differ");
                result = ceVerification;
            }
        }
    } else if (!FCrypting) {
        FSysErrMsg = U_("The data are encrypted and no password was given");
        result = ceVerification;
    } else {
        DoProgress(acVerify, false, -h.CSize);
        FCrypting->SetKeyMode(h.KeyMode);
        if (h.DataOffset + h.CSize + 8 > fileLength) {
            FSysErrMsg = U_("Unexpected end of file");
            result = ceVerification;
        } else {
            const TOpResult r
                = FCrypting->DecryptStreamEx(*sDest, nullptr, h.CSize, true, [this] { return UserBreak(); });
            if (r == orUserBreak) {
                result = ceUserBreak;
            } else if (r != orOk) {
                FSysErrMsg = U_("Wrong password or damaged data");
                result = ceVerification;
            }
        }
    }
    sDest.reset();
    return result;
}

int TGZipThread::ZipDataStep(TStream& Source, bool Compress)
{
    int result = 0;
    const qint64 size = SourceFileData.FileSize;
    const qint64 p0 = sDest->Position();
    if (FCrypting) {
        if (size > 0 && Compress) {
            std::unique_ptr<TStream> temp;
            result = OpenTempStream(size, temp);
            if (result == 0) {
                DoProgress(acCompress, false, -size);
                TDeflateWriter writer(*temp, FCompLevel, FDeflateThreads);
                result = CompressBlocks(Source, writer);
            }
            if (result == 0 && UTotal != size) {
                FSysErrMsg = U_("The file changed its size while it was read");
                result = ceReadFile;
            }
            if (result == 0) {
                FCrcKnown = true;
                TestPausePoint("deflated");
                DoProgress(acEncrypt, false, -temp->Size());
                result = temp->Seek(0) ? ceReadFile : EncryptInto(*temp, *sDest);
            }
            temp.reset();
        } else {
            UTotal = size;
            DoProgress(acEncrypt, false, -size);
            result = EncryptInto(Source, *sDest);
        }
    } else {
        if (size > 0 && Compress) {
            DoProgress(acCompress, false, -size);
            TDeflateWriter writer(*sDest, FCompLevel, FDeflateThreads);
            result = CompressBlocks(Source, writer);
        } else {
            DoProgress(acCopy, false, -size);
            result = CopyBlocks(Source, sDest.get(), true, size);
        }
        if (result == 0 && UTotal != size) {
            FSysErrMsg = U_("The file changed its size while it was read");
            result = ceReadFile;
        }
        if (result == 0)
            FCrcKnown = true;
    }
    CTotal = sDest->Position() - p0;
    return result;
}

int TGZipThread::WriteZipEntry(bool Compress)
{
    const qint64 size = SourceFileData.FileSize;
    TZipEntry e;
    e.Zip64 = quint64(size) > Zip64Limits().EntryThreshold;
    e.Encrypted = FCrypting != nullptr;
    e.Ae2 = e.Encrypted && size < 20;
    if (e.Encrypted) {
        Compress = true;
        e.KeyMode = FCrypting->KeyMode();
        e.Method = 99;
        e.InnerMethod = size > 0 ? 8 : 0;
    } else {
        e.Method = (Compress && size > 0) ? 8 : 0;
    }
    e.Name = ZipStoredName(FName, e.Utf8);
    const qint32 dos = FileTimeToDosTime(SourceFileData.TimeStamps.LastWriteTime);
    e.DosTime = dos == -1 ? 0x00210000u : quint32(dos); // 1980-01-01 when the time has no DOS form
    e.ExternalAttr = quint32(SourceFileData.FileAttr & 0xFFFF);

    // A failure of the archive's own structures is 5; a full disk is
    // still called what it is.
    auto structureFailure = [this](int err) {
        SetSysError(err);
        return ps::IsDiskFull(err) ? ceLowDiskSpace : int(enWriteFile);
    };
    const QByteArray local = ZipLocalHeader(e);
    if (const int err = sDest->WriteAll(local.constData(), local.size()))
        return structureFailure(err);
    int result = ZipDataStep(*sSource, Compress);
    if (result != 0)
        return result;
    e.Crc = FCrc;
    e.CSize = quint64(CTotal);
    e.USize = quint64(UTotal);
    const qint64 end = sDest->Position();
    unsigned char buf[16];
    int err = 0;
    if (!e.Ae2) {
        PutLe(buf, e.Crc, 4);
        err = sDest->Seek(14);
        if (!err)
            err = sDest->WriteAll(buf, 4);
    }
    if (!err) {
        if (e.Zip64) {
            PutLe(buf, e.USize, 8);
            PutLe(buf + 8, e.CSize, 8);
            err = sDest->Seek(ZipLocal64SizesOffset(e));
            if (!err)
                err = sDest->WriteAll(buf, 16);
        } else {
            PutLe(buf, e.CSize, 4);
            PutLe(buf + 4, e.USize, 4);
            err = sDest->Seek(18);
            if (!err)
                err = sDest->WriteAll(buf, 8);
        }
    }
    if (!err)
        err = sDest->Seek(end);
    if (!err) {
        const QByteArray dir = ZipDirectoryAndEnd(e, quint64(end));
        err = sDest->WriteAll(dir.constData(), dir.size());
    }
    if (err)
        return structureFailure(err);
    return 0;
}

int TGZipThread::VerifyZip()
{
    int result = OpenForVerify(DestNameXL);
    if (result != 0)
        return result;
    TZipLocalInfo h;
    QString message;
    result = ReadZipLocalHeader(*sDest, h, message);
    if (result != 0) {
        FSysErrMsg = message;
        sDest.reset();
        return result;
    }
    if (h.Encrypted()) {
        if (!FCrypting) {
            FSysErrMsg = U_("The data are encrypted and no password was given");
            result = ceVerification;
        } else {
            DoProgress(acVerify, false, -h.CSize);
            FCrypting->SetKeyMode(h.KeyMode);
            const TOpResult r
                = FCrypting->DecryptStreamEx(*sDest, nullptr, h.CSize, true, [this] { return UserBreak(); });
            if (r == orUserBreak) {
                result = ceUserBreak;
            } else if (r != orOk) {
                FSysErrMsg = U_("Wrong password or damaged data");
                result = ceVerification;
            }
        }
    } else {
        DoProgress(acVerify, false, -h.USize);
        quint32 crc = 0;
        qint64 total = 0;
        if (h.Method == 8) {
            result = InflateVerify(h.CSize, h.USize, true, crc, total);
        } else {
            // Any other method is read as stored.
            for (qint64 remaining = h.CSize; remaining > 0 && result == 0;) {
                FEvent.Wait();
                const qint64 want = qMin(FBufSize, remaining);
                const int err = sDest->ReadExact(FBuffer.data(), want);
                if (err) {
                    if (err > 0)
                        SetSysError(err);
                    else
                        FSysErrMsg = U_("Unexpected end of file");
                    result = ceVerification;
                    break;
                }
                crc = UpdateCrc(crc, FBuffer.data(), want);
                total += want;
                remaining -= want;
                DoProgress(acPrepare, true, total);
                if (UserBreak())
                    result = ceUserBreak;
            }
        }
        if (result == 0 && (crc != h.Crc || total != h.USize || (FCrcKnown && crc != FCrc))) {
            FSysErrMsg = U_("CRC or size of the data differ");
            result = ceVerification;
        }
    }
    if (result == 0 && !CheckZipDirectory(*sDest, h, message)) {
        FSysErrMsg = message;
        result = ceVerification;
    }
    sDest.reset();
    return result;
}

// --- TWinCopyThread ---------------------------------------------------------------------

TWinCopyThread::TWinCopyThread(const QString& ASourceName, const QString& ADestName, TEncryption* AEncryption,
    TCopyOptions AOptions, bool ASuspend, int ABufSize, QThread::Priority APriority)
    : TGZipThread(TUnstarted {}, ASourceName, ADestName, AEncryption, ABufSize, APriority)
{
    FCompress = AOptions.Contains(coCompress);
    FZipCompress = AOptions.Contains(coZipCompress);
    FVerify = AOptions.Contains(coVerify);
    FOverwrite = AOptions.Contains(coOverwrite);
    FCopyStorage = AOptions.Contains(coStorage);
    FCopyAltStreams = AOptions.Contains(coAltStreams);
    FCopyAcl = AOptions.Contains(coPermissions);
    FCopyAttr = AOptions.Contains(coAttributes);
    FCopyTimeStamp = AOptions.Contains(coTimeStamp);
    FCopyCrTm = AOptions.Contains(coCreationTime);
    FCheckTime = AOptions.Contains(coCheckTime);
    FResetArchive = AOptions.Contains(coResetArchive);
    SetNoWriteCache(AOptions.Contains(coNoCache));
    if (FZipCompress)
        FErrFlag = kOpZip;
    else if (FCompress)
        FErrFlag = kOpGzip;
    else if (FCrypting)
        FErrFlag = kOpEncrypt;
    else
        FErrFlag = kOpCopy;
    StartUnlessSuspended(ASuspend);
}

TWinCopyThread::~TWinCopyThread()
{
    StopAndWait();
}

int TWinCopyThread::Execute()
{
    // A verified copy is not written through on every write: it is synced
    // once before it is read back (FinishCopy, OpenForVerify), which gives
    // the same guarantee at a fraction of the cost.
    int result = 0;
    if (FShellCopy.Contains(scmCopy)) {
        result = ShellCopyFile();
    } else if (FZipCompress) {
        result = OpenCopyStreams();
        if (result == 0)
            result = WriteZipEntry(FCompress);
        if (result == 0)
            result = FinishCopy(false, FCopyAltStreams, SourceFileData.FileAttr & 0xFFFF,
                SourceFileData.TimeStamps, FCopyAcl);
        else
            ReleaseStreams();
        if (FVerify && result == 0)
            result = VerifyZip();
    } else if (FCompress) {
        result = GZipCopy();
        if (FVerify && result == 0)
            result = VerifyGzip();
    } else if (FCrypting) {
        result = EncryptedCopy();
        if (FVerify && result == 0)
            result = VerifyEncryptedCopy();
    } else {
        result = PlainCopy();
        if (FVerify && result == 0)
            result = VerifyCopy();
    }
    return result;
}

// --- TVerifyFileThread ----------------------------------------------------------------------

TVerifyFileThread::TVerifyFileThread(const QString& AFileName, TContainerKind AKind, TEncryption* AEncryption,
    bool ASuspend, int ABufSize, QThread::Priority APriority)
    : TGZipThread(TUnstarted {}, QString(), AFileName, AEncryption, ABufSize, APriority)
    , FKind(AKind)
{
    FCompress = false;
    FMaxWait = 0;
    StartUnlessSuspended(ASuspend);
}

TVerifyFileThread::~TVerifyFileThread()
{
    StopAndWait();
}

int TVerifyFileThread::Execute()
{
    TContainerKind kind = FKind;
    if (kind == ckAuto) {
        // By the file's signature; a file without one is read by the reader
        // its name calls for, so that a damaged member gets that reader's
        // error rather than being taken for encrypted data.
        unsigned char m[4] = {};
        int err = 0;
        if (auto f = TExtFileStream::Open(DestNameXL, fmOpenRead, err))
            f->ReadExact(m, 4);
        if (err) {
            FSysErrMsg = SystemErrorText(err);
            return enOpenFile;
        }
        const quint32 magic = quint32(GetLe(m, 4));
        const QString suffix = DestName.section(QLatin1Char('.'), -1).toLower();
        if (m[0] == 0x1F && m[1] == 0x8B)
            kind = ckGzip;
        else if (magic == kZipLocalSignature)
            kind = ckZip;
        else if ((magic & kEncryptedCopyMagicMask) == kEncryptedCopyMagic)
            kind = ckEncrypted;
        else if (suffix == QLatin1String("gz"))
            kind = ckGzip;
        else if (suffix == QLatin1String("zip"))
            kind = ckZip;
        else if (FCrypting)
            kind = ckEncrypted; // an encrypted stream may begin without the header
        else {
            FErrFlag = 0;
            FSysErrMsg = U_("The file is neither a gzip member nor a zip archive nor an encrypted copy");
            return enUnsupportedFormat;
        }
    }
    switch (kind) {
    case ckGzip:
        FErrFlag = kOpGzip;
        return VerifyGzip();
    case ckZip:
        FErrFlag = kOpZip;
        return VerifyZip();
    default:
        FErrFlag = kOpEncrypt;
        if (!FCrypting) {
            FSysErrMsg = U_("The data are encrypted and no password was given");
            return enIllegalHeader;
        }
        UTotal = 0;
        return VerifyEncryptedCopy();
    }
}

// --- TCopyStreamThread ------------------------------------------------------------------------

TCopyStreamThread::TCopyStreamThread(TStream* ASource, TStream* ADest, qint64 ALength, bool ASuspend,
    bool ASpeedLimit, int ABufSize, QThread::Priority APriority)
    : sSource(ASource)
    , sDest(ADest)
    , FLength(ALength)
    , FBufSize(BufferSizeOf(ABufSize))
    , FSpeedLimit(ASpeedLimit)
    , FPriority(APriority)
{
    if (!ASuspend)
        Start();
}

TCopyStreamThread::~TCopyStreamThread()
{
    if (isRunning()) {
        FUserBreak = true;
        FEvent.Set();
        wait();
    }
}

void TCopyStreamThread::Start()
{
    if (!isRunning() && !Done())
        start(FPriority);
}

void TCopyStreamThread::SetPaused(bool AValue)
{
    if (Done() || AValue == FPaused)
        return;
    FPaused = AValue;
    if (AValue)
        FEvent.Reset();
    else
        FEvent.Set();
}

void TCopyStreamThread::run()
{
    int result = 0;
    try {
        FBuffer.resize(size_t(FBufSize));
    } catch (const std::exception& e) {
        FSysErrMsg = QString::fromLocal8Bit(e.what());
        result = enReadFile;
    }
    while (result == 0 && FLength > 0) {
        FEvent.Wait();
        const qint64 want = qMin(FBufSize, FLength);
        qint64 got = 0;
        if (const int err = sSource->Read(FBuffer.data(), want, got)) {
            FSysErrMsg = SystemErrorText(err);
            result = enReadFile;
            break;
        }
        if (got < want) {
            FSysErrMsg = U_("Unexpected end of file");
            result = enReadFile;
            break;
        }
        FTotal += got;
        if (FOnSProgress) {
            FAction = acCopy;
            FCount = FTotal;
            QMetaObject::invokeMethod(
                this, [this] { FOnSProgress(FAction, FSpeedLimit, FCount); }, Qt::BlockingQueuedConnection);
        }
        qint64 written = 0;
        if (const int err = sDest->Write(FBuffer.data(), got, written)) {
            FSysErrMsg = SystemErrorText(err);
            result = ps::IsDiskFull(err) ? enLowDiskSpace : enWriteFile;
            break;
        }
        FLength -= got;
        if (FUserBreak)
            result = enUserBreak;
    }
    FBuffer.clear();
    FBuffer.shrink_to_fit();
    FEvent.Wait();
    FError = result != 0 ? (result | kOpCopy) : 0;
    FDone.store(true, std::memory_order_release);
}

} // namespace kes
