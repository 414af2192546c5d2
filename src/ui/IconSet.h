// The icon sets of the windows, drawn for this project as SVG in a light
// and a dark variant (resource ":/kes/icons/<variant>/<name>.svg").
//
// [Config] "IconStyle" of the main program's configuration file chooses
// the set at process start: 0 (the default) takes the desktop theme's icon
// where it has one and ours otherwise; 1 always ours. The variant follows
// the display style. Loaded once, before the first window.
#pragma once

#include <QIcon>
#include <QString>

namespace kes {

enum class TIconStyle { isTheme = 0, isOwn = 1 };

class TIconSet {
public:
    // Reads IconStyle from the configuration file (missing or unknown: 0).
    static TIconStyle StyleFromConfig(const QString& configFileName);
    static void Load(TIconStyle style, bool dark);
    static TIconStyle Style();
    static bool Dark();

    // The icon of a name of ours ("start", "stop", "tray-run" ...).
    static QIcon Icon(const QString& name);
    // The resource path of our own SVG of the current variant.
    static QString OwnPath(const QString& name);
    // The desktop theme's name for one of our names, empty when there is
    // none (the notification-area and status icons are always ours).
    static QString ThemeName(const QString& name);
};

} // namespace kes
