#include "watchdog/MatchList.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace kes {

namespace {

quint64 NextGeneration()
{
    // Unique over all lists, so a cache built from one list never looks
    // current for another list.
    static quint64 counter = 0;
    return ++counter;
}

} // namespace

int TMatchList::Compare(QStringView a, QStringView b) const
{
    const int c = CompareText(a, b);
    if (c != 0 || !FExact)
        return c;
    return a.compare(b, Qt::CaseSensitive);
}

// First position in v whose entry does not sort before text.
std::vector<QString>::iterator TMatchList::LowerBound(std::vector<QString>& v, QStringView text) const
{
    return std::lower_bound(v.begin(), v.end(), text,
        [this](const QString& item, QStringView t) { return Compare(item, t) < 0; });
}

bool TMatchList::Found(
    const std::vector<QString>& v, std::vector<QString>::iterator it, QStringView text) const
{
    return it != v.end() && Compare(*it, text) == 0;
}

int TMatchList::CompareText(QStringView a, QStringView b)
{
    const char16_t* pa = a.utf16();
    const char16_t* pb = b.utf16();
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t ca = pa[i];
        const char16_t cb = pb[i];
        if (ca == cb)
            continue;
        if (ca < 128 && cb < 128) {
            const int fa = (ca >= u'A' && ca <= u'Z') ? ca + 32 : ca;
            const int fb = (cb >= u'A' && cb <= u'Z') ? cb + 32 : cb;
            if (fa != fb)
                return fa - fb;
            continue;
        }
        // Beyond ASCII (where also a few non-ASCII characters fold to ASCII
        // letters) Qt decides the rest; never start inside a surrogate pair.
        const qsizetype from = (i > 0 && QChar::isHighSurrogate(pa[i - 1])) ? i - 1 : i;
        return a.sliced(from).compare(b.sliced(from), Qt::CaseInsensitive);
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

void TMatchList::Flush() const
{
    if (FRecent.empty())
        return;
    std::vector<QString> merged;
    merged.reserve(FItems.size() + FRecent.size());
    std::merge(std::make_move_iterator(FItems.begin()), std::make_move_iterator(FItems.end()),
        std::make_move_iterator(FRecent.begin()), std::make_move_iterator(FRecent.end()),
        std::back_inserter(merged), [this](const QString& a, const QString& b) { return Compare(a, b) < 0; });
    FItems.swap(merged);
    FRecent.clear();
}

bool TMatchList::Add(const QString& text)
{
    // After every entry: append (loading a sorted list).
    if ((FItems.empty() || Compare(FItems.back(), text) < 0)
        && (FRecent.empty() || Compare(FRecent.back(), text) < 0)) {
        FItems.push_back(text);
        FGeneration = NextGeneration();
        return true;
    }
    if (Found(FItems, LowerBound(FItems, text), text))
        return false;
    const auto pos = LowerBound(FRecent, text);
    if (Found(FRecent, pos, text))
        return false;
    FRecent.insert(pos, text);
    FGeneration = NextGeneration();
    const size_t limit = std::max<size_t>(512, size_t(std::sqrt(double(FItems.size()))));
    if (FRecent.size() > limit)
        Flush();
    return true;
}

void TMatchList::Assign(const QStringList& texts)
{
    FRecent.clear();
    FItems.assign(texts.begin(), texts.end());
    std::stable_sort(FItems.begin(), FItems.end(),
        [this](const QString& a, const QString& b) { return Compare(a, b) < 0; });
    FItems.erase(std::unique(FItems.begin(), FItems.end(),
                     [this](const QString& a, const QString& b) { return Compare(a, b) == 0; }),
        FItems.end());
    FGeneration = NextGeneration();
}

void TMatchList::SetCommaText(const QString& text)
{
    QStringList items;
    for (QStringView part : QStringView(text).split(u',')) {
        part = part.trimmed();
        if (part.size() >= 2 && part.front() == u'"' && part.back() == u'"')
            part = part.mid(1, part.size() - 2).trimmed();
        if (!part.isEmpty())
            items.append(part.toString());
    }
    Assign(items);
}

QString TMatchList::CommaText() const
{
    return ToStringList().join(u',');
}

bool TMatchList::Contains(QStringView text) const
{
    return Found(FItems, LowerBound(FItems, text), text) || Found(FRecent, LowerBound(FRecent, text), text);
}

qsizetype TMatchList::IndexOf(QStringView text) const
{
    Flush();
    const auto it = LowerBound(FItems, text);
    return Found(FItems, it, text) ? qsizetype(it - FItems.begin()) : -1;
}

bool TMatchList::Remove(QStringView text)
{
    for (std::vector<QString>* v : {&FRecent, &FItems}) {
        const auto it = LowerBound(*v, text);
        if (Found(*v, it, text)) {
            v->erase(it);
            FGeneration = NextGeneration();
            return true;
        }
    }
    return false;
}

void TMatchList::Delete(qsizetype index)
{
    Flush();
    if (index < 0 || index >= Count())
        return;
    FItems.erase(FItems.begin() + index);
    FGeneration = NextGeneration();
}

void TMatchList::Clear()
{
    if (IsEmpty())
        return;
    FItems.clear();
    FRecent.clear();
    FGeneration = NextGeneration();
}

QStringList TMatchList::ToStringList() const
{
    Flush();
    return QStringList(FItems.begin(), FItems.end());
}

} // namespace kes
