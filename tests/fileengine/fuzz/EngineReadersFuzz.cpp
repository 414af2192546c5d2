// Feeds arbitrary bytes to everything the verification reads: the gzip
// header and its data and trailer, the zip local header, data and
// directory, the central directory of an archive of many entries (whole, and
// cut into two parts as a split archive), the encrypted-copy header and the
// encrypted stream. None of it
// may crash, hang or allocate from a size field.
#include "fileengine/AesLib.h"
#include "fileengine/Containers.h"
#include "fileengine/Streams.h"
#include "fileengine/ZStreams.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using namespace kes;

namespace {

// Inflates like the verification: at most the size the header names.
void Inflate(TStream& s, qint64 csize, qint64 usize)
{
    TInflateReader reader(s, csize, 4096);
    std::vector<char> out(4096);
    qint64 total = 0;
    for (;;) {
        qint64 produced = 0;
        const auto st = reader.Read(out.data(), qint64(out.size()), produced);
        total += produced;
        if (total > usize || st != TInflateReader::isOk)
            return;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QString message;
    {
        TMemoryStream s(bytes);
        TGzHeaderInfo h;
        if (ReadGzHeader(s, h, message) == 0 && h.KeyMode < 0)
            Inflate(s, h.CSize, h.USizeFromTrailer ? (qint64(1) << 32) : h.USize);
    }
    {
        TMemoryStream s(bytes);
        TZipLocalInfo h;
        if (ReadZipLocalHeader(s, h, message) == 0) {
            if (!h.Encrypted() && h.Method == 8)
                Inflate(s, h.CSize, h.USize);
            CheckZipDirectory(s, h, message);
        }
    }
    {
        TMemoryStream s(bytes);
        std::vector<TZipCentralInfo> entries;
        ReadZipDirectory(s, {0}, entries, message);
        // The same bytes as two parts of a split archive.
        ReadZipDirectory(s, {0, qint64(size / 2)}, entries, message);
    }
    {
        TMemoryStream s(bytes);
        qint64 offset = 0;
        int keyMode = 0;
        if (ReadEncryptedCopyHeader(s, offset, keyMode) == 0 && size < 4096) {
            // Key derivation is slow; only short inputs go this far.
            TEncryption enc("fuzz", keyMode ? keyMode : 1, 1024);
            enc.DecryptStreamEx(s, nullptr, qint64(size) - offset, false, nullptr);
        }
    }
    return 0;
}
