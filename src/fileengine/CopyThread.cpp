#include "fileengine/CopyThread.h"

#include "fileengine/Containers.h"
#include "fileengine/CopyErrors.h"
#include "fileengine/EntryVerifier.h"
#include "fileengine/GzipMember.h"
#include "fileengine/NameCodec.h"
#include "fileengine/ZipArchive.h"
#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/PathRules.h"
#include "platform/FileSystem.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QMetaObject>

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

} // namespace

// --- TEngineThread --------------------------------------------------------------

TEngineThread::TEngineThread(QThread::Priority APriority)
    : FPriority(APriority)
{
}

TEngineThread::~TEngineThread()
{
    StopAndWait();
}

void TEngineThread::Start()
{
    if (!isRunning() && !Finished())
        start(FPriority);
}

void TEngineThread::SetPaused(bool AValue)
{
    if (Finished() || AValue == FPaused)
        return;
    FPaused = AValue;
    if (AValue)
        FEvent.Reset();
    else
        FEvent.Set();
}

void TEngineThread::StopAndWait()
{
    // A worker freed early is stopped first: it never runs on without its
    // owner.
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

void TEngineThread::CallInCreator(const std::function<void()>& call)
{
    QMetaObject::invokeMethod(
        this,
        [this, &call] {
            if (!FDestroying)
                call();
        },
        Qt::BlockingQueuedConnection);
}

void TEngineThread::DeliverWaitingCall() const
{
    if (QThread::currentThread() == thread())
        QCoreApplication::sendPostedEvents(const_cast<TEngineThread*>(this), QEvent::MetaCall);
}

// --- TCopyThread --------------------------------------------------------------

TCopyThread::TCopyThread(TUnstarted, const QString& ASourceName, const QString& ADestName, int ABufSize,
    QThread::Priority APriority)
    : TEngineThread(APriority)
    , SourceName(ASourceName)
    , DestName(ADestName)
    , SourceNameXL(SystemPathXL(ASourceName))
    , DestNameXL(SystemPathXL(ADestName))
    , FBufSize(BufferSizeOf(ABufSize))
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

bool TCopyThread::Done() const
{
    if (FOnProgress)
        DeliverWaitingCall();
    return Finished();
}

void TCopyThread::StartUnlessSuspended(bool ASuspend)
{
    if (!ASuspend)
        Start();
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
    SetFinished();
}

void TCopyThread::DoProgress(TFileAction AAction, bool ASpeedLimit, qint64 ACount)
{
    if (!FOnProgress)
        return;
    FAction = AAction;
    FEnableSpLimit = ASpeedLimit;
    FCount = ACount;
    CallInCreator([this] { FOnProgress(FAction, FEnableSpLimit, FCount); });
}

bool TCopyThread::SetSysError(int Code)
{
    // Linux error codes carry no facility; they are stored as they are.
    if (Code != 0)
        FSysError = Code;
    return Code != 0;
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

TBlockPump TCopyThread::Pump()
{
    return TBlockPump(*this, FBuffer.data(), FBufSize);
}

int TCopyThread::CopyWith(bool Storage, const std::function<int()>& WriteData)
{
    int result = OpenCopyStreams();
    if (result == 0)
        result = WriteData();
    if (result != 0) {
        ReleaseStreams();
        return result;
    }
    return FinishCopy(
        Storage, FCopyAltStreams, SourceFileData.FileAttr & 0xFFFF, SourceFileData.TimeStamps, FCopyAcl);
}

int TCopyThread::VerifyWith(const std::function<int(TStream&, TBlockPump&)>& Check)
{
    int result = OpenForVerify(DestNameXL);
    if (result != 0)
        return result;
    TBlockPump pump = Pump();
    result = Check(*sDest, pump);
    sDest.reset();
    return result;
}

int TCopyThread::PlainCopy()
{
    return CopyWith(FCopyStorage, [this] {
        DoProgress(acCopy, false, -SourceFileData.FileSize);
        // Without verification no CRC is needed and the system moves the
        // data; with it the data pass through the buffer once.
        TBlockPump pump = Pump();
        const int result = pump.Copy(*sSource, sDest.get(), true, SourceFileData.FileSize, !FVerify);
        UTotal = CTotal = pump.Total();
        FCrc = pump.Crc();
        FCrcKnown = FVerify;
        return result;
    });
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
            TBlockPump pump = Pump();
            result = pump.Checksum(source, acVerify);
            FCrc = pump.Crc();
            UTotal = CTotal = pump.Total();
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
    return VerifyWith([this](TStream& copy, TBlockPump& pump) {
        DoProgress(acVerify, false, -UTotal);
        int result = pump.Checksum(copy, acVerify);
        if (result == 0 && (pump.Crc() != FCrc || pump.Total() != UTotal)) {
            FSysErrMsg = U_("The copy differs from the source");
            result = ceVerification;
        }
        return result;
    });
}

int TCopyThread::EncryptedCopy()
{
    return CopyWith(FCopyStorage, [this] {
        const qint64 size = SourceFileData.FileSize;
        DoProgress(acEncrypt, false, -size);
        const QByteArray header = EncryptedCopyHeader(FCrypting->KeyMode(),
            quint32(FileTimeToUnixTime(SourceFileData.TimeStamps.LastWriteTime)),
            quint16(SourceFileData.FileAttr));
        TBlockPump pump = Pump();
        int result = TCryptStep(*this, *FCrypting).WriteCopy(pump, *sSource, header, *sDest);
        UTotal = pump.Total();
        if (result == 0 && UTotal != size) {
            FSysErrMsg = U_("The file changed its size while it was read");
            result = ceReadFile;
        }
        CTotal = sDest->Position();
        return result;
    });
}

int TCopyThread::VerifyEncryptedCopy()
{
    return VerifyWith([this](TStream& copy, TBlockPump& pump) {
        DoProgress(acVerify, false, -UTotal);
        return TEntryVerifier(*this, pump, FCrypting).VerifyEncryptedCopy(copy);
    });
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

TEntryDataStep TGZipThread::DataStep(TBlockPump& pump)
{
    return TEntryDataStep(*this, pump, FCrypting, FCompLevel, FDeflateThreads, TempDir());
}

void TGZipThread::TakeCounts(const TEntryDataStep& data, const TBlockPump& pump)
{
    UTotal = data.SourceBytes();
    CTotal = data.OutputBytes();
    FCrc = pump.Crc();
    FCrcKnown = data.CrcKnown();
}

int TGZipThread::GZipCopy()
{
    return CopyWith(FCopyStorage, [this] {
        TGzipMemberWriter member(*sDest);
        if (const int err = member.WriteHeader(FName, FCrypting ? FCrypting->KeyMode() : -1,
                quint32(FileTimeToUnixTime(SourceFileData.TimeStamps.LastWriteTime))))
            return WriteFailure(err);
        TBlockPump pump = Pump();
        TEntryDataStep data = DataStep(pump);
        const int result = data.Write(*sSource, SourceFileData.FileSize, true, *sDest);
        TakeCounts(data, pump);
        if (result != 0)
            return result;
        if (const int err = member.WriteTrailer(FCrypting ? 0 : FCrc, UTotal))
            return WriteFailure(err);
        return 0;
    });
}

int TGZipThread::VerifyGzip()
{
    return VerifyWith([this](TStream& copy, TBlockPump& pump) {
        return TEntryVerifier(*this, pump, FCrypting).VerifyGzipMember(copy, FCrcKnown, FCrc);
    });
}

int TGZipThread::WriteZipEntry(bool Compress)
{
    const qint64 size = SourceFileData.FileSize;
    TZipEntry e;
    e.Zip64 = quint64(size) > Zip64Limits().EntryThreshold;
    e.Encrypted = FCrypting != nullptr;
    e.Ae2 = e.Encrypted && size < 20;
    if (e.Encrypted) {
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
    TZipArchiveWriter zip(*sDest);
    if (const int err = zip.BeginEntry(e))
        return structureFailure(err);
    // Encrypted data are always deflated inside the encryption.
    TBlockPump pump = Pump();
    TEntryDataStep data = DataStep(pump);
    if (const int result = data.Write(*sSource, size, size > 0 && (Compress || e.Encrypted), *sDest)) {
        TakeCounts(data, pump);
        return result;
    }
    TakeCounts(data, pump);
    int err = zip.EndEntry(FCrc, quint64(UTotal));
    if (!err)
        err = zip.WriteDirectory();
    return err ? structureFailure(err) : 0;
}

int TGZipThread::VerifyZip()
{
    return VerifyWith([this](TStream& copy, TBlockPump& pump) {
        return TEntryVerifier(*this, pump, FCrypting).VerifyZipEntry(copy, FCrcKnown, FCrc);
    });
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
        // No document summary for an archive.
        result = CopyWith(false, [this] { return WriteZipEntry(FCompress); });
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
    : TEngineThread(APriority)
    , sSource(ASource)
    , sDest(ADest)
    , FLength(ALength)
    , FBufSize(BufferSizeOf(ABufSize))
    , FSpeedLimit(ASpeedLimit)
{
    if (!ASuspend)
        Start();
}

TCopyStreamThread::~TCopyStreamThread()
{
    StopAndWait();
}

bool TCopyStreamThread::Done() const
{
    if (FOnSProgress)
        DeliverWaitingCall();
    return Finished();
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
            CallInCreator([this] { FOnSProgress(FAction, FSpeedLimit, FCount); });
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
    SetFinished();
}

} // namespace kes
