// "Save as zip" of the log viewer: the archive beside the log or where it
// was asked for, readable by unzip; a failure keeps an archive already
// there and names the file it concerns.
#include "watchdog/LogZip.h"
#include "common/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kes;
using kestest::ReadBytes;
using kestest::WriteBytes;

namespace {

TEST(LogZip, SavesTheLogBesideItOrWhereAsked)
{
    if (!kestest::HaveTool("unzip"))
        KESTEST_SKIP_OR_FAIL("unzip is not installed");
    QTemporaryDir dir;
    const QString log = dir.filePath("logs/Selwand-2026-12-10.log");
    QByteArray text;
    for (int i = 0; i < 2000; ++i)
        text += "Kestrup - 10.12.2026 line " + QByteArray::number(i) + "  *** some error text\n";
    WriteBytes(log, text);
    EXPECT_EQ(DefaultLogZipName(log), dir.filePath("logs/Selwand-2026-12-10.zip"));
    for (const QString& zip : {DefaultLogZipName(log), dir.filePath("elsewhere/saved.zip")}) {
        SCOPED_TRACE(zip.toStdString());
        QDir().mkpath(QFileInfo(zip).absolutePath());
        QString message;
        ASSERT_TRUE(SaveLogAsZip(log, zip, message)) << message.toStdString();
        EXPECT_EQ(kestest::Run("unzip", {"-Z1", zip}).out, "Selwand-2026-12-10.log\n");
        EXPECT_EQ(kestest::Run("unzip", {"-p", zip}).out, text);
        EXPECT_LT(QFileInfo(zip).size(), text.size() / 4); // compressed
        EXPECT_FALSE(QFile::exists(zip + ".tmp"));
    }
}

TEST(LogZip, FailuresKeepWhatWasThereAndSayWhy)
{
    QTemporaryDir dir;
    const QString zip = dir.filePath("old.zip");
    WriteBytes(zip, "an archive saved before");
    struct Case {
        QString log;
        QString zip;
        QString start; // of the message
    } cases[] = {
        {dir.filePath("missing.log"), zip, "Error - File not found: \"" + dir.filePath("missing.log") + "\""},
        {dir.filePath("a.log"), dir.filePath("no/such/dir/a.zip"),
            "Error - Could not create file: \"" + dir.filePath("no/such/dir/a.zip") + "\""},
    };
    WriteBytes(dir.filePath("a.log"), "log text\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zip.toStdString());
        QString message;
        EXPECT_FALSE(SaveLogAsZip(c.log, c.zip, message));
        EXPECT_TRUE(message.startsWith(c.start)) << message.toStdString();
        EXPECT_TRUE(message.endsWith("(-> Zip)")) << message.toStdString();
    }
    EXPECT_EQ(ReadBytes(zip), "an archive saved before");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"a.log", "old.zip"}));
}

} // namespace
