// One-entry zip archives: readable by unzip, 7-Zip and Python's zipfile,
// laid out as specified (names, AES, Zip64), verified, and damaged or
// crafted archives rejected with their error words.
#include "EngineTestSupport.h"
#include "fileengine/Containers.h"
#include "fileengine/CopyErrors.h"
#include "fileengine/CopyThread.h"
#include "fileengine/NameCodec.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kes;
using enginetest::MixedData;
using enginetest::RunCopy;
using enginetest::RunVerify;
using kestest::ReadBytes;
using kestest::WriteBytes;

namespace {

const TCopyOptions kSelwandZip {coOverwrite, coAttributes, coTimeStamp, coZipCompress, coCompress};
const TCopyOptions kSelwandZipStored {coOverwrite, coAttributes, coTimeStamp, coZipCompress};

quint64 Le(const QByteArray& b, qsizetype at, int n)
{
    quint64 v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

// Position of the central header (from the end record of a small archive).
qsizetype CentralOffset(const QByteArray& zip)
{
    return qsizetype(Le(zip, zip.size() - 22 + 16, 4));
}

class ZipTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(ZipTest, UnzipAnd7zAcceptOurArchives)
{
    REQUIRE_TOOL("unzip");
    REQUIRE_TOOL("7z");
    struct Case {
        const char* name;
        QByteArray data;
        TCopyOptions options;
    } cases[] = {
        {"empty.txt", QByteArray(), kSelwandZip},
        {"notes.txt", "some notes\r\nand more\r\n", kSelwandZip},
        {"photo.jpg", MixedData(400000, 3), kSelwandZipStored},
        {"mixed.bin", MixedData(2000000, 4), kSelwandZip},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString src = Path(c.name);
        WriteBytes(src, c.data);
        const QString zip = src + ".zip";
        const auto o = RunCopy(src, zip, c.options);
        ASSERT_EQ(o.error, 0) << o.message.toStdString();
        const auto t = kestest::Run("unzip", {"-t", zip});
        EXPECT_EQ(t.exitCode, 0) << t.out.toStdString();
        EXPECT_EQ(kestest::Run("7z", {"t", zip}).exitCode, 0);
        EXPECT_EQ(kestest::Run("unzip", {"-p", zip}).out, c.data);
        EXPECT_EQ(RunVerify(zip, ckZip).error, 0);
    }
}

TEST_F(ZipTest, SmallTextEntryLayout)
{
    WriteBytes(Path("notes.txt"), QByteArray(1000, 'n'));
    ASSERT_EQ(RunCopy(Path("notes.txt"), Path("n.zip"), kSelwandZip).error, 0);
    const QByteArray z = ReadBytes(Path("n.zip"));
    EXPECT_EQ(Le(z, 0, 4), 0x04034B50u);
    EXPECT_EQ(Le(z, 4, 2), 20u); // version needed
    EXPECT_EQ(Le(z, 6, 2), 0x0082u); // deflated
    EXPECT_EQ(Le(z, 8, 2), 8u);
    EXPECT_EQ(Le(z, 26, 2), 9u);
    EXPECT_EQ(Le(z, 28, 2), 0u); // no extras
    EXPECT_EQ(z.mid(30, 9), "notes.txt");
    const qsizetype c = CentralOffset(z);
    EXPECT_EQ(Le(z, c, 4), 0x02014B50u);
    EXPECT_EQ(Le(z, c + 4, 2), 20u);
    EXPECT_EQ(Le(z, c + 16, 4), Le(z, 14, 4)); // CRC as local
    EXPECT_EQ(Le(z, c + 24, 4), 1000u);
    EXPECT_EQ(Le(z, c + 38, 4), quint64(faArchive));
    EXPECT_EQ(Le(z, z.size() - 22, 4), 0x06054B50u);
    EXPECT_EQ(Le(z, z.size() - 22 + 10, 2), 1u); // one entry

    // An empty source is stored.
    WriteBytes(Path("empty"), QByteArray());
    ASSERT_EQ(RunCopy(Path("empty"), Path("e.zip"), kSelwandZip).error, 0);
    const QByteArray e = ReadBytes(Path("e.zip"));
    EXPECT_EQ(Le(e, 8, 2), 0u);
    EXPECT_EQ(Le(e, 6, 2), 0x0080u);
}

TEST_F(ZipTest, StoredNameEncodings)
{
    struct Case {
        const char* name; // UTF-8
        bool utf8;
        QByteArray stored;
    } cases[] = {
        {"plain.txt", false, "plain.txt"}, {"m\xC3\xA4rz.txt", false, "m\x84rz.txt"}, // ä in code page 437
        {"\xC2\xA7 1.txt", false, "\x15 1.txt"}, // § is stored as $15
        {"\xC3\xA1gua.txt", true, "\xC3\xA1gua.txt"}, // á counts as having no equivalent
        {"\xC3\x80.txt", true, "\xC3\x80.txt"}, // À is not in code page 437
        {"\xE6\x97\xA5.txt", true, "\xE6\x97\xA5.txt"}, // above U+00FF
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString src = Path(QString::fromUtf8(c.name));
        WriteBytes(src, "x");
        ASSERT_EQ(RunCopy(src, Path("n.zip"), kSelwandZip).error, 0);
        const QByteArray z = ReadBytes(Path("n.zip"));
        EXPECT_EQ(bool(Le(z, 6, 2) & 0x0800), c.utf8);
        EXPECT_EQ(z.mid(30, Le(z, 26, 2)), c.stored);
    }
}

TEST_F(ZipTest, Cp437TableAgreesWithThePublishedCodePage)
{
    // Python's cp437 codec is the published code page; the table differs
    // only where the format says so.
    const auto r = enginetest::Python("import sys\n"
                                      "for c in range(0xA0, 0x100):\n"
                                      "    try: b = chr(c).encode('cp437')[0]\n"
                                      "    except UnicodeEncodeError: b = 0\n"
                                      "    sys.stdout.write('%d ' % b)\n");
    ASSERT_EQ(r.exitCode, 0);
    const QList<QByteArray> expected = r.out.trimmed().split(' ');
    ASSERT_EQ(expected.size(), 96);
    for (int c = 0xA0; c <= 0xFF; ++c) {
        SCOPED_TRACE(c);
        int want = expected[c - 0xA0].toInt();
        if (c == 0xA7)
            want = 0x15;
        else if (c == 0xB6)
            want = 0x14;
        else if (c == 0xA0 || c == 0xAA || c == 0xB7 || c == 0xBA || c == 0xE1)
            want = 0;
        EXPECT_EQ(Cp437FromLatin1(char16_t(c)), want);
    }
}

TEST_F(ZipTest, EncryptedEntriesExtractWith7z)
{
    REQUIRE_TOOL("7z");
    struct Case {
        int keyMode;
        qsizetype size; // below 20: AE-2
    } cases[] = {{1, 10}, {2, 5000}, {3, 300000}, {3, 19}, {1, 20}, {2, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(QString("key mode %1, %2 bytes").arg(c.keyMode).arg(c.size).toStdString());
        const QByteArray data = MixedData(c.size, quint32(c.keyMode));
        WriteBytes(Path("secret.txt"), data);
        TEncryption enc("s3cr3t pass", c.keyMode, 0x10000);
        const auto o = RunCopy(
            Path("secret.txt"), Path("s.zip"), TCopyOptions {coZipCompress, coOverwrite, coVerify}, &enc);
        ASSERT_EQ(o.error, 0) << o.message.toStdString();
        const QByteArray z = ReadBytes(Path("s.zip"));
        const qsizetype aes = 30 + 10;
        EXPECT_EQ(Le(z, aes, 2), 0x9901u);
        EXPECT_EQ(Le(z, aes + 4, 2), c.size < 20 ? 2u : 1u);
        EXPECT_EQ(quint8(z[aes + 8]), c.keyMode);
        EXPECT_EQ(Le(z, aes + 9, 2), c.size > 0 ? 8u : 0u);
        QDir(Path("out")).removeRecursively();
        const auto x = kestest::Run("7z", {"x", "-pS3cr3t pass", "-o" + Path("out"), Path("s.zip")});
        EXPECT_NE(x.exitCode, 0); // wrong password (letter case)
        QDir(Path("out")).removeRecursively();
        const auto y = kestest::Run("7z", {"x", "-ps3cr3t pass", "-o" + Path("out"), Path("s.zip")});
        EXPECT_EQ(y.exitCode, 0) << y.out.toStdString();
        EXPECT_EQ(ReadBytes(Path("out/secret.txt")), data);
    }
}

TEST_F(ZipTest, TenByteEncryptedEntryIsAe2WithoutCrc)
{
    WriteBytes(Path("ten.txt"), "0123456789");
    TEncryption enc("pw", 1, 0x10000);
    ASSERT_EQ(RunCopy(Path("ten.txt"), Path("t.zip"), kSelwandZip, &enc).error, 0);
    const QByteArray z = ReadBytes(Path("t.zip"));
    EXPECT_EQ(Le(z, 4, 2), 51u);
    EXPECT_EQ(Le(z, 6, 2), 0x0081u);
    EXPECT_EQ(Le(z, 8, 2), 99u);
    EXPECT_EQ(Le(z, 14, 4), 0u);
    const qsizetype c = CentralOffset(z);
    EXPECT_EQ(Le(z, c + 20, 4), Le(z, 18, 4));
    EXPECT_GE(Le(z, 18, 4), 8u + 2 + 10);
    EXPECT_EQ(Le(z, c + 16, 4), 0u);
    EXPECT_EQ(Le(z, c + 6, 2), 51u);
    EXPECT_EQ(Le(z, c + 10, 2), 99u);
    EXPECT_EQ(Le(z, 22, 4), 10u);
}

TEST_F(ZipTest, Zip64StructuresReadByPython)
{
    // Lowered limits turn a small entry into a Zip64 entry whose sizes and
    // directory position "do not fit" 32 bits.
    struct Limits {
        TZip64Limits saved = Zip64Limits();
        ~Limits() { SetZip64Limits(saved); }
    } restore;
    struct Case {
        const char* what;
        QByteArray data;
        TCopyOptions options;
        quint64 fieldLimit;
        int centralZip64Length;
        bool zip64End;
    } cases[] = {
        {"stored, both sizes large", MixedData(50000, 9), kSelwandZipStored, 40000, 16, true},
        {"compressed below the limit", QByteArray(60000, 'a'), kSelwandZip, 40000, 8, false},
        {"sizes fit, extra of length 0", QByteArray(60000, 'a'), kSelwandZip, 1u << 20, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetZip64Limits(TZip64Limits {1000, c.fieldLimit});
        WriteBytes(Path("big.dat"), c.data);
        ASSERT_EQ(
            RunCopy(Path("big.dat"), Path("z.zip"), TCopyOptions(c.options).Include(coVerify)).error, 0);
        const QByteArray z = ReadBytes(Path("z.zip"));
        EXPECT_EQ(Le(z, 4, 2), 45u);
        EXPECT_EQ(Le(z, 18, 4), 0xFFFFFFFFu);
        EXPECT_EQ(Le(z, 22, 4), 0xFFFFFFFFu);
        EXPECT_EQ(Le(z, 28, 2), 20u);
        EXPECT_EQ(Le(z, 30 + 7, 2), 0x0001u);
        EXPECT_EQ(Le(z, 30 + 7 + 4, 8), quint64(c.data.size()));
        // Central header: find it through Python, which must also read the
        // Zip64 values and check the data.
        const auto r = enginetest::Python("import sys, zipfile\n"
                                          "z = zipfile.ZipFile(sys.argv[1])\n"
                                          "i = z.infolist()[0]\n"
                                          "assert z.testzip() is None\n"
                                          "print(i.filename, i.file_size, i.compress_size, len(i.extra))\n",
            {Path("z.zip")});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        const QList<QByteArray> f = r.out.trimmed().split(' ');
        ASSERT_EQ(f.size(), 4);
        EXPECT_EQ(f[0], "big.dat");
        EXPECT_EQ(f[1].toLongLong(), c.data.size());
        EXPECT_EQ(f[3].toInt(), 4 + c.centralZip64Length);
        const bool zip64End = z.size() > 98 && Le(z, z.size() - 98, 4) == 0x06064B50u;
        EXPECT_EQ(zip64End, c.zip64End);
    }
}

TEST_F(ZipTest, DamagedArchivesFailVerification)
{
    WriteBytes(Path("src"), MixedData(300000));
    ASSERT_EQ(RunCopy(Path("src"), Path("good.zip"), kSelwandZip).error, 0);
    const QByteArray good = ReadBytes(Path("good.zip"));
    const qsizetype c = CentralOffset(good);
    auto flipped = [&](qsizetype at) {
        QByteArray b = good;
        b[at] = char(b[at] ^ 0x10);
        return b;
    };
    struct Case {
        const char* what;
        QByteArray bytes;
        int word;
    } cases[] = {
        {"local signature", flipped(0), 0x4008},
        {"byte in the data", flipped(30 + 3 + 5000), 0x410C},
        {"local CRC", flipped(15), 0x410C},
        {"local compressed size", flipped(19), 0x410C},
        {"central CRC", flipped(c + 17), 0x410C},
        {"end record missing", good.left(good.size() - 22), 0x410C},
        {"cut in the data", good.left(c / 2), 0x410C},
        {"name length past the end", good.left(30), 0x4008},
        {"empty file", QByteArray(), 0x4008},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        WriteBytes(Path("bad.zip"), k.bytes);
        const auto o = RunVerify(Path("bad.zip"), ckZip);
        EXPECT_EQ(o.error, k.word) << o.message.toStdString();
    }
}

TEST_F(ZipTest, CraftedLocalHeadersEndInErrorWords)
{
    auto local = [](quint32 c32, quint32 u32, const QByteArray& name, const QByteArray& extra, int flags = 0,
                     int method = 0) {
        QByteArray h;
        auto le = [&](quint64 v, int n) {
            for (int i = 0; i < n; ++i)
                h.append(char(v >> (8 * i)));
        };
        le(0x04034B50, 4);
        le(20, 2);
        le(flags, 2);
        le(method, 2);
        le(0, 4);
        le(0, 4);
        le(c32, 4);
        le(u32, 4);
        le(name.size(), 2);
        le(extra.size(), 2);
        return h + name + extra;
    };
    auto field = [](int id, const QByteArray& body, int declared = -1) {
        QByteArray f;
        f.append(char(id & 0xFF)).append(char(id >> 8));
        const int len = declared < 0 ? int(body.size()) : declared;
        f.append(char(len & 0xFF)).append(char(len >> 8));
        return f + body;
    };
    struct Case {
        const char* what;
        QByteArray bytes;
        int word;
    } cases[] = {
        {"extra field longer than the extra data", local(0, 0, "a", field(0x5455, "1234", 400)), 0x4008},
        {"Zip64 sizes without the Zip64 field", local(0xFFFFFFFF, 0xFFFFFFFF, "a", QByteArray()), 0x4008},
        {"Zip64 field too short", local(0xFFFFFFFF, 0xFFFFFFFF, "a", field(1, QByteArray(8, '\0'))), 0x4008},
        {"sizes of 2^64-1", local(0xFFFFFFFF, 0xFFFFFFFF, "a", field(1, QByteArray(16, '\xFF'))), 0x4008},
        {"encrypted without AES field", local(20, 0, "a", QByteArray(), 1, 99), 0x4008},
        {"AES field with a bad strength",
            local(30, 0, "a",
                field(0x9901,
                    QByteArray("\x02\x00"
                               "AE\x07\x08\x00",
                        7)),
                1, 99),
            0x4008},
        {"name length past the end",
            local(0, 0, QByteArray(), QByteArray()).left(26) + QByteArray("\xFF\xFF\x00\x00", 4), 0x4008},
        {"data size past the end", local(1000000, 1000000, "a", QByteArray()), 0x410C},
        {"stored, but no directory", local(0, 0, "a", QByteArray()), 0x410C},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(Path("c.zip"), c.bytes);
        const auto o = RunVerify(Path("c.zip"), ckZip);
        EXPECT_EQ(o.error, c.word) << o.message.toStdString();
    }
}

TEST_F(ZipTest, EncryptedVerificationNeedsTheRightPassword)
{
    WriteBytes(Path("src"), MixedData(50000));
    TEncryption enc("right", 2, 0x10000);
    ASSERT_EQ(RunCopy(Path("src"), Path("e.zip"), kSelwandZip, &enc).error, 0);
    TEncryption right("right", 0, 0x10000), wrong("wrong", 0, 0x10000);
    EXPECT_EQ(RunVerify(Path("e.zip"), ckZip, &right).error, 0);
    EXPECT_EQ(RunVerify(Path("e.zip"), ckZip, &wrong).error, 0x410C);
    EXPECT_EQ(RunVerify(Path("e.zip"), ckZip).error, 0x410C);
}

} // namespace
