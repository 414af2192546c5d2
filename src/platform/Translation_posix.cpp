#include "platform/Translation.h"

#include "platform/Environment.h"
#include "platform/FileName.h"

#include <clocale>
#include <cstring>
#include <libintl.h>

extern "C" int _nl_msg_cat_cntr; // glibc: bumping it drops cached translations

namespace kes::platform {

void InitLocaleFromEnvironment()
{
    std::setlocale(LC_ALL, "");
    const char* messages = std::setlocale(LC_MESSAGES, nullptr);
    if (!messages || std::strcmp(messages, "C") == 0 || std::strcmp(messages, "POSIX") == 0)
        std::setlocale(LC_MESSAGES, "C.UTF-8");
}

void BindMessageDomain(const QString& domain, const QString& folder)
{
    if (domain.isEmpty())
        return;
    const QByteArray name = domain.toUtf8();
    const QByteArray dir = EncodeName(folder);
    bindtextdomain(name.constData(), dir.constData());
    bind_textdomain_codeset(name.constData(), "UTF-8");
}

void SetDefaultMessageDomain(const QString& domain)
{
    // textdomain keeps its own copy of the name.
    textdomain(domain.toUtf8().constData());
}

QString TranslateMessage(const char* domain, const char* msgid)
{
    if (!msgid || !*msgid)
        return QString();
    return QString::fromUtf8(domain ? dgettext(domain, msgid) : gettext(msgid));
}

void SetMessageLanguage(const QString& language)
{
    SetEnvironmentValue(QStringLiteral("LANGUAGE"), language);
    ++_nl_msg_cat_cntr;
}

} // namespace kes::platform
