// Version texts of the programs, the bitness text and ordinal texts.
//
// On Linux a program file carries no version resource: the running
// program's version comes from the build (the project version, with a
// fourth component 0), and any other file has none.
#pragma once

#include <QString>

namespace kes {

struct TFileVersionInfo {
    QString Company;
    QString Description;
    QString Version;
    QString InternalName;
    QString Copyright; // the legal notice
    QString Comments;
};

// The version record of a program file; false when it has none.
bool ReadVersionInfo(const QString& file, TFileVersionInfo& info);

// The file's version without its last component (3.11.2.0 gives 3.11.2),
// or the default when it has none.
QString GetFileVersion(const QString& file, const QString& defaultVersion);

// "Version" (translated), a blank and the version cut to at most count
// components: ("3.11.2.0", 3) gives "Version 3.11.2".
QString VersionText(const QString& version, int count);

// What a main window shows in its about box.
struct TProgramVersion {
    TFileVersionInfo Info; // Comments = the version's display text
    QString ProgVersName; // InternalName + " (" + Comments + ")"
    QString ProgVersDate; // date of the program file, short format
};

// Reads the running program's version (falling back to the given texts
// when it has none), keeps it for ProgramVersion() and returns it.
TProgramVersion InitVersion(const QString& programName, const QString& fallbackVersion,
    const QString& fallbackCopyright, int count = 3);
// What InitVersion found (empty before).
TProgramVersion ProgramVersion();

// " - 64-bit" or " - 32-bit" (translated), after the program's own build.
QString BitnessText();

// 0 "no ", 1 "1st ", 2 "2nd ", 3 "3rd ", else the number and "th "; each
// translated, each ending in a blank.
QString OrdinalText(qint64 n);

} // namespace kes
