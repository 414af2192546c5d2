// Program identity and the start-up both programs run before any window
// exists: program folder and name, the main program's configuration file,
// the start switches "lang", "ini" and "portable", and the language.
//
// Order at process start (StartProgramFrame):
//   1. InitProgram: ProgramDir, ProgramName, the arguments.
//   2. InitTranslation: the text domains are bound to the catalogues.
//   3. location = GetIniPath("Kesmo6/") (registry stand-in or default).
//   4. InitPaths(location, "Kesmo.cfg", {"Units"}): ConfigFileName, then
//      LanguageCode from the switches, Kesmo.cfg or the locale, and the
//      catalogues switched to it.
// The values are set once, on the main thread, and only read afterwards.
#pragma once

#include "frame/PathRules.h"

#include <QString>
#include <QStringList>

namespace kes {

// Folder of the running program file, with a trailing delimiter.
QString ProgramDir();
// File name of the running program without folder and extension.
QString ProgramName();
// Full path of the main program's configuration file (read only).
QString ConfigFileName();
// ISO 639-1 code of the user-interface language (at most 2 characters).
QString LanguageCode();
// The command-line arguments, without the program itself.
QStringList ProgramArguments();

// Sets ProgramDir, ProgramName and the arguments from the running program
// file; ConfigFileName and LanguageCode become empty. Arguments are
// decoded so that any byte string survives (platform/FileName.h).
void InitProgram(int argc, char** argv);
// The same for a given program file and arguments (tests, other hosts).
void InitProgram(const QString& programFile, const QStringList& arguments);

// Sets ConfigFileName and the language. The location is a folder, absolute
// or relative to the roaming application-data folder; an empty file name
// means ProgramName + ".cfg"; the domains are bound as extra translation
// domains.
void InitPaths(const QString& location, const QString& fileName, const QStringList& domains);

// Scans ProgramArguments() for "lang", "ini" and "portable", adjusts
// ConfigFileName, and returns the language chosen by the switch or by
// [Language] "LangID" of the configuration file (empty when neither).
QString ReadStartOptions();

// What the start switches decide, as pure logic.
struct TStartOptions {
    QString Lang; // from "lang", cut to 2 characters, lower case
    QString ConfigFileName; // after "ini" and "portable"
};
TStartOptions EvaluateStartOptions(const QStringList& arguments, const QString& configFileName,
    const QString& programDir, const QString& currentFolder, PathStyle style = kNativePathStyle);

// The user's language: on Linux from the locale (LANGUAGE, LC_ALL,
// LC_MESSAGES, LANG: the first that is set); "en" when none names one.
QString GetDefaultLanguage();
// The language part of a locale name: "de_DE.UTF-8" gives "de", "pt_BR"
// gives "pt"; "C", "POSIX", empty or a code that is not two letters give
// "en".
QString LanguageFromLocaleName(const QString& name);
// The two-letter code of a Windows language identifier (its primary
// language, the low 10 bits); "en" for every language without a code.
QString LanguageFromWindowsLangId(quint32 langId);

// The whole start sequence above; programDomain is "selwand" or "marvick".
void StartProgramFrame(int argc, char** argv, const QString& programDomain);

} // namespace kes
