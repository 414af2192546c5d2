#include "frame/I18n.h"

#include "platform/Environment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <libintl.h>

extern "C" int _nl_msg_cat_cntr; // glibc: bumping it drops cached translations

namespace kes {

namespace {
QByteArray g_programDomain;
}

QString LocaleDir()
{
    const QByteArray env = qgetenv("KES_LOCALE_DIR");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    // Installed layout: <prefix>/bin/<program> and <prefix>/share/locale.
    const QString appDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    if (!appDir.isEmpty()) {
        const QString installed = QDir(appDir).absoluteFilePath(QStringLiteral("../share/locale"));
        if (QFileInfo(installed).isDir())
            return QDir::cleanPath(installed);
    }
#ifdef KES_BUILD_LOCALE_DIR
    return QStringLiteral(KES_BUILD_LOCALE_DIR);
#else
    return QStringLiteral("/usr/share/locale");
#endif
}

void InitTranslation(const QString& programDomain)
{
    std::setlocale(LC_ALL, "");
    // gettext ignores LANGUAGE in the plain "C" locale; C.UTF-8 behaves the
    // same for everything else but lets a language be chosen.
    const char* msgs = std::setlocale(LC_MESSAGES, nullptr);
    if (!msgs || std::strcmp(msgs, "C") == 0 || std::strcmp(msgs, "POSIX") == 0)
        std::setlocale(LC_MESSAGES, "C.UTF-8");
    for (const char* d : {"Units", "selwand", "marvick"})
        BindTextDomain(QString::fromLatin1(d));
    g_programDomain = programDomain.toUtf8();
    if (!g_programDomain.isEmpty()) {
        BindTextDomain(programDomain);
        textdomain(g_programDomain.constData());
    }
}

void BindTextDomain(const QString& domain)
{
    if (domain.isEmpty())
        return;
    const QByteArray dir = QFile::encodeName(LocaleDir());
    const QByteArray name = domain.toUtf8();
    bindtextdomain(name.constData(), dir.constData());
    bind_textdomain_codeset(name.constData(), "UTF-8");
}

void SwitchLanguage(const QString& code)
{
    platform::SetEnvironmentValue(QStringLiteral("LANGUAGE"), code);
    ++_nl_msg_cat_cntr;
}

QString Translate(const char* domain, const char* msgid)
{
    if (!msgid || !*msgid)
        return QString();
    const char* t = domain ? dgettext(domain, msgid) : gettext(msgid);
    return QString::fromUtf8(t);
}

} // namespace kes
