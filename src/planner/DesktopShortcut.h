// Desktop shortcuts that start Marvick for a schedule: the model of the
// shortcut dialog (TDesktopIconDialog) with its options and their
// switches, and the shortcut button's steps (defaults, the launcher file,
// its writing).
#pragma once

#include "platform/DesktopEntry.h"

#include <QString>
#include <QStringList>

namespace kes {

// "Status window" choices in their order; switch values "quiet", "delay",
// "wait", "error", "silent".
enum TShortcutStatus { ssNotVisible, ssCloseAutomatically, ssAlwaysWait, ssWaitOnErrors, ssShowOnErrors };
// "Action after backup" choices in their order.
enum TShortcutAction {
    saNone,
    saStandby,
    saHibernate,
    saLogoff,
    saRestart,
    saShutdown,
    saLockDown,
    saHybridDown,
    saActionCount
};

class TDesktopIconModel {
public:
    // Execute's step 1 to 4: the texts, the defaults and the initial
    // options read switch by switch. runAs < 0 hides "Run as administrator".
    void Init(const QString& tasks, int runAs, const QString& options, const QString& description,
        const QString& shortcutName);

    // The tasks text split at blanks outside double quotes.
    const QStringList& TaskParts() const { return FTaskParts; }
    // What the read-only tasks field shows and its hint.
    QString TasksText() const;
    QString TasksHint() const;
    bool ParallelVisible() const { return FTaskParts.size() > 1; }
    bool RunAsVisible() const { return FRunAsVisible; }

    QString ShortcutName;
    QString Description;
    int Status = ssCloseAutomatically;
    bool NoSplash = true;
    bool RunAs = false;
    bool Parallel = false;
    bool ActionChangeable = true;

    int Action() const { return FAction; }
    void SetAction(int action);
    // The caption of the chosen action (empty for "None").
    QString ActionText() const;
    bool ErrorActionEnabled() const { return FAction != saNone; }
    QString ErrorActionHint() const;
    bool ActionChangeableVisible() const { return !Parallel; }
    int ActErr = 0;

    // The switches the dialog does not show, each " /" + text.
    const QString& OtherOptions() const { return FOpt; }

    // On OK: the options of the choices.
    QString Options() const;

    static QString StatusText(int status);
    static QString ActionCaption(int action);

private:
    QString FTask;
    QStringList FTaskParts;
    QString FOpt;
    int FAction = saNone;
    bool FRunAsVisible = true;
};

// The shortcut button's defaults for a schedule name: base = the file-name
// part of the name without its extension; name "KesSched-" + base,
// description base.
QString ShortcutBaseName(const QString& scheduleName);

// What the button writes, Linux's form of the shell link: a launcher named
// after the shortcut that starts Marvick (through pkexec when run as
// administrator) with the schedule name, the options and "/interactive",
// in the task folder.
struct TShortcutLink {
    QString File; // desktop folder + shortcut name + ".desktop"
    platform::TDesktopEntry Entry;
};

// The arguments as one command line: the schedule name always in double
// quotes (embedded ones doubled), the options, OptFlag("interactive").
QString ShortcutArguments(const QString& scheduleName, const QString& options);

// The shortcut name as a file name: empty, "." and ".." and names holding
// "/" or a control character are refused with a message.
QString ShortcutNameError(const QString& shortcutName);

TShortcutLink MakeShortcutLink(const QString& desktopFolder, const QString& shortcutName,
    const QString& programPath, const QString& scheduleName, const QString& options,
    const QString& description, const QString& jobDir, bool runAsAdministrator);

// Writes the link; empty on success, else the message (the file stays as
// it was).
QString WriteShortcutLink(const TShortcutLink& link);

} // namespace kes
