#include "fileengine/Containers.h"

#include "fileengine/NameCodec.h"
#include "frame/I18n.h"

#include <limits>

namespace kes {

namespace {

class TLeWriter {
public:
    void U8(unsigned v) { FBytes.append(char(v & 0xFF)); }
    void U16(unsigned v)
    {
        U8(v);
        U8(v >> 8);
    }
    void U32(quint32 v)
    {
        U16(v & 0xFFFF);
        U16(v >> 16);
    }
    void U64(quint64 v)
    {
        U32(quint32(v));
        U32(quint32(v >> 32));
    }
    void Bytes(const QByteArray& b) { FBytes.append(b); }
    const QByteArray& Data() const { return FBytes; }

private:
    QByteArray FBytes;
};

// Reads little-endian values from a byte array with bounds checks.
class TLeReader {
public:
    explicit TLeReader(const QByteArray& b)
        : FBytes(b)
    {
    }
    bool Has(qsizetype n) const { return n >= 0 && FPos <= FBytes.size() - n; }
    unsigned U8() { return static_cast<unsigned char>(FBytes[FPos++]); }
    unsigned U16()
    {
        const unsigned lo = U8();
        return lo | (U8() << 8);
    }
    quint32 U32()
    {
        const quint32 lo = U16();
        return lo | (quint32(U16()) << 16);
    }
    quint64 U64()
    {
        const quint64 lo = U32();
        return lo | (quint64(U32()) << 32);
    }
    void Skip(qsizetype n) { FPos += n; }
    qsizetype Pos() const { return FPos; }
    qsizetype Left() const { return FBytes.size() - FPos; }

private:
    const QByteArray& FBytes;
    qsizetype FPos = 0;
};

constexpr qint64 kMaxHeaderString = 0x10000;
constexpr quint64 kMaxSize = quint64(std::numeric_limits<qint64>::max());

// Reads n bytes (n <= kMaxHeaderString) or fails.
int ReadBlock(TStream& s, qint64 n, QByteArray& out)
{
    out.resize(n);
    return n == 0 ? 0 : s.ReadExact(out.data(), n);
}

// Reads a zero-terminated string of at most kMaxHeaderString bytes.
// Returns 0, 4 (the data end first) or 8 (too long).
int ReadZeroTerminated(TStream& s, QByteArray& out, QString& message)
{
    out.clear();
    char chunk[256];
    for (;;) {
        const qint64 start = s.Position();
        qint64 got = 0;
        if (s.Read(chunk, sizeof chunk, got) != 0 || got <= 0) {
            message = U_("The header ends before its name");
            return 4;
        }
        for (qint64 i = 0; i < got; ++i) {
            if (chunk[i] == '\0') {
                out.append(chunk, i);
                s.Seek(start + i + 1);
                return 0;
            }
        }
        out.append(chunk, got);
        if (out.size() > kMaxHeaderString) {
            message = U_("A header text has no end");
            return 8;
        }
    }
}

TZip64Limits g_zip64Limits;

} // namespace

// --- gzip -------------------------------------------------------------------------

QByteArray GzHeaderBytes(const QString& name, int keyMode, quint32 mtime)
{
    bool utf8 = false;
    const QByteArray stored = GzipStoredName(name, utf8);
    const bool encrypted = keyMode >= 0;
    TLeWriter w;
    w.U8(0x1F);
    w.U8(0x8B);
    w.U8(8);
    w.U8(4 | (stored.isEmpty() ? 0 : 8) | (encrypted ? 0x20 : 0));
    w.U32(mtime);
    w.U8(0);
    w.U8(utf8 ? 11 : 0);
    w.U16(encrypted ? 26 : 20);
    w.U8(0x01);
    w.U8(0x00);
    w.U16(16);
    w.U64(0);
    w.U64(0);
    if (encrypted) {
        w.U8('V');
        w.U8('L');
        w.U16(2);
        w.U16(unsigned(keyMode));
    }
    if (!stored.isEmpty()) {
        w.Bytes(stored);
        w.U8(0);
    }
    return w.Data();
}

int ReadGzHeader(TStream& stream, TGzHeaderInfo& info, QString& message)
{
    info = TGzHeaderInfo();
    message.clear();
    const qint64 fileLength = stream.Size();
    if (stream.Seek(0) != 0) {
        message = U_("The file cannot be read");
        return 4;
    }
    QByteArray h;
    if (ReadBlock(stream, 10, h)) {
        message = U_("The file is shorter than a gzip header");
        return 4;
    }
    TLeReader r(h);
    const unsigned id1 = r.U8(), id2 = r.U8(), cm = r.U8();
    info.Flags = int(r.U8());
    info.MTime = r.U32();
    r.U8(); // XFL
    info.OsByte = int(r.U8());
    if (id1 != 0x1F || id2 != 0x8B) {
        message = U_("No gzip signature");
        return 8;
    }
    if (cm != 8 || (info.Flags & 0xC0)) {
        message = U_("Unknown compression method or flags");
        return 8;
    }
    quint64 csize = 0, usize = 0;
    bool haveSizes = false;
    int keyModeValue = -1;
    if (info.Flags & 4) {
        QByteArray x;
        if (ReadBlock(stream, 2, x)) {
            message = U_("The file ends in the header");
            return 4;
        }
        const unsigned xlen = TLeReader(x).U16();
        QByteArray extra;
        if (ReadBlock(stream, xlen, extra)) {
            message = U_("The file ends in the header");
            return 4;
        }
        TLeReader e(extra);
        while (e.Left() >= 4) {
            const unsigned si1 = e.U8(), si2 = e.U8();
            const unsigned len = e.U16();
            if (!e.Has(len)) {
                message = U_("A header subfield is longer than the extra field");
                return 8;
            }
            if (si1 == 1 && si2 == 0) {
                if (len < 16) {
                    message = U_("The size subfield is too short");
                    return 8;
                }
                csize = e.U64();
                usize = e.U64();
                haveSizes = true;
                e.Skip(len - 16);
            } else if (si1 == 'V' && si2 == 'L') {
                if (len < 2) {
                    message = U_("The key-mode subfield is too short");
                    return 8;
                }
                keyModeValue = int(e.U16());
                e.Skip(len - 2);
            } else {
                e.Skip(len);
            }
        }
    }
    if (info.Flags & 8) {
        QByteArray name;
        if (const int rc = ReadZeroTerminated(stream, name, message))
            return rc;
        info.Name = GzipNameFromStored(name, info.OsByte != 0);
    }
    if (info.Flags & 16) {
        QByteArray comment;
        if (const int rc = ReadZeroTerminated(stream, comment, message))
            return rc;
    }
    if (info.Flags & 2) {
        QByteArray crc16;
        if (ReadBlock(stream, 2, crc16)) {
            message = U_("The file ends in the header");
            return 4;
        }
    }
    if (info.Flags & 0x20) {
        if (keyModeValue < 1 || keyModeValue > 3) {
            message = U_("Encrypted data without a valid key mode");
            return 8;
        }
        info.KeyMode = keyModeValue;
    }
    info.DataOffset = stream.Position();
    if (haveSizes) {
        if (csize > kMaxSize || usize > kMaxSize) {
            message = U_("Impossible sizes in the header");
            return 8;
        }
        info.CSize = qint64(csize);
        info.USize = qint64(usize);
    } else {
        if (fileLength < 0 || fileLength - info.DataOffset < 8) {
            message = U_("The file ends in the header");
            return 4;
        }
        info.CSize = fileLength - info.DataOffset - 8;
        QByteArray isize;
        if (stream.Seek(fileLength - 4) || ReadBlock(stream, 4, isize) || stream.Seek(info.DataOffset)) {
            message = U_("The file cannot be read");
            return 4;
        }
        info.USize = TLeReader(isize).U32();
        info.USizeFromTrailer = true;
    }
    return 0;
}

// --- zip --------------------------------------------------------------------------

const TZip64Limits& Zip64Limits()
{
    return g_zip64Limits;
}

void SetZip64Limits(const TZip64Limits& limits)
{
    g_zip64Limits = limits;
}

int TZipEntry::Version() const
{
    if (Encrypted)
        return 51;
    return Zip64 ? 45 : 20;
}

int TZipEntry::Flags() const
{
    int f = BaseFlags | ExtraFlags;
    if (DataDescriptor)
        f |= 0x0008;
    if (Utf8)
        f |= 0x0800;
    if (Encrypted)
        f |= 0x0001;
    else if (Method == 8)
        f |= 0x0002;
    return f;
}

int TZipEntry::LocalExtraLength() const
{
    return (Zip64 ? 20 : 0) + (Encrypted ? 11 : 0) + int(ExtraFields.size());
}

namespace {

void AesExtra(TLeWriter& w, const TZipEntry& e)
{
    w.U16(0x9901);
    w.U16(7);
    w.U16(e.Ae2 ? 2 : 1);
    w.U8('A');
    w.U8('E');
    w.U8(unsigned(e.KeyMode));
    w.U16(unsigned(e.InnerMethod));
}

} // namespace

QByteArray ZipLocalHeader(const TZipEntry& e)
{
    TLeWriter w;
    w.U32(kZipLocalSignature);
    w.U16(unsigned(e.Version()));
    w.U16(unsigned(e.Flags()));
    w.U16(unsigned(e.Method));
    w.U32(e.DosTime);
    w.U32(0);
    w.U32(e.Zip64 ? 0xFFFFFFFF : 0);
    w.U32(e.Zip64 ? 0xFFFFFFFF : 0);
    w.U16(unsigned(e.Name.size()));
    w.U16(unsigned(e.LocalExtraLength()));
    w.Bytes(e.Name);
    if (e.Zip64) {
        w.U16(0x0001);
        w.U16(16);
        w.U64(0);
        w.U64(0);
    }
    if (e.Encrypted)
        AesExtra(w, e);
    w.Bytes(e.ExtraFields);
    return w.Data();
}

void FillZipLocalHeader(QByteArray& header, const TZipEntry& e)
{
    auto* p = reinterpret_cast<unsigned char*>(header.data());
    if (!e.Ae2)
        PutLe(p + 14, e.Crc, 4);
    if (e.Zip64) {
        const int at = ZipLocal64SizesOffset(e);
        PutLe(p + at, e.USize, 8);
        PutLe(p + at + 8, e.CSize, 8);
    } else {
        PutLe(p + 18, e.CSize, 4);
        PutLe(p + 22, e.USize, 4);
    }
}

int ZipLocal64SizesOffset(const TZipEntry& e)
{
    return 30 + int(e.Name.size()) + 4;
}

QByteArray ZipDataDescriptor(const TZipEntry& e)
{
    TLeWriter w;
    w.U32(kZipDescriptorSignature);
    w.U32(e.Ae2 ? 0 : e.Crc);
    if (e.Zip64) {
        w.U64(e.CSize);
        w.U64(e.USize);
    } else {
        w.U32(quint32(e.CSize));
        w.U32(quint32(e.USize));
    }
    return w.Data();
}

QByteArray ZipCentralHeader(const TZipEntry& e)
{
    const quint64 limit = Zip64Limits().FieldLimit;
    const bool bigU = e.Zip64 && e.USize >= limit;
    const bool bigC = e.Zip64 && e.CSize >= limit;
    const bool bigOffset = e.LocalOffset >= limit;
    const bool zip64Extra = e.Zip64 || bigOffset;
    const int zip64Len = (bigU ? 8 : 0) + (bigC ? 8 : 0) + (bigOffset ? 8 : 0);
    const int extraLen = (zip64Extra ? 4 + zip64Len : 0) + (e.Encrypted ? 11 : 0) + int(e.ExtraFields.size());
    // An offset in the Zip64 extra needs a reader of version 4.5.
    const int version = bigOffset ? qMax(e.Version(), 45) : e.Version();
    TLeWriter w;
    w.U32(kZipCentralSignature);
    w.U16(unsigned(version));
    w.U16(unsigned(version));
    w.U16(unsigned(e.Flags()));
    w.U16(unsigned(e.Method));
    w.U32(e.DosTime);
    w.U32(e.Ae2 ? 0 : e.Crc);
    w.U32(bigC ? 0xFFFFFFFF : quint32(e.CSize));
    w.U32(bigU ? 0xFFFFFFFF : quint32(e.USize));
    w.U16(unsigned(e.Name.size()));
    w.U16(unsigned(extraLen));
    w.U16(0); // comment
    w.U16(e.DiskStart); // disk number start
    w.U16(0); // internal attributes
    w.U32(e.ExternalAttr);
    w.U32(bigOffset ? 0xFFFFFFFF : quint32(e.LocalOffset));
    w.Bytes(e.Name);
    if (zip64Extra) {
        w.U16(0x0001);
        w.U16(unsigned(zip64Len));
        if (bigU)
            w.U64(e.USize);
        if (bigC)
            w.U64(e.CSize);
        if (bigOffset)
            w.U64(e.LocalOffset);
    }
    if (e.Encrypted)
        AesExtra(w, e);
    w.Bytes(e.ExtraFields);
    return w.Data();
}

bool TZipEndInfo::Zip64() const
{
    const TZip64Limits& limits = Zip64Limits();
    return EndOffset >= limits.FieldLimit || DirectoryOffset >= limits.FieldLimit
        || DirectorySize >= limits.FieldLimit || Entries > limits.EntryCountLimit
        || EntriesHere > limits.EntryCountLimit || Disk >= 0xFFFF;
}

int ZipEndRecordsSize(const TZipEndInfo& end)
{
    return end.Zip64() ? 56 + 20 + 22 : 22;
}

QByteArray ZipEndRecords(const TZipEndInfo& end)
{
    const TZip64Limits& limits = Zip64Limits();
    TLeWriter w;
    const bool zip64 = end.Zip64();
    if (zip64) {
        w.U32(kZip64EndSignature);
        w.U64(44);
        w.U16(45);
        w.U16(45);
        w.U32(end.Disk);
        w.U32(end.DirectoryDisk);
        w.U64(end.EntriesHere);
        w.U64(end.Entries);
        w.U64(end.DirectorySize);
        w.U64(end.DirectoryOffset);
        w.U32(kZip64LocatorSignature);
        w.U32(end.Disk);
        w.U64(end.EndOffset);
        w.U32(end.Disk + 1);
    }
    const auto count = [&](quint64 n) { return n > limits.EntryCountLimit ? 0xFFFFu : unsigned(n); };
    w.U32(kZipEndSignature);
    w.U16(zip64 && end.Disk > 0 ? 0xFFFF : end.Disk);
    w.U16(zip64 && end.Disk > 0 ? 0xFFFF : end.DirectoryDisk);
    w.U16(count(end.EntriesHere));
    w.U16(count(end.Entries));
    w.U32(end.DirectorySize >= limits.FieldLimit ? 0xFFFFFFFF : quint32(end.DirectorySize));
    w.U32(zip64 ? 0xFFFFFFFF : quint32(end.DirectoryOffset));
    w.U16(0);
    return w.Data();
}

QByteArray ZipEndRecords(quint64 entries, quint64 directoryOffset, quint64 directorySize)
{
    const TZip64Limits& limits = Zip64Limits();
    const quint64 end = directoryOffset + directorySize;
    const bool manyEntries = entries > limits.EntryCountLimit;
    const unsigned count = manyEntries ? 0xFFFF : unsigned(entries);
    TLeWriter w;
    if (end >= limits.FieldLimit || directorySize >= limits.FieldLimit || manyEntries) {
        w.U32(kZip64EndSignature);
        w.U64(44);
        w.U16(45);
        w.U16(45);
        w.U32(0);
        w.U32(0);
        w.U64(entries);
        w.U64(entries);
        w.U64(directorySize);
        w.U64(directoryOffset);
        w.U32(kZip64LocatorSignature);
        w.U32(0);
        w.U64(end); // where the Zip64 end record begins
        w.U32(1);
        w.U32(kZipEndSignature);
        w.U16(0);
        w.U16(0);
        w.U16(count);
        w.U16(count);
        w.U32(directorySize >= limits.FieldLimit ? 0xFFFFFFFF : quint32(directorySize));
        w.U32(0xFFFFFFFF);
        w.U16(0);
    } else {
        w.U32(kZipEndSignature);
        w.U16(0);
        w.U16(0);
        w.U16(count);
        w.U16(count);
        w.U32(quint32(directorySize));
        w.U32(quint32(directoryOffset));
        w.U16(0);
    }
    return w.Data();
}

namespace {

struct TExtraSizes {
    quint64 USize = 0, CSize = 0, Offset = 0;
};

// Walks extra fields; takes the Zip64 values for the fields that hold
// $FFFFFFFF, in the order uncompressed size, compressed size, offset.
bool WalkExtra(const QByteArray& extra, bool wantU, bool wantC, bool wantOffset, TExtraSizes& sizes,
    TZipLocalInfo* aes, QString& message)
{
    TLeReader e(extra);
    bool gotZip64 = !(wantU || wantC || wantOffset);
    while (e.Left() >= 4) {
        const unsigned id = e.U16();
        const unsigned len = e.U16();
        if (!e.Has(len)) {
            message = U_("An extra field is longer than the extra data");
            return false;
        }
        const qsizetype end = e.Pos() + len;
        if (id == 0x0001) {
            qsizetype need = (wantU ? 8 : 0) + (wantC ? 8 : 0) + (wantOffset ? 8 : 0);
            if (qsizetype(len) < need) {
                message = U_("The Zip64 extra field is too short");
                return false;
            }
            if (wantU)
                sizes.USize = e.U64();
            if (wantC)
                sizes.CSize = e.U64();
            if (wantOffset)
                sizes.Offset = e.U64();
            gotZip64 = true;
        } else if (id == 0x9901 && aes) {
            if (len < 7) {
                message = U_("The AES extra field is too short");
                return false;
            }
            aes->AesVersion = int(e.U16());
            const unsigned v1 = e.U8(), v2 = e.U8();
            aes->KeyMode = int(e.U8());
            aes->AesMethod = int(e.U16());
            if (v1 != 'A' || v2 != 'E' || aes->KeyMode < 1 || aes->KeyMode > 3) {
                message = U_("The AES extra field is invalid");
                return false;
            }
        }
        e.Skip(end - e.Pos());
    }
    if (!gotZip64) {
        message = U_("The Zip64 extra field is missing");
        return false;
    }
    return true;
}

} // namespace

int ReadZipLocalHeader(TStream& stream, TZipLocalInfo& info, QString& message)
{
    info = TZipLocalInfo();
    message.clear();
    QByteArray h;
    if (stream.Seek(0) || ReadBlock(stream, 30, h)) {
        message = U_("The file is shorter than a zip header");
        return 8;
    }
    TLeReader r(h);
    if (r.U32() != kZipLocalSignature) {
        message = U_("No zip signature");
        return 8;
    }
    info.Version = int(r.U16());
    info.Flags = int(r.U16());
    info.Method = int(r.U16());
    info.DosTime = r.U32();
    info.Crc = r.U32();
    const quint32 c32 = r.U32();
    const quint32 u32 = r.U32();
    const unsigned nameLen = r.U16();
    const unsigned extraLen = r.U16();
    QByteArray extra;
    if (ReadBlock(stream, nameLen, info.StoredName) || ReadBlock(stream, extraLen, extra)) {
        message = U_("The file ends in the header");
        return 8;
    }
    info.Name = ZipNameFromStored(info.StoredName, info.Flags & 0x0800);
    TExtraSizes sizes;
    if (!WalkExtra(extra, u32 == 0xFFFFFFFF, c32 == 0xFFFFFFFF, false, sizes, &info, message))
        return 8;
    const quint64 usize = u32 == 0xFFFFFFFF ? sizes.USize : u32;
    const quint64 csize = c32 == 0xFFFFFFFF ? sizes.CSize : c32;
    if (usize > kMaxSize || csize > kMaxSize) {
        message = U_("Impossible sizes in the header");
        return 8;
    }
    info.USize = qint64(usize);
    info.CSize = qint64(csize);
    if (info.Encrypted() && (info.Method != 99 || info.AesVersion == 0)) {
        message = U_("Encrypted data without the AES extra field");
        return 8;
    }
    info.DataOffset = stream.Position();
    return 0;
}

bool CheckZipDirectory(TStream& stream, const TZipLocalInfo& local, QString& message)
{
    const QString damaged = U_("The central directory does not match the entry");
    const qint64 fileLength = stream.Size();
    const qint64 dirOffset = local.DataOffset + local.CSize;
    QByteArray h;
    if (fileLength < 0 || dirOffset > fileLength || stream.Seek(dirOffset) || ReadBlock(stream, 46, h)) {
        message = U_("The central directory is missing");
        return false;
    }
    TLeReader r(h);
    if (r.U32() != kZipCentralSignature) {
        message = U_("The central directory is missing");
        return false;
    }
    r.U16(); // version made by
    r.U16(); // version needed
    const unsigned flags = r.U16();
    const unsigned method = r.U16();
    const quint32 dosTime = r.U32();
    const quint32 crc = r.U32();
    const quint32 c32 = r.U32();
    const quint32 u32 = r.U32();
    const unsigned nameLen = r.U16();
    const unsigned extraLen = r.U16();
    const unsigned commentLen = r.U16();
    const unsigned disk = r.U16();
    r.U16(); // internal attributes
    r.U32(); // external attributes
    const quint32 off32 = r.U32();
    QByteArray name, extra, comment;
    if (ReadBlock(stream, nameLen, name) || ReadBlock(stream, extraLen, extra)
        || ReadBlock(stream, commentLen, comment)) {
        message = U_("The central directory is cut short");
        return false;
    }
    TExtraSizes sizes;
    TZipLocalInfo aes;
    if (!WalkExtra(extra, u32 == 0xFFFFFFFF, c32 == 0xFFFFFFFF, off32 == 0xFFFFFFFF, sizes, &aes, message))
        return false;
    const quint64 usize = u32 == 0xFFFFFFFF ? sizes.USize : u32;
    const quint64 csize = c32 == 0xFFFFFFFF ? sizes.CSize : c32;
    const quint64 offset = off32 == 0xFFFFFFFF ? sizes.Offset : off32;
    if (flags != unsigned(local.Flags) || method != unsigned(local.Method) || dosTime != local.DosTime
        || crc != local.Crc || usize != quint64(local.USize) || csize != quint64(local.CSize) || offset != 0
        || disk != 0 || name != local.StoredName || aes.KeyMode != local.KeyMode
        || aes.AesVersion != local.AesVersion || aes.AesMethod != local.AesMethod) {
        message = damaged;
        return false;
    }
    const qint64 dirSize = stream.Position() - dirOffset;
    // End records: optionally Zip64 record and locator, then the end record.
    QByteArray sig;
    if (ReadBlock(stream, 4, sig)) {
        message = U_("The end record is missing");
        return false;
    }
    quint64 entries = 0, recDirSize = 0, recDirOffset = 0;
    if (TLeReader(sig).U32() == kZip64EndSignature) {
        QByteArray z, loc;
        if (ReadBlock(stream, 52, z) || ReadBlock(stream, 20, loc)) {
            message = U_("The end record is missing");
            return false;
        }
        TLeReader zr(z);
        const quint64 recSize = zr.U64();
        zr.Skip(4 + 8); // versions, disk numbers
        zr.U64(); // entries on this disk
        entries = zr.U64();
        recDirSize = zr.U64();
        recDirOffset = zr.U64();
        TLeReader lr(loc);
        const quint32 locSig = lr.U32();
        lr.U32();
        const quint64 zip64Offset = lr.U64();
        if (recSize != 44 || locSig != kZip64LocatorSignature
            || zip64Offset != quint64(dirOffset + dirSize)) {
            message = U_("The Zip64 end record is damaged");
            return false;
        }
        if (ReadBlock(stream, 4, sig)) {
            message = U_("The end record is missing");
            return false;
        }
    }
    QByteArray end;
    if (TLeReader(sig).U32() != kZipEndSignature || ReadBlock(stream, 18, end)) {
        message = U_("The end record is missing");
        return false;
    }
    TLeReader er(end);
    er.Skip(4);
    er.U16(); // entries on this disk
    const unsigned total = er.U16();
    const quint32 size32 = er.U32();
    const quint32 offset32 = er.U32();
    const unsigned endCommentLen = er.U16();
    bool consistent = true;
    if (entries == 0) {
        entries = total;
        recDirSize = size32;
        recDirOffset = offset32;
    } else {
        // With a Zip64 record the end record holds the same values or
        // $FFFFFFFF.
        consistent = (size32 == 0xFFFFFFFF || size32 == recDirSize)
            && (offset32 == 0xFFFFFFFF || offset32 == recDirOffset);
    }
    if (!consistent || entries != 1 || recDirSize != quint64(dirSize) || recDirOffset != quint64(dirOffset)
        || stream.Position() + endCommentLen != fileLength) {
        message = U_("The end record does not match the directory");
        return false;
    }
    return true;
}

int ReadZipDirectory(TStream& stream, const std::vector<qint64>& segmentStarts,
    std::vector<TZipCentralInfo>& entries, QString& message)
{
    entries.clear();
    message.clear();
    const qint64 size = stream.Size();
    if (size < 22 || segmentStarts.empty()) {
        message = U_("The end record is missing");
        return 8;
    }
    // The end record is followed by at most 65535 bytes of comment.
    const qint64 tailLength = qMin<qint64>(size, 22 + 0xFFFF);
    QByteArray tail;
    if (stream.Seek(size - tailLength) || ReadBlock(stream, tailLength, tail))
        return 4;
    qsizetype at = -1;
    for (qsizetype i = tail.size() - 22; i >= 0; --i) {
        const auto* p = reinterpret_cast<const unsigned char*>(tail.constData() + i);
        if (GetLe(p, 4) == kZipEndSignature && i + 22 + qsizetype(GetLe(p + 20, 2)) == tail.size()) {
            at = i;
            break;
        }
    }
    if (at < 0) {
        message = U_("The end record is missing");
        return 8;
    }
    const qint64 endPos = size - tailLength + at;
    TLeReader er(tail);
    er.Skip(at + 4);
    er.U16(); // the last segment
    quint64 dirDisk = er.U16();
    er.U16(); // entries in the last segment
    quint64 total = er.U16();
    quint64 dirSize = er.U32();
    quint64 dirOffset = er.U32();
    qint64 dirEndLimit = endPos; // the directory ends before the end records
    QByteArray loc;
    if (endPos >= 20 && stream.Seek(endPos - 20) == 0 && ReadBlock(stream, 20, loc) == 0
        && TLeReader(loc).U32() == kZip64LocatorSignature) {
        TLeReader lr(loc);
        lr.Skip(4);
        const quint32 disk = lr.U32();
        const quint64 offset = lr.U64();
        if (disk >= segmentStarts.size() || offset > quint64(size)) {
            message = U_("The Zip64 end record is damaged");
            return 8;
        }
        const qint64 recordPos = segmentStarts[disk] + qint64(offset);
        QByteArray z;
        if (recordPos < 0 || recordPos + 56 > endPos - 20 || stream.Seek(recordPos)
            || ReadBlock(stream, 56, z)) {
            message = U_("The Zip64 end record is damaged");
            return 8;
        }
        TLeReader zr(z);
        if (zr.U32() != kZip64EndSignature) {
            message = U_("The Zip64 end record is damaged");
            return 8;
        }
        zr.Skip(8 + 4 + 4); // size, versions, this disk
        dirDisk = zr.U32();
        zr.U64(); // entries in the last segment
        total = zr.U64();
        dirSize = zr.U64();
        dirOffset = zr.U64();
        dirEndLimit = recordPos;
    }
    if (dirDisk >= segmentStarts.size() || dirOffset > quint64(size) || dirSize > quint64(size)) {
        message = U_("The end record does not match the directory");
        return 8;
    }
    const qint64 dirStart = segmentStarts[dirDisk] + qint64(dirOffset);
    const qint64 dirEnd = dirStart + qint64(dirSize);
    // The directory may be followed by a segment border's worth of nothing
    // else: it must end where the end records begin.
    if (dirStart < 0 || dirEnd != dirEndLimit || total > dirSize / 46) {
        message = U_("The end record does not match the directory");
        return 8;
    }
    if (stream.Seek(dirStart))
        return 4;
    entries.reserve(size_t(total));
    for (quint64 n = 0; n < total; ++n) {
        QByteArray h, extra, comment;
        TZipCentralInfo c;
        if (stream.Position() + 46 > dirEnd || ReadBlock(stream, 46, h)) {
            message = U_("The central directory is cut short");
            return 8;
        }
        TLeReader r(h);
        if (r.U32() != kZipCentralSignature) {
            message = U_("The central directory is damaged");
            return 8;
        }
        r.U16(); // version made by
        r.U16(); // version needed
        c.Flags = int(r.U16());
        c.Method = int(r.U16());
        c.DosTime = r.U32();
        c.Crc = r.U32();
        const quint32 c32 = r.U32();
        const quint32 u32 = r.U32();
        const unsigned nameLen = r.U16();
        const unsigned extraLen = r.U16();
        const unsigned commentLen = r.U16();
        const unsigned disk = r.U16();
        r.U16(); // internal attributes
        c.ExternalAttr = r.U32();
        const quint32 off32 = r.U32();
        if (stream.Position() + nameLen + extraLen + commentLen > dirEnd
            || ReadBlock(stream, nameLen, c.StoredName) || ReadBlock(stream, extraLen, extra)
            || ReadBlock(stream, commentLen, comment)) {
            message = U_("The central directory is cut short");
            return 8;
        }
        TExtraSizes sizes;
        TZipLocalInfo aes;
        if (!WalkExtra(
                extra, u32 == 0xFFFFFFFF, c32 == 0xFFFFFFFF, off32 == 0xFFFFFFFF, sizes, &aes, message))
            return 8;
        const quint64 usize = u32 == 0xFFFFFFFF ? sizes.USize : u32;
        const quint64 csize = c32 == 0xFFFFFFFF ? sizes.CSize : c32;
        const quint64 offset = off32 == 0xFFFFFFFF ? sizes.Offset : off32;
        if (usize > kMaxSize || csize > quint64(size) || offset > quint64(size)
            || disk >= segmentStarts.size()) {
            message = U_("Impossible sizes in the header");
            return 8;
        }
        c.USize = qint64(usize);
        c.CSize = qint64(csize);
        c.Offset = qint64(offset);
        c.Disk = disk;
        c.KeyMode = aes.KeyMode;
        c.AesVersion = aes.AesVersion;
        c.AesMethod = aes.AesMethod;
        c.Name = ZipNameFromStored(c.StoredName, c.Flags & 0x0800);
        entries.push_back(std::move(c));
    }
    if (stream.Position() != dirEnd) {
        message = U_("The end record does not match the directory");
        return 8;
    }
    return 0;
}

} // namespace kes
