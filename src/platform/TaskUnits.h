// The systemd user units that carry out a task definition.
//
// Every task that has something to run gets one service unit
// "kestask-<name>.service" and one timer "kestask-<name>-<n>.timer" per
// enabled trigger n (1-based position) that the user manager can carry
// out; <name> is the task name in systemd's unit-name escaping. The units
// are generated text; the task's definition file stays the only source.
//
// Service: Type=oneshot with one ExecStart= per exec action (run in
// order), split by the task's argument splitter (the inverse of the
// programs' own quoting) and written with the unit syntax's quoting, so no
// shell is involved and nothing in a value can add a line or a setting.
// KillMode=process: what the action starts (the main backup program) runs
// on when the action's program has ended. The display variables are
// removed from its environment: a scheduled run has no display.
//
// Timers: time-based triggers become OnCalendar= expressions
// (TaskSchedule.h), logon and boot triggers OnStartupSec= (the user
// manager starts with the user's first session, or at boot when lingering
// is on), registration triggers OnActiveSec= (started once at
// registration). Event, idle, session-state and custom triggers are kept
// in the definition but not carried out.
#pragma once

#include "platform/TaskDefinition.h"

#include <QDateTime>
#include <QTimeZone>
#include <functional>

namespace kes::platform {

// systemd's escaping of a text for a unit name (as "systemd-escape" does):
// "/" becomes "-"; every byte of the UTF-8 form other than ASCII letters,
// digits, ":", "_" and "." (and a leading ".") becomes "\xNN".
QString SystemdEscape(const QString& text);
// The inverse; invalid escapes stay as they are.
QString SystemdUnescape(const QString& text);

inline constexpr QStringView kTaskUnitPrefix = u"kestask-";

// The escaped task name used in unit and definition file names. A name
// whose escaped form would not fit a unit name (255 characters with prefix
// and suffix) is cut and given a hash of the whole name.
QString TaskUnitBase(const QString& taskName);

// Quotes one argument of an Exec line: enclosed in double quotes, with the
// unit syntax's escapes for backslash, quote and control characters, and
// "%" and "$" doubled so that neither specifiers nor variables expand.
QString QuoteUnitArgument(const QString& argument);

struct TTaskUnitFile {
    QString Name;
    QByteArray Text;
    bool Enable = false; // has an [Install] section to enable (timers.target)
    bool StartNow = false; // start at registration
};

struct TTaskUnitContext {
    QString TaskName;
    QString UnitBase; // the escaped name in the unit names; empty: TaskUnitBase(TaskName)
    QString DefinitionFile; // absolute path, for the start check
    QString CheckProgram; // absolute path of the start-check program
    QString UserName; // the user of the user manager (logon triggers of others are not carried out)
    QDateTime Now;
    QTimeZone Zone = QTimeZone::systemTimeZone();
    bool CanWakeSystem = false; // the user manager may wake the computer
    // Splits the exec action's arguments into words.
    std::function<QStringList(const QString&)> SplitArguments;
};

struct TTaskUnits {
    QString Service; // name of the service unit, empty when the task runs nothing
    QList<TTaskUnitFile> Files; // the service first, then the timers
    bool NeedsCheck = false; // the service has the start check
    QString Error; // not empty: the definition cannot be carried out (why)
};

// The program path of an exec action as started: one level of enclosing
// double quotes removed (a doubled quote inside becomes one).
QString UnquotedActionPath(const QString& path);

TTaskUnits GenerateTaskUnits(const TTaskDefinition& definition, const TTaskUnitContext& context);

// The unit names alone: the service of a task with an exec action (else
// empty), and the timer of the trigger at a position (1-based).
QString TaskServiceUnit(const TTaskDefinition& definition, const QString& unitBase);
QString TaskTimerUnit(const QString& unitBase, int position);

} // namespace kes::platform
