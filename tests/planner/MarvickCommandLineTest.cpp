// Marvick's own command line: its switches, abbreviated or not; everything
// else is passed on to the main program as typed.
#include "planner/ScheduleRun.h"

#include "frame/WinExecute.h"

#include <gtest/gtest.h>

using namespace kes;

TEST(MarvickCommandLine, SwitchesInTheirOrderAndEverythingElsePassedOn)
{
    struct Expect {
        QString name;
        QString other;
        QString altIni;
        int wait = 5;
        bool interactive = false;
        bool dark = false;
    };
    const struct {
        QStringList args;
        Expect expect;
    } cases[] = {
        {{"Daily"}, {"Daily", "", "", 5, false, false}},
        {{"First", "Second"}, {"Second", "", "", 5, false, false}}, // the last plain argument wins
        {{"/ini:my.ini", "Daily"}, {"Daily", "", "my.ini", 5, false, false}},
        {{"-INI:%apppath%/a:b.ini"},
            {"", "", "%apppath%/a:b.ini", 5, false, false}}, // value unexpanded, after the first colon
        {{"/delay:12"}, {"", "", "", 12, false, false}},
        {{"/d:3"}, {"", "", "", 3, false, false}},
        {{"/delay:7 8"}, {"", "", "", 7, false, false}},
        {{"/delay:abc"}, {"", "", "", 5, false, false}},
        {{"/delay:"}, {"", "", "", 5, false, false}},
        {{"/delay:-4"}, {"", "", "", 0, false, false}},
        {{"/delay:99999999999"}, {"", "", "", 86400, false, false}},
        {{"/interactive"}, {"", "", "", 5, true, false}},
        {{"-I"}, {"", "", "", 5, true, false}},
        {{"/dark"}, {"", "", "", 5, false, true}},
        {{"/d"}, {"", "", "", 5, false, true}}, // "d" without a value is not "delay"
        {{"/prompt:quiet", "Nightly", "-lang:de", "/portable", "/interactives", "/ini"},
            {"Nightly", " /prompt:quiet -lang:de /portable /interactives /ini", "", 5, false, false}},
        {{"/Speed:slow", "\"/wait:10\""}, {"\"/wait:10\"", " /Speed:slow", "", 5, false, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const TMarvickCommandLine cmd = ParseMarvickCommandLine(c.args);
        EXPECT_EQ(cmd.SchedName, c.expect.name);
        EXPECT_EQ(cmd.OtherOptions, c.expect.other);
        EXPECT_EQ(cmd.AltIni, c.expect.altIni);
        EXPECT_EQ(cmd.UseAltIni, !c.expect.altIni.isEmpty());
        EXPECT_EQ(cmd.Wait, c.expect.wait);
        EXPECT_EQ(cmd.IntAct, c.expect.interactive);
        EXPECT_EQ(cmd.UseDarkMode, c.expect.dark);
    }
}

// What is passed on reaches the main program as the very arguments given:
// a switch with a blank stays one argument.
TEST(MarvickCommandLine, PassedOnSwitchesSplitBackToTheArgumentsGiven)
{
    const QStringList passedOn[] = {
        {QStringLiteral("/prompt:wait")},
        {QStringLiteral("/backupdir:/media/my disk/backups")},
        {QStringLiteral("/wait:1 2"), QStringLiteral("-end:\"x\" y")},
        {QStringLiteral("/a\"b"), QStringLiteral("/trailing "), QStringLiteral("/\"")},
        {QStringLiteral("/tab\there"), QString::fromUtf8("/backupdir:%apppath%/\xC3\xA4 \xE2\x82\xAC.ini")},
    };
    for (const QStringList& args : passedOn) {
        SCOPED_TRACE(args.join(QLatin1Char('|')).toStdString());
        const TMarvickCommandLine cmd = ParseMarvickCommandLine(QStringList {QStringLiteral("Daily")} + args);
        EXPECT_EQ(cmd.SchedName, QStringLiteral("Daily"));
        EXPECT_TRUE(cmd.OtherOptions.startsWith(QLatin1Char(' ')));
        EXPECT_EQ(SplitCommandLine(cmd.OtherOptions), args);
    }
}
