// Small helpers shared by the tests: byte-exact file fixtures, bounded
// waits and running our own programs.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>

namespace kestest {

// Writes bytes to a file, creating missing folders. Fails the test on error.
void WriteBytes(const QString& path, const QByteArray& bytes);
QByteArray ReadBytes(const QString& path);

// A text as the Windows programs write it: UTF-16LE with BOM, CR LF lines.
QByteArray Utf16LeWithBom(const QString& text);
// Decodes UTF-16LE (BOM optional) for assertions on files we wrote.
QString FromUtf16Le(const QByteArray& bytes);

// Runs the event loop until pred() is true or the timeout passes; returns
// pred(). Never a fixed sleep.
bool WaitUntil(
    const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(10));

struct ProcessResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};
// Runs a program to its end (no shell) with extra environment entries
// ("NAME=value"); fails the test when it cannot start or hangs.
ProcessResult Run(const QString& program, const QStringList& args, const QStringList& extraEnv = {},
    const QString& workDir = {}, int timeoutMs = 60000);

// Path of a program built by this project (bin folder of the build).
QString BuiltProgram(const QString& name);
// True when an outside tool is on PATH; tests that need one skip otherwise.
bool HaveTool(const QString& name);

// Runs call on a thread of its own and waits a bounded time for it. A call
// that hangs is set free by unblock() (for example by opening the writing
// end of a FIFO it waits on), so the test can end, and counts as false.
bool ReturnsInTime(const std::function<void()>& call, const std::function<void()>& unblock,
    std::chrono::milliseconds timeout = std::chrono::seconds(10));

// True under CI=true. There a test that cannot run (a missing outside
// tool, no root) fails instead of skipping, so nothing goes untested
// unnoticed.
bool InCi();

// A tmpfs of a given size on a fresh folder, for tests of a full disk.
// Mounting needs root; IsMounted() tells whether it worked and Error()
// why not. Unmounted and removed when it goes out of scope.
class SmallTmpfs {
public:
    explicit SmallTmpfs(qint64 bytes);
    ~SmallTmpfs();
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    bool IsMounted() const { return FMounted; }
    QString Error() const { return FError; }
    QString Path() const { return FDir.path(); }
    // Writes a file of that name until not one more byte fits.
    void FillUp(const QString& fileName = QStringLiteral("filler"));

private:
    QTemporaryDir FDir;
    bool FMounted = false;
    QString FError;
};

} // namespace kestest

// Skips the test with the reason, or fails it under CI=true. Returns from
// the calling function (a test body or SetUp).
#define KESTEST_SKIP_OR_FAIL(reason)                                                                         \
    do {                                                                                                     \
        if (::kestest::InCi())                                                                               \
            GTEST_FAIL() << reason << " (CI=true: this test must run)";                                      \
        else                                                                                                 \
            GTEST_SKIP() << reason;                                                                          \
    } while (0)

namespace kestest {

} // namespace kestest
