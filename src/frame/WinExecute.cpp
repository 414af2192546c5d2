#include "frame/WinExecute.h"

#include "platform/ErrorText.h"
#include "platform/Process.h"

#include <QCoreApplication>

#include <cerrno>

namespace kes {

namespace {

constexpr int kSliceMs = 100;
constexpr quint32 kStillActive = 259;

void ProcessPendingEvents()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

// Waits in slices, keeping the caller's event loop alive between them.
platform::ChildProcess::State WaitWithoutLimit(platform::ChildProcess& child)
{
    for (;;) {
        const auto state = child.Wait(kSliceMs);
        if (state != platform::ChildProcess::State::Running)
            return state;
        ProcessPendingEvents();
    }
}

} // namespace

struct ProcessHandle::Impl {
    std::unique_ptr<platform::ChildProcess> Child;
};

EProcessError::EProcessError(const QString& message, quint32 errorCode)
    : std::runtime_error(message.toStdString())
    , FErrorCode(errorCode)
{
}

QString QuoteIfNeeded(const QString& text, const QString& characters)
{
    if (text.isEmpty())
        return text;
    bool quote = characters.isEmpty() || text.contains(QLatin1Char('"'));
    for (qsizetype i = 0; !quote && i < characters.size(); ++i)
        quote = text.contains(characters[i]);
    if (!quote)
        return text;
    QString out;
    out.reserve(text.size() + 4);
    out.append(QLatin1Char('"'));
    for (const QChar c : text) {
        if (c == QLatin1Char('"'))
            out.append(QLatin1Char('"'));
        out.append(c);
    }
    out.append(QLatin1Char('"'));
    return out;
}

QStringList SplitCommandLine(const QString& commandLine)
{
    QStringList words;
    QString word;
    bool inWord = false;
    bool quoted = false;
    const qsizetype n = commandLine.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = commandLine[i];
        if (quoted) {
            if (c != QLatin1Char('"')) {
                word.append(c);
            } else if (i + 1 < n && commandLine[i + 1] == QLatin1Char('"')) {
                word.append(c);
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == QLatin1Char(' ')) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
        } else {
            inWord = true;
            if (c == QLatin1Char('"'))
                quoted = true;
            else
                word.append(c);
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

ProcessHandle::ProcessHandle() = default;
ProcessHandle::~ProcessHandle() = default;
ProcessHandle::ProcessHandle(ProcessHandle&&) noexcept = default;
ProcessHandle& ProcessHandle::operator=(ProcessHandle&&) noexcept = default;
ProcessHandle::ProcessHandle(std::unique_ptr<Impl> impl)
    : FImpl(std::move(impl))
{
}

bool ProcessHandle::IsValid() const
{
    return FImpl && FImpl->Child;
}

qint64 ProcessHandle::Pid() const
{
    return IsValid() ? FImpl->Child->Pid() : -1;
}

namespace {

// Starts the program with its arguments; 0 or the system error code.
int Spawn(const QString& program, const QStringList& arguments, const QString& workingFolder,
    ProcessHandle& process)
{
    std::unique_ptr<platform::ChildProcess> child;
    const int rc = platform::SpawnProcess(program, arguments, workingFolder, child);
    if (rc != 0)
        return rc;
    auto impl = std::make_unique<ProcessHandle::Impl>();
    impl->Child = std::move(child);
    process = ProcessHandle(std::move(impl));
    return 0;
}

} // namespace

ProcessHandle StartProgram(const QString& commandLine, const QString& workingFolder)
{
    // The program comes first: a line that begins with a blank names none,
    // and its first argument must not take the program's place.
    QStringList words;
    if (!commandLine.isEmpty() && commandLine[0] != QLatin1Char(' '))
        words = SplitCommandLine(commandLine);
    const QString program = words.isEmpty() ? QString() : words.takeFirst();
    ProcessHandle process;
    const int rc = program.isEmpty() ? ENOENT : Spawn(program, words, workingFolder, process);
    if (rc != 0)
        throw EProcessError(SysErrorMessage(quint32(rc)), quint32(rc));
    return process;
}

quint32 WaitForProgram(ProcessHandle& process, int timeLimitMs, bool reportRunning)
{
    if (!process.IsValid())
        return EBADF;
    platform::ChildProcess& child = *process.impl()->Child;
    quint32 result = 0;
    if (timeLimitMs > 0) {
        if (child.Wait(timeLimitMs) == platform::ChildProcess::State::Running)
            result = kWaitTimeout;
    } else {
        WaitWithoutLimit(child);
    }
    if (!reportRunning && result == kWaitTimeout)
        return result;
    switch (child.Wait(0)) {
    case platform::ChildProcess::State::Failed:
        result = quint32(child.Error());
        break;
    case platform::ChildProcess::State::Running:
        result = kStillActive | kExitCodeFlag;
        break;
    case platform::ChildProcess::State::Ended:
        if (child.ExitCode() != 0)
            result = quint32(child.ExitCode()) | kExitCodeFlag;
        break;
    }
    process = ProcessHandle(); // a child still running is reaped in the background
    return result;
}

quint32 StartProgramAndWait(const QString& programPath, const QString& arguments, bool wait)
{
    // The path is the program as a whole (as if enclosed in quotes); an
    // empty one is a program that cannot be found.
    ProcessHandle process;
    const int rc = programPath.isEmpty()
        ? ENOENT
        : Spawn(programPath, SplitCommandLine(arguments), QString(), process);
    if (rc != 0)
        return quint32(rc);
    if (!wait)
        return 0;
    platform::ChildProcess& child = *process.impl()->Child;
    switch (WaitWithoutLimit(child)) {
    case platform::ChildProcess::State::Failed:
        return quint32(child.Error());
    case platform::ChildProcess::State::Ended:
        return child.ExitCode() == 0 ? 0 : quint32(child.ExitCode()) | kExitCodeFlag;
    case platform::ChildProcess::State::Running:
        break;
    }
    return 0;
}

QString SysErrorMessage(quint32 code)
{
    return platform::SystemErrorText(int(code));
}

} // namespace kes
