#include "fileengine/ZStreams.h"

#include "frame/I18n.h"
#include "platform/FileSystem.h"

#include <deque>
#include <future>
#include <zlib.h>

namespace kes {

int ZlibLevel(TZCompressionLevel level)
{
    switch (level) {
    case zcNone:
        return 0;
    case zcFastest:
        return 1;
    case zcMax:
        return 9;
    case zcDefault:
    default:
        return Z_DEFAULT_COMPRESSION;
    }
}

namespace {
constexpr int kZBufferSize = 0x10000;
// zlib counts in 32-bit units; feed it in slices well below that.
constexpr qint64 kMaxSlice = qint64(1) << 30;
} // namespace

struct TDeflateWriter::State {
    z_stream Z {};
    bool Ready = false;
    unsigned char Out[kZBufferSize];
};

namespace {

constexpr int kWindowSize = 0x8000;

struct TBlockResult {
    bool Ok = false;
    QByteArray Data;
};

// Deflates one block on its own, primed with the dictionary, ended with a
// sync flush (byte-aligned, not final).
TBlockResult DeflateBlock(const QByteArray& input, const QByteArray& dictionary, int level)
{
    TBlockResult r;
    z_stream z {};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return r;
    bool ok = dictionary.isEmpty()
        || deflateSetDictionary(
               &z, reinterpret_cast<const Bytef*>(dictionary.constData()), uInt(dictionary.size()))
            == Z_OK;
    r.Data.resize(qsizetype(deflateBound(&z, uLong(input.size()))) + 64);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.constData()));
    z.avail_in = uInt(input.size());
    while (ok) {
        z.next_out = reinterpret_cast<Bytef*>(r.Data.data()) + z.total_out;
        z.avail_out = uInt(r.Data.size() - qsizetype(z.total_out));
        const int rc = deflate(&z, Z_SYNC_FLUSH);
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            ok = false;
            break;
        }
        if (z.avail_in == 0 && z.avail_out > 0)
            break;
        r.Data.resize(r.Data.size() * 2);
    }
    r.Data.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    r.Ok = ok;
    return r;
}

} // namespace

struct TDeflateWriter::Parallel {
    int Level = Z_DEFAULT_COMPRESSION;
    int Threads = 2;
    QByteArray Current; // input of the next block
    QByteArray Dictionary; // the last 32 KiB before it
    std::deque<std::future<TBlockResult>> Pending;
};

TDeflateWriter::TDeflateWriter(TStream& dest, TZCompressionLevel level, int threads)
    : FState(std::make_unique<State>())
    , FDest(dest)
{
    if (threads > 1 && level != zcNone) {
        FParallel = std::make_unique<Parallel>();
        FParallel->Level = ZlibLevel(level);
        FParallel->Threads = threads;
        // No block buffer up front: most files are small and end up in
        // Finish without ever filling a block.
        FState->Ready = true;
        return;
    }
    FState->Ready
        = deflateInit2(&FState->Z, ZlibLevel(level), Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    FState->Z.next_out = FState->Out;
    FState->Z.avail_out = kZBufferSize;
}

TDeflateWriter::~TDeflateWriter()
{
    if (FParallel) {
        // Blocks still running are waited for by their futures.
        FParallel->Pending.clear();
        return;
    }
    if (FState->Ready)
        deflateEnd(&FState->Z);
}

int TDeflateWriter::SubmitBlock()
{
    Parallel& p = *FParallel;
    QByteArray input = std::move(p.Current);
    QByteArray dictionary = p.Dictionary;
    p.Dictionary = input.right(kWindowSize);
    try {
        // The copies share the data (read only on both sides), so they are
        // still here should no thread be had.
        p.Pending.push_back(std::async(std::launch::async, DeflateBlock, input, dictionary, p.Level));
    } catch (const std::system_error&) {
        // No thread to be had: deflate it here.
        std::promise<TBlockResult> done;
        done.set_value(DeflateBlock(input, dictionary, p.Level));
        p.Pending.push_back(done.get_future());
    }
    p.Current = QByteArray();
    p.Current.reserve(kDeflateBlockSize);
    while (qsizetype(p.Pending.size()) > p.Threads) {
        if (const int err = WriteOldestBlock())
            return err;
    }
    return 0;
}

int TDeflateWriter::WriteOldestBlock()
{
    Parallel& p = *FParallel;
    TBlockResult r;
    try {
        r = p.Pending.front().get();
    } catch (const std::exception&) {
        r.Ok = false;
    }
    p.Pending.pop_front();
    if (!r.Ok)
        return platform::kErrInvalid;
    if (const int err = FDest.WriteAll(r.Data.constData(), r.Data.size()))
        return err;
    FTotalOut += r.Data.size();
    return 0;
}

int TDeflateWriter::Deflate(int flush)
{
    z_stream& z = FState->Z;
    for (;;) {
        const int rc = deflate(&z, flush);
        if (rc == Z_STREAM_ERROR)
            return platform::kErrInvalid;
        const bool full = z.avail_out == 0;
        const bool end = rc == Z_STREAM_END;
        if (full || (end && z.avail_out < unsigned(kZBufferSize))) {
            const qint64 n = kZBufferSize - z.avail_out;
            if (const int err = FDest.WriteAll(FState->Out, n))
                return err;
            FTotalOut += n;
            z.next_out = FState->Out;
            z.avail_out = kZBufferSize;
        }
        if (end)
            return 0;
        if (flush == Z_NO_FLUSH && z.avail_in == 0 && !full)
            return 0;
    }
}

int TDeflateWriter::Write(const void* data, qint64 length)
{
    if (!FState->Ready)
        return platform::kErrInvalid;
    if (FParallel) {
        const auto* p = static_cast<const char*>(data);
        while (length > 0) {
            const qint64 room = kDeflateBlockSize - FParallel->Current.size();
            const qint64 n = qMin(room, length);
            FParallel->Current.append(p, n);
            p += n;
            length -= n;
            if (FParallel->Current.size() == kDeflateBlockSize) {
                if (const int err = SubmitBlock())
                    return err;
            }
        }
        return 0;
    }
    const auto* p = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const qint64 slice = qMin(length, kMaxSlice);
        FState->Z.next_in = const_cast<unsigned char*>(p);
        FState->Z.avail_in = uInt(slice);
        if (const int err = Deflate(Z_NO_FLUSH))
            return err;
        p += slice;
        length -= slice;
    }
    return 0;
}

int TDeflateWriter::Finish()
{
    if (!FState->Ready)
        return platform::kErrInvalid;
    if (FParallel) {
        if (!FParallel->Current.isEmpty()) {
            if (FParallel->Pending.empty()) {
                // Nothing else is running (a small file, or the tail after
                // every earlier block was written): no thread is worth it.
                const TBlockResult r
                    = DeflateBlock(FParallel->Current, FParallel->Dictionary, FParallel->Level);
                FParallel->Current = QByteArray();
                if (!r.Ok)
                    return platform::kErrInvalid;
                if (const int err = FDest.WriteAll(r.Data.constData(), r.Data.size()))
                    return err;
                FTotalOut += r.Data.size();
            } else if (const int err = SubmitBlock()) {
                return err;
            }
        }
        while (!FParallel->Pending.empty()) {
            if (const int err = WriteOldestBlock())
                return err;
        }
        // An empty final block (fixed Huffman codes) ends the stream.
        static const char finalBlock[2] = {0x03, 0x00};
        if (const int err = FDest.WriteAll(finalBlock, 2))
            return err;
        FTotalOut += 2;
        return 0;
    }
    FState->Z.next_in = nullptr;
    FState->Z.avail_in = 0;
    return Deflate(Z_FINISH);
}

struct TInflateReader::State {
    z_stream Z {};
    bool Ready = false;
    std::vector<unsigned char> In;
};

TInflateReader::TInflateReader(TStream& source, qint64 compressedLength, qint64 inputBufferSize)
    : FState(std::make_unique<State>())
    , FSource(source)
    , FRemaining(compressedLength)
    , FUnbounded(compressedLength == 0)
{
    FState->In.resize(size_t(qBound<qint64>(4096, inputBufferSize, kMaxSlice)));
    FState->Ready = inflateInit2(&FState->Z, -15) == Z_OK;
    if (!FState->Ready) {
        FStatus = isDataError;
        FMessage = U_("Out of memory");
    }
}

TInflateReader::~TInflateReader()
{
    if (FState->Ready)
        inflateEnd(&FState->Z);
}

TInflateReader::TStatus TInflateReader::Read(void* buffer, qint64 count, qint64& produced)
{
    produced = 0;
    if (FStatus != isOk)
        return FStatus;
    z_stream& z = FState->Z;
    z.next_out = static_cast<unsigned char*>(buffer);
    z.avail_out = uInt(qMin(count, kMaxSlice));
    while (z.avail_out > 0) {
        const bool noMoreInput = (!FUnbounded && FRemaining == 0) || FSourceEnded;
        if (z.avail_in == 0 && !noMoreInput) {
            qint64 want = qint64(FState->In.size());
            if (!FUnbounded)
                want = qMin(want, FRemaining);
            qint64 got = 0;
            if (const int err = FSource.Read(FState->In.data(), want, got)) {
                FReadError = err;
                FStatus = isReadError;
                break;
            }
            if (got == 0) {
                if (!FUnbounded) {
                    // The source is shorter than compressedLength.
                    FStatus = isTruncated;
                    FMessage = U_("Unexpected end of file");
                    break;
                }
                FSourceEnded = true;
                continue;
            }
            if (!FUnbounded)
                FRemaining -= got;
            z.next_in = FState->In.data();
            z.avail_in = uInt(got);
        }
        const int rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_OK)
            continue;
        if (rc == Z_STREAM_END) {
            FUnused = qint64(z.avail_in) + (FUnbounded ? 0 : FRemaining);
            // Give back what was read but not used.
            if (z.avail_in > 0)
                FSource.Seek(FSource.Position() - qint64(z.avail_in));
            z.avail_in = 0;
            FStatus = isEnd;
            break;
        }
        if (rc == Z_BUF_ERROR) {
            // No progress possible: the input is used up before the end.
            FStatus = isTruncated;
            FMessage = U_("Unexpected end of compressed data");
            break;
        }
        FStatus = isDataError;
        FMessage = z.msg ? QString::fromUtf8(z.msg) : U_("Corrupt compressed data");
        break;
    }
    produced = qint64(z.next_out - static_cast<unsigned char*>(buffer));
    // Hand out the data first; the end or a failure comes with the next call.
    return produced > 0 ? isOk : FStatus;
}

} // namespace kes
