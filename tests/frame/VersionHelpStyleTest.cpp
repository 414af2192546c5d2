// Version texts, ordinal texts, the help folder and the display-style
// decision.
#include "frame/DisplayStyle.h"
#include "frame/Help.h"
#include "frame/I18n.h"
#include "frame/StartUp.h"
#include "frame/Version.h"

#include "common/TestSupport.h"
#include "frame/ScopedEnv.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kes;
using platform::ColorScheme;

TEST(Version, Texts)
{
    struct Case {
        QString version;
        int count;
        QString text;
    } cases[] = {
        {"3.11.2.0", 3, "Version 3.11.2"},
        {"1.2", 3, "Version 1.2"},
        {"1.2.3", 1, "Version 1"},
        {"7", 3, "Version 7"},
        {"", 3, "Version "},
        {"1.2.3.4", 0, "Version 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version.toStdString());
        EXPECT_EQ(VersionText(c.version, c.count), c.text);
    }

    const QString exe = QCoreApplication::applicationFilePath();
    TFileVersionInfo info;
    ASSERT_TRUE(ReadVersionInfo(exe, info));
    EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d+\\.\\d+\\.\\d+$").match(info.Version).hasMatch())
        << info.Version.toStdString();
    EXPECT_EQ(GetFileVersion(exe, "none"), info.Version.section('.', 0, 2));
    EXPECT_FALSE(ReadVersionInfo("/bin/sh", info));
    EXPECT_EQ(GetFileVersion("/bin/sh", "0.0.0.0"), "0.0.0.0");
    EXPECT_EQ(GetFileVersion("/no/such/file", "d"), "d");

    const TProgramVersion v = InitVersion("Selwand", " - Vers. 1.1", "(c)");
    EXPECT_EQ(v.Info.InternalName, QFileInfo(exe).completeBaseName());
    EXPECT_EQ(v.Info.Comments, VersionText(info.Version, 3));
    EXPECT_EQ(v.ProgVersName, v.Info.InternalName + " (" + v.Info.Comments + ")");
    EXPECT_FALSE(v.ProgVersDate.isEmpty());
    EXPECT_EQ(ProgramVersion().ProgVersName, v.ProgVersName);
    EXPECT_EQ(BitnessText(), sizeof(void*) == 8 ? " - 64-bit" : " - 32-bit");
}

TEST(Version, OrdinalTexts)
{
    const struct {
        qint64 n;
        const char* text;
    } cases[] = {{0, "no "}, {1, "1st "}, {2, "2nd "}, {3, "3rd "}, {4, "4th "}, {11, "11th "}, {21, "21th "},
        {-2, "-2th "}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.n);
        EXPECT_EQ(OrdinalText(c.n), c.text);
    }
}

TEST(Help, PagesOfTheLanguageWithEnglishFallbackOpenedInTheBrowser)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString help = dir.filePath("share/kestrup/help/");
    // German pages for some topics only; the rest is English.
    kestest::WriteBytes(help + "en/index.html", "<html/>");
    kestest::WriteBytes(help + "en/sched ule.html", "<html/>");
    kestest::WriteBytes(help + "de/index.html", "<html/>");
    kestest::WriteBytes(dir.filePath("etc/secret.html"), "<html/>");
    const auto startAs = [&](const QString& lang) {
        InitProgram(dir.filePath("bin/Marvick"), {"/lang:" + lang});
        InitPaths(dir.path(), "Kesmo.cfg", {});
    };
    QStringList messages, opened;
    const TMessageSink sink = [&](const QString& m) { messages.append(m); };
    bool openerWorks = true;
    const TUrlOpener opener = [&](const QString& url) {
        opened.append(url);
        return openerWorks;
    };

    startAs("de");
    EXPECT_EQ(GetHelpFile(), help + "de");
    const struct {
        QString topic;
        QString url; // empty: not shown
    } cases[] = {
        {"", "file://" + help + "de/index.html"},
        {"index.html#top", "file://" + help + "de/index.html#top"},
        {"sched ule.html#weekly", "file://" + help + "en/sched%20ule.html#weekly"},
        {"no-such-page.html", ""},
        // A topic names a page, never a path out of the help.
        {"../../../etc/secret.html", ""},
        {"../en/index.html", ""},
        {dir.filePath("etc/secret.html"), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.topic.toStdString());
        messages.clear();
        opened.clear();
        EXPECT_EQ(ShowHelp(c.topic, sink, opener), !c.url.isEmpty());
        EXPECT_EQ(opened, c.url.isEmpty() ? QStringList() : QStringList {c.url});
        EXPECT_EQ(messages,
            c.url.isEmpty() ? QStringList {U_("Help is not available on this system!")} : QStringList());
    }
    openerWorks = false;
    messages.clear();
    EXPECT_FALSE(ShowHelp("index.html", sink, opener));
    EXPECT_EQ(messages.size(), 1) << "a browser that fails is reported";

    // English users get the English page; a language code that is not one
    // never leads elsewhere.
    openerWorks = true;
    for (const QString& lang : {QString("en"), QString(".."), QString("xx")}) {
        SCOPED_TRACE(lang.toStdString());
        startAs(lang);
        opened.clear();
        EXPECT_TRUE(ShowHelp("", sink, opener));
        EXPECT_EQ(opened, QStringList {"file://" + help + "en/index.html"});
    }

    // A program without help beside it, run from the build tree, finds the
    // build tree's pages.
    InitProgram(dir.filePath("elsewhere/Selwand"), {});
    EXPECT_EQ(
        FindHelpPage("selwand.html"), QStringLiteral(KES_BINARY_DIR "/share/kestrup/help/en/selwand.html"));
    InitProgram(QCoreApplication::applicationFilePath(), {});
}

TEST(DisplayStyle, Decision)
{
    const struct {
        bool darkSwitch, follow;
        ColorScheme desktop;
        TDisplayStyle style;
    } cases[] = {
        {true, false, ColorScheme::Light, TDisplayStyle::dsDark},
        {false, false, ColorScheme::Dark, TDisplayStyle::dsLight},
        {false, true, ColorScheme::Dark, TDisplayStyle::dsDark},
        {false, true, ColorScheme::Light, TDisplayStyle::dsLight},
        {false, true, ColorScheme::Unknown, TDisplayStyle::dsLight},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.desktop));
        EXPECT_EQ(ChooseDisplayStyle(c.darkSwitch, c.follow, c.desktop), c.style);
    }
    EXPECT_FALSE(StyleSwitchNeeded("Fusion Dark", "fusion dark"));
    EXPECT_TRUE(StyleSwitchNeeded("Fusion Dark", "Windows"));

    // From the configuration file and the desktop's GTK settings (no bus).
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kestest::ScopedEnv env({{"XDG_CONFIG_HOME", dir.path()}, {"DBUS_SESSION_BUS_ADDRESS", QString()},
        {"XDG_RUNTIME_DIR", QString()}});
    kestest::WriteBytes(dir.filePath("gtk-3.0/settings.ini"), "[Settings]\ngtk-theme-name=Adwaita-dark\n");
    const QString cfg = dir.filePath("Kesmo.cfg");
    EXPECT_EQ(DecideDisplayStyle(false, cfg), TDisplayStyle::dsLight) << "no configuration file";
    kestest::WriteBytes(cfg, kestest::Utf16LeWithBom("[Config]\r\nDarkMode=1\r\n"));
    EXPECT_EQ(DecideDisplayStyle(false, cfg), TDisplayStyle::dsDark);
    kestest::WriteBytes(dir.filePath("gtk-3.0/settings.ini"), "[Settings]\ngtk-theme-name=Adwaita\n");
    EXPECT_EQ(DecideDisplayStyle(false, cfg), TDisplayStyle::dsLight);
    EXPECT_EQ(DecideDisplayStyle(true, cfg), TDisplayStyle::dsDark);
    kestest::WriteBytes(cfg, kestest::Utf16LeWithBom("[Config]\r\nDarkMode=0\r\n"));
    kestest::WriteBytes(dir.filePath("gtk-3.0/settings.ini"), "[Settings]\ngtk-theme-name=Adwaita-dark\n");
    EXPECT_EQ(DecideDisplayStyle(false, cfg), TDisplayStyle::dsLight);
}
