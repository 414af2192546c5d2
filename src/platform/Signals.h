// The signals that ask a program to end, or to do something now, delivered
// to its event loop.
//
// SIGINT (Ctrl+C in a terminal), SIGTERM (kill, systemd, shutdown) and
// SIGHUP (the terminal went away) normally end a process at once, and so
// does SIGUSR1 (a request: Selwand takes it as "back up now"). While a
// TProgramSignals object exists they do not: each one that arrives is
// handed to its handler in the thread that created the object, through that
// thread's event loop, so the program can finish its work and save its
// settings first. The signal handler itself only writes the signal number
// into a pipe (the self-pipe pattern); a QSocketNotifier reads it.
#pragma once

#include <QString>
#include <functional>
#include <memory>

namespace kes::platform {

class TProgramSignals {
public:
    // Installs the handlers. Only one object may exist at a time; a second
    // one installs nothing (Installed() is false).
    explicit TProgramSignals(std::function<void(int Signal)> OnSignal);
    // Restores the handling that was in place before.
    ~TProgramSignals();
    TProgramSignals(const TProgramSignals&) = delete;
    TProgramSignals& operator=(const TProgramSignals&) = delete;

    bool Installed() const;

    // "SIGINT", "SIGTERM", "SIGHUP", "SIGUSR1", else "signal N".
    static QString SignalName(int Signal);
    // True for the signals that ask the program to end; false for the
    // request signal.
    static bool IsTermination(int Signal);
    // The request signal (SIGUSR1).
    static int RequestSignal();

private:
    struct Data;
    std::unique_ptr<Data> FData;
};

// A write to a pipe or socket whose reader has gone fails with an error
// instead of ending the process (SIGPIPE is ignored). Started programs get
// the default handling back.
void IgnoreBrokenPipe();

} // namespace kes::platform
