// TMonFilter: the four filters of a monitor task, and the selection test
// that decides whether a changed file is collected for backup.
//
// Relative names use "/" between directories (Linux). Sub-directory
// entries read from task files written on Windows ("sub\dir") are turned
// into "sub/dir" by the task file reader, so entries and names always use
// the same delimiter here.
#pragma once

#include "watchdog/MatchList.h"
#include "watchdog/TextFilter.h"

#include <QString>
#include <QStringList>
#include <QStringView>
#include <vector>

namespace kes {

// Sub-directory entries prepared for matching: each entry is used as the
// mask entry + "*". Entries without wildcards (the usual case) reduce to a
// prefix test, done for all of them at once by one walk over a sorted
// array; entries with wildcards are compiled masks tried in turn.
class TSubDirMatcher {
public:
    void Build(const TMatchList& entries);
    bool Matches(QStringView path) const;
    quint64 Generation() const { return FGeneration; }

private:
    std::vector<std::u16string> FPrefixes; // a..z folded to A..Z, sorted by code unit
    std::vector<TMask> FMasks;
    quint64 FGeneration = 0;
};

struct TMonFilter {
    bool IncludeSubDirs = false;
    bool IncludeExts = false;
    TMatchList SubDirList;
    TMatchList ExtList;
    TTextFilter SubDirFilter {false, true};
    TTextFilter FileFilter {true, true};

    // Derived from SubDirList on first use after it changed (main thread only).
    mutable TSubDirMatcher SubDirCache;
};

// Path matches, as a mask, some entry of SubDirList followed by "*".
bool MatchesSubDirList(const TMonFilter& filter, QStringView path);
// Some non-empty directory name of path satisfies SubDirFilter.
bool MatchesDirFilter(const TMonFilter& filter, QStringView path);
// The task's selection of a file name relative to the monitored directory
// (extension list, file filter, sub-directory list, directory filter). Does
// not allocate, except the first time after SubDirList changed.
bool MatchesSelection(const TMonFilter& filter, QStringView relativeName);

// The texts of the dialog that shows a task's filters.
struct TFilterDialogTexts {
    QString Caption; // "Selection for subdirectories and files"
    QString SubDirGroup; // "Monitor all subdirectories"
    QString SubDirListLabel; // "included in this list" / "not included in this list"
    QStringList SubDirs;
    QString DirFilterLabel; // "matching these filter conditions" / "not matching ..."
    QStringList DirFilterItems;
    QString FileGroup; // "Monitor all files"
    QString ExtLabel; // "matching these file types" / "not matching these file types"
    QStringList Exts; // shown in five columns
    bool ShowRegularLabel = false;
    QString RegularLabel; // "Use filter as regular expression"
    QStringList FileFilterLines;
};
TFilterDialogTexts FilterDialogTexts(const TMonFilter& filter);

} // namespace kes
