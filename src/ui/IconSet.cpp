#include "ui/IconSet.h"

#include "frame/UnicodeIniFile.h"

#include <QHash>

namespace kes {

namespace {

TIconStyle g_style = TIconStyle::isTheme;
bool g_dark = false;

} // namespace

TIconStyle TIconSet::StyleFromConfig(const QString& configFileName)
{
    try {
        const auto ini = TUnicodeIniFile::CreateForRead(configFileName);
        return ini->ReadInteger(QStringLiteral("Config"), QStringLiteral("IconStyle"), 0) == 1
            ? TIconStyle::isOwn
            : TIconStyle::isTheme;
    } catch (const EIniReadError&) {
        return TIconStyle::isTheme;
    }
}

void TIconSet::Load(TIconStyle style, bool dark)
{
    g_style = style;
    g_dark = dark;
}

TIconStyle TIconSet::Style()
{
    return g_style;
}

bool TIconSet::Dark()
{
    return g_dark;
}

QString TIconSet::OwnPath(const QString& name)
{
    return (g_dark ? QStringLiteral(":/kes/icons/dark/") : QStringLiteral(":/kes/icons/light/")) + name
        + QStringLiteral(".svg");
}

QString TIconSet::ThemeName(const QString& name)
{
    static const QHash<QString, QString> names {
        {QStringLiteral("start"), QStringLiteral("media-playback-start")},
        {QStringLiteral("stop"), QStringLiteral("media-playback-stop")},
        {QStringLiteral("add"), QStringLiteral("list-add")},
        {QStringLiteral("remove"), QStringLiteral("list-remove")},
        {QStringLiteral("edit"), QStringLiteral("document-edit")},
        {QStringLiteral("help"), QStringLiteral("help-contents")},
        {QStringLiteral("about"), QStringLiteral("help-about")},
        {QStringLiteral("quit"), QStringLiteral("application-exit")},
        {QStringLiteral("log-clear"), QStringLiteral("edit-clear")},
        {QStringLiteral("log-copy"), QStringLiteral("edit-copy")},
        {QStringLiteral("open"), QStringLiteral("document-open")},
        {QStringLiteral("print"), QStringLiteral("document-print")},
        {QStringLiteral("find"), QStringLiteral("edit-find")},
        {QStringLiteral("close"), QStringLiteral("window-close")},
    };
    return names.value(name);
}

QIcon TIconSet::Icon(const QString& name)
{
    const QIcon own(OwnPath(name));
    const QString theme = g_style == TIconStyle::isTheme ? ThemeName(name) : QString();
    return theme.isEmpty() ? own : QIcon::fromTheme(theme, own);
}

} // namespace kes
