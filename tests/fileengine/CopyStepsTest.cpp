// The engine's steps on their own, without a worker thread: the data loops
// of TBlockPump, the AES step, the data of a container entry, the gzip
// member writer and the verifier, over memory streams and streams that
// fail. zlib through Python and gzip serve as outside oracles.
#include "fileengine/CopySteps.h"
#include "EngineTestSupport.h"
#include "fileengine/Containers.h"
#include "fileengine/CopyErrors.h"
#include "fileengine/EntryVerifier.h"
#include "fileengine/GzipMember.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>
#include <zlib.h>

using namespace kes;
using enginetest::MixedData;

namespace {

// A host that records what the steps tell it and cancels after a number
// of progress calls that carry data.
class TRecordingHost : public ICopyStepHost {
public:
    struct TCall {
        TFileAction Action;
        bool SpeedLimit;
        qint64 Count;
    };

    void WaitIfPaused() override { ++Waits; }
    bool Cancelled() const override { return CancelAfter >= 0 && DataCalls() >= CancelAfter; }
    void Progress(TFileAction action, bool speedLimit, qint64 count) override
    {
        Calls.push_back({action, speedLimit, count});
    }
    bool FollowsProgress() const override { return true; }
    bool SetSysError(int code) override
    {
        if (code != 0)
            SysError = code;
        return code != 0;
    }
    void SetErrorMessage(const QString& text) override { Message = text; }

    int DataCalls() const
    {
        int n = 0;
        for (const TCall& c : Calls)
            n += c.Count >= 0 ? 1 : 0;
        return n;
    }
    std::vector<qint64> Counts(TFileAction action) const
    {
        std::vector<qint64> out;
        for (const TCall& c : Calls) {
            if (c.Action == action)
                out.push_back(c.Count);
        }
        return out;
    }

    std::vector<TCall> Calls;
    int Waits = 0;
    int CancelAfter = -1;
    int SysError = 0;
    QString Message;
};

// A memory stream whose reads or writes fail with code once limit bytes
// have passed.
class TFailingStream : public TMemoryStream {
public:
    TFailingStream(QByteArray data, qint64 readLimit, qint64 writeLimit, int code)
        : TMemoryStream(std::move(data))
        , FReadLimit(readLimit)
        , FWriteLimit(writeLimit)
        , FCode(code)
    {
    }
    int Read(void* buffer, qint64 count, qint64& done) override
    {
        if (Position() + count > FReadLimit) {
            done = -1;
            return FCode;
        }
        return TMemoryStream::Read(buffer, count, done);
    }
    int Write(const void* buffer, qint64 count, qint64& done) override
    {
        if (Position() + count > FWriteLimit) {
            done = -1;
            return FCode;
        }
        return TMemoryStream::Write(buffer, count, done);
    }

private:
    qint64 FReadLimit, FWriteLimit;
    int FCode;
};

constexpr qint64 kNoLimit = qint64(1) << 40;

quint32 ZlibCrc(const QByteArray& data)
{
    return quint32(crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
}

// Raw deflate data inflated by Python's zlib.
QByteArray PythonInflate(const QByteArray& deflated)
{
    QTemporaryDir dir;
    kestest::WriteBytes(dir.filePath("d"), deflated);
    const auto r = enginetest::Python("import sys, zlib\n"
                                      "d = zlib.decompressobj(-15)\n"
                                      "out = d.decompress(open(sys.argv[1], 'rb').read())\n"
                                      "assert d.eof and not d.unused_data\n"
                                      "sys.stdout.buffer.write(out)\n",
        {dir.filePath("d")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return r.out;
}

class BlockPumpTest : public ::testing::Test {
protected:
    static constexpr qint64 kBuf = 4096;
    TRecordingHost host;
    std::vector<char> buffer = std::vector<char>(kBuf);
    TBlockPump pump {host, buffer.data(), kBuf};
};

TEST_F(BlockPumpTest, CopyCarriesEveryLengthWithItsCrcAndOneCallPerBuffer)
{
    const QByteArray data = MixedData(3 * kBuf + 7, 21);
    for (const qint64 length : {qint64(0), qint64(1), kBuf - 1, kBuf, kBuf + 1, 3 * kBuf + 7}) {
        SCOPED_TRACE(length);
        host = TRecordingHost();
        pump.Restart();
        TMemoryStream source(data.left(length)), dest;
        EXPECT_EQ(pump.Copy(source, &dest, true, length), 0);
        EXPECT_EQ(dest.Data(), data.left(length));
        EXPECT_EQ(pump.Crc(), ZlibCrc(data.left(length)));
        EXPECT_EQ(pump.Total(), length);
        std::vector<qint64> expected;
        for (qint64 done = kBuf; done - kBuf < length; done += kBuf)
            expected.push_back(qMin(done, length));
        EXPECT_EQ(host.Counts(acCopy), expected);
        EXPECT_EQ(host.Waits, int(expected.size()));
        for (const auto& c : host.Calls)
            EXPECT_TRUE(c.SpeedLimit);
    }
    // Without a destination the data are only read.
    TMemoryStream source(data);
    host = TRecordingHost();
    pump.Restart();
    EXPECT_EQ(pump.Copy(source, nullptr, false, data.size()), 0);
    EXPECT_EQ(pump.Crc(), ZlibCrc(data));
    EXPECT_EQ(host.Counts(acPrepare).size(), 4u);
}

TEST_F(BlockPumpTest, LoopsEndInTheirResultNumbers)
{
    const QByteArray data = MixedData(5 * kBuf, 22);
    struct Case {
        const char* what;
        std::function<int(TBlockPump&)> run;
        int result;
        int sysError;
    } cases[] = {
        {"copy: source shorter than its length",
            [&](TBlockPump& p) {
                TMemoryStream s(data), d;
                return p.Copy(s, &d, true, data.size() + 1);
            },
            ceReadFile, 0},
        {"copy: read failure",
            [&](TBlockPump& p) {
                TFailingStream s(data, 2 * kBuf, kNoLimit, platform::kErrIO);
                TMemoryStream d;
                return p.Copy(s, &d, true, data.size());
            },
            ceReadFile, platform::kErrIO},
        {"copy: full disk",
            [&](TBlockPump& p) {
                TMemoryStream s(data);
                TFailingStream d({}, kNoLimit, kBuf, platform::kErrDiskFull);
                return p.Copy(s, &d, true, data.size());
            },
            ceLowDiskSpace, platform::kErrDiskFull},
        {"copy: other write failure",
            [&](TBlockPump& p) {
                TMemoryStream s(data);
                TFailingStream d({}, kNoLimit, kBuf, platform::kErrIO);
                return p.Copy(s, &d, true, data.size());
            },
            ceWriteFile, platform::kErrIO},
        {"compress: full disk at the end",
            [&](TBlockPump& p) {
                TMemoryStream s(data);
                TFailingStream d({}, kNoLimit, 0, platform::kErrDiskFull);
                TDeflateWriter w(d, zcDefault, 1);
                return p.Compress(s, w);
            },
            ceLowDiskSpace, platform::kErrDiskFull},
        {"checksum: read failure",
            [&](TBlockPump& p) {
                TFailingStream s(data, kBuf, kNoLimit, platform::kErrIO);
                return p.Checksum(s, acVerify);
            },
            ceVerification, platform::kErrIO},
        {"stored data that end early",
            [&](TBlockPump& p) {
                TMemoryStream s(data);
                return p.ReadStored(s, data.size() + 10);
            },
            ceVerification, 0},
        {"inflate: not deflate data",
            [&](TBlockPump& p) {
                TMemoryStream s(QByteArray(100, '\xFF'));
                return p.Inflate(s, 100, 100, true);
            },
            ceVerification, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host = TRecordingHost();
        pump.Restart();
        EXPECT_EQ(c.run(pump), c.result);
        EXPECT_EQ(host.SysError, c.sysError);
        if (c.sysError == 0) {
            EXPECT_FALSE(host.Message.isEmpty());
        }
    }
}

TEST_F(BlockPumpTest, EveryLoopStopsAfterTheBufferThatSawTheCancellation)
{
    // Larger than two output blocks of the inflater (64 KiB each).
    const QByteArray data = MixedData(40 * kBuf, 23);
    TMemoryStream deflated;
    {
        TDeflateWriter w(deflated, zcNone, 1);
        ASSERT_EQ(w.Write(data.constData(), data.size()), 0);
        ASSERT_EQ(w.Finish(), 0);
    }
    TEncryption crypt("pw", 1, 0x1000);
    TMemoryStream salt;
    ASSERT_TRUE(crypt.WriteHeader(salt));
    struct Case {
        const char* what;
        std::function<int(TBlockPump&)> run;
    } cases[] = {
        {"copy",
            [&](TBlockPump& p) {
                TMemoryStream s(data), d;
                return p.Copy(s, &d, true, data.size());
            }},
        {"compress",
            [&](TBlockPump& p) {
                TMemoryStream s(data), d;
                TDeflateWriter w(d, zcDefault, 1);
                return p.Compress(s, w);
            }},
        {"encrypt",
            [&](TBlockPump& p) {
                TMemoryStream s(data), d;
                return p.Encrypt(s, crypt, d);
            }},
        {"checksum",
            [&](TBlockPump& p) {
                TMemoryStream s(data);
                return p.Checksum(s, acVerify);
            }},
        {"inflate",
            [&](TBlockPump& p) {
                TMemoryStream s(deflated.Data());
                return p.Inflate(s, deflated.Size(), data.size(), true);
            }},
        {"stored",
            [&](TBlockPump& p) {
                TMemoryStream s(data);
                return p.ReadStored(s, data.size());
            }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host = TRecordingHost();
        host.CancelAfter = 2;
        pump.Restart();
        EXPECT_EQ(c.run(pump), ceUserBreak);
        EXPECT_EQ(host.DataCalls(), 2);
    }
}

TEST_F(BlockPumpTest, CompressedOutputIsOneRawDeflateStream)
{
    REQUIRE_TOOL("python3");
    for (const int threads : {1, 3}) {
        for (const qint64 size : {qint64(0), qint64(10), 3 * TDeflateWriter::kDeflateBlockSize + 5}) {
            SCOPED_TRACE(QStringLiteral("%1 threads, %2 bytes").arg(threads).arg(size).toStdString());
            const QByteArray data = MixedData(size, 24);
            host = TRecordingHost();
            pump.Restart();
            TMemoryStream source(data), dest;
            TDeflateWriter writer(dest, zcDefault, threads);
            ASSERT_EQ(pump.Compress(source, writer), 0);
            EXPECT_EQ(pump.Crc(), ZlibCrc(data));
            EXPECT_EQ(pump.Total(), size);
            EXPECT_EQ(PythonInflate(dest.Data()), data);
        }
    }
}

TEST(CryptStep, EncryptedCopiesVerifyAndDamageShows)
{
    const QByteArray data = MixedData(50000, 25);
    const QByteArray header = EncryptedCopyHeader(2, 1700000000, 0x20);
    TRecordingHost host;
    std::vector<char> buffer(8192);
    TBlockPump pump(host, buffer.data(), qint64(buffer.size()));
    TEncryption crypt("secret words", 2, 8192);
    TMemoryStream source(data), copy;
    ASSERT_EQ(TCryptStep(host, crypt).WriteCopy(pump, source, header, copy), 0);
    EXPECT_EQ(pump.Total(), data.size());
    EXPECT_EQ(copy.Size(), 10 + 12 + 2 + data.size() + 10);
    EXPECT_EQ(copy.Data().left(10), header);
    EXPECT_FALSE(copy.Data().contains(data.left(64)));

    auto flipped = [&](qsizetype at) {
        QByteArray b = copy.Data();
        b[at] = char(b[at] ^ 0x20);
        return b;
    };
    struct Case {
        const char* what;
        QByteArray bytes;
        QByteArray password;
        int result;
    } cases[] = {
        {"as written", copy.Data(), "secret words", 0},
        {"wrong password", copy.Data(), "secret word", ceVerification},
        {"a byte of the data changed", flipped(200), "secret words", ceVerification},
        {"a byte of the code changed", flipped(copy.Size() - 3), "secret words", ceVerification},
        {"cut short", copy.Data().left(copy.Size() - 1), "secret words", ceVerification},
        {"shorter than its header", copy.Data().left(6), "secret words", enReadFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TRecordingHost check;
        TEncryption reader(c.password, 0, 8192);
        TMemoryStream s(c.bytes);
        EXPECT_EQ(TEntryVerifier(check, pump, &reader).VerifyEncryptedCopy(s), c.result);
        if (c.result != 0) {
            EXPECT_FALSE(check.Message.isEmpty());
        }
    }
    // A full disk while the layer writes is low disk space.
    TEncryption again("secret words", 2, 8192);
    TMemoryStream source2(data);
    TFailingStream full({}, kNoLimit, 20, platform::kErrDiskFull);
    TRecordingHost fullHost;
    EXPECT_EQ(TCryptStep(fullHost, again).WriteCopy(pump, source2, header, full), ceLowDiskSpace);
    EXPECT_EQ(fullHost.SysError, platform::kErrDiskFull);
}

TEST(EntryDataStep, StoredDeflatedAndEncryptedDataWithTheirCounts)
{
    const QByteArray data = MixedData(70000, 26);
    struct Case {
        const char* what;
        bool encrypted;
        bool deflate;
        bool crcKnown;
    } cases[] = {
        {"stored", false, false, true},
        {"deflated", false, true, true},
        {"encrypted", true, false, false},
        {"deflated and encrypted", true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TRecordingHost host;
        std::vector<char> buffer(0x10000);
        TBlockPump pump(host, buffer.data(), qint64(buffer.size()));
        TEncryption crypt("pw", 3, 0x10000);
        TEntryDataStep step(host, pump, c.encrypted ? &crypt : nullptr, zcDefault, 2, QDir::tempPath());
        TMemoryStream source(data), dest;
        ASSERT_EQ(dest.WriteAll("prefix", 6), 0);
        ASSERT_EQ(step.Write(source, data.size(), c.deflate, dest), 0);
        EXPECT_EQ(step.SourceBytes(), data.size());
        EXPECT_EQ(step.OutputBytes(), dest.Size() - 6);
        EXPECT_EQ(step.CrcKnown(), c.crcKnown);
        if (c.crcKnown) {
            EXPECT_EQ(pump.Crc(), ZlibCrc(data));
        }
        // The phases are announced with their sizes before their data.
        ASSERT_FALSE(host.Calls.empty());
        EXPECT_LT(host.Calls.front().Count, 0);
        const QByteArray out = dest.Data().mid(6);
        if (!c.encrypted) {
            EXPECT_EQ(c.deflate ? PythonInflate(out) : out, data);
        } else {
            TMemoryStream back(out);
            TRecordingHost check;
            TEncryption reader("pw", 3, 0x10000);
            EXPECT_EQ(TCryptStep(check, reader).Verify(back, out.size()), 0);
        }
    }
    // A source that is shorter than its size says.
    TRecordingHost host;
    std::vector<char> buffer(0x10000);
    TBlockPump pump(host, buffer.data(), qint64(buffer.size()));
    TEntryDataStep step(host, pump, nullptr, zcDefault, 1, QDir::tempPath());
    TMemoryStream source(data), dest;
    EXPECT_EQ(step.Write(source, data.size() + 1, true, dest), ceReadFile);
    EXPECT_EQ(host.Message, "The file changed its size while it was read");
}

TEST(GzipMemberWriter, MembersFollowEachOtherInOneStream)
{
    REQUIRE_TOOL("gzip");
    const QByteArray first = MixedData(90000, 27), second = "and a second member\n";
    TRecordingHost host;
    std::vector<char> buffer(0x8000);
    TBlockPump pump(host, buffer.data(), qint64(buffer.size()));
    TMemoryStream out;
    qint64 secondStart = 0;
    for (const QByteArray* data : {&first, &second}) {
        secondStart = out.Position();
        TGzipMemberWriter member(out);
        ASSERT_EQ(member.WriteHeader(QStringLiteral("part.txt"), -1, 1600000000), 0);
        pump.Restart();
        TMemoryStream source(*data);
        TDeflateWriter writer(out, zcMax, 1);
        ASSERT_EQ(pump.Compress(source, writer), 0);
        ASSERT_EQ(member.WriteTrailer(pump.Crc(), pump.Total()), 0);
        EXPECT_EQ(out.Position(), out.Size());
        // The size subfield of each member counts its own data.
        const auto* h = reinterpret_cast<const unsigned char*>(out.Data().constData()) + member.DataStart()
            - (32 + 9) + 16;
        EXPECT_EQ(GetLe(h, 8), quint64(member.CompressedSize()));
        EXPECT_EQ(GetLe(h + 8, 8), quint64(data->size()));
    }
    QTemporaryDir dir;
    kestest::WriteBytes(dir.filePath("two.gz"), out.Data());
    EXPECT_EQ(kestest::Run("gzip", {"-dc", dir.filePath("two.gz")}).out, first + second);

    // The verifier reads the first member and its trailer.
    pump.Restart();
    TMemoryStream check(out.Data().left(secondStart));
    TRecordingHost verifyHost;
    EXPECT_EQ(TEntryVerifier(verifyHost, pump, nullptr).VerifyGzipMember(check, true, ZlibCrc(first)), 0);
    check.Seek(0);
    EXPECT_EQ(TEntryVerifier(verifyHost, pump, nullptr).VerifyGzipMember(check, true, ZlibCrc(second)),
        ceVerification);
    EXPECT_EQ(verifyHost.Message, "CRC or size of the data differ");
}

} // namespace
