// Zip archives as the engine writes them: entry after entry
// (local header, data, then the CRC and sizes patched into the local header
// or written in a data descriptor), and one central directory with its end
// records (Zip64 where values do not fit) at the end. Layouts and readers:
// Containers.h; verification: EntryVerifier.h.
#pragma once

#include "fileengine/Containers.h"
#include "fileengine/Streams.h"

#include <vector>

namespace kes {

// Every call returns 0 or the system code of the failed write or seek.
class TZipArchiveWriter {
public:
    explicit TZipArchiveWriter(TStream& archive);

    // Begins an entry at the archive's position: its local header with name
    // and extras (CRC and sizes not yet known).
    int BeginEntry(const TZipEntry& entry);
    // Where the data of the entry begun last begin.
    qint64 DataStart() const { return FDataStart; }
    // Ends the entry begun last, whose data end at the archive's position:
    // its CRC and sizes go into the local header, or into a data descriptor
    // after the data; the position is the entry's end afterwards.
    int EndEntry(quint32 crc, quint64 uncompressedSize);
    // Cuts the archive back to where the entry begun last began, as if it
    // had never been begun.
    int AbandonEntry();
    // The central directory of every ended entry, then the end records.
    int WriteDirectory();

    // The ended entries, with their sizes and offsets.
    const std::vector<TZipEntry>& Entries() const { return FEntries; }

private:
    TStream& FArchive;
    std::vector<TZipEntry> FEntries;
    TZipEntry FCurrent;
    bool FInEntry = false;
    qint64 FDataStart = 0;
};

} // namespace kes
