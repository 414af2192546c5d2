// Folders of the user and the system, names of the user and the computer,
// and the running program's own file.
//
// Linux counterparts of the Windows shell folders:
//   roaming application data   $XDG_CONFIG_HOME (default ~/.config)
//   local application data     $XDG_DATA_HOME (default ~/.local/share)
//   documents, desktop         the XDG user folders (user-dirs.dirs)
//   favourites                 none (empty)
//   user profile               $HOME
//   program files              the folder of the running program (the
//                              install prefix's bin folder)
//   common program files       the prefix's share folder (bin/../share)
//   startup folder             $XDG_CONFIG_HOME/autostart
// An XDG variable that is empty or not absolute is ignored, as the XDG
// base directory rules say.
#pragma once

#include <QString>
#include <QStringList>

namespace kes::platform {

// Shell folder codes as the programs name them (Windows CSIDL values).
enum ShellFolderCode : int {
    kFolderDesktop = 0,
    kFolderDocuments = 5,
    kFolderFavorites = 6,
    kFolderAppData = 26,
    kFolderLocalAppData = 28,
    kFolderProgramFiles = 38,
    kFolderProfile = 40,
    kFolderCommonProgramFiles = 43,
};

// The folder without a trailing delimiter ("/" stays "/"); empty for an
// unknown code or a folder that cannot be determined.
QString ShellFolderPath(int code);

enum class KnownFolder { Desktop, Startup };
QString KnownFolderPath(KnownFolder folder);

// $XDG_CONFIG_DIRS (default /etc/xdg), most important first.
QStringList SystemConfigFolders();
// $XDG_DATA_DIRS (default /usr/local/share, /usr/share), most important first.
QStringList SystemDataFolders();

// Full path of the running program file.
QString ExecutablePath();

// Login name of the user running the program; the computer's host name.
QString UserName();
QString ComputerName();

// File name of the main backup program ("Kesmo" here, "Kesmo.exe" on
// Windows): every text that names the program uses this.
QString MainProgramFileName();

} // namespace kes::platform
