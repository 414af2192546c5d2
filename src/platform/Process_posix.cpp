#include "platform/Process.h"

#include "platform/FileName.h"

#include <QDeadlineTimer>
#include <QDir>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace kes::platform {

struct ChildProcess::Impl {
    pid_t Pid = -1;
    int PidFd = -1; // -1 when the kernel has no pidfd_open: waits poll instead
    State Status = State::Running;
    int ExitCode = 0;
    int Error = 0;
};

namespace {

int OpenPidFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    const long fd = syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        ::fcntl(int(fd), F_SETFD, FD_CLOEXEC);
        return int(fd);
    }
#else
    (void)pid;
#endif
    return -1;
}

// Collects the child if it has ended; never blocks.
void TryReap(ChildProcess::Impl& d)
{
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(d.Pid, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == d.Pid) {
        d.Status = ChildProcess::State::Ended;
        if (WIFEXITED(status))
            d.ExitCode = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            d.ExitCode = 128 + WTERMSIG(status);
        else
            d.ExitCode = 0;
    } else if (r < 0) {
        d.Status = ChildProcess::State::Failed;
        d.Error = errno;
    }
}

// Blocks until the child's pidfd becomes readable (it has ended) or the
// deadline passes.
void WaitReadable(const ChildProcess::Impl& d, const QDeadlineTimer& deadline)
{
    for (;;) {
        const qint64 left = deadline.remainingTime(); // -1 means forever
        pollfd p {d.PidFd, POLLIN, 0};
        const int timeout = left < 0 ? -1 : int(std::min<qint64>(left, 1 << 30));
        const int r = ::poll(&p, 1, timeout);
        if (r >= 0 || errno != EINTR)
            return;
    }
}

void ReapInBackground(pid_t pid, int pidfd)
{
    try {
        std::thread([pid, pidfd] {
            int status;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
            if (pidfd >= 0)
                ::close(pidfd);
        }).detach();
    } catch (...) {
        // No thread available: the child stays a zombie until we end.
        if (pidfd >= 0)
            ::close(pidfd);
    }
}

} // namespace

ChildProcess::ChildProcess(std::unique_ptr<Impl> impl)
    : FImpl(std::move(impl))
{
}

ChildProcess::~ChildProcess()
{
    if (FImpl->Status == State::Running) {
        TryReap(*FImpl);
        if (FImpl->Status == State::Running) {
            ReapInBackground(FImpl->Pid, FImpl->PidFd);
            return;
        }
    }
    if (FImpl->PidFd >= 0)
        ::close(FImpl->PidFd);
}

qint64 ChildProcess::Pid() const
{
    return FImpl->Pid;
}

ChildProcess::State ChildProcess::Wait(int timeoutMs)
{
    if (FImpl->Status != State::Running)
        return FImpl->Status;
    TryReap(*FImpl);
    if (FImpl->Status != State::Running || timeoutMs == 0)
        return FImpl->Status;
    const QDeadlineTimer deadline
        = timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs);
    if (FImpl->PidFd >= 0) {
        WaitReadable(*FImpl, deadline);
        TryReap(*FImpl);
        return FImpl->Status;
    }
    // No pidfd: look in short steps until the deadline.
    for (;;) {
        TryReap(*FImpl);
        if (FImpl->Status != State::Running || deadline.hasExpired())
            return FImpl->Status;
        const timespec step {0, 5 * 1000 * 1000};
        ::nanosleep(&step, nullptr);
    }
}

int ChildProcess::ExitCode() const
{
    return FImpl->ExitCode;
}

int ChildProcess::Error() const
{
    return FImpl->Error;
}

int SpawnProcess(const QString& program, const QStringList& arguments, const QString& workingFolder,
    std::unique_ptr<ChildProcess>& child)
{
    child.reset();
    if (program.isEmpty())
        return ENOENT;
    const bool isPath = program.contains(QLatin1Char('/'));
    // A relative path names a file below the caller's folder, whatever the
    // child's working folder is.
    const QByteArray file = EncodeName(isPath && !program.startsWith(QLatin1Char('/'))
            ? QDir::current().absoluteFilePath(program)
            : program);
    std::vector<QByteArray> storage;
    storage.reserve(size_t(arguments.size()) + 1);
    storage.push_back(EncodeName(program));
    for (const QString& a : arguments)
        storage.push_back(EncodeName(a));
    std::vector<char*> argv;
    for (QByteArray& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const QByteArray dir = EncodeName(workingFolder);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    if (!dir.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, dir.constData());

    // The child starts with no blocked signals and default dispositions,
    // whatever this process ignores or blocks.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int rc = isPath ? ::posix_spawn(&pid, file.constData(), &actions, &attr, argv.data(), environ)
                          : ::posix_spawnp(&pid, file.constData(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return rc;
    auto impl = std::make_unique<ChildProcess::Impl>();
    impl->Pid = pid;
    impl->PidFd = OpenPidFd(pid);
    child = std::make_unique<ChildProcess>(std::move(impl));
    return 0;
}

bool ProcessExists(qint64 pid)
{
    if (pid <= 0)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace kes::platform
