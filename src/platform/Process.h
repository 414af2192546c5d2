// Child processes: start a program without a shell, wait for it with or
// without a limit, and never leave a zombie behind.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

namespace kes::platform {

// A started child process. Destroying an object whose child has not been
// collected yet hands the child to a background reaper: the child keeps
// running (it is never killed) and never lingers as a zombie.
class ChildProcess {
public:
    enum class State { Running, Ended, Failed };

    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    qint64 Pid() const;

    // Waits up to timeoutMs for the child to end (0: only looks, negative:
    // without limit). Once Ended or Failed, later calls return the same.
    State Wait(int timeoutMs);

    // After Ended: the exit status, or 128 + the signal number for a child
    // ended by a signal.
    int ExitCode() const;
    // After Failed: the system error code (errno) of the failed wait.
    int Error() const;

    struct Impl;
    explicit ChildProcess(std::unique_ptr<Impl> impl);

private:
    std::unique_ptr<Impl> FImpl;
};

// Starts a program with its arguments (argv[0] is the program as given).
// A program containing "/" is a path (a relative one is taken from the
// current folder, not from workingFolder); any other name is looked up in
// PATH. The child inherits the environment but no descriptors besides its
// standard input, output and error, which are /dev/null. The working
// folder is used when it is not empty.
// Returns 0 and sets child, or returns the system error code (errno).
int SpawnProcess(const QString& program, const QStringList& arguments, const QString& workingFolder,
    std::unique_ptr<ChildProcess>& child);

// True while a process with this id exists (a zombie counts as existing).
bool ProcessExists(qint64 pid);

} // namespace kes::platform
