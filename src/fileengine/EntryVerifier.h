// The verification of what the engine wrote: a gzip member, a zip archive
// of one entry or an encrypted copy, each read back from the start of a
// stream as hostile input (Containers.h checks every length and offset).
#pragma once

#include "fileengine/AesLib.h"
#include "fileengine/CopySteps.h"
#include "fileengine/Streams.h"

namespace kes {

class TEntryVerifier {
public:
    // crypt: for encrypted data (none: such data fail with a reason).
    TEntryVerifier(ICopyStepHost& host, TBlockPump& pump, TEncryption* crypt);

    // With crcKnown the data must also have the CRC expectedCrc, the one
    // computed while they were written.
    //
    // The header, the data (inflated, or decrypted) and the trailer against
    // them. 0; 8 or 4 for the header; 128; 268 for everything after it.
    int VerifyGzipMember(TStream& source, bool crcKnown, quint32 expectedCrc);
    // The local header, the data (inflated, read as stored, or decrypted),
    // the central directory and end records against the local header. 0; 8
    // for the local header; 128; 268 for everything after it.
    int VerifyZipEntry(TStream& source, bool crcKnown, quint32 expectedCrc);
    // The 10-byte header (4 when it cannot be read), then the encrypted
    // stream, whose key mode the header may name. 0; 128; 268.
    int VerifyEncryptedCopy(TStream& source);

private:
    // length bytes of encrypted data (salt to code) at the position;
    // withinFile says whether they fit the file.
    int VerifyEncrypted(TStream& source, int keyMode, qint64 length, bool withinFile);
    // The CRC of the data the pump has read.
    bool DataMatch(bool crcKnown, quint32 expectedCrc, quint32 storedCrc) const;

    ICopyStepHost& FHost;
    TBlockPump& FPump;
    TEncryption* FCrypt;
};

} // namespace kes
