// The steps the copy workers are made of, as plain classes over the
// engine's streams: the data loops (copy, deflate, encrypt, checksum,
// inflate), the AES layer as a step, and the data of one container entry.
// The container formats themselves are in GzipMember and ZipArchive.
//
// A step runs on the thread of its host (a copy worker, or a test), asks
// the host to wait while it is paused, tells it its progress, and stops
// once per buffer when the host is cancelled. Its results are the engine's
// result numbers (severity + number, CopyErrors.h; 0 = success); the reason
// of a failure goes to the host as a system code or as a text.
#pragma once

#include "fileengine/AesLib.h"
#include "fileengine/CopyTypes.h"
#include "fileengine/Streams.h"
#include "fileengine/ZStreams.h"

#include <QString>
#include <memory>

namespace kes {

class ICopyStepHost {
public:
    virtual ~ICopyStepHost() = default;

    // Returns at once unless the work is paused.
    virtual void WaitIfPaused() = 0;
    virtual bool Cancelled() const = 0;
    // A negative count announces a phase's bytes; later calls pass the
    // running count.
    virtual void Progress(TFileAction action, bool speedLimit, qint64 count) = 0;
    // Whether anybody follows the progress (else the loops may take larger
    // steps where the system moves the data).
    virtual bool FollowsProgress() const = 0;
    // Keeps the system code of a failure; true when code is not 0.
    virtual bool SetSysError(int code) = 0;
    // Keeps the text of a failure that has no system code.
    virtual void SetErrorMessage(const QString& text) = 0;

    // A failed write: 263 (low disk space) for a full disk, else 261.
    int WriteFailure(int code);
};

// The data loops, one buffer at a time: each waits while the host is
// paused, reports progress and ends with 128 when the host is cancelled.
// Total and Crc count what the loops read since construction (or Restart).
class TBlockPump {
public:
    TBlockPump(ICopyStepHost& host, char* buffer, qint64 bufferSize);

    // Copies length bytes from source to dest (null: read only; progress
    // acCopy, or acPrepare without dest). With inSystem and two files the
    // system moves the data (no CRC then). A source that ends early, or a
    // read failure: 260; a write failure: 263 or 261.
    int Copy(TStream& source, TStream* dest, bool speedLimit, qint64 length, bool inSystem = false);
    // Deflates the rest of source into writer and finishes it (progress
    // acCompress). 260, 263, 261; a source with data that gave no output
    // at all is 263.
    int Compress(TStream& source, TDeflateWriter& writer);
    // Encrypts the rest of source block by block into dest with the set-up
    // cipher of crypt (progress acEncrypt). 260; a write failure 263 or 266.
    int Encrypt(TStream& source, TCrypt& crypt, TStream& dest);
    // Reads the rest of source for its CRC (progress action). A read
    // failure is 268.
    int Checksum(TStream& source, TFileAction action);
    // Inflates compressedSize bytes of source without keeping the output
    // (progress acUnCompress); with exactSize more output than
    // uncompressedSize fails. Damaged or cut data, and data that end before
    // compressedSize: 268.
    int Inflate(TStream& source, qint64 compressedSize, qint64 uncompressedSize, bool exactSize);
    // Reads size stored bytes for their CRC (progress acPrepare); data that
    // end early: 268.
    int ReadStored(TStream& source, qint64 size);

    qint64 Total() const { return FTotal; }
    quint32 Crc() const { return FCrc; }
    void Restart();

private:
    // Waits while paused, then reads one buffer: 0, or readFailure with the
    // system code kept.
    int NextBlock(TStream& source, qint64& got, int readFailure);
    void Count(const char* data, qint64 length);

    ICopyStepHost& FHost;
    char* FBuffer;
    qint64 FBufSize;
    qint64 FTotal = 0;
    quint32 FCrc = 0;
};

// The AES layer as a step of a worker: results instead of TOpResult.
class TCryptStep {
public:
    TCryptStep(ICopyStepHost& host, TEncryption& crypt);

    // Salt, check value, the rest of source encrypted, code. 128; a full
    // disk 263; any other failure 266.
    int Encrypt(TStream& source, TStream& dest);
    // Decrypts length bytes of source (the whole encrypted stream) without
    // output, checking password and code. 128; wrong password or damaged
    // data 268.
    int Verify(TStream& source, qint64 length);
    // An encrypted copy: the 10-byte header (written to dest as it is),
    // salt and check value, the source encrypted by pump, the code. A
    // failed header write 263 or 261; 263 or 266 for the layer's own parts.
    int WriteCopy(TBlockPump& pump, TStream& source, const QByteArray& header, TStream& dest);

private:
    int LayerFailure();

    ICopyStepHost& FHost;
    TEncryption& FCrypt;
};

// The data of one gzip member or zip entry, written at the destination's
// position: deflated or stored, or, with encryption, deflated first into a
// temporary stream (memory, or above 50 MiB an unnamed file in the
// temporary folder) whose content is then encrypted into the destination.
class TEntryDataStep {
public:
    TEntryDataStep(ICopyStepHost& host, TBlockPump& pump, TEncryption* crypt, TZCompressionLevel level,
        int deflateThreads, const QString& tempDir);

    // The source has size bytes from its position; deflate chooses deflate
    // data over stored ones. 257 when the temporary file cannot be made;
    // 260 when the source's size changed; else the steps' results.
    int Write(TStream& source, qint64 size, bool deflate, TStream& dest);

    qint64 SourceBytes() const { return FSourceBytes; }
    qint64 OutputBytes() const { return FOutputBytes; }
    // Whether the pump's CRC is that of the whole source.
    bool CrcKnown() const { return FCrcKnown; }

    // Where the data wait before they are encrypted.
    static constexpr qint64 kMemoryLimit = 0x3200000;

private:
    int OpenTemporary(qint64 size, std::unique_ptr<TStream>& stream);
    int CheckSize(qint64 size);

    ICopyStepHost& FHost;
    TBlockPump& FPump;
    TEncryption* FCrypt;
    TZCompressionLevel FLevel;
    int FThreads;
    QString FTempDir;
    qint64 FSourceBytes = 0;
    qint64 FOutputBytes = 0;
    bool FCrcKnown = false;
};

} // namespace kes
