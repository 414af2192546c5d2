#include "fileengine/AesLib.h"

#include <QtEndian>
#include <cstring>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

namespace kes {

int AesKeyLength(int keyMode)
{
    return 8 + 8 * keyMode; // 16, 24, 32
}

int AesSaltLength(int keyMode)
{
    return 4 + 4 * keyMode; // 8, 12, 16
}

int KeyModeForPasswordLength(int length)
{
    if (length < 32)
        return 1;
    if (length >= 48)
        return 3;
    return 2;
}

namespace {

const EVP_CIPHER* EcbCipher(int keyLength)
{
    switch (keyLength) {
    case 16:
        return EVP_aes_128_ecb();
    case 24:
        return EVP_aes_192_ecb();
    case 32:
        return EVP_aes_256_ecb();
    default:
        return nullptr;
    }
}

EVP_MAC* HmacAlgorithm()
{
    // Fetched once; the algorithm object is shared by every context.
    static EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    return mac;
}

} // namespace

QByteArray Pbkdf2HmacSha1(const QByteArray& password, const QByteArray& salt, int iterations, int length)
{
    QByteArray out(length, Qt::Uninitialized);
    if (PKCS5_PBKDF2_HMAC_SHA1(password.constData(), int(password.size()),
            reinterpret_cast<const unsigned char*>(salt.constData()), int(salt.size()), iterations, length,
            reinterpret_cast<unsigned char*>(out.data()))
        != 1)
        return {};
    return out;
}

QByteArray AesEncryptBlock(const QByteArray& key, const QByteArray& block)
{
    const EVP_CIPHER* cipher = EcbCipher(int(key.size()));
    if (!cipher || block.size() != 16)
        return {};
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    QByteArray out(16, Qt::Uninitialized);
    int len = 0;
    const bool ok = ctx
        && EVP_EncryptInit_ex(
            ctx, cipher, nullptr, reinterpret_cast<const unsigned char*>(key.constData()), nullptr)
        && EVP_CIPHER_CTX_set_padding(ctx, 0)
        && EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &len,
            reinterpret_cast<const unsigned char*>(block.constData()), 16)
        && len == 16;
    EVP_CIPHER_CTX_free(ctx);
    return ok ? out : QByteArray();
}

// Counter-mode and HMAC state. The key stream is made KsBlocks blocks at a
// time: the counter blocks are laid out in Counters and encrypted in one
// ECB call.
struct TCrypt::TFCryptContext {
    static constexpr int KsBlocks = 1024;
    unsigned char Counter[16] = {};
    unsigned char Counters[16 * KsBlocks] = {};
    unsigned char Keystream[16 * KsBlocks] = {};
    int KsPos = 0;
    int KsLen = 0;
    EVP_CIPHER_CTX* Aes = nullptr;
    EVP_MAC_CTX* Hmac = nullptr;
    int Mode = 0;
    int PwdLen = 0;
    bool Ready = false;

    ~TFCryptContext()
    {
        EVP_CIPHER_CTX_free(Aes);
        EVP_MAC_CTX_free(Hmac);
        OPENSSL_cleanse(Counter, sizeof Counter);
        OPENSSL_cleanse(Counters, sizeof Counters);
        OPENSSL_cleanse(Keystream, sizeof Keystream);
    }

    void Refill()
    {
        // Only the low 8 bytes of each counter block change; the high 8
        // stay zero.
        quint64 counter = qFromLittleEndian<quint64>(Counter);
        for (int b = 0; b < KsBlocks; ++b) {
            ++counter;
            qToLittleEndian(counter, Counters + 16 * b);
        }
        qToLittleEndian(counter, Counter);
        int len = 0;
        EVP_EncryptUpdate(Aes, Keystream, &len, Counters, int(sizeof Counters));
        KsLen = len;
        KsPos = 0;
    }

    void ApplyKeystream(unsigned char* p, qint64 n)
    {
        while (n > 0) {
            if (KsPos >= KsLen)
                Refill();
            const int chunk = int(qMin<qint64>(n, KsLen - KsPos));
            const unsigned char* ks = Keystream + KsPos;
            int i = 0;
            for (; i + 8 <= chunk; i += 8) {
                quint64 a, k;
                std::memcpy(&a, p + i, 8);
                std::memcpy(&k, ks + i, 8);
                a ^= k;
                std::memcpy(p + i, &a, 8);
            }
            for (; i < chunk; ++i)
                p[i] ^= ks[i];
            KsPos += chunk;
            p += chunk;
            n -= chunk;
        }
    }
};

TCrypt::TCrypt(const QByteArray& Password, int AMode, int ABufSize)
{
    FPwdLen = int(qMin<qsizetype>(Password.size(), kMaxPasswordLength));
    std::memcpy(FPwd.data(), Password.constData(), size_t(FPwdLen));
    CBufSize = ABufSize > 0 ? ABufSize : 0x10000;
    CBuffer = new unsigned char[size_t(CBufSize)];
    SetKeyMode(AMode);
    FFixedKey = true;
}

TCrypt::~TCrypt()
{
    WipeContext();
    OPENSSL_cleanse(FPwd.data(), FPwd.size());
    FPwdLen = 0;
    if (CBuffer) {
        OPENSSL_cleanse(CBuffer, size_t(CBufSize));
        delete[] CBuffer;
    }
}

void TCrypt::SetKeyMode(int Value)
{
    if (Value >= 1 && Value <= 3) {
        FMode = Value;
        return;
    }
    FFixedKey = false;
    FMode = KeyModeForPasswordLength(FPwdLen);
}

int TCrypt::GetHeaderSize() const
{
    return AesSaltLength(FMode) + 2;
}

void TCrypt::WipeContext()
{
    FCryptCtx.reset();
}

bool TCrypt::InitCipher(const unsigned char* salt, unsigned char pv[2])
{
    WipeContext();
    const int keyLen = AesKeyLength(FMode);
    const int derivedLen = 2 * keyLen + 2;
    unsigned char derived[2 * 32 + 2];
    if (PKCS5_PBKDF2_HMAC_SHA1(reinterpret_cast<const char*>(FPwd.data()), FPwdLen, salt,
            AesSaltLength(FMode), kAesIterations, derivedLen, derived)
        != 1)
        return false;
    auto ctx = std::make_unique<TFCryptContext>();
    ctx->Mode = FMode;
    ctx->PwdLen = FPwdLen;
    ctx->Aes = EVP_CIPHER_CTX_new();
    bool ok = ctx->Aes && EVP_EncryptInit_ex(ctx->Aes, EcbCipher(keyLen), nullptr, derived, nullptr)
        && EVP_CIPHER_CTX_set_padding(ctx->Aes, 0);
    if (ok && HmacAlgorithm()) {
        ctx->Hmac = EVP_MAC_CTX_new(HmacAlgorithm());
        char digest[] = "SHA1";
        OSSL_PARAM params[] = {
            OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0), OSSL_PARAM_construct_end()};
        ok = ctx->Hmac && EVP_MAC_init(ctx->Hmac, derived + keyLen, size_t(keyLen), params);
    } else {
        ok = false;
    }
    pv[0] = derived[2 * keyLen];
    pv[1] = derived[2 * keyLen + 1];
    OPENSSL_cleanse(derived, sizeof derived);
    if (!ok)
        return false;
    ctx->Ready = true;
    FCryptCtx = std::move(ctx);
    return true;
}

void TCrypt::EncryptBlock(void* Buffer, qint64 BLen)
{
    if (!FCryptCtx || BLen <= 0)
        return;
    auto* p = static_cast<unsigned char*>(Buffer);
    FCryptCtx->ApplyKeystream(p, BLen);
    EVP_MAC_update(FCryptCtx->Hmac, p, size_t(BLen));
}

void TCrypt::DecryptBlock(void* Buffer, qint64 BLen)
{
    if (!FCryptCtx || BLen <= 0)
        return;
    auto* p = static_cast<unsigned char*>(Buffer);
    EVP_MAC_update(FCryptCtx->Hmac, p, size_t(BLen));
    FCryptCtx->ApplyKeystream(p, BLen);
}

void TCrypt::ComputeCode(unsigned char code[kAesTrailerSize])
{
    unsigned char mac[EVP_MAX_MD_SIZE];
    size_t len = 0;
    if (!FCryptCtx || !EVP_MAC_final(FCryptCtx->Hmac, mac, &len, sizeof mac) || len < kAesTrailerSize) {
        // No code could be computed; the callers see Ready cleared and fail.
        std::memset(code, 0, kAesTrailerSize);
        if (FCryptCtx)
            FCryptCtx->Ready = false;
        return;
    }
    std::memcpy(code, mac, kAesTrailerSize);
    OPENSSL_cleanse(mac, sizeof mac);
}

bool TCrypt::ReadHeader(TStream& sSource)
{
    FStreamError = 0;
    unsigned char salt[16];
    unsigned char stored[2];
    unsigned char pv[2];
    const int saltLen = AesSaltLength(FMode);
    int err = sSource.ReadExact(salt, saltLen);
    if (!err)
        err = sSource.ReadExact(stored, 2);
    if (err) {
        FStreamError = err > 0 ? err : 0;
        return false;
    }
    if (!InitCipher(salt, pv))
        return false;
    return pv[0] == stored[0] && pv[1] == stored[1];
}

bool TCrypt::WriteTrailer(TStream& sDest)
{
    FStreamError = 0;
    unsigned char code[kAesTrailerSize];
    ComputeCode(code);
    if (!FCryptCtx || !FCryptCtx->Ready)
        return false;
    const int err = sDest.WriteAll(code, kAesTrailerSize);
    FStreamError = err;
    return err == 0;
}

bool TCrypt::ReadTrailer(TStream& sSource)
{
    FStreamError = 0;
    unsigned char stored[kAesTrailerSize];
    const int err = sSource.ReadExact(stored, kAesTrailerSize);
    if (err) {
        FStreamError = err > 0 ? err : 0;
        return false;
    }
    unsigned char code[kAesTrailerSize];
    ComputeCode(code);
    if (!FCryptCtx || !FCryptCtx->Ready)
        return false;
    return CRYPTO_memcmp(code, stored, kAesTrailerSize) == 0;
}

// --- TEncryption ------------------------------------------------------------

TEncryption::TEncryption(const QByteArray& Password, int AMode, int ABufSize)
    : TCrypt(Password, AMode, ABufSize)
{
    // Salts come from the system's cryptographic random source
    // (RAND_bytes); it needs no seeding of ours.
}

void TEncryption::Progress(TFileAction action, bool speedLimit, qint64 count)
{
    if (FOnProgress)
        FOnProgress(action, speedLimit, count);
}

bool TEncryption::WriteHeader(TStream& sDest)
{
    FStreamError = 0;
    unsigned char salt[16];
    unsigned char pv[2];
    const int saltLen = AesSaltLength(FMode);
    if (RAND_bytes(salt, saltLen) != 1 || !InitCipher(salt, pv))
        return false;
    int err = sDest.WriteAll(salt, saltLen);
    if (!err)
        err = sDest.WriteAll(pv, 2);
    FStreamError = err;
    return err == 0;
}

TOpResult TEncryption::EncryptStreamEx(
    TStream& sSource, TStream& sDest, bool SpeedLimit, const TCancelCallback& CancelEncryption)
{
    if (!WriteHeader(sDest))
        return orError;
    qint64 total = 0;
    for (;;) {
        if (FEvent)
            FEvent->Wait();
        qint64 got = 0;
        if (const int err = sSource.Read(CBuffer, CBufSize, got)) {
            FStreamError = err;
            return orError;
        }
        total += got;
        Progress(acEncrypt, SpeedLimit, total);
        EncryptBlock(CBuffer, got);
        if (got > 0) {
            if (const int err = sDest.WriteAll(CBuffer, got)) {
                FStreamError = err;
                return orError;
            }
        }
        if (CancelEncryption && CancelEncryption())
            return orUserBreak;
        if (got < CBufSize)
            break;
    }
    return WriteTrailer(sDest) ? orOk : orError;
}

bool TEncryption::EncryptStream(TStream& sSource, TStream& sDest, bool SpeedLimit)
{
    return EncryptStreamEx(sSource, sDest, SpeedLimit, nullptr) == orOk;
}

TOpResult TEncryption::DecryptStreamEx(TStream& sSource, TStream* sDest, qint64 SLength, bool SpeedLimit,
    const TCancelCallback& CancelDecryption)
{
    FStreamError = 0;
    qint64 remaining = SLength - GetHeaderSize() - kAesTrailerSize;
    if (remaining < 0 || !ReadHeader(sSource))
        return orError;
    qint64 total = 0;
    while (remaining > 0) {
        if (FEvent)
            FEvent->Wait();
        const qint64 want = qMin(CBufSize, remaining);
        const int err = sSource.ReadExact(CBuffer, want);
        if (err) {
            FStreamError = err > 0 ? err : 0;
            return orError;
        }
        total += want;
        remaining -= want;
        Progress(acDecrypt, SpeedLimit, total);
        DecryptBlock(CBuffer, want);
        if (sDest) {
            if (const int werr = sDest->WriteAll(CBuffer, want)) {
                FStreamError = werr;
                return orError;
            }
        }
        if (CancelDecryption && CancelDecryption())
            return orUserBreak;
    }
    return ReadTrailer(sSource) ? orOk : orError;
}

bool TEncryption::DecryptStream(TStream& sSource, TStream* sDest, qint64 SLength, bool SpeedLimit)
{
    return DecryptStreamEx(sSource, sDest, SLength, SpeedLimit, nullptr) == orOk;
}

// --- Encrypted copy header --------------------------------------------------------

QByteArray EncryptedCopyHeader(int keyMode, quint32 unixTime, quint16 attributes)
{
    QByteArray h(kEncryptedCopyHeaderSize, '\0');
    auto* p = reinterpret_cast<unsigned char*>(h.data());
    p[0] = 'V';
    p[1] = 'L';
    p[2] = 'E';
    p[3] = static_cast<unsigned char>(0x42 + 1 + 8 * keyMode);
    for (int i = 0; i < 4; ++i)
        p[4 + i] = static_cast<unsigned char>(unixTime >> (8 * i));
    p[8] = static_cast<unsigned char>(attributes);
    p[9] = static_cast<unsigned char>(attributes >> 8);
    return h;
}

int ReadEncryptedCopyHeader(TStream& source, qint64& streamOffset, int& keyMode)
{
    streamOffset = 0;
    keyMode = 0;
    if (const int err = source.Seek(0))
        return err;
    unsigned char m[4];
    qint64 got = 0;
    if (const int err = source.Read(m, 4, got))
        return err;
    if (got == 4) {
        const quint32 v = quint32(m[0]) | quint32(m[1]) << 8 | quint32(m[2]) << 16 | quint32(m[3]) << 24;
        if ((v & kEncryptedCopyMagicMask) == kEncryptedCopyMagic) {
            streamOffset = (m[3] & 1) ? kEncryptedCopyHeaderSize : 4;
            keyMode = (m[3] >> 3) & 3;
        }
    }
    const qint64 size = source.Size();
    if (size >= 0 && size < streamOffset)
        return kErrEndOfData;
    return source.Seek(streamOffset);
}

void ReleaseThreadCryptoState()
{
    OPENSSL_thread_stop();
}

} // namespace kes
