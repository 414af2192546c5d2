// TTextNavigator: the navigation of the text viewer, without widgets.
//
// The text is held as lines. Markers (an error marker such as "  *** ",
// a section marker such as "Kestrup -") are found by line: the next or
// previous line, after or before the current one, that contains the
// marker; the search does not wrap, so reaching the end is noticed. Find
// looks for a text from a character position in either direction, with or
// without regard to case, and wraps around once.
#pragma once

#include <QString>
#include <QStringList>

namespace kes {

class TTextNavigator {
public:
    void SetText(const QString& text);
    const QStringList& Lines() const { return FLines; }
    int LineCount() const { return int(FLines.size()); }

    // The next line after `line` (forward) or before it holding marker; -1
    // when there is none (or the marker is empty). line may be -1 (before
    // the first) or LineCount() (after the last).
    int FindMarker(const QString& marker, int line, bool forward) const;
    // Number of lines holding marker.
    int CountMarker(const QString& marker) const;

    // The position (in the text joined with "\n") of the next occurrence of
    // what after position `from` (forward: at or after from; backward:
    // starting before from), wrapping around once; -1 when it does not
    // occur at all.
    qsizetype Find(const QString& what, qsizetype from, bool forward, bool caseSensitive) const;
    // The line of a position of the joined text.
    int LineOf(qsizetype position) const;
    // The position where a line begins in the joined text.
    qsizetype LineStart(int line) const;

private:
    QStringList FLines;
    QString FJoined;
    QList<qsizetype> FStarts;
};

} // namespace kes
