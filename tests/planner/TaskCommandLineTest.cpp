// The command line of a scheduled task, both ways, and the error-action
// mask of "erractions".
#include "planner/TaskCommandLine.h"
#include "planner/ErrorActions.h"

#include "frame/MainProgram.h"

#include <gtest/gtest.h>

using namespace kes;

namespace {

std::string S(const QString& s)
{
    return s.toStdString();
}

TTaskCommandValues Read(const QString& arguments, TTaskCommandValues v = {}, const QString& dir = QString())
{
    ReadTaskCommandLine(arguments, dir, v);
    return v;
}

} // namespace

TEST(TaskCommandLine, TheScheduleDefaults)
{
    TTaskCommandValues v;
    EXPECT_EQ(S(BuildTaskOptions(v, true)),
        S(QStringLiteral(" ") + OptFlag(QStringLiteral("hide"))
            + OptValue(QStringLiteral("prompt"), QStringLiteral("delay"))
            + OptValue(QStringLiteral("wait"), QStringLiteral("3"))));
    EXPECT_EQ(S(BuildTaskOptions(v, true)), "  /hide /prompt:delay /wait:3");
}

TEST(TaskCommandLine, EveryPieceInItsOrder)
{
    TTaskCommandValues v;
    v.Kind = TKesAction::paBackup;
    v.NoSplash = false;
    v.Parallel = true;
    v.StatusWindow = TStatusWindow::swWaitOnErrors;
    v.CloseAfter = 12;
    v.ActErr = 5;
    v.Priority = TProcessPriority::ppHigh;
    v.IniFile = QStringLiteral("/home/u/my settings/Kesmo.ini");
    v.LogMode = TLogMode::lmVerbose;
    v.SubAction = TSubsequentAction::saShutdown;
    EXPECT_EQ(S(BuildTaskOptions(v, true)),
        " /force /startapp:scheduler /parallel /prompt:error /wait:12 /erractions:5"
        " /speed:fast \"/ini:/home/u/my settings/Kesmo.ini\" /logmode:3 /end:shutdown");
    EXPECT_EQ(S(BuildTaskOptions(v, false)),
        " /force /startapp:scheduler /parallel /prompt:error /wait:12 /erractions:5"
        " /speed:fast /logmode:3 /end:shutdown")
        << "the display field has no INI file";

    const struct {
        TKesAction kind;
        const char* start;
    } kinds[] = {{TKesAction::paRestore, " /restore"}, {TKesAction::paCleanup, " /clean"},
        {TKesAction::paVerify, " /verify"}, {TKesAction::paStarter, " "},
        {TKesAction::paTavisk, " /force /startapp:scheduler"}};
    for (const auto& k : kinds) {
        TTaskCommandValues w;
        w.Kind = k.kind;
        w.NoSplash = false;
        w.StatusWindow = TStatusWindow::swNotVisible;
        EXPECT_EQ(S(BuildTaskOptions(w, true)), std::string(k.start) + " /prompt:quiet");
    }
    const struct {
        TStatusWindow window;
        const char* text;
    } windows[] = {{TStatusWindow::swWaitForPrompt, " /prompt:wait"},
        {TStatusWindow::swCloseAutomatically, " /prompt:delay /wait:3"},
        {TStatusWindow::swNotVisibleExceptErrors, " /prompt:silent"}};
    for (const auto& w : windows) {
        TTaskCommandValues x;
        x.NoSplash = false;
        x.StatusWindow = w.window;
        EXPECT_EQ(S(BuildTaskOptions(x, true)), std::string(" ") + w.text);
    }
    const struct {
        TSubsequentAction action;
        const char* text;
    } actions[] = {{TSubsequentAction::saStandby, " /suspend:standby"},
        {TSubsequentAction::saHibernate, " /suspend:hibernate"},
        {TSubsequentAction::saLogoff, " /end:logoff"}, {TSubsequentAction::saRestart, " /end:restart"}};
    for (const auto& a : actions) {
        TTaskCommandValues x;
        x.NoSplash = false;
        x.StatusWindow = TStatusWindow::swNotVisible;
        x.SubAction = a.action;
        EXPECT_EQ(S(BuildTaskOptions(x, true)), std::string("  /prompt:quiet") + a.text);
    }
    TTaskCommandValues low;
    low.Priority = TProcessPriority::ppLow;
    EXPECT_TRUE(BuildTaskOptions(low, true).endsWith(QStringLiteral(" /speed:slow")));
}

TEST(TaskCommandLine, ReadingOptionsByTheirAbbreviations)
{
    EXPECT_EQ(Read(QStringLiteral("/e:r")).SubAction, TSubsequentAction::saRestart);
    EXPECT_EQ(Read(QStringLiteral("/e:l")).SubAction, TSubsequentAction::saLogoff);
    EXPECT_EQ(Read(QStringLiteral("/end:power")).SubAction, TSubsequentAction::saShutdown);
    EXPECT_EQ(Read(QStringLiteral("-end:SHUT")).SubAction, TSubsequentAction::saShutdown);
    EXPECT_EQ(Read(QStringLiteral("/su:h")).SubAction, TSubsequentAction::saHibernate);
    EXPECT_EQ(Read(QStringLiteral("/sus:st")).SubAction, TSubsequentAction::saStandby);
    EXPECT_EQ(Read(QStringLiteral("/pr:q")).StatusWindow, TStatusWindow::swNotVisible);
    EXPECT_EQ(Read(QStringLiteral("/prompt:s")).StatusWindow, TStatusWindow::swNotVisibleExceptErrors);
    EXPECT_EQ(Read(QStringLiteral("/prompt:w")).StatusWindow, TStatusWindow::swWaitForPrompt);
    EXPECT_EQ(Read(QStringLiteral("/q")).StatusWindow, TStatusWindow::swNotVisible);
    TTaskCommandValues off;
    off.NoSplash = false;
    EXPECT_TRUE(Read(QStringLiteral("/h"), off).NoSplash);
    EXPECT_TRUE(Read(QStringLiteral("/par")).Parallel);
    EXPECT_EQ(Read(QStringLiteral("/erractions:21")).ActErr, 21);
    EXPECT_EQ(Read(QStringLiteral("/erractions:x")).ActErr, 0);
    EXPECT_EQ(Read(QStringLiteral("/sp:f")).Priority, TProcessPriority::ppHigh);
    EXPECT_EQ(Read(QStringLiteral("/speed:slow")).Priority, TProcessPriority::ppLow);
    EXPECT_EQ(Read(QStringLiteral("/w:17")).CloseAfter, 17);
    EXPECT_EQ(Read(QStringLiteral("/wait:x")).CloseAfter, 5);
    EXPECT_EQ(Read(QStringLiteral("/wait:500")).CloseAfter, 99);
    EXPECT_EQ(Read(QStringLiteral("/l:2")).LogMode, TLogMode::lmLong);
    EXPECT_EQ(Read(QStringLiteral("\"/ini:/home/u/my dir/M.ini\"")).IniFile,
        QStringLiteral("/home/u/my dir/M.ini"));

    const struct {
        const char* word;
        TKesAction kind;
    } kinds[] = {{"/f", TKesAction::paBackup}, {"/clean", TKesAction::paCleanup},
        {"/rest", TKesAction::paRestore}, {"/ver", TKesAction::paVerify}, {"/mode", TKesAction::paSchedule}};
    for (const auto& k : kinds) {
        TTaskCommandValues v;
        v.Kind = TKesAction::paStarter;
        EXPECT_EQ(Read(QString::fromUtf8(k.word), v).Kind, k.kind) << k.word;
    }
    TTaskCommandValues tavisk;
    tavisk.Kind = TKesAction::paTavisk;
    EXPECT_EQ(Read(QStringLiteral("/force"), tavisk).Kind, TKesAction::paTavisk);
}

TEST(TaskCommandLine, ValuesTheKeywordDoesNotKnowChangeNothing)
{
    TTaskCommandValues v;
    v.LogMode = TLogMode::lmShort;
    v.SubAction = TSubsequentAction::saStandby;
    v.Priority = TProcessPriority::ppLow;
    const TTaskCommandValues got
        = Read(QStringLiteral("/end:nap /speed:warp /suspend:deep /prompt:loud /logmode:7"), v);
    EXPECT_EQ(got.SubAction, TSubsequentAction::saStandby);
    EXPECT_EQ(got.Priority, TProcessPriority::ppLow);
    EXPECT_EQ(got.StatusWindow, TStatusWindow::swCloseAutomatically);
    EXPECT_EQ(got.LogMode, TLogMode::lmShort);
    EXPECT_TRUE(got.UserOptions.isEmpty()) << S(got.UserOptions);

    // A "logmode" that is no number reads as "As in task" and is then not
    // written back.
    const TTaskCommandValues notANumber = Read(QStringLiteral("/logmode:x"), v);
    EXPECT_EQ(notANumber.LogMode, TLogMode::lmAsInTask);
    EXPECT_FALSE(BuildTaskOptions(notANumber, true).contains(QStringLiteral("logmode")));
}

TEST(TaskCommandLine, FixedOptionsDisappearAndUserOptionsStay)
{
    const TTaskCommandValues v
        = Read(QStringLiteral("/sched /startapp:scheduler /x:1 -Y \"/z:with blank\" /s"));
    EXPECT_EQ(S(v.UserOptions), "/x:1 /Y \"/z:with blank\"");
    TTaskCommandValues again = v;
    ReadTaskCommandLine(BuildTaskOptions(v, true) + QLatin1Char(' ') + v.UserOptions, QString(), again);
    EXPECT_EQ(S(again.UserOptions), S(v.UserOptions))
        << "the user options stay one word each when written back";
    EXPECT_EQ(S(Read(QStringLiteral("/startapp")).UserOptions), "");
}

TEST(TaskCommandLine, TaskEntries)
{
    TTaskCommandValues v;
    ReadTaskCommandLine(
        QStringLiteral("\"C:\\Backups\\Daily Full.buj\" c:\\backups\\sub\\a.buj D:\\other.buj /h"),
        QStringLiteral("C:\\Backups"), v, PathStyle::Windows);
    EXPECT_EQ(S(v.TaskList), "\"Daily Full.buj\",sub\\a.buj,D:\\other.buj");
    EXPECT_TRUE(v.NoSplash);

    ReadTaskCommandLine(
        QStringLiteral("/home/u/Kesmo/ /home/u/Kesmo/a,b.buj \"/home/u/Kesmo/x y.buj\" \"say \"\"hi\"\"\""),
        QStringLiteral("/home/u/Kesmo"), v);
    EXPECT_EQ(S(v.TaskList), "\"a,b.buj\",\"x y.buj\",\"say \"\"hi\"\"\"")
        << "the directory itself is no entry";
    EXPECT_EQ(SplitTaskList(v.TaskList),
        (QStringList {QStringLiteral("a,b.buj"), QStringLiteral("x y.buj"), QStringLiteral("say \"hi\"")}));

    EXPECT_EQ(SplitTaskWords(QStringLiteral("  \"Weekly Full\"  /hide \"a\"\"b\" c\"d")),
        (QStringList {QStringLiteral("Weekly Full"), QStringLiteral("/hide"), QStringLiteral("a\"b"),
            QStringLiteral("c\"d")}));
    EXPECT_EQ(
        SplitTaskWords(QStringLiteral("\"unclosed word")), QStringList {QStringLiteral("unclosed word")});
    EXPECT_EQ(TakeInTaskDir(QStringLiteral("a.buj"), QStringLiteral("/home/u/Kesmo/")),
        QStringLiteral("/home/u/Kesmo/a.buj"));
    EXPECT_EQ(TakeInTaskDir(QStringLiteral("/tmp/a.buj"), QStringLiteral("/home/u/Kesmo/")),
        QStringLiteral("/tmp/a.buj"));
    EXPECT_EQ(TakeInTaskDir(QStringLiteral("D:x.buj"), QStringLiteral("C:\\B\\"), PathStyle::Windows),
        QStringLiteral("D:x.buj"));
    EXPECT_EQ(TakeInTaskDir(QStringLiteral("x.buj"), QStringLiteral("C:\\B\\"), PathStyle::Windows),
        QStringLiteral("C:\\B\\x.buj"));
}

TEST(TaskCommandLine, ReadingWhatWasBuiltGivesTheValuesBack)
{
    TTaskCommandValues v;
    v.Kind = TKesAction::paBackup;
    v.Parallel = true;
    v.StatusWindow = TStatusWindow::swWaitOnErrors;
    v.CloseAfter = 42;
    v.ActErr = 24;
    v.Priority = TProcessPriority::ppLow;
    v.IniFile = QStringLiteral("/home/u/a b/\"quoted\".ini");
    v.LogMode = TLogMode::lmShort;
    v.SubAction = TSubsequentAction::saHibernate;
    TTaskCommandValues back;
    back.Kind = TKesAction::paStarter;
    back.NoSplash = false;
    ReadTaskCommandLine(BuildTaskOptions(v, true), QString(), back);
    EXPECT_EQ(back.Kind, v.Kind);
    EXPECT_EQ(back.NoSplash, v.NoSplash);
    EXPECT_EQ(back.Parallel, v.Parallel);
    EXPECT_EQ(back.StatusWindow, v.StatusWindow);
    EXPECT_EQ(back.CloseAfter, v.CloseAfter);
    EXPECT_EQ(back.ActErr, v.ActErr);
    EXPECT_EQ(back.Priority, v.Priority);
    EXPECT_EQ(back.IniFile, v.IniFile);
    EXPECT_EQ(back.LogMode, v.LogMode);
    EXPECT_EQ(back.SubAction, v.SubAction);
    EXPECT_TRUE(back.UserOptions.isEmpty()) << S(back.UserOptions);
    EXPECT_TRUE(back.TaskList.isEmpty());
}

TEST(TaskCommandLine, ListTexts)
{
    EXPECT_EQ(SubsequentActionText(TSubsequentAction::saShutdown), QStringLiteral("Shutdown"));
    EXPECT_EQ(StatusWindowText(TStatusWindow::swNotVisibleExceptErrors),
        QStringLiteral("Not visible except on errors"));
    EXPECT_EQ(LogModeText(TLogMode::lmAsInTask), QStringLiteral("As in task"));
    EXPECT_EQ(ProcessPriorityText(TProcessPriority::ppHigh), QStringLiteral("High"));
}

TEST(ErrorActionMask, ChecksOfAMask)
{
    const struct {
        int mask;
        std::array<bool, 5> checks;
        int confirmed;
    } cases[] = {
        {0, {false, false, false, false, false}, 0},
        {5, {true, false, true, false, false}, 5},
        {31, {true, true, true, true, true}, 31},
        {16 | 32 | 1024, {false, false, false, false, true}, 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask);
        const TErrorActionChoice choice(c.mask);
        for (int i = 0; i < choice.Count(); ++i)
            EXPECT_EQ(choice.Checked(i), c.checks[std::size_t(i)]) << i;
        int mask = c.mask;
        EXPECT_TRUE(choice.Finish(true, mask));
        EXPECT_EQ(mask, c.confirmed) << "bits above 16 are dropped on confirming";
        mask = c.mask;
        EXPECT_FALSE(choice.Finish(false, mask));
        EXPECT_EQ(mask, c.mask);
    }
    // A mask of 0 confirmed unchanged adds no option.
    int mask = 0;
    TErrorActionChoice(0).Finish(true, mask);
    TTaskCommandValues v;
    v.ActErr = mask;
    EXPECT_FALSE(BuildTaskOptions(v, true).contains(QStringLiteral("erractions")));

    TErrorActionChoice edit(0);
    edit.SetChecked(1, true);
    edit.SetChecked(3, true);
    edit.Finish(true, mask);
    EXPECT_EQ(mask, 2 + 8);
    EXPECT_EQ(ErrorActionConditionText(0), QStringLiteral("Task file not found"));
    EXPECT_EQ(ErrorActionConditionText(4), QStringLiteral("Other errors during backup"));
    EXPECT_EQ(ErrorActionCaption(SubsequentActionText(TSubsequentAction::saShutdown)),
        QStringLiteral("No Shutdown on these errors"));
    EXPECT_EQ(ErrorActionHint(QStringLiteral("Restart")), QStringLiteral("Disable Restart on errors"));
    EXPECT_EQ(ErrorActionTitle(), QStringLiteral("Subsequent action"));
}
