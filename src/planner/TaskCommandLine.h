// The command line of a scheduled task's program, both ways: the "fixed
// parameters" built from the scheduled-task wizard's settings page, and the
// arguments of an existing task read back into that page.
//
// Switches are built with OptFlag / OptValue (frame/MainProgram.h) and
// read with MatchOption / ReadOptionValue / ReadNextInt (frame/Switches.h);
// their meaning for the main program is its own.
#pragma once

#include "frame/PathRules.h"

#include <QString>
#include <QStringList>

namespace kes {

// Kinds of task the wizard knows, in this order.
enum class TKesAction { paBackup, paRestore, paCleanup, paSchedule, paVerify, paStarter, paTavisk };

// The settings page's choices, in the order of their lists.
enum class TStatusWindow {
    swWaitForPrompt,
    swCloseAutomatically,
    swNotVisible,
    swWaitOnErrors,
    swNotVisibleExceptErrors
};
enum class TProcessPriority { ppNormal, ppLow, ppHigh };
enum class TLogMode { lmAsInTask, lmShort, lmLong, lmVerbose };
enum class TSubsequentAction { saNone, saStandby, saHibernate, saLogoff, saShutdown, saRestart };

// The texts of the lists (translated).
QString StatusWindowText(TStatusWindow value);
QString ProcessPriorityText(TProcessPriority value);
QString LogModeText(TLogMode value);
QString SubsequentActionText(TSubsequentAction value);

// The settings page's values; the defaults are the page's defaults.
struct TTaskCommandValues {
    TKesAction Kind = TKesAction::paSchedule;
    bool NoSplash = true; // "No splash screen"
    bool Parallel = false; // "Parallel processing of tasks"
    TStatusWindow StatusWindow = TStatusWindow::swCloseAutomatically;
    int CloseAfter = 3; // seconds, 1..99
    int ActErr = 0; // error mask of "erractions" (planner/ErrorActions.h)
    TProcessPriority Priority = TProcessPriority::ppNormal;
    QString IniFile;
    TLogMode LogMode = TLogMode::lmAsInTask;
    TSubsequentAction SubAction = TSubsequentAction::saNone;
    QString TaskList; // entries separated by ",", an entry with a blank or comma in quotes
    QString UserOptions;
};

// The fixed parameters, every piece beginning with a blank; the INI file
// only with withIniFile (the task's arguments, not the display field).
QString BuildTaskOptions(const TTaskCommandValues& values, bool withIniFile);

// Reads the arguments of an existing task into the values: the task list
// and the user options start empty, the other values keep what they hold
// unless an option sets them. Task entries below taskDir are made relative
// to it (the directory itself gives no entry). With POSIX paths a word
// beginning with "/" that has a further "/" before its first colon is a
// file name, not an option. A value its keyword does not know changes nothing and is dropped;
// a "logmode" outside 0..3 and a "wait" outside 1..99 are values the page
// cannot show: the first is dropped, the second brought into the range.
void ReadTaskCommandLine(const QString& arguments, const QString& taskDir, TTaskCommandValues& values,
    PathStyle style = kNativePathStyle);

// The words of a command line: leading blanks skipped; a word beginning
// with a double quote runs to the quote that closes it (a doubled quote
// does not close it), the enclosing quotes removed and doubled ones made
// single; any other word runs to the next blank.
QStringList SplitTaskWords(const QString& text);

// The entries of a comma-separated list: an entry beginning with a double
// quote runs to its closing quote, which is removed (doubled quotes become
// one); blanks around entries are dropped, empty entries left out.
QStringList SplitTaskList(const QString& list);

// An entry enclosed in double quotes (inner ones doubled) when it holds a
// blank, a comma or a double quote.
QString QuoteTaskEntry(const QString& entry);

// The two file-name rules against the task directory (with its trailing
// delimiter): relative = "" for the directory itself, the rest of a name
// below it (compared without regard to case), else the name; in the
// directory = an absolute name as it is (Windows: beginning with "\" or
// holding ":"), else directory + name.
QString MakeRelativeToTaskDir(const QString& name, const QString& taskDir);
QString TakeInTaskDir(const QString& name, const QString& taskDir, PathStyle style = kNativePathStyle);

} // namespace kes
