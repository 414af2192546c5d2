#include "watchdog/TextFilter.h"

#include <gtest/gtest.h>

using kes::EFilterError;
using kes::TMask;
using kes::TTextFilter;

namespace {

QString Repeat(const QString& s, int n)
{
    QString r;
    for (int i = 0; i < n; ++i)
        r += s;
    return r;
}

} // namespace

TEST(Mask, MatchesByTheMaskRules)
{
    struct Case {
        const char16_t* mask;
        const char16_t* text;
        bool expected;
    } cases[] = {
        {u"*", u"", true},
        {u"*", u"anything.txt", true},
        {u"a*b", u"ab", true},
        {u"a*b", u"axxb", true},
        {u"a*b", u"axxbc", false},
        {u"*.txt", u"a.b.txt", true},
        {u"*.txt", u"a.txt.bak", false},
        // "?" is one character; right after "*" it adds nothing.
        {u"?", u"a", true},
        {u"?", u"", false},
        {u"a?c", u"abc", true},
        {u"a?c", u"ac", false},
        {u"*?.txt", u".txt", true},
        {u"*??x", u"x", true},
        {u"?*", u"", false},
        // Sets, ranges, negated sets.
        {u"[abc]x", u"bx", true},
        {u"[abc]x", u"dx", false},
        {u"[a-c]x", u"Cx", true},
        {u"[!a-c]x", u"dx", true},
        {u"[!a-c]x", u"Bx", false},
        {u"[0-9][0-9]", u"42", true},
        {u"[!]", u"z", true},
        {u"[a-]]", u"]", true},
        // a..z in either case, every other letter only exactly.
        {u"README.MD", u"readme.md", true},
        {u"\u00e4pfel", u"\u00e4pfel", true},
        {u"\u00e4pfel", u"\u00c4pfel", false},
        {u"[\u00e4]", u"\u00c4", false},
        {u"[\u00e4]", u"\u00e4", true},
        // Only characters up to U+00FF can be set members.
        {u"[\u20ac]", u"\u20ac", false},
        {u"[!\u20ac]", u"\u20ac", true},
        {u"\u20ac", u"\u20ac", true},
        // A surrogate pair is one character.
        {u"?.png", u"\U0001F600.png", true},
        {u"??.png", u"\U0001F600.png", false},
        {u"[!a]", u"\U0001F600", true},
        {u"*\U0001F600", u"ab\U0001F600", true},
        {u"?*?", u"\U0001F600", true}, // = "?*"
        {u"?*[!a]", u"\U0001F600", false},
        // The fixed start and end of a mask must not overlap.
        {u"a*a", u"a", false},
        {u"a*a", u"aa", true},
        {u"?*[!a]", u"ab", true},
        {u"ab*ba", u"aba", false},
        // Lone surrogates (names decoded from invalid UTF-8) are characters too.
        {u"a?b",
            u"a\xDC80"
            "b",
            true},
    };
    for (const Case& c : cases) {
        const QString mask = QString::fromUtf16(c.mask);
        const QString text = QString::fromUtf16(c.text);
        SCOPED_TRACE((mask + QStringLiteral(" / ") + text).toStdString());
        TMask m;
        ASSERT_TRUE(m.Compile(mask));
        EXPECT_EQ(m.Matches(text), c.expected);
    }
}

TEST(Mask, InvalidMasks)
{
    const QString invalid[] = {
        QStringLiteral("[ab"), QStringLiteral("x[!"), QStringLiteral("[-a]"), QStringLiteral("[!-a]"),
        QStringLiteral("[a-"), Repeat(QStringLiteral("*a"), 31),
        Repeat(QStringLiteral("*a"), 30) + QStringLiteral("*"), // the end after a "*" is an element too
    };
    for (const QString& mask : invalid) {
        SCOPED_TRACE(mask.toStdString());
        TMask m;
        EXPECT_FALSE(m.Compile(mask));
        EXPECT_FALSE(m.Matches(QStringLiteral("xyz")));
    }
    TMask m;
    EXPECT_TRUE(m.Compile(Repeat(QStringLiteral("*a"), 30)));
    EXPECT_TRUE(m.Compile(Repeat(QStringLiteral("*?"), 40) + QStringLiteral("x"))); // one "*" group only
}

TEST(Mask, HostileMasksFinish)
{
    // With backtracking over every "*" these take exponential time.
    const QString text = Repeat(QStringLiteral("a"), 20000);
    TMask m;
    ASSERT_TRUE(m.Compile(QStringLiteral("*a*a*a*a*a*a*a*a*a*a*b")));
    EXPECT_FALSE(m.Matches(text));
    EXPECT_TRUE(m.Matches(text + QStringLiteral("b")));
    ASSERT_TRUE(m.Compile(Repeat(QStringLiteral("*a"), 29) + QStringLiteral("*?b")));
    EXPECT_FALSE(m.Matches(text));
}

TEST(TextFilter, MaskListsOfFileFilters)
{
    struct Case {
        const char* filter;
        kes::TFilterMode mode;
        const char* stored;
        QStringList matching;
        QStringList other;
    } cases[] = {
        {"readme|*.txt", kes::fmInclude, "readme.*|*.txt", {"README.md", "a.txt"}, {"readme", "a.doc"}},
        {"*.", kes::fmInclude, "*.", {"Makefile", "a."}, {"a.b"}},
        {"+*.doc|!~*", kes::fmInclude, "+*.doc|!~*.*", {"report.doc"}, {"~report.doc", "report.txt"}},
        {"!*.tmp", kes::fmInclude, "!*.tmp", {"a.txt", "Makefile"}, {"a.tmp", "B.TMP"}},
        {"!*.tmp", kes::fmExclude, "!*.tmp", {"a.tmp"}, {"a.txt"}},
        {"*.doc|*.txt", kes::fmExclude, "*.doc|*.txt", {"a.pdf"}, {"a.doc", "b.TXT"}},
        // An empty first item matches everything in OR mode; in AND mode it
        // leaves the result unchanged.
        {"|*.txt", kes::fmInclude, "|*.txt", {"a.doc", "x"}, {}},
        {"+|*.txt", kes::fmInclude, "+|*.txt", {"a.txt"}, {"a.doc"}},
        {"*.txt|", kes::fmInclude, "*.txt|", {"a.txt"}, {"a.doc"}},
        {"", kes::fmInclude, "*", {"a", "b.c"}, {}},
        {"*", kes::fmInclude, "*.*", {"a.b"}, {"Makefile"}},
        {"*.txt", kes::fmOff, "*.txt", {"a.doc", "a.txt"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        TTextFilter f(true);
        f.SetMode(c.mode);
        f.SetFilter(QString::fromUtf8(c.filter));
        EXPECT_EQ(f.Filter(), QString::fromUtf8(c.stored));
        for (const QString& name : c.matching)
            EXPECT_TRUE(f.MatchesFilter(name)) << name.toStdString();
        for (const QString& name : c.other)
            EXPECT_FALSE(f.MatchesFilter(name)) << name.toStdString();
    }
}

TEST(TextFilter, DirectoryFiltersKeepItemsWithoutExtension)
{
    TTextFilter f(false);
    f.SetMode(kes::fmInclude);
    f.SetFilter(QStringLiteral("temp|#x|cache*"));
    EXPECT_EQ(f.Filter(), QStringLiteral("temp|#x|cache*"));
    EXPECT_TRUE(f.MatchesFilter(u"TEMP"));
    EXPECT_TRUE(f.MatchesFilter(u"#x"));
    EXPECT_TRUE(f.MatchesFilter(u"cache2"));
    EXPECT_FALSE(f.MatchesFilter(u"tempo"));
    // "*." has no special meaning outside file filters.
    f.SetFilter(QStringLiteral("*."));
    EXPECT_FALSE(f.MatchesFilter(u"Makefile"));
}

TEST(TextFilter, InvalidMaskFallsBackToMatchAll)
{
    TTextFilter f(true);
    try {
        f.SetFilter(QStringLiteral("*.txt|[ab"));
        FAIL() << "no EFilterError";
    } catch (const EFilterError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Illegal mask!"));
    }
    EXPECT_EQ(f.Filter(), QStringLiteral("*"));
    f.SetMode(kes::fmInclude);
    EXPECT_TRUE(f.MatchesFilter(u"Makefile"));
    EXPECT_TRUE(f.MatchesFilter(u"a.doc"));
    f.SetMode(kes::fmExclude);
    EXPECT_FALSE(f.MatchesFilter(u"Makefile"));
    EXPECT_FALSE(f.MatchesFilter(u"a.doc"));
}

TEST(TextFilter, RegularExpressions)
{
    TTextFilter f(true);
    f.SetRegular(true);
    f.SetMode(kes::fmInclude);
    EXPECT_EQ(f.MatchAll(), QStringLiteral("."));

    // Caseless, found anywhere in the text, Unicode letters folded.
    f.SetFilter(QStringLiteral("abc"));
    EXPECT_TRUE(f.MatchesFilter(u"xxABCxx"));
    f.SetFilter(QStringLiteral("^report\\.(doc|txt)$"));
    EXPECT_TRUE(f.MatchesFilter(u"Report.TXT"));
    EXPECT_FALSE(f.MatchesFilter(u"old report.txt"));
    f.SetFilter(QStringLiteral("^\u00e4pfel\\w+$"));
    EXPECT_TRUE(f.MatchesFilter(u"\u00c4PFEL\u00dfe"));
    // A name with a lone surrogate (invalid UTF-8 on disk) still matches
    // by its valid parts and never crashes.
    f.SetFilter(QStringLiteral("x$"));
    EXPECT_TRUE(f.MatchesFilter(QStringView(u"a\xDC80x")));
    f.SetFilter(QStringLiteral("a.x"));
    EXPECT_FALSE(f.MatchesFilter(QStringView(u"a\xDC80x")));

    // Empty: "." matches any non-empty text.
    f.SetFilter(QString());
    EXPECT_EQ(f.Filter(), QStringLiteral("."));
    EXPECT_TRUE(f.MatchesFilter(u"a"));
    EXPECT_FALSE(f.MatchesFilter(u""));

    f.SetMode(kes::fmExclude);
    f.SetFilter(QStringLiteral("\\.tmp$"));
    EXPECT_FALSE(f.MatchesFilter(u"a.tmp"));
    EXPECT_TRUE(f.MatchesFilter(u"a.txt"));
}

TEST(TextFilter, InvalidRegularExpressionFallsBackToDot)
{
    TTextFilter f(false);
    f.SetRegular(true);
    f.SetMode(kes::fmInclude);
    for (const QString& bad : {QStringLiteral("("), QStringLiteral("a{2,1}"), QStringLiteral("[z-a]")}) {
        SCOPED_TRACE(bad.toStdString());
        f.SetFilter(QStringLiteral("abc"));
        try {
            f.SetFilter(bad);
            FAIL() << "no EFilterError";
        } catch (const EFilterError& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Illegal regular expression!"));
        }
        EXPECT_EQ(f.Filter(), QStringLiteral("."));
        EXPECT_TRUE(f.MatchesFilter(u"anything"));
    }
}

TEST(TextFilter, CatastrophicRegularExpressionHitsTheLimitAndDoesNotMatch)
{
    TTextFilter f(true);
    f.SetRegular(true);
    f.SetMode(kes::fmInclude);
    const QString name = Repeat(QStringLiteral("a"), 40) + QStringLiteral("!");
    for (const QString& pattern :
        {QStringLiteral("^(a+)+$"), QStringLiteral("(a|aa)*$"), QStringLiteral("^(\\w+\\s?)*$")}) {
        SCOPED_TRACE(pattern.toStdString());
        f.SetFilter(pattern);
        EXPECT_FALSE(f.MatchesFilter(name));
        EXPECT_TRUE(f.MatchesFilter(u"aaaa"));
    }
}

TEST(TextFilter, ResetAndModeOff)
{
    TTextFilter f(true);
    f.SetRegular(true);
    f.SetFilter(QStringLiteral("x"));
    f.SetMode(kes::fmInclude);
    EXPECT_FALSE(f.MatchesFilter(u"a"));
    f.Reset();
    EXPECT_FALSE(f.Regular());
    EXPECT_EQ(f.Mode(), kes::fmOff);
    EXPECT_EQ(f.Filter(), QStringLiteral("*"));
    EXPECT_TRUE(f.MatchesFilter(u"a"));
    EXPECT_EQ(f.Separator(), QChar(u'|'));
}

TEST(TextFilter, NextItem)
{
    QString s = QStringLiteral("a||b|");
    EXPECT_EQ(TTextFilter::NextItem(s), QStringLiteral("a"));
    EXPECT_EQ(TTextFilter::NextItem(s), QString());
    EXPECT_EQ(TTextFilter::NextItem(s), QStringLiteral("b"));
    EXPECT_TRUE(s.isEmpty());
    s = QStringLiteral("last");
    EXPECT_EQ(TTextFilter::NextItem(s), QStringLiteral("last"));
    EXPECT_TRUE(s.isEmpty());
}
