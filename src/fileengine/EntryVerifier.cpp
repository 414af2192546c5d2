#include "fileengine/EntryVerifier.h"

#include "fileengine/Containers.h"
#include "fileengine/CopyErrors.h"
#include "frame/I18n.h"

namespace kes {

TEntryVerifier::TEntryVerifier(ICopyStepHost& host, TBlockPump& pump, TEncryption* crypt)
    : FHost(host)
    , FPump(pump)
    , FCrypt(crypt)
{
}

int TEntryVerifier::VerifyEncrypted(TStream& source, int keyMode, qint64 length, bool withinFile)
{
    if (!FCrypt) {
        FHost.SetErrorMessage(U_("The data are encrypted and no password was given"));
        return ceVerification;
    }
    FHost.Progress(acVerify, false, -length);
    FCrypt->SetKeyMode(keyMode);
    if (!withinFile) {
        FHost.SetErrorMessage(U_("Unexpected end of file"));
        return ceVerification;
    }
    return TCryptStep(FHost, *FCrypt).Verify(source, length);
}

bool TEntryVerifier::DataMatch(bool crcKnown, quint32 expectedCrc, quint32 storedCrc) const
{
    return FPump.Crc() == storedCrc && (!crcKnown || FPump.Crc() == expectedCrc);
}

int TEntryVerifier::VerifyGzipMember(TStream& source, bool crcKnown, quint32 expectedCrc)
{
    TGzHeaderInfo h;
    QString message;
    if (const int result = ReadGzHeader(source, h, message)) {
        FHost.SetErrorMessage(message);
        return result;
    }
    if (h.KeyMode >= 0) // the data and the trailer must lie within the file
        return VerifyEncrypted(source, h.KeyMode, h.CSize, h.DataOffset + h.CSize + 8 <= source.Size());
    FHost.Progress(acVerify, false, -h.USize);
    FPump.Restart();
    if (const int result = FPump.Inflate(source, h.CSize, h.USize, !h.USizeFromTrailer))
        return result;
    unsigned char t[8];
    if (source.ReadExact(t, 8) != 0) {
        FHost.SetErrorMessage(U_("The file ends before its trailer"));
        return ceVerification;
    }
    const quint64 total = quint64(FPump.Total());
    const bool sizeOk
        = h.USizeFromTrailer ? (total & 0xFFFFFFFF) == quint64(h.USize) : total == quint64(h.USize);
    if (!DataMatch(crcKnown, expectedCrc, quint32(GetLe(t, 4))) || (total & 0xFFFFFFFF) != GetLe(t + 4, 4)
        || !sizeOk) {
        FHost.SetErrorMessage(U_("CRC or size of the data differ"));
        return ceVerification;
    }
    return 0;
}

int TEntryVerifier::VerifyZipEntry(TStream& source, bool crcKnown, quint32 expectedCrc)
{
    TZipLocalInfo h;
    QString message;
    int result = ReadZipLocalHeader(source, h, message);
    if (result != 0) {
        FHost.SetErrorMessage(message);
        return result;
    }
    if (h.Encrypted()) {
        result = VerifyEncrypted(source, h.KeyMode, h.CSize, true);
    } else {
        FHost.Progress(acVerify, false, -h.USize);
        FPump.Restart();
        // Any other method than deflate is read as stored.
        result = h.Method == 8 ? FPump.Inflate(source, h.CSize, h.USize, true)
                               : FPump.ReadStored(source, h.CSize);
        if (result == 0 && (!DataMatch(crcKnown, expectedCrc, h.Crc) || FPump.Total() != h.USize)) {
            FHost.SetErrorMessage(U_("CRC or size of the data differ"));
            result = ceVerification;
        }
    }
    if (result == 0 && !CheckZipDirectory(source, h, message)) {
        FHost.SetErrorMessage(message);
        result = ceVerification;
    }
    return result;
}

int TEntryVerifier::VerifyEncryptedCopy(TStream& source)
{
    qint64 offset = 0;
    int keyMode = 0;
    if (const int err = ReadEncryptedCopyHeader(source, offset, keyMode)) {
        if (err > 0)
            FHost.SetSysError(err);
        else
            FHost.SetErrorMessage(U_("The file is shorter than its header"));
        return enReadFile;
    }
    if (!FCrypt) {
        FHost.SetErrorMessage(U_("The data are encrypted and no password was given"));
        return ceVerification;
    }
    if (keyMode != 0)
        FCrypt->SetKeyMode(keyMode);
    return TCryptStep(FHost, *FCrypt).Verify(source, source.Size() - offset);
}

} // namespace kes
