// Folders, the settings file and its take-over, the main program's place,
// environment variables and path placeholders - on a home of its own.
#include "frame/ProgramPaths.h"
#include "frame/StartUp.h"

#include "common/TestSupport.h"
#include "frame/ScopedEnv.h"
#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kes;

namespace {

struct FakeHome {
    QTemporaryDir dir;
    kestest::ScopedEnv env;
    FakeHome()
        : env({{"HOME", dir.filePath("home")}, {"XDG_CONFIG_HOME", dir.filePath("config")},
            {"XDG_DATA_HOME", dir.filePath("data")},
            {"XDG_CONFIG_DIRS", dir.filePath("etc1") + ":" + dir.filePath("etc2")}, {"LANGUAGE", QString()}})
    {
        QDir().mkpath(dir.filePath("home"));
        InitProgram(dir.filePath("bin/Selwand"), {});
    }
    QString Path(const QString& rel) const { return dir.filePath(rel); }
    void UserRegistry(const QString& iniPath)
    {
        kestest::WriteBytes(Path("config/Kestrup6/registry.ini"),
            ("[Software\\Kestrup6]\nIniPath=" + iniPath + "\n").toUtf8());
    }
};

// Restores the current folder at the end of a scope.
struct CurrentFolder {
    QString saved = QDir::currentPath();
    explicit CurrentFolder(const QString& path)
    {
        QDir().mkpath(path);
        QDir::setCurrent(path);
    }
    ~CurrentFolder() { QDir::setCurrent(saved); }
};

void MakeFile(
    const QString& path, const QByteArray& content, const QDateTime& mtime, QFileDevice::Permissions perms)
{
    kestest::WriteBytes(path, content);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(mtime, QFileDevice::FileModificationTime));
    f.close();
    ASSERT_TRUE(QFile::setPermissions(path, perms));
}

} // namespace

TEST(SettingsLocation, DefaultFolders)
{
    FakeHome home;
    const TSettingsLocation loc = LocateSettings();
    EXPECT_EQ(loc.AppPath, home.Path("config/Kesmo6/"));
    EXPECT_EQ(loc.UserPath, home.Path("home/Documents/"));
    EXPECT_EQ(loc.JobDir, home.Path("home/Documents/Kesmo/"));
    EXPECT_EQ(loc.SettingsDir, loc.AppPath);
    EXPECT_TRUE(QFileInfo(loc.SettingsDir).isDir()) << "created";
    EXPECT_EQ(loc.IniName, home.Path("config/Kesmo6/Selwand.ini"));
    EXPECT_EQ(loc.KesmoIni, home.Path("config/Kesmo6/Kesmo.ini"));
    EXPECT_EQ(GetAppDataPath("Kesmo6/", false), loc.AppPath);
    EXPECT_EQ(AlternativeIniName(loc.AppPath, "alt"), home.Path("config/Kesmo6/alt.ini"));
    EXPECT_EQ(AlternativeIniName(loc.AppPath, "%profile%/x.conf"), home.Path("home/x.conf"));
    EXPECT_EQ(AlternativeIniName(loc.AppPath, "/abs/y"), "/abs/y.ini");
}

// An older settings file that is a FIFO is not taken over, and the start
// does not wait for a writer.
TEST(SettingsLocation, FifoInPlaceOfAnOlderSettingsFileIsNotTakenOver)
{
    FakeHome home;
    home.UserRegistry(home.Path(QStringLiteral("shared")));
    const struct {
        const char* name;
        QString fifo;
    } cases[] = {
        {"in the main program's folder", home.Path(QStringLiteral("config/Kesmo6/Selwand.ini"))},
        {"of the older version", home.Path(QStringLiteral("config/Kesmo5/Selwand.ini"))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(home.Path(QStringLiteral("config/Kesmo6/Selwand.ini")));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(c.fifo).absolutePath()));
        ASSERT_EQ(kestest::Run(QStringLiteral("mkfifo"), {c.fifo}).exitCode, 0);
        TSettingsLocation loc;
        EXPECT_TRUE(kestest::ReturnsInTime([&] { loc = LocateSettings(); },
            [&] {
                QFile writer(c.fifo);
                writer.open(QIODevice::WriteOnly);
            }))
            << "the take-over waited for a writer";
        EXPECT_EQ(loc.IniName, home.Path(QStringLiteral("shared/Selwand.ini")));
        EXPECT_FALSE(QFileInfo::exists(loc.IniName));
        EXPECT_TRUE(
            QDir(home.Path(QStringLiteral("shared"))).entryList(QDir::Files | QDir::Hidden).isEmpty());
        QFile::remove(c.fifo);
    }
}

TEST(SettingsLocation, FolderFromTheRegistryStandIn)
{
    FakeHome home;
    // Absolute: used as it is; a file kept in AppPath is taken over with its
    // content, modification time and mode.
    const QDateTime mtime = QDateTime::fromString("2021-03-04T05:06:07Z", Qt::ISODate);
    const auto perms = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    MakeFile(home.Path("config/Kesmo6/Selwand.ini"), "[Config]\r\nA=1\r\n", mtime, perms);
    home.UserRegistry(home.Path("shared"));
    TSettingsLocation loc = LocateSettings();
    EXPECT_EQ(loc.SettingsDir, home.Path("shared/"));
    EXPECT_EQ(loc.IniName, home.Path("shared/Selwand.ini"));
    EXPECT_EQ(kestest::ReadBytes(loc.IniName), "[Config]\r\nA=1\r\n");
    EXPECT_EQ(QFileInfo(loc.IniName).lastModified().toUTC(), mtime);
    EXPECT_EQ(QFileInfo(loc.IniName).permissions(),
        QFileInfo(home.Path("config/Kesmo6/Selwand.ini")).permissions());
    EXPECT_EQ(QDir(home.Path("shared")).entryList(QDir::Files | QDir::Hidden), QStringList {"Selwand.ini"});

    // An existing settings file is never replaced.
    kestest::WriteBytes(home.Path("config/Kesmo6/Selwand.ini"), "newer");
    LocateSettings();
    EXPECT_EQ(kestest::ReadBytes(loc.IniName), "[Config]\r\nA=1\r\n");

    // Nothing in AppPath: the file of the older version is taken over.
    kestest::WriteBytes(home.Path("config/Kesmo5/Selwand.ini"), "old version");
    home.UserRegistry(home.Path("other"));
    QFile::remove(home.Path("config/Kesmo6/Selwand.ini"));
    loc = LocateSettings();
    EXPECT_EQ(kestest::ReadBytes(home.Path("other/Selwand.ini")), "old version");

    // A folder that cannot be created: AppPath.
    kestest::WriteBytes(home.Path("blocker"), "a file");
    home.UserRegistry(home.Path("blocker/sub"));
    loc = LocateSettings();
    EXPECT_EQ(loc.SettingsDir, home.Path("config/Kesmo6/"));

    // Relative: below the current folder for the settings folder, below
    // the application-data folder for the configuration file.
    home.UserRegistry("rel/dir");
    {
        CurrentFolder cwd(home.Path("work"));
        loc = LocateSettings();
        InitPaths(GetIniPath("Kesmo6/"), "Kesmo.cfg", {});
    }
    EXPECT_EQ(loc.SettingsDir, home.Path("work/rel/dir/"));
    EXPECT_EQ(ConfigFileName(), home.Path("config/rel/dir/Kesmo.cfg"));
}

TEST(MainProgram, FoundInCurrentFolderProgramFolderOrRegistry)
{
    FakeHome home;
    const QString name = MainProgramFile();
    EXPECT_EQ(name, "Kesmo");
    CurrentFolder cwd(home.Path("work"));
    EXPECT_EQ(GetMainProgram(), "");

    // The machine value of the registry stand-in, from the first folder of
    // XDG_CONFIG_DIRS that holds it.
    kestest::WriteBytes(home.Path("etc2/Kestrup6/registry.ini"),
        ("[software\\kestrup6]\nPROGRAM = " + home.Path("opt/Kesmo") + "\n").toUtf8());
    EXPECT_EQ(GetMainProgram(), "") << "the recorded file does not exist";
    kestest::WriteBytes(home.Path("opt/Kesmo"), "#!");
    EXPECT_EQ(GetMainProgram(), home.Path("opt/Kesmo"));

    kestest::WriteBytes(home.Path("bin/" + name), "#!");
    EXPECT_EQ(GetMainProgram(), home.Path("bin/Kesmo"));
    kestest::WriteBytes(home.Path("work/" + name), "#!");
    EXPECT_EQ(GetMainProgram(), home.Path("work/Kesmo")) << "absolute, not relative to the folder";
}

TEST(EnvironmentExpansion, ExpandEnvVars)
{
    kestest::ScopedEnv env({{"KES_A", "alpha"}, {"KES_P", "%KES_A%"}, {"KES_UNSET", QString()}});
    struct Case {
        QString text, expanded;
    } cases[] = {
        {"%KES_A%", "alpha"},
        {"x%kes_a%y", "xalphay"},
        {"%KES_A% and %kes_A%", "alpha and alpha"},
        {"%KES_A%%KES_A%", "alphaalpha"},
        {"%KES_UNSET%/x", "/x"},
        {"100%", "100%"},
        {"no pairs", "no pairs"},
        {"%KES_P%", "%KES_A%"},
        {"50% off %KES_A%", "50KES_A%"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(ExpandEnvVars(c.text), c.expanded);
    }
}

TEST(EnvironmentExpansion, PathPlaceholders)
{
    FakeHome home;
    kestest::ScopedEnv env({{"ProgramW6432", QString()}, {"CommonProgramFiles(x86)", "/cpf86"},
        {"ALLUSERSPROFILE", "/srv/all"}, {"PUBLIC", QString()}});
    // Program files: the folder of the running program and its ../share.
    const QString bin = QCoreApplication::applicationDirPath();
    const QString share = QDir::cleanPath(bin + "/../share");
    const QString user = platform::UserName();
    const QString host = platform::ComputerName();
    ASSERT_FALSE(user.isEmpty());
    struct Case {
        QString text, expanded;
    } cases[] = {
        {"%APPPATH%/x.ini", home.Path("config/x.ini")},
        {"%appdata%|%LocalAppData%", home.Path("config") + "|" + home.Path("data")},
        {"%profile%+%userprofile%", home.Path("home") + "+" + home.Path("home")},
        {"%perspath%", home.Path("home/Documents")},
        {"%desktop%", home.Path("home/Desktop")},
        {"[%favorites%]", "[]"},
        {"%progpath%/a", home.Path("bin/a")},
        {"%progfiles%|%programfiles%|%programfiles(x86)%", bin + "|" + bin + "|" + bin},
        {"%commonprogramfiles%|%commonprogramfiles(x86)%", share + "|/cpf86"},
        {"%username%@%computername%", user + "@" + host},
        {"%user%@%computer%", user + "@" + host},
        {"%allusersprofile%=%programdata%", "/srv/all=/srv/all"},
        {"[%public%]", "[]"},
        {"%unknown%", "%unknown%"},
    };
    InitProgram(home.Path("bin/Marvick"), {});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(ExpandPathPlaceholders(c.text), c.expanded);
    }
}
