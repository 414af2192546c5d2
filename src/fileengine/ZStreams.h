// The engine's adapters around zlib's raw deflate (window bits -15, memory
// level 8, default strategy).
#pragma once

#include "fileengine/Streams.h"

#include <QString>
#include <memory>
#include <vector>

namespace kes {

// Compression levels.
enum TZCompressionLevel { zcNone, zcFastest, zcDefault, zcMax };
int ZlibLevel(TZCompressionLevel level);

// Write-only: the data written are deflated; the output goes to the
// destination stream in blocks of 64 KiB and, after Finish, completely.
//
// With threads > 1 (and a level above zcNone) the input is cut into blocks
// of kDeflateBlockSize that are deflated side by side, each primed with the
// last 32 KiB of the block before it and ended with a sync flush, so that
// their outputs join into one ordinary deflate stream (ended by an empty
// final block). The output then goes to the destination block by block.
class TDeflateWriter {
public:
    static constexpr qint64 kDeflateBlockSize = 0x100000;

    TDeflateWriter(TStream& dest, TZCompressionLevel level, int threads = 1);
    ~TDeflateWriter();
    TDeflateWriter(const TDeflateWriter&) = delete;
    TDeflateWriter& operator=(const TDeflateWriter&) = delete;

    // 0 or the destination's error code.
    int Write(const void* data, qint64 length);
    // Ends the deflate stream and writes the rest.
    int Finish();
    // Compressed bytes handed to the destination so far.
    qint64 TotalOut() const { return FTotalOut; }

private:
    int Deflate(int flush);
    int SubmitBlock();
    int WriteOldestBlock();
    struct State;
    struct Parallel;
    std::unique_ptr<State> FState;
    std::unique_ptr<Parallel> FParallel;
    TStream& FDest;
    qint64 FTotalOut = 0;
};

// Read-only: inflates at most compressedLength bytes of the source (the
// rest of the source when it is 0). At the end of the deflate data the
// source is moved back to the first byte that was not used.
class TInflateReader {
public:
    enum TStatus { isOk, isEnd, isDataError, isReadError, isTruncated };

    TInflateReader(TStream& source, qint64 compressedLength, qint64 inputBufferSize = 0x10000);
    ~TInflateReader();
    TInflateReader(const TInflateReader&) = delete;
    TInflateReader& operator=(const TInflateReader&) = delete;

    // Produces up to count bytes (produced may be 0 only with a status
    // other than isOk).
    TStatus Read(void* buffer, qint64 count, qint64& produced);
    // The compressed bytes after the end of the deflate data that lay
    // within compressedLength.
    qint64 UnusedInput() const { return FUnused; }
    // zlib's message, or the read error of the source.
    const QString& Message() const { return FMessage; }
    int ReadError() const { return FReadError; }

private:
    struct State;
    std::unique_ptr<State> FState;
    TStream& FSource;
    qint64 FRemaining;
    bool FUnbounded;
    bool FSourceEnded = false;
    qint64 FUnused = 0;
    QString FMessage;
    int FReadError = 0;
    TStatus FStatus = isOk;
};

} // namespace kes
