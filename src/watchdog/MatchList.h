// TMatchList: a string list that is always sorted, compares without regard
// to case and ignores added duplicates. Used for file types, sub-directory
// entries and the pending file lists of monitor tasks (up to several
// hundred thousand names).
//
// Case rule: QStringView::compare(..., Qt::CaseInsensitive), i.e. Unicode
// simple case folding. Sorting, look-up and duplicate detection all use this
// one rule, so "TXT", "txt" and "Txt" are one entry.
//
// Complexity: look-up O(log n) comparisons; Add O(log n) comparisons plus
// moving the entries behind the insertion point (a memmove of pointers,
// O(n) bytes but no comparisons); appending a name that sorts after the
// last entry (loading a saved, sorted list) is amortised O(1). Assign sorts
// a whole list at once in O(n log n).
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <vector>

namespace kes
{

class TMatchList
{
public:
    using const_iterator = std::vector<QString>::const_iterator;

    // The comparison every TMatchList uses (<0, 0, >0).
    static int CompareText(QStringView a, QStringView b) { return a.compare(b, Qt::CaseInsensitive); }

    // Adds text unless an equal entry exists. Returns true when added.
    bool Add(const QString& text);
    // Replaces the contents (sorted, duplicates dropped).
    void Assign(const QStringList& texts);
    // Replaces the contents with the comma-separated items of text: items
    // are trimmed, one level of surrounding double quotes is removed, empty
    // items are skipped.
    void SetCommaText(const QString& text);
    QString CommaText() const;

    bool Contains(QStringView text) const { return IndexOf(text) >= 0; }
    // Position of the entry equal to text, or -1.
    qsizetype IndexOf(QStringView text) const;
    // Removes the entry equal to text; true when there was one.
    bool Remove(QStringView text);
    void Delete(qsizetype index);
    void Clear();

    qsizetype Count() const { return qsizetype(m_items.size()); }
    bool IsEmpty() const { return m_items.empty(); }
    const QString& operator[](qsizetype index) const { return m_items[size_t(index)]; }
    const_iterator begin() const { return m_items.begin(); }
    const_iterator end() const { return m_items.end(); }
    QStringList ToStringList() const;

    // Changes with every modification; lets users cache data derived from
    // the list (compiled masks) and notice when it is stale.
    quint64 Generation() const { return m_generation; }

private:
    // First position whose entry does not sort before text.
    qsizetype LowerBound(QStringView text) const;

    std::vector<QString> m_items;
    quint64 m_generation = 0;
};

} // namespace kes
