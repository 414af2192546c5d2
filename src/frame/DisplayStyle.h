// The light/dark display-style decision (the style itself is applied in
// src/ui/DisplayStyle.h).
//
// With the switch "dark" the dark style is used. Otherwise, when [Config]
// "DarkMode" of the main program's configuration file is true, the program
// follows the desktop's colour-scheme preference (dark only when the
// desktop says dark); else, and whenever the preference is unknown, light.
#pragma once

#include "platform/Desktop.h"

#include <QString>

namespace kes {

enum class TDisplayStyle { dsLight, dsDark };

TDisplayStyle ChooseDisplayStyle(bool darkSwitch, bool followDesktop, platform::ColorScheme desktop);

// The decision for this process: reads DarkMode from configFileName and
// asks the desktop only when it is needed.
TDisplayStyle DecideDisplayStyle(bool darkSwitch, const QString& configFileName);

// A style is switched only when its name differs, without regard to case,
// from the active one.
bool StyleSwitchNeeded(const QString& activeName, const QString& newName);

} // namespace kes
