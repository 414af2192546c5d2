// kescopy: the file transfer engine on the command line. Copies one file
// plainly, as a gzip member or as a one-entry zip archive, each optionally
// encrypted and verified, or checks such a file. Passwords come from an
// environment variable or standard input, never from the command line.
//
// Exit status: 0 success, 1 the copy failed, 2 the data were copied but a
// warning remains (time stamp, attributes ...), 3 wrong usage.
#include "fileengine/AesLib.h"
#include "fileengine/CopyErrors.h"
#include "fileengine/CopyThread.h"
#include "frame/Format.h"
#include "frame/I18n.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <QThread>
#include <cstdio>
#include <memory>
#include <openssl/crypto.h>

using namespace kes;

namespace {

enum ExitStatus { exOk = 0, exFailed = 1, exWarning = 2, exUsage = 3 };

void PrintError(const QString& text)
{
    QTextStream(stderr) << text << Qt::endl;
}

// Reads the password: from the named environment variable when it is set,
// else the first line of standard input.
bool ReadPassword(const QString& envName, QByteArray& password)
{
    const QByteArray name = envName.toLocal8Bit();
    if (qEnvironmentVariableIsSet(name.constData())) {
        password = qgetenv(name.constData());
    } else {
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly))
            return false;
        password = in.readLine();
        while (password.endsWith('\n') || password.endsWith('\r'))
            password.chop(1);
    }
    return !password.isEmpty();
}

TZCompressionLevel LevelOf(int level)
{
    if (level <= 0)
        return zcNone;
    if (level == 1)
        return zcFastest;
    if (level >= 9)
        return zcMax;
    return zcDefault;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kescopy"));
    InitTranslation(QString());

    QCommandLineParser parser;
    parser.setApplicationDescription(U_("Copies a file plainly, as gzip or as a one-entry zip archive."));
    parser.addHelpOption();
    const QCommandLineOption gzipOpt(
        QStringList {QStringLiteral("z"), QStringLiteral("gzip")}, U_("Write a gzip member."));
    const QCommandLineOption zipOpt(
        QStringList {QStringLiteral("Z"), QStringLiteral("zip")}, U_("Write a zip archive with one entry."));
    const QCommandLineOption storeOpt(
        QStringLiteral("store"), U_("Store the zip entry without compression."));
    const QCommandLineOption levelOpt(QStringList {QStringLiteral("l"), QStringLiteral("level")},
        U_("Compression level: 0, 1, 6 or 9."), QStringLiteral("level"), QStringLiteral("6"));
    const QCommandLineOption encryptOpt(
        QStringList {QStringLiteral("e"), QStringLiteral("encrypt")}, U_("Encrypt (AES) with a password."));
    const QCommandLineOption envOpt(QStringLiteral("password-env"),
        U_("Environment variable holding the password (else standard input)."), QStringLiteral("name"),
        QStringLiteral("KESCOPY_PASSWORD"));
    const QCommandLineOption keyModeOpt({QStringLiteral("k"), QStringLiteral("key-mode")},
        U_("AES key: 1 = 128, 2 = 192, 3 = 256 bits."), QStringLiteral("mode"), QStringLiteral("0"));
    const QCommandLineOption verifyOpt(
        QStringList {QStringLiteral("V"), QStringLiteral("verify")}, U_("Read the copy back and compare."));
    const QCommandLineOption overwriteOpt(QStringList {QStringLiteral("f"), QStringLiteral("overwrite")},
        U_("Replace an existing destination."));
    const QCommandLineOption checkOpt(
        QStringLiteral("check"), U_("Verify an existing gzip, zip or encrypted file."));
    const QCommandLineOption bufferOpt(
        QStringLiteral("buffer"), U_("Buffer size in KiB."), QStringLiteral("kib"), QStringLiteral("512"));
    const QCommandLineOption threadsOpt(QStringLiteral("threads"),
        U_("Threads that deflate side by side (1 = one zlib stream)."), QStringLiteral("n"));
    for (const auto* o : {&gzipOpt, &zipOpt, &storeOpt, &levelOpt, &encryptOpt, &envOpt, &keyModeOpt,
             &verifyOpt, &overwriteOpt, &checkOpt, &bufferOpt, &threadsOpt})
        parser.addOption(*o);
    parser.addPositionalArgument(QStringLiteral("source"), U_("The file to copy (or to check)."));
    parser.addPositionalArgument(QStringLiteral("destination"), U_("The copy."));
    // Wrong usage is exit status 3 (QCommandLineParser::process would end
    // with 1).
    if (!parser.parse(QCoreApplication::arguments())) {
        PrintError(parser.errorText());
        return exUsage;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp(exOk);

    const QStringList args = parser.positionalArguments();
    const bool check = parser.isSet(checkOpt);
    if (args.size() != (check ? 1 : 2) || (parser.isSet(gzipOpt) && parser.isSet(zipOpt))) {
        PrintError(parser.helpText());
        return exUsage;
    }
    const int bufSize = qBound(4, parser.value(bufferOpt).toInt(), 65536) * 1024;

    std::unique_ptr<TEncryption> encryption;
    if (parser.isSet(encryptOpt)) {
        QByteArray password;
        if (!ReadPassword(parser.value(envOpt), password)) {
            PrintError(U_("No password given."));
            return exUsage;
        }
        encryption = std::make_unique<TEncryption>(password, parser.value(keyModeOpt).toInt(), bufSize);
        OPENSSL_cleanse(password.data(), size_t(password.size()));
    }

    std::unique_ptr<TCopyThread> worker;
    if (check) {
        worker = std::make_unique<TVerifyFileThread>(args[0], ckAuto, encryption.get(), false, bufSize);
    } else {
        TCopyOptions options {coAttributes, coTimeStamp};
        if (parser.isSet(gzipOpt))
            options.Include(coCompress);
        if (parser.isSet(zipOpt)) {
            options.Include(coZipCompress);
            if (!parser.isSet(storeOpt))
                options.Include(coCompress);
        }
        if (parser.isSet(verifyOpt))
            options.Include(coVerify);
        if (parser.isSet(overwriteOpt))
            options.Include(coOverwrite);
        auto w = std::make_unique<TWinCopyThread>(args[0], args[1], encryption.get(), options, true, bufSize);
        w->SetCompressionLevel(LevelOf(parser.value(levelOpt).toInt()));
        if (parser.isSet(threadsOpt))
            w->SetDeflateThreads(parser.value(threadsOpt).toInt());
        w->Start();
        worker = std::move(w);
    }
    while (!worker->Done())
        QThread::msleep(2);
    const int word = worker->ErrorCode();
    if (word == 0)
        return exOk;
    // Name the file the failure concerns: the source when it could not be
    // found, opened or read, else the one written (or checked).
    const int number = ErrorNumber(word);
    const bool sourceSide
        = !check && (number == enFileNotFound || number == enOpenFile || (word & 0xFFF) == ceReadFile);
    PrintError(CopyErrorText(word, sourceSide ? args[0] : args.last(), worker->SysErrorMsg()));
    return ErrorSeverity(word) == 2 ? exWarning : exFailed;
}
