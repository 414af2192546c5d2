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
    z_stream z {};
    bool ready = false;
    unsigned char out[kZBufferSize];
};

namespace {

constexpr int kWindowSize = 0x8000;

struct TBlockResult {
    bool ok = false;
    QByteArray data;
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
    r.data.resize(qsizetype(deflateBound(&z, uLong(input.size()))) + 64);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.constData()));
    z.avail_in = uInt(input.size());
    while (ok) {
        z.next_out = reinterpret_cast<Bytef*>(r.data.data()) + z.total_out;
        z.avail_out = uInt(r.data.size() - qsizetype(z.total_out));
        const int rc = deflate(&z, Z_SYNC_FLUSH);
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            ok = false;
            break;
        }
        if (z.avail_in == 0 && z.avail_out > 0)
            break;
        r.data.resize(r.data.size() * 2);
    }
    r.data.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    r.ok = ok;
    return r;
}

} // namespace

struct TDeflateWriter::Parallel {
    int level = Z_DEFAULT_COMPRESSION;
    int threads = 2;
    QByteArray current; // input of the next block
    QByteArray dictionary; // the last 32 KiB before it
    std::deque<std::future<TBlockResult>> pending;
};

TDeflateWriter::TDeflateWriter(TStream& dest, TZCompressionLevel level, int threads)
    : m_state(std::make_unique<State>())
    , m_dest(dest)
{
    if (threads > 1 && level != zcNone) {
        m_parallel = std::make_unique<Parallel>();
        m_parallel->level = ZlibLevel(level);
        m_parallel->threads = threads;
        // No block buffer up front: most files are small and end up in
        // Finish without ever filling a block.
        m_state->ready = true;
        return;
    }
    m_state->ready
        = deflateInit2(&m_state->z, ZlibLevel(level), Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    m_state->z.next_out = m_state->out;
    m_state->z.avail_out = kZBufferSize;
}

TDeflateWriter::~TDeflateWriter()
{
    if (m_parallel) {
        // Blocks still running are waited for by their futures.
        m_parallel->pending.clear();
        return;
    }
    if (m_state->ready)
        deflateEnd(&m_state->z);
}

int TDeflateWriter::SubmitBlock()
{
    Parallel& p = *m_parallel;
    QByteArray input = std::move(p.current);
    QByteArray dictionary = p.dictionary;
    p.dictionary = input.right(kWindowSize);
    try {
        // The copies share the data (read only on both sides), so they are
        // still here should no thread be had.
        p.pending.push_back(std::async(std::launch::async, DeflateBlock, input, dictionary, p.level));
    } catch (const std::system_error&) {
        // No thread to be had: deflate it here.
        std::promise<TBlockResult> done;
        done.set_value(DeflateBlock(input, dictionary, p.level));
        p.pending.push_back(done.get_future());
    }
    p.current = QByteArray();
    p.current.reserve(kDeflateBlockSize);
    while (qsizetype(p.pending.size()) > p.threads) {
        if (const int err = WriteOldestBlock())
            return err;
    }
    return 0;
}

int TDeflateWriter::WriteOldestBlock()
{
    Parallel& p = *m_parallel;
    TBlockResult r;
    try {
        r = p.pending.front().get();
    } catch (const std::exception&) {
        r.ok = false;
    }
    p.pending.pop_front();
    if (!r.ok)
        return platform::kErrInvalid;
    if (const int err = m_dest.WriteAll(r.data.constData(), r.data.size()))
        return err;
    m_totalOut += r.data.size();
    return 0;
}

int TDeflateWriter::Deflate(int flush)
{
    z_stream& z = m_state->z;
    for (;;) {
        const int rc = deflate(&z, flush);
        if (rc == Z_STREAM_ERROR)
            return platform::kErrInvalid;
        const bool full = z.avail_out == 0;
        const bool end = rc == Z_STREAM_END;
        if (full || (end && z.avail_out < unsigned(kZBufferSize))) {
            const qint64 n = kZBufferSize - z.avail_out;
            if (const int err = m_dest.WriteAll(m_state->out, n))
                return err;
            m_totalOut += n;
            z.next_out = m_state->out;
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
    if (!m_state->ready)
        return platform::kErrInvalid;
    if (m_parallel) {
        const auto* p = static_cast<const char*>(data);
        while (length > 0) {
            const qint64 room = kDeflateBlockSize - m_parallel->current.size();
            const qint64 n = qMin(room, length);
            m_parallel->current.append(p, n);
            p += n;
            length -= n;
            if (m_parallel->current.size() == kDeflateBlockSize) {
                if (const int err = SubmitBlock())
                    return err;
            }
        }
        return 0;
    }
    const auto* p = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const qint64 slice = qMin(length, kMaxSlice);
        m_state->z.next_in = const_cast<unsigned char*>(p);
        m_state->z.avail_in = uInt(slice);
        if (const int err = Deflate(Z_NO_FLUSH))
            return err;
        p += slice;
        length -= slice;
    }
    return 0;
}

int TDeflateWriter::Finish()
{
    if (!m_state->ready)
        return platform::kErrInvalid;
    if (m_parallel) {
        if (!m_parallel->current.isEmpty()) {
            if (m_parallel->pending.empty()) {
                // Nothing else is running (a small file, or the tail after
                // every earlier block was written): no thread is worth it.
                const TBlockResult r
                    = DeflateBlock(m_parallel->current, m_parallel->dictionary, m_parallel->level);
                m_parallel->current = QByteArray();
                if (!r.ok)
                    return platform::kErrInvalid;
                if (const int err = m_dest.WriteAll(r.data.constData(), r.data.size()))
                    return err;
                m_totalOut += r.data.size();
            } else if (const int err = SubmitBlock()) {
                return err;
            }
        }
        while (!m_parallel->pending.empty()) {
            if (const int err = WriteOldestBlock())
                return err;
        }
        // An empty final block (fixed Huffman codes) ends the stream.
        static const char finalBlock[2] = {0x03, 0x00};
        if (const int err = m_dest.WriteAll(finalBlock, 2))
            return err;
        m_totalOut += 2;
        return 0;
    }
    m_state->z.next_in = nullptr;
    m_state->z.avail_in = 0;
    return Deflate(Z_FINISH);
}

struct TInflateReader::State {
    z_stream z {};
    bool ready = false;
    std::vector<unsigned char> in;
};

TInflateReader::TInflateReader(TStream& source, qint64 compressedLength, qint64 inputBufferSize)
    : m_state(std::make_unique<State>())
    , m_source(source)
    , m_remaining(compressedLength)
    , m_unbounded(compressedLength == 0)
{
    m_state->in.resize(size_t(qBound<qint64>(4096, inputBufferSize, kMaxSlice)));
    m_state->ready = inflateInit2(&m_state->z, -15) == Z_OK;
    if (!m_state->ready) {
        m_status = isDataError;
        m_message = U_("Out of memory");
    }
}

TInflateReader::~TInflateReader()
{
    if (m_state->ready)
        inflateEnd(&m_state->z);
}

TInflateReader::TStatus TInflateReader::Read(void* buffer, qint64 count, qint64& produced)
{
    produced = 0;
    if (m_status != isOk)
        return m_status;
    z_stream& z = m_state->z;
    z.next_out = static_cast<unsigned char*>(buffer);
    z.avail_out = uInt(qMin(count, kMaxSlice));
    while (z.avail_out > 0) {
        const bool noMoreInput = (!m_unbounded && m_remaining == 0) || m_sourceEnded;
        if (z.avail_in == 0 && !noMoreInput) {
            qint64 want = qint64(m_state->in.size());
            if (!m_unbounded)
                want = qMin(want, m_remaining);
            qint64 got = 0;
            if (const int err = m_source.Read(m_state->in.data(), want, got)) {
                m_readError = err;
                m_status = isReadError;
                break;
            }
            if (got == 0) {
                if (!m_unbounded) {
                    // The source is shorter than compressedLength.
                    m_status = isTruncated;
                    m_message = U_("Unexpected end of file");
                    break;
                }
                m_sourceEnded = true;
                continue;
            }
            if (!m_unbounded)
                m_remaining -= got;
            z.next_in = m_state->in.data();
            z.avail_in = uInt(got);
        }
        const int rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_OK)
            continue;
        if (rc == Z_STREAM_END) {
            m_unused = qint64(z.avail_in) + (m_unbounded ? 0 : m_remaining);
            // Give back what was read but not used.
            if (z.avail_in > 0)
                m_source.Seek(m_source.Position() - qint64(z.avail_in));
            z.avail_in = 0;
            m_status = isEnd;
            break;
        }
        if (rc == Z_BUF_ERROR) {
            // No progress possible: the input is used up before the end.
            m_status = isTruncated;
            m_message = U_("Unexpected end of compressed data");
            break;
        }
        m_status = isDataError;
        m_message = z.msg ? QString::fromUtf8(z.msg) : U_("Corrupt compressed data");
        break;
    }
    produced = qint64(z.next_out - static_cast<unsigned char*>(buffer));
    // Hand out the data first; the end or a failure comes with the next call.
    return produced > 0 ? isOk : m_status;
}

} // namespace kes
