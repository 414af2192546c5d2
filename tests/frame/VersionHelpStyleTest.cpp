// Version texts, ordinal texts, the help folder and the display-style
// decision.
#include "frame/DisplayStyle.h"
#include "frame/Help.h"
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

TEST(Help, FolderOfPagesOpenedInTheBrowser)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    InitProgram(dir.filePath("bin/Marvick"), {});
    QStringList messages, opened;
    const TMessageSink sink = [&](const QString& m) { messages.append(m); };
    bool openerWorks = true;
    const TUrlOpener opener = [&](const QString& url) {
        opened.append(url);
        return openerWorks;
    };

    // No help installed: the message, and nothing is opened.
    EXPECT_EQ(GetHelpFile(), dir.filePath("bin/kestrup-help"));
    EXPECT_FALSE(ShowHelp("", sink, opener));
    EXPECT_EQ(messages, QStringList {"Help is not available on this system!"});
    EXPECT_TRUE(opened.isEmpty());

    // In the prefix's share folder; a page with a fragment.
    kestest::WriteBytes(dir.filePath("share/kestrup/kestrup-help/index.html"), "<html/>");
    kestest::WriteBytes(dir.filePath("share/kestrup/kestrup-help/sched ule.html"), "<html/>");
    EXPECT_EQ(GetHelpFile(), dir.filePath("share/kestrup/kestrup-help"));
    messages.clear();
    EXPECT_TRUE(ShowHelp("sched ule.html#weekly", sink, opener));
    EXPECT_TRUE(ShowHelp("", sink, opener));
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(opened,
        (QStringList {"file://" + dir.filePath("share/kestrup/kestrup-help/sched%20ule.html#weekly"),
            "file://" + dir.filePath("share/kestrup/kestrup-help/index.html")}));

    // Beside the program wins; a missing page or a failing browser reports.
    kestest::WriteBytes(dir.filePath("bin/kestrup-help/index.html"), "<html/>");
    EXPECT_EQ(GetHelpFile(), dir.filePath("bin/kestrup-help"));
    EXPECT_FALSE(ShowHelp("missing.html", sink, opener));
    openerWorks = false;
    EXPECT_FALSE(ShowHelp("index.html", sink, opener));
    EXPECT_EQ(messages.size(), 2);
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
