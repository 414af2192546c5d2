// What the filter dialog ("Selection for subdirectories and files") shows
// of a task's TMonFilter: its labels and lists, without widgets.
#pragma once

#include "watchdog/MonFilter.h"

#include <QString>
#include <QStringList>

namespace kes {

struct TFilterDisplay {
    QString Caption; // "Selection for subdirectories and files"
    QString SubDirGroup; // "Monitor all subdirectories"
    QString SubDirLabel; // "included in this list" / "not included in this list"
    QStringList SubDirs;
    QString DirFilterLabel; // "matching these filter conditions" / "not matching ..."
    QStringList DirFilterItems; // the directory filter's text split at "|"
    QString FileGroup; // "Monitor all files"
    QString ExtLabel; // "matching these file types" / "not matching these file types"
    QStringList Exts; // shown in five columns
    bool RegularVisible = false; // "Use filter as regular expression"
    QString RegularLabel;
    // "only :" or "all except :" followed by the file filter's items, or
    // the single line "All files".
    QStringList FileFilterLines;
};

// The file types in rows of five, for the five-column list.
QList<QStringList> InColumns(const QStringList& items, int columns = 5);

TFilterDisplay DescribeFilter(const TMonFilter& filter);

} // namespace kes
