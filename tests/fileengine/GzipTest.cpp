// Gzip members: readable by gzip itself, laid out as specified, verified,
// and damaged or crafted files rejected with their error words.
#include "EngineTestSupport.h"
#include "fileengine/CopyErrors.h"
#include "fileengine/CopyThread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace kes;
using enginetest::MixedData;
using enginetest::RunCopy;
using enginetest::RunVerify;
using kestest::ReadBytes;
using kestest::WriteBytes;

namespace {

const TCopyOptions kSelwandGzip {coOverwrite, coAttributes, coTimeStamp, coCompress};

quint64 Le(const QByteArray& b, qsizetype at, int n)
{
    quint64 v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

QByteArray LeBytes(quint64 v, int n)
{
    QByteArray b;
    for (int i = 0; i < n; ++i)
        b.append(char(v >> (8 * i)));
    return b;
}

class GzipTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(GzipTest, GzipAcceptsAndRestoresOurMembers)
{
    REQUIRE_TOOL("gzip");
    struct Case {
        QString name;
        QByteArray data;
    } cases[] = {
        {"empty.txt", QByteArray()},
        {"small.txt", "hello, gzip\n"},
        {QString::fromUtf8("m\xC3\xA4rz.bin"), MixedData(1500000)},
        {QString::fromUtf8("\xE6\x97\xA5\xE6\x9C\xAC.txt"), QByteArray(70000, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString src = Path(c.name);
        WriteBytes(src, c.data);
        const auto o = RunCopy(src, src + ".gz", kSelwandGzip);
        ASSERT_EQ(o.error, 0) << o.message.toStdString();
        EXPECT_EQ(kestest::Run("gzip", {"-t", src + ".gz"}).exitCode, 0);
        const auto out = kestest::Run("gzip", {"-dc", src + ".gz"});
        EXPECT_EQ(out.exitCode, 0);
        EXPECT_EQ(out.out, c.data);
    }
}

TEST_F(GzipTest, HeaderFieldsAndSizeSubfield)
{
    const QByteArray data = MixedData(200000);
    const QString src = Path("report.txt");
    WriteBytes(src, data);
    const QDateTime mtime = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    {
        QFile f(src);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(mtime, QFileDevice::FileModificationTime));
    }
    ASSERT_EQ(RunCopy(src, Path("r.gz"), kSelwandGzip).error, 0);
    const QByteArray gz = ReadBytes(Path("r.gz"));
    ASSERT_GT(gz.size(), 50);
    EXPECT_EQ(gz.left(4), QByteArray("\x1F\x8B\x08\x0C", 4)); // FEXTRA + FNAME
    EXPECT_EQ(Le(gz, 4, 4), 1700000000u);
    EXPECT_EQ(quint8(gz[8]), 0);
    EXPECT_EQ(quint8(gz[9]), 0);
    EXPECT_EQ(Le(gz, 10, 2), 20u);
    EXPECT_EQ(gz.mid(12, 4), QByteArray("\x01\x00\x10\x00", 4));
    const qsizetype headerEnd = 32 + QByteArray("report.txt").size() + 1;
    EXPECT_EQ(gz.mid(32, headerEnd - 32), QByteArray("report.txt\0", 11));
    EXPECT_EQ(Le(gz, 16, 8), quint64(gz.size() - headerEnd - 8)); // compressed size
    EXPECT_EQ(Le(gz, 24, 8), quint64(data.size())); // uncompressed size
    EXPECT_EQ(Le(gz, gz.size() - 4, 4), quint64(data.size()));
    // The file itself carries the source's time stamp.
    EXPECT_EQ(QFileInfo(Path("r.gz")).lastModified().toUTC(), mtime);
}

TEST_F(GzipTest, StoredNameEncodings)
{
    struct Case {
        const char* name; // UTF-8
        int os;
        QByteArray stored;
    } cases[] = {
        {"plain.txt", 0, "plain.txt"}, {"m\xC3\xA4rz.txt", 0, "m\xE4rz.txt"}, // ä: Latin-1
        {"\xC3\xA1gua.txt", 0, "\xE1gua.txt"}, // á: Latin-1 as well in gzip
        {"\xE2\x82\xAC.txt", 11, "\xE2\x82\xAC.txt"}, // € is above U+00FF: UTF-8
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString src = Path(QString::fromUtf8(c.name));
        WriteBytes(src, "x");
        ASSERT_EQ(RunCopy(src, Path("n.gz"), kSelwandGzip).error, 0);
        const QByteArray gz = ReadBytes(Path("n.gz"));
        EXPECT_EQ(quint8(gz[9]), c.os);
        EXPECT_EQ(gz.mid(32, c.stored.size() + 1), c.stored + QByteArray(1, '\0'));
    }
}

TEST_F(GzipTest, VerificationAcceptsGoodMembersAndForeignOnes)
{
    REQUIRE_TOOL("gzip");
    const QByteArray data = MixedData(700000);
    WriteBytes(Path("src"), data);
    const auto o = RunCopy(Path("src"), Path("v.gz"), TCopyOptions {coCompress, coVerify});
    EXPECT_EQ(o.error, 0) << o.message.toStdString();
    EXPECT_EQ(RunVerify(Path("v.gz"), ckGzip).error, 0);
    // A member written by gzip has no size subfield: sizes come from the
    // file length and ISIZE.
    WriteBytes(Path("plain"), data);
    ASSERT_EQ(kestest::Run("gzip", {"-k", "-6", Path("plain")}).exitCode, 0);
    const auto foreign = RunVerify(Path("plain.gz"), ckAuto);
    EXPECT_EQ(foreign.error, 0) << foreign.message.toStdString();
}

TEST_F(GzipTest, DamagedMembersFailVerification)
{
    const QByteArray data = MixedData(300000);
    WriteBytes(Path("src"), data);
    ASSERT_EQ(RunCopy(Path("src"), Path("good.gz"), kSelwandGzip).error, 0);
    const QByteArray good = ReadBytes(Path("good.gz"));
    const qsizetype dataStart = 32 + 4; // "src" + terminator
    auto flipped = [&](qsizetype at) {
        QByteArray b = good;
        b[at] = char(b[at] ^ 0x40);
        return b;
    };
    struct Case {
        const char* what;
        QByteArray bytes;
        int word;
    } cases[] = {
        {"not a gzip signature", flipped(1), 0x2008},
        {"byte in the deflate data", flipped(dataStart + 1000), 0x210C},
        {"byte near the end of the data", flipped(good.size() - 20), 0x210C},
        {"trailer CRC", flipped(good.size() - 6), 0x210C},
        {"trailer size", flipped(good.size() - 2), 0x210C},
        {"cut in the data", good.left(good.size() / 2), 0x210C},
        {"cut in the trailer", good.left(good.size() - 3), 0x210C},
        {"cut in the header", good.left(20), 0x2004},
        {"empty file", QByteArray(), 0x2004},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(Path("bad.gz"), c.bytes);
        const auto o = RunVerify(Path("bad.gz"), ckGzip);
        EXPECT_EQ(o.error, c.word) << o.message.toStdString();
    }
    EXPECT_EQ(CopyErrorText(0x2008), "Illegal file header (-> gzip)");
}

TEST_F(GzipTest, CraftedHeadersEndInErrorWords)
{
    // Valid deflate data for "abc" and its trailer.
    const QByteArray deflated("\x4B\x4C\x4A\x06\x00", 5);
    const QByteArray trailer = LeBytes(0x352441C2, 4) + LeBytes(3, 4);
    auto header = [](int flg, const QByteArray& rest) {
        return QByteArray("\x1F\x8B\x08", 3) + char(flg) + QByteArray(4, '\0') + QByteArray("\x00\x00", 2)
            + rest;
    };
    auto sizes = [](quint64 c, quint64 u) {
        return QByteArray("\x01\x00\x10\x00", 4) + LeBytes(c, 8) + LeBytes(u, 8);
    };
    const QByteArray hugeName(100000, 'n');
    struct Case {
        const char* what;
        QByteArray bytes;
        int word;
    } cases[] = {
        {"minimal valid member", header(0, deflated + trailer), 0},
        {"valid with our subfield", header(4, LeBytes(20, 2) + sizes(5, 3) + deflated + trailer), 0},
        {"XLEN beyond the file", header(4, LeBytes(0xFFFF, 2) + "xx"), 0x2004},
        {"subfield longer than XLEN", header(4, LeBytes(8, 2) + "AB" + LeBytes(200, 2) + "1234"), 0x2008},
        {"size subfield too short", header(4, LeBytes(8, 2) + QByteArray("\x01\x00\x04\x00", 4) + "1234"),
            0x2008},
        {"sizes of 2^64-1", header(4, LeBytes(20, 2) + sizes(~0ull, ~0ull) + deflated + trailer), 0x2008},
        {"compressed size past the end",
            header(4, LeBytes(20, 2) + sizes(1ull << 40, 3) + deflated + trailer), 0x210C},
        {"uncompressed size smaller than the data",
            header(4, LeBytes(20, 2) + sizes(5, 1) + deflated + trailer), 0x210C},
        {"name without terminator", header(8, "name-without-end"), 0x2004},
        {"name without terminator for 100000 bytes", header(8, hugeName), 0x2008},
        {"encrypted without key mode", header(0x24, LeBytes(20, 2) + sizes(5, 3) + deflated + trailer),
            0x2008},
        {"reserved flag bits", header(0x80, deflated + trailer), 0x2008},
        {"unknown method", QByteArray("\x1F\x8B\x07\x00", 4) + QByteArray(6, '\0') + deflated + trailer,
            0x2008},
        {"header only", header(0, QByteArray()), 0x2004},
        {"garbage data", header(0, QByteArray(40, '\xFF') + trailer), 0x210C},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(Path("c.gz"), c.bytes);
        const auto o = RunVerify(Path("c.gz"), ckGzip);
        EXPECT_EQ(o.error, c.word) << o.message.toStdString();
    }
}

TEST_F(GzipTest, EncryptedMemberLayoutAndVerification)
{
    const QByteArray data = MixedData(100000);
    WriteBytes(Path("secret.txt"), data);
    TEncryption enc("correct horse", 3, 0x10000);
    const auto o = RunCopy(Path("secret.txt"), Path("s.gz"), TCopyOptions {coCompress, coVerify}, &enc);
    ASSERT_EQ(o.error, 0) << o.message.toStdString();
    const QByteArray gz = ReadBytes(Path("s.gz"));
    EXPECT_EQ(quint8(gz[3]), 0x2C); // FEXTRA + FNAME + encrypted
    EXPECT_EQ(Le(gz, 10, 2), 26u);
    EXPECT_EQ(gz.mid(32, 6), QByteArray("VL\x02\x00\x03\x00", 6));
    const qsizetype headerEnd = 38 + QByteArray("secret.txt").size() + 1;
    const quint64 csize = Le(gz, 16, 8);
    EXPECT_EQ(csize, quint64(gz.size() - headerEnd - 8)); // counts salt, check value and code
    EXPECT_EQ(Le(gz, 24, 8), quint64(data.size()));
    EXPECT_EQ(Le(gz, gz.size() - 8, 4), 0u); // no CRC of encrypted data
    EXPECT_EQ(Le(gz, gz.size() - 4, 4), quint64(data.size()));

    TEncryption right("correct horse", 0, 0x10000);
    EXPECT_EQ(RunVerify(Path("s.gz"), ckGzip, &right).error, 0);
    TEncryption wrong("battery staple", 0, 0x10000);
    EXPECT_EQ(RunVerify(Path("s.gz"), ckGzip, &wrong).error, 0x210C);
    QByteArray damaged = gz;
    damaged[headerEnd + 40] = char(damaged[headerEnd + 40] ^ 1);
    WriteBytes(Path("d.gz"), damaged);
    EXPECT_EQ(RunVerify(Path("d.gz"), ckGzip, &right).error, 0x210C);
}

TEST_F(GzipTest, LargeEncryptedSourceGoesThroughATemporaryFileWithoutAName)
{
    // Above 50 MiB the deflate data wait in a temporary file. It has no
    // name: the folder stays empty while this process holds the file.
    const QString tmp = Path("tmpdir");
    QDir().mkpath(tmp);
    const QByteArray data = MixedData(0x3200000 + 4096, 7);
    WriteBytes(Path("big"), data);
    TEncryption enc("pw", 1, 0x80000);
    TWinCopyThread worker(
        Path("big"), Path("big.gz"), &enc, TCopyOptions {coCompress, coVerify}, true, 0x80000);
    worker.SetTempDir(tmp);
    auto unnamedInTmp = [&] {
        int found = 0;
        const QDir fds(QStringLiteral("/proc/self/fd"));
        for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            char target[4096];
            const ssize_t n
                = ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), target, sizeof target);
            const QString t = n > 0 ? QFile::decodeName(QByteArray(target, n)) : QString();
            if (t.startsWith(tmp + QLatin1Char('/')) && t.endsWith(QLatin1String(" (deleted)")))
                ++found;
        }
        return found;
    };
    int unnamed = 0;
    QStringList named;
    worker.SetOnProgress([&](TFileAction a, bool, qint64 count) {
        if (a == acEncrypt && count < 0) {
            unnamed = unnamedInTmp();
            named = QDir(tmp).entryList(QDir::Files | QDir::Hidden);
        }
    });
    worker.Start();
    const auto o = enginetest::Finish(worker);
    EXPECT_EQ(o.error, 0) << o.message.toStdString();
    EXPECT_EQ(unnamed, 1);
    EXPECT_EQ(named, QStringList());
    EXPECT_EQ(unnamedInTmp(), 0);
}

} // namespace

namespace {

// Inflates raw deflate data through the engine's own reader.
QByteArray InflateAll(const QByteArray& deflated)
{
    TMemoryStream in(deflated);
    TInflateReader reader(in, deflated.size());
    QByteArray out;
    char buf[65536];
    for (;;) {
        qint64 n = 0;
        const auto st = reader.Read(buf, sizeof buf, n);
        out.append(buf, n);
        if (st != TInflateReader::isOk) {
            EXPECT_EQ(st, TInflateReader::isEnd) << reader.Message().toStdString();
            EXPECT_EQ(reader.UnusedInput(), 0);
            break;
        }
    }
    return out;
}

TEST(DeflateWriter, SideBySideBlocksFormOneStream)
{
    // Sizes around the block boundaries, written in pieces of odd sizes.
    const qint64 block = TDeflateWriter::kDeflateBlockSize;
    const qint64 sizes[] = {0, 1, block - 1, block, block + 1, 3 * block + 12345};
    const QByteArray data = MixedData(3 * block + 12345, 11);
    for (qint64 size : sizes) {
        SCOPED_TRACE(size);
        QByteArray results[2];
        for (int threads : {1, 3}) {
            TMemoryStream sink;
            TDeflateWriter w(sink, zcDefault, threads);
            for (qint64 at = 0; at < size;) {
                const qint64 n = qMin<qint64>(size - at, 77777);
                ASSERT_EQ(w.Write(data.constData() + at, n), 0);
                at += n;
            }
            ASSERT_EQ(w.Finish(), 0);
            EXPECT_EQ(w.TotalOut(), sink.Size());
            EXPECT_EQ(InflateAll(sink.Data()), data.left(size));
            results[threads == 1 ? 0 : 1] = sink.Data();
        }
        // Priming each block with its predecessor's window keeps the ratio.
        EXPECT_LE(results[1].size(), results[0].size() + results[0].size() / 200 + 64);
    }
}

TEST_F(GzipTest, OneThreadAndSeveralGiveValidMembers)
{
    REQUIRE_TOOL("gzip");
    const QByteArray data = MixedData(5 * TDeflateWriter::kDeflateBlockSize + 99, 12);
    WriteBytes(Path("src"), data);
    for (int threads : {1, 2, 4}) {
        SCOPED_TRACE(threads);
        TWinCopyThread worker(Path("src"), Path("t.gz"), nullptr,
            TCopyOptions {coCompress, coOverwrite, coVerify}, true, 0x80000);
        worker.SetDeflateThreads(threads);
        worker.Start();
        EXPECT_EQ(enginetest::Finish(worker).error, 0);
        EXPECT_EQ(kestest::Run("gzip", {"-dc", Path("t.gz")}).out, data);
    }
}

} // namespace
