#include "frame/Format.h"

#include <gtest/gtest.h>

using kes::Format;

TEST(Format, PlaceholdersOfTheMessages)
{
    struct Case {
        QString pattern;
        QString expected;
        QString actual;
    } cases[] = {
        {"Drive \"%s\" not ready!", "Drive \"E:\" not ready!", Format("Drive \"%s\" not ready!", {"E:"})},
        {"%u files", "12 files", Format("%u files", {12})},
        {"($%.8x)", "($00000127)", Format("($%.8x)", {0x127})},
        {"%d%%", "50%", Format("%d%%", {50})},
        {"%-4s|", "ab  |", Format("%-4s|", {"ab"})},
        {"%5d", "   42", Format("%5d", {42})},
        {"%1:s %0:s", "b a", Format("%1:s %0:s", {"a", "b"})},
        {"%.3d", "007", Format("%.3d", {7})},
        {"%x", "FFFFFFFF", Format("%x", {-1})},
        {"%u", "4294967295", Format("%u", {-1})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern.toStdString());
        EXPECT_EQ(c.actual, c.expected);
    }
}

TEST(Format, MismatchRaisesAndSafeFormatFallsBack)
{
    EXPECT_THROW(Format("%s and %s", {"one"}), kes::EFormatError);
    EXPECT_THROW(Format("%d", {"text"}), kes::EFormatError);
    EXPECT_THROW(Format("100%", {}), kes::EFormatError);
    EXPECT_EQ(kes::SafeFormat("%d", {"x"}), QStringLiteral("Format error: %d"));
}
