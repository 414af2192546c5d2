#include "frame/Help.h"

#include "frame/I18n.h"
#include "frame/PathRules.h"
#include "frame/StartUp.h"
#include "platform/Desktop.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace kes {

namespace {

const char kHelpName[] = "kestrup-help";

QStringList HelpFolders()
{
    const QString dir = ProgramDir();
    return {dir, QDir::cleanPath(dir + QStringLiteral("../share/kestrup")) + QLatin1Char('/')};
}

} // namespace

QString GetHelpFile()
{
    const QString translated = U_("kestrup-help");
    const QStringList folders = HelpFolders();
    for (const QString& name : {translated, QString::fromLatin1(kHelpName)}) {
        for (const QString& folder : folders) {
            const QString path = folder + name;
            if (QFileInfo(path).isDir())
                return path;
        }
    }
    return ProgramDir() + QLatin1String(kHelpName);
}

bool ShowHelp(const QString& topic, const TMessageSink& reportError, const TUrlOpener& open)
{
    const qsizetype hash = topic.indexOf(QLatin1Char('#'));
    const QString page = hash < 0 ? topic : topic.left(hash);
    const QString fragment = hash < 0 ? QString() : topic.mid(hash + 1);
    const QString file = AddPath(GetHelpFile(), page.isEmpty() ? QStringLiteral("index.html") : page);
    bool shown = false;
    if (QFileInfo(file).isFile()) {
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
