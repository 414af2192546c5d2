#include "common/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <future>
#include <gtest/gtest.h>

namespace kestest {

void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray ReadBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

QByteArray Utf16LeWithBom(const QString& text)
{
    QByteArray out("\xFF\xFE", 2);
    for (QChar c : text) {
        const char16_t u = c.unicode();
        out.append(char(u & 0xFF));
        out.append(char(u >> 8));
    }
    return out;
}

QString FromUtf16Le(const QByteArray& bytes)
{
    qsizetype start = 0;
    if (bytes.size() >= 2 && uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xFE)
        start = 2;
    QString s;
    for (qsizetype i = start; i + 1 < bytes.size(); i += 2)
        s.append(QChar(char16_t(uchar(bytes[i]) | (uchar(bytes[i + 1]) << 8))));
    return s;
}

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout)
{
    // Sleeps in the event loop, as a program does, so a worker's call into
    // this thread is answered at once; the timer bounds each sleep for
    // conditions that no event announces.
    QDeadlineTimer deadline(timeout);
    QTimer wake;
    wake.start(2);
    while (!pred()) {
        if (deadline.hasExpired())
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

ProcessResult Run(const QString& program, const QStringList& args, const QStringList& extraEnv,
    const QString& workDir, int timeoutMs)
{
    ProcessResult r;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& kv : extraEnv) {
        const qsizetype eq = kv.indexOf(QLatin1Char('='));
        if (eq > 0)
            env.insert(kv.left(eq), kv.mid(eq + 1));
        else
            env.remove(kv);
    }
    p.setProcessEnvironment(env);
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(program, args);
    if (!p.waitForStarted(10000)) {
        ADD_FAILURE() << "cannot start " << program.toStdString();
        return r;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        ADD_FAILURE() << program.toStdString() << " did not finish";
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QString BuiltProgram(const QString& name)
{
    return QStringLiteral(KES_BINARY_DIR) + QStringLiteral("/bin/") + name;
}

bool HaveTool(const QString& name)
{
    return !QStandardPaths::findExecutable(name).isEmpty();
}

bool ReturnsInTime(const std::function<void()>& call, const std::function<void()>& unblock,
    std::chrono::milliseconds timeout)
{
    auto done = std::async(std::launch::async, call);
    if (done.wait_for(timeout) == std::future_status::ready) {
        done.get();
        return true;
    }
    unblock();
    done.wait();
    return false;
}

bool InCi()
{
    return qgetenv("CI") == "true";
}

SmallTmpfs::SmallTmpfs(qint64 bytes)
{
    if (!FDir.isValid()) {
        FError = QStringLiteral("no temporary folder");
        return;
    }
    QProcess p;
    p.start(QStringLiteral("mount"),
        {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
            QStringLiteral("size=%1,mode=0755").arg(bytes), QStringLiteral("tmpfs"), FDir.path()});
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        FError = QStringLiteral("cannot mount a tmpfs (needs root): ")
            + QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
        return;
    }
    FMounted = true;
}

SmallTmpfs::~SmallTmpfs()
{
    if (!FMounted)
        return;
    // Lazily, so that a file still open elsewhere cannot keep it mounted.
    QProcess p;
    p.start(QStringLiteral("umount"), {QStringLiteral("-l"), FDir.path()});
    p.waitForFinished(30000);
}

void SmallTmpfs::FillUp(const QString& fileName)
{
    QFile f(FDir.filePath(fileName));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered));
    // Ever smaller pieces until not even one byte fits.
    for (const qint64 piece : {qint64(65536), qint64(4096), qint64(1)}) {
        const QByteArray data(piece, 'f');
        while (f.write(data) == piece) { }
    }
    f.close();
    ASSERT_FALSE(
        f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered) && f.write("f", 1) == 1)
        << "the file system is not full";
}

} // namespace kestest
