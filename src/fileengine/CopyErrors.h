// Error words of the file transfer engine.
//
// Every engine operation ends with one 16-bit word: bits 0-7 the error
// number, bits 8-11 the severity, bits 12-15 the operation. Steps compose
// severity and number (for example ceLowDiskSpace = error + "Low disk
// space"); a worker adds its operation bits when it finishes. 0 is success.
#pragma once

#include <QString>

namespace kes {

// Severities (bits 8-11).
inline constexpr int kSeverityError = 0x100;
inline constexpr int kSeverityWarning = 0x200;
inline constexpr int kSeveritySecondError = 0x300;

// Operations (bits 12-15).
inline constexpr int kOpCopy = 0x1000;
inline constexpr int kOpGzip = 0x2000;
inline constexpr int kOpGunzip = 0x3000;
inline constexpr int kOpZip = 0x4000;
inline constexpr int kOpEncrypt = 0x5000;
inline constexpr int kOpDecrypt = 0x6000;
inline constexpr int kOpUnzip = 0x7000;

// Error numbers (bits 0-7).
enum TCopyErrorNumber : int {
    enCreateFile = 1,
    enOpenFile = 2,
    enCloseFile = 3,
    enReadFile = 4,
    enWriteFile = 5,
    enAttributes = 6,
    enLowDiskSpace = 7,
    enIllegalHeader = 8,
    enCorruptFile = 9,
    enEncryption = 10,
    enDecryption = 11,
    enVerification = 12,
    enPathTooLong = 13,
    enFileNotFound = 14,
    enTimeStamp = 15,
    enDocumentSummary = 16,
    enTimeout = 17,
    enUndefinedStream = 18,
    enPermissions = 19,
    enFileExists = 20,
    enSizeMismatch = 21,
    enVerifyOpen = 22,
    enCreateDirectory = 23,
    enDifferentContent = 30,
    enNewSegment = 31,
    enZipSignature = 32,
    enExtract = 33,
    enUnsupportedFormat = 34,
    enRenameTemporary = 35,
    enNextSegment = 36,
    enAltStreams = 37,
    enDeleteFile = 38,
    enInvalidZip = 40,
    enUserBreak = 128,
};

// Results as the copy steps produce them (severity + number).
inline constexpr int ceCreateFile = kSeverityError + enCreateFile; // 257
inline constexpr int ceOpenFile = kSeverityError + enOpenFile; // 258
inline constexpr int ceReadFile = kSeverityError + enReadFile; // 260
inline constexpr int ceWriteFile = kSeverityError + enWriteFile; // 261
inline constexpr int ceAttributes = kSeverityError + enAttributes; // 262
inline constexpr int ceLowDiskSpace = kSeverityError + enLowDiskSpace; // 263
inline constexpr int ceEncryption = kSeverityError + enEncryption; // 266
inline constexpr int ceVerification = kSeverityError + enVerification; // 268
inline constexpr int ceFileNotFound = kSeverityError + enFileNotFound; // 270
inline constexpr int ceVerifyOpen = kSeverityError + enVerifyOpen; // 278
inline constexpr int ceRenameTemporary = kSeverityError + enRenameTemporary; // 291
inline constexpr int cwAttributes = kSeverityWarning + enAttributes; // 518
inline constexpr int cwTimeStamp = kSeverityWarning + enTimeStamp; // 527
inline constexpr int cwDocumentSummary = kSeverityWarning + enDocumentSummary; // 528
inline constexpr int cwPermissions = kSeverityWarning + enPermissions; // 531
inline constexpr int cwAltStreams = kSeverityWarning + enAltStreams; // 549
inline constexpr int ceUserBreak = enUserBreak; // 128, no severity

inline constexpr int ErrorNumber(int word)
{
    return word & 0xFF;
}
inline constexpr int ErrorSeverity(int word)
{
    return (word >> 8) & 0xF;
}
inline constexpr int ErrorOperation(int word)
{
    return (word >> 12) & 0xF;
}

// The message of an error word, optionally with the file it concerns and
// an extra text, for example
//   "Error - Could not create file: \"a.txt\" (-> Copy)".
// Never raises.
QString CopyErrorText(int errorCode, const QString& fileName = {}, const QString& info = {});

} // namespace kes
