#include "watchdog/FilterDisplay.h"

#include "frame/Format.h"
#include "frame/I18n.h"

namespace kes {

namespace {

// A mask list is shown item by item; a regular expression as one line
// (its "|" are alternatives, not item separators).
QStringList FilterItems(const TTextFilter& filter)
{
    if (filter.Regular())
        return {filter.Filter()};
    return filter.Filter().split(filter.Separator());
}

} // namespace

QList<QStringList> InColumns(const QStringList& items, int columns)
{
    QList<QStringList> rows;
    for (qsizetype i = 0; i < items.size(); i += columns)
        rows << items.mid(i, columns);
    return rows;
}

TFilterDisplay DescribeFilter(const TMonFilter& filter)
{
    TFilterDisplay d;
    d.Caption = _("Selection for subdirectories and files");
    d.SubDirGroup = _("Monitor all subdirectories");
    d.SubDirLabel = filter.IncludeSubDirs ? _("included in this list") : _("not included in this list");
    d.SubDirs = filter.SubDirList.ToStringList();
    d.DirFilterLabel = filter.IncludeSubDirs ? _("matching these filter conditions")
                                             : _("not matching these filter conditions");
    d.DirFilterItems = FilterItems(filter.SubDirFilter);
    d.FileGroup = _("Monitor all files");
    d.ExtLabel = filter.IncludeExts ? _("matching these file types") : _("not matching these file types");
    d.Exts = filter.ExtList.ToStringList();
    d.RegularLabel = _("Use filter as regular expression");
    d.RegularVisible = filter.FileFilter.Regular();
    switch (filter.FileFilter.Mode()) {
    case fmInclude:
        d.FileFilterLines
            = QStringList {SafeFormat(_("only %s"), {QStringLiteral(":")})} + FilterItems(filter.FileFilter);
        break;
    case fmExclude:
        d.FileFilterLines = QStringList {SafeFormat(_("all except %s"), {QStringLiteral(":")})}
            + FilterItems(filter.FileFilter);
        break;
    case fmOff:
        d.FileFilterLines = {_("All files")};
        break;
    }
    return d;
}

} // namespace kes
