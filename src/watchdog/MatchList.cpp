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
    if (c != 0 || !m_exact)
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
    if (m_recent.empty())
        return;
    std::vector<QString> merged;
    merged.reserve(m_items.size() + m_recent.size());
    std::merge(std::make_move_iterator(m_items.begin()), std::make_move_iterator(m_items.end()),
        std::make_move_iterator(m_recent.begin()), std::make_move_iterator(m_recent.end()),
        std::back_inserter(merged), [this](const QString& a, const QString& b) { return Compare(a, b) < 0; });
    m_items.swap(merged);
    m_recent.clear();
}

bool TMatchList::Add(const QString& text)
{
    // After every entry: append (loading a sorted list).
    if ((m_items.empty() || Compare(m_items.back(), text) < 0)
        && (m_recent.empty() || Compare(m_recent.back(), text) < 0)) {
        m_items.push_back(text);
        m_generation = NextGeneration();
        return true;
    }
    if (Found(m_items, LowerBound(m_items, text), text))
        return false;
    const auto pos = LowerBound(m_recent, text);
    if (Found(m_recent, pos, text))
        return false;
    m_recent.insert(pos, text);
    m_generation = NextGeneration();
    const size_t limit = std::max<size_t>(512, size_t(std::sqrt(double(m_items.size()))));
    if (m_recent.size() > limit)
        Flush();
    return true;
}

void TMatchList::Assign(const QStringList& texts)
{
    m_recent.clear();
    m_items.assign(texts.begin(), texts.end());
    std::stable_sort(m_items.begin(), m_items.end(),
        [this](const QString& a, const QString& b) { return Compare(a, b) < 0; });
    m_items.erase(std::unique(m_items.begin(), m_items.end(),
                      [this](const QString& a, const QString& b) { return Compare(a, b) == 0; }),
        m_items.end());
    m_generation = NextGeneration();
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
    return Found(m_items, LowerBound(m_items, text), text)
        || Found(m_recent, LowerBound(m_recent, text), text);
}

qsizetype TMatchList::IndexOf(QStringView text) const
{
    Flush();
    const auto it = LowerBound(m_items, text);
    return Found(m_items, it, text) ? qsizetype(it - m_items.begin()) : -1;
}

bool TMatchList::Remove(QStringView text)
{
    for (std::vector<QString>* v : {&m_recent, &m_items}) {
        const auto it = LowerBound(*v, text);
        if (Found(*v, it, text)) {
            v->erase(it);
            m_generation = NextGeneration();
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
    m_items.erase(m_items.begin() + index);
    m_generation = NextGeneration();
}

void TMatchList::Clear()
{
    if (IsEmpty())
        return;
    m_items.clear();
    m_recent.clear();
    m_generation = NextGeneration();
}

QStringList TMatchList::ToStringList() const
{
    Flush();
    return QStringList(m_items.begin(), m_items.end());
}

} // namespace kes
