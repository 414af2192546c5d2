// The AES layer: known-answer vectors of its primitives, the counter-mode
// layout checked against an independent computation, key modes, and
// streams that are wrong, damaged or cut short.
#include "EngineTestSupport.h"
#include "fileengine/AesLib.h"
#include "fileengine/CopyErrors.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kes;
using enginetest::MixedData;
using kestest::ReadBytes;
using kestest::WriteBytes;

namespace {

TEST(AesPrimitives, Pbkdf2HmacSha1MatchesRfc6070)
{
    struct Case {
        QByteArray password, salt;
        int iterations;
        int length;
        const char* hex;
    } cases[] = {
        {"password", "salt", 1, 20, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 2, 20, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"password", "salt", 4096, 20, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25,
            "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {QByteArray("pass\0word", 9), QByteArray("sa\0lt", 5), 4096, 16, "56fa6aa75548099dcc37d7f03425e0c3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        EXPECT_EQ(Pbkdf2HmacSha1(c.password, c.salt, c.iterations, c.length).toHex(), c.hex);
    }
}

TEST(AesPrimitives, AesBlockMatchesFips197)
{
    const QByteArray plain = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    struct Case {
        const char* key;
        const char* cipher;
    } cases[] = {
        {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
            "8ea2b7ca516745bfeafc49904b496089"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(AesEncryptBlock(QByteArray::fromHex(c.key), plain).toHex(), c.cipher);
    }
}

TEST(AesLayer, StreamLayoutMatchesAnIndependentComputation)
{
    // Python derives the keys (hashlib), OpenSSL's command line encrypts
    // the little-endian counter blocks (AES-ECB), Python XORs and computes
    // the HMAC. Our output must be byte for byte the same for its salt.
    REQUIRE_TOOL("openssl");
    const QByteArray password = "layout check";
    const QByteArray plain = MixedData(1000, 5); // 63 blocks: a partial last block
    for (int mode = 1; mode <= 3; ++mode) {
        SCOPED_TRACE(mode);
        TEncryption enc(password, mode, 77); // an odd buffer size: pieces of any length
        TMemoryStream src(plain), dst;
        ASSERT_EQ(enc.EncryptStreamEx(src, dst, false, nullptr), orOk);
        const QByteArray out = dst.Data();
        const int saltLen = AesSaltLength(mode);
        ASSERT_EQ(out.size(), saltLen + 2 + plain.size() + 10);
        const auto r = enginetest::Python(
            "import sys, hashlib, hmac, subprocess\n"
            "pw, salt, plain = sys.argv[1].encode(), bytes.fromhex(sys.argv[2]), bytes.fromhex(sys.argv[3])\n"
            "kl = int(sys.argv[4])\n"
            "d = hashlib.pbkdf2_hmac('sha1', pw, salt, 1000, 2 * kl + 2)\n"
            "n = (len(plain) + 15) // 16\n"
            "ctr = b''.join((i + 1).to_bytes(8, 'little') + bytes(8) for i in range(n))\n"
            "ks = subprocess.run(['openssl', 'enc', '-aes-%d-ecb' % (kl * 8), '-K', d[:kl].hex(), "
            "'-nopad'],\n"
            "                    input=ctr, capture_output=True, check=True).stdout\n"
            "c = bytes(a ^ b for a, b in zip(plain, ks))\n"
            "mac = hmac.new(d[kl:2 * kl], c, 'sha1').digest()[:10]\n"
            "print((salt + d[2 * kl:] + c + mac).hex())\n",
            {QString::fromLatin1(password), QString::fromLatin1(out.left(saltLen).toHex()),
                QString::fromLatin1(plain.toHex()), QString::number(AesKeyLength(mode))});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(out.toHex(), r.out.trimmed());
    }
}

TEST(AesLayer, KeyModeFollowsThePasswordLength)
{
    struct Case {
        int passwordLength;
        int mode;
        int expectedMode;
        int headerSize;
    } cases[] = {
        {40, 7, 2, 14},
        {31, 0, 1, 10},
        {32, 0, 2, 14},
        {47, -1, 2, 14},
        {48, 0, 3, 18},
        {5, 3, 3, 18},
        {60, 1, 1, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.passwordLength);
        TCrypt crypt(QByteArray(c.passwordLength, 'p'), c.mode, 1024);
        EXPECT_EQ(crypt.KeyMode(), c.expectedMode);
        EXPECT_EQ(crypt.GetHeaderSize(), c.headerSize);
        EXPECT_EQ(TCrypt::GetTrailerSize(), 10);
    }
}

TEST(AesLayer, RoundTripsAndRejectsWrongOrDamagedStreams)
{
    const QByteArray plain = MixedData(100003, 2);
    TEncryption enc("secret", 2, 4096);
    TMemoryStream src(plain), sealed;
    ASSERT_EQ(enc.EncryptStreamEx(src, sealed, true, nullptr), orOk);
    const QByteArray stream = sealed.Data();

    auto decrypt = [](const QByteArray& password, const QByteArray& bytes, QByteArray* out) {
        TEncryption dec(password, 2, 1000);
        TMemoryStream in(bytes), result;
        const TOpResult r = dec.DecryptStreamEx(in, &result, bytes.size(), false, nullptr);
        if (out)
            *out = result.Data();
        return r;
    };
    QByteArray out;
    EXPECT_EQ(decrypt("secret", stream, &out), orOk);
    EXPECT_EQ(out, plain);

    // A wrong password fails at the check value: nothing is written.
    EXPECT_EQ(decrypt("Secret", stream, &out), orError);
    EXPECT_TRUE(out.isEmpty());

    QByteArray damaged = stream;
    damaged[50000] = char(damaged[50000] ^ 4);
    EXPECT_EQ(decrypt("secret", damaged, nullptr), orError);
    QByteArray badCode = stream;
    badCode[badCode.size() - 1] = char(badCode[badCode.size() - 1] ^ 1);
    EXPECT_EQ(decrypt("secret", badCode, nullptr), orError);

    // The length says more than the source holds: an error, not a wait.
    TEncryption dec("secret", 2, 1000);
    TMemoryStream cut(stream.left(stream.size() - 500));
    EXPECT_EQ(dec.DecryptStreamEx(cut, nullptr, stream.size(), false, nullptr), orError);
    TMemoryStream tiny(stream.left(5));
    EXPECT_EQ(dec.DecryptStreamEx(tiny, nullptr, 5, false, nullptr), orError);

    // An empty plaintext is salt, check value and code.
    TMemoryStream none, emptySealed;
    ASSERT_TRUE(enc.EncryptStream(none, emptySealed, false));
    EXPECT_EQ(emptySealed.Size(), 12 + 2 + 10);
}

TEST(AesLayer, LongPasswordsAreCutTo128Bytes)
{
    const QByteArray longPassword = MixedData(200, 8);
    TEncryption enc(longPassword, 3, 4096);
    TMemoryStream src("data"), sealed;
    ASSERT_EQ(enc.EncryptStreamEx(src, sealed, false, nullptr), orOk);
    TEncryption cut(longPassword.left(128), 3, 4096);
    TMemoryStream in(sealed.Data());
    EXPECT_EQ(cut.DecryptStreamEx(in, nullptr, sealed.Size(), false, nullptr), orOk);
}

TEST(AesLayer, CancelledStreamsStop)
{
    TEncryption enc("pw", 1, 1000);
    TMemoryStream src(MixedData(10000)), dst;
    int calls = 0;
    EXPECT_EQ(enc.EncryptStreamEx(src, dst, false, [&] { return ++calls == 3; }), orUserBreak);
    EXPECT_EQ(calls, 3);
}

TEST(AesLayer, EncryptedCopyHeaderIsRecognised)
{
    struct Case {
        QByteArray start;
        qint64 offset;
        int keyMode;
    } cases[] = {
        {QByteArray("VLE\x53", 4) + QByteArray(20, 'x'), 10, 2},
        {QByteArray("VLE\x5B", 4) + QByteArray(20, 'x'), 10, 3},
        {QByteArray("VLE\x42", 4) + QByteArray(20, 'x'), 4, 0},
        {QByteArray("VLE\x4A", 4) + QByteArray(20, 'x'), 4, 1},
        {QByteArray("XLEB", 4) + QByteArray(20, 'x'), 0, 0},
        {QByteArray("VL", 2), 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start.left(4).toHex().toStdString());
        TMemoryStream s(c.start);
        qint64 offset = -1;
        int keyMode = -1;
        EXPECT_EQ(ReadEncryptedCopyHeader(s, offset, keyMode), 0);
        EXPECT_EQ(offset, c.offset);
        EXPECT_EQ(keyMode, c.keyMode);
        EXPECT_EQ(s.Position(), c.offset);
    }
    TMemoryStream shortFile(QByteArray("VLE\x53\x01", 5));
    qint64 offset = 0;
    int keyMode = 0;
    EXPECT_EQ(ReadEncryptedCopyHeader(shortFile, offset, keyMode), kErrEndOfData);
    EXPECT_EQ(EncryptedCopyHeader(2, 0x01020304, 0x21).toHex(), "564c4553040302012100");
}

TEST(AesLayer, EncryptedCopyWorkerWritesAndVerifies)
{
    QTemporaryDir dir;
    const QByteArray data = MixedData(250000, 6);
    WriteBytes(dir.filePath("src"), data);
    TEncryption enc("copy pass", 0, 0x10000);
    const auto o = enginetest::RunCopy(dir.filePath("src"), dir.filePath("dst"),
        TCopyOptions {coOverwrite, coVerify, coAttributes, coTimeStamp}, &enc);
    ASSERT_EQ(o.error, 0) << o.message.toStdString();
    const QByteArray file = ReadBytes(dir.filePath("dst"));
    EXPECT_EQ(file.left(4), QByteArray("VLE\x4B", 4)); // bit 0 and key mode 1 (a short password)
    EXPECT_EQ(file.size(), 10 + 8 + 2 + data.size() + 10);

    TEncryption right("copy pass", 0, 0x10000), wrong("copy pas", 0, 0x10000);
    EXPECT_EQ(enginetest::RunVerify(dir.filePath("dst"), ckEncrypted, &right).error, 0);
    const auto bad = enginetest::RunVerify(dir.filePath("dst"), ckEncrypted, &wrong);
    EXPECT_EQ(bad.error, 0x510C);
    EXPECT_EQ(CopyErrorText(bad.error), "Error - Verification failed (-> Encrypt)");
    QByteArray damaged = file;
    damaged[1000] = char(damaged[1000] ^ 8);
    WriteBytes(dir.filePath("damaged"), damaged);
    EXPECT_EQ(enginetest::RunVerify(dir.filePath("damaged"), ckEncrypted, &right).error, 0x510C);
}

} // namespace
