// Desktop entry files (the freedesktop.org desktop-entry format): the
// start-on-logon entry in $XDG_CONFIG_HOME/autostart and, later, desktop
// shortcuts.
//
// The text is built by a pure function; writing goes through a temporary
// file in the same folder that is renamed over the entry, so an entry is
// never left half-written.
#pragma once

#include <QString>
#include <QStringList>

namespace kes::platform {

struct TDesktopEntry {
    QString Name;
    QString Comment;
    QStringList Exec; // the program (an absolute path or a name in PATH) and its arguments
    QString Icon;
    QStringList ExtraKeys; // further "Key=value" lines, written as they are
};

// One argument of the Exec key as the desktop-entry format wants it: quoted when
// it holds a reserved character (inside the quotes '"', '`', '$' and '\'
// get a backslash), '%' doubled. The string-level escaping of the whole
// value comes on top (see DesktopEntryText).
QString QuoteExecArgument(const QString& argument);
// A string value: "\\" for a backslash, "\n", "\t", "\r" for those
// characters and "\s" for a leading blank.
QString EscapeDesktopValue(const QString& value);
// The file's text: [Desktop Entry] with Type=Application, Version=1.4,
// Name, Comment (when not empty), Exec, Icon (when not empty),
// Terminal=false and the extra keys.
QString DesktopEntryText(const TDesktopEntry& entry);

// The start-on-logon entry of a program: autostart folder + name +
// ".desktop".
QString AutostartEntryPath(const QString& programName);

bool DesktopEntryExists(const QString& path);
// Creates the folder when missing and writes the entry; 0 or the system's
// error code (errno).
int WriteDesktopEntry(const QString& path, const TDesktopEntry& entry);
// 0 also when there was none; else the system's error code.
int RemoveDesktopEntry(const QString& path);

// A launcher on the desktop: written like an entry, but executable (file
// managers start only executable launchers) and into a folder that must
// exist (a desktop folder is not made up). Then marked trusted for the
// desktops that ask for it (gio's metadata::trusted, when gio is there;
// harmless without). 0 or the system's error code.
int WriteDesktopShortcut(const QString& path, const TDesktopEntry& entry);

} // namespace kes::platform
