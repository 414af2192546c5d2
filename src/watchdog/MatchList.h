// TMatchList: a string list that is always sorted, compares without regard
// to case and ignores added duplicates. Used for file types, sub-directory
// entries and the pending file lists of monitor tasks (up to several
// hundred thousand names).
//
// Case rule: Unicode simple case folding, as QStringView::compare(...,
// Qt::CaseInsensitive) (see CompareText). Sorting, look-up and duplicate detection all use this
// one rule, so "TXT", "txt" and "Txt" are one entry.
//
// A list of file names of a file system that tells names apart by case
// (Linux) is made with kExactNames: it sorts in the same order, but texts
// that differ only in case are different entries ("Makefile" and
// "makefile" are two files there, and both must be backed up).
//
// Layout: a sorted main array plus a small sorted array of recent
// additions (at most max(512, sqrt(n)) entries) that is merged into the
// main array when it is full, or when the list is read by position or
// iterated. Look-up and Contains search both arrays: O(log n) comparisons.
// Add: O(log n) comparisons, plus moving at most the small array's entries,
// plus the amortised share of the merges, O(sqrt n) moves; a name that
// sorts after every entry (loading a saved, sorted list) is appended in
// amortised O(1). Remove moves the entries behind the removed one, O(n).
// Assign sorts a whole list at once in O(n log n).
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <vector>

namespace kes {

class TMatchList {
public:
    using const_iterator = std::vector<QString>::const_iterator;

    enum TIdentity { kCaseInsensitive, kExactNames };
    explicit TMatchList(TIdentity identity = kCaseInsensitive)
        : FExact(identity == kExactNames)
    {
    }
    TIdentity Identity() const { return FExact ? kExactNames : kCaseInsensitive; }

    // The comparison every TMatchList uses (<0, 0, >0): the same order as
    // QStringView::compare(..., Qt::CaseInsensitive), with a fast path for
    // ASCII.
    static int CompareText(QStringView a, QStringView b);

    // Adds text unless an equal entry exists. Returns true when added.
    bool Add(const QString& text);
    // Replaces the contents (sorted, duplicates dropped).
    void Assign(const QStringList& texts);
    // Replaces the contents with the comma-separated items of text: items
    // are trimmed, one level of surrounding double quotes is removed, empty
    // items are skipped.
    void SetCommaText(const QString& text);
    QString CommaText() const;

    bool Contains(QStringView text) const;
    // Position of the entry equal to text, or -1.
    qsizetype IndexOf(QStringView text) const;
    // Removes the entry equal to text; true when there was one.
    bool Remove(QStringView text);
    void Delete(qsizetype index);
    void Clear();

    qsizetype Count() const { return qsizetype(FItems.size() + FRecent.size()); }
    bool IsEmpty() const { return FItems.empty() && FRecent.empty(); }
    const QString& operator[](qsizetype index) const
    {
        Flush();
        return FItems[size_t(index)];
    }
    const_iterator begin() const
    {
        Flush();
        return FItems.begin();
    }
    const_iterator end() const
    {
        Flush();
        return FItems.end();
    }
    QStringList ToStringList() const;

    // Changes with every modification; lets users cache data derived from
    // the list (compiled masks) and notice when it is stale.
    quint64 Generation() const { return FGeneration; }

private:
    // Merges the recent additions into the main array.
    void Flush() const;
    // CompareText, and for kExactNames the exact order of texts that are
    // equal without regard to case.
    int Compare(QStringView a, QStringView b) const;
    std::vector<QString>::iterator LowerBound(std::vector<QString>& v, QStringView text) const;
    bool Found(const std::vector<QString>& v, std::vector<QString>::iterator it, QStringView text) const;

    // Both sorted; no text is in both.
    mutable std::vector<QString> FItems;
    mutable std::vector<QString> FRecent;
    quint64 FGeneration = 0;
    bool FExact = false;
};

} // namespace kes
