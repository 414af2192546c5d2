// TZipWrite: a zip archive of any number of entries (files, streams,
// directory entries), optionally AES-encrypted with a password, with
// encrypted entry names, and split into segments of a maximum size (the
// earlier parts get the extensions z01, z02 ...; the last keeps the
// archive's name), with a verification pass that reads every entry back.
//
// Entry data are produced by a worker thread, one entry at a time, while
// the calling thread waits: it delivers the worker's progress calls (its
// own event loop keeps running), polls every 10 ms and stops waiting when
// OnTimeout says so (the worker is cancelled then). Cancel, Suspend and
// Resume act on the running worker and may be called from the progress
// handlers. Entries of at most kInlineEntrySize bytes are produced on the
// calling thread itself: Cancel still stops them, Suspend does not.
//
// AddBatch takes a sequence of files and directories: a small pool (the
// deflate thread setting counts the calling thread, which prepares items
// too while it would wait) reads, deflates, encrypts and CRCs the small
// files ahead, a bounded number at a time, while the calling thread writes
// the entries strictly in the given order. Larger files, and
// any file whose preparation failed, are added by the calling thread the
// ordinary way when their turn comes, so each item's error is the one
// AddFile would raise for it. Cancel takes effect at the next entry
// boundary (or stops the large entry running); Suspend holds only large
// entries, as above.
//
// Stored names always use forward slashes. A name that would extract
// outside the target folder (absolute, with a drive, with a ".." part;
// backslashes count as separators) is refused.
//
// Every operation raises EZipError on failure. After a failed AddFile or
// AddStream the archive is cut back to where the entry began and can still
// be finished. An archive that was never finished with WriteDirectory is
// deleted when the object goes, so that no cut-off archive is left behind
// under the archive's name.
#pragma once

#include "fileengine/AesLib.h"
#include "fileengine/Containers.h"
#include "fileengine/CopyThread.h"
#include "fileengine/CopyTypes.h"
#include "fileengine/FileUtils.h"
#include "fileengine/ZStreams.h"

#include <QString>
#include <QStringList>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

namespace kes {

// An error of the archive writer. ZipError is the error word: the number
// given (severity and number, for example 270 for a missing file) with the
// operation bits of "Zip"; CopyErrorText words it.
class EZipError : public std::exception {
public:
    EZipError(const QString& ErrString, int ErrCode, const QString& ASysErrMsg);
    const char* what() const noexcept override { return FUtf8.constData(); }
    const QString& Message() const { return FMsg; }
    int ZipError() const { return FZipError; }
    int SysError() const { return FSysError; }
    const QString& SysErrorMsg() const { return FSysErrMsg; }
    void SetSysError(int code) { FSysError = code; }

private:
    QString FMsg;
    QByteArray FUtf8;
    int FZipError;
    int FSysError = 0;
    QString FSysErrMsg;
};

// The name of segment n (1-based) of an archive: the extension replaced by
// "z" and two digits ("a.zip" -> "a.z01").
QString ZipSegmentName(const QString& ZipName, int n);
// The parts of an archive on disk: its segments z01, z02 ... as long as
// they exist, then the archive itself.
QStringList ZipPartNames(const QString& ZipName);

// An entry name as it is stored: separators turned into "/", "." parts
// and repeated separators dropped. False for a name that would leave the
// target folder or is empty.
bool SafeZipEntryName(const QString& Name, QString& Stored);

// A worker of the archive: runs one job (an entry's data, a verification)
// on its own thread as the host of the copy steps.
class TZipWorker : public TEngineThread, public ICopyStepHost {
public:
    using TJob = std::function<int(TZipWorker&)>;
    TZipWorker(TJob AJob, int ABufSize, bool ASpeedLimit, QThread::Priority APriority);
    ~TZipWorker() override;

    bool Done() const;
    // Runs the job on the calling thread instead (a pause has no effect
    // there; a cancel does).
    void RunInline();
    int ErrorCode() const { return FError; }
    int SysError() const { return FSysError; }
    QString SysErrorMsg() const;
    void SetOnProgress(TFileProgressEvent AValue) { FOnProgress = std::move(AValue); }
    void CancelThread() { FUserBreak = true; }
    TBlockPump Pump() { return TBlockPump(*this, FBuffer.data(), qint64(FBuffer.size())); }
    bool SpeedLimit() const { return FSpeedLimit; }

    void WaitIfPaused() override
    {
        if (!FInline)
            FEvent.Wait();
    }
    bool Cancelled() const override { return UserBreak(); }
    void Progress(TFileAction action, bool speedLimit, qint64 count) override;
    bool FollowsProgress() const override { return bool(FOnProgress); }
    bool SetSysError(int code) override;
    void SetErrorMessage(const QString& text) override { FSysErrMsg = text; }

protected:
    void run() override;

private:
    TJob FJob;
    bool FInline = false;
    TTransferBuffer FBuffer;
    bool FSpeedLimit;
    int FError = 0;
    int FSysError = 0;
    QString FSysErrMsg;
    TFileProgressEvent FOnProgress;
};

// Reads an entry back from an archive (all its parts one after the other in
// archive, the segment starts in starts): its local header against the
// central one, then its data, inflated or decrypted, against CRC and size.
// 0, 128 or 268 (the reason goes to the host).
int VerifyZipArchiveEntry(TZipWorker& host, TEncryption* crypt, TStream& archive,
    const std::vector<qint64>& starts, const TZipCentralInfo& entry);

// All parts of an archive read as one stream (for reading only).
class TZipPartsStream : public TStream {
public:
    // 0 or the system code of the part that could not be opened.
    int Open(const QStringList& names);
    const std::vector<qint64>& Starts() const { return FStarts; }

    int Read(void* buffer, qint64 count, qint64& done) override;
    int Write(const void* buffer, qint64 count, qint64& done) override;
    int Seek(qint64 position) override;
    qint64 Position() const override { return FPos; }
    qint64 Size() const override { return FSize; }
    int Truncate() override;

private:
    std::vector<std::unique_ptr<TExtFileStream>> FParts;
    std::vector<qint64> FStarts;
    qint64 FSize = 0;
    qint64 FPos = 0;
};

// Runs a worker to its end and returns its result (the archive's waiting
// loop); none: the caller's thread simply waits.
using TZipRunner = std::function<int(TZipWorker&, const TFileProgressEvent&)>;

// Verifies an archive whose parts are given in order (segments, then the
// archive itself): its central directory and end records, then every
// entry. 0 or the result number; entryName receives the name of the entry
// that failed (unchanged when the structures did), message the reason.
int VerifyZipParts(const QStringList& parts, TEncryption* crypt, int bufSize, QString& entryName,
    QString& message, const TFileProgressEvent& progress = {}, bool speedLimit = false,
    const TZipRunner& run = {});

using TTimeoutEvent = std::function<bool()>;

// One item of a batch: a file stored under Stored, or (Dir) an existing
// directory stored relative to the base directory, as AddDir does.
struct TZipBatchItem {
    QString Source;
    QString Stored;
    bool Compress = true;
    bool Dir = false;
};
// A failed item of a batch (its index and error): true goes on with the
// next item, false ends the batch with the error. A cancel always ends it.
using TZipBatchError = std::function<bool(size_t index, const EZipError& error)>;

struct TZipPrepared;

using TFullDiskEvent = std::function<bool(const QString& ZipName)>;

class TZipWrite {
public:
    // Creates the archive file; a password that is not empty encrypts every
    // entry with key mode AKeyMode (1-3, else chosen from its length). With
    // AMaxSize > 0 the archive is split into segments of at most that many
    // bytes (at least kMinSegmentSize).
    TZipWrite(const QString& ZipName, const QString& BasicDirectory, const QByteArray& Password = {},
        int AKeyMode = 0, int ABufSize = 0);
    TZipWrite(const QString& ZipName, const QString& BasicDirectory, qint64 AMaxSize,
        const QByteArray& Password = {}, int AKeyMode = 0, int ABufSize = 0);
    ~TZipWrite();
    TZipWrite(const TZipWrite&) = delete;
    TZipWrite& operator=(const TZipWrite&) = delete;

    static constexpr qint64 kMinSegmentSize = 0x10000;
    // Entries up to this size are produced on the calling thread: for a
    // small file, starting a thread cost more than deflating it.
    static constexpr qint64 kInlineEntrySize = 0x100000;

    // Without FileName the stored name is SourceName relative to the base
    // directory. ARatio receives 1000 x compressed / uncompressed (or -1).
    void AddFile(const QString& SourceName, bool ACompress);
    void AddFile(const QString& SourceName, const QString& FileName, bool ACompress, int* ARatio = nullptr);
    // Stores FilePath (relative to the base directory) with the data of
    // SourceName.
    void AddFileFrom(const QString& SourceName, const QString& FilePath, int* ARatio, bool ACompress);
    // The rest of ASource from its position.
    void AddStream(TStream& ASource, const QString& AName, bool ACompress);
    // An existing directory, stored relative to the base directory.
    void AddDir(const QString& DirName);
    // Removes the last entry when it is a directory entry (and returns its
    // name); else empty.
    QString RemLastDir();
    // Every file in Directory matching one of the masks in Filter (";"
    // between them), compressed, stored under SubDir. Count grows per file
    // added; a file that fails adds its message to ErrList and the next one
    // is tried.
    void AddFiles(const QString& Directory, const QString& Filter, const QString& SubDir, int& Count,
        QStringList* ErrList = nullptr);
    // The items in order, small files prepared ahead by a pool (see above).
    // Without onError the first failure ends the batch.
    void AddBatch(const std::vector<TZipBatchItem>& items, const TZipBatchError& onError = {});

    void WriteDirectory();
    void Verify();
    void DeleteZipFile();
    void RenameZipFile(const QString& NewName);

    void Suspend();
    void Resume();
    void Cancel();

    void SetOnProgress(TFileProgressEvent v) { FOnProgress = std::move(v); }
    void SetOnVerifyProgress(TFileProgressEvent v) { FOnVerifyProgress = std::move(v); }
    void SetOnTimeout(TTimeoutEvent v) { FOnTimeout = std::move(v); }
    void SetOnFullDisk(TFullDiskEvent v) { FOnFullDisk = std::move(v); }
    bool ErrorFlag() const { return FErrorFlag; }
    bool IsEmpty() const { return FFileList.empty(); }
    bool IsTemp() const { return FIsTemp; }
    void SetIsTemp(bool v) { FIsTemp = v; }
    qint64 FilePosition() const;
    int NumberOfSegments() const { return FNumSeg; }
    QThread::Priority ThreadPriority() const { return FPriority; }
    void SetThreadPriority(QThread::Priority v) { FPriority = v; }
    qint64 MaxSize() const { return FMaxSize; }
    QString Directory() const { return FBaseDir; }
    void SetDirectory(const QString& v);
    bool EncryptNames() const { return FEncNames; }
    // Only while a password is set.
    void SetEncryptNames(bool v) { FEncNames = v && FEncryption != nullptr; }
    QString TempDir() const { return FTempDir; }
    void SetTempDir(const QString& v) { FTempDir = v; }
    TZCompressionLevel CompressionLevel() const { return FLevel; }
    void SetCompressionLevel(TZCompressionLevel v) { FLevel = v; }
    void SetDeflateThreads(int v) { FDeflateThreads = qBound(1, v, 16); }
    const QString& ZipName() const { return FZName; }
    // The entries written so far, in order.
    const std::vector<TZipEntry>& Entries() const { return FFileList; }

private:
    void Init(const QString& ZipName, const QString& BasicDirectory, qint64 AMaxSize,
        const QByteArray& Password, int AKeyMode, int ABufSize);
    void AddFileCore(const QString& SourceName, const QString& StoredName, bool ACompress, int* ARatio);
    // One entry with the data of source (size bytes from its position).
    void AddEntry(TStream& source, qint64 size, const QString& stored, bool compress, TZipEntry e,
        const QString& what, int* ARatio);
    // The stored name bytes, flags and name extra of an entry.
    bool MakeName(const QString& Stored, TZipEntry& e);
    // Makes room for count bytes in the current segment (a new one when
    // they do not fit): 0 or a result number.
    int Reserve(qint64 count);
    int NewSegment();
    // Writes count bytes at the end, across segments: 0 or the system code.
    int WriteSpanned(ICopyStepHost& host, TStream& source, qint64 count);
    // Writes an entry whose data a batch's pool made.
    void WritePrepared(TZipPrepared& p, const QString& StoredName, bool compress);
    // Runs a job to its end (inline: on this thread); the worker's result
    // number.
    int RunWorker(TZipWorker& worker, const TFileProgressEvent& progress, bool inlineJob = false);
    // Cuts the archive back to an entry's start (segment and offset).
    void TruncateTo(quint32 segment, qint64 offset);
    [[noreturn]] void Fail(
        const QString& pattern, const QString& arg, int number, int sysError, const QString& sysMsg);
    bool SpeedLimit() const { return !FIsTemp; }

    std::unique_ptr<TExtFileStream> FStream;
    QString FZName;
    QString FBaseDir;
    std::vector<TZipEntry> FFileList;
    qint64 FBufferSize = 0x80000;
    bool FIsTemp = false;
    bool FEncNames = false;
    std::unique_ptr<TEncryption> FEncryption;
    // Kept for the batch's threads: each encrypts with its own cipher.
    QByteArray FPassword;
    bool FErrorFlag = false;
    bool FFinished = false;
    TFileProgressEvent FOnProgress;
    TFileProgressEvent FOnVerifyProgress;
    TTimeoutEvent FOnTimeout;
    TFullDiskEvent FOnFullDisk;
    QThread::Priority FPriority = QThread::NormalPriority;
    QString FTempDir;
    int FNumSeg = 1;
    quint32 FCurSeg = 0;
    qint64 FMaxSize = 0;
    bool FCanceled = false;
    TZipWorker* ZipThread = nullptr;
    TZCompressionLevel FLevel = zcDefault;
    int FDeflateThreads = 0;
};

} // namespace kes
