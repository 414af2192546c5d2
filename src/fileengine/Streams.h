// Byte streams of the file transfer engine.
//
// Unlike QIODevice, every call reports the system's error code (0 =
// success) so that a full disk or a failing device reaches the error word
// of the copy that met it. Streams are used by one thread at a time.
#pragma once

#include <QByteArray>
#include <QString>

namespace kes {

// Pseudo error code of ReadExact: the data ended before count bytes.
// Never a system code.
inline constexpr int kErrEndOfData = -1;

class TStream {
public:
    virtual ~TStream() = default;

    // Reads up to count bytes; fewer only at the end of the data. Returns 0
    // or the error code; done is then -1.
    virtual int Read(void* buffer, qint64 count, qint64& done) = 0;
    // Writes all count bytes. Returns 0 or the error code; done is then -1.
    virtual int Write(const void* buffer, qint64 count, qint64& done) = 0;
    // Moves to an absolute position (past the end is allowed for writing).
    virtual int Seek(qint64 position) = 0;
    virtual qint64 Position() const = 0;
    // Size in bytes, or -1 when it cannot be determined.
    virtual qint64 Size() const = 0;
    // Cuts the stream at the current position.
    virtual int Truncate() = 0;

    // Reads exactly count bytes: 0, the error code, or kErrEndOfData.
    int ReadExact(void* buffer, qint64 count);
    // Writes count bytes: 0 or the error code.
    int WriteAll(const void* buffer, qint64 count);
};

// A stream in memory (temporary data of a few MiB).
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(QByteArray data)
        : FData(std::move(data))
    {
    }
    ~TMemoryStream() override;

    int Read(void* buffer, qint64 count, qint64& done) override;
    int Write(const void* buffer, qint64 count, qint64& done) override;
    int Seek(qint64 position) override;
    qint64 Position() const override { return FPos; }
    qint64 Size() const override { return FData.size(); }
    int Truncate() override;

    const QByteArray& Data() const { return FData; }
    // Reserves room so that growing never leaves copies of the data behind.
    void Reserve(qint64 size) { FData.reserve(size); }

private:
    QByteArray FData;
    qint64 FPos = 0;
};

// A read-only view of another stream from a position on: position 0 of
// the view is Start of the base (a zip entry inside its archive).
class TWindowStream : public TStream {
public:
    TWindowStream(TStream& base, qint64 start)
        : FBase(base)
        , FStart(start)
    {
    }
    int Read(void* buffer, qint64 count, qint64& done) override;
    int Write(const void* buffer, qint64 count, qint64& done) override;
    int Seek(qint64 position) override { return FBase.Seek(FStart + position); }
    qint64 Position() const override { return FBase.Position() - FStart; }
    qint64 Size() const override;
    int Truncate() override;

private:
    TStream& FBase;
    qint64 FStart;
};

} // namespace kes
