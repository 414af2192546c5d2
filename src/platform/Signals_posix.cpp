#include "platform/Signals.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace kes::platform {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGUSR1};
constexpr int kSignalCount = int(sizeof(kSignals) / sizeof(kSignals[0]));

// Write end of the pipe of the installed object, -1 when none.
std::atomic<int> g_writeFd {-1};

extern "C" void OnTerminationSignal(int signal)
{
    const int saved = errno;
    const int fd = g_writeFd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signal);
        // Async-signal-safe; a full pipe (hundreds of unread signals) drops
        // the byte, which loses nothing that matters.
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

struct TProgramSignals::Data {
    std::function<void(int)> OnSignal;
    int Fds[2] = {-1, -1};
    struct sigaction Old[kSignalCount] { };
    std::unique_ptr<QSocketNotifier> Notifier;
    bool Installed = false;
};

TProgramSignals::TProgramSignals(std::function<void(int Signal)> OnSignal)
    : FData(std::make_unique<Data>())
{
    FData->OnSignal = std::move(OnSignal);
    if (g_writeFd.load() >= 0)
        return;
    if (::pipe2(FData->Fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_writeFd.store(FData->Fds[1]);
    struct sigaction action { };
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < kSignalCount; ++i)
        sigaction(kSignals[i], &action, &FData->Old[i]);
    FData->Notifier = std::make_unique<QSocketNotifier>(qintptr(FData->Fds[0]), QSocketNotifier::Read);
    Data* data = FData.get();
    QObject::connect(FData->Notifier.get(), &QSocketNotifier::activated, FData->Notifier.get(), [data] {
        unsigned char buffer[64];
        for (;;) {
            const ssize_t n = ::read(data->Fds[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (ssize_t i = 0; i < n; ++i) {
                if (data->OnSignal)
                    data->OnSignal(int(buffer[i]));
            }
        }
    });
    FData->Installed = true;
}

TProgramSignals::~TProgramSignals()
{
    if (FData->Installed) {
        for (int i = 0; i < kSignalCount; ++i)
            sigaction(kSignals[i], &FData->Old[i], nullptr);
        g_writeFd.store(-1);
        FData->Notifier.reset();
    }
    for (int fd : FData->Fds) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool TProgramSignals::Installed() const
{
    return FData->Installed;
}

QString TProgramSignals::SignalName(int Signal)
{
    switch (Signal) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    case SIGUSR1:
        return QStringLiteral("SIGUSR1");
    default:
        return QStringLiteral("signal %1").arg(Signal);
    }
}

bool TProgramSignals::IsTermination(int Signal)
{
    return Signal != SIGUSR1;
}

int TProgramSignals::RequestSignal()
{
    return SIGUSR1;
}

void IgnoreBrokenPipe()
{
    struct sigaction action { };
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
}

} // namespace kes::platform
