#include "watchdog/WatchdogLog.h"

#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/PathRules.h"

#include <QFileInfo>

namespace kes {

TWatchdogLog::TWatchdogLog(const QString& LogDir)
    : FLogDir(LogDir)
{
}

TWatchdogLog::~TWatchdogLog()
{
    Close();
}

QString TWatchdogLog::ChooseLogDir(const QString& ProtDir, const QString& SettingsDir)
{
    if (!ProtDir.isEmpty() && QFileInfo(ProtDir).isDir())
        return ProtDir;
    return SettingsDir;
}

QString TWatchdogLog::FileNameFor(const QDate& Day) const
{
    return AddPath(FLogDir,
        QStringLiteral("Selwand ") + Day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".log"));
}

QString TWatchdogLog::FileName() const
{
    return FFile ? FFile->fileName() : QString();
}

bool TWatchdogLog::Open(const QDate& Day)
{
    if (FFile && FDay == Day)
        return true;
    Close();
    FLastError.clear();
    const QString name = FileNameFor(Day);
    if (!QFileInfo::exists(name)) {
        QFile create(name);
        // NewOnly: should another program create it meanwhile, it is
        // simply appended to below. The log holds file names: it is the
        // owner's only.
        if (create.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
            const bool ok = create.write("\xEF\xBB\xBF", 3) == 3 && create.flush();
            if (!ok) {
                FLastError = create.errorString();
                create.close();
                create.remove();
                return false;
            }
            create.close();
        } else if (!QFileInfo::exists(name)) {
            FLastError = create.errorString();
            return false;
        }
    }
    auto file = std::make_unique<QFile>(name);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        FLastError = file->errorString();
        return false;
    }
    FFile = std::move(file);
    FDay = Day;
    FWriteErrorTold = false;
    return true;
}

void TWatchdogLog::Close()
{
    if (!FFile)
        return;
    FFile->close();
    FFile.reset();
    FDay = QDate();
}

QByteArray TWatchdogLog::EncodeLine(const QString& Text)
{
    QString line;
    line.reserve(Text.size() + 2);
    const qsizetype n = Text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = Text[i];
        if (c == QLatin1Char('\r')) {
            line += QLatin1String("\r\n");
            if (i + 1 < n && Text[i + 1] == QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('\n')) {
            line += QLatin1String("\r\n");
        } else if (c.isHighSurrogate() && i + 1 < n && Text[i + 1].isLowSurrogate()) {
            line += c;
            line += Text[++i];
        } else if (c.isSurrogate()) {
            line += QChar(QChar::ReplacementCharacter); // a raw byte of a file name, or a broken pair
        } else {
            line += c;
        }
    }
    line += QLatin1String("\r\n");
    return line.toUtf8();
}

bool TWatchdogLog::Write(const QString& Text)
{
    if (!FFile)
        return false;
    const QByteArray bytes = EncodeLine(Text);
    if (FFile->write(bytes) == bytes.size())
        return true;
    FLastError = FFile->errorString();
    if (!FWriteErrorTold) {
        FWriteErrorTold = true;
        if (FOnWriteError) {
            try {
                FOnWriteError(Format(_("Error writing to \"%s\""), {FFile->fileName()}) + QStringLiteral(": ")
                    + FLastError);
            } catch (...) {
                // the report is a courtesy; the write's result stands
            }
        }
    }
    return false;
}

} // namespace kes
