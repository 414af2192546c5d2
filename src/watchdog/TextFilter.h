// File-name filters: masks, mask lists and regular expressions.
//
// TMask is one compiled mask item. Rules:
//   "*"      any sequence of characters, also an empty one; "?" directly
//            after "*" adds nothing ("*?" = "*")
//   "?"      exactly one character (a surrogate pair counts as one)
//   "[...]"  one character of the set: single characters and ranges
//            "a-f"; "[!...]" one character not in the set; only characters
//            up to U+00FF can be members
//   other    the character itself; a..z match in either case, every other
//            letter only exactly
// A mask is invalid when a set has no closing "]", a range has no starting
// character, or more than 30 elements follow "*" wildcards.
//
// Matching runs in O(length of text x length of the longest star-free run
// of the mask): a greedy match that only ever returns to the last "*", so
// masks such as "*a*a*a*a*a*b" never backtrack exponentially. Matching does
// not allocate.
//
// TTextFilter is a mask list ("|"-separated items; a leading "+" makes all
// items required, a leading "!" inverts one item) or one PCRE2 regular
// expression, with a mode. Filters are used in the main thread only (the
// compiled regular expression owns one match-data block that every match
// reuses).
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <array>
#include <memory>
#include <stdexcept>
#include <vector>

namespace kes {

class TMask {
public:
    // At most this many elements may follow "*" wildcards.
    static constexpr int kMaxStarElements = 30;

    // Compiles mask; false (and a mask that matches nothing) when invalid.
    bool Compile(QStringView mask);
    bool IsValid() const { return FValid; }
    // Matches the whole text. With appendDot the text is matched as if a
    // "." followed it (without building that text).
    bool Matches(QStringView text, bool appendDot = false) const;

private:
    enum TKind : quint8 { tkChar, tkAny, tkSet, tkStar };
    struct TToken {
        TKind Kind;
        bool Negate;
        quint16 Set; // index into FSets for tkSet
        char32_t Char; // tkChar; a..z stored as A..Z
    };
    bool TokenMatches(const TToken& t, char32_t c) const;

    std::vector<TToken> FTokens;
    std::vector<std::array<quint64, 4>> FSets;
    bool FValid = false;
    bool FHasStar = false;
    size_t FHead = 0; // elements before the first "*"
    size_t FTail = 0; // elements after the last "*"
};

// Convenience for one-off tests of a mask; an invalid mask matches nothing.
bool MatchesMask(QStringView text, QStringView mask);

enum TFilterMode { fmOff, fmInclude, fmExclude };

// An unusable filter text ("Illegal regular expression!", "Illegal mask!").
class EFilterError : public std::runtime_error {
public:
    explicit EFilterError(const QString& message);
    QString Message() const { return QString::fromUtf8(what()); }
};

class TTextFilter {
public:
    // AIsFileFilter: items without extension get ".*" appended and the
    // "*." rule applies. AIgnoreCase: the regular expression is caseless.
    explicit TTextFilter(bool isFileFilter, bool ignoreCase = true);
    ~TTextFilter();
    TTextFilter(TTextFilter&&) noexcept;
    TTextFilter& operator=(TTextFilter&&) noexcept;
    TTextFilter(const TTextFilter&) = delete;
    TTextFilter& operator=(const TTextFilter&) = delete;

    // Not a regular expression, fmOff, mask "*".
    void Reset();

    // The pattern when Regular, else the stored mask list.
    QString Filter() const { return FRegExp ? FPattern : FMask; }
    // Stores and checks a filter text (as mask list or regular expression
    // by Regular()). Raises EFilterError, leaving the match-all fallback
    // ("." or "*") behind.
    void SetFilter(const QString& value);

    TFilterMode Mode() const { return FMode; }
    void SetMode(TFilterMode mode) { FMode = mode; }
    bool Regular() const { return FRegExp; }
    // Only switches how Filter/SetFilter/MatchesFilter treat the text; set
    // the text with SetFilter afterwards.
    void SetRegular(bool regular) { FRegExp = regular; }
    bool IsFileFilter() const { return FIsFileFilter; }
    QString MatchAll() const { return FRegExp ? QStringLiteral(".") : QStringLiteral("*"); }
    QChar Separator() const { return FSep; }

    bool MatchesFilter(QStringView text) const;
    // The pattern is found anywhere in text. A match that runs into the
    // match or depth limit counts as no match.
    bool MatchRegEx(QStringView text) const;
    // How many matches ran into the match or depth limit so far.
    quint64 LimitHits() const { return FLimitHits; }

    // The text of s up to the first separator (all of s when there is
    // none); s loses that part and the separator.
    static QString NextItem(QString& s, QChar sep = u'|');

    // Limits for one match of a regular expression from a task file.
    static constexpr quint32 kMatchLimit = 500000;
    static constexpr quint32 kDepthLimit = 5000;

private:
    struct TItem {
        TMask Mask;
        bool Invert = false; // the item began with "!"
        bool EndsWithDot = false;
        bool Empty = false; // an empty item leaves the result unchanged
    };
    struct TRegex;

    void CompileMaskList();
    void CompileRegex(const QString& pattern); // raises EFilterError

    bool FRegExp = false;
    bool FIsFileFilter;
    bool FIgnoreCase;
    TFilterMode FMode = fmOff;
    QString FMask;
    QChar FSep = u'|';

    QString FPattern;
    bool FAndMode = false;
    std::vector<TItem> FItems;
    std::unique_ptr<TRegex> FRegex; // compiled FPattern, built on first use
    mutable quint64 FLimitHits = 0;
};

} // namespace kes
