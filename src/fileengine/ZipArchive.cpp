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
        // The header again, now with CRC and sizes (its length is the same).
        QByteArray local = ZipLocalHeader(e);
        FillZipLocalHeader(local, e);
        err = FArchive.Seek(qint64(e.LocalOffset));
        if (!err)
            err = FArchive.WriteAll(local.constData(), local.size());
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
