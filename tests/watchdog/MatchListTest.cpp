#include "watchdog/MatchList.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <algorithm>

using kes::TMatchList;

TEST(MatchList, SortedCaseInsensitiveWithoutDuplicates)
{
    TMatchList list;
    EXPECT_TRUE(list.Add(QStringLiteral("txt")));
    EXPECT_FALSE(list.Add(QStringLiteral("TXT")));
    EXPECT_TRUE(list.Add(QStringLiteral("doc")));
    EXPECT_TRUE(list.Add(QStringLiteral("\u00c4pfel")));
    EXPECT_FALSE(list.Add(QStringLiteral("\u00e4PFEL"))); // Unicode case folding, not only a..z
    EXPECT_TRUE(list.Add(QStringLiteral("Zip")));
    EXPECT_TRUE(list.Add(QStringLiteral("b")));
    EXPECT_EQ(list.ToStringList(), (QStringList {"b", "doc", "txt", "Zip", "\u00c4pfel"}));
    EXPECT_TRUE(list.Contains(u"Txt"));
    EXPECT_EQ(list.IndexOf(u"DOC"), 1);
    EXPECT_EQ(list.IndexOf(u"pdf"), -1);
    EXPECT_FALSE(list.Contains(u""));

    EXPECT_TRUE(list.Remove(u"TXT"));
    EXPECT_FALSE(list.Remove(u"txt"));
    list.Delete(0);
    list.Delete(99); // out of range: nothing
    EXPECT_EQ(list.ToStringList(), (QStringList {"doc", "Zip", "\u00c4pfel"}));
    list.Clear();
    EXPECT_TRUE(list.IsEmpty());
}

TEST(MatchList, CommaTextAndAssign)
{
    TMatchList list;
    list.SetCommaText(QStringLiteral(" txt, \"doc\" ,,PDF,TXT,"));
    EXPECT_EQ(list.ToStringList(), (QStringList {"doc", "PDF", "txt"}));
    EXPECT_EQ(list.CommaText(), QStringLiteral("doc,PDF,txt"));
    list.SetCommaText(QString());
    EXPECT_TRUE(list.IsEmpty());
    list.Assign({"b", "A", "a", "c", "B"});
    EXPECT_EQ(list.ToStringList(), (QStringList {"A", "b", "c"})); // the first of equal texts stays
}

TEST(MatchList, LargeListsInRandomAndSortedOrder)
{
    // Pending lists hold up to some 100,000 names, added one by one in
    // change order, or appended in sorted order when loaded.
    QStringList names;
    for (int i = 0; i < 100000; ++i)
        names << QStringLiteral("dir%1/File%2.TXT").arg(i % 97).arg(i);
    QStringList shuffled = names;
    std::shuffle(shuffled.begin(), shuffled.end(), *QRandomGenerator::global());

    TMatchList list;
    for (const QString& n : shuffled)
        ASSERT_TRUE(list.Add(n));
    for (const QString& n : shuffled)
        ASSERT_FALSE(list.Add(n.toLower()));
    ASSERT_EQ(list.Count(), names.size());
    for (qsizetype i = 1; i < list.Count(); ++i)
        ASSERT_LT(TMatchList::CompareText(list[i - 1], list[i]), 0);

    TMatchList loaded;
    for (const QString& n : list)
        loaded.Add(n);
    EXPECT_EQ(loaded.ToStringList(), list.ToStringList());
    for (const QString& n : names)
        ASSERT_TRUE(loaded.Contains(n.toUpper()));
}

TEST(MatchList, GenerationChangesWithTheContents)
{
    TMatchList list;
    const quint64 g0 = list.Generation();
    list.Add(QStringLiteral("a"));
    const quint64 g1 = list.Generation();
    EXPECT_NE(g1, g0);
    list.Add(QStringLiteral("A")); // a duplicate changes nothing
    EXPECT_EQ(list.Generation(), g1);
    list.Remove(u"a");
    EXPECT_NE(list.Generation(), g1);
}

TEST(MatchList, CompareTextOrdersLikeQt)
{
    const QString texts[] = {
        "",
        "a",
        "A",
        "ab",
        "aB",
        "b",
        "Z",
        "_",
        "[",
        "a/b",
        "A/B/c",
        "\u00e4",
        "\u00c4x",
        "k",
        "\u212a",
        "\u017f",
        "S",
        "\U0001F600",
        "\U0001F601a",
        "\u00df",
        "ss",
        "\u0130",
    };
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    QStringList all(std::begin(texts), std::end(texts));
    all << QString::fromUtf16(u"x\xDC80") << QString::fromUtf16(u"X\xDC81"); // lone surrogates
    for (const QString& a : all) {
        for (const QString& b : all) {
            SCOPED_TRACE((a + QStringLiteral(" / ") + b).toStdString());
            EXPECT_EQ(sign(TMatchList::CompareText(a, b)), sign(a.compare(b, Qt::CaseInsensitive)));
        }
    }
}
