// Applies the light or dark display style to the running application.
//
// The dark style is Qt's Fusion style with a dark palette, named "Fusion
// Dark" here; the light style is the style that was active when the first
// style was applied, with its own standard palette.
#pragma once

#include "frame/DisplayStyle.h"

#include <QPalette>
#include <QString>

namespace kes {

QString DarkStyleName();
QPalette DarkPalette();

// The name of the style applied last (the start style before any call).
QString ActiveStyleName();

// Switches the application's style when the name of the wanted style
// differs from the active one; returns whether it switched. Needs a
// QApplication.
bool ApplyDisplayStyle(TDisplayStyle style);

} // namespace kes
