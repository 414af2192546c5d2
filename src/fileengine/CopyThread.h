// Copy workers: one file copied on its own thread, as a plain copy, a gzip
// member, a one-entry zip archive or an encrypted copy, with its metadata,
// an optional verification and an error word.
//
// A worker never raises: every outcome, cancellation included, ends in
// DoneThread, which records the error word (CopyErrorText words it) and
// sets Done. The creator polls Done, then reads ErrorCode, Ratio and
// SysErrorMsg and deletes the worker.
//
// Threads: a worker is a QThread. While it runs, only Paused (a
// manual-reset event) and CancelThread (a flag) are meant for it. Progress
// calls (OnProgress) are delivered synchronously through the event loop of
// the thread that created the worker (a blocking queued call): a creator
// that sets OnProgress must keep its event loop running while it waits
// (for example QCoreApplication::processEvents between looks at Done).
// Without OnProgress no call is made, so a creator may simply sleep
// between looks at Done. The encryption object's own progress calls run
// on the worker's thread.
#pragma once

#include "fileengine/AesLib.h"
#include "fileengine/CopyErrors.h"
#include "fileengine/CopySteps.h"
#include "fileengine/CopyTypes.h"
#include "fileengine/FileUtils.h"
#include "fileengine/ZStreams.h"

#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace kes {

// An allocator that leaves new elements uninitialised. A transfer buffer is
// always written before it is read; filling 512 KiB with zeros for every
// worker cost more than copying a small file.
template <typename T> struct TUninitAllocator : std::allocator<T> {
    template <typename U> struct rebind {
        using other = TUninitAllocator<U>;
    };
    TUninitAllocator() = default;
    template <typename U> TUninitAllocator(const TUninitAllocator<U>&) noexcept { }
    template <typename U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <typename U, typename... Args> void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using TTransferBuffer = std::vector<char, TUninitAllocator<char>>;

// What every worker of the engine shares: starting one created suspended,
// the pause event, the cancel flag, the finished flag, progress calls that
// run in the creator's thread, and stopping a worker freed while it runs.
class TEngineThread : public QThread {
public:
    ~TEngineThread() override;

    // Starts a worker created suspended.
    void Start();
    bool Paused() const { return FPaused; }
    void SetPaused(bool AValue);

protected:
    explicit TEngineThread(QThread::Priority APriority);
    // Every class with fields of its own calls this first in its
    // destructor, so a running worker never outlives them. A progress call
    // the worker is blocked in is answered without calling the handler.
    void StopAndWait();
    bool UserBreak() const { return FUserBreak.load(std::memory_order_relaxed); }
    bool Finished() const { return FDone.load(std::memory_order_acquire); }
    void SetFinished() { FDone.store(true, std::memory_order_release); }
    // Runs call in the thread that created the worker; the worker waits
    // until it returns.
    void CallInCreator(const std::function<void()>& call);
    // From the creating thread: delivers a progress call the worker waits
    // in, so that a creator that polls without an event loop never blocks
    // its worker for good.
    void DeliverWaitingCall() const;

    TPauseEvent FEvent;
    bool FPaused = false;
    std::atomic<bool> FUserBreak {false};
    std::atomic<bool> FDone {false};
    std::atomic<bool> FDestroying {false};
    QThread::Priority FPriority;
};

// A worker is the host of the steps it runs (CopySteps.h): they wait on its
// pause event, test its cancel flag, report through DoProgress and leave
// the reason of a failure in FSysError or FSysErrMsg.
class TCopyThread : public TEngineThread, protected ICopyStepHost {
public:
    TCopyThread(const QString& ASourceName, const QString& ADestName, bool ASuspend, int ABufSize,
        QThread::Priority APriority = QThread::NormalPriority);
    ~TCopyThread() override;

    bool CheckTime() const { return FCheckTime; }
    void SetCheckTime(bool v) { FCheckTime = v; }
    bool CopyAttr() const { return FCopyAttr; }
    void SetCopyAttr(bool v) { FCopyAttr = v; }
    bool CopyCreationTime() const { return FCopyCrTm; }
    void SetCopyCreationTime(bool v) { FCopyCrTm = v; }
    bool CopyPermissions() const { return FCopyAcl; }
    void SetCopyPermissions(bool v) { FCopyAcl = v; }
    bool CopyStorage() const { return FCopyStorage; }
    void SetCopyStorage(bool v) { FCopyStorage = v; }
    bool CopyAltStreams() const { return FCopyAltStreams; }
    void SetCopyAltStreams(bool v) { FCopyAltStreams = v; }
    bool CopyTimeStamp() const { return FCopyTimeStamp; }
    void SetCopyTimeStamp(bool v) { FCopyTimeStamp = v; }
    bool Overwrite() const { return FOverwrite; }
    void SetOverwrite(bool v) { FOverwrite = v; }
    bool ResetArchiveBit() const { return FResetArchive; }
    void SetResetArchiveBit(bool v) { FResetArchive = v; }
    TShellCopyModes ShellCopy() const { return FShellCopy; }
    void SetShellCopy(TShellCopyModes v) { FShellCopy = v; }
    // Seconds the verification waits for the destination to open.
    int VerifyDelay() const { return FMaxWait; }
    void SetVerifyDelay(int v) { FMaxWait = qMax(0, v); }
    // True: write-through plus sequential scan; false: sequential scan.
    void SetNoWriteCache(bool v);
    // An existing directory, else the system's temporary directory.
    // The system's temporary folder unless one was set (looked up when
    // needed: resolving it costs system calls on every worker).
    QString TempDir() const;
    void SetTempDir(const QString& dir);

    bool Done() const;
    int ErrorCode() const { return FError; }
    int ErrorType() const { return FErrFlag; }
    int Ratio() const { return FRatio; }
    QString SysErrorMsg() const { return FSysErrMsg; }

    // Also becomes the encryption object's progress callback.
    void SetOnProgress(TFileProgressEvent AValue);

    virtual void CancelThread();
    void ReleaseStreams();

protected:
    struct TUnstarted { };
    TCopyThread(TUnstarted, const QString& ASourceName, const QString& ADestName, int ABufSize,
        QThread::Priority APriority);
    void StartUnlessSuspended(bool ASuspend);

    void run() final;
    virtual int Execute();
    virtual void DoneThread(int Result);
    virtual void DoProgress(TFileAction AAction, bool ASpeedLimit, qint64 ACount);

    // Called between the destination's checks and its creation (a seam for
    // tests that change the destination meanwhile).
    virtual void DestinationChecked() { }

    // The step host.
    void WaitIfPaused() override { FEvent.Wait(); }
    bool Cancelled() const override { return UserBreak(); }
    void Progress(TFileAction AAction, bool ASpeedLimit, qint64 ACount) override
    {
        DoProgress(AAction, ASpeedLimit, ACount);
    }
    bool FollowsProgress() const override { return bool(FOnProgress); }
    bool SetSysError(int Code) override;
    void SetErrorMessage(const QString& Text) override { FSysErrMsg = Text; }
    // The data loops over the worker's buffer.
    TBlockPump Pump();

    int OpenCopyStreams();
    // Removes the destination this worker created when Result says that its
    // data are not complete.
    void DiscardIncompleteDestination(int Result);
    // Refuses a destination that is the open source itself (by a link or
    // under the same name): 257 with a message, before anything is opened
    // for writing.
    int RefuseSourceAsDestination();
    // Opens the streams, runs WriteData and finishes the copy (Storage: with
    // the document summary), or releases the streams after a failure.
    int CopyWith(bool Storage, const std::function<int()>& WriteData);
    // Opens the destination for reading back, runs Check on it, closes it.
    int VerifyWith(const std::function<int(TStream&, TBlockPump&)>& Check);
    int PlainCopy();
    int ShellCopyFile();
    int EncryptedCopy();
    int FinishCopy(bool Storage, bool AltStreams, int Attr, const TFileTimestamps& Timestamps, bool Acl);
    int OpenForVerify(const QString& Name);
    int VerifyCopy();
    int VerifyEncryptedCopy();

    QString SourceName, DestName;
    QString SourceNameXL, DestNameXL;
    TFileData SourceFileData;
    std::unique_ptr<TExtFileStream> sSource, sDest;
    TTransferBuffer FBuffer;
    qint64 FBufSize;
    bool FCompress = false, FVerify = false, FOverwrite = false;
    bool FCopyTimeStamp = true, FCopyAttr = true, FCheckTime = true;
    bool FCopyCrTm = false, FCopyStorage = false, FCopyAltStreams = false, FCopyAcl = false;
    bool FResetArchive = false;
    TShellCopyModes FShellCopy;
    quint32 FWriteMode = kFlagSequentialScan;
    // The permission bits the copy takes at the end: what the source grants
    // (owner-only until they are known).
    unsigned FSourceMode = kOwnerOnly;
    // The destination this worker created, and whether its data are complete.
    bool FDestCreated = false, FDestComplete = false;
    quint64 FDestDevice = 0, FDestInode = 0;
    int FMaxWait = 5;
    qint64 UTotal = 0, CTotal = 0;
    quint32 FCrc = 0;
    bool FCrcKnown = false; // FCrc holds the CRC of the whole source
    int FRatio = -1;
    TZCompressionLevel FCompLevel = zcDefault;
    TEncryption* FCrypting = nullptr;
    QString FTmpDir;
    int FError = 0;
    int FErrFlag = kOpCopy;
    int FSysError = 0;
    QString FSysErrMsg;
    TFileProgressEvent FOnProgress;
    TFileAction FAction = acNone;
    qint64 FCount = 0;
    bool FEnableSpLimit = false;
};

class TGZipThread : public TCopyThread {
public:
    TGZipThread(const QString& ASourceName, const QString& ADestName, TEncryption* AEncryption, bool ASuspend,
        int ABufSize, QThread::Priority APriority = QThread::NormalPriority);
    ~TGZipThread() override;

    QString Filename() const { return FName; }
    TZCompressionLevel CompressionLevel() const { return FCompLevel; }
    void SetCompressionLevel(TZCompressionLevel v) { FCompLevel = v; }
    // Threads that deflate one file side by side (1 = one ordinary zlib
    // stream); by default the processor count, at most 4.
    int DeflateThreads() const { return FDeflateThreads; }
    void SetDeflateThreads(int v) { FDeflateThreads = qBound(1, v, 16); }
    quint32 Crc() const { return FCrc; }

protected:
    TGZipThread(TUnstarted, const QString& ASourceName, const QString& ADestName, TEncryption* AEncryption,
        int ABufSize, QThread::Priority APriority);

    int Execute() override;

    // The gzip member around the source's data; its verification.
    int GZipCopy();
    int VerifyGzip();
    // The one-entry zip archive around the source's data; its verification.
    int WriteZipEntry(bool Compress);
    int VerifyZip();

    // The data of a gzip member or zip entry with the worker's options.
    TEntryDataStep DataStep(TBlockPump& pump);
    // UTotal, CTotal, FCrc and FCrcKnown from the data step.
    void TakeCounts(const TEntryDataStep& data, const TBlockPump& pump);

    QString FName;
    int FDeflateThreads;
};

class TWinCopyThread : public TGZipThread {
public:
    TWinCopyThread(const QString& ASourceName, const QString& ADestName, TEncryption* AEncryption,
        TCopyOptions AOptions, bool ASuspend, int ABufSize,
        QThread::Priority APriority = QThread::NormalPriority);
    ~TWinCopyThread() override;

protected:
    int Execute() override;
    bool FZipCompress = false;
};

// Verifies an existing gzip member, one-entry zip archive or encrypted
// copy as the copy workers verify what they wrote; the CRC is taken from
// the file itself. Operation bits: gzip, Zip or Encrypt.
enum TContainerKind { ckAuto, ckGzip, ckZip, ckEncrypted };

class TVerifyFileThread : public TGZipThread {
public:
    TVerifyFileThread(const QString& AFileName, TContainerKind AKind, TEncryption* AEncryption, bool ASuspend,
        int ABufSize, QThread::Priority APriority = QThread::NormalPriority);
    ~TVerifyFileThread() override;

protected:
    int Execute() override;
    TContainerKind FKind;
};

// Copies a byte count from one open stream to another.
class TCopyStreamThread : public TEngineThread {
public:
    TCopyStreamThread(TStream* ASource, TStream* ADest, qint64 ALength, bool ASuspend, bool ASpeedLimit,
        int ABufSize, QThread::Priority APriority = QThread::NormalPriority);
    ~TCopyStreamThread() override;

    bool Done() const;
    int ErrorCode() const { return FError; }
    QString SysErrorMsg() const { return FSysErrMsg; }
    void SetOnProgress(TFileProgressEvent AValue) { FOnSProgress = std::move(AValue); }
    void CancelThread() { FUserBreak = true; }

protected:
    void run() override;

private:
    TStream* sSource;
    TStream* sDest;
    qint64 FLength;
    qint64 FTotal = 0;
    qint64 FBufSize;
    TTransferBuffer FBuffer;
    bool FSpeedLimit;
    int FError = 0;
    QString FSysErrMsg;
    TFileProgressEvent FOnSProgress;
    TFileAction FAction = acNone;
    qint64 FCount = 0;
};

} // namespace kes
