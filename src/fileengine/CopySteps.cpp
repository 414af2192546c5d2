#include "fileengine/CopySteps.h"

#include "fileengine/CopyErrors.h"
#include "fileengine/FileUtils.h"
#include "fileengine/TestSeam.h"
#include "frame/I18n.h"
#include "platform/FileSystem.h"

#include <chrono>
#include <vector>
#include <zlib.h>

namespace kes {

namespace ps = kes::platform;

namespace {

quint32 UpdateCrc(quint32 crc, const void* data, qint64 length)
{
    const auto* p = static_cast<const Bytef*>(data);
    while (length > 0) {
        const uInt n = uInt(qMin<qint64>(length, qint64(1) << 30));
        crc = quint32(crc32(crc, p, n));
        p += n;
        length -= n;
    }
    return crc;
}

} // namespace

int ICopyStepHost::WriteFailure(int code)
{
    SetSysError(code);
    return ps::IsDiskFull(code) ? ceLowDiskSpace : ceWriteFile;
}

// --- TBlockPump -----------------------------------------------------------------

TBlockPump::TBlockPump(ICopyStepHost& host, char* buffer, qint64 bufferSize)
    : FHost(host)
    , FBuffer(buffer)
    , FBufSize(bufferSize)
{
}

void TBlockPump::Restart()
{
    FTotal = 0;
    FCrc = 0;
}

int TBlockPump::NextBlock(TStream& source, qint64& got, int readFailure)
{
    FHost.WaitIfPaused();
    got = 0;
    if (const int err = source.Read(FBuffer, FBufSize, got)) {
        FHost.SetSysError(err);
        return readFailure;
    }
    return 0;
}

void TBlockPump::Count(const char* data, qint64 length)
{
    FCrc = UpdateCrc(FCrc, data, length);
    FTotal += length;
}

int TBlockPump::Copy(TStream& source, TStream* dest, bool speedLimit, qint64 length, bool inSystem)
{
    int result = 0;
    qint64 remaining = length;
    auto* src = dynamic_cast<TExtFileStream*>(&source);
    auto* dst = dynamic_cast<TExtFileStream*>(dest);
    inSystem = inSystem && src && dst;
    // The system copies without the buffer. When nobody follows the progress
    // in steps of the buffer's size, its steps may grow: each call costs a
    // little, and a large file went through hundreds of them. A step doubles
    // while it takes under 25 ms and halves when it takes over 200 ms, so
    // pausing and cancelling still answer quickly.
    constexpr qint64 kMaxSystemStep = qint64(64) << 20;
    const bool growSteps = !FHost.FollowsProgress();
    qint64 systemStep = FBufSize;
    while (result == 0 && remaining > 0) {
        FHost.WaitIfPaused();
        qint64 want = qMin(inSystem ? systemStep : FBufSize, remaining);
        qint64 got = 0;
        bool viaSystem = false;
        bool partial = false; // the system copied a part, then failed
        if (inSystem) {
            const auto started = std::chrono::steady_clock::now();
            const int err = dst->CopyFrom(*src, want, got);
            if (growSteps) {
                const auto took = std::chrono::steady_clock::now() - started;
                if (took < std::chrono::milliseconds(25))
                    systemStep = qMin(systemStep * 2, kMaxSystemStep);
                else if (took > std::chrono::milliseconds(200))
                    systemStep = qMax(systemStep / 2, FBufSize);
            }
            if (err == 0) {
                viaSystem = true;
            } else if (ps::IsDiskFull(err)) {
                result = FHost.WriteFailure(err);
                break;
            } else {
                // Not possible for these files, or a failure that separate
                // reading and writing will attribute to its side.
                inSystem = false;
                viaSystem = partial = got > 0;
            }
        }
        if (!viaSystem) {
            want = qMin(want, FBufSize); // the buffer's size, after a system step failed
            if (const int err = source.Read(FBuffer, want, got)) {
                FHost.SetSysError(err);
                result = ceReadFile;
                break;
            }
        }
        if (viaSystem)
            FTotal += got;
        else
            Count(FBuffer, got);
        FHost.Progress(dest ? acCopy : acPrepare, speedLimit, FTotal);
        if (!viaSystem && dest && got > 0) {
            if (const int err = dest->WriteAll(FBuffer, got)) {
                result = FHost.WriteFailure(err);
                break;
            }
        }
        remaining -= got;
        if (got < want && !partial) {
            FHost.SetErrorMessage(U_("The file ended before its size was read"));
            result = ceReadFile;
        } else if (FHost.Cancelled()) {
            result = ceUserBreak;
        }
    }
    return result;
}

int TBlockPump::Compress(TStream& source, TDeflateWriter& writer)
{
    int result = 0;
    for (;;) {
        qint64 got = 0;
        if ((result = NextBlock(source, got, ceReadFile)))
            break;
        Count(FBuffer, got);
        FHost.Progress(acCompress, true, FTotal);
        if (got > 0) {
            if (const int err = writer.Write(FBuffer, got)) {
                result = FHost.WriteFailure(err);
                break;
            }
        }
        if (FHost.Cancelled()) {
            result = ceUserBreak;
            break;
        }
        if (got < FBufSize)
            break;
    }
    if (result == 0) {
        if (const int err = writer.Finish())
            result = FHost.WriteFailure(err);
    }
    if (result == 0 && FTotal > 0 && writer.TotalOut() == 0)
        result = ceLowDiskSpace;
    return result;
}

int TBlockPump::Encrypt(TStream& source, TCrypt& crypt, TStream& dest)
{
    for (;;) {
        qint64 got = 0;
        if (const int result = NextBlock(source, got, ceReadFile))
            return result;
        FTotal += got;
        FHost.Progress(acEncrypt, true, FTotal);
        crypt.EncryptBlock(FBuffer, got);
        if (got > 0) {
            if (const int err = dest.WriteAll(FBuffer, got)) {
                FHost.SetSysError(err);
                return ps::IsDiskFull(err) ? ceLowDiskSpace : ceEncryption;
            }
        }
        if (FHost.Cancelled())
            return ceUserBreak;
        if (got < FBufSize)
            return 0;
    }
}

int TBlockPump::Checksum(TStream& source, TFileAction action)
{
    for (;;) {
        qint64 got = 0;
        if (const int result = NextBlock(source, got, ceVerification))
            return result;
        Count(FBuffer, got);
        FHost.Progress(action, true, FTotal);
        if (FHost.Cancelled())
            return ceUserBreak;
        if (got < FBufSize)
            return 0;
    }
}

int TBlockPump::Inflate(TStream& source, qint64 compressedSize, qint64 uncompressedSize, bool exactSize)
{
    TInflateReader reader(source, compressedSize, FBufSize);
    std::vector<char> out(0x10000);
    for (;;) {
        FHost.WaitIfPaused();
        qint64 produced = 0;
        const TInflateReader::TStatus st = reader.Read(out.data(), qint64(out.size()), produced);
        if (produced > 0) {
            Count(out.data(), produced);
            FHost.Progress(acUnCompress, true, FTotal);
            if (exactSize && FTotal > uncompressedSize) {
                FHost.SetErrorMessage(U_("The data are longer than the header says"));
                return ceVerification;
            }
        }
        if (FHost.Cancelled())
            return ceUserBreak;
        if (st == TInflateReader::isOk)
            continue;
        if (st == TInflateReader::isEnd)
            break;
        if (st == TInflateReader::isReadError)
            FHost.SetSysError(reader.ReadError());
        else
            FHost.SetErrorMessage(reader.Message());
        return ceVerification;
    }
    if (reader.UnusedInput() != 0) {
        FHost.SetErrorMessage(U_("The compressed data end before their size"));
        return ceVerification;
    }
    return 0;
}

int TBlockPump::ReadStored(TStream& source, qint64 size)
{
    for (qint64 remaining = size; remaining > 0;) {
        FHost.WaitIfPaused();
        const qint64 want = qMin(FBufSize, remaining);
        if (const int err = source.ReadExact(FBuffer, want)) {
            if (err > 0)
                FHost.SetSysError(err);
            else
                FHost.SetErrorMessage(U_("Unexpected end of file"));
            return ceVerification;
        }
        Count(FBuffer, want);
        remaining -= want;
        FHost.Progress(acPrepare, true, FTotal);
        if (FHost.Cancelled())
            return ceUserBreak;
    }
    return 0;
}

// --- TCryptStep -------------------------------------------------------------------

TCryptStep::TCryptStep(ICopyStepHost& host, TEncryption& crypt)
    : FHost(host)
    , FCrypt(crypt)
{
}

int TCryptStep::LayerFailure()
{
    const int err = FCrypt.LastStreamError();
    if (err > 0 && ps::IsDiskFull(err))
        return FHost.WriteFailure(err);
    if (err > 0)
        FHost.SetSysError(err);
    return ceEncryption;
}

int TCryptStep::Encrypt(TStream& source, TStream& dest)
{
    const TOpResult r = FCrypt.EncryptStreamEx(source, dest, true, [this] { return FHost.Cancelled(); });
    if (r == orUserBreak)
        return ceUserBreak;
    return r == orOk ? 0 : LayerFailure();
}

int TCryptStep::Verify(TStream& source, qint64 length)
{
    const TOpResult r
        = FCrypt.DecryptStreamEx(source, nullptr, length, true, [this] { return FHost.Cancelled(); });
    if (r == orUserBreak)
        return ceUserBreak;
    if (r != orOk) {
        FHost.SetErrorMessage(U_("Wrong password or damaged data"));
        return ceVerification;
    }
    return 0;
}

int TCryptStep::WriteCopy(TBlockPump& pump, TStream& source, const QByteArray& header, TStream& dest)
{
    if (const int err = dest.WriteAll(header.constData(), header.size()))
        return FHost.WriteFailure(err);
    if (!FCrypt.WriteHeader(dest))
        return LayerFailure();
    if (const int result = pump.Encrypt(source, FCrypt, dest))
        return result;
    if (!FCrypt.WriteTrailer(dest))
        return LayerFailure();
    return 0;
}

// --- TEntryDataStep -----------------------------------------------------------------

TEntryDataStep::TEntryDataStep(ICopyStepHost& host, TBlockPump& pump, TEncryption* crypt,
    TZCompressionLevel level, int deflateThreads, const QString& tempDir)
    : FHost(host)
    , FPump(pump)
    , FCrypt(crypt)
    , FLevel(level)
    , FThreads(deflateThreads)
    , FTempDir(tempDir)
{
}

int TEntryDataStep::OpenTemporary(qint64 size, std::unique_ptr<TStream>& stream)
{
    if (size > kMemoryLimit) {
        // Without a name: the deflate data of the plaintext never outlive
        // the step, even when its process is killed.
        int err = 0;
        auto f = TExtFileStream::OpenTemporary(SystemPathXL(FTempDir), err);
        if (!f) {
            FHost.SetErrorMessage(SystemErrorText(err));
            return ceCreateFile;
        }
        stream = std::move(f);
    } else {
        auto m = std::make_unique<TMemoryStream>();
        m->Reserve(size + size / 1000 + 64);
        stream = std::move(m);
    }
    return 0;
}

int TEntryDataStep::CheckSize(qint64 size)
{
    if (FSourceBytes != size) {
        FHost.SetErrorMessage(U_("The file changed its size while it was read"));
        return ceReadFile;
    }
    FCrcKnown = true;
    return 0;
}

int TEntryDataStep::Write(TStream& source, qint64 size, bool deflate, TStream& dest)
{
    const qint64 start = dest.Position();
    int result = 0;
    if (FCrypt && deflate) {
        std::unique_ptr<TStream> temp;
        result = OpenTemporary(size, temp);
        if (result == 0) {
            FHost.Progress(acCompress, false, -size);
            TDeflateWriter writer(*temp, FLevel, FThreads);
            result = FPump.Compress(source, writer);
            FSourceBytes = FPump.Total();
        }
        if (result == 0)
            result = CheckSize(size);
        if (result == 0) {
            TestPausePoint("deflated");
            FHost.Progress(acEncrypt, false, -temp->Size());
            result = temp->Seek(0) ? ceReadFile : TCryptStep(FHost, *FCrypt).Encrypt(*temp, dest);
        }
    } else if (FCrypt) {
        FSourceBytes = size;
        FHost.Progress(acEncrypt, false, -size);
        result = TCryptStep(FHost, *FCrypt).Encrypt(source, dest);
    } else {
        if (deflate) {
            FHost.Progress(acCompress, false, -size);
            TDeflateWriter writer(dest, FLevel, FThreads);
            result = FPump.Compress(source, writer);
        } else {
            FHost.Progress(acCopy, false, -size);
            result = FPump.Copy(source, &dest, true, size);
        }
        FSourceBytes = FPump.Total();
        if (result == 0)
            result = CheckSize(size);
    }
    FOutputBytes = dest.Position() - start;
    return result;
}

} // namespace kes
