// Folders, the settings file of each program and where the main backup
// program is found.
//
// Linux layout (defaults):
//   AppPath       $XDG_CONFIG_HOME/Kesmo6/   the main program's data folder
//   settings      AppPath, or the "IniPath" of the registry stand-in
//   IniName       <settings>/Selwand.ini or Marvick.ini
//   UserPath      the XDG documents folder + "/"
//   JobDir        UserPath + "Kesmo/"
//   KesPath       ./Kesmo, <ProgramDir>Kesmo or the "Program" of the
//                 registry stand-in (platform/Registry.h)
#pragma once

#include "platform/Paths.h"

#include <QString>

namespace kes {

// The registry key of the product.
QString ProductRegistryKey();

// A shell folder by its code (platform::kFolder...), without a trailing
// delimiter; empty when it cannot be determined.
QString GetShellFolder(int code);
QString GetKnownFolder(platform::KnownFolder folder);

// Roaming application data + delimiter + subfolder; ProgramDir when the
// application-data folder cannot be determined, or when create is set and
// the folder cannot be created.
QString GetAppDataPath(const QString& subfolder, bool create);

// app path = GetAppDataPath("Kesmo6/", no create); user path =
// SetDirName(documents); program files path = SetDirName(program files).
void GetDefaultPaths(QString& appPath, QString& userPath, QString& programFilesPath);

// The user's "IniPath" registry value, or the default when it is missing
// or empty.
QString GetIniPath(const QString& defaultPath);

// The main program's file name: "Kesmo" (Linux) or "Kesmo.exe" (Windows).
// Every text that names the program uses it.
QString MainProgramFile();

// Full path of the main program, or empty when it is not found: first in
// the current folder, then in ProgramDir, then as the machine's "Program"
// registry value (both views). The result is always an absolute path.
QString GetMainProgram();

// Take-over of an older settings file (see LocateSettings). Copies keep
// content, time stamps and mode; copy errors are ignored.
bool CopyDefaultSettings(const QString& iniName);
void CopyOldSettings(const QString& appDataFolder, const QString& iniName);
// Copies a file with its content, modification and access times and mode,
// through a temporary file in the target folder, to a target that does not
// exist yet. False on any error (nothing is left behind).
bool CopyFileWithTimes(const QString& source, const QString& target);

// Every %NAME% replaced by the value of the environment variable NAME
// (empty when it is not set); see the source for the exact scan.
QString ExpandEnvVars(const QString& text);

// The path placeholders of a settings-file switch ("%apppath%",
// "%desktop%", "%username%" ...) replaced, without regard to case, by
// their folders (without trailing delimiter) or names.
QString ExpandPathPlaceholders(const QString& text);

// The folders and files a main window computes when it is created.
struct TSettingsLocation {
    QString AppPath; // with trailing delimiter
    QString UserPath; // with trailing delimiter, or empty
    QString JobDir; // default folder of backup task files
    QString KesPath; // the main program, or empty
    QString SettingsDir; // folder of the settings files, with trailing delimiter
    QString IniName; // the program's own settings file
    QString KesmoIni; // the main program's settings file (read by Selwand)
};

// Computes the folders, creates the settings folder (falling back to
// AppPath when that fails), names the program's settings file and takes
// over an older one.
TSettingsLocation LocateSettings();

// The settings file given with the switch "ini": relative names are taken
// below AppPath, a name without extension gets ".ini", placeholders are
// expanded.
QString AlternativeIniName(const QString& appPath, const QString& value);

} // namespace kes
