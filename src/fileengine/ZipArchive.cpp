#include "fileengine/ZipArchive.h"

#include "platform/FileSystem.h"

namespace kes {

TZipArchiveWriter::TZipArchiveWriter(TStream& archive)
    : FArchive(archive)
{
}

int TZipArchiveWriter::BeginEntry(const TZipEntry& entry)
{
    FCurrent = entry;
    FCurrent.LocalOffset = quint64(FArchive.Position());
    FInEntry = true;
    const QByteArray local = ZipLocalHeader(FCurrent);
    const int err = FArchive.WriteAll(local.constData(), local.size());
    FDataStart = FArchive.Position();
    return err;
}

int TZipArchiveWriter::EndEntry(quint32 crc, quint64 uncompressedSize)
{
    if (!FInEntry)
        return platform::kErrInvalid;
    const qint64 end = FArchive.Position();
    TZipEntry& e = FCurrent;
    e.Crc = crc;
    e.USize = uncompressedSize;
    e.CSize = quint64(end - FDataStart);
    int err = 0;
    if (e.DataDescriptor) {
        const QByteArray d = ZipDataDescriptor(e);
        err = FArchive.WriteAll(d.constData(), d.size());
    } else {
        const qint64 at = qint64(e.LocalOffset);
        unsigned char buf[16];
        // An AE-2 entry keeps the CRC at 0: the authentication code stands
        // for it.
        if (!e.Ae2) {
            PutLe(buf, e.Crc, 4);
            err = FArchive.Seek(at + 14);
            if (!err)
                err = FArchive.WriteAll(buf, 4);
        }
        if (!err) {
            if (e.Zip64) {
                PutLe(buf, e.USize, 8);
                PutLe(buf + 8, e.CSize, 8);
                err = FArchive.Seek(at + ZipLocal64SizesOffset(e));
                if (!err)
                    err = FArchive.WriteAll(buf, 16);
            } else {
                PutLe(buf, e.CSize, 4);
                PutLe(buf + 4, e.USize, 4);
                err = FArchive.Seek(at + 18);
                if (!err)
                    err = FArchive.WriteAll(buf, 8);
            }
        }
        if (!err)
            err = FArchive.Seek(end);
    }
    if (err)
        return err;
    FEntries.push_back(e);
    FInEntry = false;
    return 0;
}

int TZipArchiveWriter::AbandonEntry()
{
    if (!FInEntry)
        return 0;
    FInEntry = false;
    int err = FArchive.Seek(qint64(FCurrent.LocalOffset));
    if (!err)
        err = FArchive.Truncate();
    return err;
}

int TZipArchiveWriter::WriteDirectory()
{
    const quint64 start = quint64(FArchive.Position());
    QByteArray directory;
    for (const TZipEntry& e : FEntries)
        directory += ZipCentralHeader(e);
    directory += ZipEndRecords(quint64(FEntries.size()), start, quint64(directory.size()));
    return FArchive.WriteAll(directory.constData(), directory.size());
}

} // namespace kes
