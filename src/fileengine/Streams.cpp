#include "fileengine/Streams.h"

#include "platform/FileSystem.h"

#include <cstring>
#include <openssl/crypto.h>

namespace kes {

int TStream::ReadExact(void* buffer, qint64 count)
{
    qint64 done = 0;
    if (const int err = Read(buffer, count, done))
        return err;
    return done == count ? 0 : kErrEndOfData;
}

int TStream::WriteAll(const void* buffer, qint64 count)
{
    qint64 done = 0;
    return Write(buffer, count, done);
}

TMemoryStream::~TMemoryStream()
{
    // Temporary data may be plaintext of an encrypted copy; wipe it unless
    // another owner still shares it.
    if (!m_data.isEmpty() && m_data.isDetached())
        OPENSSL_cleanse(m_data.data(), size_t(m_data.size()));
}

int TMemoryStream::Read(void* buffer, qint64 count, qint64& done)
{
    done = 0;
    if (count < 0) {
        done = -1;
        return platform::kErrInvalid;
    }
    const qint64 avail = qMax<qint64>(0, m_data.size() - m_pos);
    done = qMin(count, avail);
    if (done > 0)
        std::memcpy(buffer, m_data.constData() + m_pos, size_t(done));
    m_pos += done;
    return 0;
}

int TMemoryStream::Write(const void* buffer, qint64 count, qint64& done)
{
    done = -1;
    if (count < 0 || m_pos > (qint64(1) << 40))
        return platform::kErrInvalid;
    const qint64 end = m_pos + count;
    if (end > m_data.size())
        m_data.resize(end);
    if (count > 0)
        std::memcpy(m_data.data() + m_pos, buffer, size_t(count));
    m_pos = end;
    done = count;
    return 0;
}

int TMemoryStream::Seek(qint64 position)
{
    if (position < 0)
        return platform::kErrInvalid;
    m_pos = position;
    return 0;
}

int TMemoryStream::Truncate()
{
    if (m_pos < m_data.size())
        m_data.truncate(m_pos);
    return 0;
}

} // namespace kes
