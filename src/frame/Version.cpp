#include "frame/Version.h"

#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/PathRules.h"
#include "platform/Paths.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>

#ifndef KES_VERSION
#define KES_VERSION "0.0.0"
#endif

namespace kes {

namespace {

TProgramVersion& Stored()
{
    static TProgramVersion version;
    return version;
}

QString BuildVersion()
{
    QString v = QStringLiteral(KES_VERSION);
    while (v.count(QLatin1Char('.')) < 3)
        v += QStringLiteral(".0");
    return v;
}

QString DescriptionOf(const QString& programName)
{
    if (programName.compare(QLatin1String("Selwand"), Qt::CaseInsensitive) == 0)
        return U_("Direct backup with online monitoring");
    if (programName.compare(QLatin1String("Marvick"), Qt::CaseInsensitive) == 0)
        return U_("Configure backup schedules");
    return QString();
}

bool IsRunningProgram(const QString& file)
{
    const QString running = QFileInfo(platform::ExecutablePath()).canonicalFilePath();
    const QString given = QFileInfo(file).canonicalFilePath();
    return !given.isEmpty() && given == running;
}

} // namespace

bool ReadVersionInfo(const QString& file, TFileVersionInfo& info)
{
    if (!IsRunningProgram(file))
        return false;
    const QFileInfo fi(file);
    const QString name = fi.completeBaseName();
    info = TFileVersionInfo();
    info.Company = QStringLiteral("Kestrup");
    info.Description = DescriptionOf(name);
    info.Version = BuildVersion();
    info.InternalName = name;
    info.Copyright = QStringLiteral("Kestrup project");
    return true;
}

QString GetFileVersion(const QString& file, const QString& defaultVersion)
{
    TFileVersionInfo info;
    if (!ReadVersionInfo(file, info))
        return defaultVersion;
    const qsizetype dot = info.Version.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? info.Version : info.Version.left(dot);
}

QString VersionText(const QString& version, int count)
{
    QString v = version;
    while (v.count(QLatin1Char('.')) >= count && v.contains(QLatin1Char('.')))
        v.truncate(v.lastIndexOf(QLatin1Char('.')));
    return U_("Version") + QLatin1Char(' ') + v;
}

TProgramVersion InitVersion(
    const QString& programName, const QString& fallbackVersion, const QString& fallbackCopyright, int count)
{
    const QString exe = platform::ExecutablePath();
    TProgramVersion result;
    TFileVersionInfo& info = result.Info;
    if (ReadVersionInfo(exe, info)) {
        if (info.InternalName.isEmpty())
            info.InternalName = programName;
    } else {
        info.InternalName = programName;
        info.Version = fallbackVersion;
        info.Copyright = fallbackCopyright;
    }
    info.Comments = VersionText(
        info.Version.isEmpty() ? GetFileVersion(exe, QStringLiteral("0.0.0.0")) : info.Version, count);
    result.ProgVersName = info.InternalName + QStringLiteral(" (") + info.Comments + QLatin1Char(')');
    const QDateTime modified = QFileInfo(exe).lastModified();
    if (modified.isValid())
        result.ProgVersDate = QLocale().toString(modified.date(), QLocale::ShortFormat);
    Stored() = result;
    return result;
}

TProgramVersion ProgramVersion()
{
    return Stored();
}

QString BitnessText()
{
    return sizeof(void*) == 8 ? U_(" - 64-bit") : U_(" - 32-bit");
}

QString OrdinalText(qint64 n)
{
    switch (n) {
    case 0:
        return U_("no ");
    case 1:
        return U_("1st ");
    case 2:
        return U_("2nd ");
    case 3:
        return U_("3rd ");
    default:
        return SafeFormat(U_("%dth "), {static_cast<long long>(n)});
    }
}

} // namespace kes
