// A gzip member as the engine writes it: the header with the 16-byte size
// subfield (and the "VL" key-mode subfield when the data are encrypted),
// the data, the trailer; the sizes are patched into the header when the
// data are complete. Layout and reader: Containers.h; verification:
// EntryVerifier.h.
#pragma once

#include "fileengine/Streams.h"

#include <QString>

namespace kes {

// Writes one member at the stream's position; several writers one after
// the other make a stream of several members.
class TGzipMemberWriter {
public:
    explicit TGzipMemberWriter(TStream& dest);

    // The header; keyMode -1 for data that are not encrypted. 0 or the
    // system code of the failed write.
    int WriteHeader(const QString& name, int keyMode, quint32 mtime);
    // Where the data begin (the position after the header).
    qint64 DataStart() const { return FDataStart; }
    // After the data, which end at the stream's position: CRC-32 (0 for
    // encrypted data) and ISIZE, then both sizes in the header's size
    // subfield. The position is the member's end afterwards.
    int WriteTrailer(quint32 crc, qint64 uncompressedSize);
    // Bytes between header and trailer (known after WriteTrailer).
    qint64 CompressedSize() const { return FCompressedSize; }

private:
    TStream& FDest;
    qint64 FStart = 0;
    qint64 FDataStart = 0;
    qint64 FCompressedSize = 0;
};

} // namespace kes
