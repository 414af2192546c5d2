// Process launching: one command line in, one result code out.
//
// Result codes: 0 success (started; when waited for, ended with exit code
// 0), exit code OR 0x20000000 for a non-zero exit code (the exit code
// itself is code AND 0xFF), 258 when a time limit ran out, any other value
// a system error code (errno on Linux) whose text is SysErrorMessage(code).
//
// No shell is involved: the command line is split into the program and its
// arguments by SplitCommandLine, the exact inverse of QuoteIfNeeded. The
// child's standard input, output and error are /dev/null.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <stdexcept>

namespace kes {

inline constexpr quint32 kExitCodeFlag = 0x20000000;
inline constexpr quint32 kWaitTimeout = 258;

// Raised when a process cannot be created; the message is the system's
// text for the error.
class EProcessError : public std::runtime_error {
public:
    EProcessError(const QString& message, quint32 errorCode);
    quint32 ErrorCode() const { return FErrorCode; }
    QString Message() const { return QString::fromUtf8(what()); }

private:
    quint32 FErrorCode;
};

// Empty text stays empty; with an empty character list, or when the text
// holds one of the characters or a double quote, the text in double quotes
// with every embedded double quote doubled; else the text unchanged. (A
// bare double quote would open a quoted part when the line is split, so a
// text holding one is always enclosed.)
QString QuoteIfNeeded(const QString& text, const QString& characters = QStringLiteral(" "));

// Splits a command line into words: blanks (U+0020 only) separate words; a
// double quote opens a quoted part, inside which "" stands for one quote
// and a single " closes it; quoted parts belong to their word (so "" alone
// is an empty word). An unclosed quoted part runs to the end of the line.
// For any non-empty texts a, b:
// SplitCommandLine(QuoteIfNeeded(a) + " " + QuoteIfNeeded(b)) == {a, b}.
QStringList SplitCommandLine(const QString& commandLine);

// A started process. Move-only; the owner must pass it to WaitForProgram or
// let it go (a process left running is reaped in the background and never
// lingers as a zombie).
class ProcessHandle {
public:
    ProcessHandle();
    ~ProcessHandle();
    ProcessHandle(ProcessHandle&&) noexcept;
    ProcessHandle& operator=(ProcessHandle&&) noexcept;
    bool IsValid() const;
    qint64 Pid() const;

    struct Impl;
    explicit ProcessHandle(std::unique_ptr<Impl> impl);
    Impl* impl() const { return FImpl.get(); }

private:
    std::unique_ptr<Impl> FImpl;
};

// Starts QuoteIfNeeded(program) + " " + arguments. The working folder is
// used when it is not empty. Raises EProcessError (a program that cannot be
// found: code 2 with the system's text; so is an empty program, a line
// that begins with a blank).
ProcessHandle StartProgram(const QString& commandLine, const QString& workingFolder = QString());

// Waits for the process: with a limit (ms) up to that long, else without
// limit in 100 ms slices that keep the caller's Qt event loop running. With
// reportRunning false a time-out returns 258 at once and the process keeps
// running (the handle stays valid); otherwise the exit code is queried (a
// still running process reports 259 OR 0x20000000) and the handle is
// released.
quint32 WaitForProgram(ProcessHandle& process, int timeLimitMs, bool reportRunning);

// The combined start-and-wait of a schedule run: the program path is taken
// whole (as if always quoted) and the arguments are split apart from it, so
// none can take its place; an empty path fails with 2 (not found).
// Creation failures come back as system error codes; with wait the call
// waits without limit (event loop kept alive), else returns 0 once the
// process exists.
quint32 StartProgramAndWait(const QString& programPath, const QString& arguments, bool wait);

// The system's text for an error code (errno on Linux).
QString SysErrorMessage(quint32 code);

} // namespace kes
