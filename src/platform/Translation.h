// The C library's message catalogues (GNU gettext) and the process locale.
// The frame decides which domains exist and where their catalogues are
// (frame/I18n.h); this is how the system is told.
#pragma once

#include <QString>

namespace kes::platform {

// Sets the process locale from the environment. A plain "C" or "POSIX"
// messages locale becomes "C.UTF-8": gettext ignores LANGUAGE under "C",
// and C.UTF-8 behaves the same for everything else but lets a language be
// chosen.
void InitLocaleFromEnvironment();

// Binds a text domain to the folder that holds
// <lang>/LC_MESSAGES/<domain>.mo; its texts come back as UTF-8.
void BindMessageDomain(const QString& domain, const QString& folder);

// The domain of look-ups that name none.
void SetDefaultMessageDomain(const QString& domain);

// The translation of msgid (UTF-8) in the domain (nullptr: the default
// domain); msgid itself when there is none.
QString TranslateMessage(const char* domain, const char* msgid);

// Every later look-up uses this language (a code such as "de", or a list
// in the LANGUAGE syntax); empty follows the locale again. Translations
// looked up before are not reused.
void SetMessageLanguage(const QString& language);

} // namespace kes::platform
