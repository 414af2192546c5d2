// Small helpers shared by the tests: byte-exact file fixtures, bounded
// waits and running our own programs.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>

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

} // namespace kestest
