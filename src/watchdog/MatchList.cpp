#include "watchdog/MatchList.h"

#include <algorithm>

namespace kes
{

namespace
{
quint64 NextGeneration()
{
    // Unique over all lists, so a cache built from one list never looks
    // current for another list that happens to have the same count.
    static quint64 counter = 0;
    return ++counter;
}
} // namespace

qsizetype TMatchList::LowerBound(QStringView text) const
{
    const auto it = std::lower_bound(m_items.begin(), m_items.end(), text,
        [](const QString& item, QStringView t) { return CompareText(item, t) < 0; });
    return qsizetype(it - m_items.begin());
}

bool TMatchList::Add(const QString& text)
{
    if (!m_items.empty()) {
        const int last = CompareText(m_items.back(), text);
        if (last == 0)
            return false;
        if (last > 0) {
            const qsizetype pos = LowerBound(text);
            if (CompareText(m_items[size_t(pos)], text) == 0)
                return false;
            m_items.insert(m_items.begin() + pos, text);
            m_generation = NextGeneration();
            return true;
        }
    }
    m_items.push_back(text);
    m_generation = NextGeneration();
    return true;
}

void TMatchList::Assign(const QStringList& texts)
{
    m_items.assign(texts.begin(), texts.end());
    std::stable_sort(m_items.begin(), m_items.end(),
        [](const QString& a, const QString& b) { return CompareText(a, b) < 0; });
    m_items.erase(std::unique(m_items.begin(), m_items.end(),
                      [](const QString& a, const QString& b) { return CompareText(a, b) == 0; }),
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

qsizetype TMatchList::IndexOf(QStringView text) const
{
    const qsizetype pos = LowerBound(text);
    if (pos < Count() && CompareText(m_items[size_t(pos)], text) == 0)
        return pos;
    return -1;
}

bool TMatchList::Remove(QStringView text)
{
    const qsizetype pos = IndexOf(text);
    if (pos < 0)
        return false;
    Delete(pos);
    return true;
}

void TMatchList::Delete(qsizetype index)
{
    if (index < 0 || index >= Count())
        return;
    m_items.erase(m_items.begin() + index);
    m_generation = NextGeneration();
}

void TMatchList::Clear()
{
    if (m_items.empty())
        return;
    m_items.clear();
    m_generation = NextGeneration();
}

QStringList TMatchList::ToStringList() const
{
    return QStringList(m_items.begin(), m_items.end());
}

} // namespace kes
