// The graphical desktop: whether one is there, opening a page in the
// browser, and the desktop's colour-scheme preference.
#pragma once

#include <QString>

namespace kes::platform {

// True when a graphical display is reachable (DISPLAY or WAYLAND_DISPLAY
// set). Without one the programs run as in a batch session.
bool HasGraphicalDisplay();

// Before the Qt GUI application is created. A display variable can outlive
// its server (a timer started after the user logged off), and Qt ends the
// program when it cannot reach the display. Unless QT_QPA_PLATFORM already
// names the platform, Qt is told to try the session's display platforms
// and fall back to HeadlessDisplayPlatform(). True when the fallback was
// arranged: landing on that platform then means there is no display.
bool ArrangeDisplayFallback();
// The name of Qt's platform without a display ("offscreen").
QString HeadlessDisplayPlatform();

// Opens a URL (file:// for local pages) in the desktop's preferred
// application through xdg-open. False when there is no display, xdg-open
// cannot be started, or it reports a failure within a few seconds.
bool OpenUrl(const QString& url);

enum class ColorScheme { Unknown, Light, Dark };

// The desktop's preference: the XDG desktop portal's
// org.freedesktop.appearance color-scheme over D-Bus, else the GTK
// settings files (gtk-4.0, gtk-3.0), else KDE's kdeglobals, below
// $XDG_CONFIG_HOME. Unknown when none tells.
ColorScheme QueryColorScheme();

// The portal's answer alone, on the session bus or, when busAddress is
// given, on that bus. Unknown without a bus or a portal (waits at most a
// second).
ColorScheme PortalColorScheme(const QString& busAddress = QString());

// The parts of the query, as pure functions.
// Portal value: 1 dark, 2 light, anything else no preference.
ColorScheme ColorSchemeFromPortalValue(quint32 value);
// settings.ini of GTK: [Settings] gtk-application-prefer-dark-theme, else a
// theme name ending in "-dark" or ":dark".
ColorScheme ColorSchemeFromGtkSettings(const QString& text);
// kdeglobals: [General] ColorScheme, dark when its name contains "dark".
ColorScheme ColorSchemeFromKdeGlobals(const QString& text);

} // namespace kes::platform
