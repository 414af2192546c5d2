// The system-log writer: record layout, and delivery to a real socket.
#include "platform/SysLog.h"

#include "SysLogReceiver.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kes::platform;

TEST(SysLog, RecordLayout)
{
    const QDateTime t(QDate(2025, 1, 6), QTime(9, 5, 3));
    const struct {
        const char* name;
        QString identity;
        SysLogSeverity severity;
        int facility;
        QString message;
        QDateTime time;
        QByteArray expected;
    } cases[] = {
        {"information", "Kestrup", SysLogSeverity::Informational, kSysLogFacilityUser, "Backup started", t,
            "<14>Jan  6 09:05:03 Kestrup[42]: Backup started"},
        {"error", "Kestrup", SysLogSeverity::Error, kSysLogFacilityUser, "x", t,
            "<11>Jan  6 09:05:03 Kestrup[42]: x"},
        {"other facility, two-digit day", "Kestrup", SysLogSeverity::Warning, 3, "x",
            QDateTime(QDate(2025, 12, 24), QTime(23, 59, 59)), "<28>Dec 24 23:59:59 Kestrup[42]: x"},
        {"line breaks and controls become blanks", "Kestrup", SysLogSeverity::Informational, 1,
            QStringLiteral("a\r\nb\tc\x1b[31md\u2028e"), t,
            "<14>Jan  6 09:05:03 Kestrup[42]: a  b c [31md e"},
        {"identity cleaned", QStringLiteral("Kes trup:[x]\u00e9"), SysLogSeverity::Informational, 1, "m", t,
            "<14>Jan  6 09:05:03 Kestrupx[42]: m"},
        {"Unicode message as UTF-8", "Kestrup", SysLogSeverity::Informational, 1,
            QStringLiteral("Sicherung \u00fcber"), t,
            "<14>Jan  6 09:05:03 Kestrup[42]: Sicherung \xC3\xBC"
            "ber"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FormatSysLogRecord(c.identity, c.severity, c.message, c.time, 42, c.facility), c.expected);
    }
}

TEST(SysLog, LongMessagesAreCutAtACharacterBoundary)
{
    const QString message = QString(10000, QChar(0x00FC)); // two bytes each in UTF-8
    const QByteArray r = FormatSysLogRecord(QStringLiteral("Kestrup"), SysLogSeverity::Error, message,
        QDateTime(QDate(2025, 1, 1), QTime(0, 0)), 1);
    EXPECT_LE(r.size(), kSysLogMaxRecord);
    EXPECT_GT(r.size(), kSysLogMaxRecord - 2);
    EXPECT_TRUE(QString::fromUtf8(r).endsWith(QChar(0x00FC)));
    EXPECT_TRUE(r.isValidUtf8());
}

TEST(SysLog, DeliversOneDatagramToTheSocket)
{
    QTemporaryDir dir;
    kestest::SysLogReceiver log(dir.filePath(QStringLiteral("log")));
    ASSERT_TRUE(log.IsBound());
    ASSERT_EQ(
        WriteSysLog(log.Path(), QStringLiteral("Kestrup"), SysLogSeverity::Error, QStringLiteral("first")),
        0);
    ASSERT_EQ(WriteSysLog(log.Path(), QStringLiteral("Kestrup"), SysLogSeverity::Informational,
                  QStringLiteral("second\nline")),
        0);
    const QByteArray first = log.Next();
    const QByteArray second = log.Next();
    EXPECT_TRUE(first.startsWith("<11>")) << first.constData();
    EXPECT_TRUE(first.endsWith("]: first")) << first.constData();
    EXPECT_TRUE(first.contains(" Kestrup[" + QByteArray::number(qint64(::getpid())) + "]: "));
    EXPECT_TRUE(second.startsWith("<14>"));
    EXPECT_TRUE(second.endsWith("]: second line"));
}

TEST(SysLog, StreamSocketGetsNulTerminatedRecords)
{
    QTemporaryDir dir;
    kestest::SysLogReceiver log(dir.filePath(QStringLiteral("log")), true);
    ASSERT_TRUE(log.IsBound());
    // The writer connects (the backlog takes it) and sends at once.
    ASSERT_EQ(WriteSysLog(log.Path(), QStringLiteral("Kestrup"), SysLogSeverity::Informational,
                  QStringLiteral("over a stream")),
        0);
    const QByteArray got = log.NextFromStream();
    EXPECT_TRUE(got.startsWith("<14>")) << got.constData();
    EXPECT_TRUE(got.endsWith(QByteArray("]: over a stream") + '\0')) << got.constData();
}

TEST(SysLog, NoListenerIsReportedNotRaised)
{
    QTemporaryDir dir;
    const QString none = dir.filePath(QStringLiteral("none"));
    EXPECT_EQ(
        WriteSysLog(none, QStringLiteral("Kestrup"), SysLogSeverity::Error, QStringLiteral("x")), ENOENT);
    EXPECT_EQ(WriteSysLog(QString(), QStringLiteral("Kestrup"), SysLogSeverity::Error, QStringLiteral("x")),
        ENOENT);
    EXPECT_EQ(WriteSysLog(QString(200, QLatin1Char('a')), QStringLiteral("Kestrup"), SysLogSeverity::Error,
                  QStringLiteral("x")),
        ENAMETOOLONG);
    kestest::SysLogReceiver gone(dir.filePath(QStringLiteral("gone")));
    ASSERT_TRUE(gone.IsBound());
    gone.Close();
    EXPECT_EQ(WriteSysLog(gone.Path(), QStringLiteral("Kestrup"), SysLogSeverity::Error, QStringLiteral("x")),
        ECONNREFUSED);
}
