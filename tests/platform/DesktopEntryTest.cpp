// Desktop entry files: the quoting of Exec arguments and the escaping of
// string values (table), written whole and checked by desktop-file-validate.
#include "platform/DesktopEntry.h"
#include "common/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace kes::platform;

namespace {

TEST(DesktopEntryTest, ExecArgumentsAreQuotedAsTheSpecificationOfDesktopEntriesSays)
{
    struct Case {
        const char* argument;
        const char* quoted;
    } cases[] = {
        {"/usr/bin/Selwand", "/usr/bin/Selwand"},
        {"/hide", "/hide"},
        {"/opt/My Programs/Selwand", "\"/opt/My Programs/Selwand\""},
        {"100%", "100%%"},
        {"a\"b", "\"a\\\"b\""},
        {"$HOME", "\"\\$HOME\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"tick`s", "\"tick\\`s\""},
        {"semi;colon", "\"semi;colon\""},
        {"", "\"\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argument);
        EXPECT_EQ(QuoteExecArgument(QString::fromUtf8(c.argument)), QString::fromUtf8(c.quoted));
    }
    EXPECT_EQ(
        EscapeDesktopValue(QStringLiteral(" lead\\tab\t\nline")), QStringLiteral("\\slead\\\\tab\\t\\nline"));
}

TEST(DesktopEntryTest, WrittenEntriesAreValidAndReplaceTheOldOneWhole)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + QStringLiteral("/autostart/Selwand.desktop");
    TDesktopEntry entry;
    entry.Name = QStringLiteral("Selwand");
    entry.Comment = QStringLiteral("Selwand (Version 1.1.0)");
    // A program path with a blank, a percent sign and a backslash: all three
    // levels of quoting are needed.
    entry.Exec = {tmp.path() + QStringLiteral("/My Apps/100%/Sel\\wand"), QStringLiteral("/hide"),
        QStringLiteral("/force")};
    entry.ExtraKeys = {QStringLiteral("X-GNOME-Autostart-enabled=true")};
    EXPECT_FALSE(DesktopEntryExists(path));
    ASSERT_EQ(WriteDesktopEntry(path, entry), 0);
    EXPECT_TRUE(DesktopEntryExists(path));
    const QString text = QString::fromUtf8(kestest::ReadBytes(path));
    EXPECT_TRUE(text.startsWith(QStringLiteral("[Desktop Entry]\nType=Application\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Exec=\"") + tmp.path()
        + QStringLiteral("/My Apps/100%%/Sel\\\\\\\\wand\" /hide /force\n")))
        << text.toStdString();
    if (!kestest::HaveTool(QStringLiteral("desktop-file-validate"))) {
        KESTEST_SKIP_OR_FAIL("desktop-file-validate (desktop-file-utils) is the oracle of the entry");
    } else {
        const kestest::ProcessResult check = kestest::Run(QStringLiteral("desktop-file-validate"), {path});
        EXPECT_EQ(check.exitCode, 0);
        EXPECT_TRUE(check.out.isEmpty() && check.err.isEmpty())
            << check.out.toStdString() << check.err.toStdString();
    }
    // Rewritten: one file, no temporary left beside it.
    entry.Comment = QStringLiteral("again");
    ASSERT_EQ(WriteDesktopEntry(path, entry), 0);
    EXPECT_EQ(QDir(tmp.path() + QStringLiteral("/autostart")).entryList(QDir::Files | QDir::Hidden),
        QStringList({QStringLiteral("Selwand.desktop")}));
    EXPECT_EQ(RemoveDesktopEntry(path), 0);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(RemoveDesktopEntry(path), 0);

    // The folder cannot be made: the system's code, nothing written.
    kestest::WriteBytes(tmp.path() + QStringLiteral("/file"), "x");
    EXPECT_EQ(
        WriteDesktopEntry(tmp.path() + QStringLiteral("/file/autostart/Selwand.desktop"), entry), ENOTDIR);
}

TEST(DesktopEntryTest, AFullDiskLeavesTheOldEntryAsItWas)
{
    kestest::SmallTmpfs disk(64 * 1024);
    if (!disk.IsMounted())
        KESTEST_SKIP_OR_FAIL("needs a small tmpfs (root): " + disk.Error().toStdString());
    const QString path = disk.Path() + QStringLiteral("/Selwand.desktop");
    TDesktopEntry entry;
    entry.Name = QStringLiteral("Selwand");
    entry.Exec = {QStringLiteral("/usr/bin/Selwand")};
    ASSERT_EQ(WriteDesktopEntry(path, entry), 0);
    const QByteArray before = kestest::ReadBytes(path);
    disk.FillUp();
    entry.Comment = QString(200000, u'x');
    EXPECT_EQ(WriteDesktopEntry(path, entry), ENOSPC);
    EXPECT_EQ(kestest::ReadBytes(path), before);
    QStringList names = QDir(disk.Path()).entryList(QDir::Files);
    names.removeAll(QStringLiteral("filler"));
    EXPECT_EQ(names, QStringList({QStringLiteral("Selwand.desktop")}));
}

} // namespace
