#include "fileengine/ZStreams.h"

#include "frame/I18n.h"
#include "platform/FileSystem.h"

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

TDeflateWriter::TDeflateWriter(TStream& dest, TZCompressionLevel level)
    : m_state(std::make_unique<State>())
    , m_dest(dest)
{
    m_state->ready
        = deflateInit2(&m_state->z, ZlibLevel(level), Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    m_state->z.next_out = m_state->out;
    m_state->z.avail_out = kZBufferSize;
}

TDeflateWriter::~TDeflateWriter()
{
    if (m_state->ready)
        deflateEnd(&m_state->z);
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
