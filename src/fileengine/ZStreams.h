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
class TDeflateWriter {
public:
    TDeflateWriter(TStream& dest, TZCompressionLevel level);
    ~TDeflateWriter();
    TDeflateWriter(const TDeflateWriter&) = delete;
    TDeflateWriter& operator=(const TDeflateWriter&) = delete;

    // 0 or the destination's error code.
    int Write(const void* data, qint64 length);
    // Ends the deflate stream and writes the rest.
    int Finish();
    // Compressed bytes handed to the destination so far.
    qint64 TotalOut() const { return m_totalOut; }

private:
    int Deflate(int flush);
    struct State;
    std::unique_ptr<State> m_state;
    TStream& m_dest;
    qint64 m_totalOut = 0;
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
    qint64 UnusedInput() const { return m_unused; }
    // zlib's message, or the read error of the source.
    const QString& Message() const { return m_message; }
    int ReadError() const { return m_readError; }

private:
    struct State;
    std::unique_ptr<State> m_state;
    TStream& m_source;
    qint64 m_remaining;
    bool m_unbounded;
    bool m_sourceEnded = false;
    qint64 m_unused = 0;
    QString m_message;
    int m_readError = 0;
    TStatus m_status = isOk;
};

} // namespace kes
