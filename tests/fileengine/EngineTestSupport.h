// Helpers of the engine tests: running a copy worker to its end, test
// data, and outside tools as oracles.
#pragma once

#include "common/TestSupport.h"
#include "fileengine/CopyThread.h"

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <unistd.h>

namespace enginetest {

// Half text-like (compressible), half random bytes; the same for a seed.
inline QByteArray MixedData(qsizetype size, quint32 seed = 1)
{
    QByteArray out(size, Qt::Uninitialized);
    QRandomGenerator rng(seed);
    static const char* words[] = {"backup ", "copy ", "the ", "file ", "of ", "data\n", "zip ", "2025 "};
    qsizetype i = 0;
    while (i < size / 2) {
        const char* w = words[rng.bounded(8)];
        for (const char* p = w; *p && i < size / 2; ++p)
            out[i++] = *p;
    }
    for (; i < size; ++i)
        out[i] = char(rng.bounded(256));
    return out;
}

struct Outcome {
    int error = -1;
    QString message;
    int ratio = -1;
    quint32 crc = 0;
};

// Waits (bounded) until the worker is done and collects its results.
template <class W> Outcome Finish(W& worker)
{
    Outcome o;
    EXPECT_TRUE(kestest::WaitUntil([&] { return worker.Done(); }, std::chrono::seconds(120)));
    o.error = worker.ErrorCode();
    o.message = worker.SysErrorMsg();
    if constexpr (requires { worker.Ratio(); })
        o.ratio = worker.Ratio();
    return o;
}

// Copies with a TWinCopyThread and the given options.
inline Outcome RunCopy(const QString& source, const QString& dest, kes::TCopyOptions options,
    kes::TEncryption* encryption = nullptr, int bufSize = 0x80000)
{
    kes::TWinCopyThread worker(source, dest, encryption, options, false, bufSize);
    Outcome o = Finish(worker);
    o.crc = worker.Crc();
    return o;
}

inline Outcome RunVerify(
    const QString& file, kes::TContainerKind kind, kes::TEncryption* encryption = nullptr)
{
    kes::TVerifyFileThread worker(file, kind, encryption, false, 0x10000);
    return Finish(worker);
}

inline bool RunningAsRoot()
{
    return ::geteuid() == 0;
}

// Runs python3 with a script; skips the test when python3 is missing.
inline kestest::ProcessResult Python(const QString& script, const QStringList& args = {})
{
    QStringList a {QStringLiteral("-c"), script};
    a += args;
    return kestest::Run(QStringLiteral("python3"), a);
}

// Skips (fails under CI=true) unless the outside tool is on PATH.
#define REQUIRE_TOOL(name)                                                                                   \
    do {                                                                                                     \
        if (!kestest::HaveTool(QStringLiteral(name)))                                                        \
            KESTEST_SKIP_OR_FAIL(name << " is not installed");                                               \
    } while (0)

// What a run of the built kescopy ended with.
struct KescopyResult {
    int exitCode = -1;
    QByteArray err;
};

inline KescopyResult Kescopy(
    const QStringList& args, const QByteArray& input = {}, const QStringList& env = {})
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.remove("KESCOPY_PASSWORD");
    for (const QString& kv : env)
        e.insert(kv.section('=', 0, 0), kv.section('=', 1));
    p.setProcessEnvironment(e);
    p.start(kestest::BuiltProgram("kescopy"), args);
    EXPECT_TRUE(p.waitForStarted());
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(120000));
    return {p.exitCode(), p.readAllStandardError()};
}

} // namespace enginetest
