#include "frame/I18n.h"

#include "platform/Environment.h"
#include "platform/Translation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace kes {

QString LocaleDir()
{
    const QString env = platform::GetEnvironmentValue(QStringLiteral("KES_LOCALE_DIR"));
    if (!env.isEmpty())
        return env;
    // The install layout <prefix>/bin/<program> beside <prefix>/share/locale,
    // wherever the prefix was moved to (a staging folder, the build tree).
    const QString appDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    if (!appDir.isEmpty()) {
        const QString installed = QDir(appDir).absoluteFilePath(QStringLiteral("../share/locale"));
        if (QFileInfo(installed).isDir())
            return QDir::cleanPath(installed);
    }
#ifdef KES_BUILD_LOCALE_DIR
    if (QFileInfo(QStringLiteral(KES_BUILD_LOCALE_DIR)).isDir())
        return QStringLiteral(KES_BUILD_LOCALE_DIR);
#endif
#ifdef KES_INSTALL_LOCALE_DIR
    return QStringLiteral(KES_INSTALL_LOCALE_DIR);
#else
    return QStringLiteral("/usr/share/locale");
#endif
}

void InitTranslation(const QString& programDomain)
{
    platform::InitLocaleFromEnvironment();
    for (const char* d : {"Units", "selwand", "marvick"})
        BindTextDomain(QString::fromLatin1(d));
    if (!programDomain.isEmpty()) {
        BindTextDomain(programDomain);
        platform::SetDefaultMessageDomain(programDomain);
    }
}

void BindTextDomain(const QString& domain)
{
    if (!domain.isEmpty())
        platform::BindMessageDomain(domain, LocaleDir());
}

void SwitchLanguage(const QString& code)
{
    platform::SetMessageLanguage(code);
}

QString Translate(const char* domain, const char* msgid)
{
    return platform::TranslateMessage(domain, msgid);
}

} // namespace kes
