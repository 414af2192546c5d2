#include "fileengine/GzipMember.h"

#include "fileengine/Containers.h"

namespace kes {

TGzipMemberWriter::TGzipMemberWriter(TStream& dest)
    : FDest(dest)
{
}

int TGzipMemberWriter::WriteHeader(const QString& name, int keyMode, quint32 mtime)
{
    FStart = FDest.Position();
    const QByteArray h = GzHeaderBytes(name, keyMode, mtime);
    const int err = FDest.WriteAll(h.constData(), h.size());
    FDataStart = FDest.Position();
    return err;
}

int TGzipMemberWriter::WriteTrailer(quint32 crc, qint64 uncompressedSize)
{
    const qint64 end = FDest.Position();
    FCompressedSize = end - FDataStart;
    unsigned char t[8];
    PutLe(t, crc, 4);
    PutLe(t + 4, quint64(uncompressedSize) & 0xFFFFFFFF, 4);
    if (const int err = FDest.WriteAll(t, 8))
        return err;
    unsigned char sizes[16];
    PutLe(sizes, quint64(FCompressedSize), 8);
    PutLe(sizes + 8, quint64(uncompressedSize), 8);
    int err = FDest.Seek(FStart + kGzSizeSubfieldOffset);
    if (!err)
        err = FDest.WriteAll(sizes, 16);
    if (!err)
        err = FDest.Seek(end + 8);
    return err;
}

} // namespace kes
