// Selwand's daily log file on real files: name and place, byte order mark,
// appending, CR LF lines, and failures that must not stop a pass.
#include "watchdog/WatchdogLog.h"
#include "common/TestSupport.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using kes::TWatchdogLog;
using kestest::ReadBytes;

namespace {

const QByteArray kBom("\xEF\xBB\xBF");
const QDate kDay(2025, 6, 1);

} // namespace

TEST(WatchdogLog, FileNameAndFolder)
{
    QTemporaryDir tmp;
    const QString prot = tmp.path() + QStringLiteral("/prot");
    const QString settings = tmp.path() + QStringLiteral("/settings/");
    const QString file = tmp.path() + QStringLiteral("/file");
    ASSERT_TRUE(QDir().mkpath(prot));
    kestest::WriteBytes(file, "x");
    struct Case {
        QString protDir;
        QString expected;
    };
    const Case cases[] = {
        {QString(), settings},
        {prot, prot},
        {tmp.path() + QStringLiteral("/missing"), settings},
        {file, settings},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.protDir.toStdString());
        EXPECT_EQ(TWatchdogLog::ChooseLogDir(c.protDir, settings), c.expected);
    }
    EXPECT_EQ(TWatchdogLog(settings).FileNameFor(kDay), settings + QStringLiteral("Selwand 2025-06-01.log"));
    EXPECT_EQ(TWatchdogLog(prot).FileNameFor(QDate(2024, 12, 31)),
        prot + QStringLiteral("/Selwand 2024-12-31.log"));
}

TEST(WatchdogLog, BomOnlyAtCreationAndPassesOfOneDayAppend)
{
    QTemporaryDir tmp;
    TWatchdogLog log(tmp.path());
    const QString name = log.FileNameFor(kDay);
    EXPECT_FALSE(log.WLog());
    EXPECT_FALSE(log.Write(QStringLiteral("before opening")));
    EXPECT_FALSE(QFile::exists(name));

    ASSERT_TRUE(log.Open(kDay));
    EXPECT_EQ(log.FileName(), name);
    // It names files: only the owner may read it.
    kes::platform::FileStatus st;
    ASSERT_EQ(kes::platform::GetFileStatus(name, false, st), 0);
    EXPECT_EQ(st.mode & 0777, 0600u);
    EXPECT_TRUE(log.Write(QStringLiteral("first pass")));
    log.Close();
    EXPECT_FALSE(log.WLog());
    EXPECT_FALSE(log.Write(QStringLiteral("between passes")));

    ASSERT_TRUE(log.Open(kDay));
    EXPECT_TRUE(log.Write(QStringLiteral("second pass")));
    log.Close();
    EXPECT_EQ(ReadBytes(name), kBom + "first pass\r\nsecond pass\r\n");

    // A pass of another day goes to that day's file; opening again for the
    // day that is open keeps the file.
    ASSERT_TRUE(log.Open(kDay));
    ASSERT_TRUE(log.Open(kDay));
    EXPECT_TRUE(log.Write(QStringLiteral("third")));
    ASSERT_TRUE(log.Open(kDay.addDays(1)));
    EXPECT_TRUE(log.Write(QStringLiteral("next day")));
    log.Close();
    EXPECT_EQ(ReadBytes(name), kBom + "first pass\r\nsecond pass\r\nthird\r\n");
    EXPECT_EQ(ReadBytes(log.FileNameFor(kDay.addDays(1))), kBom + "next day\r\n");
}

TEST(WatchdogLog, EveryMessageBecomesCrLfLinesOfValidUtf8)
{
    QTemporaryDir tmp;
    TWatchdogLog log(tmp.path());
    struct Case {
        const char* what;
        QString text;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"report with error line",
            QStringLiteral("01.06.2025 10:00:00 - 01: /d/a.txt => /b/\r\n  *** Error - source missing"),
            "01.06.2025 10:00:00 - 01: /d/a.txt => /b/\r\n  *** Error - source missing\r\n"},
        {"lone LF in a file name", QStringLiteral("x\ny.txt"), "x\r\ny.txt\r\n"},
        {"lone CR", QStringLiteral("x\ry"), "x\r\ny\r\n"},
        {"empty", QString(), "\r\n"},
        {"non-ASCII", QString::fromUtf8("Caf\xC3\xA9 \xF0\x9F\x98\x80"), "Caf\xC3\xA9 \xF0\x9F\x98\x80\r\n"},
        {"raw byte of a name", QString::fromUtf16(u"bad\xDCFF.txt"), "bad\xEF\xBF\xBD.txt\r\n"},
    };
    ASSERT_TRUE(log.Open(kDay));
    QByteArray expected = kBom;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(log.Write(c.text));
        expected += c.bytes;
    }
    log.Close();
    const QByteArray written = ReadBytes(log.FileNameFor(kDay));
    EXPECT_EQ(written, expected);
    const QByteArray body = written.mid(kBom.size());
    EXPECT_TRUE(QString::fromUtf8(body).toUtf8() == body) << "not valid UTF-8";
}

TEST(WatchdogLog, FailingWritesAreToldOnceAndNeverThrow)
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        KESTEST_SKIP_OR_FAIL("no /dev/full");
    QTemporaryDir tmp;
    TWatchdogLog log(tmp.path());
    // The day's file is a link to a device on which every write fails with
    // "no space left".
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), log.FileNameFor(kDay)));
    QStringList told;
    log.SetOnWriteError([&](const QString& message) {
        told << message;
        throw std::runtime_error("a sink that throws");
    });
    ASSERT_TRUE(log.Open(kDay));
    EXPECT_FALSE(log.Write(QStringLiteral("one")));
    EXPECT_FALSE(log.Write(QStringLiteral("two")));
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].startsWith(QStringLiteral("Error writing to \"%1\"").arg(log.FileNameFor(kDay))))
        << told[0].toStdString();
    EXPECT_TRUE(log.WLog());
    log.Close();
    ASSERT_TRUE(log.Open(kDay));
    EXPECT_FALSE(log.Write(QStringLiteral("three")));
    EXPECT_EQ(told.size(), 2);
}

TEST(WatchdogLog, FileThatCannotBeCreatedLeavesTheLogClosed)
{
    QTemporaryDir tmp;
    const QString notADir = tmp.path() + QStringLiteral("/plain");
    kestest::WriteBytes(notADir, "x");
    for (const QString& dir : {notADir, tmp.path() + QStringLiteral("/missing")}) {
        SCOPED_TRACE(dir.toStdString());
        TWatchdogLog log(dir);
        EXPECT_FALSE(log.Open(kDay));
        EXPECT_FALSE(log.WLog());
        EXPECT_FALSE(log.LastError().isEmpty());
        EXPECT_FALSE(log.Write(QStringLiteral("lost")));
        EXPECT_FALSE(QFile::exists(log.FileNameFor(kDay)));
    }
}
