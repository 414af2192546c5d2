// XDG folders, names, the registry stand-in and the environment.
#include "platform/Paths.h"
#include "platform/Environment.h"
#include "platform/Registry.h"

#include "common/TestSupport.h"
#include "frame/ScopedEnv.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kes::platform;

namespace {

QString Trimmed(const QByteArray& out)
{
    return QString::fromUtf8(out).trimmed();
}

} // namespace

TEST(PlatformPaths, XdgFolders)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString home = dir.filePath("home");
    kestest::ScopedEnv env({{"HOME", home}, {"XDG_CONFIG_HOME", dir.filePath("cfg") + "/"},
        {"XDG_DATA_HOME", "relative/ignored"},
        {"XDG_CONFIG_DIRS", dir.filePath("a") + "::relative:" + dir.filePath("b")},
        {"XDG_DATA_DIRS", QString()}});
    EXPECT_EQ(ShellFolderPath(kFolderAppData), dir.filePath("cfg"));
    EXPECT_EQ(ShellFolderPath(kFolderLocalAppData), home + "/.local/share");
    EXPECT_EQ(ShellFolderPath(kFolderProfile), home);
    EXPECT_EQ(ShellFolderPath(kFolderFavorites), "");
    EXPECT_EQ(ShellFolderPath(12345), "");
    EXPECT_EQ(ShellFolderPath(kFolderProgramFiles), QCoreApplication::applicationDirPath());
    EXPECT_EQ(KnownFolderPath(KnownFolder::Startup), dir.filePath("cfg/autostart"));
    EXPECT_EQ(SystemConfigFolders(), (QStringList {dir.filePath("a"), dir.filePath("b")}));
    EXPECT_EQ(SystemDataFolders(), (QStringList {"/usr/local/share", "/usr/share"}));

    // The user folders follow user-dirs.dirs.
    EXPECT_EQ(ShellFolderPath(kFolderDocuments), home + "/Documents");
    kestest::WriteBytes(dir.filePath("cfg/user-dirs.dirs"),
        "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    EXPECT_EQ(ShellFolderPath(kFolderDocuments), home + "/Dokumente");
    EXPECT_EQ(KnownFolderPath(KnownFolder::Desktop), home + "/Schreibtisch");

    kestest::ScopedEnv noConfig({{"XDG_CONFIG_HOME", QString()}});
    EXPECT_EQ(ShellFolderPath(kFolderAppData), home + "/.config");
    EXPECT_EQ(SystemConfigFolders().value(0), dir.filePath("a"));
}

TEST(PlatformPaths, NamesAgreeWithTheSystemTools)
{
    EXPECT_EQ(ExecutablePath(), QCoreApplication::applicationFilePath());
    EXPECT_EQ(MainProgramFileName(), "Kesmo");
    if (!kestest::HaveTool("id"))
        KESTEST_SKIP_OR_FAIL("id is not installed");
    EXPECT_EQ(UserName(), Trimmed(kestest::Run("id", {"-un"}).out));
    if (kestest::HaveTool("python3")) {
        EXPECT_EQ(ComputerName(),
            Trimmed(kestest::Run("python3", {"-c", "import socket; print(socket.gethostname())"}).out));
    }
}

TEST(PlatformEnvironment, ExactNameFirstThenWithoutCase)
{
    kestest::ScopedEnv env({{"KES_Mixed", "mixed"}, {"KES_EXACT", "upper"}, {"kes_exact", "lower"}});
    EXPECT_EQ(GetEnvironmentValue("KES_Mixed"), "mixed");
    EXPECT_EQ(GetEnvironmentValue("kes_mixed"), "mixed");
    EXPECT_EQ(GetEnvironmentValue("kes_exact"), "lower");
    EXPECT_EQ(GetEnvironmentValue("KES_EXACT"), "upper");
    EXPECT_EQ(GetEnvironmentValue("KES_NOT_THERE"), "");
    EXPECT_EQ(GetEnvironmentValue(""), "");
    EXPECT_EQ(GetEnvironmentValue("A=B"), "");
    EXPECT_TRUE(IsEnvironmentSet("kes_MIXED"));

    SetEnvironmentValue("KES_SET_HERE",
        QString::fromUtf8("Gr\xC3\xBC\xC3\x9F"
                          "e"));
    EXPECT_EQ(qEnvironmentVariable("KES_SET_HERE"),
        QString::fromUtf8("Gr\xC3\xBC\xC3\x9F"
                          "e"));
    SetEnvironmentValue("KES_SET_HERE", QString());
    EXPECT_FALSE(qEnvironmentVariableIsSet("KES_SET_HERE"));
}

TEST(RegistryStandIn, ReadsUserAndMachineValues)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kestest::ScopedEnv env({{"XDG_CONFIG_HOME", dir.filePath("user")},
        {"XDG_CONFIG_DIRS", dir.filePath("sys1") + ":" + dir.filePath("sys2")}});
    const QString key = "Software\\Kestrup6";
    EXPECT_EQ(
        RegistryFiles(RegistryRoot::CurrentUser), QStringList {dir.filePath("user/Kestrup6/registry.ini")});
    EXPECT_EQ(RegistryFiles(RegistryRoot::LocalMachine),
        (QStringList {
            dir.filePath("sys1/Kestrup6/registry.ini"), dir.filePath("sys2/Kestrup6/registry.ini")}));
    EXPECT_EQ(ReadRegistryString(RegistryRoot::CurrentUser, key, "IniPath"), "") << "no file";

    // UTF-16 with BOM as a Windows editor would save it; odd lines ignored.
    kestest::WriteBytes(dir.filePath("user/Kestrup6/registry.ini"),
        kestest::Utf16LeWithBom("junk before\r\n[Other]\r\nIniPath=/wrong\r\n"
                                "[ software\\KESTRUP6 ]\r\nno equals sign\r\n"
                                ";IniPath=/commented\r\n  iniPATH = /home/\u00e9/ini  \r\n"
                                "IniPath=/second\r\n"));
    EXPECT_EQ(ReadRegistryString(RegistryRoot::CurrentUser, key, "IniPath"),
        QString::fromUtf16(u"/home/\u00e9/ini"));
    EXPECT_EQ(ReadRegistryString(RegistryRoot::CurrentUser, key, "Program"), "");
    EXPECT_EQ(ReadRegistryString(RegistryRoot::CurrentUser, "Software\\Other", "IniPath"), "");

    // Machine values: the first folder that holds the value wins.
    kestest::WriteBytes(
        dir.filePath("sys2/Kestrup6/registry.ini"), "[Software\\Kestrup6]\nProgram=/opt/two\n");
    EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, key, "Program"), "/opt/two");
    kestest::WriteBytes(
        dir.filePath("sys1/Kestrup6/registry.ini"), "\xEF\xBB\xBF[Software\\Kestrup6]\nProgram=/opt/one\n");
    EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, key, "Program"), "/opt/one");
    EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, key, "Program", RegistryView::Alternate), "");

    // Hostile content: binary garbage and a file that is too large.
    kestest::WriteBytes(dir.filePath("sys1/Kestrup6/registry.ini"), QByteArray("\x00\xFF\xFE[\x00=", 6));
    EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, key, "Program"), "/opt/two");
    kestest::WriteBytes(dir.filePath("sys1/Kestrup6/registry.ini"),
        "[Software\\Kestrup6]\nProgram=/big\n" + QByteArray(2 << 20, ' '));
    EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, key, "Program"), "/opt/two");
}
