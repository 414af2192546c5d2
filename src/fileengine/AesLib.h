// Password-based encryption in the WinZip AES layout (AE-1 / AE-2):
//
//   salt (8, 12 or 16 bytes) | verification value (2) | data | code (10)
//
// The key material is PBKDF2-HMAC-SHA-1 over password and salt with 1000
// iterations: AES key, HMAC key, verification value. The data are XORed
// with AES in counter mode (a 16-byte block whose first 8 bytes count up
// from 1 as a little-endian number); the code is the first 10 bytes of
// HMAC-SHA-1 over the encrypted data. The same layout serves encrypted zip
// entries, encrypted gzip members and the encrypted copy ("VLEB" header).
//
// Password, keys and buffers are wiped before they are released. An
// object is used by one worker at a time; its progress calls run on the
// worker's thread.
#pragma once

#include "fileengine/CopyTypes.h"
#include "fileengine/Streams.h"

#include <QByteArray>
#include <array>
#include <functional>
#include <memory>

namespace kes {

enum TOpResult { orOk, orError, orUserBreak };

inline constexpr int kAesIterations = 1000;
inline constexpr int kAesTrailerSize = 10;
inline constexpr int kMaxPasswordLength = 128;

// Key length in bytes of a key mode (1-3), salt length of a key mode.
int AesKeyLength(int keyMode);
int AesSaltLength(int keyMode);
// The key mode chosen from a password's length: fewer than 32 bytes 1,
// 48 or more 3, otherwise 2.
int KeyModeForPasswordLength(int length);

// The primitives as the layer uses them (exposed for known-answer tests).
QByteArray Pbkdf2HmacSha1(const QByteArray& password, const QByteArray& salt, int iterations, int length);
// AES encryption of one 16-byte block with a 16-, 24- or 32-byte key.
QByteArray AesEncryptBlock(const QByteArray& key, const QByteArray& block);

class TCrypt {
public:
    // Keeps the first 128 bytes of Password; AMode 1-3 fixes the key mode,
    // any other value chooses it from the password's length.
    TCrypt(const QByteArray& Password, int AMode, int ABufSize);
    virtual ~TCrypt();
    TCrypt(const TCrypt&) = delete;
    TCrypt& operator=(const TCrypt&) = delete;

    int KeyMode() const { return FMode; }
    void SetKeyMode(int Value);
    bool FixedKey() const { return FFixedKey; }
    int GetHeaderSize() const;
    static int GetTrailerSize() { return kAesTrailerSize; }

    // The pause event the data loops wait on (not owned; may be null).
    TPauseEvent* Event() const { return FEvent; }
    void SetEvent(TPauseEvent* Value) { FEvent = Value; }

    // Derives the keys from password and salt (of the current mode's
    // length); pv receives the verification value.
    bool InitCipher(const unsigned char* salt, unsigned char pv[2]);
    // In place. Encryption applies the key stream, then feeds the result to
    // the HMAC; decryption the other way round.
    void EncryptBlock(void* Buffer, qint64 BLen);
    void DecryptBlock(void* Buffer, qint64 BLen);

    // Reads salt and verification value and checks the password.
    bool ReadHeader(TStream& sSource);
    bool WriteTrailer(TStream& sDest);
    // Reads the 10-byte code and compares it with the computed one.
    bool ReadTrailer(TStream& sSource);

    // The system code of the last failed read or write of a stream call
    // (0 when the failure was not an I/O error).
    int LastStreamError() const { return FStreamError; }

protected:
    struct TFCryptContext;

    void WipeContext();
    void ComputeCode(unsigned char code[kAesTrailerSize]);

    int FMode = 1;
    bool FFixedKey = false;
    std::unique_ptr<TFCryptContext> FCryptCtx;
    std::array<unsigned char, kMaxPasswordLength> FPwd {};
    int FPwdLen = 0;
    qint64 CBufSize = 0;
    unsigned char* CBuffer = nullptr;
    TPauseEvent* FEvent = nullptr;
    int FStreamError = 0;
};

class TEncryption : public TCrypt {
public:
    TEncryption(const QByteArray& Password, int AMode, int ABufSize);

    const TFileProgressEvent& OnProgress() const { return FOnProgress; }
    void SetOnProgress(TFileProgressEvent Value) { FOnProgress = std::move(Value); }

    // Draws a salt, sets up the cipher and writes salt and verification value.
    bool WriteHeader(TStream& sDest);

    using TCancelCallback = std::function<bool()>;
    // Header, then the whole rest of sSource, then the code.
    TOpResult EncryptStreamEx(
        TStream& sSource, TStream& sDest, bool SpeedLimit, const TCancelCallback& CancelEncryption);
    bool EncryptStream(TStream& sSource, TStream& sDest, bool SpeedLimit);
    // SLength: the whole encrypted stream with header and code. sDest may
    // be null (check only). A source that ends early is orError.
    TOpResult DecryptStreamEx(TStream& sSource, TStream* sDest, qint64 SLength, bool SpeedLimit,
        const TCancelCallback& CancelDecryption);
    bool DecryptStream(TStream& sSource, TStream* sDest, qint64 SLength, bool SpeedLimit);

private:
    void Progress(TFileAction action, bool speedLimit, qint64 count);
    TFileProgressEvent FOnProgress;
};

// --- The encrypted copy --------------------------------------------------

// "VLEB" read as a little-endian number.
inline constexpr quint32 kEncryptedCopyMagic = 0x42454C56;
inline constexpr quint32 kEncryptedCopyMagicMask = 0xE6FFFFFF;
inline constexpr int kEncryptedCopyHeaderSize = 10;

// The 10-byte header: magic with flags (bit 0 set, key mode in bits 3-4),
// modification time in Unix seconds, attributes.
QByteArray EncryptedCopyHeader(int keyMode, quint32 unixTime, quint16 attributes);

// Reads the start of an encrypted copy from position 0: where the
// encrypted stream begins and the key mode it names (0 = none named).
// Returns 0 or a read error (kErrEndOfData for a file shorter than its
// header says).
int ReadEncryptedCopyHeader(TStream& source, qint64& streamOffset, int& keyMode);

// Gives back what the crypto library keeps for the calling thread (its
// error queue and caches); for worker threads that end or wait long.
void ReleaseThreadCryptoState();

} // namespace kes
