// The desktop: display detection, opening pages through a real xdg-open
// stand-in script on PATH, and the colour-scheme preference.
#include "platform/Desktop.h"

#include "common/TestSupport.h"
#include "frame/ScopedEnv.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kes::platform;

TEST(Desktop, GraphicalDisplay)
{
    const struct {
        QString display, wayland;
        bool expected;
    } cases[] = {
        {QString(), QString(), false},
        {":0", QString(), true},
        {QString(), "wayland-0", true},
        {"", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.display.toStdString() + "|" + c.wayland.toStdString());
        kestest::ScopedEnv env({{"DISPLAY", c.display}, {"WAYLAND_DISPLAY", c.wayland}});
        EXPECT_EQ(HasGraphicalDisplay(), c.expected);
    }
}

TEST(Desktop, DisplayFallbackUnlessThePlatformIsChosen)
{
    const struct {
        QString chosen, wayland;
        bool arranged;
        QString platform; // QT_QPA_PLATFORM afterwards
    } cases[] = {
        {QString(), QString(), true, QStringLiteral("xcb;offscreen")},
        {QString(), QStringLiteral("wayland-0"), true, QStringLiteral("wayland;xcb;offscreen")},
        {QStringLiteral("xcb"), QStringLiteral("wayland-0"), false, QStringLiteral("xcb")},
        {QStringLiteral("offscreen"), QString(), false, QStringLiteral("offscreen")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen.toStdString() + "|" + c.wayland.toStdString());
        kestest::ScopedEnv env({{"QT_QPA_PLATFORM", c.chosen}, {"WAYLAND_DISPLAY", c.wayland}});
        EXPECT_EQ(ArrangeDisplayFallback(), c.arranged);
        EXPECT_EQ(qEnvironmentVariable("QT_QPA_PLATFORM"), c.platform);
    }
    EXPECT_EQ(HeadlessDisplayPlatform(), QStringLiteral("offscreen"));
}

TEST(Desktop, OpenUrlRunsXdgOpen)
{
    if (!kestest::HaveTool("sh"))
        KESTEST_SKIP_OR_FAIL("no shell for the xdg-open stand-in");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString script = dir.filePath("xdg-open");
    const QString record = dir.filePath("opened");
    kestest::WriteBytes(script,
        ("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record + "'\nexit \"${FAKE_OPEN_EXIT:-0}\"\n").toUtf8());
    ASSERT_TRUE(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString url = "file:///tmp/help/page%20one.html#x";

    kestest::ScopedEnv env(
        {{"PATH", dir.path() + ":/usr/bin:/bin"}, {"DISPLAY", ":99"}, {"FAKE_OPEN_EXIT", "0"}});
    EXPECT_TRUE(OpenUrl(url));
    EXPECT_EQ(kestest::ReadBytes(record), (url + "\n").toUtf8());

    env.Set("FAKE_OPEN_EXIT", "3");
    EXPECT_FALSE(OpenUrl(url)) << "xdg-open reported a failure";

    env.Set("DISPLAY", QString());
    env.Set("FAKE_OPEN_EXIT", "0");
    EXPECT_FALSE(OpenUrl(url)) << "no display";
    EXPECT_EQ(kestest::ReadBytes(record).count('\n'), 2);

    env.Set("DISPLAY", ":99");
    env.Set("PATH", dir.filePath("empty"));
    EXPECT_FALSE(OpenUrl(url)) << "no xdg-open";
}

TEST(Desktop, ColorSchemeSources)
{
    EXPECT_EQ(ColorSchemeFromPortalValue(1), ColorScheme::Dark);
    EXPECT_EQ(ColorSchemeFromPortalValue(2), ColorScheme::Light);
    EXPECT_EQ(ColorSchemeFromPortalValue(0), ColorScheme::Unknown);
    EXPECT_EQ(ColorSchemeFromPortalValue(7), ColorScheme::Unknown);

    const struct {
        QString gtk;
        ColorScheme scheme;
    } gtk[] = {
        {"[Settings]\ngtk-application-prefer-dark-theme=1\n", ColorScheme::Dark},
        {"[Settings]\r\ngtk-application-prefer-dark-theme = true\r\n", ColorScheme::Dark},
        {"[Settings]\ngtk-theme-name=Adwaita-dark\n", ColorScheme::Dark},
        {"[Settings]\ngtk-theme-name=Yaru:dark\n", ColorScheme::Dark},
        {"[Settings]\ngtk-theme-name=Adwaita\n", ColorScheme::Light},
        {"[Settings]\ngtk-application-prefer-dark-theme=0\n", ColorScheme::Light},
        {"[Other]\ngtk-theme-name=Adwaita-dark\n", ColorScheme::Unknown},
        {"", ColorScheme::Unknown},
        {QString::fromLatin1("\0\xFF[Settings", 11), ColorScheme::Unknown},
    };
    for (const auto& c : gtk) {
        SCOPED_TRACE(c.gtk.toStdString());
        EXPECT_EQ(ColorSchemeFromGtkSettings(c.gtk), c.scheme);
    }
    EXPECT_EQ(ColorSchemeFromKdeGlobals("[General]\nColorScheme=BreezeDark\n"), ColorScheme::Dark);
    EXPECT_EQ(ColorSchemeFromKdeGlobals("[General]\nColorScheme=BreezeLight\n"), ColorScheme::Light);
    EXPECT_EQ(ColorSchemeFromKdeGlobals("[KDE]\nColorScheme=BreezeDark\n"), ColorScheme::Unknown);

    // Without a session bus the files decide: GTK 4 before GTK 3 before KDE.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kestest::ScopedEnv env({{"XDG_CONFIG_HOME", dir.path()}, {"DBUS_SESSION_BUS_ADDRESS", QString()},
        {"XDG_RUNTIME_DIR", QString()}});
    EXPECT_EQ(QueryColorScheme(), ColorScheme::Unknown);
    kestest::WriteBytes(dir.filePath("kdeglobals"), "[General]\nColorScheme=BreezeDark\n");
    EXPECT_EQ(QueryColorScheme(), ColorScheme::Dark);
    kestest::WriteBytes(dir.filePath("gtk-3.0/settings.ini"), "[Settings]\ngtk-theme-name=Adwaita\n");
    EXPECT_EQ(QueryColorScheme(), ColorScheme::Light);
    kestest::WriteBytes(
        dir.filePath("gtk-4.0/settings.ini"), "[Settings]\ngtk-application-prefer-dark-theme=1\n");
    EXPECT_EQ(QueryColorScheme(), ColorScheme::Dark);
}
