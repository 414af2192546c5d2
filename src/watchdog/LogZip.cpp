#include "watchdog/LogZip.h"

#include "fileengine/CopyErrors.h"
#include "fileengine/FileUtils.h"
#include "fileengine/ZipWrite.h"
#include "frame/I18n.h"

#include <QDir>
#include <QFileInfo>

namespace kes {

QString DefaultLogZipName(const QString& logFile)
{
    const QFileInfo fi(logFile);
    return fi.dir().filePath(fi.completeBaseName() + QStringLiteral(".zip"));
}

bool SaveLogAsZip(const QString& logFile, const QString& zipName, QString& message)
{
    message.clear();
    const QString temp = zipName + QStringLiteral(".tmp");
    // The log may grow while it is read (a backup pass writes to it): a
    // changed size is tried again a few times.
    for (int attempt = 0;; ++attempt) {
        try {
            TZipWrite zip(temp, QFileInfo(logFile).absolutePath());
            zip.AddFile(logFile, QFileInfo(logFile).fileName(), true);
            zip.WriteDirectory();
            zip.Verify();
            zip.RenameZipFile(zipName);
            return true;
        } catch (const EZipError& e) {
            if (ErrorNumber(e.ZipError()) == enReadFile && attempt < 3 && QFileInfo::exists(logFile))
                continue;
            const int number = ErrorNumber(e.ZipError());
            const bool sourceSide = number == enFileNotFound || number == enReadFile;
            message = CopyErrorText(e.ZipError(), sourceSide ? logFile : zipName, e.SysErrorMsg());
            DeleteFileXL(SystemPathXL(temp));
            return false;
        }
    }
}

} // namespace kes
