// Header layouts of the gzip member and the one-entry zip archive the copy
// workers write, and the readers the verification uses.
//
// The readers treat every file as hostile: each length and offset is
// checked against what is left before it is used, nothing is allocated
// from a size field beyond 64 KiB, and every failure ends in a result
// number: 4 (read failure) or 8 (illegal header).
#pragma once

#include "fileengine/Streams.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace kes {

// Little-endian values of n bytes (n <= 8), as every header here holds them.
inline void PutLe(unsigned char* p, quint64 v, int n)
{
    for (int i = 0; i < n; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline quint64 GetLe(const unsigned char* p, int n)
{
    quint64 v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

// --- gzip -------------------------------------------------------------------

inline constexpr int kGzSizeSubfieldOffset = 16;

// The header as written: FLG = FEXTRA (+ FNAME) (+ $20 encrypted), the
// size subfield (sizes 0, patched later), the key-mode subfield "VL" when
// keyMode >= 0, the name (Latin-1 or UTF-8, OS byte 0 or 11).
QByteArray GzHeaderBytes(const QString& name, int keyMode, quint32 mtime);

struct TGzHeaderInfo {
    QString Name;
    quint32 MTime = 0;
    int Flags = 0;
    int OsByte = 0;
    int KeyMode = -1; // -1: not encrypted
    qint64 CSize = -1; // -1: unknown
    qint64 USize = -1; // -1: unknown
    bool USizeFromTrailer = false; // taken from ISIZE (size modulo 2^32)
    qint64 DataOffset = 0; // where the compressed data begin
};

// Reads the header from the stream's start. Returns 0, 8 (not a gzip
// header or an inconsistent one) or 4 (read failure); message says why.
int ReadGzHeader(TStream& stream, TGzHeaderInfo& info, QString& message);

// --- zip --------------------------------------------------------------------

inline constexpr quint32 kZipLocalSignature = 0x04034B50;
inline constexpr quint32 kZipCentralSignature = 0x02014B50;
inline constexpr quint32 kZipDescriptorSignature = 0x08074B50;
inline constexpr quint32 kZipEndSignature = 0x06054B50;
inline constexpr quint32 kZip64EndSignature = 0x06064B50;
inline constexpr quint32 kZip64LocatorSignature = 0x07064B50;

// Where the zip writer switches to Zip64: an entry whose source is larger
// than EntryThreshold is a Zip64 entry; a value of FieldLimit or more does
// not fit a 32-bit field; more entries than EntryCountLimit do not fit the
// classic end record. Tests lower them to exercise the structures without
// writing gigabytes or thousands of entries.
struct TZip64Limits {
    quint64 EntryThreshold = 0xFF000000u;
    quint64 FieldLimit = quint64(1) << 32;
    quint64 EntryCountLimit = 0xFFFF;
};
const TZip64Limits& Zip64Limits();
void SetZip64Limits(const TZip64Limits& limits);

// One entry as the writer describes it.
struct TZipEntry {
    QByteArray Name; // stored name bytes
    bool Utf8 = false;
    bool Zip64 = false;
    bool Encrypted = false;
    bool Ae2 = false;
    int KeyMode = 0;
    int Method = 0; // 0 stored, 8 deflated, 99 encrypted
    int InnerMethod = 0; // AES extra: method inside the encryption
    quint32 DosTime = 0;
    quint32 Crc = 0;
    quint64 CSize = 0;
    quint64 USize = 0;
    quint32 ExternalAttr = 0;
    quint64 LocalOffset = 0; // where the local header begins in the archive
    // CRC and sizes follow the data in a data descriptor (flag $0008)
    // instead of being patched into the local header.
    bool DataDescriptor = false;
    int BaseFlags = 0x0080; // carried by every entry ($0080 in one-entry archives)
    int ExtraFlags = 0; // further flags (an encrypted name: $0100)
    QByteArray ExtraFields; // further extra fields, in the local and the central header
    quint32 DiskStart = 0; // the segment the local header lies in

    int Version() const;
    int Flags() const;
    int LocalExtraLength() const;
};

// The local header with name and extras, sizes and CRC as zeros
// ($FFFFFFFF for the sizes of a Zip64 entry).
QByteArray ZipLocalHeader(const TZipEntry& e);
// Puts the entry's CRC (unless AE-2) and sizes into its local header.
void FillZipLocalHeader(QByteArray& header, const TZipEntry& e);
// Offset of the 64-bit sizes in the local Zip64 extra, from the header's
// start.
int ZipLocal64SizesOffset(const TZipEntry& e);
// The data descriptor after an entry's data: signature, CRC (0 for AE-2)
// and the sizes (8 bytes each for a Zip64 entry).
QByteArray ZipDataDescriptor(const TZipEntry& e);
// The central header with its extras. Sizes of a Zip64 entry and a local
// offset that do not fit 32 bits move into the Zip64 extra, in the order
// uncompressed size, compressed size, offset.
QByteArray ZipCentralHeader(const TZipEntry& e);
// The end records of a central directory: the Zip64 end record and its
// locator first when the directory's end or size do not fit 32 bits or
// the entries are too many for the classic record.
QByteArray ZipEndRecords(quint64 entries, quint64 directoryOffset, quint64 directorySize);

// The end records of an archive that may be split into segments: offsets
// are counted from the start of the segment they lie in.
struct TZipEndInfo {
    quint64 Entries = 0;
    quint64 EntriesHere = 0; // central headers in the last segment
    quint64 DirectoryOffset = 0; // in the segment DirectoryDisk
    quint64 DirectorySize = 0;
    quint64 EndOffset = 0; // where the end records begin in the last segment
    quint32 Disk = 0; // the last segment
    quint32 DirectoryDisk = 0;
    bool Zip64() const;
};
QByteArray ZipEndRecords(const TZipEndInfo& end);
// Room the end records take.
int ZipEndRecordsSize(const TZipEndInfo& end);

// One entry of a central directory as read back.
struct TZipCentralInfo {
    QByteArray StoredName;
    QString Name;
    int Flags = 0;
    int Method = 0;
    quint32 DosTime = 0;
    quint32 Crc = 0;
    qint64 CSize = 0;
    qint64 USize = 0;
    qint64 Offset = 0; // in its segment
    quint32 Disk = 0;
    quint32 ExternalAttr = 0;
    int KeyMode = 0;
    int AesVersion = 0;
    int AesMethod = 0;
    bool IsDirectory() const { return StoredName.endsWith('/'); }
};

// Reads the central directory of a whole archive: segmentStarts holds
// where each segment begins in the stream (the parts one after the other;
// {0} for an archive of one file). 0, 8 (damaged or missing structures) or
// 4 (read failure); message says why.
int ReadZipDirectory(TStream& stream, const std::vector<qint64>& segmentStarts,
    std::vector<TZipCentralInfo>& entries, QString& message);

struct TZipLocalInfo {
    int Version = 0;
    int Flags = 0;
    int Method = 0;
    quint32 DosTime = 0;
    quint32 Crc = 0;
    qint64 CSize = 0;
    qint64 USize = 0;
    QByteArray StoredName;
    QString Name;
    int KeyMode = 0; // from the AES extra
    int AesVersion = 0; // 1 = AE-1, 2 = AE-2, 0 = none
    int AesMethod = 0;
    qint64 DataOffset = 0;
    bool Encrypted() const { return (Flags & 1) != 0; }
};

// Reads the local header at the stream's start: 0 or 8.
int ReadZipLocalHeader(TStream& stream, TZipLocalInfo& info, QString& message);
// Checks the central directory and end records that follow the entry's
// data against the local header: true when they describe this one entry.
bool CheckZipDirectory(TStream& stream, const TZipLocalInfo& local, QString& message);

} // namespace kes
