#include "watchdog/MonFilter.h"

#include "frame/Format.h"
#include "frame/I18n.h"

#include <algorithm>

namespace kes {

namespace {

inline char16_t FoldAz(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? char16_t(c - (u'a' - u'A')) : c;
}

bool HasWildcard(QStringView s)
{
    for (QChar c : s) {
        if (c == u'*' || c == u'?' || c == u'[')
            return true;
    }
    return false;
}

} // namespace

void TSubDirMatcher::Build(const TMatchList& entries)
{
    FPrefixes.clear();
    FMasks.clear();
    for (const QString& e : entries) {
        if (HasWildcard(e)) {
            TMask m;
            if (m.Compile(QString(e + u'*'))) // an invalid entry matches nothing
                FMasks.push_back(std::move(m));
            continue;
        }
        std::u16string folded(reinterpret_cast<const char16_t*>(e.utf16()), size_t(e.size()));
        for (char16_t& c : folded)
            c = FoldAz(c);
        FPrefixes.push_back(std::move(folded));
    }
    std::sort(FPrefixes.begin(), FPrefixes.end());
    FPrefixes.erase(std::unique(FPrefixes.begin(), FPrefixes.end()), FPrefixes.end());
    FGeneration = entries.Generation();
}

bool TSubDirMatcher::Matches(QStringView path) const
{
    // [lo, hi) holds the entries that agree with the first k characters of
    // path; since the array is sorted, they are contiguous, and an entry of
    // exactly k characters comes first among them.
    size_t lo = 0, hi = FPrefixes.size();
    const char16_t* p = path.utf16();
    const size_t n = size_t(path.size());
    for (size_t k = 0; lo < hi; ++k) {
        if (FPrefixes[lo].size() == k)
            return true;
        if (k == n)
            break;
        const char16_t c = FoldAz(p[k]);
        auto first = FPrefixes.begin() + ptrdiff_t(lo);
        auto last = FPrefixes.begin() + ptrdiff_t(hi);
        first = std::lower_bound(
            first, last, c, [k](const std::u16string& e, char16_t ch) { return e[k] < ch; });
        last = std::upper_bound(
            first, last, c, [k](char16_t ch, const std::u16string& e) { return ch < e[k]; });
        lo = size_t(first - FPrefixes.begin());
        hi = size_t(last - FPrefixes.begin());
    }
    for (const TMask& m : FMasks) {
        if (m.Matches(path))
            return true;
    }
    return false;
}

bool MatchesSubDirList(const TMonFilter& filter, QStringView path)
{
    if (filter.SubDirCache.Generation() != filter.SubDirList.Generation())
        filter.SubDirCache.Build(filter.SubDirList);
    return filter.SubDirCache.Matches(path);
}

bool MatchesDirFilter(const TMonFilter& filter, QStringView path)
{
    const char16_t* p = path.utf16();
    const qsizetype n = path.size();
    qsizetype start = 0;
    for (qsizetype end = 0; end <= n; ++end) {
        if (end < n && p[end] != u'/')
            continue;
        if (end > start && filter.SubDirFilter.MatchesFilter(path.sliced(start, end - start)))
            return true;
        start = end + 1;
    }
    return false;
}

bool MatchesSelection(const TMonFilter& filter, QStringView relativeName)
{
    // One backward scan finds the last "." of the name and the last "/".
    const char16_t* p = relativeName.utf16();
    qsizetype slash = relativeName.size() - 1;
    qsizetype dot = -1;
    for (; slash >= 0 && p[slash] != u'/'; --slash) {
        if (dot < 0 && p[slash] == u'.')
            dot = slash;
    }
    const QStringView path = relativeName.first(slash + 1); // with its trailing "/", or empty
    const QStringView name = relativeName.sliced(slash + 1);
    const QStringView ext = dot < 0 ? QStringView() : relativeName.sliced(dot + 1);

    if (filter.ExtList.Contains(ext) != filter.IncludeExts)
        return false;
    if (!filter.FileFilter.MatchesFilter(name))
        return false;
    if (!filter.SubDirList.IsEmpty() && MatchesSubDirList(filter, path) != filter.IncludeSubDirs)
        return false;
    if (filter.SubDirFilter.Mode() != fmOff && MatchesDirFilter(filter, path) != filter.IncludeSubDirs)
        return false;
    return true;
}

TFilterDialogTexts FilterDialogTexts(const TMonFilter& filter)
{
    TFilterDialogTexts t;
    t.Caption = _("Selection for subdirectories and files");
    t.SubDirGroup = _("Monitor all subdirectories");
    t.SubDirListLabel = filter.IncludeSubDirs ? _("included in this list") : _("not included in this list");
    t.SubDirs = filter.SubDirList.ToStringList();
    t.DirFilterLabel = filter.IncludeSubDirs ? _("matching these filter conditions")
                                             : _("not matching these filter conditions");
    auto splitItems = [](const TTextFilter& f) {
        QStringList items;
        QString s = f.Filter();
        while (!s.isEmpty())
            items.append(TTextFilter::NextItem(s, f.Separator()));
        return items;
    };
    t.DirFilterItems = splitItems(filter.SubDirFilter);
    t.FileGroup = _("Monitor all files");
    t.ExtLabel = filter.IncludeExts ? _("matching these file types") : _("not matching these file types");
    t.Exts = filter.ExtList.ToStringList();
    t.ShowRegularLabel = filter.FileFilter.Regular();
    t.RegularLabel = _("Use filter as regular expression");
    switch (filter.FileFilter.Mode()) {
    case fmInclude:
        t.FileFilterLines << SafeFormat(_("only %s"), {QStringLiteral(":")});
        t.FileFilterLines << splitItems(filter.FileFilter);
        break;
    case fmExclude:
        t.FileFilterLines << SafeFormat(_("all except %s"), {QStringLiteral(":")});
        t.FileFilterLines << splitItems(filter.FileFilter);
        break;
    case fmOff:
        t.FileFilterLines << _("All files");
        break;
    }
    return t;
}

} // namespace kes
