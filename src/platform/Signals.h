// The signals that ask a program to end, delivered to its event loop.
//
// SIGINT (Ctrl+C in a terminal), SIGTERM (kill, systemd, shutdown) and
// SIGHUP (the terminal went away) normally end a process at once. While a
// TTerminationSignals object exists they do not: each one that arrives is
// handed to its handler in the thread that created the object, through that
// thread's event loop, so the program can finish its work and save its
// settings first. The signal handler itself only writes the signal number
// into a pipe (the self-pipe pattern); a QSocketNotifier reads it.
#pragma once

#include <QString>
#include <functional>
#include <memory>

namespace kes::platform {

class TTerminationSignals {
public:
    // Installs the handlers. Only one object may exist at a time; a second
    // one installs nothing (Installed() is false).
    explicit TTerminationSignals(std::function<void(int Signal)> OnSignal);
    // Restores the handling that was in place before.
    ~TTerminationSignals();
    TTerminationSignals(const TTerminationSignals&) = delete;
    TTerminationSignals& operator=(const TTerminationSignals&) = delete;

    bool Installed() const;

    // "SIGINT", "SIGTERM", "SIGHUP", else "signal N".
    static QString SignalName(int Signal);

private:
    struct Data;
    std::unique_ptr<Data> d;
};

} // namespace kes::platform
