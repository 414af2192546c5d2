// Translation of user-visible texts through GNU gettext.
//
//   _("text")   the program's own domain ("selwand" or "marvick"); used in
//               src/watchdog, src/planner and the program mains
//   U_("text")  the domain "Units" of the shared layers (platform, frame,
//               fileengine, ui)
//   N_("text")  marks a text for extraction without translating it here
//               (tables); translate it with Tr()/TrU() where it is shown
#pragma once

#include <QString>

namespace kes {

inline constexpr const char* kUnitsDomain = "Units";

// Translates msgid (UTF-8) in a text domain; nullptr means the program's
// default domain. Returns the msgid itself when there is no translation.
QString Translate(const char* domain, const char* msgid);
inline QString Tr(const char* msgid)
{
    return Translate(nullptr, msgid);
}
inline QString TrU(const char* msgid)
{
    return Translate(kUnitsDomain, msgid);
}

// Binds the text domains to the catalogue folder and makes programDomain
// the default domain. Safe to call more than once.
void InitTranslation(const QString& programDomain);

// Binds one more text domain to the catalogue folder (UTF-8 texts).
void BindTextDomain(const QString& domain);

// Switches every domain to the language code (ISO 639-1, for example "de");
// an empty code follows the locale again. Takes effect at once.
void SwitchLanguage(const QString& code);

// The folder that holds <lang>/LC_MESSAGES/<domain>.mo.
QString LocaleDir();

} // namespace kes

#define _(s) ::kes::Translate(nullptr, s)
#define U_(s) ::kes::Translate(::kes::kUnitsDomain, s)
#define N_(s) s
