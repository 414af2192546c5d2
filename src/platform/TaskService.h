// The task service: a store of scheduled-task definitions and the systemd
// user manager that carries them out.
//
// It stands where the Task Scheduler service stands on Windows and offers
// the calls the task model makes there (connect, list the root folder,
// read a task's state and run times, run, stop, enable, register, delete,
// new definition). Tasks live in one folder ("\"): one definition file per
// task, "<escaped name>.xml" in the Task Scheduler XML form, written
// atomically and readable by the owner only. Each enabled task is carried
// out by the user units of TaskUnits.h in $XDG_CONFIG_HOME/systemd/user;
// the units are generated from the definition and never read back. The
// user manager is reached over D-Bus (org.freedesktop.systemd1): on the
// session bus, or on its private socket when there is no session bus.
//
// Names are compared without regard to case: registering "backup" when
// "Backup" exists updates "Backup".
//
// Failures raise ETaskServiceError with an HRESULT-like code (the kTask...
// codes of TaskDefinition.h) and a detail text (file name, line, system
// text); a failing change leaves the stored definition, the unit files and
// the manager's units as they were.
#pragma once

#include "platform/TaskDefinition.h"

#include <QDateTime>
#include <QStringList>
#include <functional>
#include <memory>
#include <stdexcept>

namespace kes::platform {

class ETaskServiceError : public std::runtime_error {
public:
    ETaskServiceError(quint32 code, const QString& detail);
    quint32 ErrorCode() const { return FCode; }
    const QString& Detail() const { return FDetail; }

private:
    quint32 FCode;
    QString FDetail;
};

// Task states (the service's numbers).
enum TTaskStateKind : int { skUnknown = 0, skDisabled = 1, skQueued = 2, skReady = 3, skRunning = 4 };

class ITaskService {
public:
    virtual ~ITaskService() = default;

    // Whether the user manager answers.
    virtual bool IsRunning() = 0;
    // 0 when the user manager answers, else kTaskServiceNotRunning. Brings
    // the unit files in line with the stored definitions: units that no
    // definition describes are removed, missing or outdated ones written.
    virtual quint32 Connect() = 0;

    // The tasks of the root folder, hidden ones left out, ordered by name
    // without regard to case. A definition file that cannot be read is
    // listed under the name of its file.
    virtual QStringList ListTasks() = 0;
    // Subfolders of the root folder: none.
    virtual QStringList ListFolders() = 0;

    virtual TTaskDefinition Definition(const QString& name) = 0;
    virtual QString Xml(const QString& name) = 0;
    virtual QString Path(const QString& name) = 0; // "\" + name
    virtual int State(const QString& name) = 0; // TTaskStateKind
    virtual bool Enabled(const QString& name) = 0;
    virtual void SetEnabled(const QString& name, bool enabled) = 0;
    // Local date-times; invalid means never.
    virtual QDateTime LastRunTime(const QString& name) = 0;
    virtual QDateTime NextRunTime(const QString& name) = 0;
    // The exit code of the last run, kTaskHasNotRun, kTaskIsRunning or
    // kTaskTerminated.
    virtual qint32 LastTaskResult(const QString& name) = 0;
    virtual int NumberOfMissedRuns(const QString& name) = 0;
    virtual void Run(const QString& name) = 0;
    virtual void Stop(const QString& name) = 0;

    // Creates or updates the task; returns the stored name. The user, when
    // given, must be the user of the user manager ("name" or
    // "computer\name"); the password is never stored or passed on. The
    // logon types that run without a session (password, S4U) switch on
    // lingering for the user, so that the user manager runs without one.
    virtual QString Register(const QString& name, const TTaskDefinition& definition, const QString& user,
        const QString& password, int logonType)
        = 0;
    virtual void Delete(const QString& name) = 0;
    // A new, unregistered definition with the service's defaults.
    virtual TTaskDefinition NewDefinition() = 0;
};

struct TSystemdTaskServiceOptions {
    QString TaskFolder; // default: $XDG_DATA_HOME/Kesmo6/Tasks
    QString UnitFolder; // default: $XDG_CONFIG_HOME/systemd/user
    QString CheckProgram; // default: "kestask" beside the running program
    QString BusAddress; // default: the session bus, else the manager's private socket
    QString SystemBusAddress; // logind, for lingering; default: the system bus
    // Splits an exec action's arguments into words (required).
    std::function<QStringList(const QString&)> SplitArguments;
    // The current time (default: the system clock).
    std::function<QDateTime()> Now;
    int CallTimeoutMs = 10000;
};

std::shared_ptr<ITaskService> CreateSystemdTaskService(TSystemdTaskServiceOptions options);

// The default folders of the options.
QString DefaultTaskFolder();
QString DefaultUnitFolder();

// The start check of a task's service (the program "kestask check
// <definition file>"): it runs when the service is started, before the
// task's program, and decides whether this start is one of the task's.
// A start runs when Run asked for it, when a logon, boot or registration
// timer of the task started it (the variable TRIGGER_UNIT), or when a
// trigger time of the definition (the rules of TaskSchedule.h) lies after
// the last check and, unless the task runs missed starts, not longer ago
// than the trigger's random delay plus kTaskStartSlackSeconds. A task that
// runs only with a network connection is skipped without one.
inline constexpr int kTaskStartSlackSeconds = 300;

enum TTaskStartReason {
    srRequested, // Run asked for it
    srStartTimer, // a logon, boot or registration timer
    srTriggerDue, // a trigger time
    srNotDue, // no trigger time is due
    srNoNetwork, // the task needs a network connection
    srUnreadable, // the definition cannot be read (Detail says why)
};

struct TTaskStartCheck {
    bool Run = false;
    TTaskStartReason Reason = srNotDue;
    QString Detail;
};

TTaskStartCheck RunTaskStartCheck(
    const QString& definitionFile, const QString& triggerUnit, const QDateTime& now);

} // namespace kes::platform
