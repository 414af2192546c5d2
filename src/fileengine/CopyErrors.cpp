#include "fileengine/CopyErrors.h"

#include "fileengine/FileUtils.h"
#include "frame/Format.h"
#include "frame/I18n.h"

namespace kes {

namespace {

const char* NumberText(int number)
{
    switch (number) {
    case 1:
        return N_("Could not create file");
    case 2:
        return N_("Could not open file");
    case 3:
        return N_("Could not close file");
    case 4:
        return N_("Could not read from file");
    case 5:
        return N_("Could not write to file");
    case 6:
        return N_("Attributes could not be set");
    case 7:
        return N_("Low disk space");
    case 8:
        return N_("Illegal file header");
    case 9:
        return N_("Corrupt file");
    case 10:
        return N_("Encryption failed");
    case 11:
        return N_("Decryption failed");
    case 12:
        return N_("Verification failed");
    case 13:
        return N_("Path too long");
    case 14:
        return N_("File not found");
    case 15:
        return N_("Timestamp could not be set");
    case 16:
        return N_("Error copying document summary");
    case 17:
        return N_("Timeout error on copying file");
    case 18:
        return N_("Undefined stream");
    case 19:
        return N_("Permissions could not be copied");
    case 20:
        return N_("File already exists");
    case 21:
        return N_("Size mismatch");
    case 22:
        return N_("Could not open destination file for verification");
    case 23:
        return N_("Could not create directory");
    case 24:
        return N_("Could not read from FTP");
    case 25:
        return N_("Could not write to FTP");
    case 26:
        return N_("Could not connect to FTP server");
    case 27:
        return N_("FTP connection was closed by server");
    case 28:
        return N_("Could not open FTP data connection");
    case 29:
        return N_("Timeout error on copying file via FTP");
    case 30:
        return N_("Different content");
    case 31:
        return N_("Error creating new zip segment");
    case 32:
        return N_("Illegal zip signature");
    case 33:
        return N_("Could not extract file");
    case 34:
        return N_("Unsupported file format");
    case 35:
        return N_("Could not rename temporary file");
    case 36:
        return N_("Error reading next zip segment");
    case 37:
        return N_("Error copying alternate data streams");
    case 38:
        return N_("Error deleting file");
    case 40:
        return N_("Invalid zip format");
    case 128:
        return N_("Terminated by user");
    default:
        return nullptr;
    }
}

const char* OperationName(int operation)
{
    switch (operation) {
    case 1:
        return N_("Copy");
    case 2:
        return N_("gzip");
    case 3:
        return N_("gunzip");
    case 4:
        return N_("Zip");
    case 5:
        return N_("Encrypt");
    case 6:
        return N_("Decrypt");
    case 7:
        return N_("Unzip");
    default:
        return nullptr;
    }
}

} // namespace

QString CopyErrorText(int errorCode, const QString& fileName, const QString& info)
{
    QString text;
    const int number = ErrorNumber(errorCode);
    if (number == 0) {
        text = SysErrorMessage(0);
    } else {
        switch (ErrorSeverity(errorCode)) {
        case 1:
            text = U_("Error - ");
            break;
        case 2:
            text = U_("Warning - ");
            break;
        case 3:
            text = U_("Error(2) - ");
            break;
        default:
            break;
        }
        if (const char* t = NumberText(number))
            text += TrU(t);
        else
            text += SafeFormat(U_("Unknown error code ($%.8x)"), {unsigned(errorCode)});
    }
    const char* op = OperationName(ErrorOperation(errorCode));
    const QString operation = op ? TrU(op) : QString();
    if (!fileName.isEmpty()) {
        if (op && !info.isEmpty())
            text += SafeFormat(U_(": \"%s\" (%s) (-> %s)"), {fileName, info, operation});
        else if (op)
            text += SafeFormat(U_(": \"%s\" (-> %s)"), {fileName, operation});
        else if (!info.isEmpty())
            text += SafeFormat(U_(": \"%s\" (%s)"), {fileName, info});
        else
            text += SafeFormat(U_(": \"%s\""), {fileName});
    } else if (op) {
        text += QStringLiteral(" (-> ") + operation + QLatin1Char(')');
    }
    return text;
}

} // namespace kes
