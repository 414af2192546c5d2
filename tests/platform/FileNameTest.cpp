#include "platform/FileName.h"

#include <gtest/gtest.h>

using kes::platform::DecodeName;
using kes::platform::EncodeName;

TEST(FileName, AnyByteStringRoundTrips)
{
    const QByteArray cases[] = {
        QByteArray("plain.txt"),
        QByteArray("caf\xC3\xA9 \xF0\x9F\x98\x80.doc"), // UTF-8 incl. a non-BMP character
        QByteArray("bad\xFF\xFE name"), // invalid bytes
        QByteArray("trunc\xC3"), // cut sequence
        QByteArray("over\xC0\xAFlong"), // overlong encoding
        QByteArray("sur\xED\xA0\x80rogate"), // encoded surrogate
        QByteArray("line\nbreak"),
    };
    for (const QByteArray& raw : cases) {
        SCOPED_TRACE(raw.toHex().toStdString());
        EXPECT_EQ(EncodeName(DecodeName(raw)), raw);
    }
}

TEST(FileName, ValidUtf8DecodesToTheSameText)
{
    EXPECT_EQ(DecodeName(QByteArray("caf\xC3\xA9")), QString::fromUtf8("caf\xC3\xA9"));
    EXPECT_EQ(DecodeName(QByteArray("a\xFF")), QString::fromUtf16(u"a\xDCFF"));
}
