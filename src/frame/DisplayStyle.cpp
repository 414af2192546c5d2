#include "frame/DisplayStyle.h"

#include "frame/UnicodeIniFile.h"

namespace kes {

TDisplayStyle ChooseDisplayStyle(bool darkSwitch, bool followDesktop, platform::ColorScheme desktop)
{
    if (darkSwitch || (followDesktop && desktop == platform::ColorScheme::Dark))
        return TDisplayStyle::dsDark;
    return TDisplayStyle::dsLight;
}

TDisplayStyle DecideDisplayStyle(bool darkSwitch, const QString& configFileName)
{
    if (darkSwitch)
        return TDisplayStyle::dsDark;
    const bool follow = !configFileName.isEmpty()
        && ReadIniBool(configFileName, QStringLiteral("Config"), QStringLiteral("DarkMode"), false);
    return ChooseDisplayStyle(
        false, follow, follow ? platform::QueryColorScheme() : platform::ColorScheme::Unknown);
}

bool StyleSwitchNeeded(const QString& activeName, const QString& newName)
{
    return activeName.compare(newName, Qt::CaseInsensitive) != 0;
}

} // namespace kes
