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
    if (!FData.isEmpty() && FData.isDetached())
        OPENSSL_cleanse(FData.data(), size_t(FData.size()));
}

int TMemoryStream::Read(void* buffer, qint64 count, qint64& done)
{
    done = 0;
    if (count < 0) {
        done = -1;
        return platform::kErrInvalid;
    }
    const qint64 avail = qMax<qint64>(0, FData.size() - FPos);
    done = qMin(count, avail);
    if (done > 0)
        std::memcpy(buffer, FData.constData() + FPos, size_t(done));
    FPos += done;
    return 0;
}

int TMemoryStream::Write(const void* buffer, qint64 count, qint64& done)
{
    done = -1;
    if (count < 0 || FPos > (qint64(1) << 40))
        return platform::kErrInvalid;
    const qint64 end = FPos + count;
    if (end > FData.size())
        FData.resize(end);
    if (count > 0)
        std::memcpy(FData.data() + FPos, buffer, size_t(count));
    FPos = end;
    done = count;
    return 0;
}

int TMemoryStream::Seek(qint64 position)
{
    if (position < 0)
        return platform::kErrInvalid;
    FPos = position;
    return 0;
}

int TMemoryStream::Truncate()
{
    if (FPos < FData.size())
        FData.truncate(FPos);
    return 0;
}

int TWindowStream::Read(void* buffer, qint64 count, qint64& done)
{
    return FBase.Read(buffer, count, done);
}

int TWindowStream::Write(const void*, qint64, qint64& done)
{
    done = -1;
    return platform::kErrInvalid;
}

qint64 TWindowStream::Size() const
{
    const qint64 size = FBase.Size();
    return size < 0 ? -1 : qMax<qint64>(0, size - FStart);
}

int TWindowStream::Truncate()
{
    return platform::kErrInvalid;
}

} // namespace kes
