#include "ui/TextNavigator.h"

#include <algorithm>

namespace kes {

void TTextNavigator::SetText(const QString& text)
{
    FJoined = text;
    FJoined.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    FJoined.replace(u'\r', u'\n');
    FLines = FJoined.split(u'\n');
    if (FLines.size() > 1 && FLines.last().isEmpty()) {
        FLines.removeLast(); // a final line end opens no line of its own
    }
    FStarts.clear();
    qsizetype at = 0;
    for (const QString& line : FLines) {
        FStarts << at;
        at += line.size() + 1;
    }
}

int TTextNavigator::FindMarker(const QString& marker, int line, bool forward) const
{
    if (marker.isEmpty())
        return -1;
    const int n = LineCount();
    if (forward) {
        for (int i = std::max(line + 1, 0); i < n; ++i) {
            if (FLines[i].contains(marker))
                return i;
        }
    } else {
        for (int i = std::min(line - 1, n - 1); i >= 0; --i) {
            if (FLines[i].contains(marker))
                return i;
        }
    }
    return -1;
}

int TTextNavigator::CountMarker(const QString& marker) const
{
    if (marker.isEmpty())
        return 0;
    return int(
        std::count_if(FLines.begin(), FLines.end(), [&](const QString& l) { return l.contains(marker); }));
}

qsizetype TTextNavigator::Find(const QString& what, qsizetype from, bool forward, bool caseSensitive) const
{
    if (what.isEmpty() || FJoined.isEmpty())
        return -1;
    const Qt::CaseSensitivity cs = caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    from = std::clamp<qsizetype>(from, 0, FJoined.size());
    if (forward) {
        qsizetype at = FJoined.indexOf(what, from, cs);
        if (at < 0)
            at = FJoined.indexOf(what, 0, cs);
        return at;
    }
    qsizetype at = from > 0 ? FJoined.lastIndexOf(what, from - 1, cs) : -1;
    if (at < 0)
        at = FJoined.lastIndexOf(what, -1, cs);
    return at;
}

int TTextNavigator::LineOf(qsizetype position) const
{
    if (FStarts.isEmpty())
        return -1;
    const auto it = std::upper_bound(FStarts.begin(), FStarts.end(), position);
    return int(it - FStarts.begin()) - 1;
}

qsizetype TTextNavigator::LineStart(int line) const
{
    if (line < 0 || line >= FStarts.size())
        return -1;
    return FStarts[line];
}

} // namespace kes
