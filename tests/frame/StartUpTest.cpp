// Start switches, configuration file, language and the settings folder.
#include "frame/StartUp.h"
#include "frame/ProgramPaths.h"

#include "common/TestSupport.h"
#include "frame/ScopedEnv.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kes;

namespace {

QByteArray CfgWithLanguage(const QString& lang)
{
    return kestest::Utf16LeWithBom("[Config]\r\nDarkMode=0\r\n\r\n[Language]\r\nLangID=" + lang + "\r\n");
}

// A home of its own for every test: XDG folders below a temporary folder.
struct FakeHome {
    QTemporaryDir dir;
    kestest::ScopedEnv env;
    FakeHome()
        : env({{"HOME", dir.filePath("home")}, {"XDG_CONFIG_HOME", dir.filePath("config")},
            {"XDG_DATA_HOME", dir.filePath("data")}, {"XDG_CONFIG_DIRS", dir.filePath("etc")},
            {"LANGUAGE", QString()}, {"LC_ALL", "C.UTF-8"}, {"LC_MESSAGES", QString()}, {"LANG", QString()}})
    {
        QDir().mkpath(dir.filePath("home"));
    }
    QString Path(const QString& rel) const { return dir.filePath(rel); }
};

} // namespace

TEST(StartOptions, WindowsSwitchExamples)
{
    const QString programDir = "C:\\Prog\\";
    const QString cfg = "C:\\Users\\me\\AppData\\Roaming\\Kesmo6\\Kesmo.cfg";
    kestest::ScopedEnv env({{"KES_TEST_CONF", "E:\\Env"}});
    struct Case {
        QStringList args;
        QString lang, configFileName;
    } cases[] = {
        {{"/lang:fr"}, "fr", cfg},
        {{"/l:french"}, "fr", cfg},
        {{"-LANG:DE"}, "de", cfg},
        {{"/p"}, "", "C:\\Prog\\Kesmo.cfg"},
        {{"/PORT"}, "", "C:\\Prog\\Kesmo.cfg"},
        {{"/portables"}, "", cfg},
        {{"/"}, "", "C:\\Prog\\Kesmo.cfg"},
        {{"-"}, "", "C:\\Prog\\Kesmo.cfg"},
        {{"/portable", "/ini:my.ini"}, "", "C:\\Prog\\my.cfg"},
        {{"/ini:my.ini", "/portable"}, "", "C:\\Prog\\my.cfg"},
        {{"/portable", "/ini:sub\\my.ini"}, "", "C:\\Prog\\sub\\my.cfg"},
        {{"/ini:D:\\Conf\\x.ini"}, "", "D:\\Conf\\Kesmo.cfg"},
        {{"/ini:x.ini"}, "", cfg},
        {{"/ini:D:\\Conf\\"}, "", "D:\\Conf\\Kesmo.cfg"},
        {{"/ini:sub\\x.ini"}, "", "C:\\Work\\sub\\Kesmo.cfg"},
        {{"/ini:..\\up\\x.ini"}, "", "C:\\up\\Kesmo.cfg"},
        {{"/i:%kes_test_conf%\\x.ini"}, "", "E:\\Env\\Kesmo.cfg"},
        {{"plain", "task.buj", "/l"}, "", cfg},
        {{"/lang:de", "/lang:it"}, "it", cfg},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const TStartOptions o = EvaluateStartOptions(c.args, cfg, programDir, "C:\\Work", PathStyle::Windows);
        EXPECT_EQ(o.Lang, c.lang);
        EXPECT_EQ(o.ConfigFileName, c.configFileName);
    }
}

TEST(StartOptions, LinuxSwitches)
{
    const QString programDir = "/opt/kes/bin/";
    const QString cfg = "/home/me/.config/Kesmo6/Kesmo.cfg";
    struct Case {
        QStringList args;
        QString configFileName;
    } cases[] = {
        {{"-portable"}, "/opt/kes/bin/Kesmo.cfg"},
        {{"-p", "-ini:my.ini"}, "/opt/kes/bin/my.cfg"},
        {{"-p", "-ini:sub/my.ini"}, "/opt/kes/bin/sub/my.cfg"},
        {{"-ini:/etc/conf/x.ini"}, "/etc/conf/Kesmo.cfg"},
        {{"/ini:/etc/conf/"}, "/etc/conf/Kesmo.cfg"},
        {{"-ini:x.ini"}, cfg},
        {{"-ini:sub/x.ini"}, "/work/sub/Kesmo.cfg"},
        {{"-ini:C:\\x.ini"}, cfg},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        EXPECT_EQ(EvaluateStartOptions(c.args, cfg, programDir, "/work", PathStyle::Posix).ConfigFileName,
            c.configFileName);
    }
}

TEST(StartUp, ProgramIdentity)
{
    InitProgram("/opt/kes/bin/Marvick", {"-lang:de", "Weekly"});
    EXPECT_EQ(ProgramDir(), "/opt/kes/bin/");
    EXPECT_EQ(ProgramName(), "Marvick");
    EXPECT_EQ(ProgramArguments(), (QStringList {"-lang:de", "Weekly"}));
    EXPECT_EQ(ConfigFileName(), "");
    InitProgram("/opt/kes/bin/Selwand.bin", {});
    EXPECT_EQ(ProgramName(), "Selwand");

    // From a real command line: the running program file; arguments that
    // are not UTF-8 survive.
    char a0[] = "test", a1[] = "-ini:/tmp/\xFF.ini";
    char* argv[] = {a0, a1, nullptr};
    InitProgram(2, argv);
    EXPECT_EQ(ProgramDir(), QFileInfo(QCoreApplication::applicationFilePath()).absolutePath() + "/");
    EXPECT_EQ(ProgramName(), QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    ASSERT_EQ(ProgramArguments().size(), 1);
    EXPECT_EQ(ProgramArguments()[0], QString::fromUtf16(u"-ini:/tmp/") + QChar(0xDCFF) + ".ini");
}

TEST(StartUp, LanguageOfTheConfigurationFileSwitchAndLocale)
{
    FakeHome home;
    ASSERT_TRUE(home.dir.isValid());
    kestest::WriteBytes(home.Path("config/Kesmo6/Kesmo.cfg"), CfgWithLanguage("de"));
    kestest::WriteBytes(home.Path("portable/Kesmo.cfg"), CfgWithLanguage("FRA"));
    struct Case {
        QStringList args;
        QString location;
        QString fileName;
        QString locale; // LC_ALL
        QString config, language;
    } cases[] = {
        {{}, "Kesmo6/", "Kesmo.cfg", "C.UTF-8", home.Path("config/Kesmo6/Kesmo.cfg"), "de"},
        {{"-lang:it"}, "Kesmo6/", "Kesmo.cfg", "C.UTF-8", home.Path("config/Kesmo6/Kesmo.cfg"), "it"},
        {{}, home.Path("config/Kesmo6"), "Kesmo.cfg", "C.UTF-8", home.Path("config/Kesmo6/Kesmo.cfg"), "de"},
        {{"-portable"}, "Kesmo6/", "Kesmo.cfg", "C.UTF-8", home.Path("portable/Kesmo.cfg"), "fr"},
        // No configuration file: the locale decides.
        {{}, "Other/", "Kesmo.cfg", "C.UTF-8", home.Path("config/Other/Kesmo.cfg"), "en"},
        {{}, "Other/", "", "nl_BE.UTF-8", home.Path("config/Other/Selwand.cfg"), "nl"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString() + " " + c.location.toStdString());
        kestest::ScopedEnv locale({{"LC_ALL", c.locale}, {"LANGUAGE", QString()}});
        InitProgram(home.Path("portable/Selwand"), c.args);
        InitPaths(c.location, c.fileName, {});
        EXPECT_EQ(ConfigFileName(), c.config);
        EXPECT_EQ(LanguageCode(), c.language);
        EXPECT_EQ(qEnvironmentVariable("LANGUAGE"), c.language) << "catalogues switched";
    }
}

TEST(StartUp, LanguageCodes)
{
    struct Locale {
        QString name, code;
    } locales[] = {
        {"de_DE.UTF-8", "de"},
        {"pt_BR", "pt"},
        {"sr@latin", "sr"},
        {"FR", "fr"},
        {"C", "en"},
        {"C.UTF-8", "en"},
        {"POSIX", "en"},
        {"", "en"},
        {"fil_PH", "en"},
        {"d", "en"},
    };
    for (const Locale& l : locales) {
        SCOPED_TRACE(l.name.toStdString());
        EXPECT_EQ(LanguageFromLocaleName(l.name), l.code);
    }
    struct Id {
        quint32 id;
        QString code;
    } ids[] = {{0x0407, "de"}, {0x0807, "de"}, {0x0409, "en"}, {0x040C, "fr"}, {0x0416, "pt"},
        {0x040D, "en"}, // Hebrew (0D) has no entry
        {0x0492, "ku"}, {0x0000, "en"}, {0x0413, "nl"}, {0x0C0A, "es"}, {0x0478, "ii"}};
    for (const Id& i : ids) {
        SCOPED_TRACE(i.id);
        EXPECT_EQ(LanguageFromWindowsLangId(i.id), i.code);
    }
    // The environment in gettext's order: LANGUAGE before LC_ALL before
    // LC_MESSAGES before LANG.
    struct Env {
        QString language, lcAll, lcMessages, lang, code;
    } envs[] = {
        {"da:de", "fr_FR", "it_IT", "es_ES", "da"},
        {"", "fr_FR", "it_IT", "es_ES", "fr"},
        {QString(), QString(), "it_IT.UTF-8", "es_ES", "it"},
        {QString(), QString(), QString(), "es_ES", "es"},
        {QString(), QString(), QString(), QString(), "en"},
    };
    for (const Env& e : envs) {
        SCOPED_TRACE(e.code.toStdString());
        kestest::ScopedEnv env(
            {{"LANGUAGE", e.language}, {"LC_ALL", e.lcAll}, {"LC_MESSAGES", e.lcMessages}, {"LANG", e.lang}});
        EXPECT_EQ(GetDefaultLanguage(), e.code);
    }
}
