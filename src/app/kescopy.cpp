// kescopy: the file transfer engine on the command line. Copies one file
// plainly, as a gzip member or as a one-entry zip archive, each optionally
// encrypted and verified, writes a zip archive of files and folders
// (--archive), or checks such a file. Passwords come from an environment
// variable or standard input, never from the command line.
//
// Exit status: 0 success, 1 the copy failed, 2 the data were copied but a
// warning remains (time stamp, attributes ...), 3 wrong usage.
#include "fileengine/AesLib.h"
#include "fileengine/CopyErrors.h"
#include "fileengine/CopyThread.h"
#include "fileengine/ZipWrite.h"
#include "frame/Format.h"
#include "frame/I18n.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QThread>
#include <cstdio>
#include <limits>
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

// A size in bytes with an optional k, M or G (powers of 1024); -1 when the
// text is none.
qint64 ParseSize(const QString& text)
{
    QString t = text.trimmed();
    qint64 factor = 1;
    if (!t.isEmpty()) {
        switch (t.back().toLower().unicode()) {
        case 'k':
            factor = qint64(1) << 10;
            break;
        case 'm':
            factor = qint64(1) << 20;
            break;
        case 'g':
            factor = qint64(1) << 30;
            break;
        default:
            break;
        }
        if (factor > 1)
            t.chop(1);
    }
    bool ok = false;
    const qint64 n = t.toLongLong(&ok);
    if (!ok || n <= 0 || n > std::numeric_limits<qint64>::max() / factor)
        return -1;
    return n * factor;
}

// Collects a folder's contents below it, sorted by name: directory entries
// for every folder, then its files. Links to folders are not followed.
void CollectTree(std::vector<TZipBatchItem>& items, const QString& dir, const QString& stored, bool compress)
{
    const QFileInfoList entries = QDir(dir).entryInfoList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name | QDir::DirsFirst);
    for (const QFileInfo& fi : entries) {
        const QString name = stored + u'/' + fi.fileName();
        if (fi.isDir()) {
            if (fi.isSymLink())
                continue;
            items.push_back({fi.filePath(), QString(), false, true});
            CollectTree(items, fi.filePath(), name, compress);
        } else {
            items.push_back({fi.filePath(), name, compress, false});
        }
    }
}

// Whether the file is the last part of a split archive or begins like a zip
// archive of any number of entries: a local header, a split marker or the
// end record of an empty archive.
bool LooksLikeZipArchive(const QString& name)
{
    // The last part of a split archive begins anywhere inside an entry.
    if (QFileInfo::exists(ZipSegmentName(name, 1)))
        return true;
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray magic = f.read(4);
    return magic == QByteArray("PK\x03\x04", 4) || magic == QByteArray("PK\x07\x08", 4)
        || magic == QByteArray("PK00", 4) || magic == QByteArray("PK\x05\x06", 4);
}

int CheckArchive(const QString& name, TEncryption* encryption, int bufSize)
{
    QString entry = name;
    QString message;
    const int result = VerifyZipParts(ZipPartNames(name), encryption, bufSize, entry, message);
    if (result == 0)
        return exOk;
    PrintError(CopyErrorText((result & 0xFFF) | kOpZip, entry, message));
    return exFailed;
}

struct TArchiveOptions {
    QByteArray Password;
    int KeyMode = 0;
    bool EncryptNames = false;
    qint64 Split = 0;
    TZCompressionLevel Level = zcDefault;
    int Threads = 0;
    bool Verify = false;
    int BufSize = 0;
};

// Writes the archive; on any failure it is removed with every part, and
// the message names the file the failure concerns.
int WriteArchive(const QString& archive, const QStringList& paths, const TArchiveOptions& o)
{
    std::unique_ptr<TZipWrite> zip;
    try {
        zip = std::make_unique<TZipWrite>(archive, QString(), o.Split, o.Password, o.KeyMode, o.BufSize);
    } catch (const EZipError& e) {
        PrintError(CopyErrorText(e.ZipError(), archive, e.SysErrorMsg()));
        return exFailed;
    }
    zip->SetCompressionLevel(o.Level);
    if (o.Threads > 0)
        zip->SetDeflateThreads(o.Threads);
    zip->SetEncryptNames(o.EncryptNames);
    QString concerned = archive;
    try {
        for (const QString& p : paths) {
            QString path = QDir::cleanPath(QFileInfo(p).absoluteFilePath());
            const QFileInfo fi(path);
            concerned = path;
            // Names are relative to the folder that holds the path.
            zip->SetDirectory(fi.absolutePath());
            // The items of one path go as one batch: the small files are
            // deflated ahead on the deflate threads.
            std::vector<TZipBatchItem> items;
            if (fi.isDir()) {
                items.push_back({path, QString(), false, true});
                CollectTree(items, path, fi.fileName(), o.Level != zcNone);
            } else {
                items.push_back({path, fi.fileName(), o.Level != zcNone, false});
            }
            zip->AddBatch(items, [&](size_t index, const EZipError&) {
                concerned = items[index].Source;
                return false;
            });
        }
        concerned = archive;
        zip->WriteDirectory();
        if (o.Verify)
            zip->Verify();
        return exOk;
    } catch (const EZipError& e) {
        const int number = ErrorNumber(e.ZipError());
        // A source that is missing or unreadable is named; else the archive.
        const bool sourceSide = number == enFileNotFound || number == enReadFile || number == enIllegalHeader
            || number == enOpenFile;
        PrintError(CopyErrorText(e.ZipError(), sourceSide ? concerned : archive, e.SysErrorMsg()));
        try {
            zip->DeleteZipFile();
        } catch (const EZipError& d) {
            PrintError(d.Message() + QStringLiteral(" (") + d.SysErrorMsg() + u')');
        }
        return exFailed;
    }
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
    const QCommandLineOption archiveOpt(QStringLiteral("archive"),
        U_("Write a zip archive of the files and folders given (names relative to the folder holding each)."),
        QStringLiteral("archive"));
    const QCommandLineOption encNamesOpt(
        QStringLiteral("encrypt-names"), U_("With --archive and -e: encrypt the entry names too."));
    const QCommandLineOption splitOpt(QStringLiteral("split"),
        U_("With --archive: split into parts of at most this size (bytes, or with k, M or G)."),
        QStringLiteral("size"));
    for (const auto* o :
        {&gzipOpt, &zipOpt, &storeOpt, &levelOpt, &encryptOpt, &envOpt, &keyModeOpt, &verifyOpt,
            &overwriteOpt, &checkOpt, &bufferOpt, &threadsOpt, &archiveOpt, &encNamesOpt, &splitOpt})
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
    const bool archive = parser.isSet(archiveOpt);
    const bool badArchive = archive
        && (check || args.isEmpty() || parser.isSet(gzipOpt) || parser.isSet(zipOpt)
            || parser.isSet(storeOpt));
    const bool badArchiveOnly = !archive && (parser.isSet(encNamesOpt) || parser.isSet(splitOpt));
    if (badArchive || badArchiveOnly || (!archive && args.size() != (check ? 1 : 2))
        || (parser.isSet(gzipOpt) && parser.isSet(zipOpt))
        || (parser.isSet(encNamesOpt) && !parser.isSet(encryptOpt))) {
        PrintError(parser.helpText());
        return exUsage;
    }
    const int bufSize = qBound(4, parser.value(bufferOpt).toInt(), 65536) * 1024;

    if (archive) {
        TArchiveOptions o;
        if (parser.isSet(splitOpt)) {
            o.Split = ParseSize(parser.value(splitOpt));
            if (o.Split < 0) {
                PrintError(SafeFormat(U_("Not a size: \"%s\""), {parser.value(splitOpt)}));
                return exUsage;
            }
        }
        if (parser.isSet(encryptOpt)) {
            if (!ReadPassword(parser.value(envOpt), o.Password)) {
                PrintError(U_("No password given."));
                return exUsage;
            }
            o.KeyMode = parser.value(keyModeOpt).toInt();
        }
        o.EncryptNames = parser.isSet(encNamesOpt);
        o.Level = LevelOf(parser.value(levelOpt).toInt());
        if (parser.isSet(threadsOpt))
            o.Threads = parser.value(threadsOpt).toInt();
        o.Verify = parser.isSet(verifyOpt);
        o.BufSize = bufSize;
        const int status = WriteArchive(parser.value(archiveOpt), args, o);
        OPENSSL_cleanse(o.Password.data(), size_t(o.Password.size()));
        return status;
    }

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

    if (check && LooksLikeZipArchive(args[0]))
        return CheckArchive(args[0], encryption.get(), bufSize);
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
