#include "frame/Help.h"

#include "frame/I18n.h"
#include "frame/PathRules.h"
#include "frame/StartUp.h"
#include "platform/Desktop.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <algorithm>

namespace kes {

namespace {

const QString kFallbackLanguage = QStringLiteral("en");

// The language folders to try: the user-interface language, then English.
QStringList HelpLanguages()
{
    const QString code = LanguageCode().toLower();
    QStringList languages;
    // Only a plain language code names a folder: nothing from outside may
    // lead the look-up elsewhere.
    if (!code.isEmpty() && code != kFallbackLanguage
        && std::all_of(code.begin(), code.end(), [](QChar c) { return c >= u'a' && c <= u'z'; }))
        languages.append(code);
    languages.append(kFallbackLanguage);
    return languages;
}

} // namespace

QStringList HelpRoots()
{
    QStringList roots;
    const auto add = [&](const QString& folder) {
        const QString clean = QDir::cleanPath(folder);
        if (!clean.isEmpty() && !roots.contains(clean))
            roots.append(clean);
    };
    if (!ProgramDir().isEmpty())
        add(ProgramDir() + QStringLiteral("../share/kestrup/help"));
#ifdef KES_BUILD_HELP_DIR
    add(QStringLiteral(KES_BUILD_HELP_DIR));
#endif
#ifdef KES_INSTALL_HELP_DIR
    add(QStringLiteral(KES_INSTALL_HELP_DIR));
#endif
    return roots;
}

QString GetHelpFile()
{
    const QStringList roots = HelpRoots();
    for (const QString& root : roots) {
        for (const QString& language : HelpLanguages()) {
            const QString folder = AddPath(root, language);
            if (QFileInfo(folder).isDir())
                return folder;
        }
    }
    return roots.isEmpty() ? QString() : AddPath(roots.first(), kFallbackLanguage);
}

QString FindHelpPage(const QString& page)
{
    // A topic names a page of the help, never a path.
    if (page.isEmpty() || page.contains(u'/') || page == QStringLiteral("..") || page == QStringLiteral("."))
        return QString();
    const QStringList roots = HelpRoots();
    for (const QString& root : roots) {
        for (const QString& language : HelpLanguages()) {
            const QString file = AddPath(AddPath(root, language), page);
            if (QFileInfo(file).isFile())
                return file;
        }
    }
    return QString();
}

bool ShowHelp(const QString& topic, const TMessageSink& reportError, const TUrlOpener& open)
{
    const qsizetype hash = topic.indexOf(QLatin1Char('#'));
    const QString page = hash < 0 ? topic : topic.left(hash);
    const QString fragment = hash < 0 ? QString() : topic.mid(hash + 1);
    const QString file = FindHelpPage(page.isEmpty() ? QStringLiteral("index.html") : page);
    bool shown = false;
    if (!file.isEmpty()) {
        QUrl url = QUrl::fromLocalFile(file);
        if (!fragment.isEmpty())
            url.setFragment(fragment);
        const QString text = url.toString(QUrl::FullyEncoded);
        shown = open ? open(text) : platform::OpenUrl(text);
    }
    if (!shown && reportError)
        reportError(U_("Help is not available on this system!"));
    return shown;
}

} // namespace kes
